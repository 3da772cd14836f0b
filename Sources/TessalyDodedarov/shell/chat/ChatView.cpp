#include "shell/chat/ChatView.h"

#include "display/Symbols.h"
#include "shell/chat/ChatBubble.h"
#include "shell/chat/ChatInput.h"
#include "model/AppModel.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QFrame *divider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QIcon symbolIcon(const QString &name, int size, const QColor &color, qreal ratio)
{
    return QIcon(QPixmap::fromImage(Symbols::image(name, QSize(size, size), color, ratio)));
}

void setSecondary(QLabel *label)
{
    QPalette colors = label->palette();
    colors.setColor(QPalette::WindowText, colors.color(QPalette::PlaceholderText));
    label->setPalette(colors);
}

// Spaces and tabs only: a question of line breaks still lets the button be pressed.
bool blankOnly(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c == u' ' || c == u'\t'; });
}

} // namespace

ChatView::ChatView(AppModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    setMinimumSize(420, 420);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildHeader());
    column->addWidget(divider(this));

    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setBackgroundRole(QPalette::Window);
    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("chatMessages"));
    m_list = new QVBoxLayout(content);
    m_list->setContentsMargins(12, 12, 12, 12);
    m_list->setSpacing(12);
    m_list->addWidget(buildSuggestions());
    m_list->addStretch(1);
    m_scroll->setWidget(content);
    column->addWidget(m_scroll, 1);
    QScrollBar *bar = m_scroll->verticalScrollBar();
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar] {
        if (m_followBottom)
            bar->setValue(bar->maximum());
    });
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
        if (value != bar->maximum())
            m_followBottom = false;
    });

    column->addWidget(divider(this));
    column->addWidget(buildInputBar());

    for (auto signal : {&AppModel::chatChanged, &AppModel::canChatChanged, &AppModel::chatWebSearchChanged})
        connect(&m_model, signal, this, &ChatView::refresh);
    // The first state is applied before anything is shown, so it never scrolls.
    refresh();
}

const QStringList &ChatView::suggestions()
{
    static const QStringList list = {
        QStringLiteral("用几句话总结这场会议"),
        QStringLiteral("讲者的主要观点和证据是什么？"),
        QStringLiteral("提到了哪些研究、数据和结论？"),
        QStringLiteral("列出专业术语的中英对照"),
        QStringLiteral("有哪些值得追问或存疑的地方？"),
    };
    return list;
}

QWidget *ChatView::buildHeader()
{
    auto *header = new QWidget(this);
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(10);

    auto *icon = new QLabel(header);
    icon->setPixmap(QPixmap::fromImage(Symbols::image(QStringLiteral("bubble.left.and.bubble.right.fill"),
                                                      QSize(22, 22), palette().color(QPalette::Highlight),
                                                      devicePixelRatioF())));
    row->addWidget(icon, 0, Qt::AlignVCenter);

    auto *titles = new QVBoxLayout;
    titles->setSpacing(2);
    auto *title = new QLabel(QStringLiteral("问问这场会议"), header);
    QFont headline = title->font();
    headline.setBold(true);
    title->setFont(headline);
    titles->addWidget(title);
    m_subtitle = new QLabel(header);
    m_subtitle->setTextFormat(Qt::PlainText);
    QFont caption = m_subtitle->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    m_subtitle->setFont(caption);
    setSecondary(m_subtitle);
    titles->addWidget(m_subtitle);
    row->addLayout(titles);
    row->addStretch(1);

    m_webSearch = new QCheckBox(QStringLiteral("可联网查资料"), header);
    m_webSearch->setFont(caption);
    m_webSearch->setToolTip(QStringLiteral("记录里没有的背景（比如某项研究的结论）允许 DeepSeek 联网搜索；搜索按次另外计费"));
    connect(m_webSearch, &QCheckBox::toggled, this, [this](bool on) { m_model.setChatWebSearch(on); });
    row->addWidget(m_webSearch, 0, Qt::AlignVCenter);

    m_clear = new QToolButton(header);
    m_clear->setAutoRaise(true);
    m_clear->setIcon(symbolIcon(QStringLiteral("trash"), 16, palette().color(QPalette::Text), devicePixelRatioF()));
    m_clear->setToolTip(QStringLiteral("清空问答"));
    connect(m_clear, &QToolButton::clicked, this, [this] {
        // The model may have started an answer since the button was last enabled.
        if (!m_model.chatBusy())
            m_model.clearChat();
    });
    row->addWidget(m_clear, 0, Qt::AlignVCenter);
    return header;
}

