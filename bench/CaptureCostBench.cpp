// What captioning costs the machine while it listens: processor time and wake-ups of every
// thread of the application, over a spoken program of about two minutes.
//
// The meeting model runs for real on loopback fakes: espeak-ng sentences (with quiet between
// them) are played into the test environment's null sink, the engine captures the sink's
// monitor, gates it and streams it to the realtime fake, which sends a partial every half
// second of voice and commits a sentence once it hears the quiet after it; the chat fake
// answers every translation at once. The fakes run on a thread of their own ("bench-services"),
// which is left out of the application's figures. Nothing else of the benchmark runs while
// the program plays: the main thread only waits for the player to finish.
//
// Per thread, from /proc/self/task/*/stat and status, over the playback: processor time (user
// and system) and voluntary context switches, each of which is a wake-up after the thread
// slept. Goal for the whole application: under 1 % of a core and under 40 wake-ups a second.
// Beside them, how late the audio reaches the service: for every sentence, from the moment its
// sound starts in the program to the first chunk of it at the realtime fake (the time the
// player needs to start counts in every sentence alike).
//
// Needs the test environment (sound server, keyring):
//   scripts/with-test-env build/rel/bench/bench_CaptureCostBench [--seconds=120]

#include "BenchTools.h"
#include "LoopbackServices.h"
#include "Percentiles.h"
#include "common/Clock.h"
#include "fakes/FakeDeepSeekServer.h"
#include "fakes/FakeScribeServer.h"
#include "fakes/ModelRig.h"
#include "speech/ScribeClient.h"
#include "translation/DeepSeekTransport.h"
#include "platform/Keychain.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <unistd.h>
#include <vector>

namespace {

double programSeconds = 120;

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// ---- Threads of this process, from /proc. ----

struct ThreadStat {
    QString name;
    double cpuSeconds = 0;
    qint64 voluntary = 0;
    qint64 involuntary = 0;
};

std::map<int, ThreadStat> readThreads()
{
    std::map<int, ThreadStat> threads;
    const double tick = double(sysconf(_SC_CLK_TCK));
    const QStringList tids = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &tid : tids) {
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
        QFile status(QStringLiteral("/proc/self/task/%1/status").arg(tid));
        if (!stat.open(QIODevice::ReadOnly) || !status.open(QIODevice::ReadOnly))
            continue; // the thread ended meanwhile
        ThreadStat t;
        const QByteArray line = stat.readAll();
        // The name is in parentheses and may hold blanks; the fields after it are plain.
        const qsizetype open = line.indexOf('(');
        const qsizetype close = line.lastIndexOf(')');
        t.name = QString::fromUtf8(line.mid(open + 1, close - open - 1));
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        // After the name: state is field 3 of the whole line, utime 14, stime 15.
        t.cpuSeconds = (fields.value(11).toDouble() + fields.value(12).toDouble()) / tick;
        for (const QByteArray &entry : status.readAll().split('\n')) {
            if (entry.startsWith("voluntary_ctxt_switches:"))
                t.voluntary = entry.mid(24).trimmed().toLongLong();
            else if (entry.startsWith("nonvoluntary_ctxt_switches:"))
                t.involuntary = entry.mid(27).trimmed().toLongLong();
        }
        threads[tid.toInt()] = t;
    }
    return threads;
}

// ---- The program. ----

double duration(const QString &file)
{
    QByteArray out;
    return runTool(QStringLiteral("soxi"), {QStringLiteral("-D"), file}, &out) ? out.trimmed().toDouble() : -1;
}

struct Program {
    QString file;
    QStringList sentences;
    std::vector<double> onsets; // seconds into the file where each sentence starts
};

