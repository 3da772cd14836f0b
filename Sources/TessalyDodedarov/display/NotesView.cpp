#include "display/NotesView.h"

#include "display/Symbols.h"
#include "model/AppModel.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

NotesView::NotesView(AppModel *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    setFixedWidth(viewWidth);
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(padding, padding, padding, padding);
    stack->setSpacing(10);

    auto *title = new QLabel(QStringLiteral("本场说明"), this);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.15);
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);
    stack->addWidget(title);

    auto *explanation = new QLabel(
        QStringLiteral("只用于这一场会议，开下一场时清空。之后每一句的识别和翻译都会照着用。"), this);
    explanation->setWordWrap(true);
    explanation->setStyleSheet(QStringLiteral("color: %1;").arg(palette().color(QPalette::PlaceholderText).name()));
    stack->addWidget(explanation);

    auto *scroll = new QScrollArea(this);
    m_scroll = scroll;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list = new QWidget(scroll);
    m_rows = new QVBoxLayout(m_list);
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(10);
    scroll->setWidget(m_list);
    stack->addWidget(scroll);
    refresh();
}

bool NotesView::refresh()
{
    const QList<SessionNote> notes = m_model ? m_model->notes() : QList<SessionNote>();
    if (m_shown == notes)
        return false;
    m_shown = notes;
    while (QLayoutItem *item = m_rows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const QString secondary = QStringLiteral("color: %1;").arg(palette().color(QPalette::PlaceholderText).name());
    for (const SessionNote &note : notes) {
        auto *row = new QWidget(m_list);
        auto *line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(8);
        auto *texts = new QVBoxLayout;
        texts->setSpacing(3);
        auto *text = new QLabel(note.text, row);
        text->setTextFormat(Qt::PlainText);
        text->setWordWrap(true);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        QFont font = text->font();
        font.setPixelSize(13);
        text->setFont(font);
        texts->addWidget(text);
        std::optional<QString> detail;
        if (note.busy)
            detail = QStringLiteral("正在读取、提取人名和术语…");
        else if (note.status)
            detail = note.status;
        if (detail) {
            auto *status = new QLabel(*detail, row);
            status->setObjectName(QStringLiteral("noteStatus"));
            status->setTextFormat(Qt::PlainText);
            status->setWordWrap(true);
            status->setStyleSheet(secondary);
            texts->addWidget(status);
        }
        line->addLayout(texts, 1);
        auto *remove = new QToolButton(row);
        remove->setAutoRaise(true);
        remove->setIcon(QIcon(QPixmap::fromImage(Symbols::image(
            QStringLiteral("xmark.circle.fill"), QSize(14, 14), palette().color(QPalette::PlaceholderText),
            devicePixelRatioF()))));
        remove->setToolTip(QStringLiteral("删掉这条"));
        remove->setObjectName(QStringLiteral("deleteNote"));
        connect(remove, &QToolButton::clicked, this, [this, id = note.id] {
            if (m_model)
                m_model->deleteNote(id);
        });
        line->addWidget(remove, 0, Qt::AlignTop);
        auto *divider = new QFrame(m_list);
        divider->setFrameShape(QFrame::HLine);
        divider->setFrameShadow(QFrame::Sunken);
        // A widget added to a list already on screen is shown only on the next turn, and until
        // then the layout counts it as empty: shown now, the rows are measured below.
        for (QWidget *part : std::initializer_list<QWidget *>{row, divider}) {
            m_rows->addWidget(part);
            part->show();
        }
    }
    m_rows->addStretch(1);
    fitToContent();
    return true;
}

void NotesView::fitToContent()
{
    const auto neededAt = [this](int width) {
        QLayout *layout = m_list->layout();
        layout->activate();
        return layout->hasHeightForWidth() ? layout->totalHeightForWidth(width) : layout->totalSizeHint().height();
    };
    const int width = viewWidth - 2 * padding;
    int needed = neededAt(width);
    // Past the limit the scrollbar takes its width from the rows, which may then wrap further.
    const bool scrolls = needed > maxListHeight;
    if (scrolls)
        needed = neededAt(width - m_scroll->verticalScrollBar()->sizeHint().width());
    m_scroll->setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    m_scroll->setFixedHeight(std::min(needed, int(maxListHeight)));
    // The popup keeps this view's size until told: it is sized and placed right after this,
    // within the same turn.
    updateGeometry();
}
