#include "shell/chat/ChatBubble.h"

#include "display/BusyIndicator.h"
#include "display/InterfaceFonts.h"
#include "intelligence/InlineMarkdown.h"

#include <QAbstractTextDocumentLayout>
#include <QDesktopServices>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>

#include <cmath>

namespace {

QColor mixed(const QColor &base, const QColor &tint, qreal amount)
{
    return QColor::fromRgbF(base.redF() + (tint.redF() - base.redF()) * amount,
                            base.greenF() + (tint.greenF() - base.greenF()) * amount,
                            base.blueF() + (tint.blueF() - base.blueF()) * amount);
}

} // namespace

ChatBubble::ChatBubble(const ChatMessage &message, QWidget *parent)
    : QWidget(parent)
    , m_message(message)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto *layout = new QHBoxLayout(this);
    // Questions keep a margin at the left, answers at the right.
    const int left = padding + (message.fromUser ? questionInset : 0);
    const int right = padding + (message.fromUser ? 0 : answerInset);
    layout->setContentsMargins(left, padding, right, padding);
    layout->setSpacing(0);

    m_waiting = new QWidget(this);
    auto *waitingRow = new QHBoxLayout(m_waiting);
    waitingRow->setContentsMargins(0, 0, 0, 0);
    waitingRow->setSpacing(6);
    auto *spinner = new BusyIndicator(m_waiting);
    spinner->setColor(palette().color(QPalette::PlaceholderText));
    m_waitingLabel = new QLabel(QStringLiteral("正在看记录…"), m_waiting);
    m_waitingLabel->setTextFormat(Qt::PlainText);
    m_waitingLabel->setObjectName(QStringLiteral("waitingText"));
    QPalette secondary = m_waitingLabel->palette();
    secondary.setColor(QPalette::WindowText, palette().color(QPalette::PlaceholderText));
    m_waitingLabel->setPalette(secondary);
    waitingRow->addWidget(spinner, 0, Qt::AlignVCenter);
    waitingRow->addWidget(m_waitingLabel, 0, Qt::AlignVCenter);
    waitingRow->addStretch(1);
    layout->addWidget(m_waiting);

    m_browser = new QTextBrowser(this);
    m_browser->setFrameShape(QFrame::NoFrame);
    m_browser->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_browser->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_browser->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_browser->setMinimumWidth(40);
    m_browser->setOpenLinks(false);
    m_browser->setOpenExternalLinks(false);
    m_browser->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard
                                       | Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    m_browser->setUndoRedoEnabled(false);
    m_browser->document()->setDocumentMargin(0);
    // Only http, https and mailto addresses ever become anchors.
    connect(m_browser, &QTextBrowser::anchorClicked, this, [](const QUrl &url) { QDesktopServices::openUrl(url); });
    connect(m_browser->document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            [this] { fitHeight(); });
    layout->addWidget(m_browser);

    applyStyle();
    renderAll();
}

QColor ChatBubble::failedColor()
{
    return QColor(0xd7, 0x26, 0x1e);
}

bool ChatBubble::showsWaiting() const
{
    return !m_waiting->isHidden();
}

void ChatBubble::setMessage(const ChatMessage &message)
{
    if (message == m_message)
        return;
    const ChatMessage shown = m_message;
    m_message = message;
    const bool waitingBefore = shown.pending && shown.text.isEmpty();
    const bool waitingNow = message.pending && message.text.isEmpty();
    if (shown.failed != message.failed || waitingBefore != waitingNow)
        applyStyle();
    const bool extends = shown.failed == message.failed && message.text.size() > shown.text.size()
        && message.text.startsWith(shown.text);
    if (!extends) {
        if (shown.text != message.text || shown.failed != message.failed)
            renderAll();
        return;
    }
    // Marks never cross a line break, so only the last shown line can change its form.
    const qsizetype lineStart = shown.text.lastIndexOf(u'\n') + 1;
    QTextCursor cursor(m_browser->document());
    cursor.beginEditBlock();
    cursor.setPosition(m_browser->document()->lastBlock().position());
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    renderLines(cursor, QStringView(message.text).mid(lineStart));
    cursor.endEditBlock();
    fitHeight();
}

void ChatBubble::applyStyle()
{
    const QColor window = palette().color(QPalette::Window);
    m_fill = m_message.fromUser ? mixed(window, palette().color(QPalette::Highlight), 0.18)
                                : mixed(window, palette().color(QPalette::PlaceholderText), 0.1);
    QPalette colors = m_browser->palette();
    colors.setColor(QPalette::Base, m_fill);
    colors.setColor(QPalette::Text, m_message.failed ? failedColor() : palette().color(QPalette::Text));
    m_browser->setPalette(colors);
    const bool waiting = m_message.pending && m_message.text.isEmpty();
    m_waiting->setVisible(waiting);
    m_browser->setVisible(!waiting);
    update();
}

void ChatBubble::renderAll()
{
    ++m_fullRenders;
    QTextDocument *document = m_browser->document();
    document->clear();
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    renderLines(cursor, m_message.text);
    cursor.endEditBlock();
    fitHeight();
}

void ChatBubble::renderLines(QTextCursor &cursor, QStringView text) const
{
    const QColor textColor = m_message.failed ? failedColor() : palette().color(QPalette::Text);
    const QColor linkColor = m_message.failed ? failedColor() : palette().color(QPalette::Link);
    QTextCharFormat plain;
    plain.setForeground(textColor);
    bool first = true;
    for (QStringView line : text.split(u'\n')) {
        if (!first)
            cursor.insertBlock(QTextBlockFormat(), plain);
        first = false;
        for (const InlineMarkdown::Span &span : InlineMarkdown::spans(line)) {
            QTextCharFormat format = plain;
            if (span.strong)
                format.setFontWeight(QFont::Bold);
            if (span.emphasis)
                format.setFontItalic(true);
            if (span.code)
                format.setFontFamilies(InterfaceFonts::fixedWidth().families());
            if (!span.link.isEmpty()) {
                format.setAnchor(true);
                format.setAnchorHref(span.link);
                format.setForeground(linkColor);
                format.setFontUnderline(true);
            }
            cursor.insertText(span.text, format);
        }
    }
}

void ChatBubble::fitHeight()
{
    const int height = int(std::ceil(m_browser->document()->size().height()));
    if (m_browser->height() != height || m_browser->minimumHeight() != height)
        m_browser->setFixedHeight(height);
}

void ChatBubble::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_fill);
    const QRect area = rect().adjusted(m_message.fromUser ? questionInset : 0, 0,
                                       m_message.fromUser ? 0 : -answerInset, 0);
    painter.drawRoundedRect(area, 10, 10);
}

void ChatBubble::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange && m_browser) {
        applyStyle();
        renderAll();
    }
    QWidget::changeEvent(event);
}
