#include "TestMain.h"

#include "display/HistoryScrollState.h"
#include "display/HistoryTextView.h"
#include "display/HistoryView.h"
#include "captions/ChineseScript.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QImage>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

namespace {

constexpr int waitMs = 10000;

using Paragraph = HistoryText::Paragraph;

Paragraph text(const QString &primary, const QString &secondary = {}, bool latest = false)
{
    Paragraph p;
    p.primary = primary;
    p.secondary = secondary;
    p.latest = latest;
    return p;
}

// A shown view, so that it has a viewport to lay out and scroll in.
struct ViewRig {
    ViewRig()
        : view(std::make_unique<HistoryTextView>(&state))
    {
        view->resize(400, 200);
        view->show();
    }
    QTextDocument *doc() const { return view->document(); }
    QTextCharFormat formatAt(int position) const
    {
        QTextCursor cursor(doc());
        cursor.setPosition(position + 1);
        return cursor.charFormat();
    }

    HistoryScrollState state;
    std::unique_ptr<HistoryTextView> view;
    CaptionAppearance look;
};

// The document as HTML without the held height, which depends on the history of updates.
QString textOnly(const QTextDocument *doc)
{
    std::unique_ptr<QTextDocument> copy(doc->clone());
    QTextCursor cursor(copy.get());
    cursor.movePosition(QTextCursor::End);
    QTextBlockFormat tail = cursor.blockFormat();
    tail.setBottomMargin(0);
    cursor.setBlockFormat(tail);
    return copy->toHtml();
}

bool sameAlpha(const QColor &color, double alpha)
{
    // QColor keeps 16 bits per component.
    return std::abs(color.alphaF() - alpha) < 0.001;
}

QList<Paragraph> many(int count)
{
    QList<Paragraph> list;
    for (int i = 0; i < count; ++i)
        list.append(text(u"第%1段的中文字幕，说得很长很长很长"_qs.arg(i), u"Paragraph %1 in English"_qs.arg(i)));
    return list;
}


// The paragraphs as the end of a meeting leaves them: all but the newest three lose their English.
QList<Paragraph> olderChineseOnly(QList<Paragraph> paragraphs)
{
    for (qsizetype i = 0; i + 3 < paragraphs.size(); ++i)
        paragraphs[i].secondary.clear();
    return paragraphs;
}

// The characters the view puts into its document in the first turn of showing `paragraphs`.
int addedInOneTurn(ViewRig &rig, const QList<Paragraph> &paragraphs)
{
    int added = 0;
    const QMetaObject::Connection counting = QObject::connect(
        rig.doc(), &QTextDocument::contentsChange, [&added](int, int, int chars) { added += chars; });
    rig.view->setParagraphs(paragraphs, rig.look);
    QObject::disconnect(counting);
    return added;
}

}

// The history text view and the history view on the offscreen platform.
class HistoryTextViewTest final : public QObject {
    Q_OBJECT

private slots:
    void sameParagraphsTouchNothing();
    void lengthsCountDocumentPositions();
    void incrementalEqualsFullRender();
    void appearanceChangeRendersEverything();
    void alphaAndHighlights();
    void unseenWhilePaused();
    void scrollingUpStopsFollowing();
    void followThreshold();
    void historyParagraphs();
    void fadeOnlyWhileBrowsingOverOpaqueBackground();
    void outlinedTextCastsAShadowBelowIt();
    void cachedParagraphsEqualFreshOnes();
    void middleChangeKeepsTheRest();
    void longChangeIsReplacedNewestFirst();
    void longParagraphsAreReplacedInShorterSlices();
    void newestLineStaysAtTheBottom_data();
    void newestLineStaysAtTheBottom();
    void clickLeavesNoCaret();
    void keysScrollWithTheBarShown_data();
    void keysScrollWithTheBarShown();
};

