#pragma once

#include <QList>
#include <QString>
#include <QTemporaryDir>

class QProcess;

// Makes sound files for audio tests with sox and espeak-ng, reads them back as 16 kHz mono
// floats, and plays them into a PulseAudio sink with paplay.
class TestSound final {
public:
    TestSound();
    ~TestSound();

    bool isValid() const { return m_dir.isValid(); }

    // Each returns the path of a new WAV file, or an empty string when the tool failed.
    QString sine(double frequency, double seconds, double amplitude, int rate = 16000, int channels = 1);
    QString speech(const QString &text, const QString &voice = QStringLiteral("en"));
    QString synth(const QStringList &soxEffects, double seconds, const QString &name);

    // A sound file's samples as 16 kHz mono floats (empty when it cannot be read).
    static QList<float> samples(const QString &path);
    // Starts playing a file into a sink (paplay); the caller waits for or kills the process.
    static QProcess *play(const QString &path, const QString &sink);

    // Sine frequency estimate of mono samples, from their rising zero crossings.
    static double frequency(const QList<float> &samples, double rate);

private:
    QString path(const QString &name);

    QTemporaryDir m_dir;
    int m_counter = 0;
};
