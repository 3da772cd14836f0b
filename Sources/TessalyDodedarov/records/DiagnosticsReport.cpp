#include "records/Diagnostics.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

namespace {

struct KindLabel {
    const char16_t *kind;
    const char16_t *label;
};

// The kinds summarised under "研究和纠正", in the report's order.
const std::array<KindLabel, 13> kCorrectionKinds = {{
    {u"research_reply", u"定时研究"},
    {u"quick_reply", u"即时研究"},
    {u"tab_judge", u"判断正在听的网页"},
    {u"soundalike", u"送翻译前纠正"},
    {u"shown_fix", u"回改已显示的字幕"},
    {u"refix", u"原文改正后重译"},
    {u"short_translation", u"译文过短整段重译"},
    {u"smoothed", u"接续的半句整句重译后换到字幕上"},
    {u"echo_dropped", u"丢掉的重复片段"},
    {u"lead_dropped", u"去掉译文开头重复的一句"},
    {u"turn_ignored", u"忽略的换人"},
    {u"number_recheck", u"数字核对重译"},
    {u"merge", u"半句合成整句"},
}};

const std::array<const char16_t *, 4> kOperationKinds = {u"pause", u"resume", u"note", u"chat"};
const std::array<const char16_t *, 3> kStopKinds = {u"stopped", u"error", u"key_switch"};

constexpr qsizetype kFindingsPerCategory = 30;
constexpr qsizetype kEventsPerKind = 8;
constexpr qsizetype kEventTextCharacters = 240;
constexpr qsizetype kStopEvents = 10;
constexpr qsizetype kOperationEvents = 5;
constexpr qsizetype kOperationTextCharacters = 80;
constexpr qsizetype kOverviewMeetings = 20;
constexpr qsizetype kCommonProblems = 5;

QString number(qsizetype n) { return QString::number(n); }

// Every line end ("\r\n", "\r" or "\n") as one blank: the text stays on its
// list line.
QString onOneLine(const QString &text)
{
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String(" "));
    out.replace(u'\r', u' ');
    out.replace(u'\n', u' ');
    return out;
}

// Every line end followed by two blanks: the text keeps its lines and they
// stay inside the Markdown list item they belong to.
QString insideListItem(const QString &text)
{
    QString out;
    out.reserve(text.size() + 8);
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        out += c;
        if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n')
            continue;
        if (c == u'\r' || c == u'\n')
            out += QLatin1String("  ");
    }
    return out;
}

// A table cell holds no line end and no column bar of its own.
QString tableCell(const QString &text)
{
    QString out = onOneLine(text);
    out.replace(u'|', u' ');
    return out;
}

QString oneDecimal(double value) { return QString::asprintf("%.1f", value); }

QString pct(const QList<double> &sorted, double p)
{
    const qsizetype index = std::min(sorted.size() - 1, qsizetype(std::floor(p * double(sorted.size()))));
    return oneDecimal(sorted[index]);
}

// Minutes and the like to one decimal, halves away from zero.
double roundedToTenths(double value) { return std::round(value * 10) / 10; }

// A JSON number that is a whole number from 0 to INT_MAX.
std::optional<int> wholeNumber(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d) || d < 0 || d > double(INT_MAX) || std::trunc(d) != d)
        return std::nullopt;
    return int(d);
}

} // namespace

