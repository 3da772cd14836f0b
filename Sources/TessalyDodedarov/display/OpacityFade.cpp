#include "display/OpacityFade.h"

#include <QGraphicsOpacityEffect>
#include <QPropertyAnimation>
#include <QWidget>

OpacityFade::OpacityFade(QWidget *target)
    : QObject(target)
    , m_target(target)
    , m_effect(new QGraphicsOpacityEffect(target))
    , m_animation(new QPropertyAnimation(m_effect, "opacity", this))
    , m_shown(!target->isHidden())
{
    m_effect->setOpacity(1.0);
    m_effect->setEnabled(false);
    target->setGraphicsEffect(m_effect);
    m_animation->setDuration(duration);
    m_animation->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_animation, &QPropertyAnimation::finished, this, [this] {
        if (!m_target)
            return;
        if (m_shown) {
            m_effect->setEnabled(false);
        } else {
            m_target->hide();
            m_effect->setOpacity(1.0);
            m_effect->setEnabled(false);
        }
    });
}

void OpacityFade::setShown(bool shown)
{
    if (!m_target || shown == m_shown)
        return;
    m_shown = shown;
    // A fade reversed halfway goes back from where it is.
    const double from = m_animation->state() == QAbstractAnimation::Running ? m_effect->opacity()
                        : shown                                             ? 0.0
                                                                            : 1.0;
    m_animation->stop();
    if (shown && m_target->isHidden()) {
        m_effect->setOpacity(0.0);
        m_target->show();
    }
    m_effect->setEnabled(true);
    m_animation->setStartValue(from);
    m_animation->setEndValue(shown ? 1.0 : 0.0);
    m_animation->start();
}

bool OpacityFade::fading() const
{
    return m_animation->state() == QAbstractAnimation::Running;
}

double OpacityFade::opacity() const
{
    return m_effect->isEnabled() ? m_effect->opacity() : (m_target && !m_target->isHidden() ? 1.0 : 0.0);
}
