#pragma once

#include <QWidget>

#include <functional>

// The caption panel's content: reports the mouse entering and leaving it, wherever over the
// panel the mouse is, and hosts the caption view and the grips.
class HoverView final : public QWidget {
    Q_OBJECT

public:
    explicit HoverView(QWidget *parent = nullptr);

    std::function<void(bool)> onHover;

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
};
