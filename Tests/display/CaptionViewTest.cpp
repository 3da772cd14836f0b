#include "TestMain.h"

#include "display/BusyIndicator.h"
#include "display/CaptionView.h"
#include "display/HistoryScrollState.h"
#include "display/NotesBar.h"
#include "display/OpacityFade.h"
#include "display/HistoryTextView.h"
#include "display/HistoryView.h"
#include "captions/FontFamilies.h"
#include "fakes/ModelRig.h"
#include "platform/Keychain.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QFontDatabase>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <QFrame>
#include <QGlyphRun>
#include <QRawFont>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

#include <algorithm>
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
    void controlsCallTheModel();
    void controlsFade();
    void chineseIsDrawnInTheMappedFont();
    void historyScrollbarIsAThinOverlay();
    void notesGoToTheModel();
    void popupsFitTheirContent();
    void notesAddedThroughTheModelAreListed();
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
    v.view->show();
    v.model->setMeetingActiveState(true);
    v.model->setRunningState(true);
    v.settle();
    // Running without trouble: nothing to say, so no pill.
    QVERIFY(!v.model->statusNote());
    QVERIFY(!v.model->backfillNote());
    QVERIFY(v.view->statusPill()->isHidden());
    v.model->setTranslationTrouble(u"翻译出错"_qs);
    v.settle();
    // The trouble shows in the corner, whole and inside the panel.
    QLabel *pill = v.view->statusPill();
    QTRY_VERIFY_WITH_TIMEOUT(pill->isVisible(), waitMs);
    QCOMPARE(pill->text(), u"翻译出错"_qs);
    QVERIFY(v.view->rect().contains(pill->geometry()));
    QVERIFY(pill->width() >= pill->fontMetrics().horizontalAdvance(pill->text()));
    // Orange while running.
    QVERIFY(pill->styleSheet().contains(u"#ff9500"_qs));
    QVERIFY(v.view->controls()->isHidden());

    v.model->setHovering(true);
    v.settle();
    QVERIFY(!v.view->controls()->isHidden());
    // The pill fades out as the controls fade in.
    QTRY_VERIFY_WITH_TIMEOUT(v.view->statusPill()->isHidden(), waitMs);
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
    QTRY_VERIFY_WITH_TIMEOUT(v.view->controls()->isHidden(), waitMs);
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
    // The whole count shows, busy indicator and all: the label is as wide as its text and
    // lies inside the button.
    v.view->show();
    QTRY_VERIFY_WITH_TIMEOUT(v.view->isVisible(), waitMs);
    v.view->layout()->activate();
    QCoreApplication::processEvents();
    QVERIFY2(count->width() >= count->sizeHint().width(),
             qPrintable(u"label %1 of %2"_qs.arg(count->width()).arg(count->sizeHint().width())));
    QVERIFY(bar->notesButton()->rect().contains(count->geometry()));
    QVERIFY(bar->notesButton()->rect().contains(bar->busyIndicator()->geometry()));
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

namespace {

// Every label of a popup lies inside it, wholly, at the height its wrapped text needs, and
// the scroll view shows all of its content (no scrolling left).
void checkPopupShowsAll(QWidget *popup)
{
    QScrollArea *scroll = popup->findChild<QScrollArea *>();
    QVERIFY(scroll);
    QCOMPARE(scroll->verticalScrollBar()->maximum(), 0);
    const QRect inside = popup->rect();
    for (QLabel *label : popup->findChildren<QLabel *>()) {
        if (!label->isVisibleTo(popup) || label->text().isEmpty())
            continue;
        const QRect where(label->mapTo(popup, QPoint(0, 0)), label->size());
        QVERIFY2(inside.contains(where), qPrintable(label->text()));
        const int needed = label->hasHeightForWidth() ? label->heightForWidth(label->width())
                                                      : label->sizeHint().height();
        QVERIFY2(label->height() >= needed, qPrintable(label->text()));
        QVERIFY2(label->width() >= label->minimumSizeHint().width(), qPrintable(label->text()));
    }
}

}

