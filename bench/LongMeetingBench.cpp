// A synthetic three-hour meeting through the whole application on the offscreen platform: the
// meeting model with its 0.25 s tick, the caption panel with its history view, the debounced
// record saves, research results every 2.5 minutes with corrections of shown lines, and a note
// every 10 minutes. 5,000 sentences arrive as 30,000 partials and 5,000 commits through the
// engine's callbacks; their translations stream as 60,000 pieces through the translator's
// handlers, flushed every 0.1 s. Time is simulated: the meeting runs as fast as the main
// thread manages, one 50 ms slice per turn of the event loop.
//
// Reported: resident memory every simulated 10 minutes (goal: under 150 MB at the end, under
// 10 MB of growth over the last hour), and the longest block of the main event loop, seen by a
// precise timer as how late it fires, with the work that ran in that window (goal: never over
// 50 ms, the end of the meeting included). Beside it, the machine's own stalls (a thread that
// sleeps a millisecond at a time and notes late wake-ups) and the worst block whose window holds
// none of them.

#include "MemoryKeyring.h"

#include "common/Clock.h"
#include "display/CaptionMetrics.h"
#include "display/CaptionPanel.h"
#include "display/CaptionPanelController.h"
#include "fakes/ModelRig.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QMetaEnum>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <ctime>
#include <malloc.h>
#include <pthread.h>
#include <sched.h>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>
#include <unistd.h>

