// The live rows and the history of a long meeting. publishRows runs after every flush of
// streamed text and every live-text change, relayout on every resize, and the history's
// paragraphs on every redraw: none of them may grow with the length of the meeting.
// Goals: publishRows with a 200-character live preview under 50 µs, relayout under 100 µs, both
// within 20 % of each other at 50 and at 5,000 lines; allParagraphs over 5,000 lines under 5 ms.

#include "MemoryKeyring.h"

#include "model/HistoryText.h"
#include "fakes/ModelRig.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

namespace {

QString liveText()
{
    QString text;
    while (text.size() < 200)
        text += QStringLiteral("and then we looked at the numbers again ");
    return text.left(200);
}

struct Meeting {
    ModelRig rig;
    AppModel *model = nullptr;

    explicit Meeting(int lines)
    {
        rig.platform.measurer = AppModel::estimatedMeasure;
        model = &rig.make();
        rig.useRawPipeline(SpeechLanguage::english);
        for (int i = 0; i < lines; ++i) {
            const int id = model->begin(QStringLiteral("This is sentence %1 about the quarterly plan.").arg(i), i % 7 == 0);
            model->language(id, SpeechLanguage::english);
            model->append(id, QStringLiteral("这是关于季度计划的第%1句话。").arg(i));
            model->finish(id, true);
        }
        rig.setLiveEnglish(liveText());
    }
};

void BM_PublishRows(benchmark::State &state)
{
    Meeting meeting(int(state.range(0)));
    for (auto _ : state) {
        meeting.model->publishRows();
        benchmark::DoNotOptimize(meeting.model->rows().size());
    }
}
BENCHMARK(BM_PublishRows)->Arg(50)->Arg(5000)->Unit(benchmark::kMicrosecond);

void BM_Relayout(benchmark::State &state)
{
    Meeting meeting(int(state.range(0)));
    bool wide = false;
    for (auto _ : state) {
        meeting.model->panelWidth = wide ? 900 : 680;
        wide = !wide;
        meeting.model->relayout();
    }
}
BENCHMARK(BM_Relayout)->Arg(50)->Arg(5000)->Unit(benchmark::kMicrosecond);

void BM_AllParagraphs(benchmark::State &state)
{
    Meeting meeting(int(state.range(0)));
    for (auto _ : state) {
        const QList<HistoryText::Paragraph> paragraphs = HistoryText::markLatest(HistoryText::chineseOnlyWhenOlder(
            HistoryText::allParagraphs(meeting.model->lines(), DisplayMode::both, {}, liveText(), false)));
        benchmark::DoNotOptimize(paragraphs.size());
    }
}
BENCHMARK(BM_AllParagraphs)->Arg(5000)->Unit(benchmark::kMillisecond);

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
