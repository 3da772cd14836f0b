// Replays a synthetic three-hour meeting (about 30,000 partial transcripts, 3,000 commits and a
// tick every 0.25 s) through the caption pipeline and reports the cost of each event at the
// start, middle and end of the meeting. The cost should depend only on the open sentence.
#include "speech/CaptionPipeline.h"
#include "speech/Segmenter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

namespace {

struct Event {
    enum Kind { partial, committed, tick } kind;
    double at;
    QString text;
    std::optional<CaptionPipeline::SpeakerLabels> speakers;
};

struct Token {
    QString text;
    bool chinese;
    QString speaker;
};

const QStringList englishWords = QString::fromUtf8(
    "we need to look at the budget for next quarter because the numbers from marketing are higher "
    "than expected and the team wants to hire two more engineers before the launch in spring so "
    "let me share the slides about customer feedback retention pricing and the roadmap for the "
    "platform migration which should finish by the end of june if the vendor delivers on time")
                                     .split(u' ');
const QString chineseCharacters = QString::fromUtf8(
    "我们今天讨论一下预算的问题因为市场部的数字比预期高团队希望在发布之前再招两个工程师然后看一下客户反馈");
const QStringList terms{QStringLiteral("API"), QStringLiteral("roadmap"), QStringLiteral("Kubernetes"),
                        QStringLiteral("Q3")};

std::vector<Token> segmentTokens(std::mt19937 &rng)
{
    std::uniform_int_distribution<int> length(14, 26);
    std::uniform_real_distribution<double> chance(0, 1);
    const QString first = chance(rng) < 0.5 ? QStringLiteral("1:0") : QStringLiteral("1:1");
    const QString second = first == u"1:0" ? QStringLiteral("1:1") : QStringLiteral("1:0");
    const bool chinese = chance(rng) < 0.25;
    const int n = length(rng);
    const int change = chance(rng) < 0.2 ? n / 2 : n + 1;  // a second speaker takes over mid-segment
    std::vector<Token> tokens;
    for (int i = 0; i < n; ++i) {
        Token token;
        token.speaker = i >= change ? second : first;
        if (chinese && chance(rng) > 0.08) {
            token.text = chineseCharacters.at(int(rng() % chineseCharacters.size()));
            token.chinese = true;
            if (chance(rng) < 0.1)
                token.text += chance(rng) < 0.5 ? QStringLiteral("，") : QStringLiteral("。");
        } else {
            token.text = chinese ? terms.at(int(rng() % terms.size())) : englishWords.at(int(rng() % englishWords.size()));
            token.chinese = false;
            if (!chinese && chance(rng) < 0.12)
                token.text += chance(rng) < 0.5 ? QStringLiteral(",") : QStringLiteral(".");
        }
        tokens.push_back(token);
    }
    return tokens;
}

QString textOf(const std::vector<Token> &tokens, size_t count)
{
    QString text;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0 && !(tokens[i].chinese && tokens[i - 1].chinese))
            text += u' ';
        text += tokens[i].text;
    }
    return text;
}

std::vector<Event> syntheticMeeting(int segments)
{
    std::mt19937 rng(2026);
    std::uniform_real_distribution<double> chance(0, 1);
    std::vector<Event> events;
    double now = 0;
    double nextTick = 0.25;
    const auto advance = [&](double seconds) {
        now += seconds;
        for (; nextTick <= now; nextTick += 0.25)
            events.push_back({Event::tick, nextTick, {}, std::nullopt});
    };
    for (int s = 0; s < segments; ++s) {
        const std::vector<Token> tokens = segmentTokens(rng);
        size_t shown = 0;
        while (shown < tokens.size()) {
            shown = std::min(tokens.size(), shown + 1 + rng() % 3);
            advance(0.2 + 0.15 * chance(rng));
            Event event{Event::partial, now, textOf(tokens, shown), CaptionPipeline::SpeakerLabels()};
            for (size_t i = 0; i < shown; ++i)
                event.speakers->append(tokens[i].speaker);
            if (chance(rng) < 0.5)
                event.speakers->last() = std::nullopt;  // the newest word's speaker is not known yet
            events.push_back(event);
        }
        advance(0.3);
        events.push_back({Event::partial, now, {}, std::nullopt});
        events.push_back({Event::committed, now, textOf(tokens, tokens.size()), std::nullopt});
        advance(0.2 + 0.6 * chance(rng));
    }
    return events;
}

