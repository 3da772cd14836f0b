// Saving the record of a three-hour meeting from the meeting model: 5,000 caption lines and
// 200 background blocks. The debounced save runs on the main thread up to once a second while
// captions stream, so its main-thread part (choosing the lines, mapping them to record entries,
// merging the blocks in) must stay under 10 ms; the write itself runs on the writer's queue.
// The quit path writes synchronously and must finish well inside a logout's grace time
// (goal: under 200 ms).

#include "MemoryKeyring.h"

#include "fakes/ModelRig.h"
#include "platform/Keychain.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

namespace {

QList<CaptionLine> threeHourLines()
{
    QList<CaptionLine> lines;
    const QDateTime start(QDate(2026, 1, 5), QTime(9, 0, 0));
    for (int i = 0; i < 5000; ++i) {
        CaptionLine l;
        l.id = i;
        l.english = QStringLiteral("This is sentence %1, about model latency and throughput, and our plans.").arg(i);
        l.chinese = QStringLiteral("这是第%1句，讲到了模型的延迟和吞吐量，以及我们的计划。").arg(i);
        l.finished = true;
        l.newTurn = i % 7 == 0;
        l.merged = i % 40 == 39;
        l.time = start.addMSecs(qint64(i) * 2160);
        // The translator reports each line's language as it finishes.
        l.language = SpeechLanguage::english;
        if (i % 30 == 0)
            l.revised = CaptionLine::Revision{l.english, l.chinese + QStringLiteral("（修订）"), {}};
        lines.append(l);
    }
    return lines;
}

QList<TranscriptWriter::Entry> blocks()
{
    QList<TranscriptWriter::Entry> out;
    const QDateTime start(QDate(2026, 1, 5), QTime(9, 0, 0));
    for (int i = 0; i < 200; ++i) {
        TranscriptWriter::Entry b;
        b.time = start.addSecs(qint64(i) * 54);
        b.block = QStringLiteral("〔研究〕领域：机器学习系统\n人名：Tarvick、Oberth\n术语：throughput → 吞吐量");
        out.append(b);
    }
    return out;
}

struct Meeting {
    ModelRig rig;
    AppModel *model = nullptr;
    QList<CaptionLine> lines = threeHourLines();

    Meeting()
    {
        model = &rig.make();
        model->setDiagnosticsEnabled(false);
        rig.beginMeeting();
        rig.setLines(lines);
        rig.setBackgroundLog(blocks());
    }
};

void BM_DebouncedSaveMainThread(benchmark::State &state)
{
    Meeting m;
    for (auto _ : state) {
        m.model->saveTranscript(false);
        state.PauseTiming();
        // Lets the queued write finish before the next round, as a second between saves does.
        m.model->saveTranscript(true);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_DebouncedSaveMainThread)->Unit(benchmark::kMillisecond);

// The model's share of it: choosing the lines, mapping them and merging the blocks in (the rest
// is the writer laying the text out).
void BM_RecordEntries(benchmark::State &state)
{
    Meeting m;
    const QList<TranscriptWriter::Entry> background = blocks();
    for (auto _ : state) {
        QList<TranscriptWriter::Entry> entries;
        entries.reserve(m.model->lines().size());
        for (const CaptionLine &line : m.model->lines())
            if (line.finished && !line.merged && !line.english.isEmpty())
                entries.append(m.model->recordEntry(line));
        benchmark::DoNotOptimize(TranscriptWriter::interleave(entries, background));
    }
}
BENCHMARK(BM_RecordEntries)->Unit(benchmark::kMillisecond);

void BM_PrepareForQuit(benchmark::State &state)
{
    Meeting m;
    m.model->setRunningState(true);
    for (auto _ : state) {
        state.PauseTiming();
        m.rig.setLines(m.lines);
        m.rig.setLastPartial(QStringLiteral("and the last words before the session ends"));
        state.ResumeTiming();
        m.model->prepareForQuit();
    }
}
BENCHMARK(BM_PrepareForQuit)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    useMemoryKeyring();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
