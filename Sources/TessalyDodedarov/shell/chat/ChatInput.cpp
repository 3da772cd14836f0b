#include "shell/chat/ChatInput.h"

#include <QGuiApplication>
#include <QInputMethod>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

ChatInput::ChatInput(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setTabChangesFocus(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(this, &QPlainTextEdit::textChanged, this, &ChatInput::fitHeight);
    fitHeight();
}

void ChatInput::keyPressEvent(QKeyEvent *event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    event->accept();
    if (m_composing) {
        // The key finishes the pinyin being typed; it does not send a half-typed question.
        QGuiApplication::inputMethod()->commit();
        return;
    }
    if (event->modifiers() & Qt::ShiftModifier) {
        // A real line break (a new block), not the line separator Qt inserts by default.
        insertPlainText(QStringLiteral("\n"));
        return;
    }
    emit submitted();
}

void ChatInput::inputMethodEvent(QInputMethodEvent *event)
{
    m_composing = !event->preeditString().isEmpty();
    QPlainTextEdit::inputMethodEvent(event);
}

void ChatInput::resizeEvent(QResizeEvent *event)
{
    QPlainTextEdit::resizeEvent(event);
    fitHeight();
}

void ChatInput::fitHeight()
{
    // Wrapped lines count as lines: each block's layout knows how many it has at this width.
    int lines = 0;
    for (QTextBlock block = document()->begin(); block.isValid() && lines < maxLines; block = block.next())
        lines += std::max(1, block.layout() ? block.layout()->lineCount() : 1);
    lines = std::clamp(lines, 1, maxLines);
    if (lines == m_lines)
        return;
    m_lines = lines;
    const int margins = int(std::ceil(2 * document()->documentMargin())) + 2 * frameWidth()
        + contentsMargins().top() + contentsMargins().bottom();
    setFixedHeight(lines * fontMetrics().lineSpacing() + margins);
}
