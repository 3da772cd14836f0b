#include "shell/SettingsView.h"

#include "display/Symbols.h"
#include "model/AppModel.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QWheelEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QSet>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <initializer_list>

namespace {

QFont scaledFont(double factor, QFont::Weight weight = QFont::Normal)
{
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    font.setWeight(weight);
    return font;
}

QLabel *textLabel(const QString &text, double factor, QFont::Weight weight = QFont::Normal)
{
    auto *label = new QLabel(text);
    label->setFont(scaledFont(factor, weight));
    return label;
}

}

SettingsView::SettingsView(AppModel &model, QWidget *parent)
    : QScrollArea(parent)
    , m_model(model)
{
    setObjectName(QStringLiteral("settingsPage"));
    // The window's size, less on a small screen, where the page scrolls.
    resize(pageWidth, pageHeight);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setBackgroundRole(QPalette::Window);
    // Sees every wheel turn, for the page's value controls (below).
    qApp->installEventFilter(this);

    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("settingsContent"));
    auto *column = new QVBoxLayout(page);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(20);
    column->addWidget(header());

    const QStringList &titles = sectionTitles();
    QWidget *contents[] = {keysSection(),          audioSourceSection(), recognitionSection(),
                           translationSection(),   appearanceSection(),  captionDisplaySection(),
                           captionWindowSection(), statsSection(),       aboutSection()};
    for (int i = 0; i < titles.size(); ++i)
        column->addWidget(section(titles.at(i), contents[i]));

    auto *divider = new QFrame;
    divider->setObjectName(QStringLiteral("divider"));
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    column->addWidget(divider);
    column->addWidget(footer());
    column->addStretch(1);
    setWidget(page);
    // Every value control of the page exists by now: none is added later.
    for (QWidget *child : page->findChildren<QWidget *>())
        if (valueControl(child) == child)
            keepWheelFocus(child);

    // Every notifying property of the model and of its keys that the page shows redraws it: the
    // controls read their values afresh, so a change made elsewhere (a hot key, the menu, a
    // finished check) shows at once. The live caption text changes many times a second and is
    // not shown here.
    static const QSet<QByteArray> unseen {"partial", "lines", "rows", "liveEnglish", "liveInline",
                                          "hovering", "turnCount", "backfillPending", "notes",
                                          "research", "recap", "phase", "billedSeconds", "statusNote",
                                          "backfillNote", "notice", "maximized", "expanded"};
    const QMetaMethod refresh = metaObject()->method(metaObject()->indexOfSlot("refreshAll()"));
    for (QObject *source : std::initializer_list<QObject *> {&m_model, &m_model.keys()}) {
        const QMetaObject *meta = source->metaObject();
        for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
            const QMetaProperty property = meta->property(i);
            if (!property.hasNotifySignal() || unseen.contains(property.name()))
                continue;
            connect(source, property.notifySignal(), this, refresh);
        }
    }
    refreshAll();
}

SettingsView::~SettingsView()
{
    *m_alive = false;
}

QWidget *SettingsView::valueControl(QWidget *widget) const
{
    const QWidget *page = this->widget();
    QWidget *control = nullptr;
    for (QWidget *w = widget; w; w = w->parentWidget()) {
        if (w == page)
            return control;
        if (!control
            && (qobject_cast<QAbstractSlider *>(w) || qobject_cast<QComboBox *>(w)
                || qobject_cast<QAbstractSpinBox *>(w)))
            control = w;
    }
    return nullptr;
}

void SettingsView::keepWheelFocus(QWidget *control)
{
    // A wheel turn must not give a control the focus that would let it take the turn.
    if ((control->focusPolicy() & Qt::WheelFocus) == Qt::WheelFocus)
        control->setFocusPolicy(Qt::StrongFocus);
}

// A wheel turn over the page scrolls it. Only the control the user has put the keyboard focus
// on (by clicking or tabbing) takes the turn as a change of value: otherwise scrolling down
// the page would change, and save, every slider and menu that passes under the pointer.
bool SettingsView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Wheel && watched->isWidgetType()) {
        QWidget *control = valueControl(static_cast<QWidget *>(watched));
        if (control && !control->hasFocus()) {
            // Ignored, the turn goes on up to the page's viewport, which scrolls.
            event->ignore();
            return true;
        }
    }
    return QScrollArea::eventFilter(watched, event);
}

const QStringList &SettingsView::sectionTitles()
{
    static const QStringList titles {
        QStringLiteral("API 密钥"), QStringLiteral("声音来源"), QStringLiteral("识别"),
        QStringLiteral("翻译"),     QStringLiteral("字幕外观"), QStringLiteral("字幕显示"),
        QStringLiteral("字幕窗"),   QStringLiteral("本场统计"), QStringLiteral("关于"),
    };
    return titles;
}

QString SettingsView::sectionSymbol(const QString &title)
{
    static const QHash<QString, QString> symbols {
        {QStringLiteral("API 密钥"), QStringLiteral("key.fill")},
        {QStringLiteral("声音来源"), QStringLiteral("speaker.wave.2.fill")},
        {QStringLiteral("识别"), QStringLiteral("waveform")},
        {QStringLiteral("翻译"), QStringLiteral("character.bubble.fill")},
        {QStringLiteral("字幕外观"), QStringLiteral("paintpalette.fill")},
        {QStringLiteral("字幕显示"), QStringLiteral("text.alignleft")},
        {QStringLiteral("字幕窗"), QStringLiteral("macwindow")},
        {QStringLiteral("本场统计"), QStringLiteral("chart.bar.fill")},
        {QStringLiteral("关于"), QStringLiteral("info.circle.fill")},
    };
    return symbols.value(title, QStringLiteral("circle"));
}

