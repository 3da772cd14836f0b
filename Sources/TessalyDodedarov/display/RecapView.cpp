#include "display/RecapView.h"

#include "intelligence/Recap.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QLabel *selectableLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

}

RecapView::RecapView(QWidget *parent)
    : QWidget(parent)
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(this);
    m_scroll = scroll;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_body = new QWidget(scroll);
    m_body->setFixedWidth(bodyWidth);
    m_stack = new QVBoxLayout(m_body);
    m_stack->setContentsMargins(16, 16, 16, 16);
    m_stack->setSpacing(14);
    scroll->setWidget(m_body);
    outer->addWidget(scroll);
    setRecap(QString());
}

void RecapView::setRecap(const QString &recap)
{
    if (recap == m_recap && m_stack->count() > 0)
        return;
    m_recap = recap;
    while (QLayoutItem *item = m_stack->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const QColor secondary = palette().color(QPalette::PlaceholderText);
    const QString secondaryStyle = QStringLiteral("color: %1;").arg(secondary.name());

    QLabel *title = selectableLabel(QStringLiteral("前情提要"), m_body);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.15);
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);
    m_stack->addWidget(title);

    if (recap.isEmpty()) {
        QLabel *none = selectableLabel(QStringLiteral("还没有：讲了几分钟后会自动生成，之后大约每分钟更新。"), m_body);
        none->setStyleSheet(secondaryStyle);
        m_stack->addWidget(none);
    }
    for (const Recap::Section &section : Recap::sections(recap)) {
        auto *block = new QWidget(m_body);
        auto *blockStack = new QVBoxLayout(block);
        blockStack->setContentsMargins(0, 0, 0, 0);
        blockStack->setSpacing(6);
        if (!section.title.isEmpty()) {
            QLabel *heading = selectableLabel(section.title, block);
            QFont font = heading->font();
            font.setPixelSize(12);
            font.setWeight(QFont::DemiBold);
            heading->setFont(font);
            heading->setStyleSheet(secondaryStyle);
            blockStack->addWidget(heading);
        }
        for (const QString &item : section.items) {
            auto *line = new QHBoxLayout;
            line->setSpacing(6);
            if (section.isList) {
                QLabel *bullet = selectableLabel(QStringLiteral("•"), block);
                bullet->setStyleSheet(secondaryStyle);
                line->addWidget(bullet, 0, Qt::AlignTop);
            }
            QLabel *text = selectableLabel(item, block);
            QFont font = text->font();
            font.setPixelSize(14);
            text->setFont(font);
            line->addWidget(text, 1);
            blockStack->addLayout(line);
        }
        m_stack->addWidget(block);
    }
    m_stack->addStretch(1);
    fitToContent();
}

void RecapView::fitToContent()
{
    QLayout *layout = m_body->layout();
    layout->activate();
    const int needed = layout->hasHeightForWidth() ? layout->totalHeightForWidth(bodyWidth)
                                                   : layout->totalSizeHint().height();
    // A scrollbar, when the text is taller than the limit, goes beside the body, not over it.
    const int bar = needed > maxHeight ? m_scroll->verticalScrollBar()->sizeHint().width() : 0;
    m_scroll->setVerticalScrollBarPolicy(bar > 0 ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    m_scroll->setFixedSize(bodyWidth + bar, std::min(needed, int(maxHeight)));
}