namespace {

constexpr double kSlice = 0.05;               // simulated seconds per turn of the loop
constexpr double kMeetingSeconds = 3 * 3600.0;
constexpr int kSentences = 5000;
constexpr double kSentenceSeconds = kMeetingSeconds / kSentences;
constexpr int kPartials = 6;                  // per sentence, 0.3 s apart
constexpr int kPieces = 12;                   // streamed pieces per translation
constexpr double kSampleEvery = 600.0;
constexpr double kResearchEvery = 150.0;
constexpr double kNoteEvery = 600.0;

double residentMB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2)
        return 0;
    return fields.at(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// What the allocator has handed out and not taken back, live data only: set against the
// resident size it tells growth of what is kept from memory the allocator holds on to.
double heapInUseMB()
{
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

double threadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// The machine's own stalls. A thread that sleeps a millisecond at a time and notes each wake-up
// that came more than `thresholdMs` late: on a shared or virtual machine a processor can stop
// for tens of milliseconds, and that time is even counted as the running thread's own
// processor time. The thread and the main thread are held on one processor, so a stall of that
// processor delays both, while the main thread's own work does not hold up a thread that only
// wakes for a moment. A late firing of the main loop's timer whose window holds such a stall is
// the machine's as much as the application's; the report names the worst firing without one.
class MachineStalls final {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr double thresholdMs = 5;

    MachineStalls()
    {
        const int processor = sched_getcpu();
        if (processor >= 0) {
            CPU_ZERO(&m_processor);
            CPU_SET(processor, &m_processor);
            m_pinned = pthread_setaffinity_np(pthread_self(), sizeof m_processor, &m_processor) == 0;
        }
        m_thread = std::thread([this] { run(); });
    }
    ~MachineStalls()
    {
        m_stop = true;
        m_thread.join();
    }
    MachineStalls(const MachineStalls &) = delete;
    MachineStalls &operator=(const MachineStalls &) = delete;

    bool stalledDuring(Clock::time_point from, Clock::time_point to) const
    {
        const std::lock_guard lock(m_mutex);
        for (auto it = m_stalls.rbegin(); it != m_stalls.rend(); ++it) {
            if (it->second < from)
                break; // older ones end earlier still
            if (it->first < to)
                return true;
        }
        return false;
    }
    double worstMs() const
    {
        const std::lock_guard lock(m_mutex);
        return m_worstMs;
    }
    qsizetype count() const
    {
        const std::lock_guard lock(m_mutex);
        return qsizetype(m_stalls.size());
    }

private:
    void run()
    {
        if (m_pinned)
            pthread_setaffinity_np(pthread_self(), sizeof m_processor, &m_processor);
        while (!m_stop) {
            const Clock::time_point before = Clock::now();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const Clock::time_point after = Clock::now();
            const double late = std::chrono::duration<double, std::milli>(after - before).count() - 1;
            if (late > thresholdMs) {
                const std::lock_guard lock(m_mutex);
                m_stalls.emplace_back(before, after);
                m_worstMs = std::max(m_worstMs, late);
            }
        }
    }

    mutable std::mutex m_mutex;
    std::vector<std::pair<Clock::time_point, Clock::time_point>> m_stalls;
    double m_worstMs = 0;
    cpu_set_t m_processor {};
    bool m_pinned = false;
    std::atomic<bool> m_stop = false;
    std::thread m_thread;
};

// The longest block of the main event loop: a precise timer that notes how late it fires.
// Between two firings the replay reports each piece of work it ran; the longest of them is
// named as the cause when the timer was late.
class StallWatch final {
public:
    static constexpr int intervalMs = 10;

    explicit StallWatch(const MachineStalls &machine) : m_machine(machine)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(intervalMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { fired(); });
    }

    void start()
    {
        m_clock.start();
        m_last = 0;
        m_lastFiring = MachineStalls::Clock::now();
        m_lastCpu = threadCpuMs();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }

    // `inWindow` false: counted in the table only, never named as a cause (a sum of others).
    void note(const std::string &what, double ms, bool inWindow = true)
    {
        if (inWindow && ms > m_windowMs) {
            m_windowMs = ms;
            m_window = what;
        }
        Worst &worst = m_byKind[what];
        worst.ms = std::max(worst.ms, ms);
        worst.total += ms;
        worst.count += 1;
    }

    double worstMs() const { return m_worstMs; }
    // The same on the main thread's own processor time: what remains of a late firing when
    // the time the thread waited for a processor on a busy machine is taken out.
    double worstCpuMs() const { return m_worstCpuMs; }
    const QString &worstCpuCause() const { return m_worstCpuCause; }
    const QString &worstCause() const { return m_worstCause; }
    // The worst late firing whose window holds no stall of the machine.
    double worstOwnMs() const { return m_worstOwnMs; }
    const QString &worstOwnCause() const { return m_worstOwnCause; }
    void setMeetingSecond(double second) { m_meetingSecond = second; }

    void printKinds() const
    {
        std::fprintf(stderr, "%-44s %10s %10s %10s\n", "work on the main thread", "count", "mean ms", "max ms");
        for (const auto &[what, worst] : m_byKind)
            std::fprintf(stderr, "%-44s %10lld %10.3f %10.2f\n", what.c_str(), worst.count,
                         worst.total / double(std::max<long long>(1, worst.count)), worst.ms);
    }

private:
    struct Worst {
        double ms = 0;
        double total = 0;
        long long count = 0;
    };

    void fired()
    {
        const qint64 now = m_clock.nsecsElapsed();
        const double late = double(now - m_last) / 1e6 - intervalMs;
        const double cpu = threadCpuMs();
        const double busy = cpu - m_lastCpu;
        m_last = now;
        m_lastCpu = cpu;
        const QString cause = QStringLiteral("%1 (%2 ms) at minute %3")
                                  .arg(QString::fromStdString(m_window))
                                  .arg(m_windowMs, 0, 'f', 1)
                                  .arg(m_meetingSecond / 60, 0, 'f', 0);
        if (late > m_worstMs) {
            m_worstMs = late;
            m_worstCause = cause;
        }
        if (busy > m_worstCpuMs) {
            m_worstCpuMs = busy;
            m_worstCpuCause = cause;
        }
        const MachineStalls::Clock::time_point firing = MachineStalls::Clock::now();
        if (late > m_worstOwnMs && !m_machine.stalledDuring(m_lastFiring, firing)) {
            m_worstOwnMs = late;
            m_worstOwnCause = cause;
        }
        m_lastFiring = firing;
        m_windowMs = 0;
        m_window.clear();
    }

    const MachineStalls &m_machine;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    MachineStalls::Clock::time_point m_lastFiring;
    double m_worstOwnMs = 0;
    QString m_worstOwnCause;
    double m_windowMs = 0;
    std::string m_window;
    double m_worstMs = 0;
    QString m_worstCause;
    double m_lastCpu = 0;
    double m_worstCpuMs = 0;
    QString m_worstCpuCause;
    double m_meetingSecond = 0;
    std::map<std::string, Worst> m_byKind;
};

// Every event the loop delivers, timed and named by its receiver's class and the event's type:
// the work between two slices of the replay (view refreshes, paints, queued results, the
// loopback fakes) and after the meeting's end. Nested deliveries count in the outer one.
class TimedApplication final : public QApplication {
public:
    using QApplication::QApplication;

    StallWatch *watch = nullptr;
    QObject *driver = nullptr; // the replay's own timer; its slices are timed piece by piece

    bool notify(QObject *receiver, QEvent *event) override
    {
        // Other threads (the writer's queue, the network's) deliver their own events.
        if (QThread::currentThread() != thread())
            return QApplication::notify(receiver, event);
        if (m_depth > 0 || !watch || receiver == driver)
            return deliver(receiver, event);
        // Named before delivery: a deferred delete or a queued call may end the receiver.
        const char *type = QMetaEnum::fromType<QEvent::Type>().valueToKey(event->type());
        const std::string what = std::string(receiver->metaObject()->className()) + " " + (type ? type : "event");
        QElapsedTimer clock;
        clock.start();
        const bool result = deliver(receiver, event);
        watch->note(what, double(clock.nsecsElapsed()) / 1e6);
        return result;
    }

private:
    bool deliver(QObject *receiver, QEvent *event)
    {
        m_depth += 1;
        const bool result = QApplication::notify(receiver, event);
        m_depth -= 1;
        return result;
    }

    int m_depth = 0;
};

// A translation request the translator made; the replay streams its answer piece by piece.
struct OpenCall {
    DeepSeekTransport::DeltaHandler onDelta;
    DeepSeekTransport::FinishHandler onFinish;
    QStringList pieces;
    int sent = 0;
};

// A translation of the newest sentence in a request, in pieces of a few characters as the
// service streams them; its item number matches the sentence's, so the number check passes.
QStringList answerPieces(const QByteArray &body)
{
    static const QRegularExpression item(QStringLiteral("item (\\d+)"));
    int newest = 0;
    for (const QRegularExpressionMatch &match : item.globalMatch(QString::fromUtf8(body)))
        newest = std::max(newest, match.captured(1).toInt());
    const QString text = QStringLiteral("我们看了第三季度的数字，团队认为计划仍然可行，但市场预算还要再审一遍，第%1项。").arg(newest);
    QStringList pieces;
    const qsizetype size = (text.size() + kPieces - 1) / kPieces;
    for (qsizetype at = 0; at < text.size(); at += size)
        pieces.append(text.mid(at, size));
    return pieces;
}

const QStringList &words()
{
    static const QStringList list = QStringLiteral(
        "we looked at the numbers for the third quarter and the team thinks the plan still works "
        "but the budget for marketing needs another review before the board meets in spring "
        "so doctor Tarvik will send the figures on latency and throughput to everyone after lunch")
                                        .split(u' ');
    return list;
}

QString sentence(int unit, int wordsSoFar)
{
    const QStringList &list = words();
    QStringList out;
    for (int i = 0; i < wordsSoFar; ++i)
        out.append(list.at((unit * 7 + i) % list.size()));
    return out.join(u' ');
}

ResearchResult researchPass(int pass)
{
    ResearchResult result;
    result.domain = pass < 20 ? QStringLiteral("季度预算与市场计划") : QStringLiteral("机器学习系统的延迟与吞吐量");
    result.names = {QStringLiteral("Tarvick"), QStringLiteral("Oberth"), QStringLiteral("Speaker%1").arg(pass)};
    result.terms = {GlossaryEntry(QStringLiteral("throughput"), QStringLiteral("吞吐量")),
                    GlossaryEntry(QStringLiteral("term %1").arg(pass), QStringLiteral("术语%1").arg(pass))};
    result.fixes = {ResearchResult::Fix{QStringLiteral("Tarvik"), QStringLiteral("Tarvick")}};
    return result;
}

// One meeting, played slice by slice from inside the event loop.
class Replay final {
public:
    Replay(ModelRig &rig, AppModel &model, StallWatch &watch) : m_rig(rig), m_model(model), m_watch(watch)
    {
        m_start = rig.now;
        m_wallStart = rig.wallNow;
        model.translator().streamer = [this](const QByteArray &body, const QString &,
                                             DeepSeekTransport::DeltaHandler onDelta,
                                             DeepSeekTransport::FinishHandler onFinish) {
            m_calls.push_back(OpenCall{std::move(onDelta), std::move(onFinish), answerPieces(body), 0});
            return DeepSeekTransport::Call();
        };
    }

    struct Sample {
        double minute;
        double mb;
        double heapMB;
    };
    std::vector<Sample> samples;
    long long partials = 0;
    long long commits = 0;
    long long pieces = 0;
    long long saves = 0;
    long long research = 0;
    long long notes = 0;
    bool withSaves = true;

    // One slice; false once the meeting is over.
    bool slice()
    {
        const double gapMs = sinceLastSlice();
        if (gapMs >= 0)
            m_watch.note("whole turn of the loop between two slices", gapMs, false);
        const double t = (m_step + 1) * kSlice;
        m_step += 1;
        m_rig.now = m_start + t;
        m_rig.wallNow = m_wallStart.addMSecs(qint64(t * 1000));
        m_watch.setMeetingSecond(t);

        speech(t);
        if (crossed(t, m_rig.platform.timings.tickInterval))
            timed("tick (recap, research, pipeline)", [&] { m_rig.tick(); });
        stream();
        if (withSaves && crossed(t, 1.0))
            timed("debounced record save", [&] { saves += m_rig.saveIfPending() ? 1 : 0; });
        if (crossed(t, kResearchEvery)) {
            const ResearchResult result = researchPass(int(research));
            timed("research result with corrections", [&] {
                m_model.absorbResearch(result, true, QStringLiteral("研究"));
            });
            research += 1;
        }
        if (crossed(t - kNoteEvery / 2, kNoteEvery)) {
            const QString text = QStringLiteral("记一下：Oberth 负责第%1季度的预算，Tarvick 负责延迟测试").arg(notes + 1);
            timed("note", [&] { m_model.submitNote(text, false); });
            notes += 1;
        }
        if (m_step == 1 || crossed(t, kSampleEvery))
            samples.push_back({t / 60, residentMB(), heapInUseMB()});
        m_sliceEnd.start();
        return t < kMeetingSeconds;
    }

private:
    template <typename Work>
    void timed(const char *what, Work &&work)
    {
        QElapsedTimer clock;
        clock.start();
        work();
        m_watch.note(what, double(clock.nsecsElapsed()) / 1e6);
    }

    double sinceLastSlice() const
    {
        return m_sliceEnd.isValid() ? double(m_sliceEnd.nsecsElapsed()) / 1e6 : -1;
    }

    // Whether a multiple of `every` lies in the slice that ends at `t`.
    static bool crossed(double t, double every)
    {
        if (t < 0)
            return false;
        return std::floor((t + 1e-9) / every) != std::floor((t - kSlice + 1e-9) / every);
    }

    void speech(double t)
    {
        const int unit = int((t - 1e-9) / kSentenceSeconds);
        if (unit >= kSentences)
            return;
        if (unit != m_unit) {
            m_unit = unit;
            m_partialsSent = 0;
            m_committed = false;
        }
        const double into = t - unit * kSentenceSeconds;
        Engine::Callbacks &engine = m_model.engine().callbacks;
        if (m_partialsSent < kPartials && into + 1e-9 >= 0.3 * (m_partialsSent + 1)) {
            m_partialsSent += 1;
            const QString text = sentence(unit, 2 * m_partialsSent);
            timed("partial", [&] { engine.partial(text, std::nullopt); });
            partials += 1;
        } else if (!m_committed && into + 1e-9 >= 1.95) {
            m_committed = true;
            const QString text = sentence(unit, 2 * kPartials + 2) + QStringLiteral(", item %1.").arg(unit);
            timed("commit", [&] { engine.committed(text); });
            commits += 1;
        }
    }

    void stream()
    {
        bool flushed = false;
        for (auto it = m_calls.begin(); it != m_calls.end();) {
            OpenCall &call = *it;
            if (call.sent < call.pieces.size()) {
                const QString piece = call.pieces.at(call.sent);
                timed("streamed piece", [&] { call.onDelta(piece); });
                call.sent += 1;
                pieces += 1;
                if (call.sent % 2 == 0 && !flushed) {
                    flushed = true;
                    timed("delta flush", [&] { m_model.flushDeltas(); });
                }
                ++it;
                continue;
            }
            DeepSeekTransport::Outcome done;
            done.produced = true;
            const OpenCall finished = std::move(call);
            it = m_calls.erase(it);
            timed("translation finished", [&] {
                m_model.flushDeltas();
                finished.onFinish(done);
            });
        }
    }

    ModelRig &m_rig;
    AppModel &m_model;
    StallWatch &m_watch;
    double m_start = 0;
    QDateTime m_wallStart;
    long long m_step = 0;
    int m_unit = -1;
    int m_partialsSent = 0;
    bool m_committed = false;
    std::deque<OpenCall> m_calls;
    QElapsedTimer m_sliceEnd;
};

void BM_LongMeeting(benchmark::State &state)
{
    // For finding what grows: LONG_MEETING_WITHOUT=panel,saves leaves those parts out.
    const QStringList without = qEnvironmentVariable("LONG_MEETING_WITHOUT").split(u',');
    for (auto _ : state) {
        ModelRig rig;
        // The fake counts the requests it answers but keeps none: the memory is the app's.
        rig.deepSeek.keepRequests = false;
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-bench-long-meeting"));
        // The debounced save fires on the meeting's clock, a simulated second after a change.
        rig.platform.timings.saveDelay = 1e6;
        // Real glyph widths for the live rows, as the application's platform measures them.
        rig.platform.measurer = [](double fontSize) { return CaptionMetrics::measurer(fontSize); };
        AppModel &model = rig.make();
        // The research results arrive from the replay rather than from periodic requests.
        model.setResearchEnabled(false);
        std::optional<CaptionPanelController> panel;
        if (!without.contains(QStringLiteral("panel")))
            panel.emplace(&model);
        rig.beginMeeting();
        model.setRunningState(true);
        QCoreApplication::processEvents();

        MachineStalls machine;
        StallWatch watch(machine);
        Replay replay(rig, model, watch);
        replay.withSaves = !without.contains(QStringLiteral("saves"));
        QEventLoop loop;
        QTimer driver;
        auto *app = static_cast<TimedApplication *>(QCoreApplication::instance());
        app->watch = &watch;
        app->driver = &driver;
        driver.setInterval(0);
        QObject::connect(&driver, &QTimer::timeout, [&] {
            if (!replay.slice()) {
                driver.stop();
                loop.quit();
            }
        });
        watch.start();
        driver.start();
        loop.exec();

        // The end of the meeting: the engine's stop report, the record written at once, the
        // proofreading and the diagnostics that follow; the loop runs on for a while after.
        {
            QElapsedTimer clock;
            clock.start();
            model.endMeeting();
            model.engine().callbacks.stopped(std::nullopt);
            watch.note("end of the meeting (call)", double(clock.nsecsElapsed()) / 1e6);
        }
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
        watch.stop();
        app->watch = nullptr;
        const double endMB = residentMB();

        std::fprintf(stderr, "\n%8s %10s %12s\n", "minute", "RSS MB", "heap used MB");
        for (const Replay::Sample &sample : replay.samples)
            std::fprintf(stderr, "%8.0f %10.1f %12.1f\n", sample.minute, sample.mb, sample.heapMB);
        std::fprintf(stderr, "%8s %10.1f %12.1f\n", "ended", endMB, heapInUseMB());
        std::fprintf(stderr, "\nworst stall %.1f ms: %s\n", watch.worstMs(), qPrintable(watch.worstCause()));
        std::fprintf(stderr, "worst main-thread processor time between two firings %.1f ms: %s\n",
                     watch.worstCpuMs(), qPrintable(watch.worstCpuCause()));
        std::fprintf(stderr, "the machine stalled %lld times over %.0f ms, at worst %.1f ms; worst stall with no stall "
                             "of the machine in its window %.1f ms: %s\n\n",
                     static_cast<long long>(machine.count()), MachineStalls::thresholdMs, machine.worstMs(),
                     watch.worstOwnMs(), qPrintable(watch.worstOwnCause()));
        watch.printKinds();

        const Replay::Sample &last = replay.samples.back();
        double hourBefore = replay.samples.front().mb;
        for (const Replay::Sample &sample : replay.samples)
            if (sample.minute <= last.minute - 60 + 1e-6)
                hourBefore = sample.mb;
        state.counters["lines"] = double(model.lines().size());
        state.counters["partials"] = double(replay.partials);
        state.counters["commits"] = double(replay.commits);
        state.counters["pieces"] = double(replay.pieces);
        state.counters["saves"] = double(replay.saves);
        state.counters["research"] = double(replay.research);
        state.counters["notes"] = double(replay.notes);
        state.counters["rss_start_MB"] = replay.samples.front().mb;
        state.counters["rss_3h_MB"] = last.mb;
        state.counters["rss_last_hour_growth_MB"] = last.mb - hourBefore;
        state.counters["worst_stall_ms"] = watch.worstMs();
        state.counters["worst_stall_cpu_ms"] = watch.worstCpuMs();
        state.counters["worst_stall_own_ms"] = watch.worstOwnMs();
        state.counters["machine_worst_stall_ms"] = machine.worstMs();
        state.counters["fake_requests"] = double(rig.deepSeek.requestCount());
    }
}
BENCHMARK(BM_LongMeeting)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication app(argc, argv);
    useMemoryKeyring();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
