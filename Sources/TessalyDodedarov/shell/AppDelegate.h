#pragma once

#include <QObject>

class CaptionPanelController;
class QMenu;
class QSystemTrayIcon;
class UnixSignalWatcher;

// Receives the launch and wires the application together. Owned by main(); lives until quit.
// Without a tray host (a bare X server, some Wayland desktops) the app keeps running and quits
// on SIGINT or SIGTERM.
class AppDelegate final : public QObject {
    Q_OBJECT

public:
    explicit AppDelegate(QObject *parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    bool hasTrayIcon() const { return m_tray != nullptr; }

private:
    QMenu *m_menu = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
    UnixSignalWatcher *m_signals = nullptr;
    CaptionPanelController *m_panel = nullptr;
};
