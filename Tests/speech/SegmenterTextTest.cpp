#include "TestMain.h"

#include "speech/Segmenter.h"

// The shared text rules: what a word is, where spaces go, what ends a sentence.
class SegmenterTextTest final : public QObject {
    Q_OBJECT

private slots:
    void words_data();
    void words();
    void join_data();
    void join();
    void endsSentence_data();
    void endsSentence();
    void isOpenEnding_data();
    void isOpenEnding();
    void isDangling_data();
    void isDangling();
    void characterClasses_data();
    void characterClasses();
    void isVerbFinal_data();
    void isVerbFinal();
    void characterWords_data();
    void characterWords();
    void looksNonEnglishLatin_data();
    void looksNonEnglishLatin();
    void canCutAfter_data();
    void canCutAfter();
};

void SegmenterTextTest::words_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("empty") << u""_qs << QStringList();
    QTest::newRow("only blanks") << u"   "_qs << QStringList();
    QTest::newRow("latin keeps punctuation") << u"Hello, world!"_qs << QStringList{u"Hello,"_qs, u"world!"_qs};
    QTest::newRow("tabs, newlines, ideographic space")
        << u"你好\u3000world\tok\n yes"_qs << QStringList{u"你"_qs, u"好"_qs, u"world"_qs, u"ok"_qs, u"yes"_qs};
    QTest::newRow("chinese with a latin word")
        << u"我们在 Apple 工作。"_qs << QStringList{u"我"_qs, u"们"_qs, u"在"_qs, u"Apple"_qs, u"工"_qs, u"作。"_qs};
    QTest::newRow("leading punctuation is its own word")
        << u"，你好"_qs << QStringList{u"，"_qs, u"你"_qs, u"好"_qs};
    QTest::newRow("punctuation attaches across pieces") << u"hi 。你"_qs << QStringList{u"hi。"_qs, u"你"_qs};
    QTest::newRow("letters keep following punctuation")
        << u"abc，好"_qs << QStringList{u"abc，"_qs, u"好"_qs};
    QTest::newRow("letters and digits run together")
        << u"iPhone15发布"_qs << QStringList{u"iPhone15"_qs, u"发"_qs, u"布"_qs};
    QTest::newRow("digits after an ideograph are a word")
        << u"在2024年"_qs << QStringList{u"在"_qs, u"2024"_qs, u"年"_qs};
    QTest::newRow("decimal before an ideograph") << u"3.5倍"_qs << QStringList{u"3.5"_qs, u"倍"_qs};
    QTest::newRow("ideograph after latin in one piece")
        << u"Apple的"_qs << QStringList{u"Apple"_qs, u"的"_qs};
    QTest::newRow("kana are characters") << u"テスト"_qs << QStringList{u"テ"_qs, u"ス"_qs, u"ト"_qs};
    QTest::newRow("brackets around an ideograph")
        << u"「好」"_qs << QStringList{u"「"_qs, u"好」"_qs};
    QTest::newRow("decomposed kana stays one character")
        << u"か\u3099い"_qs << QStringList{u"か\u3099"_qs, u"い"_qs};
}

void SegmenterTextTest::words()
{
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    QCOMPARE(Segmenter::words(text), expected);
}

void SegmenterTextTest::join_data()
{
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QString>("expected");

    QTest::newRow("nothing") << QStringList() << u""_qs;
    QTest::newRow("latin words") << QStringList{u"a"_qs, u"b"_qs} << u"a b"_qs;
    QTest::newRow("latin then chinese") << QStringList{u"Hello"_qs, u"世界"_qs} << u"Hello世界"_qs;
    QTest::newRow("chinese then latin") << QStringList{u"用"_qs, u"Swift"_qs} << u"用Swift"_qs;
    QTest::newRow("chinese characters") << QStringList{u"我"_qs, u"们"_qs} << u"我们"_qs;
    QTest::newRow("chinese punctuation") << QStringList{u"好"_qs, u"，"_qs} << u"好，"_qs;
    QTest::newRow("latin before chinese punctuation") << QStringList{u"ok"_qs, u"。"_qs} << u"ok。"_qs;
    QTest::newRow("latin after chinese punctuation") << QStringList{u"“"_qs, u"Swift"_qs} << u"“Swift"_qs;
    QTest::newRow("kana") << QStringList{u"テスト"_qs, u"ok"_qs} << u"テストok"_qs;
    QTest::newRow("whitespace already there") << QStringList{u"a "_qs, u"b"_qs, u"\tc"_qs} << u"a b\tc"_qs;
    QTest::newRow("empty words add nothing") << QStringList{u"a"_qs, u""_qs, u"b"_qs} << u"a b"_qs;
    QTest::newRow("ideograph with a variation selector")
        << QStringList{u"葛\U000E0100"_qs, u"ok"_qs} << u"葛\U000E0100ok"_qs;
}

