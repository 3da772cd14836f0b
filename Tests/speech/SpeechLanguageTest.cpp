#include "TestMain.h"

#include "speech/SpeechLanguage.h"

#include <QHash>

class SpeechLanguageTest final : public QObject {
    Q_OBJECT

private slots:
    void verdict_data();
    void verdict();
    void foreignWords_data();
    void foreignWords();
    void behavesLikeItsEnumeration();
};

void SpeechLanguageTest::verdict_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");

    QTest::newRow("empty") << u""_qs << int(SpeechLanguage::english);
    QTest::newRow("english") << u"We will start with the budget."_qs << int(SpeechLanguage::english);
    QTest::newRow("one cyrillic word") << u"Привет"_qs << int(SpeechLanguage::other);
    QTest::newRow("spanish markers") << u"gracias por todo, muy bien"_qs << int(SpeechLanguage::other);
    QTest::newRow("chinese with an english word") << u"我们 meeting"_qs << int(SpeechLanguage::chinese);
    QTest::newRow("accented latin") << u"café au lait"_qs << int(SpeechLanguage::english);
    QTest::newRow("chinese") << u"我们今天讨论预算。"_qs << int(SpeechLanguage::chinese);
    QTest::newRow("english outnumbers ideographs")
        << u"the 预 budget review"_qs << int(SpeechLanguage::english);
    QTest::newRow("japanese") << u"今日は雨です"_qs << int(SpeechLanguage::other);
    QTest::newRow("korean") << u"감사합니다"_qs << int(SpeechLanguage::other);
    QTest::newRow("one foreign word among nine")
        << u"one two three four five six seven eight Ω"_qs << int(SpeechLanguage::other);
    QTest::newRow("one foreign word among ten")
        << u"one two three four five six seven eight nine Ω"_qs << int(SpeechLanguage::english);
    QTest::newRow("two foreign words among many")
        << u"one two three four five six seven eight nine ten Ω Ψ"_qs << int(SpeechLanguage::other);
    QTest::newRow("latin extended letters are latin") << u"ǿ ḁ ŵ"_qs << int(SpeechLanguage::english);
    QTest::newRow("symbols never make a word foreign")
        << u"price → €5 ✓"_qs << int(SpeechLanguage::english);
    QTest::newRow("one foreign among chinese") << u"我们 Ω"_qs << int(SpeechLanguage::other);
}

void SpeechLanguageTest::verdict()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    QCOMPARE(int(SpeechLanguage(text).value()), expected);
}

void SpeechLanguageTest::foreignWords_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<bool>("foreign");

    QTest::newRow("ascii") << u"hello"_qs << false;
    QTest::newRow("latin-1 accent") << u"café"_qs << false;
    QTest::newRow("end of latin extended-b U+024F") << u"\u024F"_qs << false;
    QTest::newRow("ipa U+0250") << u"\u0250"_qs << true;
    QTest::newRow("latin extended additional U+1E00") << u"\u1E00"_qs << false;
    QTest::newRow("latin extended additional U+1EFF") << u"\u1EFF"_qs << false;
    QTest::newRow("after latin extended additional U+1F00") << u"\u1F00"_qs << true;
    QTest::newRow("cyrillic") << u"да"_qs << true;
    QTest::newRow("greek") << u"λόγος"_qs << true;
    QTest::newRow("arabic") << u"سلام"_qs << true;
    QTest::newRow("thai") << u"สวัสดี"_qs << true;
    QTest::newRow("ideograph") << u"好"_qs << false;
    QTest::newRow("ideograph with punctuation") << u"好，"_qs << false;
    QTest::newRow("kana") << u"テ"_qs << true;
    QTest::newRow("kana symbol without letter") << u"\u30FB"_qs << true;
    QTest::newRow("decomposed accent: the mark is no latin scalar") << u"e\u0301"_qs << true;
    QTest::newRow("symbols") << u"€→✓"_qs << false;
    QTest::newRow("emoji") << u"👍🏽"_qs << false;
}

void SpeechLanguageTest::foreignWords()
{
    QFETCH(QString, word);
    QFETCH(bool, foreign);
    QCOMPARE(SpeechLanguage::isForeignWord(word), foreign);
}

void SpeechLanguageTest::behavesLikeItsEnumeration()
{
    const SpeechLanguage chinese(u"我们开始吧"_qs);
    QVERIFY(chinese == SpeechLanguage::chinese);
    QVERIFY(chinese != SpeechLanguage::english);
    std::optional<SpeechLanguage> none;
    QVERIFY(none != SpeechLanguage::chinese);
    none = chinese;
    QVERIFY(none == SpeechLanguage::chinese);
    QHash<SpeechLanguage, int> counts;
    ++counts[SpeechLanguage::english];
    ++counts[chinese];
    ++counts[SpeechLanguage(u"好"_qs)];
    QCOMPARE(counts.value(SpeechLanguage::chinese), 2);
    QCOMPARE(counts.value(SpeechLanguage::other), 0);
}

DODEDAROV_TEST(SpeechLanguageTest)
#include "SpeechLanguageTest.moc"
