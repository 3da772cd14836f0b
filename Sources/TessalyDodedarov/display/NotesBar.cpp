#include "display/NotesBar.h"

#include "display/BusyIndicator.h"
#include "display/Colors.h"
#include "model/AppModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

NotesBar::NotesBar(AppModel *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_button(new QPushButton(this))
    , m_busy(new BusyIndicator(m_button))
    , m_field(new QLineEdit(this))
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);

    m_button->setObjectName(QStringLiteral("notesButton"));
    m_button->setFixedHeight(22);
    m_button->setFlat(true);
    m_button->setCursor(Qt::PointingHandCursor);
    m_button->setToolTip(QStringLiteral("看已经输入的本场说明，可以删掉"));
    auto *label = new QLabel(m_button);
    label->setObjectName(QStringLiteral("notesCount"));
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *buttonRow = new QHBoxLayout(m_button);
    buttonRow->setContentsMargins(8, 0, 8, 0);
    buttonRow->setSpacing(3);
    buttonRow->addWidget(m_busy);
    buttonRow->addWidget(label);
    connect(m_button, &QPushButton::clicked, this, &NotesBar::notesButtonClicked);
    row->addWidget(m_button);

    m_field->setObjectName(QStringLiteral("noteField"));
    m_field->setFixedHeight(22);
    m_field->setFrame(false);
    m_field->setTextMargins(8, 0, 8, 0);
    m_field->setToolTip(QStringLiteral(
        "补充本场信息：人名、术语（A = 甲）、纠错（听成 X 其实是 Y）、翻译要求，或贴视频链接，"
        "回车提交。会用在后面的识别和翻译里。"));
    connect(m_field, &QLineEdit::returnPressed, this, &NotesBar::submit);
    row->addWidget(m_field, 1);

    setTextColor(Qt::white);
}

void NotesBar::setTextColor(const QColor &color)
{
    m_color = color;
    const QList<SessionNote> notes = m_model ? m_model->notes() : QList<SessionNote>();
    m_button->setVisible(!notes.isEmpty());
    const bool busy = std::any_of(notes.begin(), notes.end(), [](const SessionNote &n) { return n.busy; });
    m_busy->setVisible(busy);
    m_busy->setColor(color);
    if (auto *label = m_button->findChild<QLabel *>(QStringLiteral("notesCount")))
        label->setText(QStringLiteral("本场说明 ") + QString::number(notes.size()));

    // Restyling re-polishes the widgets: only when the colour changed.
    if (color != m_styledColor)
        restyle(color);
    // A push button sizes itself from its own text, which it has none of: the width is that
    // of the row inside it, so the count and the busy indicator are never cut.
    m_button->layout()->invalidate();
    m_button->setFixedWidth(m_button->layout()->sizeHint().width());
}

void NotesBar::restyle(const QColor &color)
{
    m_styledColor = color;
    QFont small = font();
    small.setPixelSize(11);
    small.setWeight(QFont::DemiBold);
    m_button->setFont(small);
    m_button->setStyleSheet(QStringLiteral("QPushButton#notesButton { border: none; border-radius: 11px;"
                                           " background: %1; } QLabel { color: %2; }")
                                .arg(Colors::css(color, 0.12), Colors::css(color, 0.85)));
    if (auto *label = m_button->findChild<QLabel *>(QStringLiteral("notesCount")))
        label->setFont(small);

    QFont fieldFont = font();
    fieldFont.setPixelSize(12);
    m_field->setFont(fieldFont);
    m_field->setStyleSheet(QStringLiteral("QLineEdit#noteField { color: %1; background: %2;"
                                          " border: 0.5px solid %3; border-radius: 6px; }")
                               .arg(Colors::css(color, 1.0), Colors::css(color, 0.12), Colors::css(color, 0.25)));
}

void NotesBar::submit()
{
    // The model trims the text and ignores a blank one, so a blank submit only empties the field.
    if (m_model)
        m_model->submitNote(m_field->text(), false);
    m_field->clear();
}
