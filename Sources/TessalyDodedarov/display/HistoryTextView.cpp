#include "display/HistoryTextView.h"

#include "captions/FontFamilies.h"
#include "display/Colors.h"
#include "display/HistoryScrollState.h"
#include "display/OverlayScrollBar.h"
#include "speech/SpeechLanguage.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QHash>
#include <QPropertyAnimation>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

QFont captionFont(const QString &family, double size, bool chinese)
{
    QFont font = QApplication::font();
    const QString installed = chinese ? FontFamilies::chinese(family) : FontFamilies::installed(family);
    // A family that is not installed gives the system font, as an empty one does.
    if (!installed.isEmpty() && QFontDatabase::hasFamily(installed))
        font.setFamily(installed);
    // The default font may name no family at all: its resolved family then leads the list.
    QStringList families = font.families();
    if (families.isEmpty())
        families.append(QFontInfo(font).family());
    font.setFamilies(FontFamilies::withHanFace(families));
    font.setWeight(QFont::Medium);
    font.setPixelSize(std::max(1, int(std::lround(size))));
    return font;
}

}

// One render pass's fonts and colours, from the look after its contrast fix.
struct HistoryTextView::Style {
    QFont chineseFont;
    QFont englishFont;
    QColor chineseColor;
    QColor englishColor;
    bool outline = false;
    double chineseSize = 26;
    QColor highlightColor;

    explicit Style(const CaptionAppearance &look)
    {
        const CaptionAppearance effective = look.effective();
        chineseFont = captionFont(effective.chineseFont, effective.chineseSize, true);
        englishFont = captionFont(effective.englishFont, effective.englishSize, false);
        chineseColor = Colors::toQColor(effective.chineseColor);
        englishColor = Colors::toQColor(effective.englishColor);
        outline = effective.outline;
        chineseSize = effective.chineseSize;
        highlightColor = Colors::toQColor(effective.highlightColor());
    }

    // Working out a text's language cuts it into words: across thousands of paragraphs that is
    // most of a full render. It depends on the text alone, so each text's answer is kept; the
    // live text's words add new texts several times a second, so the memory is bounded.
    mutable QHash<QString, bool> chineseTexts;
    static constexpr qsizetype rememberedTexts = 40000;

    bool isChinese(const QString &text) const
    {
        const auto found = chineseTexts.constFind(text);
        if (found != chineseTexts.cend())
            return *found;
        if (chineseTexts.size() >= rememberedTexts)
            chineseTexts.clear();
        const bool chinese = SpeechLanguage(text) == SpeechLanguage::chinese;
        chineseTexts.insert(text, chinese);
        return chinese;
    }

    QTextCharFormat attributes(const QString &text, double alpha, const QFont *font = nullptr) const
    {
        const bool chinese = isChinese(text);
        QTextCharFormat format;
        format.setFont(font ? *font : chinese ? chineseFont : englishFont);
        QColor color = chinese ? chineseColor : englishColor;
        color.setAlphaF(float(color.alphaF() * alpha));
        format.setForeground(color);
        if (outline) {
            // Three per cent of the font size, drawn around the glyphs.
            QPen pen(QColor::fromRgbF(0, 0, 0, float(alpha)));
            pen.setWidthF(format.font().pixelSize() * 0.03);
            format.setTextOutline(pen);
            format.setProperty(TextShadow::alphaProperty, alpha);
        }
        return format;
    }
};

HistoryTextView::~HistoryTextView() = default;

