#include "TestMain.h"

#include "fakes/ManualDeepSeekServer.h"
#include "fakes/ModelRig.h"
#include "platform/Keychain.h"
#include "translation/DeepSeekTransport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

namespace {

CaptionLine finishedLine(int id, const QString &english, const QString &chinese)
{
    CaptionLine line;
    line.id = id;
    line.english = english;
    line.chinese = chinese;
    line.finished = true;
    line.time = QDateTime(QDate(2026, 5, 4), QTime(9, 31, id));
    return line;
}

} // namespace

// The meeting chat through the model: when it may ask, the ids of questions and answers, what
// the request carries, an answer that arrives after a new meeting began, and the
// question-and-answer file beside the record.
class AppModelChatTest final : public QObject {
    Q_OBJECT

private slots:
    void withoutLinesOrKey()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        QSignalSpy canChat(&model, &AppModel::canChatChanged);
        model.askMeeting(QStringLiteral("讲了什么？"));
        QVERIFY(model.chatMessages().isEmpty());
        QVERIFY(!model.canChat());
        CaptionLine open = finishedLine(0, QStringLiteral("Hello"), QString());
        open.finished = false;
        rig.setLines({open});
        QVERIFY(!model.canChat());
        rig.setLines({finishedLine(0, QStringLiteral("Hello"), QStringLiteral("你好"))});
        QVERIFY(model.canChat());
        QVERIFY(canChat.size() >= 2);

        const int first = model.nextChatID();
        model.askMeeting(QStringLiteral(" \n "));
        QVERIFY(model.chatMessages().isEmpty());
        model.askMeeting(QStringLiteral("讲了什么？"));
        QCOMPARE(model.chatMessages().size(), 2);
        QCOMPARE(model.chatMessages().at(0).id, first);
        QVERIFY(model.chatMessages().at(0).fromUser);
        QCOMPARE(model.chatMessages().at(1).id, first + 1);
        QCOMPARE(model.chatMessages().at(1).text, QStringLiteral("还没有填 DeepSeek 的 API Key，没法回答。"));
        QVERIFY(model.chatMessages().at(1).failed);
        QVERIFY(!model.chatBusy());
        QCOMPARE(model.nextChatID(), first + 2);
        QCOMPARE(model.diag().count(QStringLiteral("chat")), 1);
        QVERIFY(rig.deepSeek.requests().isEmpty());
    }

    void answerAndFile()
    {
        ModelRig rig;
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-test"));
        rig.deepSeek.enqueue(FakeDeepSeekServer::stream({QStringLiteral("讲了"), QStringLiteral("瓣膜。")}));
        AppModel &model = rig.make();
        rig.setLines({finishedLine(0, QStringLiteral("We replace the valve."), QStringLiteral("我们置换瓣膜。"))});
        model.setRecap(QStringLiteral("讲瓣膜"));
        // The record file the question-and-answer file goes beside.
        bool saved = false;
        model.transcript().begin(rig.wallNow);
        model.transcript().save({model.recordEntry(model.lines().first())}, true, [&](bool ok) { saved = ok; });
        QVERIFY(saved);
        const std::optional<QString> record = model.transcript().fileURL();
        QVERIFY(record);

        model.askMeeting(QStringLiteral("讲了什么？"));
        QVERIFY(model.chatBusy());
        QVERIFY(model.chatMessages().at(1).pending);
        model.askMeeting(QStringLiteral("再问一个"));
        QCOMPARE(model.chatMessages().size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(!model.chatBusy(), 20000);
        QCOMPARE(model.chatMessages().at(1).text, QStringLiteral("讲了瓣膜。"));
        const QString system = rig.deepSeek.requests().first().contents().first();
        QVERIFY(system.contains(QStringLiteral("【前情提要（自动生成）】\n讲瓣膜")));
        QVERIFY(system.contains(QStringLiteral("【会议记录】\n")));
        QVERIFY(system.contains(QStringLiteral("We replace the valve.")));
        QVERIFY(!system.contains(QStringLiteral("sk-test")));

        const QFileInfo info(*record);
        const QString sidecar = info.dir().filePath(info.completeBaseName() + QStringLiteral(" 问答.txt"));
        QFile file(sidecar);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(sidecar));
        QCOMPARE(QString::fromUtf8(file.readAll()),
                 QStringLiteral("泰萨利字幕 会后问答（会议记录：“") + info.fileName()
                     + QStringLiteral("”）\n\n问：讲了什么？\n\n答：讲了瓣膜。\n\n"));
    }

    // A service that refuses the web-search tool, met by the chat, switches web search off for
    // the rest of the run, research and quick checks included.
    void refusedToolSwitchesWebSearchOff()
    {
        ModelRig rig;
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-test"));
        rig.deepSeek.refuseTools = true;
        AppModel &model = rig.make();
        rig.setLines({finishedLine(0, QStringLiteral("We replace the valve."), QStringLiteral("我们置换瓣膜。"))});
        model.askMeeting(QStringLiteral("讲了什么？"));
        QTRY_VERIFY_WITH_TIMEOUT(!model.chatBusy(), 20000);
        QCOMPARE(model.chatMessages().at(1).text, QStringLiteral("ok"));
        QVERIFY(rig.deepSeek.requests().first().json.contains(QStringLiteral("tools")));
        // The next question goes without the tool from the start.
        const qsizetype asked = rig.deepSeek.requests().size();
        model.askMeeting(QStringLiteral("还有呢？"));
        QTRY_VERIFY_WITH_TIMEOUT(!model.chatBusy(), 20000);
        QCOMPARE(rig.deepSeek.requests().size(), asked + 1);
        QVERIFY(!rig.deepSeek.requests().last().json.contains(QStringLiteral("tools")));
    }

    void lateAnswerAfterNewMeeting()
    {
        ModelRig rig;
        ManualDeepSeekServer manual;
        QVERIFY(manual.listen());
        DeepSeekTransport::baseAddress = manual.baseUrl(); // the rig puts it back
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-test"));
        AppModel &model = rig.make();
        rig.setLines({finishedLine(0, QStringLiteral("Hello there."), QStringLiteral("你好。"))});
        QSignalSpy request(&manual, &ManualDeepSeekServer::requestReceived);
        model.askMeeting(QStringLiteral("讲了什么？"));
        QVERIFY(request.wait(20000));
        rig.beginMeeting();
        QVERIFY(model.chatMessages().isEmpty());
        QVERIFY(!model.chatBusy());
        rig.setLines({finishedLine(0, QStringLiteral("Next item."), QStringLiteral("下一项。"))});
        model.askMeeting(QStringLiteral("新问题"));
        QVERIFY(request.wait(20000));
        QCOMPARE(manual.count(), 2);
        manual.reply(0, {QStringLiteral("迟到的回答")});
        manual.reply(1, {QStringLiteral("新回答")});
        QTRY_VERIFY_WITH_TIMEOUT(!model.chatBusy(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(manual.open().isEmpty(), 20000);
        QCOMPARE(model.chatMessages().size(), 2);
        QCOMPARE(model.chatMessages().at(0).text, QStringLiteral("新问题"));
        QCOMPARE(model.chatMessages().at(1).text, QStringLiteral("新回答"));
    }
};

DODEDAROV_TEST(AppModelChatTest)
#include "AppModelChatTest.moc"
