// How much the streamed answer's path adds before the first translated character shows: the
// time from the server writing one event to the transport's onDelta call (loopback socket,
// Qt's network thread and the parse included), beside the floor under it, the same write read
// from a plain socket on the main thread; and the raw parse throughput. Goal: a median within
// twice the floor's on an idle machine.
#include "Percentiles.h"
#include "fakes/FakeDeepSeekServer.h"
#include "platform/Keychain.h"
#include "translation/DeepSeek.h"
#include "translation/DeepSeekTransport.h"
#include "translation/StreamLineReader.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

QByteArray typicalEvent(int i)
{
    return FakeDeepSeekServer::deltaEvent(QStringLiteral("第%1段译文，").arg(i));
}

// One line through the delta and usage readers, as the transport does per line.
void BM_ParseOneLine(benchmark::State &state)
{
    const QString line = QString::fromUtf8(typicalEvent(7)).trimmed();
    for (auto _ : state) {
        benchmark::DoNotOptimize(DeepSeek::usage(line));
        benchmark::DoNotOptimize(DeepSeek::parse(line));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseOneLine);

// A whole streamed answer cut into network-sized reads, lines cut and parsed.
void BM_StreamThroughput(benchmark::State &state)
{
    QByteArray body;
    int events = 0;
    while (body.size() < 256 * 1024)
        body += typicalEvent(events++);
    body += FakeDeepSeekServer::usageEvent(900, 400, 300, std::nullopt) + FakeDeepSeekServer::doneEvent();
    const qsizetype read = state.range(0);
    for (auto _ : state) {
        StreamLineReader reader;
        int deltas = 0;
        for (qsizetype at = 0; at < body.size(); at += read) {
            reader.append(QByteArrayView(body).sliced(at, std::min(read, body.size() - at)));
            while (const auto line = reader.next()) {
                DeepSeek::usage(*line);
                if (DeepSeek::parse(*line).kind == DeepSeek::Chunk::Kind::text)
                    ++deltas;
            }
        }
        benchmark::DoNotOptimize(deltas);
    }
    state.SetBytesProcessed(state.iterations() * body.size());
    state.SetItemsProcessed(state.iterations() * events);
}
BENCHMARK(BM_StreamThroughput)->Arg(1400)->Arg(16 * 1024);

// The floor under the figure below: the same loopback write reaching a plain QTcpSocket on the
// main thread, with no HTTP, no network thread and no parsing. It runs first so that the figure
// below can be set beside its median.
double g_floorP50 = -1;

void BM_LoopbackFloor(benchmark::State &state)
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        state.SkipWithError("no loopback port");
        return;
    }
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    if (!client.waitForConnected(5000) || !server.waitForNewConnection(5000)) {
        state.SkipWithError("no connection");
        return;
    }
    QTcpSocket *peer = server.nextPendingConnection();
    Clock::time_point written;
    bool arrived = false;
    QObject::connect(&client, &QTcpSocket::readyRead, [&] {
        client.readAll();
        arrived = true;
    });
    const QByteArray event = typicalEvent(7);
    std::vector<double> latencies;
    latencies.reserve(size_t(state.max_iterations));
    for (auto _ : state) {
        arrived = false;
        QTimer::singleShot(1, [&] {
            peer->write(event);
            peer->flush();
            written = Clock::now();
        });
        while (!arrived)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - written).count());
        state.SetIterationTime(latencies.back() / 1e6);
    }
    reportSpread(state, latencies, "us");
    g_floorP50 = percentile(latencies, 0.5);
}
BENCHMARK(BM_LoopbackFloor)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

// Server write to onDelta, through the real transport and a loopback fake, one event a
// millisecond. Each delta is timed from its own write: when two events reach the main thread in
// one turn of its loop they are handed on together, and the earlier one has waited the longer.
void BM_EventToDelta(benchmark::State &state)
{
    const auto events = size_t(state.max_iterations) + 10;
    FakeDeepSeekServer server;
    if (!server.listen()) {
        state.SkipWithError("no loopback port");
        return;
    }
    DeepSeekTransport::baseAddress = server.baseUrl();
    FakeDeepSeekServer::Script script;
    for (size_t i = 0; i < events; ++i)
        script.pause(1).send(typicalEvent(int(i)));
    server.enqueue(script.done());

    // Every event carries one piece of text, so the n-th delta is the n-th write's.
    std::vector<Clock::time_point> writes;
    writes.reserve(events + 1);
    server.onWrite = [&] { writes.push_back(Clock::now()); };
    std::vector<double> latencies;
    latencies.reserve(events);
    bool finished = false;
    DeepSeekTransport::stream(
        DeepSeek::body("Hello", {}, {}, {}, false), QStringLiteral("bench-key"),
        [&](const QString &) {
            const Clock::time_point delivered = Clock::now();
            latencies.push_back(std::chrono::duration<double, std::micro>(delivered - writes.at(latencies.size())).count());
        },
        [&](const DeepSeekTransport::Outcome &) { finished = true; });

    size_t timed = 0;
    for (auto _ : state) {
        while (latencies.size() <= timed && !finished)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (latencies.size() <= timed) {
            state.SkipWithError("the stream ended early");
            break;
        }
        state.SetIterationTime(latencies.at(timed++) / 1e6);
    }
    while (!finished)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    server.onWrite = nullptr;
    latencies.resize(std::min(latencies.size(), timed));
    reportSpread(state, latencies, "us");
    if (g_floorP50 > 0 && !latencies.empty())
        state.counters["p50_over_floor_p50"] = percentile(latencies, 0.5) / g_floorP50;
}
BENCHMARK(BM_EventToDelta)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The transport asks the keyring for a stored key first; the benchmark needs none.
    Keychain::readItem = [](const QString &, const QString &) {
        return SecretStore::Reading{SecretStore::Reading::Status::notFound, {}};
    };
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
