// Start-up: from exec to the tray icon registering with the tray host, for the application and
// for a bare Qt tray application (bench/tray), under xcb on the test session's X server with a
// fake status-notifier watcher on its bus; and the resident memory of each after 10 s idle.
// Both service keys are in the session's keyring, as a user who set the application up has
// them; the services are a closed loopback port (the application built for the test suite takes
// their addresses from the environment; the one users run finds no route out of the test
// environment), so whatever a stored key makes the application do at start-up fails fast.
// The goal: the application's median at most twice the bare application's, and under 55 MB
// resident. Run inside scripts/with-test-env (it supplies the bus, the keyring and the X server).
#include "fakes/FakeStatusNotifierWatcher.h"
#include "platform/Keychain.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>
#include <map>

namespace {

FakeStatusNotifierWatcher *watcher = nullptr;

// How long each program idles before its resident memory is read.
constexpr int idleMs = 10000;

// Nothing listens on the discard port of the loopback address: a connection is refused at once.
const QString closedService = QStringLiteral("https://127.0.0.1:9");

const QString elevenLabsKey = QStringLiteral("el-0123456789abcdef0123456789abcdef");
const QString deepSeekKey = QStringLiteral("sk-0123456789abcdef0123456789abcdef");

bool storeKeys()
{
    return Keychain::set(QStringLiteral("[\"%1\"]").arg(elevenLabsKey), Keychain::elevenLabsListAccount)
        && Keychain::set(elevenLabsKey, Keychain::elevenLabsAccount)
        && Keychain::set(deepSeekKey, Keychain::deepSeekAccount);
}

void removeKeys()
{
    for (const QString &account : {Keychain::deepSeekAccount, Keychain::elevenLabsAccount,
                                   Keychain::elevenLabsListAccount})
        Keychain::set(QString(), account);
}

// The settings and records of one program, kept from one start to the next as a user's are: a
// user with stored keys has started the application before.
struct Home {
    QTemporaryDir folder;
};

Home &homeOf(const QString &program)
{
    static std::map<QString, Home> homes;
    return homes[program];
}

struct Launch {
    QTemporaryDir runtime;
    QProcess process;

    explicit Launch(const QString &program)
    {
        const QTemporaryDir &home = homeOf(program).folder;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        // A runtime folder of its own, so each start is a first instance.
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DOCUMENTS_DIR"), home.filePath(QStringLiteral("docs")));
        for (const char *name : {"DODEDAROV_TEST_SCRIBE_URL", "DODEDAROV_TEST_DEEPSEEK_URL",
                                 "DODEDAROV_TEST_ELEVENLABS_URL"})
            environment.insert(QString::fromLatin1(name), closedService);
        process.setProcessEnvironment(environment);
        process.setProgram(program);
    }

    ~Launch()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(process.processId()), SIGTERM);
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    // Starts the program and waits for its tray item; the seconds it took, or a negative
    // value when it never registered.
    double startAndRegister()
    {
        const qsizetype before = watcher->items.size();
        QElapsedTimer clock;
        clock.start();
        process.start();
        const QDeadlineTimer deadline(60000);
        while (watcher->items.size() == before && !deadline.hasExpired()
               && process.state() != QProcess::NotRunning)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (watcher->items.size() == before)
            return -1.0;
        return double(clock.nsecsElapsed()) / 1e9;
    }

    double residentMegabytes()
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
        if (!status.open(QIODevice::ReadOnly))
            return -1.0;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
        return -1.0;
    }
};

void startUp(benchmark::State &state, const QString &program)
{
    {
        // A warm cache and settings written: one start that is not timed.
        Launch warm(program);
        if (warm.startAndRegister() < 0) {
            state.SkipWithError("no tray item registered");
            return;
        }
    }
    for (auto _ : state) {
        Launch launch(program);
        const double seconds = launch.startAndRegister();
        if (seconds < 0) {
            state.SkipWithError("no tray item registered");
            return;
        }
        state.SetIterationTime(seconds);
    }
}

void idleMemory(benchmark::State &state, const QString &program)
{
    for (auto _ : state) {
        Launch launch(program);
        if (launch.startAndRegister() < 0) {
            state.SkipWithError("no tray item registered");
            return;
        }
        const QDeadlineTimer idle(idleMs);
        while (!idle.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (launch.process.state() != QProcess::Running) {
            state.SkipWithError("the program ended while idle");
            return;
        }
        state.counters["rss_MB"] = launch.residentMegabytes();
        state.SetIterationTime(idleMs / 1000.0);
    }
}

}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fputs("bench_startup: no X display; run it inside scripts/with-test-env\n", stderr);
        return 1;
    }
    FakeStatusNotifierWatcher fake;
    if (!fake.start()) {
        std::fputs("bench_startup: the fake status-notifier watcher did not get its name\n", stderr);
        return 1;
    }
    watcher = &fake;
    if (!storeKeys()) {
        std::fputs("bench_startup: the session's keyring did not take the keys\n", stderr);
        removeKeys();
        return 1;
    }
    const auto keysGone = qScopeGuard(&removeKeys);

    const QString application = QStringLiteral(DODEDAROV_APP_PATH);
    const QString bare = QStringLiteral(DODEDAROV_BARE_TRAY_PATH);
    for (const auto &[name, program] : {std::pair {"BM_StartToTray/app", application},
                                        std::pair {"BM_StartToTray/bare", bare}})
        benchmark::RegisterBenchmark(name, [program](benchmark::State &state) { startUp(state, program); })
            ->UseManualTime()
            ->Iterations(1)
            ->Repetitions(10)
            ->ReportAggregatesOnly(true)
            ->Unit(benchmark::kMillisecond);
    for (const auto &[name, program] : {std::pair {"BM_IdleMemory/app", application},
                                        std::pair {"BM_IdleMemory/bare", bare}})
        benchmark::RegisterBenchmark(name, [program](benchmark::State &state) { idleMemory(state, program); })
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
