// The engine's own cost for one 100 ms chunk of voice: conversion to 16-bit, queueing,
// Base64, JSON and the write to a loopback WebSocket (the fake service drains it on its own
// thread). The goal is well under 20 µs per chunk on one core.
#include "speech/EngineHarness.h"

#include "EventLoopWait.h"
#include "Percentiles.h"
#include "common/SerialQueue.h"
#include "fakes/FakeScribeServer.h"
#include "speech/ScribeClient.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <ratio>
#include <vector>

namespace {
using SteadyClock = std::chrono::steady_clock;
constexpr qsizetype chunkSamples = 1600; // 100 ms at 16 kHz

QList<float> speechLike()
{
    QList<float> samples(chunkSamples);
    for (qsizetype i = 0; i < chunkSamples; ++i)
        samples[i] = 0.3f * std::sin(float(i) * 0.07f) + 0.05f * std::sin(float(i) * 1.3f);
    return samples;
}

// The fake service on a thread of its own, so the engine's queue is the only thing measured.
struct LoopbackService {
    LoopbackService()
    {
        thread.sync([this] {
            server = new FakeScribeServer;
            server->keepAudio = false;
            server->listen();
        });
    }
    ~LoopbackService()
    {
        thread.sync([this] { delete server; });
    }
    qint64 received()
    {
        qint64 bytes = 0;
        thread.sync([&] { bytes = server->audioBytes; });
        return bytes;
    }
    SerialQueue thread{QStringLiteral("bench.fake-scribe")};
    FakeScribeServer *server = nullptr;
};

// Runs the benchmark loop on the engine's queue, as the engine runs, letting the queue's
// event loop write the socket after every chunk.
template <typename Step> void runOnEngineQueue(benchmark::State &state, Step step)
{
    LoopbackService service;
    EngineHarness h(service.server->address());
    h.listenWithoutCapture();
    h.onQueue([&] { step(h); }); // opens the connection
    if (!runEventLoopUntil([&] { return h.sessionStarted(); }, 5000)) {
        state.SkipWithError("the fake service did not start a session");
        return;
    }
    h.onQueue([&] {
        for (auto _ : state) {
            step(h);
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        }
    });
    if (!runEventLoopUntil([&] { return service.received() >= qint64(state.iterations()) * chunkSamples * 2; }, 30000))
        state.SkipWithError("not every chunk reached the service");
    state.counters["bytes_received"] = double(service.received());
}
}

static void BM_ChunkToSocket(benchmark::State &state)
{
    const QList<float> samples = speechLike();
    runOnEngineQueue(state, [&](EngineHarness &h) { h.enqueue(samples); });
}
BENCHMARK(BM_ChunkToSocket)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The whole engine path of one captured buffer with the gate open: level, voice timeline,
// gate, then the chunk as above.
static void BM_BufferThroughEngine(benchmark::State &state)
{
    const PcmBuffer buffer(SystemAudioTap::outputFormat(), speechLike());
    runOnEngineQueue(state, [&](EngineHarness &h) { h.handle(buffer); });
}
BENCHMARK(BM_BufferThroughEngine)->UseRealTime()->Unit(benchmark::kMicrosecond);

// From the engine's write of one 100 ms chunk to the fake service's receipt of the whole message,
// one chunk at a time. A chunk that waited for the peer's delayed ACK (Nagle's algorithm on the
// socket) would show as ~40 ms.
static void BM_ChunkSendToReceipt(benchmark::State &state)
{
    const QList<float> samples = speechLike();
    LoopbackService service;
    std::atomic<qint64> receivedAt = 0;
    service.thread.sync([&] {
        QObject::connect(service.server, &FakeScribeServer::audioReceived, service.server,
                         [&receivedAt] { receivedAt = SteadyClock::now().time_since_epoch().count(); },
                         Qt::DirectConnection);
    });
    EngineHarness h(service.server->address());
    h.listenWithoutCapture();
    h.onQueue([&] { h.enqueue(samples); }); // opens the connection
    if (!runEventLoopUntil([&] { return h.sessionStarted() && service.received() > 0; }, 5000)) {
        state.SkipWithError("the fake service did not start a session");
        return;
    }
    std::vector<double> milliseconds;
    for (auto _ : state) {
        const qint64 before = service.received();
        qint64 sentAt = 0;
        h.onQueue([&] {
            sentAt = SteadyClock::now().time_since_epoch().count();
            h.enqueue(samples);
        });
        if (!runEventLoopUntil([&] { return service.received() > before; }, 5000)) {
            state.SkipWithError("a chunk did not reach the service");
            return;
        }
        const double seconds = double(receivedAt - sentAt) / double(std::nano::den);
        state.SetIterationTime(seconds);
        milliseconds.push_back(seconds * 1000.0);
    }
    reportSpread(state, milliseconds, "ms");
}
BENCHMARK(BM_ChunkSendToReceipt)->UseManualTime()->Iterations(300)->Unit(benchmark::kMicrosecond);

// The message alone: Base64 and JSON of 3,200 bytes.
static void BM_AudioMessage(benchmark::State &state)
{
    const QByteArray pcm(3200, '\x5a');
    for (auto _ : state)
        benchmark::DoNotOptimize(ScribeClient::audioMessage(pcm));
}
BENCHMARK(BM_AudioMessage)->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
