// How much the streamed answer's path adds before the first translated character shows: the
// time from the server writing one event to the transport's onDelta call (loopback socket,
// Qt's network thread and the parse included), and the raw parse throughput. Goal: under 50 µs
// per event.
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

// Server write to onDelta, one event at a time, through the real transport and a loopback fake.
void BM_EventToDelta(benchmark::State &state)
{
    const int events = 2000;
    FakeDeepSeekServer server;
    if (!server.listen()) {
        state.SkipWithError("no loopback port");
        return;
    }
    DeepSeekTransport::baseAddress = server.baseUrl();
    FakeDeepSeekServer::Script script;
    for (int i = 0; i < events + 10; ++i)
        script.pause(1).send(typicalEvent(i));
    server.enqueue(script.done());

    Clock::time_point written;
    server.onWrite = [&] { written = Clock::now(); };
    std::vector<double> latencies;
    latencies.reserve(events + 10);
    bool finished = false;
    DeepSeekTransport::stream(
        DeepSeek::body("Hello", {}, {}, {}, false), QStringLiteral("bench-key"),
        [&](const QString &) {
            latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - written).count());
        },
        [&](const DeepSeekTransport::Outcome &) { finished = true; });

    for (auto _ : state) {
        const size_t before = latencies.size();
        while (latencies.size() == before && !finished)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (latencies.size() == before) {
            state.SkipWithError("the stream ended early");
            break;
        }
        state.SetIterationTime(latencies.back() / 1e6);
    }
    while (!finished)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    reportSpread(state, latencies, "us");
}
BENCHMARK(BM_EventToDelta)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

// The floor under the figure above: the same loopback write reaching a plain QTcpSocket on the
// main thread, with no HTTP, no network thread and no parsing.
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
    for (auto _ : state) {
        arrived = false;
        QTimer::singleShot(1, [&] {
            peer->write(event);
            peer->flush();
            written = Clock::now();
        });
        while (!arrived)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - written).count());
    }
}
BENCHMARK(BM_LoopbackFloor)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

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
