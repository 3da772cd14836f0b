#include "TestMain.h"

#include "display/HotKey.h"
#include "platform/x11/X11KeyGrabber.h"

#include <QCoreApplication>
#include <QGuiApplication>

// Hot keys where there is no X11 (offscreen, as on pure Wayland): creation fails quietly.
// X11Test presses real keys on the test X server.
class HotKeyTest final : public QObject {
    Q_OBJECT

private slots:
    void creationFailsWithoutX11();
};

void HotKeyTest::creationFailsWithoutX11()
{
    if (QGuiApplication::platformName() == u"xcb")
        QSKIP("runs on a platform without X11");
    for (const Qt::Key key : {Qt::Key_S, Qt::Key_Equal, Qt::Key_Minus}) {
        const std::unique_ptr<HotKey> hotKey =
            HotKey::create(QKeyCombination(Qt::ControlModifier | Qt::AltModifier, key), [] {});
        QVERIFY(!hotKey);
    }
    // Nothing was set up to deliver presses: no grabber and no event filter on a connection
    // that is not there.
    QVERIFY(!X11KeyGrabber::instance());
}

DODEDAROV_TEST(HotKeyTest)
#include "HotKeyTest.moc"
