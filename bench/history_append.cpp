// Appending one caption paragraph to the history text view that already shows 100, 1,000 or
// 10,000: the edit, the layout of the new text and the scroll to it. The goal is under 2 ms at
// 10,000 and no more than 1.5 times the figure at 100: the cost must not grow with the meeting.
#include "OffscreenBenchmarks.h"

#include "display/HistoryScrollState.h"
#include "display/HistoryTextView.h"

#include <QApplication>

#include <benchmark/benchmark.h>

namespace {

HistoryText::Paragraph paragraph(int i)
{
    HistoryText::Paragraph p;
    p.primary = QStringLiteral("第%1段：我们下个季度的预算需要重新讨论一下，尤其是市场部分。").arg(i);
    p.secondary = QStringLiteral("Paragraph %1: we need to revisit next quarter's budget, especially marketing.").arg(i);
    p.turn = i % 7 == 0;
    return p;
}

void BM_HistoryAppend(benchmark::State &state)
{
    const int shown = int(state.range(0));
    HistoryScrollState scroll;
    HistoryTextView view(&scroll);
    view.resize(400, 800);
    view.show();
    const CaptionAppearance look;
    QList<HistoryText::Paragraph> paragraphs;
    for (int i = 0; i < shown; ++i)
        paragraphs.append(paragraph(i));
    paragraphs.last().latest = true;
    view.setParagraphs(paragraphs, look);
    QCoreApplication::processEvents();

    int next = shown;
    for (auto _ : state) {
        // The caller's new list is made outside the measurement: the history view builds a
        // fresh one on every redraw anyway. The newest paragraph is marked, the one before it
        // no longer is, as markLatest does.
        state.PauseTiming();
        QCoreApplication::processEvents();
        paragraphs.last().latest = false;
        paragraphs.append(paragraph(next++));
        paragraphs.last().latest = true;
        state.ResumeTiming();
        view.setParagraphs(paragraphs, look);
        benchmark::DoNotOptimize(view.lengths().size());
    }
    state.counters["paragraphs"] = double(paragraphs.size());
}
BENCHMARK(BM_HistoryAppend)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(300);

} // namespace

int main(int argc, char **argv)
{
    return runOffscreenBenchmarks(argc, argv);
}
