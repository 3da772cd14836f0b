// A synthetic three-hour meeting through the meeting model: about 30,000 partials and 3,000
// commits through the engine's callbacks, 60,000 streamed pieces with their flushes through the
// translator's installed handlers, and the 0.25 s ticks of the caption pipeline, ending with
// 3,000 translated lines plus what the pipeline leaves. After each event the lines are read as a
// view would. Goal per event on the main thread: p99 under 200 µs, and the p99 of the last ten
// minutes at most 1.5 times that of the first ten.

#include "MemoryKeyring.h"
#include "Percentiles.h"

#include "common/Clock.h"
#include "fakes/ModelRig.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

// The live request the translator made last; the replay streams its answer by hand.
struct LiveCall {
    DeepSeekTransport::DeltaHandler onDelta;
    DeepSeekTransport::FinishHandler onFinish;
};


void BM_Replay(benchmark::State &state)
{
    for (auto _ : state) {
        ModelRig rig;
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-bench-key-0001"));
        AppModel &model = rig.make();
        std::optional<LiveCall> live;
        model.translator().streamer = [&live](const QByteArray &, const QString &,
                                              DeepSeekTransport::DeltaHandler onDelta,
                                              DeepSeekTransport::FinishHandler onFinish) {
            live = LiveCall {std::move(onDelta), std::move(onFinish)};
            return DeepSeekTransport::Call();
        };
        Engine::Callbacks &engine = model.engine().callbacks;

        const double start = rig.now;
        std::vector<std::pair<double, double>> samples; // (meeting second, microseconds)
        samples.reserve(140000);
        size_t viewed = 0;
        auto timed = [&](auto &&event) {
            const auto t0 = std::chrono::steady_clock::now();
            event();
            QCoreApplication::processEvents();
            // A view reads the lines after each notification.
            const QList<CaptionLine> &lines = model.lines();
            viewed += lines.isEmpty() ? 0 : size_t(lines.last().chinese.size());
            const auto t1 = std::chrono::steady_clock::now();
            samples.emplace_back(rig.now - start, std::chrono::duration<double, std::micro>(t1 - t0).count());
        };

        const QStringList words = QStringLiteral(
            "we looked at the numbers for the third quarter and the team thinks the plan still works").split(u' ');
        for (int unit = 0; unit < 3000; ++unit) {
            QString text;
            for (int p = 0; p < 10; ++p) {
                text += (text.isEmpty() ? QString() : QStringLiteral(" ")) + words.at((unit + p) % words.size());
                rig.now += 0.2;
                timed([&] { engine.partial(text, std::nullopt); });
            }
            const QString sentence = text + QStringLiteral(" number %1.").arg(unit);
            rig.now += 0.2;
            timed([&] { engine.committed(sentence); });
            for (int t = 0; t < 14; ++t) {
                rig.now += 0.05;
                timed([&] {
                    model.apply(model.pipeline().tick(Clock::uptime()));
                    model.refreshLiveEnglish();
                });
            }
            if (!live)
                continue;
            for (int piece = 0; piece < 20; ++piece) {
                rig.now += 0.02;
                timed([&] { live->onDelta(QStringLiteral("片段%1").arg(piece)); });
                if (piece % 5 == 4)
                    timed([&] { model.flushDeltas(); });
            }
            DeepSeekTransport::Outcome done;
            done.produced = true;
            const LiveCall call = *std::exchange(live, std::nullopt);
            timed([&] { call.onFinish(done); });
        }

        std::vector<double> all, first, last;
        const double end = rig.now - start;
        for (const auto &[at, us] : samples) {
            all.push_back(us);
            if (at < 600)
                first.push_back(us);
            if (at >= end - 600)
                last.push_back(us);
        }
        state.counters["events"] = double(samples.size());
        state.counters["lines"] = double(model.lines().size());
        state.counters["p99_us"] = percentile(all, 0.99);
        state.counters["p99_first10min_us"] = percentile(first, 0.99);
        state.counters["p99_last10min_us"] = percentile(last, 0.99);
        state.counters["meeting_minutes"] = end / 60;
        benchmark::DoNotOptimize(viewed);
    }
}
BENCHMARK(BM_Replay)->Iterations(1)->Unit(benchmark::kSecond);

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
