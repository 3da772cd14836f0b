#include "TestMain.h"

#include "common/Clock.h"
#include "fakes/ModelRig.h"
#include "platform/Keychain.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// From spoken audio to the record on disk: keys in the real keyring, espeak-ng speech played
// into the test's null sink, the real engine capturing it and streaming it to the fake
// recognition service, whose scripted transcripts become caption units; the translator asks
// the fake DeepSeek, and the ended meeting's record holds both sides.
class AppModelEndToEndTest final : public QObject {
    Q_OBJECT

private slots:
    void speechToRecord()
    {
        if (qEnvironmentVariableIsEmpty("DODEDAROV_TEST_SINK"))
            QSKIP("needs the test environment's sound server (scripts/with-test-env)");
        QTemporaryDir dir;
        const QString wav = dir.filePath(QStringLiteral("speech.wav"));
        QCOMPARE(QProcess::execute(QStringLiteral("espeak-ng"),
                                   {QStringLiteral("-w"), wav,
                                    QStringLiteral("Good morning everyone. Today we look at the quarterly numbers.")}),
                 0);

        ModelRig rig;
        // The engine's voice gate runs on real time here.
        Clock::reset();
        rig.platform.wallClock = [] { return QDateTime::currentDateTime(); };
        ModelRig::storeKey(Keychain::elevenLabsAccount, QString::fromUtf8(rig.scribe.expectedKey));
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-end-to-end"));
        rig.deepSeek.enqueue(FakeDeepSeekServer::stream({QStringLiteral("大家"), QStringLiteral("早上好。")}));
        rig.deepSeek.enqueue(FakeDeepSeekServer::stream({QStringLiteral("今天我们看季度数字。")}));
        QStringList revealed;
        rig.platform.revealFile = [&](const QString &file) { revealed.append(file); };
        AppModel &model = rig.make();
        model.setProofreadAfterMeeting(false);
        model.setDiagnosticsEnabled(false);

        model.startOrResume();
        QVERIFY(model.running());
        QProcess player;
        player.start(QStringLiteral("paplay"),
                     {QStringLiteral("--device=") + qEnvironmentVariable("DODEDAROV_TEST_SINK"), wav});
        QVERIFY(player.waitForStarted());
        // The audio reaches the service.
        QTRY_VERIFY_WITH_TIMEOUT(rig.scribe.connections().size() == 1 && rig.scribe.last().chunks.size() >= 10,
                                 30000);
        rig.scribe.send(FakeScribeServer::committed(QStringLiteral("Good morning everyone.")));
        QTRY_VERIFY_WITH_TIMEOUT(!model.lines().isEmpty() && model.lines().constFirst().finished, 20000);
        rig.scribe.send(FakeScribeServer::committed(QStringLiteral("Today we look at the quarterly numbers.")));
        QTRY_VERIFY_WITH_TIMEOUT(model.lines().size() >= 2 && model.lines().at(1).finished, 20000);
        QCOMPARE(model.lines().at(0).english, QStringLiteral("Good morning everyone."));
        QCOMPARE(model.lines().at(0).chinese, QStringLiteral("大家早上好。"));
        player.waitForFinished(15000);

        const QString file = *model.transcript().fileURL();
        model.endMeeting();
        QTRY_VERIFY_WITH_TIMEOUT(!model.meetingActive(), 20000);
        QCOMPARE(revealed, QStringList{file});
        QFile record(file);
        QVERIFY(record.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(record.readAll());
        for (const QString &expected : {QStringLiteral("Good morning everyone."), QStringLiteral("大家早上好。"),
                                        QStringLiteral("Today we look at the quarterly numbers."),
                                        QStringLiteral("今天我们看季度数字。")})
            QVERIFY2(text.contains(expected), qPrintable(text));
        // Each English line sits with its translation.
        QVERIFY(text.indexOf(QStringLiteral("大家早上好。")) < text.indexOf(QStringLiteral("Today we look")));
    }
};

DODEDAROV_TEST(AppModelEndToEndTest)
#include "AppModelEndToEndTest.moc"