void SegmenterTextTest::join()
{
    QFETCH(QStringList, words);
    QFETCH(QString, expected);
    QCOMPARE(Segmenter::join(words), expected);
    // The same rule decides each pair; a slice joins like the list it came from.
    if (words.size() >= 2) {
        const QString tail = Segmenter::join(std::span(words.constData() + 1, size_t(words.size() - 1)));
        QCOMPARE(Segmenter::join(QStringList(words.mid(1))), tail);
    }
}

void SegmenterTextTest::endsSentence_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<bool>("expected");

    QTest::newRow("full stop") << u"done."_qs << true;
    QTest::newRow("question") << u"really?"_qs << true;
    QTest::newRow("exclamation") << u"wait!"_qs << true;
    QTest::newRow("chinese full stop") << u"好。"_qs << true;
    QTest::newRow("chinese question") << u"吗？"_qs << true;
    QTest::newRow("chinese exclamation") << u"好！"_qs << true;
    QTest::newRow("no ender") << u"done"_qs << false;
    QTest::newRow("comma") << u"done,"_qs << false;
    QTest::newRow("empty") << u""_qs << false;
    QTest::newRow("only closing marks") << u"\"')"_qs << false;
    QTest::newRow("ellipsis") << u"wait.."_qs << false;
    QTest::newRow("three dots") << u"so..."_qs << false;
    QTest::newRow("initial") << u"J."_qs << false;
    QTest::newRow("lowercase initial") << u"a."_qs << false;
    QTest::newRow("number") << u"5."_qs << true;
    QTest::newRow("three characters") << u"ok."_qs << true;
    QTest::newRow("decomposed accent initial") << u"e\u0301."_qs << false;
    QTest::newRow("abbreviation in capitals") << u"DR."_qs << false;
    QTest::newRow("abbreviation in quotes") << u"\"Mr.\""_qs << false;

    const char16_t *closing[] = {u"\"", u"'", u"\u201D", u"\u2019", u")", u"]", u"\uFF09", u"\u300D", u"\u300F"};
    for (const char16_t *mark : closing) {
        const QString word = u"done."_qs + QString::fromUtf16(mark);
        QTest::addRow("closing %s", qPrintable(word)) << word << true;
    }
    QTest::newRow("ideograph in corner brackets") << u"好。」"_qs << true;
    QTest::newRow("leading quote") << u"\"Done."_qs << true;

    const char16_t *abbreviations[] = {u"Mr.", u"Mrs.", u"Ms.", u"Dr.", u"Prof.", u"Sr.", u"Jr.",
                                       u"St.", u"vs.", u"No.", u"e.g.", u"i.e.", u"U.S.", u"U.K.",
                                       u"a.m.", u"p.m.", u"Inc.", u"Ltd.", u"Co."};
    for (const char16_t *abbreviation : abbreviations) {
        const QString word = QString::fromUtf16(abbreviation);
        QTest::addRow("abbreviation %s", qPrintable(word)) << word << false;
    }
}

void SegmenterTextTest::endsSentence()
{
    QFETCH(QString, word);
    QFETCH(bool, expected);
    QCOMPARE(Segmenter::endsSentence(word), expected);
}

void SegmenterTextTest::isOpenEnding_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");

    QTest::newRow("but, with comma") << u"行くけど、"_qs << true;
    QTest::newRow("finished japanese") << u"今日は雨です。"_qs << false;
    QTest::newRow("chinese ending in de") << u"这是我的"_qs << false;
    QTest::newRow("chinese ending in kara-like ideograph") << u"我们从"_qs << false;
    QTest::newRow("blank around, full stop") << u"  雨だから。 "_qs << true;
    QTest::newRow("latin full stop") << u"雨だから."_qs << true;
    QTest::newRow("latin comma") << u"雨だから,"_qs << true;
    QTest::newRow("several trimmed") << u"雨だから。、"_qs << true;
    QTest::newRow("question mark is not trimmed") << u"雨だから？"_qs << false;
    QTest::newRow("empty") << u""_qs << false;

    const char16_t *particles[] = {u"雨が", u"行くけど", u"行くけれど", u"行くけれども", u"雨なので",
                                   u"雨だから", u"食べて", u"読んで", u"高いし", u"歩きながら", u"見たり"};
    for (const char16_t *particle : particles) {
        const QString text = QString::fromUtf16(particle) + u"。"_qs;
        QTest::addRow("particle %s", qPrintable(text)) << text << true;
    }
}

