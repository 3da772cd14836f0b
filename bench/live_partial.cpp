// One more word of live English reaching a repainted caption history of 100 or 3,000 lines:
// the paragraphs rebuilt from all lines, the changed tail re-rendered and the view repainted.
// The goal is under 1 ms at 3,000 lines.
#include "OffscreenBenchmarks.h"

#include "display/HistoryScrollState.h"
#include "display/HistoryTextView.h"
#include "display/HistoryView.h"

#include <QApplication>

#include <benchmark/benchmark.h>

namespace {

QList<CaptionLine> meeting(int count)
{
    QList<CaptionLine> lines;
    for (int i = 0; i < count; ++i) {
        CaptionLine line;
        line.id = i;
        line.english = QStringLiteral("Line %1: we need to revisit the budget for the next quarter.").arg(i);
        line.chinese = QStringLiteral("第%1行：我们需要重新讨论下个季度的预算。").arg(i);
        line.finished = true;
        line.newTurn = i > 0 && i % 9 == 0;
        line.language = SpeechLanguage::english;
        lines.append(line);
    }
    return lines;
}

void BM_LivePartial(benchmark::State &state)
{
    HistoryScrollState scroll;
    HistoryView view(&scroll);
    view.resize(400, 800);
    view.show();
    HistoryView::Inputs inputs;
    inputs.lines = meeting(int(state.range(0)));
    inputs.mode = DisplayMode::both;
    inputs.scroll = &scroll;
    inputs.live = true;
    inputs.liveEnglish = QStringLiteral("and then");
    view.setInputs(inputs);
    QCoreApplication::processEvents();

    int word = 0;
    for (auto _ : state) {
        // A new word; after twenty the sentence starts again, as a new partial would.
        if (++word % 20 == 0)
            inputs.liveEnglish = QStringLiteral("and then");
        inputs.liveEnglish += QStringLiteral(" word");
        view.setInputs(inputs);
        view.textView()->viewport()->repaint();
        state.PauseTiming();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_LivePartial)->Arg(100)->Arg(3000)->Unit(benchmark::kMillisecond)->Iterations(500);

} // namespace

int main(int argc, char **argv)
{
    return runOffscreenBenchmarks(argc, argv);
}
