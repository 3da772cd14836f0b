// The checks that run on the main thread for every finished caption line: the number check of a
// source and its translation, and the overlap checks (echo, truncation, repeated leads against
// the four previous texts). Typical lines, and one 5,000-character line that must not stall.
#include "intelligence/NumberCheck.h"
#include "intelligence/Overlap.h"

#include <benchmark/benchmark.h>

namespace {

const QString englishSource = QStringLiteral(
    "So in the third quarter revenue grew to 2.5 million dollars, up from 1,800,000 a year ago, and "
    "we hired twenty one engineers across three offices; by 2026 we expect about forty percent of "
    "sales to come from the new platform, which is roughly three hundred and fifty customers.");
const QString chineseTranslation = QStringLiteral(
    "所以第三季度收入增长到250万美元，高于去年同期的180万，我们在三个办公室招聘了21名工程师；"
    "到2026年，我们预计大约百分之四十的销售额将来自新平台，也就是大约三百五十个客户。");
const QString chineseSource = QStringLiteral(
    "今年我们一共服务了一万两千个客户，其中百分之三十来自海外，总收入大约一点五亿元，比去年增长了两成，"
    "明年计划再开三家门店，投资预计在三千万左右。");
const QString englishTranslation = QStringLiteral(
    "This year we served 12,000 customers in total, 30% of them overseas, with total revenue of about "
    "150 million yuan, up 20% from last year; next year we plan three more stores with an investment of "
    "about 30 million.");

const QStringList previousTranslations{
    QStringLiteral("我们先回顾一下上个季度的情况。收入比预期高，成本也控制得不错。"),
    QStringLiteral("Let us review last quarter first."),
    QStringLiteral("收入比预期高，成本也控制得不错。接下来看看招聘计划。"),
    QString()};
const QStringList previousSources{
    QStringLiteral("Let us review last quarter first. Revenue was higher than expected and costs were fine."),
    QStringLiteral("Revenue was higher than expected and costs were under control. Next, the hiring plan.")};
const QString translation = QStringLiteral("接下来看看招聘计划。我们在三个办公室招聘了二十一名工程师，明年还会再招一些。");
const QString source = QStringLiteral(
    "Next let us look at the hiring plan, we hired twenty one engineers across three offices and "
    "will hire more next year.");

void numberCheck(benchmark::State &state)
{
    const bool fromChinese = state.range(0) == 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(fromChinese ? NumberCheck::missing(chineseSource, englishTranslation)
                                             : NumberCheck::missing(englishSource, chineseTranslation));
    }
}

void overlapChecks(benchmark::State &state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(Overlap::isEcho(source, previousSources.last()));
        benchmark::DoNotOptimize(Overlap::looksTruncated(source, translation));
        benchmark::DoNotOptimize(Overlap::dropRepeatedLeads(translation, previousTranslations, source, previousSources));
    }
}

// Long texts built from the typical ones, so that numbers, marks and shared runs are everywhere.
QString longText(const QString &piece)
{
    QString text;
    while (text.size() < 5000)
        text += piece;
    return text.first(5000);
}

void longNumberCheck(benchmark::State &state)
{
    const QString longSource = longText(state.range(0) == 1 ? chineseSource : englishSource);
    const QString longTranslation = longText(state.range(0) == 1 ? englishTranslation : chineseTranslation);
    for (auto _ : state)
        benchmark::DoNotOptimize(NumberCheck::missing(longSource, longTranslation));
}

void longOverlapChecks(benchmark::State &state)
{
    const QString longSource = longText(source);
    const QString longTranslation = longText(translation);
    QStringList longPrevious;
    for (const QString &p : previousTranslations)
        longPrevious.append(longText(p + translation));
    const QStringList longPreviousSources{longText(previousSources[0]), longText(previousSources[1])};
    for (auto _ : state) {
        benchmark::DoNotOptimize(Overlap::isEcho(longSource, longPreviousSources.last()));
        benchmark::DoNotOptimize(Overlap::looksTruncated(longSource, longTranslation));
        benchmark::DoNotOptimize(Overlap::dropRepeatedLeads(longTranslation, longPrevious, QString(), {}));
    }
}

}

// 0: English source, Chinese translation; 1: Chinese source, English translation.
BENCHMARK(numberCheck)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(overlapChecks)->Unit(benchmark::kMicrosecond);
BENCHMARK(longNumberCheck)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(longOverlapChecks)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
