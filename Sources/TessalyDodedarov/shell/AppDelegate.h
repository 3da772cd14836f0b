#pragma once

#include "display/HotKey.h"

#include <QObject>

#include <memory>
#include <vector>

class AppModel;
class KeepAwake;
class MenuBarLabel;
class MenuContent;
class CaptionPanelController;
class QMenu;
class QSystemTrayIcon;
class SpellChecker;
class TraditionalChinese;
class UnixSignalWatcher;

// Receives the launch and wires the application together: the tray icon and its menu, the
// platform services behind the model's hooks, the caption panel, the hot keys and the first-run
// rule. Owned by main(); lives until quit.
class AppDelegate final : public QObject {
    Q_OBJECT

public:
    explicit AppDelegate(QObject *parent = nullptr);
    ~AppDelegate() override;

    // The model to wire; AppModel::shared() unless a test gives its own before launching.
    AppModel *model = nullptr;

    void applicationDidFinishLaunching();
    // A second start asked to be shown: the caption panel comes back (recognition stays as it
    // was), or the settings window when the panel is already showing.
    void reopen();

    // Whether the settings window opens at launch.
    static bool needsSettingsAtLaunch(const AppModel &model);

    bool hasTrayIcon() const { return m_tray != nullptr; }
    QMenu *menu() const;
    MenuBarLabel *label() const { return m_label; }
    SpellChecker *spellChecker() const { return m_spell; }
    KeepAwake *keepAwake() const { return m_keepAwake; }
    CaptionPanelController *panelController() const { return m_panel; }
    // The hot keys whose combinations are grabbed.
    int hotKeyCount() const { return int(m_hotKeys.size()); }

private:
    void installHooks(AppModel &model);
    void registerHotKeys(AppModel &model);

    MenuContent *m_menu = nullptr;
    MenuBarLabel *m_label = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
    UnixSignalWatcher *m_signals = nullptr;
    SpellChecker *m_spell = nullptr;
    KeepAwake *m_keepAwake = nullptr;
    std::shared_ptr<TraditionalChinese> m_traditional;
    std::vector<std::unique_ptr<HotKey>> m_hotKeys;
    CaptionPanelController *m_panel = nullptr;
};
