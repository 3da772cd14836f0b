// The diagnostics of a three-hour meeting: 5,000 caption lines, 30,000 events
// of about 300 bytes and 2,000 distinct capitalised words. All of it runs on
// the main thread right after the user stops the meeting, so the findings,
// the event file, the report and the whole write must stay well under a third
// of a second. Argument 2 is a meeting twice that size, to show the work grows
// about linearly.

#include "records/DiagnosticFiles.h"
#include "records/TranscriptWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

const QStringList kKinds = {
    QStringLiteral("asr"),         QStringLiteral("translated"),  QStringLiteral("unit"),
    QStringLiteral("turn"),        QStringLiteral("soundalike"),  QStringLiteral("shown_fix"),
    QStringLiteral("research_reply"), QStringLiteral("echo_dropped"), QStringLiteral("merge"),
    QStringLiteral("pause"),       QStringLiteral("note"),        QStringLiteral("error"),
    QStringLiteral("research_unparsed"),
};

// Distinct capitalised words; every tenth is a one-letter variant of the one
// before it, so the name rule has pairs to report.
QStringList names(int count, QRandomGenerator &random)
{
    QStringList out;
    QSet<QString> seen;
    while (out.size() < count) {
        QString word;
        if (out.size() % 10 == 9) {
            word = out.last();
            word[word.size() - 2] = QChar(u'a' + random.bounded(26));
        } else {
            word += QChar(u'A' + random.bounded(26));
            const int length = 5 + random.bounded(5);
            for (int i = 1; i < length; ++i)
                word += QChar(u'a' + random.bounded(26));
        }
        if (seen.contains(word.toLower()))
            continue;
        seen.insert(word.toLower());
        out.append(word);
    }
    return out;
}

Diagnostics::Context meeting(int scale)
{
    QRandomGenerator random(15);
    const QStringList capitalised = names(2000 * scale, random);
    const QStringList plain = {
        QStringLiteral("we"),      QStringLiteral("should"),  QStringLiteral("look"),   QStringLiteral("at"),
        QStringLiteral("the"),     QStringLiteral("latency"), QStringLiteral("numbers"), QStringLiteral("for"),
        QStringLiteral("next"),    QStringLiteral("quarter"), QStringLiteral("and"),    QStringLiteral("model"),
        QStringLiteral("pricing"), QStringLiteral("with"),    QStringLiteral("team"),   QStringLiteral("about"),
    };

    Diagnostics::Context c;
    c.name = QStringLiteral("2026-01-05 09.00.00");
    c.version = QStringLiteral("1.4.0");
    c.minutes = 180.0 * scale;
    c.settings = {{QStringLiteral("显示"), QStringLiteral("中英")}, {QStringLiteral("说话人"), QStringLiteral("开")}};
    c.stats = {{QStringLiteral("翻译请求"), QStringLiteral("5123 次")}, {QStringLiteral("识别计费"), QStringLiteral("171.2 分钟")}};

    const int lines = 5000 * scale;
    for (int i = 0; i < lines; ++i) {
        Diagnostics::Line line;
        const int seconds = i * 2;
        line.time = QString::asprintf("%02d:%02d:%02d", (9 + seconds / 3600) % 24, seconds / 60 % 60, seconds % 60);
        QStringList words;
        const int length = 3 + random.bounded(16);
        for (int w = 0; w < length; ++w) {
            if (w > 0 && random.bounded(5) == 0)
                words.append(capitalised[random.bounded(capitalised.size())]);
            else
                words.append(plain[random.bounded(plain.size())]);
        }
        // Mostly English, with a few stray lines of other languages.
        line.language = i % 20 == 19 ? QStringLiteral("other") : QStringLiteral("en");
        line.source = words.join(u' ') + (i % 9 == 0 ? QString() : QStringLiteral("."));
        line.translation = QStringLiteral("我们应该看一下下个季度的延迟数字和模型的价格，以及团队的安排。");
        if (i % 30 == 0)
            line.translation += QStringLiteral("pricing");
        line.latency = 0.8 + random.bounded(40) / 10.0;
        line.sourceFixed = i % 40 == 0;
        line.translationFixed = i % 25 == 0;
        line.proofreadNote = line.sourceFixed || line.translationFixed ? QStringLiteral("改了一个词") : QString();
        if (i % 60 == 0)
            line.fixedWords = {capitalised[random.bounded(capitalised.size())]};
        c.lines.append(line);
    }

    // About 300 bytes of JSON per event: an English text and its translation.
    const QString english = QStringLiteral("we should look at the latency numbers for next quarter and the model pricing");
    const QString chinese = QStringLiteral("我们应该看一下下个季度的延迟数字和模型的价格以及团队的安排好吗，还有下周会议的时间和地点");
    const int events = 30000 * scale;
    for (int i = 0; i < events; ++i) {
        DiagnosticEvent e;
        e.t = i * 0.36;
        e.kind = kKinds[i % 10 == 0 ? random.bounded(kKinds.size()) : random.bounded(3)];
        e.fields = {{QStringLiteral("text"), english + QString::number(i)}, {QStringLiteral("zh"), chinese},
                    {QStringLiteral("id"), QString::number(i)}};
        if (e.kind == QLatin1String("research_unparsed"))
            e.fields.insert(QStringLiteral("reply"), english + english);
        c.events.append(e);
    }
    for (int i = 0; i < 40 * scale; ++i)
        c.researchNames.append(capitalised[random.bounded(capitalised.size())] + QStringLiteral(" Labs"));
    c.notes = {QStringLiteral("Tarvick 是公司名"), QStringLiteral("会议主题：预算")};
    return c;
}