HistoryTextView::HistoryTextView(HistoryScrollState *scroll, QWidget *parent)
    : QTextEdit(parent)
    , m_state(scroll)
    , m_animation(new QPropertyAnimation(verticalScrollBar(), "value", this))
{
    setReadOnly(true);
    // Selectable with the mouse only: selecting by keyboard would put a blinking caret in the
    // text, which is there to be read. The keys then scroll instead of moving a caret.
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The text edit's own bar would take width from the text and draw a light, arrowed bar on
    // the dark panel; it stays off (it still holds the range and scrolls with the wheel), and a
    // thin overlay bar mirrors it.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_overlay = new OverlayScrollBar(verticalScrollBar(), this);
    setLineWrapMode(QTextEdit::WidgetWidth);
    QPalette clear = palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    setPalette(clear);
    viewport()->setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground);
    // Undo would keep a copy of every edit for the whole meeting.
    document()->setUndoRedoEnabled(false);
    document()->setDocumentMargin(0);

    m_animation->setDuration(350);
    connect(m_animation, &QPropertyAnimation::finished, this, [this] {
        m_animating = false;
        m_lastOffset = verticalScrollBar()->value();
    });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &HistoryTextView::boundsChanged);
    connect(document(), &QTextDocument::contentsChanged, this, [this] { m_shadow.invalidate(); });

    if (m_state) {
        QPointer<HistoryTextView> self = this;
        m_state->jump = [self] {
            if (!self)
                return;
            self->setFollow(true);
            self->setUnseen(0);
            self->scrollToBottom(true);
        };
    }
}

void HistoryTextView::setFollow(bool on)
{
    if (on == m_follow)
        return;
    m_follow = on;
    QPointer<HistoryScrollState> state = m_state;
    QMetaObject::invokeMethod(this, [state, on] {
        if (state)
            state->setFollowing(on);
    }, Qt::QueuedConnection);
}

void HistoryTextView::setUnseen(int count)
{
    if (count == m_unseen)
        return;
    m_unseen = count;
    QPointer<HistoryScrollState> state = m_state;
    QMetaObject::invokeMethod(this, [state, count] {
        if (state)
            state->setUnseen(count);
    }, Qt::QueuedConnection);
}

void HistoryTextView::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    if (!paused) {
        setUnseen(0);
        if (m_follow)
            scrollToBottom(true);
    }
}

double HistoryTextView::followThreshold() const
{
    return m_renderedAppearance ? std::max(24.0, 2 * m_renderedAppearance->chineseSize) : 52.0;
}

void HistoryTextView::setParagraphs(const QList<HistoryText::Paragraph> &paragraphs, const CaptionAppearance &appearance)
{
    m_target = paragraphs;
    m_targetAppearance = appearance;
    applyTarget();
}

void HistoryTextView::applyTarget()
{
    const QList<HistoryText::Paragraph> paragraphs = m_target;
    const bool newLook = !m_renderedAppearance || *m_renderedAppearance != m_targetAppearance;
    if (newLook || paragraphs.size() < 2)
        m_heldHeight = 0;
    const std::optional<HistoryChange> change =
        HistoryChange::between(m_rendered, m_lengths, paragraphs, newLook, sliceCharacters);
    if (!change)
        return;

    // The newest paragraph shown before the edit is the one the view keeps in place.
    const qsizetype oldCount = m_rendered.size();
    const qsizetype anchor = oldCount - 1;
    std::optional<double> oldTop;
    if (!newLook && anchor >= 0 && anchor < paragraphs.size())
        oldTop = top(int(anchor), m_lengths);
    if (newLook) {
        m_renderedAppearance = m_targetAppearance;
        m_rendered.clear();
        m_lengths.clear();
    }
    const QList<int> lengths = replaceParagraphs(*change, paragraphs, newLook);
    keepRendered(*change, paragraphs, lengths);

    if (m_follow && oldTop)
        holdAnchor(int(anchor), *oldTop);
    if (m_paused && m_follow)
        setUnseen(m_unseen + int(std::max<qsizetype>(m_rendered.size() - oldCount, 0)));
    if (m_follow && !m_paused)
        scrollToBottom(change->start >= oldCount);
    if (!change->complete && !m_sliceQueued) {
        m_sliceQueued = true;
        QTimer::singleShot(0, this, [this] {
            m_sliceQueued = false;
            applyTarget();
        });
    }
}

