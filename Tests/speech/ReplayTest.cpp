#include "TestMain.h"

#include "speech/CaptionPipeline.h"
#include "speech/PipelineScript.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

// Recorded sessions of partial and committed transcripts (JSON lines under replay/) run through
// the pipeline; what comes out must match the outputs written after each event in the file.
//   {"rawLanguage": "chinese" | "english" | null, "interpreterMode": true}      first line
//   {"at": 1.2, "partial": "text", "speakers": ["1:0", null]}                     events
//   {"at": 3.4, "committed": "text"}   {"at": 3.5, "tick": true}   {"flush": true}
//   {"translate": "unit"}  {"english": "words"}  {"closeEnglish": true}  {"turn": true}
// A mismatch leaves the session with the actual outputs beside the temporary folder.
class ReplayTest final : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { Segmenter::interpreterMode = false; }
    void replay_data();
    void replay();
};

namespace {

QString outputLine(const CaptionPipeline::Output &output)
{
    using Kind = CaptionPipeline::Output::Kind;
    QJsonObject object;
    switch (output.kind) {
    case Kind::translate:
        object.insert(u"translate"_qs, output.text);
        break;
    case Kind::english:
        object.insert(u"english"_qs, output.text);
        break;
    case Kind::closeEnglish:
        object.insert(u"closeEnglish"_qs, true);
        break;
    case Kind::turn:
        object.insert(u"turn"_qs, true);
        break;
    }
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<CaptionPipeline::Output> expectation(const QJsonObject &object)
{
    if (object.contains(u"translate"))
        return CaptionPipeline::Output::translate(object.value(u"translate").toString());
    if (object.contains(u"english"))
        return CaptionPipeline::Output::english(object.value(u"english").toString());
    if (object.contains(u"closeEnglish"))
        return CaptionPipeline::Output::closeEnglish();
    if (object.contains(u"turn"))
        return CaptionPipeline::Output::turn();
    return std::nullopt;
}

}

void ReplayTest::replay_data()
{
    QTest::addColumn<QString>("path");
    const QDir folder(QFINDTESTDATA("speech/replay"));
    const QStringList files = folder.entryList({u"*.jsonl"_qs}, QDir::Files, QDir::Name);
    QVERIFY2(files.size() >= 3, qPrintable(folder.path()));
    for (const QString &file : files)
        QTest::newRow(qPrintable(file)) << folder.filePath(file);
}

void ReplayTest::replay()
{
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');

    const QJsonObject header = QJsonDocument::fromJson(lines.value(0)).object();
    QVERIFY2(header.contains(u"rawLanguage"), "the first line names the raw language");
    const QString raw = header.value(u"rawLanguage").toString();
    Segmenter::interpreterMode = header.value(u"interpreterMode").toBool();
    CaptionPipeline pipeline(raw == u"chinese" ? std::optional(SpeechLanguage(SpeechLanguage::chinese))
                             : raw == u"english" ? std::optional(SpeechLanguage(SpeechLanguage::english))
                                                 : std::nullopt);

    QStringList expected;
    QStringList actual;
    QStringList session{QString::fromUtf8(lines.value(0))};
    int eventLine = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines.at(i).trimmed().isEmpty())
            continue;
        QJsonParseError error{};
        const QJsonObject object = QJsonDocument::fromJson(lines.at(i), &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(u"line %1: "_qs.arg(i + 1) + error.errorString()));
        if (const std::optional<CaptionPipeline::Output> output = expectation(object)) {
            expected.append(u"line %1: "_qs.arg(eventLine) + PipelineScript::describe(*output));
            continue;
        }
        eventLine = int(i + 1);
        session.append(QString::fromUtf8(lines.at(i)));
        const double at = object.value(u"at").toDouble();
        QList<CaptionPipeline::Output> outputs;
        if (object.contains(u"partial")) {
            std::optional<CaptionPipeline::SpeakerLabels> speakers;
            if (object.value(u"speakers").isArray()) {
                speakers.emplace();
                for (const QJsonValue label : object.value(u"speakers").toArray())
                    speakers->append(label.isString() ? std::optional(label.toString()) : std::nullopt);
            }
            outputs = pipeline.partial(object.value(u"partial").toString(), speakers, at);
        } else if (object.contains(u"committed")) {
            outputs = pipeline.committed(object.value(u"committed").toString(), at);
        } else if (object.contains(u"tick")) {
            outputs = pipeline.tick(at);
        } else if (object.contains(u"flush")) {
            outputs = pipeline.flush();
        } else {
            QFAIL(qPrintable(u"line %1 is neither an event nor an output"_qs.arg(i + 1)));
        }
        for (const CaptionPipeline::Output &output : outputs) {
            actual.append(u"line %1: "_qs.arg(eventLine) + PipelineScript::describe(output));
            session.append(outputLine(output));
        }
    }

    if (actual != expected) {
        QFile out(QDir::temp().filePath(QFileInfo(path).completeBaseName() + u".actual.jsonl"_qs));
        if (out.open(QIODevice::WriteOnly))
            out.write((session.join(u'\n') + u'\n').toUtf8());
        qWarning("actual session written to %s", qPrintable(out.fileName()));
    }
    QCOMPARE(actual, expected);
}

DODEDAROV_TEST(ReplayTest)
#include "ReplayTest.moc"
