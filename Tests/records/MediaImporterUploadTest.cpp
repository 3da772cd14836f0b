// The upload to the batch recogniser against a loopback fake: the body file byte for byte, the
// header fields made safe, every reply status, the time limits, and failures while the body is
// assembled, which must send nothing.
#include "TestMain.h"

#include "fakes/FakeSpeechToTextServer.h"
#include "fakes/FileSizeLimit.h"
#include "records/MediaImporter.h"
#include "accounts/KeyCheck.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

using Script = FakeSpeechToTextServer::Script;
const QString key = QStringLiteral("test-elevenlabs-key");

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator{quint32(size)};
    for (char &byte : bytes)
        byte = char(generator.generate());
    return bytes;
}

QByteArray part(const QByteArray &boundary, const QByteArray &name, const QByteArray &value)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

} // namespace

Q_DECLARE_METATYPE(Script)

class MediaImporterUploadTest final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FakeSpeechToTextServer> m_server;
    std::unique_ptr<QTemporaryDir> m_folder;
    QUrl m_savedAddress;

    QString makeFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_folder->filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        return path;
    }

    // One upload, waited for; its work folder stays for the test to look into.
    MediaImporter::UploadResult upload(const QString &audio, const QStringList &keyterms = {},
                                       bool englishOnly = false)
    {
        std::optional<MediaImporter::UploadResult> result;
        MediaImporter::upload(audio, key, keyterms, englishOnly, m_folder->path(),
                              [&result](const MediaImporter::UploadResult &r) { result = r; });
        if (!QTest::qWaitFor([&] { return result.has_value(); }, 60000))
            return {{}, MediaImporter::ImportError{QStringLiteral("test: no result")}, false, {}};
        return *result;
    }