void HistoryTextViewTest::sameParagraphsTouchNothing()
{
    ViewRig rig;
    const QList<Paragraph> paragraphs = {text(u"你好"_qs), text(u"再见"_qs, u"bye"_qs, true)};
    rig.view->setParagraphs(paragraphs, rig.look);
    const int revision = rig.doc()->revision();
    rig.view->setParagraphs(paragraphs, rig.look);
    QCOMPARE(rig.doc()->revision(), revision);
    QVERIFY(!rig.doc()->isUndoAvailable());
}

void HistoryTextViewTest::lengthsCountDocumentPositions()
{
    ViewRig rig;
    // Emoji and U+20000 take two UTF-16 units each; every line break one position.
    const QString astral = QString::fromUcs4(U"\U00020000");
    rig.view->setParagraphs({text(u"中文"_qs), text(u"😀"_qs + astral, u"ok"_qs)}, rig.look);
    QCOMPARE(rig.view->lengths(), QList<int>({3, 8}));
    QCOMPARE(rig.doc()->characterCount() - 1, 11);
}

void HistoryTextViewTest::incrementalEqualsFullRender()
{
    ViewRig rig;
    const QString astral = QString::fromUcs4(U"\U00020000");
    QList<Paragraph> paragraphs = {text(u"第一句"_qs, u"first"_qs)};
    rig.view->setParagraphs(paragraphs, rig.look);
    Paragraph second = text(u"😀 表情"_qs + astral, u"emoji"_qs);
    second.turn = true;
    paragraphs.append(second);
    rig.view->setParagraphs(paragraphs, rig.look);
    Paragraph rtl = text(u"עברית"_qs);
    rtl.live = u" growing"_qs;
    paragraphs.append(rtl);
    rig.view->setParagraphs(paragraphs, rig.look);
    // The middle one changes, the last one goes.
    paragraphs[1].secondary = u"emoji, revised 😀"_qs;
    paragraphs[1].highlights = {astral};
    paragraphs.removeLast();
    paragraphs.append(text(u"最后"_qs, {}, true));
    rig.view->setParagraphs(paragraphs, rig.look);

    ViewRig fresh;
    fresh.view->setParagraphs(paragraphs, fresh.look);
    QCOMPARE(rig.doc()->toPlainText(), fresh.doc()->toPlainText());
    QCOMPARE(textOnly(rig.doc()), textOnly(fresh.doc()));
    QCOMPARE(rig.view->lengths(), fresh.view->lengths());
}

void HistoryTextViewTest::middleChangeKeepsTheRest()
{
    // Paragraphs after a changed one stay in the document; their gaps and separators with them.
    ViewRig rig;
    QList<Paragraph> paragraphs = many(6);
    paragraphs[3].turn = true;
    paragraphs[4].highlights = {u"English"_qs};
    paragraphs.last().latest = true;
    rig.view->setParagraphs(paragraphs, rig.look);
    int revisions = 0;
    connect(rig.doc(), &QTextDocument::contentsChange, rig.view.get(), [&](int, int, int) { ++revisions; });
    paragraphs[2].secondary.clear();
    paragraphs[3].primary = u"换人之后改过的一句"_qs;
    rig.view->setParagraphs(paragraphs, rig.look);
    paragraphs[1].turn = true;
    rig.view->setParagraphs(paragraphs, rig.look);
    paragraphs.remove(2);
    rig.view->setParagraphs(paragraphs, rig.look);
    QVERIFY(revisions > 0);

    ViewRig fresh;
    fresh.view->setParagraphs(paragraphs, fresh.look);
    QCOMPARE(rig.doc()->toPlainText(), fresh.doc()->toPlainText());
    QCOMPARE(textOnly(rig.doc()), textOnly(fresh.doc()));
    QCOMPARE(rig.view->lengths(), fresh.view->lengths());
}