QString Diagnostics::report(const Context &context, const QList<Finding> &findings, const QString &review)
{
    QString out;
    out.reserve(64 * 1024);

    out += QStringLiteral("# 诊断：") + context.name + QStringLiteral("\n\n");
    out += QStringLiteral("泰萨利字幕 ") + context.version + QStringLiteral("｜时长 ")
        + QString::asprintf("%.0f", context.minutes) + QStringLiteral(" 分钟｜") + number(context.lines.size())
        + QStringLiteral(" 段\n\n");
    if (!review.isEmpty())
        out += QStringLiteral("## 自动分析（DeepSeek）\n\n") + review.trimmed() + QStringLiteral("\n\n");

    // Findings by category, in findings order.
    QHash<QString, QList<const Finding *>> byCategory;
    for (const Finding &finding : findings)
        byCategory[finding.category].append(&finding);

    out += QStringLiteral("## 问题计数\n\n| 类别 | 次数 |\n|---|---|\n");
    for (const QString &category : categories) {
        out += QStringLiteral("| ") + category + QStringLiteral(" | ") + number(byCategory.value(category).size())
            + QStringLiteral(" |\n");
    }

    out += QStringLiteral("\n## 可疑点（按规则自动挑出）\n\n");
    for (const QString &category : categories) {
        const QList<const Finding *> listed = byCategory.value(category);
        if (listed.isEmpty())
            continue;
        out += QStringLiteral("### ") + category + u'（' + number(listed.size()) + QStringLiteral("）\n\n");
        for (qsizetype i = 0; i < std::min(listed.size(), kFindingsPerCategory); ++i) {
            out += QStringLiteral("- ");
            if (!listed[i]->time.isEmpty())
                out += listed[i]->time + QStringLiteral("  ");
            out += onOneLine(listed[i]->detail) + u'\n';
        }
        if (listed.size() > kFindingsPerCategory) {
            out += QStringLiteral("- ……另外 ") + number(listed.size() - kFindingsPerCategory)
                + QStringLiteral(" 条见事件日志\n");
        }
        out += u'\n';
    }

    // One pass over the log, which a long meeting fills with tens of
    // thousands of events: only the reported kinds, their counts and the few
    // first events that are printed are kept.
    struct Listed {
        qsizetype count = 0;
        QList<const DiagnosticEvent *> first;
    };
    QHash<QString, Listed> byKind;
    for (const KindLabel &entry : kCorrectionKinds)
        byKind.insert(QString::fromUtf16(entry.kind), {});
    for (const char16_t *kind : kOperationKinds)
        byKind.insert(QString::fromUtf16(kind), {});
    QList<const DiagnosticEvent *> stops;
    for (const DiagnosticEvent &event : context.events) {
        const auto listed = byKind.find(event.kind);
        if (listed != byKind.end() && listed->count++ < kEventsPerKind)
            listed->first.append(&event);
        if (stops.size() < kStopEvents
            && std::any_of(kStopKinds.cbegin(), kStopKinds.cend(),
                           [&event](const char16_t *kind) { return event.kind == QStringView(kind); }))
            stops.append(&event);
    }

    out += QStringLiteral("## 研究和纠正\n\n");
    const QString summaryKey = QStringLiteral("summary");
    const QString textKey = QStringLiteral("text");
    const QString changesKey = QStringLiteral("changes");
    for (const KindLabel &entry : kCorrectionKinds) {
        const Listed listed = byKind.value(QString::fromUtf16(entry.kind));
        if (listed.count == 0)
            continue;
        out += QStringLiteral("- ") + QString::fromUtf16(entry.label) + u'：' + number(listed.count)
            + QStringLiteral(" 次\n");
        for (const DiagnosticEvent *event : listed.first) {
            const QMap<QString, QString> &fields = event->fields;
            const QString text = fields.contains(summaryKey) ? fields.value(summaryKey)
                : fields.contains(textKey)                  ? fields.value(textKey)
                                                            : fields.value(changesKey);
            if (text.isEmpty())
                continue;
            out += QStringLiteral("  - ") + eventTime(event->t) + QStringLiteral("  ")
                + onOneLine(DiagnosticLog::firstCharacters(text, kEventTextCharacters)) + u'\n';
        }
    }
    if (!context.notes.isEmpty())
        out += QStringLiteral("- 本场说明：") + insideListItem(context.notes.join(u'；')) + u'\n';

    out += QStringLiteral("\n## 性能和花费\n\n");
    for (const auto &[label, value] : context.stats)
        out += QStringLiteral("- ") + label + u'：' + value + u'\n';
    QList<double> latencies;
    for (const Line &line : context.lines) {
        if (line.latency && std::isfinite(*line.latency))
            latencies.append(*line.latency);
    }
    if (!latencies.isEmpty()) {
        std::sort(latencies.begin(), latencies.end());
        out += QStringLiteral("- 出字延迟：中位 ") + pct(latencies, 0.5) + QStringLiteral(" 秒，90% ")
            + pct(latencies, 0.9) + QStringLiteral(" 秒，最慢 ") + oneDecimal(latencies.last())
            + QStringLiteral(" 秒\n");
    }
    if (!stops.isEmpty()) {
        out += QStringLiteral("- 停止、出错、换密钥：\n");
        for (const DiagnosticEvent *event : stops) {
            out += QStringLiteral("  - ") + eventTime(event->t) + QStringLiteral("  ") + event->kind + u' '
                + event->fields.value(QStringLiteral("reason")) + u'\n';
        }
    }

    out += QStringLiteral("\n## 操作\n\n");
    for (const char16_t *kind : kOperationKinds) {
        const QString name = QString::fromUtf16(kind);
        const Listed listed = byKind.value(name);
        if (listed.count == 0)
            continue;
        out += QStringLiteral("- ") + name + u'：' + number(listed.count) + QStringLiteral(" 次");
        for (const DiagnosticEvent *event : listed.first.first(std::min(listed.first.size(), kOperationEvents))) {
            const auto text = event->fields.constFind(textKey);
            if (text == event->fields.cend())
                continue;
            out += u'｜' + insideListItem(DiagnosticLog::firstCharacters(*text, kOperationTextCharacters));
        }
        out += u'\n';
    }

    out += QStringLiteral("\n## 设置\n\n");
    for (const auto &[label, value] : context.settings)
        out += QStringLiteral("- ") + label + u'：' + value + u'\n';

    out += QStringLiteral("\n（详细事件见同名“事件.jsonl”：每行一条，t 是开始后的秒数。）\n");
    return out;
}