void SegmenterTextTest::isOpenEnding()
{
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(Segmenter::isOpenEnding(text), expected);
}

void SegmenterTextTest::isDangling_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");

    QTest::newRow("article") << u"we went to the"_qs << true;
    QTest::newRow("preposition with full stop") << u"we went to."_qs << false;
    QTest::newRow("preposition with comma") << u"we went to,"_qs << true;
    QTest::newRow("capitalised") << u"and The"_qs << true;
    QTest::newRow("bracketed") << u"(the"_qs << true;
    QTest::newRow("auxiliary") << u"it would"_qs << true;
    QTest::newRow("pronoun") << u"and then I"_qs << true;
    QTest::newRow("hesitation") << u"we um"_qs << true;
    QTest::newRow("content word") << u"we went home"_qs << false;
    QTest::newRow("question") << u"is it?"_qs << false;
    QTest::newRow("empty") << u""_qs << false;
    QTest::newRow("chinese particle") << u"这是我的"_qs << false;
}

void SegmenterTextTest::isDangling()
{
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(Segmenter::isDangling(text), expected);
}

void SegmenterTextTest::characterClasses_data()
{
    QTest::addColumn<uint>("scalar");
    QTest::addColumn<bool>("cjk");
    QTest::addColumn<bool>("kana");

    QTest::newRow("U+4E00") << 0x4E00u << true << false;
    QTest::newRow("U+9FFF") << 0x9FFFu << true << false;
    QTest::newRow("U+3400") << 0x3400u << true << false;
    QTest::newRow("U+4DBF") << 0x4DBFu << true << false;
    QTest::newRow("U+F900") << 0xF900u << true << false;
    QTest::newRow("U+FAFF") << 0xFAFFu << true << false;
    QTest::newRow("U+4DC0 hexagram") << 0x4DC0u << false << false;
    QTest::newRow("U+A000 yi") << 0xA000u << false << false;
    QTest::newRow("U+3002 full stop") << 0x3002u << false << false;
    QTest::newRow("U+20000 extension B") << 0x20000u << false << false;
    QTest::newRow("U+3040") << 0x3040u << false << true;
    QTest::newRow("U+30FF") << 0x30FFu << false << true;
    QTest::newRow("U+31F0") << 0x31F0u << false << true;
    QTest::newRow("U+31FF") << 0x31FFu << false << true;
    QTest::newRow("U+FF66") << 0xFF66u << false << true;
    QTest::newRow("U+FF9D") << 0xFF9Du << false << true;
    QTest::newRow("U+FF65") << 0xFF65u << false << false;
    QTest::newRow("U+FF9E") << 0xFF9Eu << false << false;
    QTest::newRow("U+303F") << 0x303Fu << false << false;
}

void SegmenterTextTest::characterClasses()
{
    QFETCH(uint, scalar);
    QFETCH(bool, cjk);
    QFETCH(bool, kana);
    const char32_t c = scalar;
    const QString character = QString::fromUcs4(&c, 1);
    QCOMPARE(Segmenter::isCJK(character), cjk);
    QCOMPARE(Segmenter::isKana(character), kana);
    // A character belongs to a class when any of its scalars does.
    QCOMPARE(Segmenter::isCJK(character + u"\u0301"_qs), cjk);
    QCOMPARE(Segmenter::isKana(character + u"\uFE0F"_qs), kana);
}

void SegmenterTextTest::isVerbFinal_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");

    QTest::newRow("japanese") << u"行きます"_qs << true;
    QTest::newRow("hangul syllable first") << u"\uAC00"_qs << true;
    QTest::newRow("hangul syllable last") << u"\uD7AF"_qs << true;
    QTest::newRow("hangul jamo") << u"\u1100"_qs << true;
    QTest::newRow("hangul jamo last") << u"\u11FF"_qs << true;
    QTest::newRow("compatibility jamo") << u"\u3130"_qs << true;
    QTest::newRow("compatibility jamo last") << u"\u318F"_qs << true;
    QTest::newRow("korean sentence") << u"감사합니다 여러분"_qs << true;
    QTest::newRow("chinese") << u"我们开始吧"_qs << false;
    QTest::newRow("english") << u"we start now"_qs << false;
    QTest::newRow("after hangul syllables") << u"\uD7B0"_qs << false;
}

void SegmenterTextTest::isVerbFinal()
{
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(Segmenter::isVerbFinal(Segmenter::words(text)), expected);
}