QList<Diagnostics::Finding> findingsOf(const Diagnostics::Context &c)
{
    return Diagnostics::findings(c.lines, c.researchNames, {}, c.events, 4.0);
}

void BM_Findings(benchmark::State &state)
{
    const Diagnostics::Context c = meeting(int(state.range(0)));
    qsizetype found = 0;
    for (auto _ : state) {
        const QList<Diagnostics::Finding> findings = findingsOf(c);
        found = findings.size();
        benchmark::DoNotOptimize(findings);
    }
    state.counters["findings"] = double(found);
}
BENCHMARK(BM_Findings)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_Jsonl(benchmark::State &state)
{
    const Diagnostics::Context c = meeting(int(state.range(0)));
    for (auto _ : state) {
        const QString text = DiagnosticLog::jsonl(c.events);
        benchmark::DoNotOptimize(text);
    }
    const qsizetype bytes = DiagnosticLog::jsonl(c.events).toUtf8().size();
    state.counters["bytes/event"] = double(bytes) / double(c.events.size());
}
BENCHMARK(BM_Jsonl)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_Report(benchmark::State &state)
{
    const Diagnostics::Context c = meeting(int(state.range(0)));
    const QList<Diagnostics::Finding> findings = findingsOf(c);
    for (auto _ : state) {
        const QString text = Diagnostics::report(c, findings, QString());
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_Report)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// Everything the main thread does after the meeting: the findings, then the
// four files through the writer (each write waits for the writer's queue),
// with twenty earlier summaries in the folder.
void BM_WholeWrite(benchmark::State &state)
{
    const Diagnostics::Context c = meeting(int(state.range(0)));
    QTemporaryDir temp;
    TranscriptWriter writer(QDir(temp.path()).filePath(QStringLiteral("泰萨利字幕记录")));
    for (int i = 0; i < 20; ++i) {
        const QString name = QStringLiteral("2025-12-%1 09.00.00").arg(i + 1, 2, 10, QLatin1Char('0'));
        writer.writeDiagnostic(name + QStringLiteral(" 诊断.json"),
                               Diagnostics::summaryJSON(name, c.version, 60, 1000, Diagnostics::counts({})));
    }
    for (auto _ : state) {
        if (!DiagnosticFiles::write(writer, c, findingsOf(c)))
            state.SkipWithError("write failed");
    }
}
BENCHMARK(BM_WholeWrite)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
