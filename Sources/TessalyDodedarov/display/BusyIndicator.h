#pragma once

#include <QWidget>

class QTimer;

// A small spinning arc, shown while something is being worked on; it turns only while visible.
class BusyIndicator final : public QWidget {
    Q_OBJECT

public:
    explicit BusyIndicator(QWidget *parent = nullptr);

    void setColor(const QColor &color);
    QSize sizeHint() const override { return {12, 12}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QTimer *m_timer;
    QColor m_color = Qt::white;
    int m_angle = 0;
};
