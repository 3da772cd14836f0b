// Sound extraction through the real FFmpeg libraries, on inputs made at test time: speech in
// several containers becomes 16 kHz mono AAC in an M4A file of the same length; inputs without
// sound, or that are not media at all, leave nothing behind.
#include "TestMain.h"

#include "fakes/MediaFixtures.h"
#include "platform/AudioExtractor.h"

#include <QDir>
#include <QScopeGuard>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

namespace {

// What the process writes to its stderr while `run` runs.
template<typename Run>
QByteArray stderrOf(Run run)
{
    QTemporaryFile capture;
    if (!capture.open())
        return "cannot capture stderr";
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(capture.handle(), STDERR_FILENO);
    run();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    capture.seek(0);
    return capture.readAll();
}

}

class AudioExtractorTest final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_inputs;
    double m_speechSeconds = 0;

    QString input(const QString &name) const { return m_inputs.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_inputs.isValid());
        const QString wav = MediaFixtures::speechWav(
            input(QStringLiteral("speech.wav")),
            QStringLiteral("The quarterly meeting starts now. We will review the budget and the roadmap."));
        QVERIFY2(!wav.isEmpty(), "espeak-ng could not speak");
        const auto pcm = MediaFixtures::readWav(wav);
        QVERIFY(pcm);
        m_speechSeconds = pcm->seconds();
        QVERIFY(m_speechSeconds > 2);

        using E = MediaFixtures::Encoding;
        QVERIFY(MediaFixtures::write(input(QStringLiteral("speech.mp3")), *pcm,
                                     E{"mp3", "libmp3lame", 44100, 2, 128000, false, 0}));
        QVERIFY(MediaFixtures::write(input(QStringLiteral("talk.mp4")), *pcm,
                                     E{"mp4", "aac", 44100, 2, 96000, true, 0}));
        QVERIFY(MediaFixtures::write(input(QStringLiteral("speech.mkv")), *pcm,
                                     E{"matroska", "libopus", 48000, 1, 32000, false, 0}));
        QVERIFY(MediaFixtures::write(input(QStringLiteral("silent.mp4")), *pcm,
                                     E{"mp4", {}, 0, 0, 0, true, 3.0}));
        const auto silentProbe = MediaFixtures::probe(input(QStringLiteral("silent.mp4")));
        QVERIFY(silentProbe && silentProbe->hasVideo && silentProbe->rate == 0);

        // A recording cut off before its index was written, as a crashed recorder leaves it.
        QFile whole(input(QStringLiteral("talk.mp4")));
        QVERIFY(whole.open(QIODevice::ReadOnly));
        QFile cut(input(QStringLiteral("cut.mp4")));
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(whole.read(whole.size() / 2));
        cut.close();

        QFile empty(input(QStringLiteral("empty.wav")));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        QFile noise(input(QStringLiteral("noise.mp4")));
        QVERIFY(noise.open(QIODevice::WriteOnly));
        QByteArray bytes(64 * 1024, Qt::Uninitialized);
        QRandomGenerator generator(20);
        for (char &byte : bytes)
            byte = char(generator.generate());
        noise.write(bytes);
        noise.close();
        QFile text(input(QStringLiteral("notes.mp3")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("This is a text file with a media name.\n");
        text.close();
    }

    void extracts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("sound");
        QTest::newRow("wav") << "speech.wav" << true;
        QTest::newRow("mp3 44.1 kHz stereo") << "speech.mp3" << true;
        QTest::newRow("mp4 with video") << "talk.mp4" << true;
        QTest::newRow("mkv with opus") << "speech.mkv" << true;
        QTest::newRow("video only") << "silent.mp4" << false;
        QTest::newRow("empty file") << "empty.wav" << false;
        QTest::newRow("random bytes named mp4") << "noise.mp4" << false;
        QTest::newRow("mp4 cut before its index") << "cut.mp4" << false;
        QTest::newRow("text named mp3") << "notes.mp3" << false;
        QTest::newRow("missing file") << "gone.wav" << false;
    }

    void extracts()
    {
        QFETCH(QString, name);
        QFETCH(bool, sound);
        QTemporaryDir work;
        QVERIFY(work.isValid());
        const std::atomic_bool cancelled{false};
        std::optional<AudioExtractor::Result> result;
        // FFmpeg's complaints about a broken file are not the user's terminal's business.
        const QByteArray written = stderrOf([&] { result = AudioExtractor::extract(input(name), work.path(), cancelled); });
        QVERIFY2(written.isEmpty(), written.constData());
        const QString target = work.filePath(QStringLiteral("audio.m4a"));
        QCOMPARE(result.has_value(), sound);
        QCOMPARE(QFile::exists(target), sound);
        if (!sound) {
            QCOMPARE(QDir(work.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
            return;
        }
        QCOMPARE(result->path, target);
        QVERIFY2(std::abs(result->duration - m_speechSeconds) < 0.1, qPrintable(QString::number(result->duration)));
        const auto probe = MediaFixtures::probe(target);
        QVERIFY(probe);
        QCOMPARE(probe->codec, QByteArray("aac"));
        QCOMPARE(probe->rate, 16000);
        QCOMPARE(probe->channels, 1);
        QCOMPARE(probe->brand, QByteArray("M4A "));
        QVERIFY(!probe->hasVideo);
        QVERIFY2(std::abs(probe->seconds - m_speechSeconds) < 0.05,
                 qPrintable(QStringLiteral("%1 s against %2 s").arg(probe->seconds).arg(m_speechSeconds)));
    }

    void cancelledBeforeTheFirstPacketLeavesNothing()
    {
        QTemporaryDir work;
        const std::atomic_bool cancelled{true};
        QVERIFY(!AudioExtractor::extract(input(QStringLiteral("speech.wav")), work.path(), cancelled));
        QVERIFY(!QFile::exists(work.filePath(QStringLiteral("audio.m4a"))));
    }

    void theModuleLoadsOnlyWhenUsed_data()
    {
        QTest::addColumn<bool>("present");
        QTest::newRow("present") << true;
        QTest::newRow("missing") << false;
    }

    void theModuleLoadsOnlyWhenUsed()
    {
        QFETCH(bool, present);
        // The build tree's module is found, as the installed one is beside the application.
        if (present) {
            QCOMPARE(AudioExtractor::unavailable(), std::nullopt);
            return;
        }
        // A module that cannot be found: a message that names it, no extraction and no crash.
        AudioExtractor::modulePathsOverride = {QDir::temp().filePath(QStringLiteral("no-such-dir/")
                                                                      + AudioExtractor::moduleName)};
        const auto restore = qScopeGuard([] { AudioExtractor::modulePathsOverride.clear(); });
        const std::optional<QString> why = AudioExtractor::unavailable();
        QVERIFY(why);
        QVERIFY2(why->contains(AudioExtractor::moduleName), qPrintable(*why));
        QTemporaryDir work;
        const std::atomic_bool cancelled{false};
        QVERIFY(!AudioExtractor::extract(input(QStringLiteral("speech.wav")), work.path(), cancelled));
        QVERIFY(!QFile::exists(work.filePath(QStringLiteral("audio.m4a"))));
    }
};

DODEDAROV_TEST(AudioExtractorTest)
#include "AudioExtractorTest.moc"
