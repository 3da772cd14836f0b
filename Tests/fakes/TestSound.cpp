#include "fakes/TestSound.h"

#include <QFile>
#include <QProcess>

#include <cstring>

namespace {

bool run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

TestSound::TestSound() = default;
TestSound::~TestSound() = default;

QString TestSound::path(const QString &name)
{
    return m_dir.filePath(QStringLiteral("%1-%2.wav").arg(name).arg(++m_counter));
}

QString TestSound::sine(double frequency, double seconds, double amplitude, int rate, int channels)
{
    const QString file = path(QStringLiteral("sine"));
    const bool ok = run(QStringLiteral("sox"),
                        {QStringLiteral("-n"), QStringLiteral("-r"), QString::number(rate),
                         QStringLiteral("-c"), QString::number(channels), QStringLiteral("-b"),
                         QStringLiteral("16"), file, QStringLiteral("synth"), QString::number(seconds),
                         QStringLiteral("sine"), QString::number(frequency), QStringLiteral("vol"),
                         QString::number(amplitude)});
    return ok ? file : QString();
}

QString TestSound::speech(const QString &text, const QString &voice)
{
    const QString file = path(QStringLiteral("speech"));
    const bool ok = run(QStringLiteral("espeak-ng"),
                        {QStringLiteral("-v"), voice, QStringLiteral("-w"), file, text});
    return ok ? file : QString();
}

QString TestSound::synth(const QStringList &soxEffects, double seconds, const QString &name)
{
    const QString file = path(name);
    QStringList arguments{QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("16000"),
                          QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-b"),
                          QStringLiteral("16"), file, QStringLiteral("synth"),
                          QString::number(seconds)};
    arguments += soxEffects;
    return run(QStringLiteral("sox"), arguments) ? file : QString();
}

QList<float> TestSound::samples(const QString &path)
{
    QByteArray raw;
    if (!run(QStringLiteral("sox"),
             {path, QStringLiteral("-t"), QStringLiteral("f32"), QStringLiteral("-r"),
              QStringLiteral("16000"), QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-")},
             &raw)) {
        return {};
    }
    QList<float> out(raw.size() / qsizetype(sizeof(float)));
    std::memcpy(out.data(), raw.constData(), size_t(out.size()) * sizeof(float));
    return out;
}

QProcess *TestSound::play(const QString &path, const QString &sink)
{
    auto *process = new QProcess;
    process->start(QStringLiteral("paplay"), {QStringLiteral("--device=") + sink, path});
    return process;
}

double TestSound::frequency(const QList<float> &samples, double rate)
{
    // Rising zero crossings between the first and the last one give whole periods.
    qsizetype first = -1;
    qsizetype last = -1;
    int crossings = 0;
    for (qsizetype i = 1; i < samples.size(); ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            if (first < 0)
                first = i;
            last = i;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0;
    return (crossings - 1) * rate / double(last - first);
}