void HistoryTextViewTest::longChangeIsReplacedNewestFirst()
{
    // At the end of a meeting every paragraph but the last three loses its English: the whole
    // history changes at once. The update must not rebuild it in one go on the main thread.
    ViewRig rig;
    const int count = 1200;
    QList<Paragraph> paragraphs = many(count);
    paragraphs.last().latest = true;
    rig.view->setParagraphs(paragraphs, rig.look);
    QTRY_VERIFY_WITH_TIMEOUT(rig.view->settled(), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.view->animating(), waitMs);

    QList<Paragraph> ended = olderChineseOnly(paragraphs);
    ended[count - 4].primary += u"（改）"_qs;
    ViewRig fresh;
    fresh.view->setParagraphs(ended, fresh.look);
    QTRY_VERIFY_WITH_TIMEOUT(fresh.view->settled(), waitMs);
    const QString expected = fresh.doc()->toPlainText();

    const int added = addedInOneTurn(rig, ended);
    QVERIFY2(added < expected.size() / 2, qPrintable(u"%1 of %2 characters in one turn"_qs.arg(added).arg(expected.size())));
    // The newest paragraphs show the change at once, and the newest line stays in view.
    const QString now = rig.doc()->toPlainText();
    const QString newest = expected.right(2000);
    QCOMPARE(now.right(newest.size()), newest);
    QScrollBar *bar = rig.view->verticalScrollBar();
    QCOMPARE(bar->value(), bar->maximum());

    // A newer update while the slices are still being replaced: the document ends as that one.
    ended.append(text(u"又来了一句"_qs, u"one more"_qs, true));
    ended[count - 1].latest = false;
    rig.view->setParagraphs(ended, rig.look);
    QTRY_VERIFY_WITH_TIMEOUT(rig.view->settled(), waitMs);
    fresh.view->setParagraphs(ended, fresh.look);
    QTRY_VERIFY_WITH_TIMEOUT(fresh.view->settled(), waitMs);
    QCOMPARE(rig.doc()->toPlainText(), fresh.doc()->toPlainText());
    QCOMPARE(textOnly(rig.doc()), textOnly(fresh.doc()));
    QCOMPARE(rig.view->lengths(), fresh.view->lengths());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.view->animating(), waitMs);
    QCOMPARE(bar->value(), bar->maximum());
}

void HistoryTextViewTest::longParagraphsAreReplacedInShorterSlices()
{
    // A meeting of long sentences: a turn of the loop renders by length, not by a count of
    // paragraphs, or the end of such a meeting renders most of it in one turn.
    ViewRig rig;
    const int count = 300;
    const QString english = u"and the budget for marketing needs another review before the board meets"_qs.repeated(3);
    QList<Paragraph> paragraphs;
    for (int i = 0; i < count; ++i)
        paragraphs.append(text(u"第%1段：市场预算还要再审一遍，董事会开会之前再看一次。"_qs.arg(i).repeated(3),
                               u"%1 "_qs.arg(i) + english));
    paragraphs.last().latest = true;
    rig.view->setParagraphs(paragraphs, rig.look);
    QTRY_VERIFY_WITH_TIMEOUT(rig.view->settled() && !rig.view->animating(), waitMs);

    const QList<Paragraph> ended = olderChineseOnly(paragraphs);
    ViewRig fresh;
    fresh.view->setParagraphs(ended, fresh.look);
    QTRY_VERIFY_WITH_TIMEOUT(fresh.view->settled(), waitMs);
    const QString expected = fresh.doc()->toPlainText();

    const int added = addedInOneTurn(rig, ended);
    QVERIFY2(added < expected.size() / 4, qPrintable(u"%1 of %2 characters in one turn"_qs.arg(added).arg(expected.size())));
    QTRY_VERIFY_WITH_TIMEOUT(rig.view->settled(), waitMs);
    QCOMPARE(rig.doc()->toPlainText(), expected);
    QScrollBar *bar = rig.view->verticalScrollBar();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.view->animating(), waitMs);
    QCOMPARE(bar->value(), bar->maximum());
}

void HistoryTextViewTest::appearanceChangeRendersEverything()
{
    ViewRig rig;
    rig.view->setParagraphs(many(3), rig.look);
    const QString before = rig.doc()->toHtml();
    CaptionAppearance bigger = rig.look.scaled(2);
    rig.view->setParagraphs(many(3), bigger);
    QVERIFY(rig.doc()->toHtml() != before);
    ViewRig fresh;
    fresh.view->setParagraphs(many(3), bigger);
    QCOMPARE(rig.doc()->toHtml(), fresh.doc()->toHtml());
    QCOMPARE(rig.view->followThreshold(), 2 * bigger.chineseSize);
}

