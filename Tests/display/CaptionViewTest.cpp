#include "TestMain.h"

#include "display/BusyIndicator.h"
#include "display/CaptionView.h"
#include "display/HistoryScrollState.h"
#include "display/NotesBar.h"
#include "fakes/ModelRig.h"
#include "translation/Keychain.h"

#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include <memory>

namespace {

constexpr int waitMs = 10000;

// A view over a fresh model, sized like a short panel.
struct ViewRig {
    explicit ViewRig(bool keys = false)
    {
        if (keys) {
            ModelRig::storeKey(Keychain::elevenLabsAccount, u"sk_eleven_test_key"_qs);
            ModelRig::storeKey(Keychain::deepSeekAccount, u"sk-deepseek-test-key"_qs);
        }
        model = &rig.make();
        view = std::make_unique<CaptionView>(model);
        // Translucent like the panel it sits in.
        view->setAttribute(Qt::WA_TranslucentBackground);
        view->resize(500, 300);
    }
    void settle() { view->updateNow(); }

    ModelRig rig;
    AppModel *model = nullptr;
    std::unique_ptr<CaptionView> view;
};

QColor chineseColor(const AppModel &model)
{
    const RGBA c = model.appearance().effective().chineseColor;
    return QColor::fromRgbF(float(c.r), float(c.g), float(c.b), float(c.a));
}

}

// The caption view on the offscreen platform, from a real model.
class CaptionViewTest final : public QObject {
    Q_OBJECT

private slots:
    void status_data();
    void status();
    void emptyMessage();
    void controlsAndPill();
    void jumpButton();
    void grabs();
    void notesBar();
    void changesApplyOnALaterTurn();
};

void CaptionViewTest::status_data()
{
    QTest::addColumn<bool>("running");
    QTest::addColumn<bool>("meeting");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("color");
    QTest::newRow("running, not recognising: standby")
        << true << true << u"待机：没有人声，不计费"_qs << QColor(255, 204, 0);
    QTest::newRow("paused meeting") << false << true << u"已暂停：不采集，不计费"_qs << QColor(255, 149, 0);
    QTest::newRow("no meeting") << false << false << u"没有进行中的会议"_qs << QColor(142, 142, 147);
}

void CaptionViewTest::status()
{
    QFETCH(bool, running);
    QFETCH(bool, meeting);
    QFETCH(QString, text);
    QFETCH(QColor, color);
    ViewRig v;
    v.model->setMeetingActiveState(meeting);
    v.model->setRunningState(running);
    v.settle();
    QCOMPARE(v.view->statusText(), text);
    QCOMPARE(v.view->statusColor(), color);
    QCOMPARE(v.view->statusDot()->toolTip(), text);
}

void CaptionViewTest::emptyMessage()
{
    {
        ViewRig v(true);
        QCOMPARE(v.view->emptyMessage(), std::optional<QString>(u"把鼠标移上来，点 ▶ 开始会议"_qs));
        QVERIFY(!v.view->emptyLabel()->isHidden());
        QCOMPARE(v.view->emptyLabel()->text(), u"把鼠标移上来，点 ▶ 开始会议"_qs);
        QVERIFY(v.view->historyArea()->isHidden());
        // A notice replaces the instruction and turns it orange.
        v.model->setNotice(u"没有声音"_qs);
        v.settle();
        QCOMPARE(v.view->emptyLabel()->text(), u"没有声音"_qs);
        QVERIFY(v.view->emptyLabel()->styleSheet().contains(u"255, 149, 0"_qs));
        // Running: the history instead.
        v.model->setRunningState(true);
        v.settle();
        QVERIFY(v.view->emptyLabel()->isHidden());
        QVERIFY(!v.view->historyArea()->isHidden());
    }
    {
        ViewRig v(false);
        v.model->setMode(DisplayMode::english);
        v.settle();
        QCOMPARE(v.view->emptyMessage(),
                 std::optional<QString>(u"先把鼠标移上来点 ⚙︎ 打开设置，填上 ElevenLabs 和 DeepSeek 的 API Key"_qs));
    }
}

