#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <functional>

// Runs an outside tool (espeak-ng, sox, paplay) to its end: true when it exited normally with
// status 0 within a minute; its standard output in `output` when asked for.
inline bool runTool(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    const bool ok = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
    if (output)
        *output = process.readAllStandardOutput();
    return ok;
}

// Whether a chunk of 16-bit audio, as the realtime fake receives it, is as loud as speech.
inline bool loudChunk(const QByteArray &pcm)
{
    const auto *samples = reinterpret_cast<const qint16 *>(pcm.constData());
    const qsizetype n = pcm.size() / 2;
    double sum = 0;
    for (qsizetype i = 0; i < n; ++i)
        sum += std::abs(int(samples[i]));
    return n > 0 && sum / double(n) > 200;
}

// The main() of a benchmark that plays sound through the test environment: a Qt application
// for the model's event loop, one option of its own ("--sentences=" …) handed to `option`,
// then Google Benchmark with the remaining arguments.
inline int runBenchmarks(int argc, char **argv, const QByteArray &prefix,
                         const std::function<void(const QByteArray &)> &option)
{
    QCoreApplication app(argc, argv);
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        if (arg.startsWith(prefix))
            option(arg.mid(prefix.size()));
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