void HistoryTextViewTest::alphaAndHighlights()
{
    ViewRig rig;
    Paragraph old = text(u"旧的一句"_qs);
    Paragraph onlySecondary;
    onlySecondary.secondary = u"English only"_qs;
    Paragraph newest = text(u"新的 Anna 和 Anna"_qs, {}, true);
    newest.highlights = {u"Anna"_qs, QString()};
    rig.view->setParagraphs({old, onlySecondary, newest}, rig.look);
    const double chineseAlpha = rig.look.effective().chineseColor.a;
    const double englishAlpha = rig.look.effective().englishColor.a;

    QVERIFY(sameAlpha(rig.formatAt(0).foreground().color(), chineseAlpha * 0.78));
    const int second = rig.view->lengths().at(0);
    QVERIFY(sameAlpha(rig.formatAt(second).foreground().color(), englishAlpha * 0.78 * 0.5));
    // Not the first paragraph: the gap before it.
    QCOMPARE(rig.doc()->findBlock(second).blockFormat().topMargin(), 0.75 * rig.look.chineseSize);
    const int third = second + rig.view->lengths().at(1);
    QVERIFY(sameAlpha(rig.formatAt(third).foreground().color(), chineseAlpha));

    const QString plain = u"新的 Anna 和 Anna"_qs;
    int underlined = 0;
    for (int i = 0; i < plain.size(); ++i)
        underlined += rig.formatAt(third + i).fontUnderline() ? 1 : 0;
    QCOMPARE(underlined, 8);
    QVERIFY(rig.formatAt(third + int(plain.indexOf(u"Anna"_qs))).fontUnderline());
    QVERIFY(!rig.formatAt(third).fontUnderline());
}

