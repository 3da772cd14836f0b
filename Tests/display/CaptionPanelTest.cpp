#include "TestMain.h"

#include "common/UserDefaults.h"
#include "display/CaptionPanel.h"
#include "display/CaptionPanelController.h"
#include "display/HoverView.h"
#include "display/ResizeHandle.h"
#include "display/WindowPlacement.h"
#include "fakes/ModelRig.h"

#include <QEnterEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QCloseEvent>
#include <QtTest/qtestspontaneevent.h>

#include <cmath>
#include <limits>
#include <memory>

namespace {

constexpr int waitMs = 10000;

QRect available()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

ResizeHandle *grip(CaptionPanelController &controller, ResizeHandle::Edge edge)
{
    for (ResizeHandle *handle : controller.resizeHandles())
        if (handle->edge() == edge)
            return handle;
    return nullptr;
}

}

// The caption panel and its controller on the offscreen platform, driven by a real model.
class CaptionPanelTest final : public QObject {
    Q_OBJECT

private slots:
    void captionHeight_data();
    void captionHeight();
    void gripFrames_data();
    void gripFrames();
    void storedExpandedHeight_data();
    void storedExpandedHeight();
    void storedFrame_data();
    void storedFrame();
    void firstPlacementAndShow();
    void heightFollowsTheModel();
    void gripDrags();
    void maximiseAndRestore();
    void smallWidthChangesDoNotRelayout();
    void hoverReachesTheModel();
    void windowManagerCloseMinimises();
};

void CaptionPanelTest::captionHeight_data()
{
    QTest::addColumn<double>("size");
    QTest::addColumn<bool>("english");
    QTest::addColumn<int>("height");
    QTest::newRow("26, Chinese only") << 26.0 << false << 94;
    QTest::newRow("26, with English") << 26.0 << true << 118;
    QTest::newRow("18, English term never under 12") << 18.0 << true << 94;
}

void CaptionPanelTest::captionHeight()
{
    QFETCH(double, size);
    QFETCH(bool, english);
    QFETCH(int, height);
    QCOMPARE(CaptionPanelController::captionHeight(size, english), height);
}

void CaptionPanelTest::gripFrames_data()
{
    QTest::addColumn<int>("edge");
    QTest::addColumn<QRect>("frame");
    const QSize content(400, 300);
    Q_UNUSED(content);
    QTest::newRow("left: 30 below the top to 18 above the bottom") << int(ResizeHandle::Edge::left) << QRect(0, 30, 10, 252);
    QTest::newRow("right") << int(ResizeHandle::Edge::right) << QRect(390, 30, 10, 252);
    QTest::newRow("bottom") << int(ResizeHandle::Edge::bottom) << QRect(18, 290, 364, 10);
    QTest::newRow("bottom left") << int(ResizeHandle::Edge::bottomLeft) << QRect(0, 282, 18, 18);
    QTest::newRow("bottom right") << int(ResizeHandle::Edge::bottomRight) << QRect(382, 282, 18, 18);
}

void CaptionPanelTest::gripFrames()
{
    QFETCH(int, edge);
    QFETCH(QRect, frame);
    QCOMPARE(ResizeHandle::frame(ResizeHandle::Edge(edge), QSize(400, 300)), frame);
}

void CaptionPanelTest::storedExpandedHeight_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<double>("height");
    QTest::newRow("a height") << u"500"_qs << 500.0;
    QTest::newRow("not a number") << u"nan"_qs << 340.0;
    QTest::newRow("infinite") << u"inf"_qs << 340.0;
    QTest::newRow("negative") << u"-5"_qs << 340.0;
    QTest::newRow("too large") << u"1e9"_qs << 340.0;
    QTest::newRow("text") << u"tall"_qs << 340.0;
}

void CaptionPanelTest::storedExpandedHeight()
{
    QFETCH(QString, stored);
    QFETCH(double, height);
    TemporarySettings settings;
    settings.writeText(u"expandedHeight="_qs + stored);
    QCOMPARE(CaptionPanelController::storedExpandedHeight(), height);
}

void CaptionPanelTest::storedFrame_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QRect>("frame");
    const QRect first = WindowPlacement::firstCaptionFrame(available());
    QTest::newRow("a frame on the screen") << u"20 30 500 400"_qs << QRect(20, 30, 500, 400);
    QTest::newRow("unparsable: first placement") << u"{{1, 2}, {3}}"_qs << first;
    QTest::newRow("zero width: first placement") << u"20 30 0 400"_qs << first;
    QTest::newRow("off every screen: same size under the cursor")
        << u"90000 90000 500 400"_qs << QRect(first.topLeft(), QSize(500, 400));
}

void CaptionPanelTest::storedFrame()
{
    QFETCH(QString, stored);
    QFETCH(QRect, frame);
    ModelRig rig;
    rig.settings.writeText(u"CaptionPanelPhone="_qs + stored + u"\nexpandedHeight=400"_qs);
    AppModel &model = rig.make();
    model.setExpanded(true);
    // Expanded, so the height is not pinned; the stored height lets the first frame stand.
    UserDefaults::setReal(u"expandedHeight"_qs, frame.height());
    CaptionPanelController controller(&model);
    QCOMPARE(controller.panel()->geometry(), frame);
}

