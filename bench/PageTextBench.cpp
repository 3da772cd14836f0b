// The two texts that run on the main thread at the size of their inputs' limits: the visible
// text of a 5 MiB page with 2,000 script elements (each note with a link), and the chat's cut of
// a three-hour record (each question). Run at the full size and at half of it, so the growth
// with the input shows next to the time.
#include "intelligence/BackgroundLogic.h"
#include "intelligence/MeetingChat.h"

#include <benchmark/benchmark.h>

namespace {

// A page of about `bytes` UTF-8 bytes: paragraphs of mixed Chinese and English text between
// `scripts` script elements, with styles, entities and nested markup along the way.
QString page(qsizetype bytes, int scripts)
{
    const QString paragraph = QStringLiteral(
        "<div class=\"row\"><p>Pulsed field ablation &amp; 脉冲场消融：the <b>ADVENT</b> trial "
        "compared it with thermal ablation&nbsp;in 607 patients.</p>\n  <span>讲者：Martin Calloway</span></div>\n");
    const QString script = QStringLiteral(
        "<script type=\"application/json\">{\"k\":\"<p>not text</p>\",\"n\":[1,2,3]}</script>\n");
    QString html = QStringLiteral("<!DOCTYPE html><html><head><style>p{margin:0}</style></head><body>\n");
    // Characters per byte of the page's own mix of Chinese and English.
    const double perByte = double(paragraph.size()) / double(paragraph.toUtf8().size());
    const qsizetype between = qsizetype(double(bytes) * perByte) / (scripts + 1) - script.size();
    for (int i = 0; i <= scripts; ++i) {
        const qsizetype start = html.size();
        while (html.size() - start < between)
            html += paragraph;
        if (i < scripts)
            html += script;
    }
    return html + QStringLiteral("</body></html>");
}

// A record of `characters` characters in the record's own layout: time, translation, source.
QString record(qsizetype characters)
{
    const QString block = QStringLiteral(
        "23:28:05\n我们在第二阶段看到了更好的结果，尤其是在持续性房颤的患者中。\n"
        "We saw better results in phase two, especially in patients with persistent AF.\n\n");
    QString text;
    while (text.size() < characters)
        text += block;
    text.truncate(characters);
    return text;
}

void pageText(benchmark::State &state)
{
    const QString html = page(state.range(0), int(state.range(1)));
    state.counters["page_bytes"] = double(html.toUtf8().size());
    for (auto _ : state) {
        const QString text = BackgroundLogic::pageText(html);
        benchmark::DoNotOptimize(text.data());
    }
}

void chatTrimmed(benchmark::State &state)
{
    const QString text = record(state.range(0));
    for (auto _ : state) {
        const QString cut = MeetingChat::trimmed(text);
        benchmark::DoNotOptimize(cut.data());
    }
}

} // namespace

BENCHMARK(pageText)
    ->Args({5 * 1024 * 1024 / 2, 1000})
    ->Args({5 * 1024 * 1024, 2000})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(chatTrimmed)->Arg(300000)->Arg(600000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
