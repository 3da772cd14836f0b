#include "TestMain.h"

#include "NoKeyOnDiskKeys.h"
#include "common/Clock.h"
#include "fakes/FakeAccountServer.h"
#include "fakes/ModelRig.h"
#include "records/TranscriptWriter.h"
#include "accounts/KeyCheck.h"
#include "translation/Proofread.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <cstdio>

// Not a test of its own: the process NoKeyOnDiskTest starts under a HOME and XDG folders of its
// own. It runs a whole meeting the way a user would, with the application's own places for
// settings and records: keys typed into the model, checked against the account fake, speech
// recognised over the realtime fake and translated over the chat fake, a question to the
// meeting chat, the end of the meeting with its proofread copy and diagnostics, then the
// application's quit. It prints "FINISHED" once everything it waited for is on disk.
class NoKeyOnDiskChild final : public QObject {
    Q_OBJECT

private slots:
    void run()
    {
        if (qEnvironmentVariableIsEmpty("DODEDAROV_KEY_CHILD"))
            QSKIP("started by NoKeyOnDiskTest");

        ModelRig rig;
        // The application's own places, inside this process's HOME and XDG folders.
        const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config);
        rig.platform.recordsFolder = [] { return TranscriptWriter::defaultDirectory(); };
        Clock::reset();
        rig.platform.wallClock = [] { return QDateTime::currentDateTime(); };

        // The key checks of the application, over loopback: the recognition key is known to the
        // account fake, the translation key's checks go to the chat fake, which refuses them.
        FakeAccountServer accounts;
        QVERIFY(accounts.listen());
        accounts.expectedKey = NoKeyOnDiskKeys::elevenLabs().toUtf8();
        KeyCheck::elevenLabsAddress = accounts.baseUrl();
        rig.platform.checkKey = [](KeyProvider provider, const QString &key, std::function<void(const KeyStatus &)> done) {
            KeyCheck::check(provider, key, [done](const KeyStatus &status) { done(status); });
        };
        rig.platform.fetchBalance = [](KeyProvider provider, const QString &key,
                                    std::function<void(const std::optional<BalanceInfo> &)> done) {
            KeyCheck::balance(provider, key, [done](const std::optional<BalanceInfo> &info) { done(info); });
        };

        rig.scribe.expectedKey = NoKeyOnDiskKeys::elevenLabs().toUtf8();
        answerByPurpose(rig.deepSeek);

        AppModel &model = rig.make();
        model.keys().addElevenLabsKey(NoKeyOnDiskKeys::elevenLabs());
        model.keys().addElevenLabsKey(NoKeyOnDiskKeys::elevenLabsSpare());
        model.keys().saveKey(KeyProvider::deepSeek, NoKeyOnDiskKeys::deepSeek());
        QVERIFY(model.keys().hasElevenLabsKey());
        QVERIFY(model.keys().hasDeepSeekKey());
        model.setProofreadAfterMeeting(true);
        model.setDiagnosticsEnabled(true);
        model.setOpenRecordsAfterMeeting(false);

        model.startOrResume();
        QVERIFY(model.running());
        rig.connectEngineNow();
        QTRY_VERIFY_WITH_TIMEOUT(rig.scribe.connections().size() == 1, 20000);
        QCOMPARE(rig.scribe.last().apiKey, NoKeyOnDiskKeys::elevenLabs().toUtf8());

        const QStringList sentences = {
            QStringLiteral("Good morning everyone and welcome to the planning review for the coming quarter."),
            QStringLiteral("We will look at the budget, the hiring plan and the release schedule today."),
            QStringLiteral("The release slipped by two weeks because the testing took longer than expected."),
            QStringLiteral("Please send your questions to the team before the end of the week."),
        };
        for (qsizetype i = 0; i < sentences.size(); ++i) {
            rig.scribe.send(FakeScribeServer::committed(sentences.at(i)));
            QTRY_VERIFY_WITH_TIMEOUT(model.lines().size() > i && model.lines().at(i).finished, 20000);
        }

        model.askMeeting(QStringLiteral("刚才讲了哪些事情？"));
        QTRY_VERIFY_WITH_TIMEOUT(!model.chatBusy() && model.chatMessages().size() >= 2, 20000);
        const QString record = *model.transcript().fileURL();

        model.endMeeting();
        QTRY_VERIFY_WITH_TIMEOUT(!model.meetingActive(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(model.proofreadStatus() && model.proofreadStatus()->startsWith(QStringLiteral("会后校对完成")),
                                 30000);
        QTRY_VERIFY_WITH_TIMEOUT(model.diagnosticsStatus() && model.diagnosticsStatus()->contains(QStringLiteral("自动分析")),
                                 30000);
        std::printf("RECORD %s\n", record.toUtf8().constData());

        // The application's quit path.
        connect(qApp, &QCoreApplication::aboutToQuit, &model, &AppModel::quitOnce);
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
        std::printf("FINISHED\n");
        std::fflush(stdout);
    }

private:
    // Each request is answered after what it is for: the proofreading with no fixes, the
    // diagnostics analysis with a short list, everything else (translations, the chat, research)
    // with one Chinese sentence.
    static void answerByPurpose(FakeDeepSeekServer &server)
    {
        connect(&server, &FakeDeepSeekServer::requestReceived, &server, [&server] {
            const FakeDeepSeekServer::Request &request = server.requests().constLast();
            // The fake refuses a malformed request before reading any script.
            if (!request.isChatCall())
                return;
            const QString system = request.contents().value(0);
            if (system.startsWith(Proofread::systemPrompt().left(40)))
                server.enqueue(FakeDeepSeekServer::stream({QStringLiteral("{\"fixes\":[]}")}));
            else if (system.startsWith(AppModel::analysisPrompt().left(40)))
                server.enqueue(FakeDeepSeekServer::stream({QStringLiteral("- 没有发现明显问题。")}));
            else
                server.enqueue(FakeDeepSeekServer::stream(
                    {QStringLiteral("我们今天讨论"), QStringLiteral("下个季度的计划和预算安排。")}));
        }, Qt::DirectConnection);
    }
};

DODEDAROV_TEST(NoKeyOnDiskChild)
#include "NoKeyOnDiskChild.moc"
