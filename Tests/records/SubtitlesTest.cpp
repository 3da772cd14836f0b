// The subtitle rules: cue grouping, the word and translation readers, the key-term filter and
// the two documents, byte for byte.
#include "TestMain.h"

#include "records/Subtitles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

using Word = Subtitles::Word;
using Cue = Subtitles::Cue;

namespace {

Word word(const QString &text, double start, double end, std::optional<QString> speaker = {})
{
    return Word{text, start, end, std::move(speaker)};
}

// Words one after another with no pause, 0.1 s each.
QList<Word> run(const QStringList &texts)
{
    QList<Word> words;
    for (const QString &text : texts)
        words.append(word(text, words.size() * 0.1, words.size() * 0.1 + 0.1));
    return words;
}

QStringList texts(const QList<Cue> &cues)
{
    QStringList result;
    for (const Cue &cue : cues)
        result.append(cue.text);
    return result;
}

QList<Cue> standardCues(const QList<Word> &words)
{
    return Subtitles::cues(words, 6.0, 84, 32);
}

} // namespace

Q_DECLARE_METATYPE(QList<Word>)
Q_DECLARE_METATYPE(std::optional<QStringList>)

class SubtitlesTest final : public QObject {
    Q_OBJECT

private slots:
    void cuesOfNoWordsAndOneWord()
    {
        QVERIFY(standardCues({}).isEmpty());
        const QList<Cue> one = standardCues({word(QStringLiteral("hello"), 1.5, 2.0, u"s1"_qs)});
        QCOMPARE(one.size(), 1);
        QCOMPARE(one.front(), (Cue{1.5, 2.0, QStringLiteral("hello"), u"s1"_qs, QString()}));
    }

    // The service's word times need not be in order: a cue still lasts until every word of it
    // has ended, and never ends before it starts.
    void cueCoversWordsOutOfOrder()
    {
        const QList<Cue> cues = standardCues({word(QStringLiteral("Hello"), 1.12, 1.12),
                                              word(QStringLiteral("everyone."), 0.52, 1.1)});
        QCOMPARE(cues.size(), 1);
        QCOMPARE(cues.front().start, 1.12);
        QCOMPARE(cues.front().end, 1.12);

        const QList<Cue> longFirst = standardCues({word(QStringLiteral("a"), 0, 5), word(QStringLiteral("b."), 1, 2)});
        QCOMPARE(longFirst.size(), 1);
        QCOMPARE(longFirst.front().end, 5.0);
    }

