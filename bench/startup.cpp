// Start-up: from exec to the tray icon registering with the tray host, for the application and
// for a bare Qt tray application (bench/tray), under xcb on the test session's X server with a
// fake status-notifier watcher on its bus; and the resident memory of each after 5 s idle.
// The goal: the application's median at most twice the bare application's, and under 80 MB
// resident. Run inside scripts/with-test-env (it supplies the bus and the X server).
#include "fakes/FakeStatusNotifierWatcher.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>

namespace {

FakeStatusNotifierWatcher *watcher = nullptr;

struct Launch {
    QTemporaryDir runtime;
    QTemporaryDir home;
    QProcess process;

    explicit Launch(const QString &program)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        // A runtime folder of its own, so each start is a first instance.
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DOCUMENTS_DIR"), home.filePath(QStringLiteral("docs")));
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
        // A warm cache: one start that is not timed.
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
        const QDeadlineTimer idle(5000);
        while (!idle.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        state.counters["rss_MB"] = launch.residentMegabytes();
        state.SetIterationTime(5.0);
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
