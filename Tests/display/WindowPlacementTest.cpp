#include "TestMain.h"

#include "display/FloatingWindow.h"
#include "display/WindowPlacement.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QVBoxLayout>

#include <optional>

Q_DECLARE_METATYPE(std::optional<QRect>)

// Where secondary windows go and where the caption panel starts, in Qt's y-down coordinates;
// the floating window's keys. Offscreen.
class WindowPlacementTest final : public QObject {
    Q_OBJECT

private slots:
    void windowOrigin_data();
    void windowOrigin();
    void firstCaptionFrame_data();
    void firstCaptionFrame();
    void presentPlacesClearOfThePanelAndKeepsAShownWindow();
    void floatingWindowKeys();
    void cleanup();
};

void WindowPlacementTest::cleanup()
{
    WindowPlacement::captionFrame = [] { return std::optional<QRect>(); };
}

void WindowPlacementTest::windowOrigin_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("visible");
    QTest::addColumn<std::optional<QRect>>("avoid");
    QTest::addColumn<QPoint>("origin");

    const QSize settings(460, 680);
    QTest::newRow("panel at the right, room only on the left")
        << settings << QRect(0, 0, 1440, 875) << std::optional(QRect(1036, 24, 380, 827)) << QPoint(560, 32);
    QTest::newRow("same under a 25-pixel top bar")
        << settings << QRect(0, 25, 1440, 875) << std::optional(QRect(1036, 49, 380, 827)) << QPoint(560, 57);
    QTest::newRow("short panel at the bottom: above it")
        << settings << QRect(0, 0, 1440, 900) << std::optional(QRect(500, 800, 400, 90))
        << QPoint(470, 32);
    QTest::newRow("short panel at the top: below it")
        << settings << QRect(0, 0, 1440, 900) << std::optional(QRect(500, 10, 400, 90))
        << QPoint(470, 900 - 16 - 680);
    QTest::newRow("tall panel at the left: right of it")
        << settings << QRect(0, 0, 1440, 875) << std::optional(QRect(24, 24, 380, 827))
        << QPoint(24 + 380 + 16, 32);
    QTest::newRow("panel on another screen: centred")
        << settings << QRect(0, 0, 1440, 875) << std::optional(QRect(2000, 24, 380, 827))
        << QPoint(490, 98);
    QTest::newRow("no panel: centred")
        << settings << QRect(100, 50, 1440, 875) << std::optional<QRect>() << QPoint(590, 148);
    QTest::newRow("wider and taller than the screen: right and top margins kept")
        << QSize(1500, 1000) << QRect(0, 0, 1440, 875) << std::optional<QRect>()
        << QPoint(1440 - 1500 - 16, 16);
    QTest::newRow("no side has room: centred, top margin wins")
        << QSize(800, 900) << QRect(0, 0, 1440, 875) << std::optional(QRect(600, 0, 300, 875))
        << QPoint(320, 16);
}

void WindowPlacementTest::windowOrigin()
{
    QFETCH(QSize, size);
    QFETCH(QRect, visible);
    QFETCH(std::optional<QRect>, avoid);
    QFETCH(QPoint, origin);
    QCOMPARE(WindowPlacement::windowOrigin(size, visible, avoid), origin);
}

void WindowPlacementTest::firstCaptionFrame_data()
{
    QTest::addColumn<QRect>("visible");
    QTest::addColumn<QRect>("frame");

    QTest::newRow("tall screen: full size") << QRect(0, 0, 1440, 1000) << QRect(1014, 63, 402, 874);
    // 1001 / 2 − 437 = 63.5 rounds away from zero to 64.
    QTest::newRow("odd height rounds half away from zero")
        << QRect(0, 0, 1440, 1001) << QRect(1014, 63, 402, 874);
    // k = 752 / 874: the width would be 346, kept at 360.
    QTest::newRow("short screen scales down, width at least 360")
        << QRect(0, 0, 1280, 800) << QRect(896, 24, 360, 752);
    QTest::newRow("under a top bar") << QRect(0, 25, 1440, 875) << QRect(1036, 49, 380, 827);
    QTest::newRow("test X server screen") << QRect(0, 0, 1280, 1024) << QRect(854, 75, 402, 874);
}

void WindowPlacementTest::firstCaptionFrame()
{
    QFETCH(QRect, visible);
    QFETCH(QRect, frame);
    QCOMPARE(WindowPlacement::firstCaptionFrame(visible), frame);
}

void WindowPlacementTest::presentPlacesClearOfThePanelAndKeepsAShownWindow()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    QVERIFY(screen);
    const QRect visible = screen->availableGeometry();
    const QRect panel(visible.right() - 24 - 380, visible.top() + 24, 380, visible.height() - 48);
    WindowPlacement::captionFrame = [panel] { return std::optional(panel); };

    FloatingWindow window;
    window.resize(300, 200);
    WindowPlacement::present(&window);
    QVERIFY(window.isVisible());
    QVERIFY(visible.contains(window.frameGeometry()));
    QVERIFY(!window.frameGeometry().intersects(panel));

    // Hidden: placed afresh, now with its frame known.
    window.hide();
    WindowPlacement::present(&window);
    const QPoint expected = WindowPlacement::windowOrigin(window.frameGeometry().size(), visible, panel);
    QCOMPARE(window.frameGeometry().topLeft(), expected);
    QCOMPARE(expected.x(), panel.left() - window.frameGeometry().width() - 16);

    // Already shown on this screen: presenting again leaves it where the user put it.
    window.move(expected + QPoint(5, 7));
    QTRY_COMPARE(window.frameGeometry().topLeft(), expected + QPoint(5, 7));
    WindowPlacement::present(&window);
    QCOMPARE(window.frameGeometry().topLeft(), expected + QPoint(5, 7));

    // A panel on another screen is not in the way: centred.
    WindowPlacement::captionFrame = [] { return std::optional(QRect(-5000, 0, 380, 800)); };
    window.hide();
    WindowPlacement::present(&window);
    QCOMPARE(window.frameGeometry().topLeft(),
             WindowPlacement::windowOrigin(window.frameGeometry().size(), visible, std::nullopt));
}

void WindowPlacementTest::floatingWindowKeys()
{
    FloatingWindow window;
    QVERIFY(window.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!(window.windowFlags() & Qt::WindowDoesNotAcceptFocus));
    auto *field = new QLineEdit(&window);
    new QVBoxLayout(&window);
    window.layout()->addWidget(field);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    field->setFocus();
    field->setText(u"字幕 captions"_qs);

    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->setText(u"before"_qs);
    field->selectAll();
    // Ctrl+Alt+C is no copy. (Its text is the control character X11 gives it.)
    QTest::sendKeyEvent(QTest::Click, field, Qt::Key_C, QString(QChar(3)),
                        Qt::ControlModifier | Qt::AltModifier);
    QCOMPARE(clipboard->text(), u"before"_qs);
    QCOMPARE(field->text(), u"字幕 captions"_qs);
    // Qt's own editing keys work.
    QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), u"字幕 captions"_qs);
    QTest::keyClick(field, Qt::Key_End);
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(field->text(), u"字幕 captions字幕 captions"_qs);
    QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(field->text(), u"字幕 captions"_qs);

    // Ctrl+Shift+W is not Ctrl+W; Ctrl+W closes (hides) the window.
    QTest::keyClick(field, Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(window.isVisible());
    QTest::keyClick(field, Qt::Key_W, Qt::ControlModifier);
    QVERIFY(!window.isVisible());
}

DODEDAROV_TEST(WindowPlacementTest)
#include "WindowPlacementTest.moc"
