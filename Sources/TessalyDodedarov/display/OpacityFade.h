#pragma once

#include <QObject>
#include <QPointer>

class QGraphicsOpacityEffect;
class QPropertyAnimation;
class QWidget;

// Shows and hides one widget by fading its opacity in or out over a short ease-out curve:
// the panel's controls, status pill and jump button come and go with the pointer, and a hard
// cut would flicker while the mouse crosses the edge. While hidden the widget is hidden for
// real, so it takes no clicks; while fully shown the effect is off and the widget draws
// crisply. Owned by the widget it fades; main thread only.
class OpacityFade final : public QObject {
    Q_OBJECT

public:
    static constexpr int duration = 150;

    explicit OpacityFade(QWidget *target);

    // The state the widget goes to; the fade runs only when it changes.
    void setShown(bool shown);
    bool shown() const { return m_shown; }
    // Whether a fade is still running.
    bool fading() const;
    double opacity() const;

private:
    QPointer<QWidget> m_target;
    QGraphicsOpacityEffect *m_effect;
    QPropertyAnimation *m_animation;
    bool m_shown;
};