QWidget *ChatView::buildSuggestions()
{
    m_suggestions = new QWidget;
    auto *column = new QVBoxLayout(m_suggestions);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    auto *intro = new QLabel(QStringLiteral("可以这样问："), m_suggestions);
    setSecondary(intro);
    column->addWidget(intro);
    const QColor accent = palette().color(QPalette::Highlight);
    const QString chipStyle = QStringLiteral(
        "QPushButton { padding: 6px 10px; border: none; border-radius: 8px; text-align: left;"
        " background-color: rgba(%1, %2, %3, 0.12); }")
        .arg(accent.red()).arg(accent.green()).arg(accent.blue());
    for (const QString &question : suggestions()) {
        auto *chip = new QPushButton(question, m_suggestions);
        chip->setObjectName(QStringLiteral("suggestion"));
        chip->setFlat(true);
        chip->setCursor(Qt::PointingHandCursor);
        chip->setStyleSheet(chipStyle);
        connect(chip, &QPushButton::clicked, this, [this, question] { m_model.askMeeting(question); });
        column->addWidget(chip, 0, Qt::AlignLeft);
        m_chips.append(chip);
    }
    return m_suggestions;
}

QWidget *ChatView::buildInputBar()
{
    auto *bar = new QWidget(this);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(8);
    m_input = new ChatInput(bar);
    connect(m_input, &ChatInput::submitted, this, &ChatView::send);
    connect(m_input, &QPlainTextEdit::textChanged, this, &ChatView::updateSendButton);
    row->addWidget(m_input, 1, Qt::AlignVCenter);
    m_send = new QToolButton(bar);
    m_send->setAutoRaise(true);
    m_send->setIcon(symbolIcon(QStringLiteral("paperplane.fill"), 18, palette().color(QPalette::Highlight),
                               devicePixelRatioF()));
    connect(m_send, &QToolButton::clicked, this, &ChatView::send);
    row->addWidget(m_send, 0, Qt::AlignVCenter);
    return bar;
}

void ChatView::refresh()
{
    apply({m_model.chatMessages(), m_model.chatBusy(), m_model.canChat(), m_model.chatWebSearch()});
}

void ChatView::apply(const State &state)
{
    const State before = m_state;
    m_state = state;
    const bool empty = state.messages.isEmpty();

    if (before.canChat != state.canChat || m_subtitle->text().isEmpty()) {
        m_subtitle->setText(state.canChat ? QStringLiteral("根据本场会议记录回答（包括自动研究和纠正）")
                                          : QStringLiteral("这场会议还没有内容"));
        m_input->setPlaceholderText(state.canChat ? QStringLiteral("问点什么，比如“SYNCHRONOUS 研究的结论是什么？”")
                                                  : QStringLiteral("开始一场会议后可以提问"));
    }
    if (m_webSearch->isChecked() != state.webSearch) {
        const QSignalBlocker quiet(m_webSearch);
        m_webSearch->setChecked(state.webSearch);
    }
    m_clear->setEnabled(!empty && !state.busy);
    m_suggestions->setVisible(empty);
    for (QPushButton *chip : m_chips)
        chip->setEnabled(state.canChat && !state.busy);
    m_input->setEnabled(state.canChat);
    updateSendButton();

    placeBubbles(state.messages);

    // The last message's text changed: a message added, a streamed piece, or the list emptied.
    const bool lastChanged = before.messages.isEmpty() != empty
        || (!empty
            && (before.messages.isEmpty() || before.messages.last().id != state.messages.last().id
                || before.messages.last().text != state.messages.last().text));
    if (lastChanged && !empty && m_everShown)
        scrollToBottom();
}

void ChatView::placeBubbles(const QList<ChatMessage> &messages)
{
    QHash<int, ChatBubble *> existing;
    for (ChatBubble *bubble : std::as_const(m_bubbles))
        existing.insert(bubble->message().id, bubble);
    QList<ChatBubble *> next;
    next.reserve(messages.size());
    for (const ChatMessage &message : messages) {
        ChatBubble *bubble = existing.take(message.id);
        if (bubble)
            bubble->setMessage(message);
        else
            bubble = new ChatBubble(message, m_list->parentWidget());
        next.append(bubble);
    }
    for (ChatBubble *gone : std::as_const(existing))
        delete gone;
    if (next == m_bubbles)
        return;
    // Messages were added or removed: put the rows in the conversation's order, after the
    // suggestions and before the closing stretch.
    for (ChatBubble *bubble : std::as_const(next))
        m_list->removeWidget(bubble);
    for (qsizetype i = 0; i < next.size(); ++i)
        m_list->insertWidget(int(i) + 1, next.at(i));
    m_bubbles = next;
}

ChatBubble *ChatView::bubble(int id) const
{
    for (ChatBubble *bubble : m_bubbles) {
        if (bubble->message().id == id)
            return bubble;
    }
    return nullptr;
}

void ChatView::updateSendButton()
{
    m_send->setEnabled(!blankOnly(m_input->toPlainText()) && !m_state.busy && m_state.canChat);
}

void ChatView::send()
{
    const QString typed = m_input->toPlainText();
    if (typed.trimmed().isEmpty() || m_state.busy)
        return;
    m_input->clear();
    m_model.askMeeting(typed);
}

void ChatView::focusInput()
{
    m_input->setFocus(Qt::OtherFocusReason);
}

void ChatView::scrollToBottom()
{
    m_followBottom = true;
    QScrollBar *bar = m_scroll->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void ChatView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_everShown = true;
    focusInput();
}