void HistoryTextViewTest::unseenWhilePaused()
{
    ViewRig rig;
    rig.view->setParagraphs(many(2), rig.look);
    rig.view->setPaused(true);
    rig.view->setParagraphs(many(5), rig.look);
    QCOMPARE(rig.view->unseen(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(rig.state.unseen(), 3, waitMs);
    rig.view->setPaused(false);
    QCOMPARE(rig.view->unseen(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(rig.state.unseen(), 0, waitMs);
    // Ending the pause scrolls to the newest line.
    QTRY_VERIFY_WITH_TIMEOUT(!rig.view->animating(), waitMs);
    QCOMPARE(rig.view->verticalScrollBar()->value(), rig.view->verticalScrollBar()->maximum());
}

void HistoryTextViewTest::scrollingUpStopsFollowing()
{
    ViewRig rig;
    rig.view->setParagraphs(many(40), rig.look);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.view->animating(), waitMs);
    QScrollBar *bar = rig.view->verticalScrollBar();
    const int bottom = bar->value();
    QVERIFY(bottom > 500);
    // Small steps keep following.
    bar->setValue(bottom - 3);
    QVERIFY(rig.view->follow());
    bar->setValue(bottom - 400);
    QVERIFY(!rig.view->follow());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.state.following(), waitMs);
    // While browsing a new paragraph neither scrolls nor counts.
    rig.view->setParagraphs(many(41), rig.look);
    QCOMPARE(bar->value(), bottom - 400);
    QCOMPARE(rig.view->unseen(), 0);
    // The jump action follows again and goes to the bottom.
    QVERIFY(rig.state.jump);
    rig.state.jump();
    QTRY_VERIFY_WITH_TIMEOUT(rig.state.following(), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.view->animating(), waitMs);
    QCOMPARE(bar->value(), bar->maximum());
}

void HistoryTextViewTest::followThreshold()
{
    ViewRig rig;
    QCOMPARE(rig.view->followThreshold(), 52.0);
    CaptionAppearance look;
    look.chineseSize = 26;
    rig.view->setParagraphs(many(1), look);
    QCOMPARE(rig.view->followThreshold(), 52.0);
    look.chineseSize = 10;
    rig.view->setParagraphs(many(1), look);
    QCOMPARE(rig.view->followThreshold(), 24.0);
}

void HistoryTextViewTest::historyParagraphs()
{
    const auto saved = ChineseScript::toTraditional;
    const auto restore = qScopeGuard([&] { ChineseScript::toTraditional = saved; });
    ChineseScript::toTraditional = [](const QString &text) { return u"[繁]"_qs + text; };

    QList<CaptionLine> lines;
    for (int i = 0; i < 5; ++i) {
        CaptionLine line;
        line.id = i;
        line.english = u"Sentence number %1."_qs.arg(i);
        line.chinese = u"第%1句。"_qs.arg(i);
        line.finished = true;
        line.language = SpeechLanguage::english;
        lines.append(line);
    }
    HistoryView::Inputs in;
    in.lines = lines;
    in.mode = DisplayMode::both;

    // All parts on, recognition paused: the older ones lose their English.
    QList<Paragraph> paragraphs = HistoryView::paragraphs(in);
    QCOMPARE(paragraphs.size(), 5);
    QVERIFY(paragraphs.at(0).older);
    QVERIFY(paragraphs.at(0).secondary.isEmpty());
    QVERIFY(!paragraphs.at(2).older);
    QVERIFY(paragraphs.last().latest);
    // While recognition runs they keep it.
    in.live = true;
    paragraphs = HistoryView::paragraphs(in);
    QCOMPARE(paragraphs.at(0).secondary, u"Sentence number 0."_qs);
    // Traditional script for the Chinese primary only.
    in.parts.traditional = true;
    paragraphs = HistoryView::paragraphs(in);
    QCOMPARE(paragraphs.at(0).primary, u"[繁]第0句。"_qs);
    QCOMPARE(paragraphs.at(0).secondary, u"Sentence number 0."_qs);
    // Chinese part off: the English moves up.
    in.parts = CaptionParts();
    in.parts.chinese = false;
    paragraphs = HistoryView::paragraphs(in);
    QCOMPARE(paragraphs.at(0).primary, u"Sentence number 0."_qs);
    QVERIFY(paragraphs.at(0).secondary.isEmpty());
    // Other modes are not filtered.
    in.mode = DisplayMode::chinese;
    paragraphs = HistoryView::paragraphs(in);
    QCOMPARE(paragraphs.size(), 5);
    QCOMPARE(paragraphs.at(0).primary, u"第0句。"_qs);
}

void HistoryTextViewTest::fadeOnlyWhileBrowsingOverOpaqueBackground()
{
    HistoryScrollState state;
    HistoryView view(&state);
    HistoryView::Inputs in;
    in.scroll = &state;
    in.browsing = true;
    in.appearance.background.a = 0.9;
    QVERIFY(view.setInputs(in));
    QVERIFY(view.fades());
    // Equal inputs rebuild nothing.
    QVERIFY(!view.setInputs(in));
    in.appearance.background.a = 0.4;
    view.setInputs(in);
    QVERIFY(!view.fades());
    in.appearance.background.a = 0.9;
    in.browsing = false;
    view.setInputs(in);
    QVERIFY(!view.fades());
}

void HistoryTextViewTest::outlinedTextCastsAShadowBelowIt()
{
    // White text on the transparent view, once plain and once outlined: every pixel with alpha
    // is ink, outline or shadow. The outline hugs the glyphs (under 1 px at this size); what
    // lies 2 px or more away from the plain ink is shadow.
    const auto render = [](bool outline) {
        ViewRig rig;
        rig.look.chineseColor = RGBA {1, 1, 1, 1};
        rig.look.englishColor = RGBA {1, 1, 1, 1};
        rig.look.outline = outline;
        Paragraph turn = text(u"第二位发言人"_qs, u"Second speaker"_qs, true);
        turn.turn = true;
        rig.view->setParagraphs({text(u"第一句话"_qs, u"First line"_qs), turn}, rig.look);
        QCoreApplication::processEvents();
        return rig.view->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    };
    const QImage plain = render(false);
    const QImage outlined = render(true);
    QCOMPARE(plain.size(), outlined.size());
    const auto inkNear = [&](int x, int y, int reach) {
        for (int dy = -reach; dy <= reach; ++dy) {
            for (int dx = -reach; dx <= reach; ++dx) {
                const int px = x + dx;
                const int py = y + dy;
                if (px >= 0 && py >= 0 && px < plain.width() && py < plain.height() && qAlpha(plain.pixel(px, py)) > 0)
                    return true;
            }
        }
        return false;
    };
    int shadow = 0;
    int below = 0;
    int above = 0;
    for (int y = 0; y < outlined.height(); ++y) {
        for (int x = 0; x < outlined.width(); ++x) {
            const QRgb pixel = outlined.pixel(x, y);
            if (qAlpha(pixel) < 24 || inkNear(x, y, 1))
                continue;
            ++shadow;
            // Black, not text.
            QVERIFY(qRed(pixel) < 64 && qGreen(pixel) < 64 && qBlue(pixel) < 64);
            // One pixel down: more of it under the glyphs than over them.
            if (y >= 2 && qAlpha(plain.pixel(x, y - 2)) > 0)
                ++below;
            if (y + 2 < plain.height() && qAlpha(plain.pixel(x, y + 2)) > 0)
                ++above;
        }
    }
    QVERIFY2(shadow > 50, qPrintable(QString::number(shadow)));
    QVERIFY2(below > above, qPrintable(u"%1 below, %2 above"_qs.arg(below).arg(above)));
}

void HistoryTextViewTest::cachedParagraphsEqualFreshOnes()
{
    const auto saved = ChineseScript::toTraditional;
    const auto restore = qScopeGuard([&] { ChineseScript::toTraditional = saved; });
    ChineseScript::toTraditional = [](const QString &text) { return u"[繁]"_qs + text; };

    const auto line = [](int id, const QString &english, const QString &chinese, bool finished,
                         std::optional<SpeechLanguage> language, const QString &alt = {}) {
        CaptionLine l;
        l.id = id;
        l.english = english;
        l.chinese = chinese;
        l.finished = finished;
        l.language = language;
        l.alt = alt;
        l.newTurn = id == 2;
        return l;
    };
    HistoryScrollState state;
    HistoryView view(&state);
    HistoryView::Inputs in;
    in.scroll = &state;
    in.live = true;
    in.lines = {line(0, u"We start now."_qs, u"我们现在开始。"_qs, true, SpeechLanguage::english),
                line(1, u"预算要重新讨论"_qs, u"The budget needs another look"_qs, true, std::nullopt),
                line(2, u"Empezamos 🙂"_qs, u"我们开始 𠀀"_qs, true, SpeechLanguage::other, u"We begin"_qs),
                line(3, u"And the next"_qs, QString(), false, SpeechLanguage::english)};
    in.liveEnglish = u"quarter"_qs;

    // Each step changes one input the way the meeting does; the cached answer must always be
    // the one made from scratch.
    QList<std::function<void()>> steps = {
        [] {},
        [&] { in.liveEnglish += u" plan"_qs; },
        [&] { in.liveInline = true; },
        [&] { in.liveEnglish = u"季度计划"_qs; },
        [&] { in.lines[1].chinese = u"The budget needs a second look"_qs; },
        [&] { in.lines.last().finished = true; },
        [&] { in.lines.append(line(4, u"第五句"_qs, QString(), false, SpeechLanguage::chinese)); },
        [&] { in.pending = {3}; },
        [&] { in.parts.traditional = true; },
        [&] { in.parts.chinese = false; },
        [&] { in.parts = CaptionParts(); in.parts.english = false; },
        [&] { in.live = false; in.liveEnglish.clear(); },
        [&] { in.mode = DisplayMode::chinese; },
        [&] { in.mode = DisplayMode::english; in.liveEnglish = u"more"_qs; },
        [&] { in.lines.removeLast(); },
        [&] { in.lines.clear(); },
        [&] { in.mode = DisplayMode::both; in.liveInline = false; },
    };
    for (qsizetype i = 0; i < steps.size(); ++i) {
        steps[i]();
        QVERIFY2(view.cachedParagraphs(in) == HistoryView::paragraphs(in), qPrintable(u"step %1"_qs.arg(i)));
    }
}

namespace {

// Why the newest line does not sit at the bottom of the view, or nothing: the view is at the
// end of its range, the newest text's last row lies inside it, and below the text there is
// the bottom inset and the blank of the held height, no more and no less.
QString newestNotAtBottom(HistoryTextView &view)
{
    const QTextDocument *doc = view.document();
    const QScrollBar *bar = view.verticalScrollBar();
    const QTextBlock last = doc->lastBlock().previous();
    const QTextLayout *rows = last.layout();
    if (!rows || rows->lineCount() == 0)
        return u"no laid-out text"_qs;
    const QTextLine row = rows->lineAt(rows->lineCount() - 1);
    const double visible = view.viewport()->height();
    const double rowTop = rows->position().y() + row.y() - bar->value();
    const double rowBottom = rowTop + row.height();
    const double content = doc->documentLayout()->blockBoundingRect(last).bottom();
    const double blank = std::max(view.heldHeight() - content, 0.0);
    const double textBottom = content - bar->value();
    const QString state = u"newest row %1 to %2 in a view of %3; scrollbar %4 of %5; text ends at %6, held %7"_qs
                              .arg(rowTop).arg(rowBottom).arg(visible).arg(bar->value()).arg(bar->maximum())
                              .arg(textBottom).arg(view.heldHeight());
    if (bar->value() != bar->maximum())
        return u"not at the end: "_qs + state;
    // The scroll position is whole pixels: less than half a pixel off is not drawn.
    if (rowTop < -0.5 || rowBottom > visible + 0.5)
        return u"newest row out of view: "_qs + state;
    if (bar->maximum() > 0 && std::abs(textBottom - (visible - HistoryTextView::bottomInset - blank)) > 1)
        return u"wrong space below the text: "_qs + state;
    return {};
}

// The rows of the view below the newest text that hold a pixel other than the background's.
QString drawnBelowText(HistoryTextView &view)
{
    const QImage shot = view.viewport()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QTextDocument *doc = view.document();
    const double textBottom = doc->documentLayout()->blockBoundingRect(doc->lastBlock().previous()).bottom();
    const int first = int(std::ceil(textBottom)) - view.verticalScrollBar()->value() + 1;
    const QRgb background = shot.pixel(shot.width() - 1, shot.height() - 1);
    QString drawn;
    for (int y = std::max(first, 0); y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            if (shot.pixel(x, y) != background) {
                drawn += u"%1,%2 "_qs.arg(x).arg(y);
                break;
            }
        }
    }
    return drawn;
}

}

void HistoryTextViewTest::newestLineStaysAtTheBottom_data()
{
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("then");
    QTest::newRow("a few lines, tall panel") << 400 << 3 << u"nothing"_qs;
    QTest::newRow("hundreds of lines, short panel") << 120 << 400 << u"nothing"_qs;
    QTest::newRow("hundreds of lines, one more each turn") << 120 << 300 << u"one more each turn"_qs;
    QTest::newRow("one more each turn, no turn between") << 120 << 300 << u"one more at once"_qs;
    QTest::newRow("newest line grows and shrinks") << 120 << 300 << u"newest shrinks"_qs;
    QTest::newRow("held height larger than the panel") << 60 << 300 << u"newest shrinks"_qs;
    QTest::newRow("panel made shorter") << 300 << 300 << u"shorter panel"_qs;
}

// Following, the newest line sits at the bottom of the view whatever the history's length,
// the panel's height, or how the newest paragraph changes.
void HistoryTextViewTest::newestLineStaysAtTheBottom()
{
    QFETCH(int, height);
    QFETCH(int, count);
    QFETCH(QString, then);
    ViewRig rig;
    rig.view->resize(400, height);
    QList<Paragraph> paragraphs = many(count);
    paragraphs.last().latest = true;
    rig.view->setParagraphs(paragraphs, rig.look);
    const auto atBottom = [&](const QString &when) {
        QTRY_VERIFY_WITH_TIMEOUT(rig.view->settled() && !rig.view->animating(), waitMs);
        QTRY_VERIFY2_WITH_TIMEOUT(newestNotAtBottom(*rig.view).isEmpty(),
                                  qPrintable(when + u": "_qs + newestNotAtBottom(*rig.view)), waitMs);
    };
    atBottom(u"first update"_qs);
    if (then == u"one more each turn" || then == u"one more at once") {
        for (int i = 0; i < 6; ++i) {
            paragraphs.last().latest = false;
            paragraphs.append(text(u"新的一句，第%1句，很长很长很长很长很长很长很长很长很长很长很长很长很长"_qs.arg(i),
                                   u"A new line, number %1"_qs.arg(i), true));
            rig.view->setParagraphs(paragraphs, rig.look);
            if (then == u"one more each turn")
                atBottom(u"line %1"_qs.arg(i));
        }
    } else if (then == u"newest shrinks") {
        Paragraph &newest = paragraphs.last();
        newest.live = u" 后面又说了很长很长很长很长很长很长很长很长很长很长很长的一段话还没说完"_qs;
        rig.view->setParagraphs(paragraphs, rig.look);
        atBottom(u"grown"_qs);
        newest.live.clear();
        newest.secondary.clear();
        rig.view->setParagraphs(paragraphs, rig.look);
    } else if (then == u"shorter panel") {
        rig.view->resize(400, 100);
    }
    atBottom(then);
}

// The history is for reading: a click in it, on the text or below the newest line, leaves no
// caret and nothing else behind.
void HistoryTextViewTest::clickLeavesNoCaret()
{
    ViewRig rig;
    QVERIFY(QTest::qWaitForWindowActive(rig.view.get()));
    rig.view->setParagraphs(many(40), rig.look);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.view->animating(), waitMs);
    QWidget *viewport = rig.view->viewport();
    QCOMPARE(drawnBelowText(*rig.view), QString());
    const QImage before = viewport->grab().toImage();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(60, viewport->height() / 3));
    QVERIFY(rig.view->hasFocus());
    QVERIFY(viewport->grab().toImage() == before);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(60, viewport->height() - 3));
    QCOMPARE(drawnBelowText(*rig.view), QString());
    QVERIFY(viewport->grab().toImage() == before);
}

