#pragma once

#include <QHash>
#include <QKeyCombination>

#include <functional>
#include <memory>

// One system-wide keyboard shortcut that works while another application is in front (the
// captions run over a meeting or a video) and runs its action on the main thread, once per
// press. The application delegate creates the hot keys at launch and keeps them for the life of
// the application; destroying one releases the combination and forgets its action.
// Under X11 it is a key grab (platform/x11/X11KeyGrabber); without X11 creation fails.
class HotKey final {
public:
    using Action = std::function<void()>;

    // Nothing when the combination cannot be registered: no X11, a key this keyboard lacks, or
    // another application holds the combination. A refused registration still uses up its id.
    static std::unique_ptr<HotKey> create(QKeyCombination combination, Action action);
    ~HotKey();

    HotKey(const HotKey &) = delete;
    HotKey &operator=(const HotKey &) = delete;

    quint32 id() const { return m_id; }

private:
    explicit HotKey(quint32 id);

    quint32 m_id = 0;

    static inline quint32 nextID = 1;
    static inline QHash<quint32, Action> actions;
};
