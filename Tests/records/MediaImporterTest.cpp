// The import job end to end: the real keyring, real FFmpeg extraction of speech made at test
// time, the fake recogniser and the fake chat service. Stages are recorded as they are
// published; TMPDIR is a private folder that must hold no work folder after each test.
#include "TestMain.h"

#include "fakes/FakeDeepSeekServer.h"
#include "fakes/FakeSpeechToTextServer.h"
#include "fakes/ManualDeepSeekServer.h"
#include "fakes/MediaFixtures.h"
#include "records/MediaImporter.h"
#include "records/TranscriptWriter.h"
#include "accounts/KeyCheck.h"
#include "translation/DeepSeekTransport.h"
#include "platform/Keychain.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>

Q_DECLARE_METATYPE(QList<FakeDeepSeekServer::Script>)
Q_DECLARE_METATYPE(QList<FakeSpeechToTextServer::Script>)

namespace {

using Stage = MediaImporter::Stage;
using Script = FakeSpeechToTextServer::Script;
const QString recognitionKey = QStringLiteral("test-elevenlabs-key");
const QString translationKey = QStringLiteral("test-deepseek-key");

// n words, each its own cue (each ends a sentence), one second apart.
QList<Script::Row> sentences(int n, const QString &stem = QStringLiteral("Sentence"))
{
    QList<Script::Row> rows;
    for (int i = 0; i < n; ++i)
        rows.append({stem + QString::number(i + 1) + u'.', i * 1.0, i * 1.0 + 0.5, QStringLiteral("speaker_0")});
    return rows;
}

QString translationReply(int from, int count)
{
    QJsonArray items;
    for (int i = 0; i < count; ++i)
        items.append(QStringLiteral("译%1").arg(from + i + 1));
    return QStringLiteral("好的 ") + QString::fromUtf8(QJsonDocument(QJsonObject{{"t", items}}).toJson(QJsonDocument::Compact));
}

QString readText(const QUrl &url)
{
    QFile file(url.toLocalFile());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

// What QCOMPARE prints for a stage.
char *toString(const MediaImporter::Stage &stage)
{
    const char *names[] = {"idle", "extracting", "transcribing", "translating", "finished", "failed"};
    QString text = QString::fromLatin1(names[int(stage.kind)]);
    if (stage.kind == MediaImporter::Stage::Kind::translating)
        text += QStringLiteral("(%1,%2)").arg(stage.done).arg(stage.total);
    if (stage.kind == MediaImporter::Stage::Kind::failed)
        text += u'(' + stage.message + u')';
    return qstrdup(text.toUtf8().constData());
}

class MediaImporterTest final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_tmp;      // TMPDIR of the importer
    QTemporaryDir m_media;    // speech made once
    QByteArray m_savedTmp;
    QString m_speech;
    QString m_longSpeech; // ten minutes, so its extraction can be caught under way
    std::unique_ptr<QTemporaryDir> m_sources; // where a test's source files and outputs live
    std::unique_ptr<FakeSpeechToTextServer> m_recogniser;
    std::unique_ptr<FakeDeepSeekServer> m_translator;
    QUrl m_savedRecogniser;
    QUrl m_savedTranslator;

    SessionBackground m_background;
    QList<SessionNote> m_notes;
    bool m_englishOnly = false;
    std::unique_ptr<MediaImporter> m_importer;
    QList<Stage> m_stages;

    MediaImporter::Meeting meeting()
    {
        return {[this] { return m_background; }, [this] { return m_notes; }, [this] { return m_englishOnly; }};
    }

    QStringList workFolders() const
    {
        return QDir(m_tmp.path()).entryList({MediaImporter::workPrefix + u'*'}, QDir::Dirs | QDir::NoDotAndDotDot);
    }

    // A copy of the speech under another name in the test's source folder.
    QUrl source(const QString &name)
    {
        const QString path = m_sources->filePath(name);
        QFile::remove(path);
        if (!QFile::copy(m_speech, path))
            return {};
        return QUrl::fromLocalFile(path);
    }

    bool waitForEnd(int ms = 60000)
    {
        return QTest::qWaitFor([this] {
            const Stage::Kind kind = m_importer->stage().kind;
            return kind == Stage::Kind::finished || kind == Stage::Kind::failed || kind == Stage::Kind::idle;
        }, ms);
    }

    QList<Stage> runningStages(int batches)
    {
        QList<Stage> stages{Stage::extracting(), Stage::transcribing()};
        for (int k = 0; k < batches; ++k)
            stages.append(Stage::translating(k, batches));
        return stages;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        QVERIFY(m_media.isValid());
        m_savedTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
        QCOMPARE(QDir(QDir::tempPath()).canonicalPath(), QDir(m_tmp.path()).canonicalPath());
        m_speech = MediaFixtures::speechWav(m_media.filePath(QStringLiteral("speech.wav")),
                                            QStringLiteral("Welcome to the import test."));
        QVERIFY(!m_speech.isEmpty());
        const auto pcm = MediaFixtures::readWav(m_speech);
        QVERIFY(pcm);
        m_longSpeech = m_media.filePath(QStringLiteral("long.wav"));
        QVERIFY(MediaFixtures::write(m_longSpeech, pcm->rate, 1, MediaFixtures::loop(*pcm, 600, pcm->rate, 1),
                                     {"wav", "pcm_s16le", 0, 0, 0, false, 0}));
        QVERIFY(Keychain::set(recognitionKey, Keychain::elevenLabsAccount));
        QVERIFY(Keychain::set(translationKey, Keychain::deepSeekAccount));
    }

    void cleanupTestCase()
    {
        qputenv("TMPDIR", m_savedTmp);
    }

    void init()
    {
        m_sources = std::make_unique<QTemporaryDir>();
        m_recogniser = std::make_unique<FakeSpeechToTextServer>();
        m_translator = std::make_unique<FakeDeepSeekServer>();
        QVERIFY(m_recogniser->listen());
        QVERIFY(m_translator->listen());
        m_recogniser->expectedKey = recognitionKey.toUtf8();
        m_savedRecogniser = KeyCheck::elevenLabsAddress;
        m_savedTranslator = DeepSeekTransport::baseAddress;
        KeyCheck::elevenLabsAddress = m_recogniser->baseUrl();
        DeepSeekTransport::baseAddress = m_translator->baseUrl();
        m_background = {};
        m_notes = {};
        m_englishOnly = false;
        m_importer = std::make_unique<MediaImporter>(meeting());
        m_stages.clear();
        connect(m_importer.get(), &MediaImporter::stageChanged, this, [this] { m_stages.append(m_importer->stage()); });
    }

    void cleanup()
    {
        m_importer.reset();
        // Every job's work folder goes once its workers have stopped.
        QTRY_COMPARE_WITH_TIMEOUT(workFolders(), QStringList(), 30000);
        KeyCheck::elevenLabsAddress = m_savedRecogniser;
        DeepSeekTransport::baseAddress = m_savedTranslator;
        MediaImporter::readChunk = nullptr;
        MediaImporter::isWritable = [](const QString &folder) { return QFileInfo(folder).isWritable(); };
        Keychain::set(recognitionKey, Keychain::elevenLabsAccount);
        Keychain::set(translationKey, Keychain::deepSeekAccount);
        m_recogniser.reset();
        m_translator.reset();
        m_sources.reset();
    }

    void eightyFiveCuesInThreeBatches()
    {
        m_recogniser->enqueue(Script::words(sentences(85)));
        m_translator->enqueue(FakeDeepSeekServer::stream({translationReply(0, 40)}));
        m_translator->enqueue(FakeDeepSeekServer::stream({translationReply(40, 40)}));
        m_translator->enqueue(FakeDeepSeekServer::stream({translationReply(80, 5)}));
        const QUrl file = source(QStringLiteral("talk.wav"));
        m_importer->start(file);
        QVERIFY(waitForEnd());
        QList<Stage> expected = runningStages(3);
        expected.append(Stage::finished());
        QCOMPARE(m_stages, expected);
        QCOMPARE(m_importer->fileName(), QStringLiteral("talk.wav"));

        // The recogniser got the extracted sound, not the source.
        QCOMPARE(m_recogniser->requests().size(), 1);
        QCOMPARE(m_recogniser->requests().front().fileName, QByteArray("audio.m4a"));

        QCOMPARE(m_translator->requests().size(), 3);
        const QStringList first = m_translator->requests().at(0).contents();
        QVERIFY(first.at(0).startsWith(QStringLiteral("你是视频字幕翻译。")));
        QVERIFY(first.at(0).contains(QStringLiteral("请把每一条译成简体中文字幕。\n只输出 JSON")));
        QVERIFY(first.at(0).endsWith(QStringLiteral("4. 标着【前文】的只是参考，不要翻译。")));
        QVERIFY(first.at(1).startsWith(QStringLiteral("1. Sentence1.\n2. Sentence2.\n")));
        QVERIFY(first.at(1).endsWith(QStringLiteral("40. Sentence40.\n")));
        const QString third = m_translator->requests().at(2).contents().at(1);
        QCOMPARE(third, QStringLiteral("【前文】Sentence76. Sentence77. Sentence78. Sentence79. Sentence80.\n\n"
                                       "1. Sentence81.\n2. Sentence82.\n3. Sentence83.\n4. Sentence84.\n5. Sentence85.\n"));
        QCOMPARE(m_translator->requests().at(0).json.value("max_tokens").toInt(), 6000);

        const QString folder = m_sources->path();
        const QList<QUrl> outputs{QUrl::fromLocalFile(folder + QStringLiteral("/talk.双语.srt")),
                                  QUrl::fromLocalFile(folder + QStringLiteral("/talk 文稿.txt"))};
        QCOMPARE(m_importer->outputs(), outputs);
        QCOMPARE(m_importer->summary(), QStringLiteral("共 85 条字幕，时长 00:01:24。"));
        const QString srt = readText(outputs.at(0));
        QVERIFY(srt.startsWith(QStringLiteral("1\n00:00:00,000 --> 00:00:00,500\n译1\nSentence1.\n\n2\n")));
        QVERIFY(srt.endsWith(QStringLiteral("85\n00:01:24,000 --> 00:01:24,500\n译85\nSentence85.\n\n")));
        const QString transcript = readText(outputs.at(1));
        QVERIFY(transcript.startsWith(QStringLiteral("泰萨利字幕 字幕文稿\n来源：talk.wav\n\n00:00:00  译1\n          Sentence1.\n\n")));

        // The same file again gets free names.
        m_recogniser->enqueue(Script::words(sentences(2)));
        m_translator->enqueue(FakeDeepSeekServer::stream({translationReply(0, 2)}));
        m_importer->start(file);
        QCOMPARE(m_importer->outputs(), QList<QUrl>()); // cleared before the job runs
        QCOMPARE(m_importer->summary(), QString());
        QVERIFY(waitForEnd());
        QCOMPARE(m_importer->outputs(),
                 (QList<QUrl>{QUrl::fromLocalFile(folder + QStringLiteral("/talk.双语 (2).srt")),
                              QUrl::fromLocalFile(folder + QStringLiteral("/talk 文稿 (2).txt"))}));
    }

    void meetingReachesRequests()
    {
        m_englishOnly = true;
        m_background.names = QStringList{"Tessaly", "tessaly", "Dodedarov"};
        m_recogniser->enqueue(Script::words(sentences(3, QStringLiteral("句子"))));
        m_translator->enqueue(FakeDeepSeekServer::stream({translationReply(0, 3)}));
        m_importer->start(source(QStringLiteral("meeting.wav")));
        QVERIFY(waitForEnd());
        QCOMPARE(m_importer->stage(), Stage::finished());
        const FakeSpeechToTextServer::Request &upload = m_recogniser->requests().front();
        QCOMPARE(upload.values("language_code"), QList<QByteArray>{"en"});
        QCOMPARE(upload.values("keyterms"), (QList<QByteArray>{"Tessaly", "Dodedarov"}));
        // Chinese material is translated into English, without a context block for one batch.
        const QStringList contents = m_translator->requests().front().contents();
        QVERIFY(contents.at(0).contains(QStringLiteral("请把每一条译成英文字幕。")));
        QCOMPARE(contents.at(1), QStringLiteral("1. 句子1.\n2. 句子2.\n3. 句子3.\n"));
    }

    // The target language is decided on the first 30 cues exactly: a cue in another script
    // (two Cyrillic words make the sample "other") changes it at cue 30, not at cue 31.
    void languageSampleIsThe30FirstCues_data()
    {
        QTest::addColumn<int>("foreignCue");
        QTest::addColumn<QString>("target");
        QTest::newRow("cue 30 is sampled") << 30 << QStringLiteral("简体中文");
        QTest::newRow("cue 31 is not") << 31 << QStringLiteral("英文");
    }

    void languageSampleIsThe30FirstCues()
    {
        QFETCH(int, foreignCue);
        QFETCH(QString, target);
        QList<Script::Row> rows = sentences(31, QStringLiteral("句子"));
        rows[foreignCue - 1].text = QStringLiteral("Привет мир.");
        m_recogniser->enqueue(Script::words(rows));
        m_translator->enqueue(FakeDeepSeekServer::stream({translationReply(0, 31)}));
        m_importer->start(source(QStringLiteral("sample.wav")));
        QVERIFY(waitForEnd());
        QCOMPARE(m_importer->stage(), Stage::finished());
        QCOMPARE(m_translator->requests().size(), 1);
        const QStringList contents = m_translator->requests().front().contents();
        QVERIFY(contents.at(1).contains(QStringLiteral("Привет мир.")));
        QVERIFY2(contents.at(0).contains(QStringLiteral("请把每一条译成") + target + QStringLiteral("字幕。")),
                 qPrintable(contents.at(0).left(60)));
    }

    void notesChangedBetweenBatchesReachLaterPrompts()
    {
        ManualDeepSeekServer manual;
        QVERIFY(manual.listen());
        DeepSeekTransport::baseAddress = manual.baseUrl();
        m_recogniser->enqueue(Script::words(sentences(45)));
        m_importer->start(source(QStringLiteral("notes.wav")));
        QTRY_COMPARE_WITH_TIMEOUT(manual.count(), 1, 30000);
        const QString note = QStringLiteral("主讲人是 Tessaly 的财务总监");
        QVERIFY(!manual.at(0).system().contains(note));
        m_notes.append(SessionNote{1, note, {}, false, std::nullopt, false});
        manual.reply(0, {translationReply(0, 40)});
        QTRY_COMPARE_WITH_TIMEOUT(manual.count(), 2, 30000);
        QVERIFY(manual.at(1).system().contains(note));
        manual.reply(1, {translationReply(40, 5)});
        QVERIFY(waitForEnd());
        QCOMPARE(m_importer->stage(), Stage::finished());
    }

    void translationOutcomes_data()
    {
        QTest::addColumn<QList<FakeDeepSeekServer::Script>>("replies");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QString>("summaryTail");
        using D = FakeDeepSeekServer;
        const QString all = QStringLiteral("没有翻译（翻译服务没有密钥或连接失败），字幕只有原文。");
        QTest::newRow("bad reply then good")
            << QList<D::Script>{D::stream({"not json"}), D::stream({translationReply(0, 3)})} << 2 << QString();
        // The service answered, so neither the key nor the connection is to blame.
        const QString unreadable = QStringLiteral("没有翻译（翻译服务的回复无法读取），字幕只有原文。");
        QTest::newRow("two bad replies")
            << QList<D::Script>{D::stream({"not json"}), D::stream({"still not"})} << 2 << unreadable;
        QTest::newRow("two replies without a t list")
            << QList<D::Script>{D::stream({R"({"x":["一"]})"}), D::stream({R"({"t":"一"})"})} << 2 << unreadable;
        QTest::newRow("bad reply, then a server error")
            << QList<D::Script>{D::stream({"not json"}), D::error(500)} << 2 << all;
        QTest::newRow("two server errors")
            << QList<D::Script>{D::error(500), D::error(503)} << 2 << all;
        QTest::newRow("server error then good")
            << QList<D::Script>{D::error(500), D::stream({translationReply(0, 3)})} << 2 << QString();
        QTest::newRow("fewer items than cues")
            << QList<D::Script>{D::stream({R"({"t":["一"]})"})} << 1 << QStringLiteral("有 2 条没译出来，只显示原文。");
        QTest::newRow("fatal first: no second request")
            << QList<D::Script>{D::error(402)} << 1 << all + QStringLiteral("翻译中断：DeepSeek 账户余额不足。");
    }

    void translationOutcomes()
    {
        QFETCH(QList<FakeDeepSeekServer::Script>, replies);
        QFETCH(int, requests);
        QFETCH(QString, summaryTail);
        for (const FakeDeepSeekServer::Script &reply : replies)
            m_translator->enqueue(reply);
        m_recogniser->enqueue(Script::words(sentences(3)));
        m_importer->start(source(QStringLiteral("three.wav")));
        QVERIFY(waitForEnd());
        QCOMPARE(m_importer->stage(), Stage::finished());
        QCOMPARE(m_translator->requests().size(), requests);
        QCOMPARE(m_importer->summary(), QStringLiteral("共 3 条字幕，时长 00:00:02。") + summaryTail);
    }

    // A bad key or an empty balance stops the batches; what was translated is kept and written.
    void fatalFailureInTheSecondOfThreeBatches()
    {
        m_recogniser->enqueue(Script::words(sentences(85)));
        m_translator->enqueue(FakeDeepSeekServer::stream({translationReply(0, 40)}));
        m_translator->enqueue(FakeDeepSeekServer::error(402));
        m_importer->start(source(QStringLiteral("fatal.wav")));
        QVERIFY(waitForEnd());
        QList<Stage> expected = runningStages(3);
        expected.back() = Stage::finished(); // the third batch is never asked
        QCOMPARE(m_stages, expected);
        QCOMPARE(m_translator->requests().size(), 2);
        QCOMPARE(m_importer->summary(),
                 QStringLiteral("共 85 条字幕，时长 00:01:24。有 45 条没译出来，只显示原文。翻译中断：DeepSeek 账户余额不足。"));
        const QString srt = readText(m_importer->outputs().at(0));
        QVERIFY(srt.contains(QStringLiteral("\n译40\nSentence40.\n")));
        QVERIFY(srt.contains(QStringLiteral("00:00:40,500\nSentence41.\n")));
    }

    void withoutTranslationKey()
    {
        QVERIFY(Keychain::set(QString(), Keychain::deepSeekAccount));
        m_recogniser->enqueue(Script::words(sentences(3)));
        m_importer->start(source(QStringLiteral("nokey.wav")));
        QVERIFY(waitForEnd());
        QCOMPARE(m_stages, (QList<Stage>{Stage::extracting(), Stage::transcribing(), Stage::finished()}));
        QCOMPARE(m_translator->requests().size(), 0);
        QCOMPARE(m_importer->summary(),
                 QStringLiteral("共 3 条字幕，时长 00:00:02。没有翻译（翻译服务没有密钥或连接失败），字幕只有原文。"));
    }

    void withoutRecognitionKey()
    {
        m_recogniser->enqueue(Script::words(sentences(1)));
        m_importer->start(source(QStringLiteral("first.wav")));
        QVERIFY(waitForEnd());
        const QList<QUrl> outputs = m_importer->outputs();
        QVERIFY(Keychain::set(QString(), Keychain::elevenLabsAccount));
        m_importer->start(source(QStringLiteral("second.wav")));
        QCOMPARE(m_importer->stage(), Stage::failed(QStringLiteral(
            "导入音视频生成字幕目前要用 ElevenLabs 转写：请在设置的“API 密钥”里填 ElevenLabs 的密钥。")));
        QCOMPARE(m_importer->fileName(), QStringLiteral("first.wav"));
        QCOMPARE(m_importer->outputs(), outputs);
        QCOMPARE(m_recogniser->requests().size(), 1);
    }

    void recognitionFailures_data()
    {
        QTest::addColumn<QList<Script>>("replies");
        QTest::addColumn<bool>("keyterms");
        QTest::addColumn<int>("uploads");
        QTest::addColumn<QString>("message");
        const QByteArray keytermError = R"({"detail":{"message":"Invalid KEYTERMS value"}})";
        const QString general400 = QStringLiteral("ElevenLabs 转写失败（HTTP 400）：") + QString::fromUtf8(keytermError);
        QTest::newRow("no words") << QList<Script>{Script::reply(200, R"({"words":[]})")} << false << 1
                                  << "没有识别出任何讲话。";
        QTest::newRow("only spacing") << QList<Script>{Script::reply(200, R"({"words":[{"text":" ","start":0,"end":1,"type":"spacing"}]})")}
                                      << false << 1 << "没有识别出任何讲话。";
        QTest::newRow("200 not json") << QList<Script>{Script::reply(200, "<html>")} << false << 1
                                      << "ElevenLabs 没有返回有效响应。";
        QTest::newRow("key-term error retried without key terms, second fails")
            << QList<Script>{Script::reply(400, keytermError), Script::reply(400, keytermError)} << true << 2 << general400;
        QTest::newRow("key-term error without key terms is final")
            << QList<Script>{Script::reply(400, keytermError)} << false << 1 << general400;
        QTest::newRow("401 with key terms is final")
            << QList<Script>{Script::reply(401, "{}")} << true << 1 << "ElevenLabs 密钥无效，请在设置里重新填写。";
    }

    void recognitionFailures()
    {
        QFETCH(QList<Script>, replies);
        QFETCH(bool, keyterms);
        QFETCH(int, uploads);
        QFETCH(QString, message);
        if (keyterms)
            m_background.names = QStringList{"Tessaly"};
        for (const Script &reply : replies)
            m_recogniser->enqueue(reply);
        m_importer->start(source(QStringLiteral("fails.wav")));
        QVERIFY(waitForEnd());
        QCOMPARE(m_importer->stage(), Stage::failed(message));
        QCOMPARE(m_recogniser->requests().size(), uploads);
        if (uploads == 2) {
            QCOMPARE(m_recogniser->requests().at(0).values("keyterms"), QList<QByteArray>{"Tessaly"});
            QCOMPARE(m_recogniser->requests().at(1).values("keyterms"), QList<QByteArray>());
        }
        QCOMPARE(QDir(m_sources->path()).entryList(QDir::Files), QStringList{"fails.wav"});
    }

    void keytermRetrySucceeds()
    {
        m_background.names = QStringList{"Tessaly"};
        m_recogniser->enqueue(Script::reply(400, R"({"detail":"keyterms are not allowed"})"));
        m_recogniser->enqueue(Script::words(sentences(1)));
        QVERIFY(Keychain::set(QString(), Keychain::deepSeekAccount));
        m_importer->start(source(QStringLiteral("retry.wav")));
        QVERIFY(waitForEnd());
        QCOMPARE(m_importer->stage(), Stage::finished());
        QCOMPARE(m_recogniser->requests().size(), 2);
    }

    void badInputs_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message"); // empty: uploaded unchanged and finished
        QTest::newRow("empty file") << QByteArray() << "empty.mp4" << "这个文件是空的。";
        QTest::newRow("random bytes") << QByteArray(5000, '\x5a') << "noise.mp4" << QString();
        QTest::newRow("text named mp3") << QByteArray("just text\n") << "notes.mp3" << QString();
    }

