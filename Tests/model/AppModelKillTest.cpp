#include "TestMain.h"

#include "fakes/FakeDeepSeekServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// A meeting in a child process is killed: with SIGKILL every line that finished well before
// the kill is in the record and the file is whole; with SIGTERM nothing is missing, the partial
// sentence on screen included.
class AppModelKillTest final : public QObject {
    Q_OBJECT

    struct Child {
        FakeDeepSeekServer deepSeek;
        QTemporaryDir records;
        QProcess process;
        QElapsedTimer clock;
        QString record;
        QList<QPair<QString, qint64>> lines; // text, when the parent read it
        QString partial;
        QByteArray pending;

        bool start()
        {
            if (!deepSeek.listen())
                return false;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("DODEDAROV_CHILD_DEEPSEEK"), deepSeek.baseUrl().toString());
            env.insert(QStringLiteral("DODEDAROV_CHILD_RECORDS"), records.path());
            process.setProcessEnvironment(env);
            process.setProcessChannelMode(QProcess::SeparateChannels);
            QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [this] { read(); });
            clock.start();
            process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("AppModelMeetingChild")});
            return process.waitForStarted(20000);
        }
        void read()
        {
            pending += process.readAllStandardOutput();
            qsizetype end;
            while ((end = pending.indexOf('\n')) >= 0) {
                const QString line = QString::fromUtf8(pending.left(end));
                pending.remove(0, end + 1);
                if (line.startsWith(QLatin1String("RECORD ")))
                    record = line.mid(7);
                else if (line.startsWith(QLatin1String("LINE ")))
                    lines.append({line.mid(5), clock.elapsed()});
                else if (line.startsWith(QLatin1String("PARTIAL ")))
                    partial = line.mid(8);
            }
        }
        QString recordText() const
        {
            QFile file(record);
            if (!file.open(QIODevice::ReadOnly))
                return {};
            return QString::fromUtf8(file.readAll());
        }
    };

private slots:
    void killed()
    {
        Child child;
        QVERIFY(child.start());
        // Enough lines, the oldest well past the margin.
        QTRY_VERIFY_WITH_TIMEOUT(child.lines.size() >= 12, 60000);
        const qint64 killedAt = child.clock.elapsed();
        ::kill(pid_t(child.process.processId()), SIGKILL);
        QVERIFY(child.process.waitForFinished(20000));
        QCOMPARE(child.process.exitStatus(), QProcess::CrashExit);

        const QString text = child.recordText();
        QVERIFY2(text.endsWith(QLatin1Char('\n')), "the record is cut off");
        int checked = 0;
        for (const auto &[line, at] : std::as_const(child.lines)) {
            if (at > killedAt - 1500)
                continue;
            QVERIFY2(text.contains(line), qPrintable(line));
            ++checked;
        }
        QVERIFY(checked > 0);
        // Nothing half-written is left beside it.
        QCOMPARE(QDir(child.records.path()).entryList(QDir::Files).size(), 1);
    }

    void terminated()
    {
        Child child;
        QVERIFY(child.start());
        QTRY_VERIFY_WITH_TIMEOUT(child.lines.size() >= 5, 60000);
        child.process.terminate();
        QVERIFY(child.process.waitForFinished(20000));
        child.read();
        QCOMPARE(child.process.exitStatus(), QProcess::NormalExit);
        const QString text = child.recordText();
        for (const auto &[line, at] : std::as_const(child.lines))
            QVERIFY2(text.contains(line), qPrintable(line));
        QVERIFY(!child.partial.isEmpty());
        QVERIFY2(text.contains(child.partial), qPrintable(child.partial + QStringLiteral("\n") + text));
    }
};

DODEDAROV_TEST(AppModelKillTest)
#include "AppModelKillTest.moc"
