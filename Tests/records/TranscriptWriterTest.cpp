#include "TestMain.h"

#include "fakes/FileSizeLimit.h"
#include "records/TranscriptWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <future>
#include <mutex>
#include <thread>

using Entry = TranscriptWriter::Entry;
using Entries = QList<Entry>;

namespace {

QDateTime at(int h, int m, int s)
{
    return QDateTime(QDate(2026, 1, 5), QTime(h, m, s));
}

Entry caption(const QDateTime &time, std::optional<QString> chinese, const QString &english)
{
    Entry e;
    e.time = time;
    e.chinese = std::move(chinese);
    e.english = english;
    return e;
}

Entry block(const QDateTime &time, const QString &text)
{
    Entry e;
    e.time = time;
    e.block = text;
    return e;
}

// The proofread copy of `entries`, waited for: the path it was written to, or nothing.
std::optional<QString> copied(TranscriptWriter &writer, const QString &of, const QList<Entry> &entries,
                              const QString &note)
{
    std::promise<std::optional<QString>> done;
    writer.saveCopy(of, [entries] { return entries; }, QStringLiteral("校对版"), note,
                    [&done](const std::optional<QString> &path) { done.set_value(path); });
    return done.get_future().get();
}

// Holds the writer's queue inside one piece of work until open(): what is saved meanwhile waits.
struct QueueGate {
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    std::atomic<bool> holding = false;

    // The work that holds the queue, as a save's completion. The work keeps its own copy of
    // the future, so the gate may go before the writer's queue has let go of it.
    std::function<void(bool)> holder()
    {
        return [opened = opened, holding = &holding](bool) {
            *holding = true;
            opened.wait();
        };
    }
    void open() { gate.set_value(); }
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QString readText(const QString &path)
{
    return QString::fromUtf8(readAll(path));
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

const QString kHeader = QStringLiteral("泰萨利字幕 会议记录\n开始时间：2026-01-05 09:15:02\n\n");

} // namespace

Q_DECLARE_METATYPE(Entries)

class TranscriptWriterTest final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_temp;
    QString m_folder;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
    }

