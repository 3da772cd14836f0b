#pragma once

#include <QList>

#include <limits>
#include <optional>
#include <vector>

// Decides, buffer by buffer, which captured audio goes to the recognition service (and is
// billed). Loud sound opens it; it stays open while the sound goes on and for a hangover after
// it; on opening it hands over a pre-roll of what was heard just before, so the first syllable
// survives. With a speech classifier, a gate that stays open without confirmed speech (music,
// noise) closes and distrusts loud sound until speech is confirmed again.
// A value owned by the engine and used only on its queue. Times are uptime seconds; samples are
// 16 kHz mono floats.
class VoiceGate final {
public:
    float loudThresholdDB = -50;   // loud means strictly above this
    double hangover = 1.5;
    double noSpeechLimit = 10;
    bool classifierAvailable = true;
    bool isOpen = false;
    bool trusted = true;
    bool useLongPreroll = false;
    double lastLoud = -std::numeric_limits<double>::infinity();
    double lastSpeech = -std::numeric_limits<double>::infinity();
    double openedAt = 0;

    static constexpr qsizetype shortPreroll = 8000;   // 0.5 s
    static constexpr qsizetype longPreroll = 32000;   // 2 s; also the most the pre-roll keeps

    // The audio to send now, or nothing. While open, the input itself is returned (shared, not
    // copied).
    std::optional<QList<float>> process(const QList<float> &samples, double at);
    // Speech was confirmed at that time.
    void noteSpeech(double at);

    // 20·log10(RMS), -120 for an empty or silent buffer.
    static float levelDB(const float *samples, qsizetype count);
    static float levelDB(const QList<float> &samples) { return levelDB(samples.constData(), samples.size()); }

    // What the pre-roll holds (audio heard while closed), oldest first.
    qsizetype prerollCount() const { return m_count; }
    QList<float> preroll() const { return newest(m_count); }

private:
    void appendPreroll(const float *samples, qsizetype count);
    QList<float> newest(qsizetype count) const;

    // A ring of at most `longPreroll` samples, so a closed gate never shifts its history.
    std::vector<float> m_ring;
    qsizetype m_start = 0;
    qsizetype m_count = 0;
};