    void badInputs()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, name);
        QFETCH(QString, message);
        QVERIFY(Keychain::set(QString(), Keychain::deepSeekAccount));
        const QString path = m_sources->filePath(name);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        m_recogniser->enqueue(Script::words(sentences(1)));
        m_importer->start(QUrl::fromLocalFile(path));
        QVERIFY(waitForEnd());
        if (!message.isEmpty()) {
            QCOMPARE(m_importer->stage(), Stage::failed(message));
            QCOMPARE(m_recogniser->connections(), 0);
            return;
        }
        QCOMPARE(m_importer->stage(), Stage::finished());
        QCOMPARE(m_recogniser->requests().front().fileName, name.toUtf8());
        QCOMPARE(m_recogniser->requests().front().fileSize, bytes.size());
    }

    void videoWithoutSoundIsUploadedUnchanged()
    {
        QVERIFY(Keychain::set(QString(), Keychain::deepSeekAccount));
        const QString path = m_sources->filePath(QStringLiteral("silent.mp4"));
        QVERIFY(MediaFixtures::write(path, {}, {"mp4", {}, 0, 0, 0, true, 2.0}));
        m_recogniser->enqueue(Script::words(sentences(1)));
        m_importer->start(QUrl::fromLocalFile(path));
        QVERIFY(waitForEnd());
        QCOMPARE(m_importer->stage(), Stage::finished());
        QCOMPARE(m_recogniser->requests().front().fileName, QByteArray("silent.mp4"));
        QCOMPARE(m_recogniser->requests().front().fileSize, QFileInfo(path).size());
    }

    void unwritableSourceFolderFallsBack()
    {
        QVERIFY(Keychain::set(QString(), Keychain::deepSeekAccount));
        const QString source = m_sources->path();
        MediaImporter::isWritable = [source](const QString &folder) { return folder != source; };
        m_recogniser->enqueue(Script::words(sentences(1)));
        m_importer->start(this->source(QStringLiteral("readonly.wav")));
        QVERIFY(waitForEnd());
        QCOMPARE(m_importer->stage(), Stage::finished());
        const QString records = TranscriptWriter::defaultDirectory();
        QCOMPARE(QFileInfo(m_importer->outputs().at(0).toLocalFile()).absolutePath(), records);
        QVERIFY(QFile::exists(records + QStringLiteral("/readonly 文稿.txt")));
        for (const QUrl &output : m_importer->outputs())
            QFile::remove(output.toLocalFile());
    }

    // The subtitle file can't be written: the job fails with the folder named, and no partial
    // file is left.
    void subtitleWriteFailure()
    {
        QVERIFY(Keychain::set(QString(), Keychain::deepSeekAccount));
        m_recogniser->enqueue(Script::words(sentences(85)));
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        // The limit goes on once the body has been sent, so only the outputs meet it.
        connect(m_recogniser.get(), &FakeSpeechToTextServer::requestReceived, this, [saved] {
            rlimit small = saved;
            small.rlim_cur = 1000;
            setrlimit(RLIMIT_FSIZE, &small);
        });
        m_importer->start(source(QStringLiteral("limit.wav")));
        const bool ended = waitForEnd();
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        QVERIFY(ended);
        QCOMPARE(m_importer->stage(), Stage::failed(QStringLiteral("字幕文件保存失败，请检查“")
                                                    + QDir::toNativeSeparators(m_sources->path())
                                                    + QStringLiteral("”的访问权限。")));
        QCOMPARE(QDir(m_sources->path()).entryList(QDir::Files), QStringList{"limit.wav"});
    }

    void startWhileRunningChangesNothing()
    {
        ManualDeepSeekServer manual;
        QVERIFY(manual.listen());
        DeepSeekTransport::baseAddress = manual.baseUrl();
        m_recogniser->enqueue(Script::words(sentences(85)));
        m_importer->start(source(QStringLiteral("one.wav")));
        QTRY_COMPARE_WITH_TIMEOUT(manual.count(), 1, 30000);
        manual.reply(0, {translationReply(0, 40)});
        QTRY_COMPARE_WITH_TIMEOUT(manual.count(), 2, 30000);
        QCOMPARE(m_importer->stage(), Stage::translating(1, 3));
        m_importer->start(source(QStringLiteral("two.wav")));
        QCOMPARE(m_importer->stage(), Stage::translating(1, 3));
        QCOMPARE(m_importer->fileName(), QStringLiteral("one.wav"));
        manual.reply(1, {translationReply(40, 40)});
        QTRY_COMPARE_WITH_TIMEOUT(manual.count(), 3, 30000);
        manual.reply(2, {translationReply(80, 5)});
        QVERIFY(waitForEnd());
        QCOMPARE(m_importer->stage(), Stage::finished());
        QCOMPARE(m_recogniser->requests().size(), 1);
    }

    // Cancel in each step, then start again at once: the stopped job never touches the new
    // job's published values, and a third start is refused while the second runs.
    void cancelThenStart_data()
    {
        QTest::addColumn<QString>("step");
        // Uploads the recogniser sees in all: a job stopped before its upload never sends one.
        QTest::addColumn<int>("uploads");
        QTest::newRow("before extraction") << "start" << 1;
        QTest::newRow("during extraction") << "extraction" << 1;
        QTest::newRow("during the body copy") << "copy" << 1;
        QTest::newRow("during the upload") << "upload" << 2;
        QTest::newRow("during translation") << "translation" << 2;
    }

    void cancelThenStart()
    {
        QFETCH(QString, step);
        QFETCH(int, uploads);
        ManualDeepSeekServer manual;
        QVERIFY(manual.listen());
        DeepSeekTransport::baseAddress = manual.baseUrl();
        QSemaphore entered;
        QSemaphore proceed;
        if (step == u"copy") {
            // The first copy stops inside its first chunk until the test lets it go on.
            std::shared_ptr<std::atomic_int> calls = std::make_shared<std::atomic_int>(0);
            MediaImporter::readChunk = [calls, &entered, &proceed](QFile &source, char *buffer, qint64 size) {
                const qint64 read = source.read(buffer, size);
                if (calls->fetch_add(1) == 0) {
                    entered.release();
                    proceed.acquire();
                }
                return read;
            };
        }
        // Only the steps that reach the recogniser take a reply from its queue.
        Script silent;
        silent.silent = true;
        if (step == u"upload")
            m_recogniser->enqueue(silent);
        else if (step == u"translation")
            m_recogniser->enqueue(Script::words(sentences(45)));

        if (step == u"extraction") {
            const QString old = m_sources->filePath(QStringLiteral("old.wav"));
            QVERIFY(QFile::copy(m_longSpeech, old));
            m_importer->start(QUrl::fromLocalFile(old));
        } else {
            m_importer->start(source(QStringLiteral("old.wav")));
        }
        if (step == u"extraction") {
            QTRY_VERIFY_WITH_TIMEOUT(!workFolders().isEmpty()
                                         && QFile::exists(m_tmp.filePath(workFolders().front() + QStringLiteral("/audio.m4a"))),
                                     30000);
        } else if (step == u"copy") {
            QVERIFY(QTest::qWaitFor([&] { return entered.tryAcquire(); }, 30000));
        } else if (step == u"upload") {
            QSignalSpy received(m_recogniser.get(), &FakeSpeechToTextServer::requestReceived);
            QVERIFY(received.wait(30000));
        } else if (step == u"translation") {
            QTRY_COMPARE_WITH_TIMEOUT(manual.count(), 1, 30000);
        }
        const QStringList oldFolders = workFolders();
        m_importer->cancel();
        QCOMPARE(m_importer->stage(), Stage::idle());
        m_stages.clear();

        m_recogniser->enqueue(Script::words(sentences(2)));
        m_importer->start(source(QStringLiteral("new.wav")));
        QCOMPARE(m_importer->stage(), Stage::extracting());
        m_importer->start(source(QStringLiteral("third.wav")));
        QCOMPARE(m_importer->fileName(), QStringLiteral("new.wav"));

        if (step == u"copy") {
            // The stopped copy still holds its folder until it has stopped.
            QVERIFY(!oldFolders.isEmpty());
            QVERIFY(QDir(m_tmp.path()).exists(oldFolders.front()));
            proceed.release();
        }
        // The new job's translation request is the last one to arrive.
        const int before = manual.count();
        QTRY_COMPARE_WITH_TIMEOUT(manual.count(), before + 1, 30000);
        manual.reply(before, {translationReply(0, 2)});
        QVERIFY(waitForEnd());
        QList<Stage> expected = runningStages(1);
        expected.append(Stage::finished());
        QCOMPARE(m_stages, expected);
        QCOMPARE(m_importer->fileName(), QStringLiteral("new.wav"));
        QVERIFY(m_importer->outputs().at(0).toLocalFile().endsWith(QStringLiteral("/new.双语.srt")));
        QCOMPARE(QDir(m_sources->path()).entryList({"old*"}, QDir::Files), QStringList{"old.wav"});
        for (const QString &folder : oldFolders)
            QTRY_VERIFY_WITH_TIMEOUT(!QDir(m_tmp.path()).exists(folder), 30000);
        // Counted once the stopped job has let go of everything (its folder is gone), so an
        // upload it still sent would have arrived.
        QCOMPARE(m_recogniser->requests().size(), uploads);
        QCOMPARE(m_recogniser->connections(), uploads);
    }

    // Quitting (here: the importer going away) stops the job and removes its work folder at once.
    void quittingRemovesTheWorkFolder()
    {
        Script silent;
        silent.silent = true;
        m_recogniser->enqueue(silent);
        m_importer->start(source(QStringLiteral("quit.wav")));
        QSignalSpy received(m_recogniser.get(), &FakeSpeechToTextServer::requestReceived);
        QVERIFY(received.wait(30000));
        QCOMPARE(workFolders().size(), 1);
        m_importer.reset();
        QCOMPARE(workFolders(), QStringList());
    }

    // A job stopped before it made its folder has none to remove: nothing else may go.
    void quittingBeforeTheJobRunsTouchesNothing()
    {
        QTemporaryDir cwd;
        const QString marker = cwd.filePath(QStringLiteral("keep.txt"));
        QVERIFY(QFile(marker).open(QIODevice::WriteOnly));
        const QString saved = QDir::currentPath();
        QVERIFY(QDir::setCurrent(cwd.path()));
        m_importer->start(source(QStringLiteral("early.wav")));
        QCOMPARE(m_importer->stage(), Stage::extracting());
        m_importer.reset();
        QDir::setCurrent(saved);
        QVERIFY(QFile::exists(marker));
    }

    void uniqueNames()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("talk.双语.srt"));
        QCOMPARE(MediaImporter::unique(path), path);
        QFile(path).open(QIODevice::WriteOnly);
        QCOMPARE(MediaImporter::unique(path), folder.filePath(QStringLiteral("talk.双语 (2).srt")));
        QFile(folder.filePath(QStringLiteral("talk.双语 (2).srt"))).open(QIODevice::WriteOnly);
        QCOMPARE(MediaImporter::unique(path), folder.filePath(QStringLiteral("talk.双语 (3).srt")));
    }
};

DODEDAROV_TEST(MediaImporterTest)
#include "MediaImporterTest.moc"
