#include "display/CaptionView.h"

#include "display/Colors.h"
#include "display/HistoryScrollState.h"
#include "display/HistoryView.h"
#include "display/NotesBar.h"
#include "display/NotesView.h"
#include "display/OpacityFade.h"
#include "display/RecapView.h"
#include "display/Symbols.h"
#include "model/AppModel.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QColor green(52, 199, 89);
const QColor yellow(255, 204, 0);
const QColor orange(255, 149, 0);
const QColor gray(142, 142, 147);

const QString capsule = QStringLiteral(
    "background: rgba(0, 0, 0, 0.85); border: 0.5px solid rgba(255, 255, 255, 0.2);");

// The popups report their closing (an outside click closes a Qt::Popup by itself).
class PopupWatcher final : public QObject {
public:
    PopupWatcher(QObject *parent, std::function<void()> closed)
        : QObject(parent)
        , m_closed(std::move(closed))
    {
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Hide)
            m_closed();
        return false;
    }

private:
    std::function<void()> m_closed;
};

// A popup that holds `content` edge to edge and says when it closes.
QFrame *popupHolding(QWidget *owner, QWidget *content, std::function<void()> closed)
{
    auto *popup = new QFrame(owner, Qt::Popup);
    popup->setFrameShape(QFrame::StyledPanel);
    auto *layout = new QVBoxLayout(popup);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
    popup->installEventFilter(new PopupWatcher(owner, std::move(closed)));
    return popup;
}

}