// Sentences with 1.5 s of quiet after each, repeated until the program lasts `seconds`.
Program makeProgram(const QTemporaryDir &dir, double seconds)
{
    static const QStringList lines = {
        QStringLiteral("Good morning everyone, thank you for joining the weekly planning call."),
        QStringLiteral("The design team finished the review of the new plan last week."),
        QStringLiteral("Our sales group wants more time to look at the budget before we decide."),
        QStringLiteral("The support desk will present the results to the whole company next month."),
        QStringLiteral("The finance office asked us to move the launch until after the holidays."),
        QStringLiteral("The hiring panel found a few problems in the contract with the supplier."),
        QStringLiteral("Our legal advisers think the current schedule is too tight for everyone."),
        QStringLiteral("The research lab has two new prototypes ready for testing."),
        QStringLiteral("The marketing crew would like a short video for the product page."),
        QStringLiteral("The board members will meet again on Thursday afternoon."),
        QStringLiteral("The product owners agreed to cut the smaller features from this release."),
        QStringLiteral("Let us take the remaining questions by email after the call."),
    };
    Program program;
    const QString gap = dir.filePath(QStringLiteral("gap.wav"));
    if (!runTool(QStringLiteral("sox"), {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("22050"),
                                     QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-b"),
                                     QStringLiteral("16"), gap, QStringLiteral("trim"), QStringLiteral("0"),
                                     QStringLiteral("1.5")}))
        return {};
    const double gapSeconds = duration(gap);
    QStringList parts{gap};
    double at = gapSeconds;
    for (int i = 0; at < seconds; ++i) {
        const QString file = dir.filePath(QStringLiteral("s%1.wav").arg(i));
        const QString text = lines.at(i % lines.size());
        if (!runTool(QStringLiteral("espeak-ng"), {QStringLiteral("-w"), file, text}))
            return {};
        program.sentences.append(text);
        program.onsets.push_back(at);
        at += duration(file) + gapSeconds;
        parts << file << gap;
    }
    program.file = dir.filePath(QStringLiteral("program.wav"));
    parts << program.file;
    if (!runTool(QStringLiteral("sox"), parts))
        return {};
    return program;
}

// ---- The services, on their own thread; every member is touched only there. ----

class Services final : public QObject {
public:
    void setUp()
    {
        m_scribe = std::make_unique<FakeScribeServer>();
        m_chat = std::make_unique<FakeDeepSeekServer>();
        m_scribe->expectedKey = "xk-capture-bench";
        m_chat->keepRequests = false;
        m_chat->answerFor = [](const FakeDeepSeekServer::Request &) -> std::optional<FakeDeepSeekServer::Script> {
            return FakeDeepSeekServer::stream({QStringLiteral("我们在讨论"), QStringLiteral("下一步的计划。")});
        };
        if (!m_scribe->listen() || !m_chat->listen())
            qFatal("cannot listen on loopback");
        connect(m_scribe.get(), &FakeScribeServer::audioReceived, this, [this] { heard(); });
    }
    void tearDown()
    {
        m_scribe.reset();
        m_chat.reset();
    }

    QUrl scribeAddress() const { return m_scribe->address(); }
    QUrl chatAddress() const { return m_chat->baseUrl(); }
    QByteArray scribeKey() const { return m_scribe->expectedKey; }

    // When each sentence's first loud chunk arrived; read once the services are torn down.
    std::vector<double> voiceArrivals;

private:
    void heard()
    {
        FakeScribeServer::Connection &connection = m_scribe->last();
        // Every chunk counts here: the arrival of a sentence's first one is measured.
        const QList<QByteArray> chunks = std::exchange(connection.chunks, {});
        for (const QByteArray &chunk : chunks) {
            if (loudChunk(chunk)) {
                if (m_loudChunks == 0)
                    voiceArrivals.push_back(now());
                ++m_loudChunks;
                m_quietChunks = 0;
                if (m_loudChunks % 5 == 0)
                    m_scribe->send(FakeScribeServer::partial(QStringLiteral("we are talking about")));
            } else if (m_loudChunks > 0 && ++m_quietChunks >= 3) {
                m_loudChunks = 0;
                m_quietChunks = 0;
                m_scribe->send(FakeScribeServer::committed(
                    QStringLiteral("We are talking about the next steps of the plan.")));
            }
        }
    }

    std::unique_ptr<FakeScribeServer> m_scribe;
    std::unique_ptr<FakeDeepSeekServer> m_chat;
    int m_loudChunks = 0;
    int m_quietChunks = 0;
};

