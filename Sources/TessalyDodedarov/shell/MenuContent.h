#pragma once

#include "speech/Engine.h"

#include <QObject>

#include <functional>
#include <optional>
#include <QPointer>

class AppModel;
class QAction;
#include <QMenu>

// The one menu of the application: the tray icon's menu and the caption panel's right-click
// menu. Its actions are made once and rewritten when the model notifies, because D-Bus menu
// hosts cache the layout; inactive texts are disabled actions. No action has a shortcut: the
// titles only name the global hot keys.
class MenuContent final : public QObject {
    Q_OBJECT

public:
    explicit MenuContent(AppModel &model, QObject *parent = nullptr);
    ~MenuContent() override;

    QMenu *menu() const { return m_menu; }

    // The first entry's text for the model's state.
    static QString statusLine(const AppModel &model);
    static QString statusLine(bool running, Engine::Phase phase, bool meetingActive,
                              const std::optional<QString> &notice);

    // What quitting does; the delegate sets QCoreApplication::quit.
    std::function<void()> quit;

private slots:
    void refresh();

private:
    void pauseOrStart();
    void panelEntry();

    AppModel &m_model;
    QPointer<QMenu> m_menu;
    QAction *m_status = nullptr;
    QAction *m_start = nullptr;
    QAction *m_end = nullptr;
    QAction *m_renew = nullptr;
    QAction *m_panel = nullptr;
    QAction *m_proofread = nullptr;
    QAction *m_problem = nullptr;
    QAction *m_chat = nullptr;
};