void CaptionPanelTest::firstPlacementAndShow()
{
    ModelRig rig;
    AppModel &model = rig.make();
    CaptionPanelController controller(&model);
    const QRect first = WindowPlacement::firstCaptionFrame(available());
    QCOMPARE(controller.panel()->geometry().topLeft(), first.topLeft());
    QCOMPARE(controller.panel()->width(), first.width());
    // Not inside the constructor: a turn later.
    QVERIFY(!controller.panel()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(controller.panel()->isVisible(), waitMs);
    QCOMPARE(WindowPlacement::captionFrame(), std::optional<QRect>(controller.panel()->geometry()));
    QCOMPARE(model.panelWidth, double(first.width()));
    QCOMPARE(UserDefaults::text(u"CaptionPanelPhone"_qs),
             std::optional<QString>(CaptionPanelController::frameText(controller.panel()->geometry())));
    const Qt::WindowFlags flags = controller.panel()->windowFlags();
    QVERIFY(flags.testFlag(Qt::Tool) && flags.testFlag(Qt::FramelessWindowHint)
            && flags.testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(controller.panel()->testAttribute(Qt::WA_ShowWithoutActivating));
    QVERIFY(!CaptionPanel::canHideFromSharing());

    model.setPanelVisible(false);
    QVERIFY(controller.panel()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!controller.panel()->isVisible(), waitMs);
    QCOMPARE(WindowPlacement::captionFrame(), std::optional<QRect>());
    model.setPanelVisible(true);
    QTRY_VERIFY_WITH_TIMEOUT(controller.panel()->isVisible(), waitMs);
}

void CaptionPanelTest::heightFollowsTheModel()
{
    ModelRig rig;
    AppModel &model = rig.make();
    model.setExpanded(false);
    model.setMode(DisplayMode::chinese);
    CaptionPanelController controller(&model);
    CaptionPanel *panel = controller.panel();
    QCOMPARE(panel->height(), 94);
    QCOMPARE(panel->minimumContent(), QSize(360, 94));
    QCOMPARE(panel->maximumContent(), QSize(2400, 94));
    const int bottom = panel->geometry().bottom();

    model.setMode(DisplayMode::both);
    QTRY_COMPARE_WITH_TIMEOUT(panel->height(), 118, waitMs);
    QCOMPARE(panel->geometry().bottom(), bottom);

    model.setAppearance(model.appearance().scaled(-8));
    QTRY_COMPARE_WITH_TIMEOUT(panel->height(), 94, waitMs);

    // Expanded with nothing larger stored: 130.
    UserDefaults::setReal(u"expandedHeight"_qs, 50);
    model.setExpanded(true);
    QTRY_COMPARE_WITH_TIMEOUT(panel->height(), 130, waitMs);
    QCOMPARE(panel->maximumContent(), QSize(2400, 1600));
    QCOMPARE(panel->geometry().bottom(), bottom);

    // The stored target is not cut to the grips' maximum.
    model.setExpanded(false);
    QTRY_COMPARE_WITH_TIMEOUT(panel->height(), 94, waitMs);
    UserDefaults::setReal(u"expandedHeight"_qs, 1700);
    model.setExpanded(true);
    QTRY_COMPARE_WITH_TIMEOUT(panel->height(), 1700, waitMs);
}

void CaptionPanelTest::gripDrags()
{
    ModelRig rig;
    rig.settings.writeText(u"CaptionPanelPhone=100 50 500 300\nexpandedHeight=300"_qs);
    AppModel &model = rig.make();
    model.setExpanded(true);
    CaptionPanelController controller(&model);
    CaptionPanel *panel = controller.panel();
    QTRY_VERIFY_WITH_TIMEOUT(panel->isVisible(), waitMs);
    QVERIFY(QTest::qWaitForWindowExposed(panel));
    QCOMPARE(panel->geometry(), QRect(100, 50, 500, 300));

    // Left grip far to the right: stops at 360 with the right edge fixed.
    ResizeHandle *left = grip(controller, ResizeHandle::Edge::left);
    const QPoint start = left->rect().center();
    QTest::mousePress(left, Qt::LeftButton, {}, start);
    QTest::mouseMove(left, start + QPoint(400, 0));
    QTest::mouseRelease(left, Qt::LeftButton, {}, start + QPoint(400, 0));
    QTRY_COMPARE_WITH_TIMEOUT(panel->geometry(), QRect(240, 50, 360, 300), waitMs);

    // Bottom grip upwards: shorter, the top fixed.
    ResizeHandle *bottom = grip(controller, ResizeHandle::Edge::bottom);
    const QPoint from = bottom->rect().center();
    QTest::mousePress(bottom, Qt::LeftButton, {}, from);
    QTest::mouseMove(bottom, from + QPoint(0, -100));
    QTest::mouseRelease(bottom, Qt::LeftButton, {}, from + QPoint(0, -100));
    QTRY_COMPARE_WITH_TIMEOUT(panel->geometry(), QRect(240, 50, 360, 200), waitMs);
    QCOMPARE(UserDefaults::real(u"expandedHeight"_qs), std::optional<double>(200));

    // Bottom-right corner: wider and taller, clamped to the limits.
    const QRect dragged = ResizeHandle::dragged(ResizeHandle::Edge::bottomRight, QRect(0, 0, 500, 300),
                                                QPoint(5000, -290), QSize(360, 130), QSize(2400, 1600));
    QCOMPARE(dragged, QRect(0, 0, 2400, 130));
}

void CaptionPanelTest::maximiseAndRestore()
{
    ModelRig rig;
    rig.settings.writeText(u"CaptionPanelPhone=100 50 500 300\nexpandedHeight=300"_qs);
    AppModel &model = rig.make();
    model.setExpanded(true);
    CaptionPanelController controller(&model);
    CaptionPanel *panel = controller.panel();
    const QRect before = panel->geometry();
    QCOMPARE(before, QRect(100, 50, 500, 300));

    model.setMaximized(true);
    QTRY_COMPARE_WITH_TIMEOUT(panel->geometry(), available(), waitMs);
    QCOMPARE(model.panelWidth, double(available().width()));
    QCOMPARE(panel->minimumContent(), QSize(360, 200));
    for (ResizeHandle *handle : controller.resizeHandles())
        QVERIFY(handle->isHidden());
    // Not written while maximised.
    QCOMPARE(UserDefaults::real(u"expandedHeight"_qs), std::optional<double>(300));
    // Heights are left alone while maximised.
    model.setMode(DisplayMode::chinese);
    // A second maximise keeps the first remembered frame.
    model.setMaximized(true);
    QTest::qWait(0);
    QCoreApplication::processEvents();
    QCOMPARE(panel->geometry(), available());

    model.setMaximized(false);
    QTRY_COMPARE_WITH_TIMEOUT(panel->geometry(), before, waitMs);
    QCOMPARE(panel->minimumContent(), QSize(360, 130));
    QCOMPARE(panel->maximumContent(), QSize(2400, 1600));
    QCOMPARE(model.panelWidth, 500.0);
    for (ResizeHandle *handle : controller.resizeHandles())
        QVERIFY(!handle->isHidden());
}

void CaptionPanelTest::smallWidthChangesDoNotRelayout()
{
    ModelRig rig;
    rig.settings.writeText(u"CaptionPanelPhone=100 50 500 300\nexpandedHeight=300"_qs);
    AppModel &model = rig.make();
    model.setExpanded(true);
    CaptionPanelController controller(&model);
    CaptionPanel *panel = controller.panel();
    const double rowWidth = model.rowWidth();
    model.panelWidth = 500.4;
    panel->setFrame(QRect(120, 50, 500, 300));
    QCOMPARE(model.panelWidth, 500.4);
    QCOMPARE(model.rowWidth(), rowWidth);
    panel->setFrame(QRect(120, 50, 520, 300));
    QCOMPARE(model.panelWidth, 520.0);
    // Re-broken for the new width.
    QCOMPARE(model.rowWidth(), rowWidth + 20);
    QCOMPARE(UserDefaults::text(u"CaptionPanelPhone"_qs), std::optional<QString>(u"120 50 520 300"_qs));
}

void CaptionPanelTest::hoverReachesTheModel()
{
    ModelRig rig;
    AppModel &model = rig.make();
    CaptionPanelController controller(&model);
    auto *hover = qobject_cast<HoverView *>(controller.panel()->content());
    QVERIFY(hover);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(hover, &enter);
    QVERIFY(model.hovering());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(hover, &leave);
    QVERIFY(!model.hovering());
}

// Alt+F4 on the panel: it goes out as the minimise button does, the model knows it, and the
// menu's "show" brings it back.
void CaptionPanelTest::windowManagerCloseMinimises()
{
    ModelRig rig;
    AppModel &model = rig.make();
    CaptionPanelController controller(&model);
    QTRY_VERIFY_WITH_TIMEOUT(controller.panel()->isVisible(), waitMs);
    model.setHovering(true);

    // As the window manager asks: a close through the platform, not from the application.
    // (notify keeps the event spontaneous, where sendEvent would clear it).
    QCloseEvent request;
    QSpontaneKeyEvent::setSpontaneous(&request);
    QCoreApplication::instance()->notify(controller.panel(), &request);
    QVERIFY(!request.isAccepted());
    QVERIFY(!model.panelVisible());
    QVERIFY(!model.hovering());
    QTRY_VERIFY_WITH_TIMEOUT(!controller.panel()->isVisible(), waitMs);

    model.setPanelVisible(true);
    QTRY_VERIFY_WITH_TIMEOUT(controller.panel()->isVisible(), waitMs);
    QVERIFY(model.panelVisible());

    // The application closing its windows on quit is not refused (Qt would cancel the quit).
    QVERIFY(controller.panel()->close());
}

DODEDAROV_TEST(CaptionPanelTest)
#include "CaptionPanelTest.moc"