private slots:
    void init()
    {
        m_folder = std::make_unique<QTemporaryDir>();
        QVERIFY(m_folder->isValid());
        m_server = std::make_unique<FakeSpeechToTextServer>();
        QVERIFY(m_server->listen());
        m_server->expectedKey = key.toUtf8();
        m_savedAddress = KeyCheck::elevenLabsAddress;
        KeyCheck::elevenLabsAddress = m_server->baseUrl();
    }

    void cleanup()
    {
        KeyCheck::elevenLabsAddress = m_savedAddress;
        MediaImporter::connectTimeout = 60;
        MediaImporter::idleTimeout = 1800;
        MediaImporter::totalTimeout = 21600;
        MediaImporter::readChunk = nullptr;
        m_server.reset();
        m_folder.reset();
    }

    void bodyIsExactlyTheMultipart_data()
    {
        QTest::addColumn<bool>("englishOnly");
        QTest::addColumn<QStringList>("keyterms");
        QTest::newRow("plain") << false << QStringList();
        QTest::newRow("english only") << true << QStringList();
        QTest::newRow("key terms") << false << QStringList{"Tessaly", "Dodedarov 会议", "三个词"};
        QTest::newRow("english only and key terms") << true << QStringList{"Alpha", "Beta"};
    }

    void bodyIsExactlyTheMultipart()
    {
        QFETCH(bool, englishOnly);
        QFETCH(QStringList, keyterms);
        const QByteArray audioBytes = randomBytes(70000);
        const QString audio = makeFile(QStringLiteral("clip.m4a"), audioBytes);
        const MediaImporter::UploadResult result = upload(audio, keyterms, englishOnly);
        QVERIFY2(!result.error, qPrintable(result.error ? result.error->message : QString()));
        QCOMPARE(m_server->requests().size(), 1);
        const FakeSpeechToTextServer::Request &request = m_server->requests().front();
        QCOMPARE(request.problem, QByteArray());
        QVERIFY(request.boundary.startsWith("TessalyBoundary"));
        QCOMPARE(request.boundary.size(), 15 + 36);
        QCOMPARE(request.boundary.mid(15), request.boundary.mid(15).toUpper());

        QByteArray expected = part(request.boundary, "model_id", "scribe_v2")
            + part(request.boundary, "timestamps_granularity", "word")
            + part(request.boundary, "diarize", "true") + part(request.boundary, "tag_audio_events", "false");
        if (englishOnly)
            expected += part(request.boundary, "language_code", "en");
        for (const QString &term : keyterms)
            expected += part(request.boundary, "keyterms", term.toUtf8());
        expected += "--" + request.boundary
            + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"clip.m4a\"\r\n"
              "Content-Type: application/octet-stream\r\n\r\n"
            + audioBytes + "\r\n--" + request.boundary + "--\r\n";

        QVERIFY(QFileInfo(result.bodyFile).fileName().startsWith(QStringLiteral("upload-")));
        QCOMPARE(QFileInfo(result.bodyFile).absolutePath(), QFileInfo(m_folder->path()).absoluteFilePath());
        QFile body(result.bodyFile);
        QVERIFY(body.open(QIODevice::ReadOnly));
        QCOMPARE(body.readAll(), expected);

        // The fake read the same parts off the wire.
        QCOMPARE(request.values("keyterms").size(), keyterms.size());
        QCOMPARE(request.textParts.size(), 4 + (englishOnly ? 1 : 0) + keyterms.size());
        QCOMPARE(request.fileSize, audioBytes.size());
        QCOMPARE(request.fileSha256, QCryptographicHash::hash(audioBytes, QCryptographicHash::Sha256).toHex());
        QCOMPARE(request.header("xi-api-key"), key.toUtf8());
        QCOMPARE(request.header("content-type"), "multipart/form-data; boundary=" + request.boundary);
    }

    void headerFieldsAreMadeSafe_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("sentName");
        QTest::addColumn<QString>("keyterm");
        QTest::addColumn<QByteArray>("sentKeyterm");
        QTest::newRow("double quote") << "say \"hi\".m4a" << QByteArray("say hi.m4a") << "a\"b" << QByteArray("a\"b");
        QTest::newRow("line feed") << "two\nlines.mp3" << QByteArray("twolines.mp3") << "x\ny" << QByteArray("x y");
        QTest::newRow("carriage return") << "cr\r.mp3" << QByteArray("cr.mp3") << "x\r\ny" << QByteArray("x  y");
        QTest::newRow("backslash") << "back\\slash.wav" << QByteArray("backslash.wav") << "t" << QByteArray("t");
        QTest::newRow("control") << QStringLiteral("bell\u0007.wav") << QByteArray("bell.wav") << "t" << QByteArray("t");
        QTest::newRow("chinese") << "会议 录音.m4a" << QStringLiteral("会议 录音.m4a").toUtf8() << "语音" << QStringLiteral("语音").toUtf8();
    }

    void headerFieldsAreMadeSafe()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, sentName);
        QFETCH(QString, keyterm);
        QFETCH(QByteArray, sentKeyterm);
        const QString audio = makeFile(fileName, randomBytes(1000));
        QVERIFY(!audio.isEmpty());
        const MediaImporter::UploadResult result = upload(audio, {keyterm});
        QVERIFY2(!result.error, qPrintable(result.error ? result.error->message : QString()));
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(m_server->requests().front().problem, QByteArray());
        QCOMPARE(m_server->requests().front().fileName, sentName);
        QCOMPARE(m_server->requests().front().values("keyterms"), QList<QByteArray>{sentKeyterm});
    }

    void replies_data()
    {
        QTest::addColumn<Script>("script");
        QTest::addColumn<QString>("message"); // empty: success with the body
        const auto general = [](int status, const QString &text) {
            return QStringLiteral("ElevenLabs 转写失败（HTTP %1）：").arg(status) + text;
        };
        const Script words = Script::words({{"Hi", 0, 0.4, "speaker_0"}});
        QTest::newRow("200 words") << words << QString();
        QTest::newRow("200 not json") << Script::reply(200, "<html>busy</html>") << QString();
        QTest::newRow("401") << Script::reply(401, R"({"detail":{"status":"invalid_api_key"}})")
                             << "ElevenLabs 密钥无效，请在设置里重新填写。";
        QTest::newRow("402") << Script::reply(402, "{}") << "ElevenLabs 额度不够了。";
        QTest::newRow("401 quota_exceeded status")
            << Script::reply(401, R"({"detail":{"status":"quota_exceeded","message":"This request exceeds your quota."}})")
            << "ElevenLabs 额度不够了。";
        QTest::newRow("400 quota_exceeded code")
            << Script::reply(400, R"({"detail":{"code":"quota_exceeded"}})") << "ElevenLabs 额度不够了。";
        const QByteArray keytermsBody = R"({"detail":{"status":"invalid_keyterms","message":"Too many keyterms"}})";
        QTest::newRow("400 keyterms") << Script::reply(400, keytermsBody) << general(400, QString::fromUtf8(keytermsBody));
        QTest::newRow("201") << Script::reply(201, "{}") << general(201, "{}");
        QTest::newRow("204") << Script::reply(204, {}) << general(204, {});
        Script moved = Script::reply(301, "moved");
        moved.headers.append(qMakePair(QByteArray("Location"), QByteArray("http://127.0.0.1:1/elsewhere")));
        QTest::newRow("301 is not followed") << moved << general(301, "moved");
        QTest::newRow("500 over 300 bytes") << Script::reply(500, QByteArray(400, 'e')) << general(500, QString(300, u'e'));
        QTest::newRow("500 cut inside a character")
            << Script::reply(500, QByteArray(299, 'e') + QStringLiteral("字尾").toUtf8())
            << general(500, QString(299, u'e'));
        QTest::newRow("500 of exactly 300 bytes ending in a character")
            << Script::reply(500, QByteArray(297, 'e') + QStringLiteral("字").toUtf8())
            << general(500, QString(297, u'e') + QStringLiteral("字"));
        QTest::newRow("500 invalid UTF-8 before the cut")
            << Script::reply(500, "\xff" + QByteArray(20, 'e')) << general(500, {});
        Script cut = Script::reply(200, words.body);
        cut.cutShort = true;
        QTest::newRow("reply shorter than declared") << cut << "和 ElevenLabs 的连接断了，请再试一次。";
    }

    void replies()
    {
        QFETCH(Script, script);
        QFETCH(QString, message);
        m_server->enqueue(script);
        const MediaImporter::UploadResult result = upload(makeFile(QStringLiteral("a.m4a"), randomBytes(5000)), {"kt"});
        QVERIFY(!result.cancelled);
        if (message.isEmpty()) {
            QVERIFY2(!result.error, qPrintable(result.error ? result.error->message : QString()));
            QCOMPARE(result.data, script.body);
        } else {
            QVERIFY(result.error);
            QCOMPARE(result.error->message, message);
            QVERIFY(!result.error->message.contains(key));
        }
        QCOMPARE(m_server->requests().size(), 1);
    }

    void limits_data()
    {
        QTest::addColumn<int>("delayMs"); // -1: silent
        QTest::addColumn<double>("connect");
        QTest::addColumn<double>("idle");
        QTest::addColumn<double>("total");
        QTest::addColumn<QString>("message");
        QTest::newRow("silence hits the idle limit") << -1 << 30.0 << 0.5 << 60.0 << "ElevenLabs 转写超时了，请稍后再试。";
        QTest::newRow("silence hits the total limit") << -1 << 30.0 << 30.0 << 0.5 << "ElevenLabs 转写超时了，请稍后再试。";
        // The connect limit ends once the body starts to leave; a long wait for the answer after
        // that is the service transcribing.
        QTest::newRow("answer slower than the connect limit")
            << 4000 << 2.0 << 30.0 << 60.0 << QString();
    }

    void limits()
    {
        QFETCH(int, delayMs);
        QFETCH(double, connect);
        QFETCH(double, idle);
        QFETCH(double, total);
        QFETCH(QString, message);
        Script script = Script::words({{"Hi", 0, 0.4, "speaker_0"}});
        script.silent = delayMs < 0;
        script.delayMs = std::max(delayMs, 0);
        m_server->enqueue(script);
        MediaImporter::connectTimeout = connect;
        MediaImporter::idleTimeout = idle;
        MediaImporter::totalTimeout = total;
        const MediaImporter::UploadResult result = upload(makeFile(QStringLiteral("a.m4a"), randomBytes(5000)));
        QVERIFY(!result.cancelled);
        if (message.isEmpty()) {
            QVERIFY2(!result.error, qPrintable(result.error ? result.error->message : QString()));
            QCOMPARE(result.data, script.body);
        } else {
            QVERIFY(result.error);
            QCOMPARE(result.error->message, message);
        }
    }

    void noServer()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        KeyCheck::elevenLabsAddress = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort()));
        closed.close();
        const MediaImporter::UploadResult result = upload(makeFile(QStringLiteral("a.m4a"), randomBytes(100)));
        QVERIFY(result.error);
        QCOMPARE(result.error->message, QStringLiteral("连不上 ElevenLabs，请检查网络后再试。"));
    }

    void cancelIsNotATimeout()
    {
        Script silent;
        silent.silent = true;
        m_server->enqueue(silent);
        MediaImporter::idleTimeout = 600;
        std::optional<MediaImporter::UploadResult> result;
        const MediaImporter::Upload handle = MediaImporter::upload(
            makeFile(QStringLiteral("a.m4a"), randomBytes(100)), key, {}, false, m_folder->path(),
            [&result](const MediaImporter::UploadResult &r) { result = r; });
        QSignalSpy received(m_server.get(), &FakeSpeechToTextServer::requestReceived);
        QVERIFY(received.wait(30000));
        handle.cancel();
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 30000);
        QVERIFY(result->cancelled);
        QVERIFY(!result->error);
    }

    // Nothing may be sent when the body could not be assembled whole.
    void assemblyFailuresSendNothing_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty file") << "empty" << "这个文件是空的。";
        QTest::newRow("missing file") << "missing" << "读不了这个文件。";
        QTest::newRow("read error after the first chunk") << "read error" << "读不了这个文件。";
        QTest::newRow("file shorter than at opening") << "short read" << "读不了这个文件。";
        QTest::newRow("work folder missing") << "no folder" << "无法准备上传文件。";
    }

    void assemblyFailuresSendNothing()
    {
        QFETCH(QString, failure);
        QFETCH(QString, message);
        QString audio = makeFile(QStringLiteral("big.m4a"), randomBytes(MediaImporter::chunkSize + 1000));
        if (failure == u"empty")
            audio = makeFile(QStringLiteral("empty.m4a"), {});
        else if (failure == u"missing")
            audio = m_folder->filePath(QStringLiteral("gone.m4a"));
        int reads = 0;
        if (failure == u"read error" || failure == u"short read") {
            const bool error = failure == u"read error";
            MediaImporter::readChunk = [&reads, error](QFile &source, char *buffer, qint64 size) -> qint64 {
                if (++reads == 1)
                    return source.read(buffer, size);
                return error ? -1 : 0;
            };
        }
        std::optional<MediaImporter::UploadResult> result;
        const QString work = failure == u"no folder" ? m_folder->filePath(QStringLiteral("none/deeper")) : m_folder->path();
        MediaImporter::upload(audio, key, {}, false, work, [&result](const MediaImporter::UploadResult &r) { result = r; });
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 30000);
        QVERIFY(result->error);
        QCOMPARE(result->error->message, message);
        QCOMPARE(m_server->connections(), 0);
    }

    // A body that can't be written whole (here: the file-size limit) is never posted.
    void writeFailureSendsNothing()
    {
        const QString audio = makeFile(QStringLiteral("a.m4a"), randomBytes(300000));
        std::optional<MediaImporter::UploadResult> result;
        bool arrived = false;
        {
            const FileSizeLimit limit(100000);
            QVERIFY(limit.holds());
            MediaImporter::upload(audio, key, {}, false, m_folder->path(),
                                  [&result](const MediaImporter::UploadResult &r) { result = r; });
            arrived = QTest::qWaitFor([&] { return result.has_value(); }, 30000);
        }
        QVERIFY(arrived);
        QVERIFY(result->error);
        QCOMPARE(result->error->message, QStringLiteral("无法准备上传文件。"));
        QCOMPARE(m_server->connections(), 0);
    }
};

DODEDAROV_TEST(MediaImporterUploadTest)
#include "MediaImporterUploadTest.moc"
