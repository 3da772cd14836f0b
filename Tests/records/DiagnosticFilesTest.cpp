#include "TestMain.h"

#include "records/DiagnosticFiles.h"
#include "records/TranscriptWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

Diagnostics::Line englishLine(const QString &time, const QString &source)
{
    Diagnostics::Line line;
    line.time = time;
    line.source = source;
    line.translation = QStringLiteral("译文。");
    line.language = QStringLiteral("en");
    return line;
}

// A meeting that runs past midnight, with one name heard in two spellings.
Diagnostics::Context midnightMeeting()
{
    Diagnostics::Context context;
    context.name = QStringLiteral("2026-01-05 23.50.00");
    context.version = QStringLiteral("1.4.0");
    context.minutes = 20.25;
    context.settings = {{QStringLiteral("显示"), QStringLiteral("中英")}};
    context.lines = {englishLine(QStringLiteral("23:59:58"), QStringLiteral("We met with Tarwick yesterday.")),
                     englishLine(QStringLiteral("00:00:05"), QStringLiteral("Then I called Tarvick again."))};
    context.events = {{1.5, QStringLiteral("start"), {}},
                      {30, QStringLiteral("pause"), {{QStringLiteral("text"), QStringLiteral("a/b")}}}};
    return context;
}

} // namespace