    void init()
    {
        m_temp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_temp->isValid());
        // The records folder does not exist yet: the first write creates it.
        m_folder = m_temp->filePath(QStringLiteral("docs/泰萨利字幕记录"));
    }

    void defaultDirectoryIsInDocuments()
    {
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QCOMPARE(TranscriptWriter::defaultDirectory(),
                 QDir(documents).filePath(QStringLiteral("泰萨利字幕记录")));
    }

    void body_data()
    {
        QTest::addColumn<Entries>("entries");
        QTest::addColumn<QString>("expected");

        const QString ten = QStringLiteral("          ");
        QCOMPARE(TranscriptWriter::indent, ten);

        QTest::newRow("no entries") << Entries{} << QString();
        QTest::newRow("chinese and english")
            << Entries{caption(at(10, 0, 5), QStringLiteral("你好"), QStringLiteral("Hello"))}
            << QStringLiteral("10:00:05  你好\n") + ten + QStringLiteral("Hello\n\n");
        QTest::newRow("no chinese puts english on the clock line")
            << Entries{caption(at(10, 0, 5), std::nullopt, QStringLiteral("Hello"))}
            << QStringLiteral("10:00:05  Hello\n\n");
        QTest::newRow("empty chinese puts english on the clock line")
            << Entries{caption(at(10, 0, 5), QString(), QStringLiteral("Hello"))}
            << QStringLiteral("10:00:05  Hello\n\n");
        QTest::newRow("chinese with empty english")
            << Entries{caption(at(10, 0, 5), QStringLiteral("你好"), QString())}
            << QStringLiteral("10:00:05  你好\n\n");

        Entry full = caption(at(23, 59, 59), QStringLiteral("早上好"), QStringLiteral("Good morning"));
        full.original = QStringLiteral("Guten Morgen");
        full.note = QStringLiteral("〔校对〕改了一个词");
        QTest::newRow("chinese, english, original, note in that order")
            << Entries{full}
            << QStringLiteral("23:59:59  早上好\n") + ten + QStringLiteral("Good morning\n") + ten
                   + QStringLiteral("Guten Morgen\n") + ten + QStringLiteral("〔校对〕改了一个词\n\n");

        Entry blanks = caption(at(0, 0, 0), std::nullopt, QStringLiteral("Hi"));
        blanks.original = QString();
        blanks.note = QString();
        QTest::newRow("empty note and original give no lines")
            << Entries{blanks} << QStringLiteral("00:00:00  Hi\n\n");

        Entry first = caption(at(10, 0, 1), QStringLiteral("一"), QStringLiteral("One"));
        Entry second = caption(at(10, 0, 2), QStringLiteral("二"), QStringLiteral("Two"));
        second.newTurn = true;
        second.note = QStringLiteral("注");
        QTest::newRow("turn mark before a later caption")
            << Entries{first, second}
            << QStringLiteral("10:00:01  一\n") + ten + QStringLiteral("One\n\n—— 换人 ——\n\n10:00:02  二\n")
                   + ten + QStringLiteral("Two\n") + ten + QStringLiteral("注\n\n");

        Entry opening = first;
        opening.newTurn = true;
        QTest::newRow("no turn mark on the first entry")
            << Entries{opening} << QStringLiteral("10:00:01  一\n") + ten + QStringLiteral("One\n\n");

        Entry turnBlock = block(at(10, 0, 3), QStringLiteral("〔近音纠正〕A"));
        turnBlock.newTurn = true;
        Entry afterBlock = caption(at(10, 0, 4), std::nullopt, QStringLiteral("Four"));
        afterBlock.newTurn = true;
        QTest::newRow("block takes no turn mark, the caption after it does")
            << Entries{first, turnBlock, afterBlock}
            << QStringLiteral("10:00:01  一\n") + ten
                   + QStringLiteral("One\n\n10:00:03  〔近音纠正〕A\n\n—— 换人 ——\n\n10:00:04  Four\n\n");

        QTest::newRow("block drops empty lines and the final line end")
            << Entries{block(at(10, 0, 5), QStringLiteral("A\n\nB\n"))}
            << QStringLiteral("10:00:05  A\n") + ten + QStringLiteral("B\n\n");
        QTest::newRow("block without any line")
            << Entries{block(at(10, 0, 5), QStringLiteral("\n\n"))} << QStringLiteral("10:00:05  \n\n");

        Entry crowded = block(at(10, 0, 5), QStringLiteral("〔研究纠正〕x"));
        crowded.chinese = QStringLiteral("不该出现");
        crowded.english = QStringLiteral("ignored");
        crowded.note = QStringLiteral("ignored");
        crowded.original = QStringLiteral("ignored");
        QTest::newRow("block ignores the caption fields")
            << Entries{crowded} << QStringLiteral("10:00:05  〔研究纠正〕x\n\n");

        // A time in UTC prints as the local clock of the same instant.
        QTest::newRow("clock is local time")
            << Entries{caption(at(8, 7, 6).toUTC(), std::nullopt, QStringLiteral("x"))}
            << QStringLiteral("08:07:06  x\n\n");
    }

    void body()
    {
        QFETCH(Entries, entries);
        QFETCH(QString, expected);
        QCOMPARE(TranscriptWriter::body(entries), expected);
    }

    void interleave_data()
    {
        QTest::addColumn<Entries>("captions");
        QTest::addColumn<Entries>("notes");
        QTest::addColumn<QStringList>("expected");

        const Entry c5 = caption(at(10, 0, 5), std::nullopt, QStringLiteral("c5"));
        const Entry c9 = caption(at(10, 0, 9), std::nullopt, QStringLiteral("c9"));
        const Entry b4 = block(at(10, 0, 4), QStringLiteral("b4"));
        const Entry b5 = block(at(10, 0, 5), QStringLiteral("b5"));
        const Entry b7 = block(at(10, 0, 7), QStringLiteral("b7"));
        const Entry b12 = block(at(10, 0, 12), QStringLiteral("b12"));

        QTest::newRow("tie keeps the caption first") << Entries{c5} << Entries{b5}
                                                     << QStringList{"c5", "b5"};
        QTest::newRow("earlier block goes before") << Entries{c5} << Entries{b4}
                                                   << QStringList{"b4", "c5"};
        QTest::newRow("blocks between and after") << Entries{c5, c9} << Entries{b4, b7, b12}
                                                  << QStringList{"b4", "c5", "b7", "c9", "b12"};
        QTest::newRow("no blocks") << Entries{c5, c9} << Entries{} << QStringList{"c5", "c9"};
        QTest::newRow("no captions") << Entries{} << Entries{b4, b7} << QStringList{"b4", "b7"};
        // Neither list is sorted: a late block holds back the ones behind it.
        QTest::newRow("late block holds back later ones") << Entries{c5, c9} << Entries{b12, b4}
                                                          << QStringList{"c5", "c9", "b12", "b4"};
    }

    void interleave()
    {
        QFETCH(Entries, captions);
        QFETCH(Entries, notes);
        QFETCH(QStringList, expected);
        QStringList got;
        for (const Entry &e : TranscriptWriter::interleave(captions, notes))
            got.append(e.block ? *e.block : e.english);
        QCOMPARE(got, expected);
    }

    void namesClashWithinOneSecond()
    {
        TranscriptWriter writer(m_folder);
        QVERIFY(!writer.fileURL());
        QVERIFY(writer.header().isEmpty());

        const QDateTime start = at(9, 15, 2);
        writer.begin(start);
        QCOMPARE(*writer.fileURL(), QDir(m_folder).filePath(QStringLiteral("2026-01-05 09.15.02.txt")));
        QCOMPARE(writer.header(), kHeader);
        // The first file was never written, yet its name stays taken.
        writer.begin(start);
        QCOMPARE(*writer.fileURL(), QDir(m_folder).filePath(QStringLiteral("2026-01-05 09.15.02 (2).txt")));
        writer.begin(start);
        QCOMPARE(*writer.fileURL(), QDir(m_folder).filePath(QStringLiteral("2026-01-05 09.15.02 (3).txt")));
    }

    void nameSkipsFilesOnDisk()
    {
        QVERIFY(QDir().mkpath(m_folder));
        writeFile(QDir(m_folder).filePath(QStringLiteral("2026-01-05 09.15.02.txt")), "old");
        TranscriptWriter writer(m_folder);
        writer.begin(at(9, 15, 2));
        QCOMPARE(*writer.fileURL(), QDir(m_folder).filePath(QStringLiteral("2026-01-05 09.15.02 (2).txt")));
        QCOMPARE(readAll(QDir(m_folder).filePath(QStringLiteral("2026-01-05 09.15.02.txt"))), QByteArray("old"));
    }

    void saveWritesHeaderAndBody()
    {
        TranscriptWriter writer(m_folder);
        writer.begin(at(9, 15, 2));
        const Entries entries{caption(at(9, 15, 3), QStringLiteral("你好"), QStringLiteral("Hello"))};
        std::optional<bool> result;
        writer.save(entries, true, [&](bool ok) { result = ok; });
        QCOMPARE(result, std::optional<bool>(true));
        const QByteArray bytes = readAll(*writer.fileURL());
        QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(bytes, (kHeader + TranscriptWriter::body(entries)).toUtf8());
    }

    // A long record is written a piece at a time: the file holds exactly the text laid out
    // whole, turn marks, blocks and characters outside the Basic Multilingual Plane included.
    void longRecordIsWrittenWhole()
    {
        TranscriptWriter writer(m_folder);
        writer.begin(at(9, 15, 2));
        Entries entries;
        for (int i = 0; i < 4000; ++i) {
            Entry e = caption(at(9, 16, 0).addSecs(i), QStringLiteral("第%1句话😀").arg(i),
                              QStringLiteral("Sentence number %1 of a long meeting").arg(i));
            e.newTurn = i % 7 == 0;
            entries.append(i % 500 == 250 ? block(e.time, QStringLiteral("背景\n第二行")) : e);
        }
        std::optional<bool> result;
        writer.save(entries, true, [&](bool ok) { result = ok; });
        QCOMPARE(result, std::optional<bool>(true));
        QCOMPARE(readAll(*writer.fileURL()), TranscriptWriter::text(kHeader, entries).toUtf8());
    }

    void saveWithNothingToWriteDoesNothing()
    {
        TranscriptWriter writer(m_folder);
        const Entries entries{caption(at(9, 15, 3), std::nullopt, QStringLiteral("Hello"))};
        bool called = false;
        writer.save(entries, true, [&](bool) { called = true; });
        QVERIFY(!called);
        QVERIFY(!QDir(m_folder).exists());

        writer.begin(at(9, 15, 2));
        writer.save(entries, true, {});
        const QByteArray before = readAll(*writer.fileURL());
        writer.save({}, true, [&](bool) { called = true; });
        writer.save({}, false, [&](bool) { called = true; });
        writer.save(entries, true, {}); // flushes the queue
        QVERIFY(!called);
        QCOMPARE(readAll(*writer.fileURL()), before);
    }

    void synchronousSaveComesAfterQueuedOnes()
    {
        TranscriptWriter writer(m_folder);
        writer.begin(at(9, 15, 2));
        Entries entries;
        std::atomic<int> succeeded = 0;
        for (int i = 0; i < 300; ++i) {
            entries.append(caption(at(9, 16, 0).addSecs(i), QStringLiteral("第%1句").arg(i),
                                   QStringLiteral("Sentence %1").arg(i)));
            writer.save(entries, false, [&](bool ok) { succeeded += ok ? 1 : 0; });
        }
        entries.append(caption(at(11, 0, 0), std::nullopt, QStringLiteral("The last word")));
        writer.save(entries, true, [&](bool ok) { succeeded += ok ? 1 : 0; });
        QCOMPARE(succeeded.load(), 301);
        QCOMPARE(readText(*writer.fileURL()), kHeader + TranscriptWriter::body(entries));
        // Only the record remains: no temporary files are left behind.
        QCOMPARE(QDir(m_folder).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("2026-01-05 09.15.02.txt")});
    }

    // A writer that falls behind keeps only the newest waiting record: the saves that a newer
    // one replaced are answered by the newer write, so their completions find its text on disk.
    void waitingSavesFoldIntoTheNewest()
    {
        TranscriptWriter writer(m_folder);
        writer.begin(at(9, 15, 2));
        const QString file = *writer.fileURL();
        QueueGate gate;
        Entries entries{caption(at(9, 15, 3), std::nullopt, QStringLiteral("Held"))};
        writer.save(entries, false, gate.holder());
        QTRY_VERIFY(gate.holding.load());

        QList<QString> seen;
        std::mutex seenLock;
        for (int i = 0; i < 100; ++i) {
            entries.append(caption(at(9, 16, 0).addSecs(i), std::nullopt, QStringLiteral("Line %1").arg(i)));
            writer.save(entries, false, [&, file](bool ok) {
                const std::lock_guard guard(seenLock);
                seen.append(ok ? readText(file) : QString());
            });
        }
        gate.open();
        writer.save(entries, true, {});
        const QString newest = kHeader + TranscriptWriter::body(entries);
        QCOMPARE(seen.size(), 100);
        for (const QString &text : seen)
            QCOMPARE(text, newest);
    }

    // Entries handed over as a maker are made on the writer's queue, not on the caller's
    // thread; a maker that a newer one replaced while waiting never runs, and one that makes
    // nothing leaves the record as it was and answers success.
    void madeEntriesAreMadeOnTheQueue()
    {
        TranscriptWriter writer(m_folder);
        writer.begin(at(9, 15, 2));
        const QString file = *writer.fileURL();
        QueueGate gate;
        writer.onQueue([hold = gate.holder()] { hold(true); });
        QTRY_VERIFY(gate.holding.load());

        const Entries first{caption(at(9, 15, 3), std::nullopt, QStringLiteral("Replaced"))};
        const Entries newest{caption(at(9, 15, 4), QStringLiteral("最新"), QStringLiteral("Newest"))};
        std::atomic<int> made = 0;
        std::atomic<bool> madeOnCaller = false;
        const auto maker = [&](const Entries &entries) {
            return [&, entries] {
                made += 1;
                madeOnCaller = madeOnCaller || QThread::currentThread() == QCoreApplication::instance()->thread();
                return entries;
            };
        };
        std::atomic<int> answered = 0;
        writer.saveMade(maker(first), false, [&](bool ok) { answered += ok ? 1 : 0; });
        writer.saveMade(maker(newest), false, [&](bool ok) { answered += ok ? 1 : 0; });
        QCOMPARE(made.load(), 0);
        gate.open();
        QTRY_COMPARE(answered.load(), 2);
        QCOMPARE(made.load(), 1);
        QVERIFY(!madeOnCaller.load());
        QCOMPARE(readText(file), kHeader + TranscriptWriter::body(newest));

        std::optional<bool> emptyAnswer;
        writer.saveMade([] { return Entries(); }, true, [&](bool ok) { emptyAnswer = ok; });
        QCOMPARE(emptyAnswer, std::optional<bool>(true));
        QCOMPARE(readText(file), kHeader + TranscriptWriter::body(newest));
    }

    // A synchronous save replaces the one still waiting: that one is never written after it,
    // and its caller hears the synchronous write's outcome.
    void synchronousSaveReplacesAWaitingOne()
    {
        TranscriptWriter writer(m_folder);
        writer.begin(at(9, 15, 2));
        const QString file = *writer.fileURL();
        QueueGate gate;
        writer.save({caption(at(9, 15, 3), std::nullopt, QStringLiteral("Held"))}, false, gate.holder());
        QTRY_VERIFY(gate.holding.load());
        std::optional<QString> waitingSaw;
        writer.save({caption(at(9, 15, 4), std::nullopt, QStringLiteral("Older"))}, false,
                    [&, file](bool) { waitingSaw = readText(file); });
        const Entries last{caption(at(9, 15, 5), std::nullopt, QStringLiteral("The last word"))};
        std::thread opener([&gate] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            gate.open();
        });
        bool written = false;
        writer.save(last, true, [&](bool ok) { written = ok; });
        opener.join();
        QVERIFY(written);
        QCOMPARE(waitingSaw, std::optional<QString>(kHeader + TranscriptWriter::body(last)));
        writer.save(last, true, {}); // anything still queued has run
        QCOMPARE(readText(file), kHeader + TranscriptWriter::body(last));
    }

    void queuedSavesReachTheDiskWhenTheWriterGoes()
    {
        QString file;
        Entries entries;
        {
            TranscriptWriter writer(m_folder);
            writer.begin(at(9, 15, 2));
            file = *writer.fileURL();
            for (int i = 0; i < 50; ++i) {
                entries.append(caption(at(9, 16, i), std::nullopt, QStringLiteral("Line %1").arg(i)));
                writer.save(entries, false, {});
            }
        }
        QCOMPARE(readText(file), kHeader + TranscriptWriter::body(entries));
    }

    void queuedSaveKeepsItsMeetingsFile()
    {
        TranscriptWriter writer(m_folder);
        writer.begin(at(9, 15, 2));
        const QString firstFile = *writer.fileURL();
        const Entries firstEntries{caption(at(9, 15, 5), std::nullopt, QStringLiteral("First meeting"))};
        Entries laterFirst = firstEntries;
        laterFirst.append(caption(at(9, 15, 6), std::nullopt, QStringLiteral("Its last line")));

        // Hold the queue so that the second save is still waiting when the next meeting begins.
        QueueGate gate;
        writer.save(firstEntries, false, gate.holder());
        writer.save(laterFirst, false, {});

        writer.begin(at(10, 0, 0));
        const QString secondFile = *writer.fileURL();
        QVERIFY(secondFile != firstFile);
        gate.open();
        const Entries secondEntries{caption(at(10, 0, 1), std::nullopt, QStringLiteral("Second meeting"))};
        writer.save(secondEntries, true, {});

        QCOMPARE(readText(firstFile), kHeader + TranscriptWriter::body(laterFirst));
        QCOMPARE(readText(secondFile),
                 QStringLiteral("泰萨利字幕 会议记录\n开始时间：2026-01-05 10:00:00\n\n")
                     + TranscriptWriter::body(secondEntries));
    }

    void folderThatCannotBeCreatedFails()
    {
        // A regular file where a folder should be: mkdir fails, even for root.
        const QString blocker = m_temp->filePath(QStringLiteral("blocker"));
        writeFile(blocker, "x");
        TranscriptWriter writer(blocker + QStringLiteral("/泰萨利字幕记录"));
        writer.begin(at(9, 15, 2));
        std::optional<bool> result;
        writer.save({caption(at(9, 15, 3), std::nullopt, QStringLiteral("x"))}, true,
                    [&](bool ok) { result = ok; });
        QCOMPARE(result, std::optional<bool>(false));
        QVERIFY(!copied(writer, *writer.fileURL(), {}, QStringLiteral("n")));
        QVERIFY(!writer.saveSidecar(*writer.fileURL(), QStringLiteral("问答"), QStringLiteral("t")));
        QVERIFY(!writer.writeDiagnostic(QStringLiteral("汇总.md"), QStringLiteral("t")));
        QVERIFY(writer.diagnosticSummaries().isEmpty());
    }

    void failedWriteKeepsThePreviousRecord_data()
    {
        QTest::addColumn<int>("lines");
        // Below and above the size that file devices buffer before writing.
        QTest::newRow("buffered") << 200;
        QTest::newRow("written directly") << 2000;
    }

    void failedWriteKeepsThePreviousRecord()
    {
        QFETCH(int, lines);
        TranscriptWriter writer(m_folder);
        writer.begin(at(9, 15, 2));
        const Entries good{caption(at(9, 15, 3), QStringLiteral("好"), QStringLiteral("Good"))};
        writer.save(good, true, {});
        const QByteArray before = readAll(*writer.fileURL());
        QVERIFY(!before.isEmpty());

        // A file-size limit makes the write fail part-way, as a full disk would
        // (permission bits do not stop root).
        Entries big = good;
        for (int i = 0; i < lines; ++i)
            big.append(caption(at(9, 20, 0), QStringLiteral("很长的一句话"), QStringLiteral("A long line")));
        std::optional<bool> result;
        std::optional<QString> copy;
        {
            const FileSizeLimit limit(1024);
            QVERIFY(limit.holds());
            writer.save(big, true, [&](bool ok) { result = ok; });
            copy = copied(writer, *writer.fileURL(), big, QStringLiteral("note"));
        }

        QCOMPARE(result, std::optional<bool>(false));
        QVERIFY(!copy);
        QCOMPARE(readAll(*writer.fileURL()), before);
        QCOMPARE(QDir(m_folder).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("2026-01-05 09.15.02.txt")});
    }

    void saveCopy_data()
    {
        QTest::addColumn<std::optional<QByteArray>>("record");
        QTest::addColumn<QString>("head");

        QTest::newRow("usual header")
            << std::optional<QByteArray>((kHeader + QStringLiteral("10:00:00  x\n\n")).toUtf8())
            << QStringLiteral("泰萨利字幕 会议记录\n开始时间：2026-01-05 09:15:02\n");
        QTest::newRow("record without a blank line")
            << std::optional<QByteArray>("one line\nanother\n") << QString();
        QTest::newRow("record that cannot be read") << std::optional<QByteArray>() << QString();
        // Text that is not UTF-8 can't be read as such: no mangled header lines.
        QTest::newRow("record that is not UTF-8")
            << std::optional<QByteArray>(kHeader.toUtf8() + "10:00:00  \xff\xfe\n\n") << QString();
        QTest::newRow("record ending in half a character")
            << std::optional<QByteArray>(kHeader.toUtf8() + "10:00:00  \xe4\xb8") << QString();
    }

    void saveCopy()
    {
        QFETCH(std::optional<QByteArray>, record);
        QFETCH(QString, head);
        QVERIFY(QDir().mkpath(m_folder));
        const QString recordFile = QDir(m_folder).filePath(QStringLiteral("2026-01-05 09.15.02.txt"));
        if (record)
            writeFile(recordFile, *record);

        TranscriptWriter writer(m_folder);
        const Entries entries{caption(at(9, 15, 3), QStringLiteral("改好了"), QStringLiteral("Fixed"))};
        const QString note = QStringLiteral("校对改动 1 行：2026-01-05 09.15.02.txt");
        const std::optional<QString> copy = copied(writer, recordFile, entries, note);
        QCOMPARE(copy, std::optional<QString>(QDir(m_folder).filePath(QStringLiteral("2026-01-05 09.15.02 校对版.txt"))));
        QCOMPARE(readText(*copy), head + note + QStringLiteral("\n\n") + TranscriptWriter::body(entries));
        if (record)
            QCOMPARE(readAll(recordFile), *record);
    }

    void saveSidecarWritesTextUnchanged()
    {
        TranscriptWriter writer(m_folder);
        const QString recordFile = QDir(m_folder).filePath(QStringLiteral("2026-01-05 09.15.02 (2).txt"));
        const QString text = QStringLiteral("问：谁在讲话？\n答：张三。\n");
        const std::optional<QString> side = writer.saveSidecar(recordFile, QStringLiteral("问答"), text);
        QCOMPARE(side, std::optional<QString>(QDir(m_folder).filePath(QStringLiteral("2026-01-05 09.15.02 (2) 问答.txt"))));
        QCOMPARE(readAll(*side), text.toUtf8());
    }

    void diagnosticsFolder()
    {
        TranscriptWriter writer(m_folder);
        QVERIFY(writer.diagnosticSummaries().isEmpty());

        const QString folder = QDir(m_folder).filePath(QStringLiteral("诊断"));
        QCOMPARE(writer.writeDiagnostic(QStringLiteral("2026-01-05 09.15.02 诊断.json"), QStringLiteral("{\"a\":1}")),
                 std::optional<QString>(QDir(folder).filePath(QStringLiteral("2026-01-05 09.15.02 诊断.json"))));
        QVERIFY(writer.writeDiagnostic(QStringLiteral("2026-01-05 09.15.02 事件.jsonl"), QStringLiteral("{}\n")));
        QVERIFY(writer.writeDiagnostic(QStringLiteral("汇总.md"), QStringLiteral("# 汇总\n")));
        QVERIFY(writer.writeDiagnostic(QStringLiteral("2026-01-06 10.00.00 诊断.json"), QStringLiteral("{\"b\":2}")));
        // A damaged summary is skipped, not handed on with replacement characters.
        writeFile(QDir(folder).filePath(QStringLiteral("2026-01-07 10.00.00 诊断.json")), "{\"c\":\"\xff\"}");
        // Rewriting a diagnostics file replaces it whole.
        QVERIFY(writer.writeDiagnostic(QStringLiteral("汇总.md"), QStringLiteral("# 新\n")));
        QCOMPARE(readText(QDir(folder).filePath(QStringLiteral("汇总.md"))), QStringLiteral("# 新\n"));

        QStringList summaries = writer.diagnosticSummaries();
        summaries.sort();
        QCOMPARE(summaries, (QStringList{QStringLiteral("{\"a\":1}"), QStringLiteral("{\"b\":2}")}));
    }
};

DODEDAROV_TEST(TranscriptWriterTest)
#include "TranscriptWriterTest.moc"