    void cueBoundaries_data()
    {
        QTest::addColumn<QList<Word>>("words");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("pause of exactly 0.8 s stays")
            << QList<Word>{word("a", 0, 1), word("b", 1.8, 2)} << QStringList{"a b"};
        QTest::newRow("pause of 0.81 s cuts")
            << QList<Word>{word("a", 0, 1), word("b", 1.81, 2)} << QStringList{"a", "b"};
        QTest::newRow("speaker change cuts")
            << QList<Word>{word("a", 0, 1, u"A"_qs), word("b", 1, 2, u"B"_qs)} << QStringList{"a", "b"};
        QTest::newRow("absent speaker between two is no change")
            << QList<Word>{word("a", 0, 1, u"A"_qs), word("b", 1, 2), word("c", 2, 3, u"B"_qs)}
            << QStringList{"a b c"};
        QTest::newRow("full-width question mark closes a lone word")
            << QList<Word>{word("好？", 0, 1), word("b", 1, 2)} << QStringList{"好？", "b"};
        QTest::newRow("full stop closes")
            << QList<Word>{word("end.", 0, 1), word("next", 1, 2)} << QStringList{"end.", "next"};
        QTest::newRow("comma does not close")
            << QList<Word>{word("one,", 0, 1), word("two", 1, 2)} << QStringList{"one, two"};
        QTest::newRow("duration over 6 s cuts")
            << QList<Word>{word("a", 0, 1), word("b", 1, 6.0)} << QStringList{"a b"};
        QTest::newRow("duration just over 6 s cuts")
            << QList<Word>{word("a", 0, 1), word("b", 1, 6.01)} << QStringList{"a", "b"};

        // Latin limit 84: twelve 6-letter words joined take 12*6+11 = 83, the 13th reaches 90.
        const QStringList latin(13, QStringLiteral("abcdef"));
        QTest::newRow("latin candidate over 84 cuts")
            << run(latin) << QStringList{QStringList(12, "abcdef").join(' '), "abcdef"};
        // 12 words of 6 letters plus one of 0..: 83 + blank + "a" = 85 cuts, 83 + "" impossible;
        // exactly 84: eleven words (76) + blank + seven letters = 84 fits.
        QStringList exact(11, QStringLiteral("abcdef"));
        exact.append(QStringLiteral("abcdefg"));
        QTest::newRow("latin candidate of exactly 84 fits") << run(exact) << QStringList{exact.join(' ')};

        // Chinese limit 32: any ideograph switches the limit.
        QStringList han(32, QStringLiteral("字"));
        QTest::newRow("32 ideographs fit") << run(han) << QStringList{han.join(QString())};
        han.append(QStringLiteral("多"));
        QTest::newRow("33rd ideograph cuts")
            << run(han) << QStringList{QStringList(32, "字").join(QString()), "多"};
        QStringList mixed(20, QStringLiteral("ab"));
        mixed.append(QStringLiteral("字"));
        QTest::newRow("one ideograph makes the limit 32")
            << run(mixed) << QStringList{QStringList(20, "ab").join(' '), "字"};
    }

    void cueBoundaries()
    {
        QFETCH(QList<Word>, words);
        QFETCH(QStringList, expected);
        QCOMPARE(texts(standardCues(words)), expected);
    }

    // A group of 5 words overflows at the sixth; where the last clause mark sits decides the cut.
    void splitAtClauseMark_data()
    {
        QTest::addColumn<int>("commaAt"); // 1-based word of the group ending in ","
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("word 4") << 4 << QStringList{"w1 w2 w3 w4,", "w5 w6"};
        QTest::newRow("word 3 (past half)") << 3 << QStringList{"w1 w2 w3,", "w4 w5 w6"};
        QTest::newRow("word 2 (first half)") << 2 << QStringList{"w1 w2, w3 w4 w5", "w6"};
        QTest::newRow("word 5 (last)") << 5 << QStringList{"w1 w2 w3 w4 w5,", "w6"};
        QTest::newRow("none") << 0 << QStringList{"w1 w2 w3 w4 w5", "w6"};
    }

    void splitAtClauseMark()
    {
        QFETCH(int, commaAt);
        QFETCH(QStringList, expected);
        QList<Word> words;
        for (int i = 1; i <= 6; ++i) {
            QString text = QStringLiteral("w%1").arg(i);
            if (i == commaAt)
                text += u',';
            // The sixth word pushes the group past the 6 s limit.
            words.append(word(text, i - 1, i == 6 ? 7.0 : i - 0.5));
        }
        const QList<Cue> cues = standardCues(words);
        QCOMPARE(texts(cues), expected);
        QCOMPARE(cues.back().end, 7.0);
    }

    void joinRule_data()
    {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QString>("joined");
        QTest::newRow("english words") << QStringList{"hello", "world"} << "hello world";
        QTest::newRow("ascii comma keeps the blank") << QStringList{"hello,", "world"} << "hello, world";
        QTest::newRow("chinese then english") << QStringList{"我们", "Apple"} << "我们Apple";
        QTest::newRow("english then chinese") << QStringList{"Apple", "公司"} << "Apple公司";
        QTest::newRow("english then full stop") << QStringList{"end", "。"} << "end。";
        QTest::newRow("kana") << QStringList{"Tokyo", "です"} << "Tokyoです";
        QTest::newRow("closing quote") << QStringList{"“AI”", "model"} << "“AI”model";
        QTest::newRow("opening quote") << QStringList{"say", "“hi"} << "say“hi";
        QTest::newRow("ellipsis") << QStringList{"well…", "ok"} << "well…ok";
        QTest::newRow("middle dot") << QStringList{"Jean", "·Paul"} << "Jean·Paul";
    }