class DiagnosticFilesTest final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_temp;
    QString m_records;
    QString m_folder;

    QString inFolder(const QString &name) const { return QDir(m_folder).filePath(name); }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        m_temp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_temp->isValid());
        m_records = m_temp->filePath(QStringLiteral("泰萨利字幕记录"));
        m_folder = QDir(m_records).filePath(QStringLiteral("诊断"));
    }

    void writesTheFourFilesAndSkipsForeignOnes()
    {
        QVERIFY(QDir().mkpath(m_folder));
        const QString good = Diagnostics::summaryJSON(QStringLiteral("2026-01-04 09.00.00"), QStringLiteral("1.3"),
                                                      30, 100, {{QStringLiteral("出字慢"), 2}});
        // Files no overview may count; each must stay as it is.
        QMap<QString, QByteArray> foreign;
        foreign[QStringLiteral("2026-01-01 09.00.00 诊断.json")] = "{\"name\": \"corrupt\", ";
        foreign[QStringLiteral("2026-01-02 09.00.00 诊断.json")] = "{\"name\": \"latin1 \xe9\"}";
        foreign[QStringLiteral("2026-01-03 09.00.00 诊断.json")] = "[1, 2, 3]";
        foreign[QStringLiteral("2026-01-03 10.00.00 诊断.json")] = "{\"version\": \"no name\"}";
        QByteArray big = "{\"name\": \"oversized\", \"pad\": \"";
        big += QByteArray(1024 * 1024, 'x');
        big += "\"}";
        foreign[QStringLiteral("2026-01-03 11.00.00 诊断.json")] = big;
        foreign[QStringLiteral("2026-01-04 09.00.00 诊断.json")] = good.toUtf8();
        foreign[QStringLiteral("2026-01-04 09.00.00 诊断.md")] = "old report";
        foreign[QStringLiteral("notes.txt")] = "keep me";
        for (auto it = foreign.cbegin(); it != foreign.cend(); ++it)
            QVERIFY(writeFile(inFolder(it.key()), it.value()));
        // A folder named like a summary is no summary; nor is a pipe (reading
        // it would wait forever) or a link to nothing.
        QVERIFY(QDir().mkpath(inFolder(QStringLiteral("2026-01-03 12.00.00 诊断.json"))));
        QCOMPARE(::mkfifo(QFile::encodeName(inFolder(QStringLiteral("2026-01-03 14.00.00 诊断.json"))).constData(), 0600), 0);
        QVERIFY(QFile::link(inFolder(QStringLiteral("gone")), inFolder(QStringLiteral("2026-01-03 15.00.00 诊断.json"))));
        // A summary its owner may not read (root reads it all the same).
        const QString locked = inFolder(QStringLiteral("2026-01-03 16.00.00 诊断.json"));
        const QByteArray lockedText = "{\"name\": \"locked\"}";
        QVERIFY(writeFile(locked, lockedText));
        QVERIFY(QFile::setPermissions(locked, QFileDevice::WriteOwner));
        const bool lockedReadable = ::geteuid() == 0;
        // An oversized summary of just over the cap, otherwise well-formed.
        QByteArray edge = "{\"name\": \"just over\", \"pad\": \"";
        edge += QByteArray(1024 * 1024 - edge.size() - 2 + 1, 'y');
        edge += "\"}";
        QCOMPARE(edge.size(), 1024 * 1024 + 1);
        foreign[QStringLiteral("2026-01-03 13.00.00 诊断.json")] = edge;
        QVERIFY(writeFile(inFolder(QStringLiteral("2026-01-03 13.00.00 诊断.json")), edge));

        TranscriptWriter writer(m_records);
        const Diagnostics::Context context = midnightMeeting();
        const QList<Diagnostics::Finding> findings =
            Diagnostics::findings(context.lines, context.researchNames, {}, context.events, 4.0);
        QVERIFY(DiagnosticFiles::write(writer, context, findings));

        const QString base = context.name;
        QCOMPARE(QString::fromUtf8(readAll(inFolder(base + QStringLiteral(" 事件.jsonl")))),
                 QStringLiteral("{\"kind\":\"start\",\"t\":1.5}\n{\"kind\":\"pause\",\"t\":30,\"text\":\"a\\/b\"}\n"));

        const std::optional<Diagnostics::Summary> own =
            Diagnostics::parseSummary(QString::fromUtf8(readAll(inFolder(base + QStringLiteral(" 诊断.json")))));
        QVERIFY(own);
        QCOMPARE(own->name, base);
        QCOMPARE(own->version, QStringLiteral("1.4.0"));
        QCOMPARE(own->minutes, 20.3);
        QCOMPARE(own->lines, 2);
        QCOMPARE(own->counts, Diagnostics::counts(findings));

        // Only the good foreign summary and this meeting's own.
        const QString overview = QString::fromUtf8(readAll(inFolder(QStringLiteral("汇总.md"))));
        QList<Diagnostics::Summary> counted{*Diagnostics::parseSummary(good), *own};
        if (lockedReadable)
            counted.append(*Diagnostics::parseSummary(QString::fromUtf8(lockedText)));
        QCOMPARE(overview, Diagnostics::overview(counted));
        QVERIFY(overview.startsWith(QStringLiteral("# 诊断汇总（最近 %1 场）\n").arg(counted.size())));

        const QString report = QString::fromUtf8(readAll(inFolder(base + QStringLiteral(" 诊断.md"))));
        QCOMPARE(report, Diagnostics::report(context, findings, QString()));
        QVERIFY(!report.contains(QStringLiteral("自动分析")));
        // The name finding takes the time of the earlier line, not the smaller clock.
        QVERIFY(report.contains(QStringLiteral("### 名字写法不一致（1）\n\n- 23:59:58  Tarvick / Tarwick\n")));

        for (auto it = foreign.cbegin(); it != foreign.cend(); ++it)
            QCOMPARE(readAll(inFolder(it.key())), it.value());
        QVERIFY(QFileInfo(inFolder(QStringLiteral("2026-01-03 14.00.00 诊断.json"))).exists());
        QCOMPARE(QFile::permissions(locked) & (QFileDevice::ReadOwner | QFileDevice::WriteOwner),
                 QFileDevice::WriteOwner);
        QStringList expectedNames = foreign.keys();
        expectedNames << base + QStringLiteral(" 事件.jsonl") << base + QStringLiteral(" 诊断.json")
                      << base + QStringLiteral(" 诊断.md") << QStringLiteral("汇总.md")
                      << QStringLiteral("2026-01-03 12.00.00 诊断.json") << QStringLiteral("2026-01-03 14.00.00 诊断.json")
                      << QStringLiteral("2026-01-03 15.00.00 诊断.json") << QStringLiteral("2026-01-03 16.00.00 诊断.json");
        expectedNames.sort();
        QCOMPARE(QDir(m_folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot | QDir::Hidden,
                                          QDir::Name),
                 expectedNames);

        // The analysis comes back later: only the report changes.
        const QByteArray summaryBefore = readAll(inFolder(base + QStringLiteral(" 诊断.json")));
        const QByteArray overviewBefore = readAll(inFolder(QStringLiteral("汇总.md")));
        QVERIFY(DiagnosticFiles::writeReport(writer, context, findings, QStringLiteral("看起来不错。")));
        QCOMPARE(QString::fromUtf8(readAll(inFolder(base + QStringLiteral(" 诊断.md")))),
                 Diagnostics::report(context, findings, QStringLiteral("看起来不错。")));
        QCOMPARE(readAll(inFolder(base + QStringLiteral(" 诊断.json"))), summaryBefore);
        QCOMPARE(readAll(inFolder(QStringLiteral("汇总.md"))), overviewBefore);
    }

    void firstMeetingCreatesTheFolder()
    {
        TranscriptWriter writer(m_records);
        Diagnostics::Context context = midnightMeeting();
        QVERIFY(DiagnosticFiles::write(writer, context, {}));
        const QString overview = QString::fromUtf8(readAll(inFolder(QStringLiteral("汇总.md"))));
        QVERIFY(overview.startsWith(QStringLiteral("# 诊断汇总（最近 1 场）\n")));
        QVERIFY(overview.contains(QStringLiteral("\n| 2026-01-05 23.50.00 | 1.4.0 | 20 | 2 |")));
    }

    void failedWritesAreReported()
    {
        // A file where the folder should be: nothing can be written.
        QVERIFY(QDir().mkpath(m_records));
        QVERIFY(writeFile(m_folder, "not a folder"));
        TranscriptWriter writer(m_records);
        QVERIFY(!DiagnosticFiles::write(writer, midnightMeeting(), {}));
        QVERIFY(!DiagnosticFiles::writeReport(writer, midnightMeeting(), {}, QStringLiteral("r")));
        QCOMPARE(readAll(m_folder), QByteArray("not a folder"));
    }

    void oneFailedWriteFailsTheWhole()
    {
        // Only the report can't be written; the other three still are.
        const Diagnostics::Context context = midnightMeeting();
        QVERIFY(QDir().mkpath(inFolder(context.name + QStringLiteral(" 诊断.md"))));
        TranscriptWriter writer(m_records);
        QVERIFY(!DiagnosticFiles::write(writer, context, {}));
        QVERIFY(QFile::exists(inFolder(context.name + QStringLiteral(" 事件.jsonl"))));
        QVERIFY(QFile::exists(inFolder(context.name + QStringLiteral(" 诊断.json"))));
        QVERIFY(QFile::exists(inFolder(QStringLiteral("汇总.md"))));
    }
};

DODEDAROV_TEST(DiagnosticFilesTest)
#include "DiagnosticFilesTest.moc"