QColor SettingsView::warningColor()
{
    return QColor(255, 149, 0);
}

QColor SettingsView::okColor()
{
    return QColor(40, 167, 69);
}

QColor SettingsView::secondaryColor()
{
    return QApplication::palette().color(QPalette::PlaceholderText);
}

QWidget *SettingsView::section(const QString &title, QWidget *content)
{
    auto *box = new QWidget;
    box->setObjectName(QStringLiteral("section"));
    box->setProperty("sectionTitle", title);
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);

    auto *titleRow = new QHBoxLayout;
    titleRow->setSpacing(6);
    auto *icon = new QLabel;
    icon->setObjectName(QStringLiteral("sectionSymbol"));
    const QString symbol = sectionSymbol(title);
    icon->setProperty("symbol", symbol);
    icon->setFixedWidth(18);
    icon->setAlignment(Qt::AlignCenter);
    const qreal ratio = qApp->devicePixelRatio();
    QImage image = Symbols::image(symbol, QSize(16, 16), QApplication::palette().color(QPalette::Highlight), ratio);
    icon->setPixmap(QPixmap::fromImage(image));
    titleRow->addWidget(icon);
    auto *titleLabel = textLabel(title, 1.1, QFont::DemiBold);
    titleLabel->setObjectName(QStringLiteral("sectionTitle"));
    titleRow->addWidget(titleLabel);
    titleRow->addStretch(1);
    column->addLayout(titleRow);

    auto *card = new QFrame;
    card->setObjectName(QStringLiteral("sectionCard"));
    card->setStyleSheet(QStringLiteral("QFrame#sectionCard { background: palette(base); "
                                       "border: 1px solid palette(midlight); border-radius: 10px; }"));
    auto *cardColumn = new QVBoxLayout(card);
    cardColumn->setContentsMargins(14, 14, 14, 14);
    cardColumn->setSpacing(10);
    cardColumn->addWidget(content);
    content->setParent(card);
    column->addWidget(card);
    return box;
}

QLabel *SettingsView::note(const QString &text, bool warning)
{
    auto *label = new QLabel;
    label->setObjectName(QStringLiteral("note"));
    label->setWordWrap(true);
    label->setFont(scaledFont(0.9));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    setNote(label, text, warning);
    return label;
}

void SettingsView::setNote(QLabel *label, const QString &text, bool warning)
{
    label->setText(text);
    label->setProperty("warning", warning);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, warning ? warningColor() : secondaryColor());
    label->setPalette(palette);
}

QWidget *SettingsView::header()
{
    auto *row = new QWidget;
    row->setObjectName(QStringLiteral("header"));
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    auto *icon = new QLabel;
    icon->setPixmap(QApplication::windowIcon().pixmap(QSize(44, 44)));
    icon->setFixedSize(44, 44);
    layout->addWidget(icon);

    auto *column = new QVBoxLayout;
    column->setSpacing(1);
    auto *names = new QHBoxLayout;
    names->setSpacing(6);
    names->addWidget(textLabel(QStringLiteral("泰萨利字幕"), 1.3, QFont::DemiBold), 0, Qt::AlignBaseline);
    auto *english = textLabel(QStringLiteral("TessalyCaption"), 1.0);
    QPalette grey = english->palette();
    grey.setColor(QPalette::WindowText, secondaryColor());
    english->setPalette(grey);
    names->addWidget(english, 0, Qt::AlignBaseline);
    names->addStretch(1);
    column->addLayout(names);
    auto *version = textLabel(QString(), 0.9);
    version->setObjectName(QStringLiteral("headerVersion"));
    version->setPalette(grey);
    column->addWidget(version);
    // Read afresh on each redraw, as the version may be set after the page is built.
    follow([version] { version->setText(QStringLiteral("实时中英双语字幕 · 版本 ") + versionText()); });
    layout->addLayout(column);
    layout->addStretch(1);
    return row;
}

QWidget *SettingsView::footer()
{
    auto *row = new QWidget;
    row->setObjectName(QStringLiteral("footer"));
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *keys = textLabel(QStringLiteral("Ctrl+Alt+S 暂停 / 继续  ·  Ctrl+Alt+= / Ctrl+Alt+- 字号"), 0.95);
    QPalette grey = keys->palette();
    grey.setColor(QPalette::WindowText, secondaryColor());
    keys->setPalette(grey);
    layout->addWidget(keys);
    layout->addStretch(1);
    auto *open = new QPushButton(QStringLiteral("打开会议记录"));
    connect(open, &QPushButton::clicked, this, [this] { m_model.openTranscripts(); });
    layout->addWidget(open);
    return row;
}

void SettingsView::follow(const std::function<void()> &fn)
{
    m_refreshers.append(fn);
}

void SettingsView::refreshAll()
{
    for (const auto &fn : std::as_const(m_refreshers))
        fn();
}