QString Diagnostics::summaryJSON(const QString &name, const QString &version, double minutes, int lines,
                                 const QMap<QString, int> &counts)
{
    const double tenths = roundedToTenths(minutes);
    // JSON has no NaN or infinity; such a summary can't be written.
    if (!std::isfinite(tenths))
        return QStringLiteral("{}");
    QJsonObject byCategory;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        byCategory.insert(it.key(), it.value());
    QJsonObject summary;
    summary.insert(QStringLiteral("name"), name);
    summary.insert(QStringLiteral("version"), version);
    summary.insert(QStringLiteral("minutes"), tenths);
    summary.insert(QStringLiteral("lines"), lines);
    summary.insert(QStringLiteral("counts"), byCategory);
    // QJsonObject keeps its keys sorted, nested objects too.
    return QString::fromUtf8(QJsonDocument(summary).toJson(QJsonDocument::Indented));
}

std::optional<Diagnostics::Summary> Diagnostics::parseSummary(const QString &text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue name = object.value(QStringLiteral("name"));
    if (!name.isString())
        return std::nullopt;

    Summary summary;
    summary.name = name.toString();
    summary.version = object.value(QStringLiteral("version")).toString();
    // Files in the folder may come from anywhere: a value of the wrong type or
    // one no meeting can have reads as absent instead of reaching the table.
    const QJsonValue minutes = object.value(QStringLiteral("minutes"));
    if (minutes.isDouble() && std::isfinite(minutes.toDouble()) && minutes.toDouble() >= 0
        && minutes.toDouble() <= 1e6)
        summary.minutes = minutes.toDouble();
    summary.lines = wholeNumber(object.value(QStringLiteral("lines"))).value_or(0);
    const QJsonValue counts = object.value(QStringLiteral("counts"));
    if (counts.isObject()) {
        const QJsonObject byCategory = counts.toObject();
        for (auto it = byCategory.constBegin(); it != byCategory.constEnd(); ++it) {
            if (const std::optional<int> count = wholeNumber(it.value()))
                summary.counts.insert(it.key(), *count);
        }
    }
    return summary;
}

QString Diagnostics::overview(const QList<Summary> &summaries)
{
    // Names are start times "yyyy-MM-dd HH.mm.ss", so name order is meeting order.
    QList<Summary> kept = summaries;
    std::stable_sort(kept.begin(), kept.end(), [](const Summary &a, const Summary &b) {
        return QStringView(a.name).toUcs4() < QStringView(b.name).toUcs4();
    });
    if (kept.size() > kOverviewMeetings)
        kept.remove(0, kept.size() - kOverviewMeetings);

    QString out;
    out += QStringLiteral("# 诊断汇总（最近 ") + number(kept.size())
        + QStringLiteral(" 场）\n\n每格是“次数（每 100 段）”。自动生成，每场会议结束后更新。\n\n");
    out += QStringLiteral("| 会议 | 版本 | 分钟 | 段数 | ") + categories.join(QStringLiteral(" | "))
        + QStringLiteral(" |\n|");
    for (int i = 0; i < 16; ++i)
        out += QStringLiteral("---|");
    out += u'\n';

    QList<qint64> totals(categories.size(), 0);
    for (const Summary &summary : kept) {
        out += QStringLiteral("| ") + tableCell(summary.name) + QStringLiteral(" | ") + tableCell(summary.version)
            + QStringLiteral(" | ") + QString::asprintf("%.0f", summary.minutes) + QStringLiteral(" | ")
            + number(summary.lines);
        for (qsizetype c = 0; c < categories.size(); ++c) {
            const int count = summary.counts.value(categories[c], 0);
            totals[c] += count;
            out += QStringLiteral(" | ");
            if (count == 0) {
                out += u'0';
                continue;
            }
            const double rate = summary.lines < 1 ? 0.0 : (100.0 / summary.lines) * count;
            out += number(count) + u'（' + oneDecimal(rate) + u'）';
        }
        out += QStringLiteral(" |\n");
    }

    out += QStringLiteral("\n## 最常见的问题\n\n");
    QList<qsizetype> order(categories.size());
    for (qsizetype c = 0; c < order.size(); ++c)
        order[c] = c;
    std::stable_sort(order.begin(), order.end(), [&totals](qsizetype a, qsizetype b) { return totals[a] > totals[b]; });
    for (qsizetype i = 0; i < std::min(order.size(), kCommonProblems); ++i) {
        const qsizetype c = order[i];
        if (totals[c] <= 0)
            break;
        out += QStringLiteral("- ") + categories[c] + QStringLiteral("：共 ") + QString::number(totals[c])
            + QStringLiteral(" 次\n");
    }
    return out;
}