void SegmenterTextTest::characterWords_data()
{
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<bool>("charBased");
    QTest::addColumn<bool>("chinese");

    QTest::newRow("none") << QStringList() << false << false;
    QTest::newRow("chinese") << QStringList{u"我"_qs, u"们"_qs} << true << true;
    QTest::newRow("tie goes to characters")
        << QStringList{u"我"_qs, u"们"_qs, u"hello"_qs, u"world"_qs} << true << true;
    QTest::newRow("more letter words")
        << QStringList{u"我"_qs, u"hello"_qs, u"world"_qs} << false << false;
    QTest::newRow("digits count for neither")
        << QStringList{u"我"_qs, u"2024"_qs, u"3.5"_qs} << true << true;
    QTest::newRow("kana are letters to the chinese test")
        << QStringList{u"我"_qs, u"テ"_qs, u"ス"_qs} << true << false;
    QTest::newRow("kana only") << QStringList{u"テ"_qs, u"ス"_qs} << true << false;
    QTest::newRow("latin only") << QStringList{u"hello"_qs} << false << false;
    QTest::newRow("punctuation only") << QStringList{u"，"_qs} << false << false;
}

void SegmenterTextTest::characterWords()
{
    QFETCH(QStringList, words);
    QFETCH(bool, charBased);
    QFETCH(bool, chinese);
    QCOMPARE(Segmenter::isCharBased(words), charBased);
    QCOMPARE(Segmenter::isChinese(words), chinese);
}

void SegmenterTextTest::looksNonEnglishLatin_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");

    QTest::newRow("spanish") << u"gracias por todo, muy bien"_qs << true;
    QTest::newRow("only two markers") << u"gracias por todo"_qs << false;
    QTest::newRow("punctuation and capitals") << u"¡Gracias! ¿Por favor?"_qs << true;
    QTest::newRow("accented markers") << u"não, você é muito bom"_qs << true;
    QTest::newRow("decomposed accents") << u"tambie\u0301n ma\u0301s aqui\u0301"_qs << true;
    QTest::newRow("german") << u"danke, das ist sehr gut"_qs << true;
    QTest::newRow("english outweighs") << u"de la the is"_qs << false;
    QTest::newRow("english at the limit") << u"de la que the is"_qs << false;
    QTest::newRow("english under the limit") << u"de la que en the"_qs << true;
    QTest::newRow("plain english") << u"the cafe is on the left"_qs << false;
}

void SegmenterTextTest::looksNonEnglishLatin()
{
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(Segmenter::looksNonEnglishLatin(Segmenter::words(text)), expected);
}

void SegmenterTextTest::canCutAfter_data()
{
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("expected");

    const QStringList youKnow{u"so,"_qs, u"you"_qs, u"know,"_qs, u"we"_qs};
    QTest::newRow("after you know") << youKnow << 2 << false;
    QTest::newRow("after a filler") << youKnow << 0 << false;
    QTest::newRow("filler follows") << QStringList{u"first,"_qs, u"um"_qs, u"we"_qs} << 0 << false;
    QTest::newRow("capitalised filler follows") << QStringList{u"first,"_qs, u"Okay,"_qs, u"we"_qs} << 0 << false;
    QTest::newRow("you know follows")
        << QStringList{u"agreed,"_qs, u"you"_qs, u"know,"_qs, u"it"_qs} << 0 << false;
    QTest::newRow("i mean follows")
        << QStringList{u"agreed,"_qs, u"I"_qs, u"mean,"_qs, u"it"_qs} << 0 << false;
    QTest::newRow("after i mean") << QStringList{u"I"_qs, u"mean,"_qs, u"it"_qs} << 1 << false;
    QTest::newRow("mean without i") << QStringList{u"they"_qs, u"mean,"_qs, u"it"_qs} << 1 << true;
    QTest::newRow("dangling word") << QStringList{u"of,"_qs, u"course"_qs} << 0 << false;
    QTest::newRow("plain break") << QStringList{u"agreed,"_qs, u"we"_qs, u"go"_qs} << 0 << true;
    QTest::newRow("last word") << QStringList{u"go"_qs, u"agreed,"_qs} << 1 << true;
    QTest::newRow("know at the start") << QStringList{u"know,"_qs, u"it"_qs} << 0 << true;
    QTest::newRow("index out of range") << QStringList{u"go"_qs} << 3 << false;
}

void SegmenterTextTest::canCutAfter()
{
    QFETCH(QStringList, words);
    QFETCH(int, index);
    QFETCH(bool, expected);
    QCOMPARE(Segmenter::canCutAfter(words, index), expected);
}

DODEDAROV_TEST(SegmenterTextTest)
#include "SegmenterTextTest.moc"
