#include "TestMain.h"

#include "common/Clock.h"
#include "fakes/ModelRig.h"
#include "platform/Keychain.h"
#include "platform/UnixSignalWatcher.h"
#include "translation/DeepSeekTransport.h"

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

#include <cstdio>

// Not a test of its own: the process AppModelKillTest starts and then kills. It runs a meeting
// whose translations come from the parent's fake and whose record goes to the parent's
// folder, with the application's quit path (SIGTERM -> quit -> quitOnce), and reports on
// stdout the record's address, each line as it finishes and the partial text shown.
class AppModelMeetingChild final : public QObject {
    Q_OBJECT

private slots:
    void run()
    {
        const QString deepSeek = qEnvironmentVariable("DODEDAROV_CHILD_DEEPSEEK");
        const QString records = qEnvironmentVariable("DODEDAROV_CHILD_RECORDS");
        if (deepSeek.isEmpty() || records.isEmpty())
            QSKIP("started by AppModelKillTest");

        ModelRig rig;
        DeepSeekTransport::baseAddress = QUrl(deepSeek);
        rig.platform.recordsFolder = [records] { return records; };
        Clock::reset();
        rig.platform.wallClock = [] { return QDateTime::currentDateTime(); };
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-child"));
        AppModel &model = rig.make();
        model.setDiagnosticsEnabled(false);
        model.setProofreadAfterMeeting(false);
        rig.beginMeeting();
        model.setRunningState(true);
        report(QStringLiteral("RECORD ") + *model.transcript().fileURL());

        UnixSignalWatcher signalWatcher;
        connect(&signalWatcher, &UnixSignalWatcher::terminationRequested, qApp, &QCoreApplication::quit);
        connect(qApp, &QCoreApplication::aboutToQuit, &model, &AppModel::quitOnce);

        int reported = 0;
        connect(&model, &AppModel::linesChanged, this, [&] {
            const QList<CaptionLine> &lines = model.lines();
            while (reported < lines.size() && lines.at(reported).finished) {
                report(QStringLiteral("LINE ") + lines.at(reported).english);
                ++reported;
            }
        });
        int n = 0;
        QTimer speech;
        connect(&speech, &QTimer::timeout, this, [&] {
            ++n;
            model.handleCommitted(QStringLiteral("Sentence number %1 is about the plan.").arg(n));
            const QString partial = QStringLiteral("and then partial words %1").arg(n + 1);
            model.handlePartial(partial, std::nullopt);
            report(QStringLiteral("PARTIAL ") + partial);
        });
        speech.start(150);
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&] { rig.tick(); });
        tick.start(250);
        QCoreApplication::exec();
    }

private:
    static void report(const QString &text)
    {
        std::fputs((text + QLatin1Char('\n')).toUtf8().constData(), stdout);
        std::fflush(stdout);
    }
};

DODEDAROV_TEST(AppModelMeetingChild)
#include "AppModelMeetingChild.moc"