QList<int> HistoryTextView::replaceParagraphs(const HistoryChange &change,
                                              const QList<HistoryText::Paragraph> &paragraphs, bool newLook)
{
    // Resolving the families through fontconfig costs more than rendering a paragraph: the
    // fonts and colours are made once per look.
    if (newLook || !m_style || m_styleBaseFont != QApplication::font()) {
        m_style = std::make_unique<Style>(m_targetAppearance);
        m_styleBaseFont = QApplication::font();
    }
    const Style &style = *m_style;
    m_outline = style.outline;
    m_updating = true;
    QTextDocument *doc = document();
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    cursor.setPosition(change.startChar);
    // The first kept paragraph's first line merges into the edit: its formats are put back.
    QTextBlockFormat keptBlock;
    QTextCharFormat keptChars;
    if (change.kept > 0) {
        const QTextBlock next = doc->findBlock(change.startChar + change.removedChars);
        keptBlock = next.blockFormat();
        keptChars = next.charFormat();
        cursor.setPosition(change.startChar + change.removedChars, QTextCursor::KeepAnchor);
    } else {
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    }
    cursor.removeSelectedText();
    QList<int> lengths;
    lengths.reserve(change.newCount);
    for (qsizetype i = change.to; i < change.newEnd; ++i)
        lengths.append(render(cursor, paragraphs.at(i), i == 0, style));
    if (change.kept > 0) {
        cursor.setBlockFormat(keptBlock);
        cursor.setBlockCharFormat(keptChars);
    } else {
        formatTailBlock(cursor);
    }
    cursor.endEditBlock();
    m_updating = false;
    return lengths;
}

void HistoryTextView::formatTailBlock(QTextCursor &cursor) const
{
    // The last, empty block carries the bottom inset and the held height.
    QTextBlockFormat tail;
    tail.setBottomMargin(m_tailMargin);
    cursor.setBlockFormat(tail);
    // An empty block still takes the height of its font's line: a one-pixel font keeps
    // that line from pushing the view off its text.
    QTextCharFormat tiny;
    QFont font = cursor.blockCharFormat().font();
    font.setPixelSize(1);
    tiny.setFont(font);
    cursor.setBlockCharFormat(tiny);
    cursor.setCharFormat(tiny);
}

void HistoryTextView::keepRendered(const HistoryChange &change, const QList<HistoryText::Paragraph> &paragraphs,
                                   const QList<int> &lengths)
{
    // Only the changed paragraphs are replaced in the kept lists too: dropping a whole
    // meeting's paragraphs on every update would cost as much as the meeting is long.
    const qsizetype from = change.from;
    m_lengths.remove(from, std::min(change.oldEnd, m_lengths.size()) - from);
    m_lengths.insert(from, change.newCount, 0);
    std::copy(lengths.cbegin(), lengths.cend(), m_lengths.begin() + from);
    if (change.complete && change.kept == 0 && !m_rendered.isDetached()) {
        m_rendered = paragraphs; // a list shared with the caller is just taken
    } else {
        m_rendered.remove(from, change.oldEnd - from);
        m_rendered.insert(from, change.newCount, HistoryText::Paragraph());
        std::copy(paragraphs.cbegin() + change.to, paragraphs.cbegin() + change.newEnd, m_rendered.begin() + from);
    }
    // Once the document shows the whole target, one list of a meeting's paragraphs serves as both.
    if (change.complete)
        m_target = m_rendered;
}

void HistoryTextView::holdAnchor(int anchor, double oldTop)
{
    const std::optional<double> newTop = top(anchor, m_lengths);
    if (!newTop || *newTop >= oldTop - 0.5)
        return;
    // Text above the last shown paragraph got shorter: keep that paragraph in place.
    const double lost = oldTop - *newTop;
    m_updating = true;
    m_heldHeight = std::max(m_heldHeight - lost, 0.0);
    m_animation->stop();
    m_animating = false;
    QScrollBar *bar = verticalScrollBar();
    bar->setValue(std::max(int(std::lround(bar->value() - lost)), 0));
    m_lastOffset = bar->value();
    m_updating = false;
}

