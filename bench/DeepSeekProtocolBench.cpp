// One whole chat call through DeepSeekTransport to a loopback TLS server, from stream() to the
// call's end: a caption-sized body (8 KB) and a large one (100 KB), once against a server that
// offers HTTP/2 and HTTP/1.1 by ALPN, as the real service does (h2 answered by nghttpd), and once
// against a server that speaks only HTTP/1.1. The counters say which protocol the calls used
// and the loopback interface's MTU. A request that waits for the peer's delayed ACK shows as
// ~40 ms; the goal is a median under 2 ms at both sizes against both servers.
//
// Qt leaves Nagle's algorithm on for its HTTP sockets, and its HTTP/1.1 writer hands a large
// body over in 16 KiB pieces. Loopback's usual 64 KiB MTU makes each piece one small segment
// that waits for the delayed ACK of the one before, so the 100 KB case shows ~40 ms there,
// which no real path does. The figures for a real path come from a loopback with an Ethernet
// MTU, in a network namespace of its own:
//   unshare -rn sh -c 'ip link set lo up; ip link set lo mtu 1500; exec build/rel/bench/bench_DeepSeekProtocolBench'
//
// Needs `nghttpd` (Debian's nghttp2-server) on PATH for the h2 answers; without it the cases
// against the server offering h2 are skipped.
#include "Percentiles.h"
#include "fakes/FakeDeepSeekServer.h"
#include "fakes/TlsServiceServer.h"
#include "translation/DeepSeek.h"
#include "translation/DeepSeekTransport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QNetworkInterface>
#include <QProcess>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrl>

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

QByteArray answer()
{
    return FakeDeepSeekServer::deltaEvent(QStringLiteral("好的。")) + FakeDeepSeekServer::doneEvent();
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// nghttpd serving the answer as a file at the chat path, over cleartext h2: the TLS server
// below hands it every connection that chose h2.
struct Http2Backend {
    QTemporaryDir dir;
    QProcess process;
    quint16 port = 0;

    bool start()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("nghttpd")).isEmpty())
            return false;
        const QString docs = dir.filePath(QStringLiteral("docs"));
        QDir().mkpath(docs + QStringLiteral("/v1/chat"));
        QFile file(docs + QStringLiteral("/v1/chat/completions"));
        if (!file.open(QIODevice::WriteOnly) || file.write(answer()) < 0)
            return false;
        file.close();
        port = freePort();
        process.start(QStringLiteral("nghttpd"),
                      {QStringLiteral("--no-tls"), QStringLiteral("--htdocs=") + docs,
                       QStringLiteral("--address=127.0.0.1"), QString::number(port)});
        if (!process.waitForStarted(5000))
            return false;
        for (int tries = 0; tries < 100; ++tries) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (probe.waitForConnected(100))
                return true;
            process.waitForFinished(50);
            if (process.state() == QProcess::NotRunning)
                return false;
        }
        return false;
    }

    ~Http2Backend()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished(5000);
        }
    }
};


// range(0): 2 = a server offering h2 and HTTP/1.1, 1 = an HTTP/1.1-only server; range(1): body bytes.
void BM_ChatCall(benchmark::State &state)
{
    const bool offersH2 = state.range(0) == 2;
    Http2Backend backend;
    TlsServiceServer server;
    TlsServiceServer::trustCertificate();
    server.answer.body = answer();
    server.answer.keepAlive = true;
    if (offersH2 && !backend.start()) {
        state.SkipWithError("nghttpd (Debian's nghttp2-server) is needed");
        return;
    }
    server.h2Port = backend.port;
    if (!server.listen(offersH2)) {
        state.SkipWithError("no loopback port");
        return;
    }
    DeepSeekTransport::baseAddress = QUrl(server.baseUrl().toString() + QStringLiteral("/v1"));

    // A caption request's shape, its English grown to the size asked for.
    const QByteArray empty = DeepSeek::body(QString(), {}, {}, {}, false);
    const QString english = QString(qMax<qsizetype>(1, state.range(1) - empty.size()), u'a');
    const QByteArray body = DeepSeek::body(english, {}, {}, {}, false);

    std::vector<double> times;
    bool failed = false;
    auto call = [&] {
        bool done = false;
        const auto started = Clock::now();
        DeepSeekTransport::stream(body, QStringLiteral("bench-key"), [](const QString &) {},
                                  [&](const DeepSeekTransport::Outcome &outcome) {
                                      failed = failed || outcome.kind != DeepSeekTransport::Outcome::Kind::success;
                                      done = true;
                                  });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return std::chrono::duration<double>(Clock::now() - started).count();
    };
    call(); // the connection and TLS handshake, outside the figures
    for (auto _ : state) {
        const double seconds = call();
        times.push_back(seconds * 1000.0);
        state.SetIterationTime(seconds);
    }
    if (failed)
        state.SkipWithError("a call did not end with the service's end marker");
    state.counters["body_bytes"] = double(body.size());
    state.counters["loopback_mtu"] =
        double(QNetworkInterface::interfaceFromName(QStringLiteral("lo")).maximumTransmissionUnit());
    state.counters["h2_connections"] = double(server.protocols.count(QSslConfiguration::ALPNProtocolHTTP2));
    state.counters["http1_connections"] = double(server.protocols.count(QByteArray(QSslConfiguration::NextProtocolHttp1_1)));
    reportSpread(state, times, "ms");
}
BENCHMARK(BM_ChatCall)
    ->ArgNames({"http", "bytes"})
    ->Args({2, 8 * 1024})
    ->Args({2, 100 * 1024})
    ->Args({1, 8 * 1024})
    ->Args({1, 100 * 1024})
    ->UseManualTime()
    ->Iterations(200)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