void CaptionViewTest::controlsAndPill()
{
    ViewRig v(true);
    v.model->setMeetingActiveState(true);
    v.model->setRunningState(true);
    v.settle();
    QVERIFY(v.model->statusNote().has_value() || v.model->backfillNote().has_value()
            || v.view->statusPill()->isHidden());
    v.model->setTranslationTrouble(u"翻译出错"_qs);
    v.settle();
    if (v.model->statusNote()) {
        QVERIFY(!v.view->statusPill()->isHidden());
        QCOMPARE(v.view->statusPill()->text(), *v.model->statusNote());
        // Orange while running.
        QVERIFY(v.view->statusPill()->styleSheet().contains(u"#ff9500"_qs));
    }
    QVERIFY(v.view->controls()->isHidden());

    v.model->setHovering(true);
    v.settle();
    QVERIFY(!v.view->controls()->isHidden());
    QVERIFY(v.view->statusPill()->isHidden());
    QVERIFY(!v.view->controlButton(u"pause.fill"_qs)->isHidden());
    QVERIFY(v.view->controlButton(u"play.fill"_qs)->isHidden());
    QVERIFY(!v.view->controlButton(u"stop.fill"_qs)->isHidden());
    QVERIFY(v.view->controlButton(u"bubble.left.and.bubble.right"_qs)->isHidden());
    QVERIFY(v.view->controlButton(u"list.bullet.rectangle"_qs)->isHidden());
    QCOMPARE(v.view->controlButton(u"minus"_qs)->toolTip(),
             u"最小化到任务栏：识别和翻译在后台继续，点任务栏里的图标恢复"_qs);

    // Maximising through the control; the button shows the way back.
    v.view->controlButton(u"arrow.up.left.and.arrow.down.right"_qs)->click();
    QVERIFY(v.model->maximized());
    v.settle();
    QCOMPARE(v.view->controlButton(u"arrow.up.left.and.arrow.down.right"_qs)->toolTip(),
             u"退出全屏，回到原来的大小"_qs);

    // With the recap open the controls stay after the mouse leaves; the popup closing by
    // itself (an outside click) resets it.
    v.model->setRecap(u"要点"_qs);
    v.settle();
    QToolButton *recap = v.view->controlButton(u"list.bullet.rectangle"_qs);
    QVERIFY(!recap->isHidden());
    recap->click();
    QVERIFY(v.view->recapOpen());
    QTRY_VERIFY_WITH_TIMEOUT(v.view->recapPopup()->isVisible(), waitMs);
    v.model->setHovering(false);
    v.settle();
    QVERIFY(!v.view->controls()->isHidden());
    v.view->recapPopup()->hide();
    QVERIFY(!v.view->recapOpen());
    v.settle();
    QVERIFY(v.view->controls()->isHidden());
}

void CaptionViewTest::jumpButton()
{
    ViewRig v(true);
    v.model->setRunningState(true);
    v.settle();
    QVERIFY(v.view->jumpButton()->isHidden());
    v.view->scroll()->setUnseen(3);
    v.settle();
    QVERIFY(!v.view->jumpButton()->isHidden());
    QCOMPARE(v.view->jumpButton()->text(), u"已暂停滚动 · 有 3 段新内容"_qs);
    v.view->scroll()->setFollowing(false);
    v.settle();
    QCOMPARE(v.view->jumpButton()->text(), u"回到最新"_qs);
    // Without a jump action set the button does nothing; with one it calls it.
    v.view->jumpButton()->click();
    int jumps = 0;
    v.view->scroll()->jump = [&] { ++jumps; };
    v.view->jumpButton()->click();
    QCOMPARE(jumps, 1);
}

void CaptionViewTest::grabs()
{
    ViewRig v(true);
    v.settle();
    const double alpha = v.model->appearance().background.a;
    QImage image = v.view->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    // Inside the background, left of the content.
    const QColor inside = image.pixelColor(8, image.height() / 2);
    QCOMPARE(inside.alpha(), qRound(alpha * 255));
    // The rounded corner leaves the very corner clear.
    QCOMPARE(image.pixelColor(0, 0).alpha(), 0);

    v.model->setMaximized(true);
    v.settle();
    image = v.view->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(image.pixelColor(8, image.height() / 2).alpha(), 255);
    v.model->setMaximized(false);
    v.view->setOpaque(true);
    v.settle();
    image = v.view->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(image.pixelColor(8, image.height() / 2).alpha(), 255);
}

void CaptionViewTest::notesBar()
{
    ViewRig v(true);
    NotesBar *bar = v.view->notesBar();
    v.settle();
    QVERIFY(bar->notesButton()->isHidden());
    QVERIFY(!bar->field()->isHidden());
    QCOMPARE(bar->color(), chineseColor(*v.model));

    SessionNote first;
    first.id = 1;
    first.text = u"Anna = 安娜"_qs;
    SessionNote second;
    second.id = 2;
    second.text = u"https://example.org/video"_qs;
    second.busy = true;
    v.model->setNotes({first, second});
    v.settle();
    QVERIFY(!bar->notesButton()->isHidden());
    QVERIFY(!bar->busyIndicator()->isHidden());
    auto *count = bar->notesButton()->findChild<QLabel *>(u"notesCount"_qs);
    QVERIFY(count);
    QCOMPARE(count->text(), u"本场说明 2"_qs);
    second.busy = false;
    v.model->setNotes({first, second});
    v.settle();
    QVERIFY(bar->busyIndicator()->isHidden());

    // The notes button opens the list; closing it by itself resets the flag.
    bar->notesButton()->click();
    QVERIFY(v.view->notesOpen());
    QTRY_VERIFY_WITH_TIMEOUT(v.view->notesPopup()->isVisible(), waitMs);
    v.view->notesPopup()->hide();
    QVERIFY(!v.view->notesOpen());

    // Another skin recolours the bar.
    const CaptionSkin other = CaptionSkin::all().last();
    v.model->applySkin(other);
    v.settle();
    QCOMPARE(bar->color(), chineseColor(*v.model));
    QVERIFY(bar->field()->styleSheet().contains(QString::number(chineseColor(*v.model).red())));
}

void CaptionViewTest::changesApplyOnALaterTurn()
{
    ViewRig v(true);
    v.model->setHovering(true);
    // Not inside the setter.
    QVERIFY(v.view->controls()->isHidden());
    QTRY_VERIFY_WITH_TIMEOUT(!v.view->controls()->isHidden(), waitMs);
}

DODEDAROV_TEST(CaptionViewTest)
#include "CaptionViewTest.moc"
