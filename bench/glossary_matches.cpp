// How long the per-sentence term lookup takes: it runs for every translated caption over every
// term the meeting knows (notes, background and research keep up to about a hundred).
#include "translation/Glossary.h"

#include <benchmark/benchmark.h>

namespace {

QList<GlossaryEntry> terms(int count)
{
    QList<GlossaryEntry> out;
    for (int i = 0; i < count; ++i)
        out.append(GlossaryEntry(QStringLiteral("Example Term Number %1 (ETN%1)").arg(i),
                                 QStringLiteral("示例术语%1").arg(i)));
    return out;
}

void englishSentence(benchmark::State &state)
{
    const QList<GlossaryEntry> entries = terms(int(state.range(0)));
    const QString sentence = QStringLiteral(
        "So the committee reviewed example term number 42 and the ETN7s before we moved on to "
        "the budget for next year, which is about forty million dollars in total.");
    for (auto _ : state)
        benchmark::DoNotOptimize(Glossary::matches(entries, sentence, 20));
}

void chineseSentence(benchmark::State &state)
{
    const QList<GlossaryEntry> entries = terms(int(state.range(0)));
    const QString sentence =
        QStringLiteral("委员会先审查了示例术语42，然后讨论明年的预算，总共大约四千万美元。");
    for (auto _ : state)
        benchmark::DoNotOptimize(Glossary::matches(entries, sentence, 20));
}

void parseImport(benchmark::State &state)
{
    QString text;
    for (int i = 0; i < state.range(0); ++i)
        text += QStringLiteral("\"Example, Term %1\",示例术语%1,自动研究\n").arg(i);
    for (auto _ : state)
        benchmark::DoNotOptimize(Glossary::parse(text));
}

} // namespace

BENCHMARK(englishSentence)->Arg(40)->Arg(100);
BENCHMARK(chineseSentence)->Arg(40)->Arg(100);
BENCHMARK(parseImport)->Arg(500);
BENCHMARK_MAIN();
