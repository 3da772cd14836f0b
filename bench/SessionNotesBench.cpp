// Merging the meeting's notes: a pasted glossary of thousands of rows arrives as one note, and
// the merge runs on the main thread whenever the notes change, so it must grow with the number
// of terms, not with its square.

#include "intelligence/SessionNotes.h"

#include <benchmark/benchmark.h>

namespace {

QList<SessionNote> pastedGlossary(int terms)
{
    // One large note, then a few short ones that replace some of its terms.
    QList<SessionNote> notes;
    SessionNote glossary;
    glossary.id = 1;
    glossary.text = QStringLiteral("glossary");
    for (int i = 0; i < terms; ++i)
        glossary.extracted.terms.append(GlossaryEntry(QStringLiteral("Term number %1").arg(i),
                                                      QStringLiteral("术语%1").arg(i)));
    notes.append(glossary);
    for (int n = 0; n < 10; ++n) {
        SessionNote later;
        later.id = 2 + n;
        later.text = QStringLiteral("later");
        for (int i = n; i < terms; i += 97)
            later.extracted.terms.append(GlossaryEntry(QStringLiteral("term-number %1").arg(i),
                                                       QStringLiteral("新译%1").arg(i)));
        notes.append(later);
    }
    return notes;
}

void BM_MergeTerms(benchmark::State &state)
{
    const QList<SessionNote> notes = pastedGlossary(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(SessionNotes::merged(notes));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_MergeTerms)->Arg(1250)->Arg(2500)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond)
    ->Complexity();

} // namespace

BENCHMARK_MAIN();