void BM_CaptureCost(benchmark::State &state)
{
    if (qEnvironmentVariableIsEmpty("DODEDAROV_TEST_SINK")) {
        state.SkipWithError("needs the test environment (scripts/with-test-env)");
        return;
    }
    for (auto _ : state) {
        QTemporaryDir dir;
        const Program program = makeProgram(dir, programSeconds);
        if (program.file.isEmpty()) {
            state.SkipWithError("espeak-ng or sox failed");
            return;
        }

        QThread serviceThread;
        serviceThread.setObjectName(QStringLiteral("bench-services"));
        serviceThread.start();
        auto services = std::make_unique<Services>();
        services->moveToThread(&serviceThread);
        QMetaObject::invokeMethod(services.get(), [&] { services->setUp(); }, Qt::BlockingQueuedConnection);

        ModelRig rig;
        Clock::reset();
        useLoopbackServices(rig, services->chatAddress(), services->scribeAddress(), services->scribeKey(),
                            QStringLiteral("sk-capture-bench"));
        // Threads are told apart by when they appear (the OS keeps only 15 characters of a
        // name, the same for every thread of the application).
        const std::map<int, ThreadStat> benchThreads = readThreads();
        AppModel &model = rig.make();
        const std::map<int, ThreadStat> modelThreads = readThreads();

        model.startOrResume();
        if (!model.running()) {
            state.SkipWithError("the engine did not start");
            break;
        }
        // The model's start-up settles before the measurement begins.
        {
            QEventLoop settle;
            QTimer::singleShot(2000, &settle, &QEventLoop::quit);
            settle.exec();
        }

        QProcess player;
        QEventLoop playing;
        QObject::connect(&player, &QProcess::finished, &playing, &QEventLoop::quit);
        const std::map<int, ThreadStat> before = readThreads();
        const double started = now();
        player.start(QStringLiteral("paplay"),
                     {QStringLiteral("--device=") + qEnvironmentVariable("DODEDAROV_TEST_SINK"), program.file});
        playing.exec();
        const double elapsed = now() - started;
        const std::map<int, ThreadStat> after = readThreads();

        rig.destroyModel();
        QMetaObject::invokeMethod(services.get(), [&] { services->tearDown(); }, Qt::BlockingQueuedConnection);
        serviceThread.quit();
        serviceThread.wait();

        // Per thread of the application (threads that ended during the playback are lost, and
        // none is expected to).
        double appCpu = 0;
        qint64 appWakes = 0;
        std::printf("%-8s %-16s %-9s %10s %12s %14s\n", "tid", "thread", "made", "cpu_ms", "wakeups/s",
                    "involuntary/s");
        for (const auto &[tid, end] : after) {
            const auto start = before.find(tid);
            const ThreadStat begin = start == before.end() ? ThreadStat{} : start->second;
            const double cpu = end.cpuSeconds - begin.cpuSeconds;
            const qint64 wakes = end.voluntary - begin.voluntary;
            const qint64 preempted = end.involuntary - begin.involuntary;
            if (cpu == 0 && wakes == 0)
                continue;
            const bool service = end.name == QStringLiteral("bench-services");
            const char *made = benchThreads.count(tid) ? "first" : modelThreads.count(tid) ? "by model" : "at start";
            std::printf("%-8d %-16s %-9s %10.0f %12.1f %14.1f%s\n", tid, qPrintable(end.name), made, cpu * 1000,
                        double(wakes) / elapsed, double(preempted) / elapsed, service ? "  (fakes, left out)" : "");
            if (service)
                continue;
            appCpu += cpu;
            appWakes += wakes;
        }

        std::vector<double> reach;
        const qsizetype sentences = std::min<qsizetype>(qsizetype(program.onsets.size()),
                                                        qsizetype(services->voiceArrivals.size()));
        for (qsizetype i = 0; i < sentences; ++i)
            reach.push_back((services->voiceArrivals[size_t(i)] - started - program.onsets[size_t(i)]) * 1000);

        state.counters["played_s"] = elapsed;
        state.counters["sentences"] = double(program.onsets.size());
        state.counters["sentences_heard"] = double(services->voiceArrivals.size());
        state.counters["app_cpu_percent"] = appCpu / elapsed * 100;
        state.counters["app_wakeups_per_s"] = double(appWakes) / elapsed;
        state.counters["voice_to_service_p50_ms"] = percentile(reach, 0.5);
        state.counters["voice_to_service_max_ms"] = reach.empty() ? -1 : *std::max_element(reach.begin(), reach.end());
    }
}
BENCHMARK(BM_CaptureCost)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    return runBenchmarks(argc, argv, "--seconds=", [](const QByteArray &value) {
        programSeconds = std::max(5.0, value.toDouble());
    });
}
