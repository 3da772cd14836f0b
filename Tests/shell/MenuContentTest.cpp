#include "TestMain.h"

#include "fakes/ModelRig.h"
#include "shell/import/ImportView.h"
#include "shell/import/ImportWindowController.h"
#include "shell/MenuBarLabel.h"
#include "shell/MenuContent.h"

#include <QAction>
#include <QMenu>
#include <QTest>

namespace {

// Every entry of the menu, in order, as "title|visible|enabled"; separators as "-".
QStringList entries(QMenu *menu)
{
    QStringList out;
    for (QAction *action : menu->actions()) {
        if (action->isSeparator()) {
            out << QStringLiteral("-");
            continue;
        }
        out << QStringLiteral("%1|%2|%3")
                   .arg(action->text(), action->isVisible() ? QStringLiteral("shown") : QStringLiteral("hidden"),
                        action->isEnabled() ? QStringLiteral("on") : QStringLiteral("off"));
    }
    return out;
}

QAction *find(QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

}

// The tray menu, built without a tray host from model states.
class MenuContentTest final : public QObject {
    Q_OBJECT

private slots:
    void states_data();
    void states();
    void noShortcuts();
    void showPanelDoesNotStart();
    void importOpensOneWindow();
    void entriesAct_data();
    void entriesAct();
};

void MenuContentTest::states_data()
{
    QTest::addColumn<bool>("running");
    QTest::addColumn<bool>("meeting");
    QTest::addColumn<int>("phase");
    QTest::addColumn<QString>("notice");
    QTest::addColumn<QString>("proofread");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("start");
    QTest::addColumn<bool>("meetingEntries");
    QTest::addColumn<int>("mark");

    const int standby = int(Engine::Phase::standby);
    const int recognizing = int(Engine::Phase::recognizing);
    const int stopped = int(Engine::Phase::stopped);
    QTest::newRow("no meeting") << false << false << stopped << QString() << QString() << QString()
                                << QStringLiteral("没有进行中的会议") << QStringLiteral("开始新会议（Ctrl+Alt+S）") << false
                                << int(Branding::Mark::none);
    QTest::newRow("recognising") << true << true << recognizing << QString() << QString() << QString()
                                 << QStringLiteral("识别中（计费）") << QStringLiteral("暂停（Ctrl+Alt+S）") << true
                                 << int(Branding::Mark::recognizing);
    QTest::newRow("standby") << true << true << standby << QString() << QString() << QString()
                             << QStringLiteral("待机：没有人声，不计费") << QStringLiteral("暂停（Ctrl+Alt+S）") << true
                             << int(Branding::Mark::standby);
    QTest::newRow("paused") << false << true << stopped << QString() << QString() << QString()
                            << QStringLiteral("已暂停（不计费，会议内容保留）") << QStringLiteral("继续当前会议（Ctrl+Alt+S）")
                            << true << int(Branding::Mark::paused);
    QTest::newRow("paused with notice") << false << true << stopped << QStringLiteral("没有人声，已自动暂停") << QString()
                                        << QString() << QStringLiteral("没有人声，已自动暂停")
                                        << QStringLiteral("继续当前会议（Ctrl+Alt+S）") << true << int(Branding::Mark::paused);
    QTest::newRow("proofread status") << false << false << stopped << QString() << QStringLiteral("正在会后校对“会议”（0/3）")
                                      << QString() << QStringLiteral("没有进行中的会议")
                                      << QStringLiteral("开始新会议（Ctrl+Alt+S）") << false << int(Branding::Mark::none);
    QTest::newRow("transcript problem") << true << true << standby << QString() << QString()
                                        << QStringLiteral("会议记录保存失败")
                                        << QStringLiteral("待机：没有人声，不计费") << QStringLiteral("暂停（Ctrl+Alt+S）")
                                        << true << int(Branding::Mark::standby);
    QTest::newRow("proofread status and transcript problem")
        << false << false << stopped << QString() << QStringLiteral("正在校对…") << QStringLiteral("磁盘满了")
        << QStringLiteral("没有进行中的会议") << QStringLiteral("开始新会议（Ctrl+Alt+S）") << false << int(Branding::Mark::none);
}

void MenuContentTest::states()
{
    QFETCH(bool, running);
    QFETCH(bool, meeting);
    QFETCH(int, phase);
    QFETCH(QString, notice);
    QFETCH(QString, proofread);
    QFETCH(QString, problem);
    QFETCH(QString, status);
    QFETCH(QString, start);
    QFETCH(bool, meetingEntries);
    QFETCH(int, mark);

    ModelRig rig;
    AppModel &model = rig.make();
    MenuContent content(model);
    MenuBarLabel label(model);
    const auto optional = [](const QString &text) {
        return text.isEmpty() ? AppModel::OptionalText() : AppModel::OptionalText(text);
    };
    // The menu follows the model's notifications: every state is set after the menu exists.
    model.setMeetingActiveState(meeting);
    model.setRunningState(running);
    rig.setPhase(Engine::Phase(phase));
    model.setNotice(optional(notice));
    rig.setProofreadStatus(optional(proofread));
    rig.setTranscriptProblem(optional(problem));

    const QString onOff = meetingEntries ? QStringLiteral("on") : QStringLiteral("off");
    const auto inactive = [](const QString &text, const QString &shownText) {
        return text.isEmpty() ? QStringLiteral("|hidden|off") : shownText + QStringLiteral("|shown|off");
    };
    const QStringList expected {
        status + QStringLiteral("|shown|off"),
        QStringLiteral("-"),
        start + QStringLiteral("|shown|on"),
        QStringLiteral("结束会议|shown|") + onOff,
        QStringLiteral("结束并开始新会议|shown|") + onOff,
        QStringLiteral("-"),
        QStringLiteral("字号|shown|on"),
        QStringLiteral("最小化到任务栏（后台继续识别）|shown|on"),
        QStringLiteral("-"),
        QStringLiteral("导入音视频生成字幕…|shown|on"),
        QStringLiteral("打开会议记录文件夹|shown|on"),
        QStringLiteral("本场统计…|shown|on"),
        inactive(proofread, proofread),
        // U+26A0 with the text-presentation selector, then one blank.
        inactive(problem, QStringLiteral("\u26A0\uFE0E ") + problem),
        QStringLiteral("设置…|shown|on"),
        QStringLiteral("退出泰萨利字幕|shown|on"),
    };
    // The meeting chat's entry goes with the chat window and has tests of its own.
    QStringList shown = entries(content.menu());
    shown.removeIf([](const QString &row) { return row.startsWith(QStringLiteral("问问这场会议…|")); });
    QCOMPARE(shown, expected);
    QCOMPARE(MenuContent::statusLine(model), status);
    QCOMPARE(int(label.mark()), mark);
    QCOMPARE(int(MenuBarLabel::mark(running, Engine::Phase(phase), meeting)), mark);
}

void MenuContentTest::noShortcuts()
{
    ModelRig rig;
    AppModel &model = rig.make();
    MenuContent content(model);
    QList<QMenu *> menus {content.menu()};
    for (QAction *action : content.menu()->actions()) {
        if (action->menu())
            menus << action->menu();
    }
    int count = 0;
    for (QMenu *menu : menus) {
        for (QAction *action : menu->actions()) {
            QVERIFY2(action->shortcut().isEmpty(), qPrintable(action->text()));
            ++count;
        }
    }
    QVERIFY(count > 15);
    // Inactive texts: the proofreading status and the record problem, shown only when set.
    QVERIFY(!find(content.menu(), QStringLiteral("问问这场会议…"))->isVisible());
}

void MenuContentTest::showPanelDoesNotStart()
{
    ModelRig rig;
    AppModel &model = rig.make();
    MenuContent content(model);
    model.setPanelVisible(false);
    QAction *show = find(content.menu(), QStringLiteral("显示字幕窗"));
    QVERIFY(show);
    show->trigger();
    QVERIFY(model.panelVisible());
    QVERIFY(!model.running());
    QVERIFY(!model.meetingActive());
    QVERIFY(find(content.menu(), QStringLiteral("最小化到任务栏（后台继续识别）")));
}

void MenuContentTest::importOpensOneWindow()
{
    ModelRig rig;
    AppModel &model = rig.make();
    MenuContent content(model);
    QAction *import = find(content.menu(), QStringLiteral("导入音视频生成字幕…"));
    import->trigger();
    QWidget *first = ImportWindowController::shared().window();
    QVERIFY(first);
    first->close();
    import->trigger();
    QCOMPARE(ImportWindowController::shared().window(), first);
    QCOMPARE(first->windowTitle(), QStringLiteral("泰萨利字幕 · 导入音视频生成字幕"));
    QCOMPARE(first->size(), QSize(480, 320));
    QCOMPARE(first->minimumSize(), first->maximumSize());
    QCOMPARE(first->findChildren<ImportView *>().size(), 1);
}

// What each meeting and window entry does, from a paused meeting with the panel shown and
// maximised. Without keys a meeting cannot start: the model asks for the settings instead.
void MenuContentTest::entriesAct_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("meetingAfter");
    QTest::addColumn<int>("settingsAsked");
    QTest::addColumn<bool>("panelAfter");
    QTest::newRow("end the meeting") << QStringLiteral("结束会议") << false << 0 << true;
    QTest::newRow("end and start a new one") << QStringLiteral("结束并开始新会议") << false << 1 << true;
    QTest::newRow("minimise") << QStringLiteral("最小化到任务栏（后台继续识别）") << true << 0 << false;
}

void MenuContentTest::entriesAct()
{
    QFETCH(QString, entry);
    QFETCH(bool, meetingAfter);
    QFETCH(int, settingsAsked);
    QFETCH(bool, panelAfter);
    ModelRig rig;
    AppModel &model = rig.make();
    int asked = 0;
    rig.platform.showSettings = [&asked] { ++asked; };
    MenuContent content(model);
    model.setMeetingActiveState(true);
    model.setPanelVisible(true);
    model.setMaximized(true);
    QAction *action = find(content.menu(), entry);
    QVERIFY(action);
    QVERIFY(action->isEnabled());
    action->trigger();
    QCOMPARE(model.meetingActive(), meetingAfter);
    QVERIFY(!model.running());
    QCOMPARE(asked, settingsAsked);
    QCOMPARE(model.panelVisible(), panelAfter);
    // Minimising also leaves the maximised size.
    QCOMPARE(model.maximized(), panelAfter);
}

DODEDAROV_TEST(MenuContentTest)

#include "MenuContentTest.moc"