// Both popups open at the size of what they hold, up to their limits.
void CaptionViewTest::popupsFitTheirContent()
{
    ViewRig v(true);
    QList<SessionNote> notes;
    for (int i = 1; i <= 3; ++i) {
        SessionNote note;
        note.id = i;
        note.text = u"第 %1 条说明：讲者 Anna Lindqvist（安娜·林奎斯特）来自斯德哥尔摩，"
                    "术语 retrieval-augmented generation 译作检索增强生成。"_qs.arg(i);
        if (i == 2)
            note.status = u"记下了 3 个人名和 2 个术语"_qs;
        notes.append(note);
    }
    v.model->setNotes(notes);
    v.model->setRecap(u"主题：北欧能源转型与电网储能的成本\n要点：\n· 风电占比十年内翻了一番，储能成本下降了六成。"
                      "\n· 电网需要跨国调度。\n讲者：安娜；本特"_qs);
    v.view->show();
    v.settle();

    v.view->notesBar()->notesButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(v.view->notesPopup()->isVisible(), waitMs);
    checkPopupShowsAll(v.view->notesPopup());
    QCOMPARE(v.view->notesPopup()->findChildren<QToolButton *>(u"deleteNote"_qs).size(), 3);
    v.view->notesPopup()->hide();

    v.model->setHovering(true);
    v.settle();
    v.view->controlButton(u"list.bullet.rectangle"_qs)->click();
    QTRY_VERIFY_WITH_TIMEOUT(v.view->recapPopup()->isVisible(), waitMs);
    checkPopupShowsAll(v.view->recapPopup());
    // The body keeps its 440-point width, all of it in view.
    QScrollArea *scroll = v.view->recapPopup()->findChild<QScrollArea *>();
    QCOMPARE(scroll->widget()->width(), 440);
    QVERIFY2(scroll->viewport()->width() >= 440, qPrintable(u"viewport %1, scroll %2, popup %3"_qs.arg(scroll->viewport()->width()).arg(scroll->width()).arg(v.view->recapPopup()->width())));
    v.view->recapPopup()->hide();
}

void CaptionViewTest::changesApplyOnALaterTurn()
{
    ViewRig v(true);
    v.model->setHovering(true);
    // Not inside the setter.
    QVERIFY(v.view->controls()->isHidden());
    QTRY_VERIFY_WITH_TIMEOUT(!v.view->controls()->isHidden(), waitMs);
}

void CaptionViewTest::controlsCallTheModel()
{
    ViewRig v;
    int settings = 0;
    v.rig.platform.showSettings = [&] { ++settings; };
    int chats = 0;
    const auto chat = CaptionView::showChat;
    const auto restoreChat = qScopeGuard([&] { CaptionView::showChat = chat; });
    CaptionView::showChat = [&] { ++chats; };
    v.model->setHovering(true);
    v.settle();

    // Starting without a recognition key: the model explains and opens the settings.
    v.view->controlButton(u"play.fill"_qs)->click();
    QVERIFY(v.model->notice().has_value());
    QCOMPARE(settings, 1);
    v.view->controlButton(u"gearshape"_qs)->click();
    QCOMPARE(settings, 2);
    v.model->setNotice(std::nullopt);

    // A pause click that arrives after recognition ended must not start a meeting again.
    v.model->setRunningState(true);
    v.settle();
    QToolButton *pause = v.view->controlButton(u"pause.fill"_qs);
    QVERIFY(!pause->isHidden());
    v.model->setRunningState(false);
    pause->click();
    QVERIFY(!v.model->notice().has_value());
    QCOMPARE(settings, 2);

    // Ending the meeting.
    v.model->setMeetingActiveState(true);
    v.settle();
    QToolButton *stop = v.view->controlButton(u"stop.fill"_qs);
    QVERIFY(!stop->isHidden());
    QCOMPARE(v.view->controlButton(u"play.fill"_qs)->toolTip(), u"继续：接着当前会议往下记"_qs);
    stop->click();
    QVERIFY(!v.model->meetingActive());
    v.settle();
    QVERIFY(stop->isHidden());

    // The chat button: only with something finished to talk about, and never while running.
    QToolButton *chatButton = v.view->controlButton(u"bubble.left.and.bubble.right"_qs);
    QVERIFY(chatButton->isHidden());
    CaptionLine line;
    line.english = u"We agreed on the budget."_qs;
    line.chinese = u"我们就预算达成了一致。"_qs;
    line.finished = true;
    v.rig.setLines({line});
    v.settle();
    QVERIFY(!chatButton->isHidden());
    chatButton->click();
    QCOMPARE(chats, 1);
    v.model->setRunningState(true);
    v.settle();
    QVERIFY(chatButton->isHidden());
    v.model->setRunningState(false);

    // Minimising hides the panel and lets go of the pointer state.
    v.model->setPanelVisible(true);
    v.settle();
    v.view->controlButton(u"minus"_qs)->click();
    QVERIFY(!v.model->panelVisible());
    QVERIFY(!v.model->hovering());
}