    void joinRule()
    {
        QFETCH(QStringList, words);
        QFETCH(QString, joined);
        QCOMPARE(texts(standardCues(run(words))), QStringList{joined});
    }

    void keyterms_data()
    {
        QTest::addColumn<QStringList>("terms");
        QTest::addColumn<QStringList>("kept");
        const QString fifty(50, u'x');
        const QString fiftyOne(51, u'y');
        QTest::newRow("50 characters kept, 51 dropped") << QStringList{fifty, fiftyOne} << QStringList{fifty};
        QTest::newRow("counts characters, not UTF-16")
            << QStringList{QString(50, u'字'), QStringLiteral("😀").repeated(50)}
            << QStringList{QString(50, u'字'), QStringLiteral("😀").repeated(50)};
        QTest::newRow("five words kept, six dropped")
            << QStringList{"a b c d e", "a b c d e f"} << QStringList{"a b c d e"};
        QTest::newRow("only U+0020 splits")
            << QStringList{"a\tb\tc\td\te\tf", "a  b  c"} << QStringList{"a\tb\tc\td\te\tf", "a  b  c"};
        QTest::newRow("later case variant dropped")
            << QStringList{"OpenAI", "openai", "OPENAI", "Other"} << QStringList{"OpenAI", "Other"};
        QTest::newRow("empty skipped, untrimmed kept") << QStringList{"", " pad "} << QStringList{" pad "};
    }

    void keyterms()
    {
        QFETCH(QStringList, terms);
        QFETCH(QStringList, kept);
        QCOMPARE(Subtitles::keyterms(terms), kept);
    }

    void keytermsCapAt100()
    {
        QStringList terms;
        for (int i = 0; i < 150; ++i)
            terms.append(QStringLiteral("term%1").arg(i));
        const QStringList kept = Subtitles::keyterms(terms);
        QCOMPARE(kept.size(), 100);
        QCOMPARE(kept.back(), QStringLiteral("term99"));
    }

