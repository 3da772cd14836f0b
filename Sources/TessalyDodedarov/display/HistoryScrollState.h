#pragma once

#include <QObject>

#include <functional>

// What the history text view shares with the caption view: whether the history follows the
// newest line, how many paragraphs came in unseen while paused under the mouse, and the
// action that jumps back to the newest line (set by the text view). Owned by the caption view.
class HistoryScrollState final : public QObject {
    Q_OBJECT

public:
    explicit HistoryScrollState(QObject *parent = nullptr)
        : QObject(parent)
    {
    }

    bool following() const { return m_following; }
    void setFollowing(bool on)
    {
        if (on == m_following)
            return;
        m_following = on;
        emit changed();
    }
    int unseen() const { return m_unseen; }
    void setUnseen(int count)
    {
        if (count == m_unseen)
            return;
        m_unseen = count;
        emit changed();
    }

    std::function<void()> jump;

signals:
    void changed();

private:
    bool m_following = true;
    int m_unseen = 0;
};