int HistoryTextView::render(QTextCursor &cursor, const HistoryText::Paragraph &p, bool isFirst, const Style &style)
{
    const int begin = cursor.position();
    const double latest = p.latest ? 1.0 : 0.78;
    const double gap = 0.75 * style.chineseSize;
    QString plain;
    const auto piece = [&](const QString &text, const QTextCharFormat &format) {
        cursor.insertText(text, format);
        plain += text;
    };
    const auto lineBreak = [&](const QTextCharFormat &format) {
        cursor.insertBlock(cursor.blockFormat(), format);
        plain += u'\n';
    };
    const auto blockFormat = [&](double before) {
        QTextBlockFormat format;
        format.setTopMargin(before);
        format.setBottomMargin(3);
        format.setLineHeight(0.12 * style.chineseSize, QTextBlockFormat::LineDistanceHeight);
        return format;
    };

    if (p.turn && !isFirst) {
        QTextBlockFormat separator;
        separator.setTopMargin(gap);
        cursor.setBlockFormat(separator);
        QFont font = QApplication::font();
        font.setPixelSize(int(std::lround(std::max(0.4 * style.chineseSize, 8.0))));
        QTextCharFormat format;
        format.setFont(font);
        QColor color = style.englishColor;
        color.setAlphaF(0.3f);
        format.setForeground(color);
        piece(QStringLiteral("———"), format);
        lineBreak(format);
    }
    const bool firstLine = !p.primary.isEmpty() || !p.live.isEmpty();
    if (firstLine) {
        cursor.setBlockFormat(blockFormat(isFirst ? 0 : p.turn ? 0.3 * gap : gap));
        if (!p.primary.isEmpty())
            piece(p.primary, style.attributes(p.primary, p.primaryDim ? latest * 0.5 : latest));
        if (!p.live.isEmpty())
            piece(p.live, style.attributes(p.live, 0.6));
        const QString &ending = p.primary.isEmpty() ? p.live : p.primary;
        lineBreak(style.attributes(ending, 1.0));
    }
    if (!p.secondary.isEmpty()) {
        cursor.setBlockFormat(blockFormat(firstLine || isFirst ? 0 : gap));
        const QTextCharFormat format = style.attributes(p.secondary, firstLine ? latest * 0.85 : latest * 0.5);
        piece(p.secondary, format);
        lineBreak(format);
    }
    if (!p.original.isEmpty()) {
        cursor.setBlockFormat(blockFormat(firstLine || !p.secondary.isEmpty() || isFirst ? 0 : gap));
        QFont font = style.englishFont;
        font.setPixelSize(int(std::lround(std::max(0.85 * style.englishFont.pixelSize(), 10.0))));
        const QTextCharFormat format = style.attributes(p.original, latest * 0.6, &font);
        piece(p.original, format);
        lineBreak(format);
    }
    if (!p.highlights.isEmpty()) {
        QTextCharFormat mark;
        mark.setForeground(style.highlightColor);
        mark.setFontUnderline(true);
        QColor underline = style.highlightColor;
        underline.setAlphaF(0.6f);
        mark.setUnderlineColor(underline);
        QTextCursor marker(cursor.document());
        for (const QString &term : p.highlights) {
            if (term.isEmpty())
                continue;
            for (qsizetype at = plain.indexOf(term); at >= 0; at = plain.indexOf(term, at + term.size())) {
                marker.setPosition(begin + int(at));
                marker.setPosition(begin + int(at + term.size()), QTextCursor::KeepAnchor);
                marker.mergeCharFormat(mark);
            }
        }
    }
    return cursor.position() - begin;
}

std::optional<double> HistoryTextView::top(int paragraph, const QList<int> &lengths) const
{
    if (paragraph < 0 || paragraph >= lengths.size())
        return std::nullopt;
    int index = 0;
    for (int i = 0; i < paragraph; ++i)
        index += lengths.at(i);
    QTextDocument *doc = document();
    if (index >= doc->characterCount() - 1)
        return std::nullopt;
    const QTextBlock block = doc->findBlock(index);
    const QRectF bounds = doc->documentLayout()->blockBoundingRect(block);
    const QTextLayout *layout = block.layout();
    double y = bounds.top();
    if (layout && layout->lineCount() > 0) {
        const QTextLine line = layout->lineForTextPosition(index - block.position());
        if (line.isValid())
            y += line.y();
    }
    return y;
}

double HistoryTextView::contentHeight() const
{
    // The bottom of the last paragraph's text, from its laid-out block: asking for the block
    // lays the document out up to it. The document's size is no measure here: the layout of
    // a large document runs in steps after an edit, and the size it reports may not yet carry
    // the tail block's margin, so subtracting that margin gave a height short by the margin.
    const QTextBlock tail = document()->lastBlock();
    const QTextBlock last = tail.previous();
    if (!last.isValid())
        return 0;
    return document()->documentLayout()->blockBoundingRect(last).bottom();
}