void CaptionViewTest::controlsFade()
{
    ViewRig v(true);
    v.view->show();
    OpacityFade *fade = v.view->controlsFade();
    QVERIFY(v.view->controls()->isHidden());
    v.model->setHovering(true);
    v.settle();
    // Shown at once, fully opaque only when the fade has run.
    QVERIFY(!v.view->controls()->isHidden());
    QVERIFY(fade->fading());
    QVERIFY(fade->opacity() < 1.0);
    QTRY_VERIFY_WITH_TIMEOUT(!fade->fading(), waitMs);
    QCOMPARE(fade->opacity(), 1.0);

    // Leaving fades out first and hides at the end, so the controls take no clicks then.
    v.model->setHovering(false);
    v.settle();
    QVERIFY(fade->fading());
    QVERIFY(!v.view->controls()->isHidden());
    QTRY_VERIFY_WITH_TIMEOUT(v.view->controls()->isHidden(), waitMs);

    // Coming back halfway through a fade out turns it round.
    v.model->setHovering(true);
    v.settle();
    QTRY_VERIFY_WITH_TIMEOUT(!fade->fading(), waitMs);
    v.model->setHovering(false);
    v.settle();
    v.model->setHovering(true);
    v.settle();
    QVERIFY(fade->shown());
    QTRY_VERIFY_WITH_TIMEOUT(!fade->fading(), waitMs);
    QVERIFY(!v.view->controls()->isHidden());
    QCOMPARE(fade->opacity(), 1.0);
}

void CaptionViewTest::chineseIsDrawnInTheMappedFont()
{
    const QString family = FontFamilies::installed(u"Songti SC"_qs);
    if (!QFontDatabase::hasFamily(family))
        QSKIP("the CJK font is not installed (scripts/install-deps)");
    ViewRig v(true);
    v.model->customize([](CaptionAppearance &look) { look.chineseFont = u"Songti SC"_qs; });
    CaptionLine line;
    line.english = u"今天我们讨论预算"_qs;
    line.chinese = u"Today we discuss the budget"_qs;
    line.finished = true;
    line.language = SpeechLanguage::chinese;
    v.rig.setLines({line});
    v.view->show();
    v.settle();
    QVERIFY(!v.view->historyArea()->isHidden());

    // The glyphs laid out for the Chinese line come from the mapped family, and none of them
    // is the missing-glyph box.
    HistoryTextView *text = v.view->history()->textView();
    const QTextBlock block = text->document()->findBlock(0);
    QCOMPARE(block.text(), line.english);
    QTextLayout *layout = block.layout();
    QVERIFY(layout && layout->lineCount() > 0);
    int glyphs = 0;
    for (int i = 0; i < layout->lineCount(); ++i) {
        for (const QGlyphRun &run : layout->lineAt(i).glyphRuns()) {
            QCOMPARE(run.rawFont().familyName(), family);
            for (quint32 glyph : run.glyphIndexes()) {
                QVERIFY(glyph != 0);
                ++glyphs;
            }
        }
    }
    QCOMPARE(glyphs, int(line.english.size()));

    // And they reach the pixels: the history area shows ink of the Chinese colour.
    const QImage image = v.view->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QRect area = v.view->historyArea()->geometry();
    const QColor chinese = chineseColor(*v.model);
    int ink = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - chinese.red()) < 24 && std::abs(c.green() - chinese.green()) < 24
                && std::abs(c.blue() - chinese.blue()) < 24)
                ++ink;
        }
    }
    QVERIFY2(ink > 100, qPrintable(QString::number(ink)));
}

