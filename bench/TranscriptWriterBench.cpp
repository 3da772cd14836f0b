// The record of a three-hour meeting: about 5,000 caption lines plus the
// notes and research blocks added along the way. The debounced save builds
// the whole text on the main thread once a second, so building must stay far
// below a frame of caption updates; the write itself runs on the writer's queue.

#include "records/TranscriptWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

using Entry = TranscriptWriter::Entry;

struct Meeting {
    QList<Entry> captions;
    QList<Entry> blocks;
};

Meeting threeHourMeeting()
{
    Meeting m;
    const QDateTime start(QDate(2026, 1, 5), QTime(9, 0, 0));
    for (int i = 0; i < 5000; ++i) {
        Entry e;
        e.time = start.addMSecs(qint64(i) * 2160); // 5,000 lines over three hours
        e.chinese = QStringLiteral("这是第%1句，讲到了模型的延迟和吞吐量，以及我们下一季度的计划。").arg(i);
        e.english = QStringLiteral("This is sentence %1, about model latency and throughput, and our plans for next quarter.").arg(i);
        e.newTurn = i % 7 == 0;
        if (i % 50 == 0)
            e.note = QStringLiteral("〔校对〕把“模形”改成“模型”");
        if (i % 97 == 0)
            e.original = QStringLiteral("Das ist Satz %1 über die Latenz des Modells.").arg(i);
        m.captions.append(e);
    }
    for (int i = 0; i < 120; ++i) {
        Entry b;
        b.time = start.addSecs(qint64(i) * 90 + 1);
        b.block = QStringLiteral("〔研究纠正〕后面的翻译会用上这些：\n领域：机器学习系统\n人名：Jensen Huang、Lisa Su\n"
                                 "术语：throughput = 吞吐量；latency = 延迟\n纠正：Nvidea → NVIDIA");
        m.blocks.append(b);
    }
    return m;
}

// What the main thread does per save: merge with the background notes and
// build header + body.
void BM_BuildRecordText(benchmark::State &state)
{
    const Meeting m = threeHourMeeting();
    const QString header = QStringLiteral("泰萨利字幕 会议记录\n开始时间：2026-01-05 09:00:00\n\n");
    qsizetype bytes = 0;
    for (auto _ : state) {
        const QString text = TranscriptWriter::text(header, TranscriptWriter::interleave(m.captions, m.blocks));
        bytes = text.size();
        benchmark::DoNotOptimize(text);
    }
    state.counters["chars"] = double(bytes);
}
BENCHMARK(BM_BuildRecordText)->Unit(benchmark::kMillisecond);

// A whole synchronous save: building on the caller plus the atomic write on
// the queue (the end-of-meeting path; debounced saves only pay the build).
void BM_SaveRecordSynchronously(benchmark::State &state)
{
    const Meeting m = threeHourMeeting();
    const QList<Entry> entries = TranscriptWriter::interleave(m.captions, m.blocks);
    QTemporaryDir temp;
    TranscriptWriter writer(QDir(temp.path()).filePath(QStringLiteral("泰萨利字幕记录")));
    writer.begin(QDateTime(QDate(2026, 1, 5), QTime(9, 0, 0)));
    bool ok = true;
    for (auto _ : state)
        writer.save(entries, true, [&ok](bool written) { ok = ok && written; });
    if (!ok)
        state.SkipWithError("write failed");
}
BENCHMARK(BM_SaveRecordSynchronously)->Unit(benchmark::kMillisecond);

// The write alone, as the queue does it: the built text written atomically
// (temporary file, flush, rename), including the hop onto the queue.
void BM_WriteRecordFile(benchmark::State &state)
{
    const Meeting m = threeHourMeeting();
    const QString text = QStringLiteral("泰萨利字幕 会议记录\n开始时间：2026-01-05 09:00:00\n\n")
        + TranscriptWriter::body(TranscriptWriter::interleave(m.captions, m.blocks));
    QTemporaryDir temp;
    TranscriptWriter writer(QDir(temp.path()).filePath(QStringLiteral("泰萨利字幕记录")));
    const QString record = writer.directory() + QStringLiteral("/2026-01-05 09.00.00.txt");
    for (auto _ : state) {
        if (!writer.saveSidecar(record, QStringLiteral("bench"), text))
            state.SkipWithError("write failed");
    }
    state.counters["bytes"] = double(text.toUtf8().size());
}
BENCHMARK(BM_WriteRecordFile)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