    void parseWords()
    {
        const QByteArray body = R"json({"language_code":"en","words":[
            {"text":"Hello","start":0.1,"end":0.5,"type":"word","speaker_id":"speaker_0"},
            {"text":" ","start":0.5,"end":0.6,"type":"spacing","speaker_id":"speaker_0"},
            {"text":"(laughs)","start":0.6,"end":0.9,"type":"audio_event"},
            {"text":"\u3000 ","start":1,"end":1.2,"type":"word"},
            {"text":"bad","start":"1","end":2,"type":"word"},
            {"text":"\u00a0world\t","start":1,"end":0.5},
            {"text":"line\n","start":2,"end":3,"type":7,"speaker_id":3},
            {"text":"x","start":3},
            {"text":5,"start":3,"end":4}
        ]})json";
        const auto parsed = Subtitles::parseWords(body);
        QVERIFY(parsed);
        QCOMPARE(parsed->language, QStringLiteral("en"));
        const QList<Word> expected{
            word("Hello", 0.1, 0.5, u"speaker_0"_qs),
            word("world", 1, 1), // end raised to start
            word("line\n", 2, 3), // a non-string type counts as a word; line breaks stay
        };
        QCOMPARE(parsed->words, expected);
    }

    void parseWordsUnusable_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("not json") << QByteArray("<html>");
        QTest::newRow("array") << QByteArray("[]");
        QTest::newRow("no words") << QByteArray(R"({"text":"hi"})");
        QTest::newRow("words not array") << QByteArray(R"({"words":{}})");
        QTest::newRow("element not object") << QByteArray(R"({"words":[{"text":"a","start":0,"end":1},3]})");
    }

    void parseWordsUnusable()
    {
        QFETCH(QByteArray, body);
        QVERIFY(!Subtitles::parseWords(body));
    }

    void parseWordsEmptyAndNoLanguage()
    {
        const auto parsed = Subtitles::parseWords(R"({"words":[]})");
        QVERIFY(parsed);
        QVERIFY(parsed->words.isEmpty());
        QCOMPARE(parsed->language, QString());
    }

    void parseTranslations_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("count");
        QTest::addColumn<std::optional<QStringList>>("expected");
        QTest::newRow("prose around, mixed items")
            << QStringLiteral("好的：{\"t\":[\"一\", 2, \"三\\n行 \"]} 完") << 4
            << std::optional<QStringList>(QStringList{"一", "", "三 行", ""});
        QTest::newRow("cut to count")
            << QStringLiteral("{\"t\":[\"a\",\"b\",\"c\"]}") << 2 << std::optional<QStringList>(QStringList{"a", "b"});
        QTest::newRow("no closing brace") << QStringLiteral("{\"t\":[\"a\"]") << 1 << std::optional<QStringList>();
        QTest::newRow("t not array") << QStringLiteral("{\"t\":\"a\"}") << 1 << std::optional<QStringList>();
        QTest::newRow("not json") << QStringLiteral("{t}") << 1 << std::optional<QStringList>();
        QTest::newRow("trims tabs and Zs only")
            << QStringLiteral("{\"t\":[\"\\t\u3000译\u00a0 \"]}") << 1 << std::optional<QStringList>(QStringList{"译"});
    }

    void parseTranslations()
    {
        QFETCH(QString, reply);
        QFETCH(int, count);
        QFETCH(std::optional<QStringList>, expected);
        QCOMPARE(Subtitles::parseTranslations(reply, count), expected);
    }

    void times_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("timestamp");
        QTest::addColumn<QString>("clock");
        QTest::newRow("zero") << 0.0 << "00:00:00,000" << "00:00:00";
        QTest::newRow("negative") << -1.0 << "00:00:00,000" << "00:00:00";
        QTest::newRow("hour minute second") << 3661.5 << "01:01:01,500" << "01:01:01";
        QTest::newRow("rounds up to the minute") << 59.9996 << "00:01:00,000" << "00:00:59";
        QTest::newRow("clock truncates") << 59.9 << "00:00:59,900" << "00:00:59";
        QTest::newRow("100 hours") << 360000.0 << "100:00:00,000" << "100:00:00";
        QTest::newRow("beyond any media is held at 100000 hours")
            << 1.1e52 << "100000:00:00,000" << "100000:00:00";
        QTest::newRow("not a number") << std::nan("") << "00:00:00,000" << "00:00:00";
    }

    void times()
    {
        QFETCH(double, seconds);
        QFETCH(QString, timestamp);
        QFETCH(QString, clock);
        QCOMPARE(Subtitles::timestamp(seconds), timestamp);
        QCOMPARE(Subtitles::clock(seconds), clock);
    }

    void srtDocument()
    {
        const QList<Cue> cues{
            {1.0, 1.0, QStringLiteral("Hello"), u"a"_qs, QStringLiteral("你好")},
            {2.0, 4.25, QStringLiteral("untranslated"), u"a"_qs, QString()},
        };
        QCOMPARE(Subtitles::srt(cues, true),
                 QStringLiteral("1\n00:00:01,000 --> 00:00:01,300\n你好\nHello\n\n"
                                "2\n00:00:02,000 --> 00:00:04,250\nuntranslated\n\n"));
        QCOMPARE(Subtitles::srt(cues, false),
                 QStringLiteral("1\n00:00:01,000 --> 00:00:01,300\nHello\n\n"
                                "2\n00:00:02,000 --> 00:00:04,250\nuntranslated\n\n"));
        QCOMPARE(Subtitles::srt({}, true), QString());
    }

    // Times outside the media are held at zero before a cue gets its shortest showing time, so
    // no cue ends where it begins.
    void srtTimesOutsideTheMedia_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("end");
        QTest::addColumn<QString>("times");
        QTest::newRow("both negative") << -2.0 << -1.0 << "00:00:00,000 --> 00:00:00,300";
        QTest::newRow("negative start, short end") << -1.0 << 0.1 << "00:00:00,000 --> 00:00:00,300";
        QTest::newRow("negative start, long end") << -1.0 << 2.0 << "00:00:00,000 --> 00:00:02,000";
        QTest::newRow("start not a number") << std::nan("") << std::nan("") << "00:00:00,000 --> 00:00:00,300";
    }

    void srtTimesOutsideTheMedia()
    {
        QFETCH(double, start);
        QFETCH(double, end);
        QFETCH(QString, times);
        const QList<Cue> cues{{start, end, QStringLiteral("Hi"), std::nullopt, QString()}};
        QCOMPARE(Subtitles::srt(cues, false), QStringLiteral("1\n") + times + QStringLiteral("\nHi\n\n"));
    }

    // A line break inside a text would end the SRT block early and shift every later cue.
    void lineBreaksBecomeBlanks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("LF") << QStringLiteral("a\nb");
        QTest::newRow("CR") << QStringLiteral("a\rb");
        QTest::newRow("CRLF") << QStringLiteral("a\r\nb");
        QTest::newRow("NEL") << QStringLiteral("a\u0085b");
        QTest::newRow("line separator") << QStringLiteral("a\u2028b");
        QTest::newRow("paragraph separator") << QStringLiteral("a\u2029b");
    }

    void lineBreaksBecomeBlanks()
    {
        QFETCH(QString, text);
        const QList<Cue> cues{{0, 1, text, std::nullopt, text}};
        QCOMPARE(Subtitles::srt(cues, true), QStringLiteral("1\n00:00:00,000 --> 00:00:01,000\na b\na b\n\n"));
        QCOMPARE(Subtitles::transcript(cues, QStringLiteral("t")),
                 QStringLiteral("泰萨利字幕 字幕文稿\n来源：t\n\n00:00:00  a b\n          a b\n\n"));
    }

    void transcriptDocument()
    {
        const QList<Cue> cues{
            {0, 1, QStringLiteral("first"), u"A"_qs, QString()},
            {1, 2, QStringLiteral("no speaker"), std::nullopt, QString()},
            {2, 3, QStringLiteral("back to A"), u"A"_qs, QStringLiteral("回到 A")},
            {3, 4, QStringLiteral("still A"), u"A"_qs, QString()},
            {3725, 3726, QStringLiteral("B talks"), u"B"_qs, QString()},
        };
        QCOMPARE(Subtitles::transcript(cues, QStringLiteral("talk.mp4")),
                 QStringLiteral("泰萨利字幕 字幕文稿\n来源：talk.mp4\n\n"
                                "00:00:00  first\n\n"
                                "00:00:01  no speaker\n\n"
                                "—— 换人 ——\n\n"
                                "00:00:02  回到 A\n          back to A\n\n"
                                "00:00:03  still A\n\n"
                                "—— 换人 ——\n\n"
                                "01:02:05  B talks\n\n"));
        QCOMPARE(Subtitles::transcript({}, QStringLiteral("x")), QStringLiteral("泰萨利字幕 字幕文稿\n来源：x\n\n"));
        // The first cue never carries a turn mark.
        QVERIFY(!Subtitles::transcript({{0, 1, "a", u"B"_qs, {}}}, "x").contains(QStringLiteral("换人")));
    }
};

DODEDAROV_TEST(SubtitlesTest)
#include "SubtitlesTest.moc"