void CaptionViewTest::historyScrollbarIsAThinOverlay()
{
    ViewRig v(true);
    QList<CaptionLine> lines;
    for (int i = 0; i < 40; ++i) {
        CaptionLine line;
        line.english = u"Line %1 of a long meeting"_qs.arg(i);
        line.chinese = u"长会议的第 %1 行"_qs.arg(i);
        line.finished = true;
        lines.append(line);
    }
    v.rig.setLines(lines);
    v.view->show();
    v.settle();
    HistoryTextView *text = v.view->history()->textView();
    QTRY_VERIFY_WITH_TIMEOUT(text->settled() && text->verticalScrollBar()->maximum() > 0, waitMs);
    QScrollBar *bar = text->overlayBar();

    // The text keeps the whole width: the bar lies over it and is narrow.
    QCOMPARE(text->viewport()->width(), text->width());
    QVERIFY(!text->verticalScrollBar()->isVisible());
    QVERIFY2(bar->width() <= 8, qPrintable(QString::number(bar->width())));
    QCOMPARE(bar->geometry().right(), text->rect().right());

    // At rest (following the newest line) the bar is hidden.
    QTRY_VERIFY_WITH_TIMEOUT(!bar->isVisible(), waitMs);

    // The user's wheel shows it, mirroring the position; after a rest it hides again.
    const QPoint at = text->viewport()->rect().center();
    QWheelEvent wheel(at, text->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(text->viewport(), &wheel);
    QVERIFY(bar->isVisible());
    QCOMPARE(bar->value(), text->verticalScrollBar()->value());
    QCOMPARE(bar->maximum(), text->verticalScrollBar()->maximum());
    QVERIFY(text->verticalScrollBar()->value() < text->verticalScrollBar()->maximum());
    QTRY_VERIFY_WITH_TIMEOUT(!bar->isVisible(), waitMs);

    // The pointer over the history shows it too.
    QEnterEvent enter(at, at, text->mapToGlobal(at));
    QApplication::sendEvent(text, &enter);
    QVERIFY(bar->isVisible());

    // Dragging the bar scrolls the text.
    bar->triggerAction(QAbstractSlider::SliderToMinimum);
    QCOMPARE(text->verticalScrollBar()->value(), 0);

    // No arrow buttons, and what it draws is a light handle over the dark panel, no grey trough.
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = Qt::Vertical;
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.pageStep = bar->pageStep();
    option.singleStep = bar->singleStep();
    option.subControls = QStyle::SC_All;
    for (QStyle::SubControl arrow : {QStyle::SC_ScrollBarAddLine, QStyle::SC_ScrollBarSubLine})
        QVERIFY(bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, arrow, bar).isEmpty());
    const QImage image = v.view->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    image.save(QDir(QCoreApplication::applicationDirPath()).filePath(u"caption-history-scrollbar.png"_qs));
    const QRect barArea(bar->mapTo(v.view.get(), QPoint()), bar->size());
    const QRect handle = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                      QStyle::SC_ScrollBarSlider, bar);
    // Below the handle the trough is the panel itself.
    const QPoint trough = barArea.topLeft() + QPoint(barArea.width() / 2, handle.bottom() + 20);
    const QColor panel = image.pixelColor(barArea.left() - 60, trough.y());
    const QColor under = image.pixelColor(trough);
    QVERIFY2(std::abs(under.lightness() - panel.lightness()) < 30,
             qPrintable(u"trough %1 vs panel %2"_qs.arg(under.name(QColor::HexArgb), panel.name(QColor::HexArgb))));
    QVERIFY2(under.lightness() < 128, qPrintable(under.name(QColor::HexArgb)));
}

