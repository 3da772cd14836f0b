#pragma once

#include <QList>
#include <QString>

#include <optional>

// How long each caption of the current meeting took to appear, split into recognition,
// segmentation and queueing, and translation, and how much the model service was used. A plain
// value the meeting model owns (its `stats`, replaced when a meeting begins) and feeds on the
// main thread; the settings and statistics windows and the diagnostics report read it.
// Memory stays bounded however long the meeting: older entries drop off the front.
struct SessionStats {
    struct Parts {
        double recognition = 0;
        double segmentation = 0;
        double translate = 0;
        bool operator==(const Parts &) const = default;
    };

    struct Sample {
        int id = 0; // from 1, counting every sample of the meeting
        std::optional<double> recognition;
        double segmentation = 0;
        double translate = 0;
        bool operator==(const Sample &) const = default;
    };

    static constexpr qsizetype maxSamples = 300;
    static constexpr qsizetype maxSeries = 2000;
    // The longest recognition delay that is believed; longer ones are taken as mismeasured.
    static constexpr double maxRecognition = 5.0;

    QList<double> latencies;
    QList<double> translateLatencies;
    QList<double> endToEnd;
    QList<double> recognitions;
    QList<Parts> parts;
    int requests = 0;
    int promptTokens = 0;
    int completionTokens = 0;
    int cachedTokens = 0;
    int failovers = 0;
    int numberRechecks = 0;
    int sentenceMerges = 0;
    QList<Sample> samples;
    int sampleCount = 0;

    bool operator==(const SessionStats &) const = default;

    // Seconds from the spoken-at time to the first translated text, of which `translate` went
    // to the translation request; `recognition` from the end of speech to the spoken-at time
    // when it was measured. Inconsistent figures are clamped, never rejected.
    void addLatency(double total, double translate, std::optional<double> recognition);

    std::optional<double> averageEndToEnd() const;
    std::optional<double> p90EndToEnd() const;
    std::optional<double> averageTranslate() const;
    std::optional<Parts> averageParts() const;

    std::optional<QString> latencySummary() const;
    QString usageSummary(double recognitionSeconds) const;
    std::optional<QString> extrasSummary() const;

    static QString spread(const QList<double> &values);
};