void HistoryTextViewTest::keysScrollWithTheBarShown_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::newRow("up arrow") << int(Qt::Key_Up) << Qt::KeyboardModifiers();
    QTest::newRow("page up") << int(Qt::Key_PageUp) << Qt::KeyboardModifiers();
    QTest::newRow("shift space") << int(Qt::Key_Space) << Qt::KeyboardModifiers(Qt::ShiftModifier);
    QTest::newRow("home") << int(Qt::Key_Home) << Qt::KeyboardModifiers();
}

// Scrolling by keyboard shows the overlay bar as the wheel does.
void HistoryTextViewTest::keysScrollWithTheBarShown()
{
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    ViewRig rig;
    QVERIFY(QTest::qWaitForWindowActive(rig.view.get()));
    rig.view->setParagraphs(many(40), rig.look);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.view->animating(), waitMs);
    QTest::mouseClick(rig.view->viewport(), Qt::LeftButton, {}, QPoint(60, 20));
    QScrollBar *bar = rig.view->verticalScrollBar();
    const int bottom = bar->value();
    QVERIFY(bottom > 0);
    QVERIFY(!rig.view->overlayBar()->isVisible());
    QTest::keyClick(rig.view.get(), Qt::Key(key), modifiers);
    QVERIFY2(bar->value() < bottom, qPrintable(u"%1 of %2"_qs.arg(bar->value()).arg(bottom)));
    QVERIFY(rig.view->overlayBar()->isVisible());
    QCOMPARE(rig.view->overlayBar()->value(), bar->value());
}

DODEDAROV_TEST(HistoryTextViewTest)
#include "HistoryTextViewTest.moc"