void CaptionViewTest::notesGoToTheModel()
{
    ViewRig v;
    v.view->show();
    v.settle();
    QLineEdit *field = v.view->notesBar()->field();
    QVERIFY(field->isEnabled());

    // Blanks add nothing and only empty the field.
    QTest::keyClicks(field, u"   "_qs);
    QTest::keyClick(field, Qt::Key_Return);
    QVERIFY(field->text().isEmpty());
    QVERIFY(v.model->notes().isEmpty());

    field->insert(u"  Anna = 安娜 "_qs);
    QTest::keyClick(field, Qt::Key_Return);
    QVERIFY(field->text().isEmpty());
    QCOMPARE(v.model->notes().size(), 1);
    QCOMPARE(v.model->notes().first().text, u"Anna = 安娜"_qs);

    // Text not yet sent survives hiding the panel.
    field->insert(u"半句"_qs);
    v.view->hide();
    v.view->show();
    QCOMPARE(field->text(), u"半句"_qs);

    // The list deletes through the model.
    v.settle();
    v.view->notesBar()->notesButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(v.view->notesPopup()->isVisible(), waitMs);
    const QList<QToolButton *> deletes = v.view->notesPopup()->findChildren<QToolButton *>(u"deleteNote"_qs);
    QCOMPARE(deletes.size(), 1);
    deletes.first()->click();
    QVERIFY(v.model->notes().isEmpty());
    v.settle();
    QVERIFY(v.view->notesBar()->notesButton()->isHidden());
}

namespace {

// What is wrong with the open notes popup, as a user would see it: each of the model's notes
// shows its text and its delete button inside the part of the list in view, the list has no
// blank band below its last note, and the popup stays on the screen and leaves its own
// button uncovered.
QString notesProblems(CaptionView &view, const AppModel &model)
{
    QFrame *popup = view.notesPopup();
    if (!popup->isVisible())
        return u"the popup is closed"_qs;
    QScrollArea *scroll = popup->findChild<QScrollArea *>();
    QWidget *shown = scroll->viewport();
    const QRect inView(shown->mapTo(popup, QPoint()), shown->size());
    if (!popup->rect().contains(inView))
        return u"the list reaches outside the popup"_qs;
    const auto where = [&](QWidget *widget) { return QRect(widget->mapTo(shown, QPoint()), widget->size()); };
    int lowest = 0;
    for (const SessionNote &note : model.notes()) {
        QLabel *text = nullptr;
        for (QLabel *label : popup->findChildren<QLabel *>()) {
            if (label->text() == note.text)
                text = label;
        }
        if (!text || !text->isVisible())
            return u"note not shown: "_qs + note.text;
        if (!shown->rect().contains(where(text)))
            return u"note out of view: %1 at %2,%3 %4x%5 in a list of %6x%7"_qs.arg(note.text)
                .arg(where(text).x()).arg(where(text).y()).arg(text->width()).arg(text->height())
                .arg(shown->width()).arg(shown->height());
        auto *remove = text->parentWidget()->findChild<QToolButton *>(u"deleteNote"_qs);
        if (!remove || !remove->isVisible() || !shown->rect().contains(where(remove)))
            return u"no delete button in view beside: "_qs + note.text;
        lowest = std::max(lowest, where(text->parentWidget()).bottom());
    }
    int buttons = 0;
    for (QToolButton *remove : popup->findChildren<QToolButton *>(u"deleteNote"_qs))
        buttons += remove->isVisible() ? 1 : 0;
    if (buttons != model.notes().size())
        return u"%1 delete buttons for %2 notes"_qs.arg(buttons).arg(model.notes().size());
    // Below the last note: its divider and the spacing before it, nothing more.
    if (shown->height() - lowest > 20)
        return u"blank below the last note: %1 px"_qs.arg(shown->height() - lowest);
    QPushButton *button = view.notesBar()->notesButton();
    if (!button->screen()->availableGeometry().contains(popup->geometry()))
        return u"the popup at %1,%2 %3x%4 leaves the screen"_qs.arg(popup->x()).arg(popup->y())
            .arg(popup->width()).arg(popup->height());
    const QRect buttonArea(button->mapToGlobal(QPoint()), button->size());
    if (popup->geometry().intersects(buttonArea))
        return u"the popup at %1,%2 %3x%4 covers its button at %5,%6 %7x%8"_qs.arg(popup->x()).arg(popup->y())
            .arg(popup->width()).arg(popup->height()).arg(buttonArea.x()).arg(buttonArea.y())
            .arg(buttonArea.width()).arg(buttonArea.height());
    return {};
}

}