CaptionView::CaptionView(AppModel *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_scroll(new HistoryScrollState(this))
{
    m_column = new QVBoxLayout(this);
    m_column->setContentsMargins(18, 10, 18, 10);
    m_column->setSpacing(6);

    m_empty = new QLabel(this);
    m_empty->setWordWrap(true);
    m_empty->setTextFormat(Qt::PlainText);
    m_empty->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_empty->setContentsMargins(0, 20, 0, 0);
    m_column->addWidget(m_empty, 1);

    m_historyArea = new QWidget(this);
    auto *historyLayout = new QVBoxLayout(m_historyArea);
    historyLayout->setContentsMargins(0, 24, 0, 0);
    m_history = new HistoryView(m_scroll, m_historyArea);
    historyLayout->addWidget(m_history);
    m_column->addWidget(m_historyArea, 1);

    m_notesBar = new NotesBar(model, this);
    auto *notesRow = new QHBoxLayout;
    notesRow->setSpacing(6);
    notesRow->addWidget(m_notesBar);
    m_column->addLayout(notesRow);

    m_dot = new QLabel(this);
    m_dot->setFixedSize(7, 7);

    m_pill = new QLabel(this);
    m_pill->setTextFormat(Qt::PlainText);
    QFont pillFont = font();
    pillFont.setPixelSize(11);
    pillFont.setWeight(QFont::Medium);
    m_pill->setFont(pillFont);
    m_pill->setContentsMargins(8, 3, 8, 3);

    m_jump = new QPushButton(this);
    m_jump->setIcon(QIcon(QPixmap::fromImage(
        Symbols::image(QStringLiteral("arrow.down"), QSize(12, 12), Qt::white, devicePixelRatioF()))));
    QFont jumpFont = font();
    jumpFont.setPixelSize(12);
    jumpFont.setWeight(QFont::DemiBold);
    m_jump->setFont(jumpFont);
    m_jump->setCursor(Qt::PointingHandCursor);
    m_jump->setToolTip(QStringLiteral("回到最新正在识别的字幕，之后自动跟随"));
    m_jump->setStyleSheet(QStringLiteral("QPushButton { color: white; border: none; border-radius: 12px;"
                                         " padding: 5px 12px; background: %1; }")
                              .arg(Colors::css([this] {
                                  QColor accent = palette().color(QPalette::Highlight);
                                  accent.setAlphaF(0.9f);
                                  return accent;
                              }())));
    connect(m_jump, &QPushButton::clicked, this, [this] {
        if (m_scroll->jump)
            m_scroll->jump();
    });

    m_controls = new QWidget(this);
    m_controls->setObjectName(QStringLiteral("controls"));
    m_controls->setAttribute(Qt::WA_StyledBackground);
    m_controls->setStyleSheet(QStringLiteral("QWidget#controls { %1 border-radius: 14px; }").arg(capsule));
    auto *buttons = new QHBoxLayout(m_controls);
    buttons->setContentsMargins(6, 3, 6, 3);
    buttons->setSpacing(2);

    // Pausing goes through the model, which logs it and stops the engine; a click that comes
    // after recognition already ended does nothing.
    m_pause = addControl(QStringLiteral("pause.fill"), QStringLiteral("暂停：停止采集，不再计费；会议内容保留"),
                         [this] {
                             if (m_model && m_model->running())
                                 m_model->toggle();
                         });
    m_play = addControl(QStringLiteral("play.fill"), QStringLiteral("开始新会议"), [this] {
        if (m_model)
            m_model->startOrResume();
    });
    m_stop = addControl(QStringLiteral("stop.fill"), QStringLiteral("结束会议：下次开始会新建一份记录"), [this] {
        if (m_model)
            m_model->endMeeting();
    });
    m_maximize = addControl(QStringLiteral("arrow.up.left.and.arrow.down.right"),
                            QStringLiteral("全屏：铺满屏幕阅读"), [this] {
                                if (m_model)
                                    m_model->setMaximized(!m_model->maximized());
                            });
    m_recap = addControl(QStringLiteral("list.bullet.rectangle"),
                         QStringLiteral("前情提要：前面讲过的要点（自动生成，每分钟左右更新）"),
                         [this] { setRecapOpen(!m_recapOpen); });
    // Shown while paused once the meeting has something to ask about.
    m_chat = addControl(QStringLiteral("bubble.left.and.bubble.right"),
                        QStringLiteral("问问这场会议：就会议记录提问"), [] { showChat(); });
    addControl(QStringLiteral("gearshape"), QStringLiteral("设置"), [this] {
                   if (m_model)
                       m_model->platform().showSettings();
               });
    addControl(QStringLiteral("minus"),
               QStringLiteral("最小化到任务栏：识别和翻译在后台继续，点任务栏里的图标恢复"), [this] {
                   if (m_model)
                       m_model->minimize();
               });

    // Controls, pill and jump button come and go with a short fade; they start hidden.
    m_controls->hide();
    m_pill->hide();
    m_jump->hide();
    m_controlsFade = new OpacityFade(m_controls);
    m_pillFade = new OpacityFade(m_pill);
    m_jumpFade = new OpacityFade(m_jump);

    // The recap and notes popups are made when first opened: most meetings never open them.
    connect(m_notesBar, &NotesBar::notesButtonClicked, this, [this] { setNotesOpen(!m_notesOpen); });

    // Everything the view shows; any of them schedules one refresh on the next turn.
    for (auto signal : {&AppModel::runningChanged, &AppModel::phaseChanged, &AppModel::meetingActiveChanged,
                        &AppModel::hoveringChanged, &AppModel::maximizedChanged, &AppModel::appearanceChanged,
                        &AppModel::modeChanged, &AppModel::linesChanged, &AppModel::backfillPendingChanged,
                        &AppModel::liveEnglishChanged, &AppModel::liveInlineChanged,
                        &AppModel::captionPartsChanged, &AppModel::noticeChanged,
                        &AppModel::recapChanged, &AppModel::notesChanged, &AppModel::statusNoteChanged,
                        &AppModel::backfillNoteChanged, &AppModel::canChatChanged})
        connect(model, signal, this, &CaptionView::scheduleUpdate);
    for (auto signal : {&ServiceKeys::hasElevenLabsKeyChanged, &ServiceKeys::hasDeepSeekKeyChanged})
        connect(&model->keys(), signal, this, &CaptionView::scheduleUpdate);
    connect(m_scroll, &HistoryScrollState::changed, this, &CaptionView::scheduleUpdate);
    refresh();
}

CaptionView::~CaptionView()
{
    // An open popup hides as it goes and reports that to this view: let it go while the view
    // is still whole, with nothing left open to reset.
    m_recapOpen = false;
    m_notesOpen = false;
    delete m_recapPopup;
    delete m_notesPopup;
}

QToolButton *CaptionView::addControl(const QString &symbol, const QString &help, std::function<void()> action)
{
    auto *button = new QToolButton(m_controls);
    button->setObjectName(symbol);
    button->setAutoRaise(true);
    button->setFixedSize(26, 22);
    button->setIconSize(QSize(15, 15));
    button->setIcon(QIcon(QPixmap::fromImage(Symbols::image(symbol, QSize(15, 15), Qt::white, devicePixelRatioF()))));
    button->setToolTip(help);
    button->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
    if (action)
        connect(button, &QToolButton::clicked, this, std::move(action));
    m_controls->layout()->addWidget(button);
    return button;
}

QToolButton *CaptionView::controlButton(const QString &symbol) const
{
    return m_controls->findChild<QToolButton *>(symbol);
}

QColor CaptionView::backgroundColor() const
{
    if (!m_model)
        return Qt::transparent;
    QColor background = Colors::toQColor(m_model->appearance().background);
    if (m_opaque || m_model->maximized())
        background.setAlphaF(1.0f);
    return background;
}

QString CaptionView::statusText() const
{
    if (!m_model)
        return {};
    if (m_model->running())
        return m_model->phase() == Engine::Phase::recognizing ? QStringLiteral("识别中：计费")
                                                               : QStringLiteral("待机：没有人声，不计费");
    return m_model->meetingActive() ? QStringLiteral("已暂停：不采集，不计费")
                                    : QStringLiteral("没有进行中的会议");
}

QColor CaptionView::statusColor() const
{
    if (!m_model)
        return gray;
    if (m_model->running())
        return m_model->phase() == Engine::Phase::recognizing ? green : yellow;
    return m_model->meetingActive() ? orange : gray;
}

std::optional<QString> CaptionView::emptyMessage() const
{
    if (!m_model || m_model->running() || !m_model->lines().isEmpty())
        return std::nullopt;
    if (m_model->notice())
        return m_model->notice();
    if (m_model->keys().hasElevenLabsKey() && m_model->keys().hasDeepSeekKey())
        return QStringLiteral("把鼠标移上来，点 ▶ 开始会议");
    return QStringLiteral("先把鼠标移上来点 ⚙︎ 打开设置，填上 ElevenLabs 和 DeepSeek 的 API Key");
}

void CaptionView::setOpaque(bool on)
{
    m_opaque = on;
    update();
}

QFrame *CaptionView::recapPopup()
{
    if (!m_recapPopup) {
        m_recapView = new RecapView;
        m_recapPopup = popupHolding(this, m_recapView, [this] {
            if (m_recapOpen)
                setRecapOpen(false);
        });
    }
    return m_recapPopup;
}

QFrame *CaptionView::notesPopup()
{
    if (!m_notesPopup) {
        m_notesView = new NotesView(m_model);
        m_notesPopup = popupHolding(this, m_notesView, [this] {
            if (m_notesOpen)
                setNotesOpen(false);
        });
    }
    return m_notesPopup;
}

void CaptionView::setRecapOpen(bool open)
{
    m_recapOpen = open;
    if (open && m_model) {
        QFrame *popup = recapPopup();
        m_recapView->setRecap(m_model->recap());
        popup->adjustSize();
        // Below its button, centred on it.
        const QPoint anchor = m_recap->mapToGlobal(QPoint(m_recap->width() / 2, m_recap->height()));
        popup->move(anchor.x() - popup->width() / 2, anchor.y() + 4);
        popup->show();
    } else if (!open && m_recapPopup) {
        m_recapPopup->hide();
    }
    scheduleUpdate();
}

void CaptionView::setNotesOpen(bool open)
{
    m_notesOpen = open;
    if (open) {
        QFrame *popup = notesPopup();
        m_notesView->refresh();
        placeNotesPopup();
        popup->show();
    } else if (m_notesPopup) {
        m_notesPopup->hide();
    }
}

void CaptionView::placeNotesPopup()
{
    QFrame *popup = m_notesPopup;
    popup->adjustSize();
    // Above its button, its bottom edge clear of it whatever height the notes give; centred
    // on it as far as the screen's edges allow.
    QPushButton *button = m_notesBar->notesButton();
    const QPoint anchor = button->mapToGlobal(QPoint(button->width() / 2, 0));
    const QRect screen = button->screen()->availableGeometry();
    const int x = std::clamp(anchor.x() - popup->width() / 2, screen.left(),
                             std::max(screen.left(), screen.right() + 1 - popup->width()));
    popup->move(x, anchor.y() - popup->height() - 4);
}

void CaptionView::scheduleUpdate()
{
    if (m_updateQueued)
        return;
    m_updateQueued = true;
    QMetaObject::invokeMethod(this, &CaptionView::refresh, Qt::QueuedConnection);
}

void CaptionView::updateNow()
{
    refresh();
}

void CaptionView::refresh()
{
    m_updateQueued = false;
    if (!m_model)
        return;
    AppModel &model = *m_model;
    const CaptionAppearance effective = model.appearance().effective();
    const QColor chinese = Colors::toQColor(effective.chineseColor);

    m_dot->setToolTip(statusText());
    const QString dotStyle = QStringLiteral("background: %1; border-radius: 3px;").arg(statusColor().name());
    if (m_dot->styleSheet() != dotStyle)
        m_dot->setStyleSheet(dotStyle);

    const std::optional<QString> empty = emptyMessage();
    m_empty->setVisible(empty.has_value());
    m_historyArea->setVisible(!empty);
    if (empty) {
        m_empty->setText(*empty);
        QFont font = this->font();
        font.setPixelSize(int(std::max(0.6 * model.appearance().chineseSize, 13.0)));
        m_empty->setFont(font);
        QColor color = chinese;
        color.setAlphaF(color.alphaF() * 0.75f);
        m_empty->setStyleSheet(QStringLiteral("color: %1;").arg(Colors::css(model.notice() ? orange : color)));
    }

    if (!empty) {
        HistoryView::Inputs inputs;
        inputs.lines = model.lines();
        inputs.mode = model.mode();
        inputs.pending = model.backfillPending();
        inputs.appearance = model.appearance();
        inputs.liveEnglish = model.liveEnglish();
        inputs.liveInline = model.liveInline();
        inputs.parts = model.captionParts();
        inputs.scroll = m_scroll;
        inputs.paused = model.hovering();
        inputs.live = model.running();
        inputs.browsing = !m_scroll->following() || !model.running();
        // Rebuilt only when an input differs.
        m_history->setInputs(inputs);
    }

    const bool showControls = model.hovering() || m_recapOpen;
    m_controlsFade->setShown(showControls);
    const bool running = model.running();
    m_pause->setVisible(running);
    m_play->setVisible(!running);
    m_play->setToolTip(model.meetingActive() ? QStringLiteral("继续：接着当前会议往下记")
                                             : QStringLiteral("开始新会议"));
    m_stop->setVisible(model.meetingActive());
    const QString maximizeSymbol = model.maximized() ? QStringLiteral("arrow.down.right.and.arrow.up.left")
                                                     : QStringLiteral("arrow.up.left.and.arrow.down.right");
    if (m_maximize->property("symbol").toString() != maximizeSymbol) {
        m_maximize->setProperty("symbol", maximizeSymbol);
        m_maximize->setIcon(QIcon(QPixmap::fromImage(Symbols::image(maximizeSymbol, QSize(15, 15), Qt::white,
                                                                    devicePixelRatioF()))));
    }
    m_maximize->setToolTip(model.maximized() ? QStringLiteral("退出全屏，回到原来的大小")
                                             : QStringLiteral("全屏：铺满屏幕阅读"));
    m_recap->setVisible(!model.recap().isEmpty() || m_recapOpen);
    m_chat->setVisible(!running && model.canChat());
    if (m_recapOpen && m_recapView)
        m_recapView->setRecap(model.recap());
    m_controls->adjustSize();

    const std::optional<QString> note = model.statusNote() ? model.statusNote() : model.backfillNote();
    const bool showPill = !showControls && !empty && note.has_value();
    m_pillFade->setShown(showPill);
    if (showPill) {
        m_pill->setText(*note);
        const QString color = running || model.notice() ? orange.name()
                                                        : QStringLiteral("rgba(255, 255, 255, 0.85)");
        const QString pillStyle = QStringLiteral("QLabel { color: %1; %2 border-radius: 9px; }").arg(color, capsule);
        if (m_pill->styleSheet() != pillStyle)
            m_pill->setStyleSheet(pillStyle);
        m_pill->adjustSize();
    }

    const bool jumpShown = !empty && !(m_scroll->following() && m_scroll->unseen() <= 0);
    m_jumpFade->setShown(jumpShown);
    if (jumpShown) {
        m_jump->setText(m_scroll->following() ? QStringLiteral("已暂停滚动 · 有 ") + QString::number(m_scroll->unseen())
                                                    + QStringLiteral(" 段新内容")
                                              : QStringLiteral("回到最新"));
        m_jump->adjustSize();
    }

    m_notesBar->setTextColor(chinese);
    // Notes added or deleted while the list is open change its height.
    if (m_notesOpen && m_notesView && m_notesView->refresh())
        placeNotesPopup();
    placeOverlays();
    update();
}

void CaptionView::placeOverlays()
{
    m_dot->move(6, 6);
    m_dot->raise();
    m_controls->move(width() - m_controls->width() - 6, 6);
    m_controls->raise();
    m_pill->move(width() - m_pill->width() - 6, 6);
    m_pill->raise();
    const QRect history = m_historyArea->geometry();
    m_jump->move(history.center().x() - m_jump->width() / 2, history.bottom() - m_jump->height() - 4);
    m_jump->raise();
}

void CaptionView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeOverlays();
}

void CaptionView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 14, 14);
    painter.fillPath(shape, backgroundColor());
}
