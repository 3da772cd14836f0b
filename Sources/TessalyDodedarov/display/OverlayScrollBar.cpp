#include "display/OverlayScrollBar.h"

#include <QTimer>

OverlayScrollBar::OverlayScrollBar(QScrollBar *mirrored, QWidget *parent)
    : QScrollBar(Qt::Vertical, parent)
    , m_mirrored(mirrored)
    , m_rest(new QTimer(this))
{
    setObjectName(QStringLiteral("historyOverlayBar"));
    setAttribute(Qt::WA_TranslucentBackground);
    setStyleSheet(QStringLiteral(
        "QScrollBar:vertical { background: transparent; border: none; width: %1px; margin: 2px 1px; }"
        " QScrollBar::handle:vertical { background: rgba(255, 255, 255, 0.4); border-radius: 2px;"
        " min-height: 24px; }"
        " QScrollBar::handle:vertical:hover, QScrollBar::handle:vertical:pressed {"
        " background: rgba(255, 255, 255, 0.6); }"
        " QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { border: none;"
        " background: none; height: 0px; width: 0px; }"
        " QScrollBar::up-arrow:vertical, QScrollBar::down-arrow:vertical { background: none;"
        " border: none; width: 0px; height: 0px; }"
        " QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }")
                      .arg(barWidth));
    hide();
    m_rest->setSingleShot(true);
    m_rest->setInterval(restMs);
    connect(m_rest, &QTimer::timeout, this, [this] {
        // The pointer resting on the bar or a drag in progress keeps it.
        if (underMouse() || isSliderDown())
            m_rest->start();
        else
            hide();
    });
    connect(this, &QScrollBar::valueChanged, this, [this](int value) {
        if (!m_syncing)
            m_mirrored->setValue(value);
    });
    connect(m_mirrored, &QScrollBar::rangeChanged, this, [this] { sync(); });
    // Only the user's scrolling shows the bar; following the newest line does not flash it.
    connect(m_mirrored, &QScrollBar::valueChanged, this, [this] { sync(); });
    // The user's scrolling, by wheel, keys or the bar itself, goes through the bars' actions.
    connect(this, &QScrollBar::actionTriggered, this, [this] { reveal(); });
    connect(m_mirrored, &QScrollBar::actionTriggered, this, [this] { reveal(); });
}

void OverlayScrollBar::place()
{
    const QRect area = parentWidget()->rect();
    setGeometry(area.right() + 1 - barWidth, area.top(), barWidth, area.height());
    raise();
}

void OverlayScrollBar::sync()
{
    m_syncing = true;
    setRange(m_mirrored->minimum(), m_mirrored->maximum());
    setPageStep(m_mirrored->pageStep());
    setSingleStep(m_mirrored->singleStep());
    setValue(m_mirrored->value());
    m_syncing = false;
    if (m_mirrored->maximum() <= m_mirrored->minimum())
        hide();
}

void OverlayScrollBar::reveal()
{
    if (m_mirrored->maximum() <= m_mirrored->minimum())
        return;
    place();
    show();
    m_rest->start();
}

void OverlayScrollBar::hideAfterRest()
{
    if (isVisible())
        m_rest->start();
}
