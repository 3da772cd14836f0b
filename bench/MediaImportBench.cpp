// The media import's heavy parts. Goals: sound extraction at least 200x realtime on one core
// (a one-hour 44.1 kHz stereo speech MP3, and the same sound as WAV); peak memory growth while
// assembling and uploading a 500 MB file under 32 MB and within 8 MB of a 50 MB file's; cue
// building with both documents for 10,000 mixed words under 30 ms, and 100,000 words in at most
// 11 times that.
#include "fakes/FakeSpeechToTextServer.h"
#include "fakes/MediaFixtures.h"
#include "platform/AudioExtractor.h"
#include "records/MediaImporter.h"
#include "records/Subtitles.h"
#include "accounts/KeyCheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <sched.h>

namespace {

// The one-hour inputs, made once with espeak-ng and libmp3lame and kept in the cache folder.
QString cachedInput(const QString &name)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
        + QStringLiteral("/dodedarov-bench");
    const QString path = folder + u'/' + name;
    if (QFile::exists(path))
        return path;
    QDir().mkpath(folder);
    const QString wav = MediaFixtures::speechWav(folder + QStringLiteral("/speech.wav"), QStringLiteral(
        "Good morning everyone. Today we review the quarterly results, the product roadmap and the "
        "hiring plan for the next two quarters. Please hold your questions until the end."));
    const auto speech = MediaFixtures::readWav(wav);
    if (!speech)
        return {};
    const bool mp3 = name.endsWith(QStringLiteral(".mp3"));
    const MediaFixtures::Encoding encoding = mp3
        ? MediaFixtures::Encoding{"mp3", "libmp3lame", 44100, 2, 128000, false, 0}
        : MediaFixtures::Encoding{"wav", "pcm_s16le", 44100, 2, 0, false, 0};
    const QString partial = path + QStringLiteral(".part");
    if (!MediaFixtures::write(partial, 44100, 2, MediaFixtures::loop(*speech, 3600, 44100, 2), encoding))
        return {};
    QFile::rename(partial, path);
    return path;
}

void pinToOneCore()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(sched_getcpu(), &set);
    sched_setaffinity(0, sizeof(set), &set);
}

void extraction(benchmark::State &state, const QString &name)
{
    const QString input = cachedInput(name);
    if (input.isEmpty()) {
        state.SkipWithError("could not make the input");
        return;
    }
    pinToOneCore();
    QTemporaryDir work;
    const std::atomic_bool cancelled{false};
    double media = 0;
    double wall = 0;
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        const auto result = AudioExtractor::extract(input, work.path(), cancelled);
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (!result) {
            state.SkipWithError("extraction failed");
            return;
        }
        media += result->duration;
        QFile::remove(result->path);
    }
    state.counters["realtime_x"] = media / wall;
}

void BM_ExtractHourMp3(benchmark::State &state)
{
    extraction(state, QStringLiteral("speech-1h-44k-stereo.mp3"));
}
BENCHMARK(BM_ExtractHourMp3)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void BM_ExtractHourWav(benchmark::State &state)
{
    extraction(state, QStringLiteral("speech-1h-44k-stereo.wav"));
}
BENCHMARK(BM_ExtractHourWav)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

qint64 statusKilobytes(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').front().toLongLong();
    }
    return -1;
}

// Peak resident memory growth over one upload of a file of the given size to the loopback fake
// (body assembly, the post streamed from disk, and the fake's streaming parse included).
void BM_UploadMemory(benchmark::State &state)
{
    const qint64 size = state.range(0) * 1024 * 1024;
    QTemporaryDir folder;
    const QString audio = folder.filePath(QStringLiteral("big.m4a"));
    {
        QFile file(audio);
        if (!file.open(QIODevice::WriteOnly)) {
            state.SkipWithError("cannot write the input");
            return;
        }
        const QByteArray block(1024 * 1024, '\x42');
        for (qint64 written = 0; written < size; written += block.size())
            file.write(block);
    }
    FakeSpeechToTextServer server;
    server.listen();
    server.expectedKey = "bench-key";
    KeyCheck::elevenLabsAddress = server.baseUrl();
    qint64 growth = 0;
    for (auto _ : state) {
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        if (clear.open(QIODevice::WriteOnly)) {
            clear.write("5");
            clear.close();
        }
        const qint64 before = statusKilobytes("VmHWM");
        bool done = false;
        QString error;
        MediaImporter::upload(audio, QStringLiteral("bench-key"), {}, false, folder.path(),
                              [&](const MediaImporter::UploadResult &result) {
                                  done = true;
                                  if (result.error)
                                      error = result.error->message;
                              });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        growth = statusKilobytes("VmHWM") - before;
        if (!error.isEmpty()) {
            state.SkipWithError(error.toUtf8().constData());
            return;
        }
        for (const QString &body : QDir(folder.path()).entryList({QStringLiteral("upload-*")}))
            QFile::remove(folder.filePath(body));
    }
    state.counters["peak_growth_MB"] = double(growth) / 1024.0;
}
BENCHMARK(BM_UploadMemory)->Arg(50)->Arg(500)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// Mixed English and Chinese words with pauses, speaker turns and sentence ends.
QList<Subtitles::Word> mixedWords(int count)
{
    static const QStringList english{"we", "review", "the", "quarterly", "results,", "and", "roadmap."};
    static const QStringList chinese{"我们", "今天", "讨论", "预算，", "还有", "招聘", "计划。"};
    QList<Subtitles::Word> words;
    words.reserve(count);
    double at = 0;
    for (int i = 0; i < count; ++i) {
        const bool han = (i / 50) % 2 == 1;
        const QString &text = han ? chinese.at(i % chinese.size()) : english.at(i % english.size());
        const QString speaker = QStringLiteral("speaker_%1").arg((i / 120) % 3);
        words.append({text, at, at + 0.3, speaker});
        at += (i % 97 == 0) ? 1.2 : 0.35;
    }
    return words;
}

void BM_CuesAndDocuments(benchmark::State &state)
{
    const QList<Subtitles::Word> words = mixedWords(int(state.range(0)));
    for (auto _ : state) {
        QList<Subtitles::Cue> cues = Subtitles::cues(words, 6.0, 84, 32);
        benchmark::DoNotOptimize(Subtitles::srt(cues, true));
        benchmark::DoNotOptimize(Subtitles::transcript(cues, QStringLiteral("talk.mp4")));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CuesAndDocuments)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

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
