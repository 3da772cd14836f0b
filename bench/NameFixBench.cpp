// The sound-alike correction chain over a synthetic three-hour meeting: 5,000 English caption
// lines, one in ten with a misheard name, against 30 two-word names, term aliases and 20
// research corrections, with the real Hunspell dictionary as the word test. After each research
// result the model corrects the last 150 shown lines again on the main thread, so a line must
// cost well under a frame's share; the cost must not grow with the meeting.
#include "intelligence/NameFix.h"
#include "platform/SpellChecker.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <random>
#include <vector>

namespace {

const QStringList vocabulary = QString::fromUtf8(
    "we need to look at the budget for next quarter because numbers from marketing are higher than "
    "expected and the team wants to hire two more engineers before launch in spring so let me share "
    "slides about customer feedback retention pricing roadmap platform migration which should finish "
    "by the end of june if vendor delivers on time I think our partners agree that clinical results "
    "were promising although regulators asked for additional safety data and a larger study across "
    "several hospitals with patients who received treatment over twelve months everyone please review "
    "document before tomorrow meeting where we discuss strategy competition revenue growth forecast")
                                  .split(u' ');

const QStringList firstNames{"Anna", "Mark", "Jose", "Liam", "Emma", "Noah", "Ivan", "Omar", "Yuki", "Lena"};
const QStringList syllables{"tar", "vick", "vel", "mor", "dane", "kess", "lor", "bran", "quin", "zel",
                            "hart", "wex", "tol", "ried", "sand", "mir", "ost", "var", "gund", "pell"};

struct Meeting {
    QStringList names;
    QList<NameFix::Change> fixes;
    QStringList targets;
    QStringList lines;
};

QString capitalised(QString word)
{
    word[0] = word[0].toUpper();
    return word;
}

// One letter inside the word replaced: what the recogniser writes for a name it does not know.
QString misheard(const QString &word, std::mt19937 &rng)
{
    QString out = word;
    const qsizetype at = 1 + qsizetype(rng() % uint32_t(word.size() - 2));
    const QChar replacement = QChar(u'a' + char16_t(rng() % 26));
    out[at] = replacement == out[at].toLower() ? QChar(u'x') : replacement;
    return out;
}

Meeting syntheticMeeting()
{
    std::mt19937 rng(2026);
    Meeting meeting;
    QStringList lastNames;
    while (lastNames.size() < 30) {
        const QString last = capitalised(syllables[rng() % 20] + syllables[rng() % 20] + syllables[rng() % 20]);
        if (!lastNames.contains(last))
            lastNames.append(last);
    }
    for (int i = 0; i < 30; ++i)
        meeting.names.append(firstNames[i % firstNames.size()] + u' ' + lastNames[i]);
    QStringList aliases;
    for (int i = 0; i < 10; ++i)
        aliases.append(capitalised(syllables[(i * 3) % 20] + syllables[(i * 7 + 1) % 20] + QStringLiteral("ide")));
    for (int i = 0; i < 20; ++i) {
        // Two misheard spellings of each of ten names.
        const int k = i % 10;
        const QString correct = capitalised(syllables[(k * 5 + 2) % 20] + syllables[(k * 3 + 4) % 20])
            + QStringLiteral(" Labs");
        meeting.fixes.append({misheard(correct.section(u' ', 0, 0), rng) + QStringLiteral(" Labs"), correct});
    }
    meeting.targets = NameFix::targets(meeting.names) + aliases;
    for (const NameFix::Change &fix : meeting.fixes)
        if (!meeting.targets.contains(fix.correct))
            meeting.targets.append(fix.correct);
    const QStringList knownWords = NameFix::targets(meeting.names) + aliases;

    std::uniform_int_distribution<int> length(14, 30);
    for (int i = 0; i < 5000; ++i) {
        QStringList words;
        const int n = length(rng);
        for (int w = 0; w < n; ++w)
            words.append(vocabulary[rng() % uint32_t(vocabulary.size())]);
        if (i % 10 == 3) {
            const int kind = int(rng() % 3);
            const qsizetype at = qsizetype(rng() % uint32_t(words.size()));
            if (kind == 0)
                words[at] = misheard(knownWords[rng() % uint32_t(knownWords.size())], rng);
            else if (kind == 1)
                words[at] = meeting.names[rng() % 30].toLower();
            else
                words[at] = meeting.fixes[rng() % 20].heard.toLower();
        } else if (i % 10 == 7) {
            words[qsizetype(rng() % uint32_t(words.size()))] = knownWords[rng() % uint32_t(knownWords.size())];
        }
        meeting.lines.append(capitalised(words.join(u' ')) + u'.');
    }
    return meeting;
}

// Microseconds of this thread's processor time: on a busy shared machine the wall clock also
// counts the time other processes held the processor.
double threadMicros()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

double percentile(std::vector<double> samples, double p)
{
    std::sort(samples.begin(), samples.end());
    return samples[size_t(p * double(samples.size() - 1))];
}

double mean(const std::vector<double> &samples)
{
    double sum = 0;
    for (double sample : samples)
        sum += sample;
    return sum / double(samples.size());
}

SpellChecker &dictionary()
{
    static SpellChecker *checker = [] {
        auto *c = new SpellChecker;
        QEventLoop loop;
        QObject::connect(c, &SpellChecker::loaded, &loop, &QEventLoop::quit);
        c->load();
        loop.exec();
        return c;
    }();
    return *checker;
}

void correctionChain(benchmark::State &state)
{
    const Meeting meeting = syntheticMeeting();
    SpellChecker &checker = dictionary();
    if (!checker.isLoaded()) {
        state.SkipWithError("the en_US dictionary did not load");
        return;
    }
    const NameFix::WordTest isWord = [&checker](const QString &word) { return checker.isWord(word); };
    std::vector<double> costs;
    size_t changed = 0;
    for (auto _ : state) {
        costs.clear();
        changed = 0;
        for (const QString &line : meeting.lines) {
            const double start = threadMicros();
            const NameFix::Result result =
                NameFix::correctionChain(line, meeting.names, meeting.fixes, meeting.targets, isWord);
            costs.push_back(threadMicros() - start);
            changed += result.changes.isEmpty() ? 0 : 1;
        }
    }
    const auto block = [&](size_t from) { return std::vector<double>(costs.begin() + long(from), costs.begin() + long(from + 1000)); };
    state.counters["targets"] = double(meeting.targets.size());
    state.counters["changed_lines"] = double(changed);
    state.counters["first_mean_us"] = mean(block(0));
    state.counters["first_p99_us"] = percentile(block(0), 0.99);
    state.counters["middle_mean_us"] = mean(block(2000));
    state.counters["middle_p99_us"] = percentile(block(2000), 0.99);
    state.counters["last_mean_us"] = mean(block(4000));
    state.counters["last_p99_us"] = percentile(block(4000), 0.99);
    state.counters["last_over_first"] = mean(block(4000)) / mean(block(0));
}

void spellCheck(benchmark::State &state)
{
    SpellChecker &checker = dictionary();
    qsizetype i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(checker.isWord(vocabulary[i++ % vocabulary.size()]));
}

}

BENCHMARK(correctionChain)->Iterations(3)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(spellCheck);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