// Notes typed while the panel is up reach the popup through the model: the list shows every
// one of them when it opens, and follows additions and deletions while it stays open.
void CaptionViewTest::notesAddedThroughTheModelAreListed()
{
    ViewRig v;
    v.view->resize(600, 300);
    v.view->move(100, 250);
    v.view->show();
    v.settle();
    const QStringList texts{u"Anna Lindqvist = 安娜·林奎斯特"_qs,
                            u"RAG 译作检索增强生成，不要译成抹布"_qs,
                            u"讲者来自斯德哥尔摩皇家理工学院，今天讲北欧电网储能的成本"_qs};
    for (const QString &text : texts)
        v.model->submitNote(text, false);
    QPushButton *button = v.view->notesBar()->notesButton();
    QTRY_VERIFY_WITH_TIMEOUT(button->isVisible(), waitMs);

    button->click();
    QTRY_VERIFY_WITH_TIMEOUT(v.view->notesPopup()->isVisible(), waitMs);
    QTRY_VERIFY2_WITH_TIMEOUT(notesProblems(*v.view, *v.model).isEmpty(),
                              qPrintable(notesProblems(*v.view, *v.model)), waitMs);
    // The panel goes on changing under the open popup (the pointer, new captions); a note's
    // text the user selected stays selected.
    QPointer<QLabel> first;
    for (QLabel *label : v.view->notesPopup()->findChildren<QLabel *>()) {
        if (label->text() == texts.at(0))
            first = label;
    }
    first->setSelection(0, 4);
    v.model->setHovering(true);
    QTRY_VERIFY_WITH_TIMEOUT(v.view->controls()->isVisible(), waitMs);
    QTRY_VERIFY2_WITH_TIMEOUT(notesProblems(*v.view, *v.model).isEmpty(),
                              qPrintable(notesProblems(*v.view, *v.model)), waitMs);
    QVERIFY(first && first->selectedText() == u"Anna"_qs);
    v.view->notesPopup()->grab().save(
        QDir(QCoreApplication::applicationDirPath()).filePath(u"caption-notes-popup.png"_qs));

    // A note added while the list is open joins it.
    v.model->submitNote(u"Bengt = 本特"_qs, false);
    QTRY_VERIFY2_WITH_TIMEOUT(notesProblems(*v.view, *v.model).isEmpty(),
                              qPrintable(notesProblems(*v.view, *v.model)), waitMs);

    // Its delete button takes a note out of the model and out of the list.
    QToolButton *remove = nullptr;
    for (QLabel *label : v.view->notesPopup()->findChildren<QLabel *>()) {
        if (label->text() == texts.at(1))
            remove = label->parentWidget()->findChild<QToolButton *>(u"deleteNote"_qs);
    }
    QVERIFY(remove);
    remove->click();
    QCOMPARE(v.model->notes().size(), 3);
    QVERIFY(std::none_of(v.model->notes().cbegin(), v.model->notes().cend(),
                         [&](const SessionNote &note) { return note.text == texts.at(1); }));
    QTRY_VERIFY2_WITH_TIMEOUT(notesProblems(*v.view, *v.model).isEmpty(),
                              qPrintable(notesProblems(*v.view, *v.model)), waitMs);
    for (QLabel *label : v.view->notesPopup()->findChildren<QLabel *>())
        QVERIFY(label->text() != texts.at(1) || !label->isVisible());
}

DODEDAROV_TEST(CaptionViewTest)
#include "CaptionViewTest.moc"
