#include "TestMain.h"

#include "speech/Speakers.h"

#include <QJsonArray>
#include <QJsonDocument>

Q_DECLARE_METATYPE(std::optional<SpeakerList>)

class SpeakersTest final : public QObject {
    Q_OBJECT
private slots:
    void align_data();
    void align();
};

void SpeakersTest::align_data()
{
    QTest::addColumn<QString>("items"); // JSON list of word items
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::optional<SpeakerList>>("expected");
    const auto list = [](std::initializer_list<std::optional<QString>> ids) {
        return std::optional<SpeakerList>(SpeakerList(ids));
    };
    const QString a = QStringLiteral("A"), b = QStringLiteral("B");

    QTest::newRow("words around a spacing")
        << R"J([{"text":"Hello","type":"word","speaker_id":"A"},{"text":" ","type":"spacing","speaker_id":"A"},
              {"text":"world","type":"word","speaker_id":"B"}])J"
        << "Hello world" << list({a, b});
    QTest::newRow("an item without a type is a word")
        << R"J([{"text":"Hello","speaker_id":"A"},{"text":"world","speaker_id":"B"}])J"
        << "Hello world" << list({a, b});
    QTest::newRow("audio event counted in the text")
        << R"J([{"text":"(laughs)","type":"audio_event","speaker_id":"A"},{"text":"Hello","type":"word","speaker_id":"B"}])J"
        << "(laughs) Hello" << list({a, b});
    QTest::newRow("audio event not in the text: second pass without it")
        << R"J([{"text":"Hello","type":"word","speaker_id":"A"},{"text":"(laughs)","type":"audio_event","speaker_id":"A"},
              {"text":"world","type":"word","speaker_id":"B"}])J"
        << "Hello world" << list({a, b});
    QTest::newRow("speaker that is not text is absent")
        << R"J([{"text":"Hello","type":"word","speaker_id":3},{"text":"world","type":"word","speaker_id":"B"}])J"
        << "Hello world" << list({std::nullopt, b});
    QTest::newRow("an item of several words repeats its speaker")
        << R"J([{"text":"good morning","type":"word","speaker_id":"A"},{"text":"all","type":"word","speaker_id":"B"}])J"
        << "good morning all" << list({a, a, b});
    QTest::newRow("Chinese characters are words of their own")
        << R"J([{"text":"你好","type":"word","speaker_id":"A"},{"text":" ","type":"spacing"},{"text":"Tom","type":"word","speaker_id":"B"}])J"
        << "你好 Tom" << list({a, a, b});
    QTest::newRow("item text that is not text counts no words")
        << R"J([{"text":5,"type":"word","speaker_id":"A"},{"text":"Hi","type":"word","speaker_id":"B"}])J"
        << "Hi" << list({b});
    QTest::newRow("neither pass matches")
        << R"J([{"text":"Hello","type":"word","speaker_id":"A"}])J" << "Hello world" << std::optional<SpeakerList>();
    QTest::newRow("no items") << "[]" << "Hello" << std::optional<SpeakerList>();
    QTest::newRow("empty text") << R"J([{"text":"Hello","type":"word","speaker_id":"A"}])J" << "  "
                                << std::optional<SpeakerList>();
}

void SpeakersTest::align()
{
    QFETCH(QString, items);
    QFETCH(QString, text);
    QFETCH(std::optional<SpeakerList>, expected);
    QList<QJsonObject> words;
    for (const QJsonValue &v : QJsonDocument::fromJson(items.toUtf8()).array())
        words.append(v.toObject());
    QCOMPARE(Speakers::align(words, text), expected);
}

DODEDAROV_TEST(SpeakersTest)
#include "SpeakersTest.moc"
