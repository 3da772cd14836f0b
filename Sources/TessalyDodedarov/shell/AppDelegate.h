#pragma once

#include "display/HotKey.h"
#include "model/AppModel.h"

#include <QObject>

#include <memory>
#include <vector>

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

    // `platform` with the desktop's services in place of the defaults: pages, the microphone,
    // keep-awake, key checks, browser tabs, the dictionary, the file manager, glyph widths and
    // the settings window. The launch makes the shared model with it.
    AppModel::Platform desktopPlatform(AppModel::Platform platform = {}) const;

    void applicationDidFinishLaunching();
    // A second start asked to be shown: the caption panel comes back (recognition stays as it
    // was), or the settings window when the panel is already showing.
    void reopen();

    // Whether the settings window opens at launch.
    static bool needsSettingsAtLaunch(const AppModel &model);

    bool hasTrayIcon() const { return m_tray != nullptr; }
    QMenu *menu() const;
    MenuBarLabel *label() const { return m_label; }
    SpellChecker *spellChecker() const { return m_spell.get(); }
    KeepAwake *keepAwake() const { return m_keepAwake.get(); }
    CaptionPanelController *panelController() const { return m_panel; }
    // The hot keys whose combinations are grabbed.
    int hotKeyCount() const { return int(m_hotKeys.size()); }

private:
    // Wires what follows the model once it exists: the dictionary load and the script converter.
    void followModel(AppModel &model);
    void registerHotKeys(AppModel &model);

    MenuContent *m_menu = nullptr;
    MenuBarLabel *m_label = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
    UnixSignalWatcher *m_signals = nullptr;
    // Made with the delegate, as the platform's hooks refer to them, but not its children: the
    // launch's first child is the signal watcher.
    std::unique_ptr<SpellChecker> m_spell;
    std::unique_ptr<KeepAwake> m_keepAwake;
    std::shared_ptr<TraditionalChinese> m_traditional;
    std::vector<std::unique_ptr<HotKey>> m_hotKeys;
    CaptionPanelController *m_panel = nullptr;
};
