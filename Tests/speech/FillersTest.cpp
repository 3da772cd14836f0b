#include "TestMain.h"

#include "speech/Fillers.h"

class FillersTest final : public QObject {
    Q_OBJECT

private slots:
    void strip_data();
    void strip();
    void isNoise_data();
    void isNoise();
    void dropStrayQuotes_data();
    void dropStrayQuotes();
};

void FillersTest::strip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("chinese untouched") << u"嗯，我们开始吧"_qs << u"嗯，我们开始吧"_qs;
    QTest::newRow("chinese with english filler untouched") << u"um 我们"_qs << u"um 我们"_qs;
    QTest::newRow("only a sound") << u"um"_qs << u""_qs;
    QTest::newRow("only sounds") << u"Uh, um."_qs << u""_qs;
    QTest::newRow("sound between commas") << u"So, uh, I think"_qs << u"So I think"_qs;
    QTest::newRow("sentence end moves back") << u"we agree, um."_qs << u"we agree."_qs;
    QTest::newRow("question moves back") << u"is it ready, uh?"_qs << u"is it ready?"_qs;
    QTest::newRow("end not doubled") << u"done. um."_qs << u"done."_qs;
    QTest::newRow("semicolon before moved end") << u"we agree; um!"_qs << u"we agree!"_qs;
    QTest::newRow("comma only after the sound") << u"we uh, go"_qs << u"we go"_qs;
    QTest::newRow("sound without comma") << u"I uh think so"_qs << u"I think so"_qs;
    QTest::newRow("every sound")
        << u"a uh uhh um umm uhm erm er ah ahh hmm hm mm mmm mm-hmm mhm uh-huh b"_qs << u"a b"_qs;
    QTest::newRow("hyphenated sound") << u"mm-hmm, yes"_qs << u"yes"_qs;
    QTest::newRow("dashes around a sound") << u"we --uh-- go"_qs << u"we go"_qs;
    QTest::newRow("trailing dots on a leading sound") << u"hmm... okay"_qs << u"okay"_qs;
    QTest::newRow("you know between commas") << u"I think, you know, it works"_qs << u"I think, it works"_qs;
    QTest::newRow("like between commas") << u"It was, like, great"_qs << u"It was, great"_qs;
    QTest::newRow("i mean between commas") << u"Yes, I mean, no"_qs << u"Yes, no"_qs;
    QTest::newRow("kind of between commas") << u"It was, kind of, fine"_qs << u"It was, fine"_qs;
    QTest::newRow("sort of between commas") << u"It was, sort of, fine"_qs << u"It was, fine"_qs;
    QTest::newRow("phrase at the start") << u"you know, right"_qs << u"right"_qs;
    QTest::newRow("like at the start keeps the capital") << u"Like, we go"_qs << u"We go"_qs;
    QTest::newRow("capital after a sound") << u"Um, we should"_qs << u"We should"_qs;
    QTest::newRow("lowercase input stays lowercase") << u"um, we should"_qs << u"we should"_qs;
    QTest::newRow("like as a verb") << u"I like it"_qs << u"I like it"_qs;
    QTest::newRow("you know without comma") << u"you know what"_qs << u"you know what"_qs;
    QTest::newRow("comma inside the phrase") << u"we, you, know, did"_qs << u"we, you, know, did"_qs;
    QTest::newRow("phrase not after a comma") << u"we like, did"_qs << u"we like, did"_qs;
    QTest::newRow("two phrases in a row") << u"we, like, you know, did"_qs << u"we, did"_qs;
    QTest::newRow("leading commas dropped") << u", ; so"_qs << u"so"_qs;
    QTest::newRow("extra spaces") << u"  we   go  "_qs << u"we go"_qs;
    QTest::newRow("punctuation only") << u"... —"_qs << u""_qs;
}

void FillersTest::strip()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(Fillers::strip(text), expected);
}

void FillersTest::isNoise_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("noise");

    QTest::newRow("ellipsis") << u"…"_qs << true;
    QTest::newRow("empty") << u""_qs << true;
    QTest::newRow("one letter") << u"a"_qs << true;
    QTest::newRow("one ideograph") << u"好。"_qs << true;
    QTest::newRow("doubled hum") << u"嗯嗯。"_qs << true;
    QTest::newRow("english hum") << u"Hmm!"_qs << true;
    QTest::newRow("spaced um") << u"U m."_qs << true;
    QTest::newRow("japanese hesitation") << u"えっと、"_qs << true;
    QTest::newRow("long vowel mark") << u"うーん"_qs << true;
    QTest::newRow("one digit") << u"5"_qs << false;
    QTest::newRow("ok") << u"ok"_qs << false;
    QTest::newRow("two chinese words") << u"嗯，好"_qs << false;
    QTest::newRow("sentence") << u"We start now."_qs << false;
}

void FillersTest::isNoise()
{
    QFETCH(QString, text);
    QFETCH(bool, noise);
    QCOMPARE(Fillers::isNoise(text), noise);
}

void FillersTest::dropStrayQuotes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("one at the start") << u"\" We start now."_qs << u"We start now."_qs;
    QTest::newRow("three") << u"He said \"go\" now\""_qs << u"He said go now"_qs;
    QTest::newRow("a pair") << u"He said \"go\" now"_qs << u"He said \"go\" now"_qs;
    QTest::newRow("none, untrimmed") << u" plain "_qs << u" plain "_qs;
    QTest::newRow("curly quotes not counted") << u"“go"_qs << u"“go"_qs;
}

void FillersTest::dropStrayQuotes()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(Fillers::dropStrayQuotes(text), expected);
}

DODEDAROV_TEST(FillersTest)
#include "FillersTest.moc"
