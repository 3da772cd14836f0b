#include "TestMain.h"

#include "NoKeyOnDiskKeys.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

// A whole meeting in a child process with distinctive keys, under a HOME and XDG folders made
// for it; once it has ended the meeting and quit, no file it left there and nothing it printed
// may hold a key or any eight characters of one.
class NoKeyOnDiskTest final : public QObject {
    Q_OBJECT

    struct Found {
        QString where;
        QString piece;
    };

    static QList<QByteArray> pieces()
    {
        QList<QByteArray> all;
        for (const QString &key : NoKeyOnDiskKeys::all()) {
            const QByteArray bytes = key.toUtf8();
            for (qsizetype i = 0; i + 8 <= bytes.size(); ++i)
                all.append(bytes.mid(i, 8));
        }
        return all;
    }

    static void scan(const QString &where, const QByteArray &bytes, QList<Found> &found)
    {
        for (const QByteArray &piece : pieces())
            if (bytes.contains(piece))
                found.append({where, QString::fromUtf8(piece)});
    }

private slots:
    void meetingLeavesNoKey()
    {
        if (qEnvironmentVariableIsEmpty("DODEDAROV_TEST_SINK"))
            QSKIP("needs the test environment's keyring and sound server (scripts/with-test-env)");
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QStringList folders = {QStringLiteral("home"), QStringLiteral("config"), QStringLiteral("data"),
                                     QStringLiteral("cache"), QStringLiteral("state"), QStringLiteral("tmp")};
        for (const QString &folder : folders)
            QVERIFY(QDir(root.path()).mkpath(folder));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), root.filePath(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), root.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), root.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), root.filePath(QStringLiteral("state")));
        env.insert(QStringLiteral("TMPDIR"), root.filePath(QStringLiteral("tmp")));
        env.remove(QStringLiteral("XDG_DOCUMENTS_DIR"));
        env.insert(QStringLiteral("DODEDAROV_KEY_CHILD"), QStringLiteral("1"));
        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::SeparateChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("NoKeyOnDiskChild")});
        QVERIFY(child.waitForStarted(20000));
        QVERIFY(child.waitForFinished(240000));
        const QByteArray out = child.readAllStandardOutput();
        const QByteArray err = child.readAllStandardError();
        const QByteArray printed = out + err;
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, printed.constData());
        QVERIFY2(out.contains("FINISHED"), printed.constData());

        QList<Found> found;
        scan(QStringLiteral("stdout"), out, found);
        scan(QStringLiteral("stderr"), err, found);
        QStringList written;
        QDirIterator files(root.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next();
            QFile file(path);
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
            written.append(QDir(root.path()).relativeFilePath(path));
            scan(written.last(), file.readAll(), found);
        }

        // The scan saw everything the meeting writes: settings, the record and its proofread
        // copy, the chat, and the diagnostics.
        const auto wrote = [&written](const QString &part) {
            return std::any_of(written.cbegin(), written.cend(), [&](const QString &f) { return f.contains(part); });
        };
        const QString list = written.join(u'\n');
        for (const QString &part : {QStringLiteral("config/tessalab/dodedarov.conf"), QStringLiteral("home/Documents/"),
                                    QStringLiteral("校对版"), QStringLiteral("问答"), QStringLiteral("诊断/")})
            QVERIFY2(wrote(part), qPrintable(part + QStringLiteral(" not among:\n") + list));

        QStringList report;
        for (const Found &f : std::as_const(found))
            report.append(f.where + QStringLiteral(": ") + f.piece);
        QVERIFY2(found.isEmpty(), qPrintable(report.join(u'\n')));
    }
};

DODEDAROV_TEST(NoKeyOnDiskTest)
#include "NoKeyOnDiskTest.moc"
