#pragma once

#include <QString>
#include <QWidget>

class QScrollArea;
class QVBoxLayout;

// The running recap of the meeting, in the caption panel's recap popup: a title, then one
// block per section of the recap text, or a placeholder while there is none yet.
class RecapView final : public QWidget {
    Q_OBJECT

public:
    explicit RecapView(QWidget *parent = nullptr);

    void setRecap(const QString &recap);
    const QString &recap() const { return m_recap; }

    static constexpr int bodyWidth = 440;
    static constexpr int maxHeight = 460;

private:
    // The scroll view as high as the text needs, up to the limit; a scroll view's own size
    // hint knows nothing of its content.
    void fitToContent();

    QScrollArea *m_scroll = nullptr;
    QString m_recap;
    QWidget *m_body = nullptr;
    QVBoxLayout *m_stack = nullptr;
};
