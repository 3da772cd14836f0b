// A 10,000-character answer streamed into the chat window in 2-character pieces, each applied
// through the view's update entry point and followed by the event processing that lays out
// and paints it. Reported: the mean cost per piece over the first 1,000 and the last 1,000
// pieces. Goal: under 1 ms per piece, and the last 1,000 no more than 1.5 times the first:
// the cost of a piece must not grow with the answer.
#include "OffscreenBenchmarks.h"

#include "fakes/ModelRig.h"
#include "shell/chat/ChatView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <benchmark/benchmark.h>

namespace {

// Chinese mixed with English, a line break every 60 to 200 characters, bold and code marks.
QString answerText(int length)
{
    static const QStringList pieces = {
        QStringLiteral("讲者认为"), QStringLiteral("这项研究的样本量不大，"), QStringLiteral("但是结论"),
        QStringLiteral("与之前的 meta-analysis 一致。"), QStringLiteral(" the primary endpoint "),
        QStringLiteral("**主要终点**"), QStringLiteral("`p < 0.05`"), QStringLiteral("在 23:28 左右提到"),
        QStringLiteral(" hazard ratio 0.82，"), QStringLiteral("随访两年；"), QStringLiteral("*存疑*的地方是"),
        QStringLiteral(" SYNCHRONOUS trial "), QStringLiteral("的入组标准。"),
    };
    QRandomGenerator random(20260504);
    QString text;
    int nextBreak = 60 + int(random.bounded(141));
    while (text.size() < length) {
        text += pieces.at(int(random.bounded(qsizetype(pieces.size()))));
        if (text.size() >= nextBreak) {
            text += u'\n';
            nextBreak = int(text.size()) + 60 + int(random.bounded(141));
        }
    }
    text.truncate(length);
    return text;
}

void BM_ChatStreamedAnswer(benchmark::State &state)
{
    constexpr int length = 10000;
    constexpr int step = 2;
    constexpr int window = 1000;
    const QString answer = answerText(length);
    double firstMs = 0;
    double lastMs = 0;
    for (auto _ : state) {
        ModelRig rig;
        AppModel &model = rig.make();
        ChatView view(model);
        view.resize(520, 640);
        view.show();
        ChatView::State shown;
        shown.canChat = true;
        shown.busy = true;
        shown.messages = {ChatMessage {0, true, QStringLiteral("讲者的主要观点和证据是什么？"), false, false},
                          ChatMessage {1, false, QString(), true, false}};
        view.apply(shown);
        QCoreApplication::processEvents();

        QList<qint64> costs;
        QElapsedTimer timer;
        for (int at = 0; at < length; at += step) {
            shown.messages[1].text = answer.left(at + step);
            timer.start();
            view.apply(shown);
            QCoreApplication::processEvents();
            costs.append(timer.nsecsElapsed());
        }
        qint64 first = 0;
        qint64 last = 0;
        for (int i = 0; i < window; ++i) {
            first += costs.at(i);
            last += costs.at(costs.size() - window + i);
        }
        firstMs = double(first) / window / 1e6;
        lastMs = double(last) / window / 1e6;
    }
    state.counters["first1000_ms"] = firstMs;
    state.counters["last1000_ms"] = lastMs;
    state.counters["last_over_first"] = lastMs / firstMs;
}
BENCHMARK(BM_ChatStreamedAnswer)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return runOffscreenBenchmarks(argc, argv);
}