double HistoryTextView::holdHeight(double content, double visible)
{
    const double limit = m_renderedAppearance ? 3.5 * m_renderedAppearance->chineseSize : 91.0;
    const double width = viewport()->width();
    if (std::abs(width - m_heldWidth) > 1 || content >= m_heldHeight)
        m_heldHeight = content;
    else if (m_heldHeight - content > limit)
        m_heldHeight = content + limit;
    // Never so much blank that the newest line's last row leaves a short panel's view.
    const QTextBlock last = document()->lastBlock().previous();
    const QTextLayout *rows = last.isValid() ? last.layout() : nullptr;
    if (rows && rows->lineCount() > 0) {
        const double room = std::max(visible - bottomInset - rows->lineAt(rows->lineCount() - 1).height(), 0.0);
        m_heldHeight = std::min(m_heldHeight, content + room);
    }
    m_heldWidth = width;
    applyBottomMargin(content, std::max(m_heldHeight, visible - bottomInset));
    return m_heldHeight;
}

void HistoryTextView::applyBottomMargin(double content, double minimumHeight)
{
    const double margin = std::max(minimumHeight - content, 0.0) + bottomInset;
    if (std::abs(margin - m_tailMargin) <= 0.5)
        return;
    m_tailMargin = margin;
    m_updating = true;
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    QTextBlockFormat tail = cursor.blockFormat();
    tail.setBottomMargin(margin);
    cursor.setBlockFormat(tail);
    m_updating = false;
}

void HistoryTextView::scrollToBottom(bool animated)
{
    const double content = contentHeight();
    const double visible = viewport()->height();
    const double held = holdHeight(content, visible);
    // The bottom of the document as the scroll range measures it: the tail block, with the
    // margin that carries the bottom inset and the held height.
    QAbstractTextDocumentLayout *layout = document()->documentLayout();
    const double bottom = std::max({layout->blockBoundingRect(document()->lastBlock()).bottom(),
                                    layout->documentSize().height(), held + bottomInset});
    QScrollBar *bar = verticalScrollBar();
    const int target = int(std::lround(std::max(bottom - visible, 0.0)));
    m_lastOffset = target;
    // The range follows the document's size; make sure it already covers the target.
    if (bar->maximum() < target)
        bar->setRange(0, target);
    if (animated && std::abs(bar->value() - target) > 1) {
        m_animating = true;
        m_animation->stop();
        m_animation->setStartValue(bar->value());
        m_animation->setEndValue(target);
        m_animation->start();
        return;
    }
    m_animation->stop();
    m_animating = false;
    m_updating = true;
    bar->setValue(target);
    m_updating = false;
}

void HistoryTextView::boundsChanged()
{
    if (m_updating || m_animating)
        return;
    const double y = verticalScrollBar()->value();
    const double used = std::max(m_heldHeight, contentHeight());
    const double distance = used + bottomInset - (y + viewport()->height());
    if (distance <= followThreshold())
        setFollow(true);
    else if (y < m_lastOffset - 4)
        setFollow(false);
    m_lastOffset = y;
}

void HistoryTextView::resizeEvent(QResizeEvent *event)
{
    QTextEdit::resizeEvent(event);
    m_overlay->place();
    if (m_follow && !m_paused && !m_rendered.isEmpty())
        scrollToBottom(false);
    m_overlay->sync();
}

QScrollBar *HistoryTextView::overlayBar() const
{
    return m_overlay;
}

void HistoryTextView::enterEvent(QEnterEvent *event)
{
    QTextEdit::enterEvent(event);
    m_overlay->reveal();
}

void HistoryTextView::leaveEvent(QEvent *event)
{
    QTextEdit::leaveEvent(event);
    m_overlay->hideAfterRest();
}

void HistoryTextView::paintEvent(QPaintEvent *event)
{
    // The shadow goes under the text, which the text edit then draws as usual.
    if (m_outline)
        m_shadow.paintUnder(viewport(), document(), verticalScrollBar()->value());
    QTextEdit::paintEvent(event);
}
