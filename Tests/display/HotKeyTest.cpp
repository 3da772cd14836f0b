#include "TestMain.h"

#include "display/HotKey.h"

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
    int ran = 0;
    for (const Qt::Key key : {Qt::Key_S, Qt::Key_Equal, Qt::Key_Minus}) {
        const std::unique_ptr<HotKey> hotKey =
            HotKey::create(QKeyCombination(Qt::ControlModifier | Qt::AltModifier, key), [&] { ++ran; });
        QVERIFY(!hotKey);
    }
    QCoreApplication::processEvents();
    QCOMPARE(ran, 0);
}

DODEDAROV_TEST(HotKeyTest)
#include "HotKeyTest.moc"
