#include "shell/MenuContent.h"

#include "shell/chat/ChatWindowController.h"
#include "model/AppModel.h"
#include "shell/import/ImportWindowController.h"
#include "shell/SettingsWindowController.h"
#include "shell/StatsWindowController.h"

#include <QCoreApplication>
#include <QMenu>
#include <QMetaMethod>
#include <QMetaProperty>

MenuContent::MenuContent(AppModel &model, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_menu(new QMenu)
{
    m_menu->setObjectName(QStringLiteral("appMenu"));
    quit = [] { QCoreApplication::quit(); };

    m_status = m_menu->addAction(QString());
    m_status->setEnabled(false);
    m_menu->addSeparator();
    m_start = m_menu->addAction(QString(), this, [this] { pauseOrStart(); });
    m_end = m_menu->addAction(QStringLiteral("结束会议"), this, [this] { m_model.endMeeting(); });
    m_renew = m_menu->addAction(QStringLiteral("结束并开始新会议"), this, [this] { m_model.newMeeting(); });
    m_menu->addSeparator();
    QMenu *size = m_menu->addMenu(QStringLiteral("字号"));
    size->addAction(QStringLiteral("放大（Ctrl+Alt+=）"), this, [this] { m_model.adjustFontSize(2.0); });
    size->addAction(QStringLiteral("缩小（Ctrl+Alt+-）"), this, [this] { m_model.adjustFontSize(-2.0); });
    m_panel = m_menu->addAction(QString(), this, [this] { panelEntry(); });
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("导入音视频生成字幕…"), this, [] { ImportWindowController::shared().show(); });
    m_menu->addAction(QStringLiteral("打开会议记录文件夹"), this, [this] { m_model.openTranscripts(); });
    m_menu->addAction(QStringLiteral("本场统计…"), this, [] { StatsWindowController::shared().show(); });
    m_proofread = m_menu->addAction(QString());
    m_proofread->setEnabled(false);
    m_problem = m_menu->addAction(QString());
    m_problem->setEnabled(false);
    // Listed once the meeting has something to ask about.
    m_chat = m_menu->addAction(QStringLiteral("问问这场会议…"), this, [] { ChatWindowController::shared().show(); });
    m_menu->addAction(QStringLiteral("设置…"), this, [] { SettingsWindowController::shared().show(); });
    m_menu->addAction(QStringLiteral("退出泰萨利字幕"), this, [this] { quit(); });

    const QMetaObject *meta = m_model.metaObject();
    const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("refresh()"));
    for (const char *name : {"running", "meetingActive", "phase", "notice", "panelVisible", "proofreadStatus",
                             "transcriptProblem", "lines"}) {
        const QMetaProperty property = meta->property(meta->indexOfProperty(name));
        connect(&m_model, property.notifySignal(), this, slot);
    }
    refresh();
}

MenuContent::~MenuContent()
{
    delete m_menu;
}

QString MenuContent::statusLine(const AppModel &model)
{
    return statusLine(model.running(), model.phase(), model.meetingActive(), model.notice());
}

QString MenuContent::statusLine(bool running, Engine::Phase phase, bool meetingActive,
                                const std::optional<QString> &notice)
{
    if (running)
        return phase == Engine::Phase::recognizing ? QStringLiteral("识别中（计费）")
                                                   : QStringLiteral("待机：没有人声，不计费");
    if (!meetingActive)
        return QStringLiteral("没有进行中的会议");
    return notice.value_or(QStringLiteral("已暂停（不计费，会议内容保留）"));
}

void MenuContent::refresh()
{
    m_status->setText(statusLine(m_model));
    if (m_model.running())
        m_start->setText(QStringLiteral("暂停（Ctrl+Alt+S）"));
    else if (m_model.meetingActive())
        m_start->setText(QStringLiteral("继续当前会议（Ctrl+Alt+S）"));
    else
        m_start->setText(QStringLiteral("开始新会议（Ctrl+Alt+S）"));
    m_end->setEnabled(m_model.meetingActive());
    m_renew->setEnabled(m_model.meetingActive());
    m_panel->setText(m_model.panelVisible() ? QStringLiteral("最小化到任务栏（后台继续识别）")
                                            : QStringLiteral("显示字幕窗"));
    m_proofread->setVisible(m_model.proofreadStatus().has_value());
    m_proofread->setText(m_model.proofreadStatus().value_or(QString()));
    m_problem->setVisible(m_model.transcriptProblem().has_value());
    m_problem->setText(m_model.transcriptProblem() ? QStringLiteral("⚠︎ ") + *m_model.transcriptProblem() : QString());
    m_chat->setVisible(m_model.canChat());
}

void MenuContent::pauseOrStart()
{
    // Pausing is the hot key's toggle while listening; the state may have changed since the
    // menu opened, so it is checked again here.
    if (m_model.running())
        m_model.toggle();
    else
        m_model.startOrResume();
}

void MenuContent::panelEntry()
{
    if (m_model.panelVisible())
        m_model.minimize();
    else
        m_model.setPanelVisible(true);
}
