#include "intelligence/SessionStats.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// A figure that is not a number would print as "nan" in every text after it.
double orZero(double value) { return std::isfinite(value) ? value : 0.0; }

double mean(const QList<double> &values)
{
    if (values.isEmpty())
        return 0;
    return std::accumulate(values.cbegin(), values.cend(), 0.0) / double(values.size());
}

double percentile90(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return values[std::min(n - 1, qsizetype(double(n) * 0.9))];
}

// Durations always with "." as the decimal point, whatever the locale.
QString seconds(double value) { return QString::asprintf("%.1f 秒", value); }

QString tokens(int n)
{
    if (n < 10000)
        return QString::number(n);
    return QString::asprintf("%.1f 万", double(n) / 10000.0);
}

QString stages(const QList<SessionStats::Parts> &parts)
{
    double recognition = 0;
    double segmentation = 0;
    double translate = 0;
    for (const SessionStats::Parts &p : parts) {
        recognition += p.recognition;
        segmentation += p.segmentation;
        translate += p.translate;
    }
    const double n = parts.isEmpty() ? 1.0 : double(parts.size());
    return QStringLiteral("识别 ") + seconds(recognition / n) + QStringLiteral(" · 断句和排队 ")
        + seconds(segmentation / n) + QStringLiteral(" · 翻译 ") + seconds(translate / n);
}

template <typename T>
void keepNewest(QList<T> &list, qsizetype cap)
{
    if (list.size() > cap)
        list.remove(0, list.size() - cap);
}

}

void SessionStats::addLatency(double total, double translate, std::optional<double> recognition)
{
    total = orZero(total);
    translate = orZero(translate);
    if (recognition)
        recognition = orZero(*recognition);

    ++sampleCount;
    if (recognition && !(*recognition >= 0 && *recognition <= maxRecognition))
        recognition.reset();
    const double translatePart = std::max(0.0, std::min(translate, total));
    const double totalPart = std::max(total, 0.0);
    const double segmentation = totalPart - translatePart;

    samples.append({sampleCount, recognition, segmentation, translatePart});
    keepNewest(samples, maxSamples);

    latencies.append(totalPart);
    translateLatencies.append(translatePart);
    keepNewest(latencies, maxSeries);
    keepNewest(translateLatencies, maxSeries);

    if (recognition) {
        recognitions.append(*recognition);
        endToEnd.append(totalPart + *recognition);
        parts.append({*recognition, segmentation, translatePart});
        keepNewest(recognitions, maxSeries);
        keepNewest(endToEnd, maxSeries);
        keepNewest(parts, maxSeries);
    }
}

std::optional<double> SessionStats::averageEndToEnd() const
{
    if (endToEnd.isEmpty())
        return std::nullopt;
    return mean(endToEnd);
}

std::optional<double> SessionStats::p90EndToEnd() const
{
    if (endToEnd.size() < 5)
        return std::nullopt;
    return percentile90(endToEnd);
}

std::optional<double> SessionStats::averageTranslate() const
{
    if (translateLatencies.isEmpty())
        return std::nullopt;
    return mean(translateLatencies);
}

std::optional<SessionStats::Parts> SessionStats::averageParts() const
{
    if (latencies.isEmpty())
        return std::nullopt;
    // The two series are kept in step; the shorter length guards a value built by hand.
    const qsizetype n = std::min(latencies.size(), translateLatencies.size());
    double segmentation = 0;
    for (qsizetype i = 0; i < n; ++i)
        segmentation += latencies[i] - translateLatencies[i];
    return Parts{mean(recognitions), n > 0 ? segmentation / double(n) : 0.0, mean(translateLatencies)};
}

QString SessionStats::spread(const QList<double> &values)
{
    QString text = QStringLiteral("平均 ") + seconds(mean(values));
    if (values.size() >= 10)
        text += QStringLiteral("，九成在 ") + seconds(percentile90(values)) + QStringLiteral(" 内");
    const double largest = values.isEmpty() ? 0.0 : *std::max_element(values.cbegin(), values.cend());
    text += QStringLiteral("，最慢 ") + seconds(largest);
    return text;
}

std::optional<QString> SessionStats::latencySummary() const
{
    if (latencies.isEmpty())
        return std::nullopt;
    const Parts average = *averageParts();
    const QString queueAndTranslate = QStringLiteral("断句和排队 ") + seconds(average.segmentation)
        + QStringLiteral(" · 翻译 ") + seconds(mean(translateLatencies));
    if (endToEnd.isEmpty()) {
        return QStringLiteral("识别结果到出字：") + spread(latencies) + QStringLiteral("，共 ")
            + QString::number(latencies.size()) + QStringLiteral(" 句（还没量到讲话停顿）\n") + QStringLiteral("其中 ")
            + queueAndTranslate;
    }
    QString text = QStringLiteral("讲话停下到出字：") + spread(endToEnd) + QStringLiteral("（量到 ")
        + QString::number(endToEnd.size()) + QStringLiteral(" / ") + QString::number(latencies.size())
        + QStringLiteral(" 句）\n") + QStringLiteral("其中 ") + stages(parts);
    if (parts.size() >= 10) {
        QList<Parts> slowest = parts;
        std::stable_sort(slowest.begin(), slowest.end(), [](const Parts &a, const Parts &b) {
            return a.recognition + a.segmentation + a.translate > b.recognition + b.segmentation + b.translate;
        });
        const qsizetype k = parts.size() / 10;
        slowest.resize(k);
        text += QStringLiteral("\n最慢的 ") + QString::number(k) + QStringLiteral(" 句：") + stages(slowest);
    }
    text += QStringLiteral("\n全部 ") + QString::number(latencies.size()) + QStringLiteral(" 句：") + queueAndTranslate;
    return text;
}

QString SessionStats::usageSummary(double recognitionSeconds) const
{
    QString text = QString::asprintf("识别 %.1f 分钟", orZero(recognitionSeconds) / 60.0) + QStringLiteral(" · 翻译 ")
        + QString::number(requests) + QStringLiteral(" 次请求");
    if (qint64(promptTokens) + qint64(completionTokens) >= 1) {
        text += QStringLiteral("，输入 ") + tokens(promptTokens) + QStringLiteral("（缓存命中 ") + tokens(cachedTokens)
            + QStringLiteral("）/ 输出 ") + tokens(completionTokens) + QStringLiteral(" 词元");
    }
    return text;
}

std::optional<QString> SessionStats::extrasSummary() const
{
    QStringList pieces;
    if (sentenceMerges >= 1)
        pieces.append(QStringLiteral("半句合成整句重译 ") + QString::number(sentenceMerges) + QStringLiteral(" 次"));
    if (numberRechecks >= 1)
        pieces.append(QStringLiteral("数字对不上重译 ") + QString::number(numberRechecks) + QStringLiteral(" 句"));
    if (failovers >= 1)
        pieces.append(QStringLiteral("改用备用翻译服务 ") + QString::number(failovers) + QStringLiteral(" 次"));
    if (pieces.isEmpty())
        return std::nullopt;
    return pieces.join(QStringLiteral(" · "));
}