double percentile(std::vector<double> samples, double p)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    return samples[size_t(p * double(samples.size() - 1))];
}

double mean(const std::vector<double> &samples)
{
    double sum = 0;
    for (double sample : samples)
        sum += sample;
    return samples.empty() ? 0 : sum / double(samples.size());
}

void replayMeeting(benchmark::State &state)
{
    Segmenter::interpreterMode = true;
    const std::vector<Event> meeting = syntheticMeeting(3000);
    const std::optional<SpeechLanguage> raw =
        state.range(0) == 0 ? std::nullopt : std::optional(SpeechLanguage(SpeechLanguage::english));

    std::vector<double> costs;  // microseconds per partial or commit, in meeting order
    std::vector<double> tickCosts;
    for (auto _ : state) {
        costs.clear();
        tickCosts.clear();
        CaptionPipeline pipeline(raw);
        size_t outputs = 0;
        for (const Event &event : meeting) {
            const auto start = std::chrono::steady_clock::now();
            QList<CaptionPipeline::Output> produced;
            switch (event.kind) {
            case Event::partial:
                produced = pipeline.partial(event.text, event.speakers, event.at);
                break;
            case Event::committed:
                produced = pipeline.committed(event.text, event.at);
                break;
            case Event::tick:
                produced = pipeline.tick(event.at);
                break;
            }
            const double micros = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
            (event.kind == Event::tick ? tickCosts : costs).push_back(micros);
            outputs += size_t(produced.size());
        }
        benchmark::DoNotOptimize(outputs);
        state.counters["outputs"] = double(outputs);
    }

    const size_t n = costs.size();
    const size_t window = n / 10;
    const std::vector<double> startWindow(costs.begin(), costs.begin() + long(window));
    const std::vector<double> middleWindow(costs.begin() + long(n / 2 - window / 2), costs.begin() + long(n / 2 + window / 2));
    const std::vector<double> endWindow(costs.end() - long(window), costs.end());
    state.counters["events"] = double(n);
    state.counters["partials"] = double(std::count_if(meeting.begin(), meeting.end(),
        [](const Event &event) { return event.kind == Event::partial && !event.text.isEmpty(); }));
    state.counters["ticks"] = double(tickCosts.size());
    state.counters["meeting_h"] = meeting.back().at / 3600.0;
    state.counters["mean_us"] = mean(costs);
    state.counters["p50_us"] = percentile(costs, 0.50);
    state.counters["p99_us"] = percentile(costs, 0.99);
    state.counters["max_us"] = percentile(costs, 1.0);
    state.counters["start_p50_us"] = percentile(startWindow, 0.50);
    state.counters["middle_p50_us"] = percentile(middleWindow, 0.50);
    state.counters["end_p50_us"] = percentile(endWindow, 0.50);
    state.counters["start_mean_us"] = mean(startWindow);
    state.counters["start_p99_us"] = percentile(startWindow, 0.99);
    state.counters["middle_mean_us"] = mean(middleWindow);
    state.counters["middle_p99_us"] = percentile(middleWindow, 0.99);
    state.counters["end_mean_us"] = mean(endWindow);
    state.counters["end_p99_us"] = percentile(endWindow, 0.99);
    state.counters["tick_p99_us"] = percentile(tickCosts, 0.99);
}

}

// 0: shown in both languages (everything translated); 1: shown in English (English passes through).
BENCHMARK(replayMeeting)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
