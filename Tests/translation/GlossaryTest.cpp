#include "TestMain.h"

#include "translation/Glossary.h"

using Rows = QList<QStringList>;

class GlossaryTest final : public QObject {
    Q_OBJECT
private slots:
    void rows_data();
    void rows();
    void entry_data();
    void entry();
    void parseMergesSameTerm();
    void parseBomAndMixedForms();
    void normalize_data();
    void normalize();
    void isChinese_data();
    void isChinese();
    void aliases();
    void matches_data();
    void matches();
    void matchesStopsAtLimit();
    void keyterms();
    void keytermsLimit();
};

void GlossaryTest::rows_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Rows>("expected");

    QTest::newRow("bom dropped") << QStringLiteral("\uFEFFfoo,富\nbar,巴")
                                 << Rows{{"foo", "富"}, {"bar", "巴"}};
    QTest::newRow("tab mode keeps commas")
        << QStringLiteral("a, b\t甲\nc,d") << Rows{{"a, b", "甲"}, {"c,d"}};
    QTest::newRow("tab mode: quotes mean nothing")
        << QStringLiteral("\"x\"\t\"y\"") << Rows{{"\"x\"", "\"y\""}};
    QTest::newRow("tab mode: CR LF gives an empty line")
        << QStringLiteral("a\tb\r\nc\td") << Rows{{"a", "b"}, {""}, {"c", "d"}};
    QTest::newRow("quoted comma and doubled quote")
        << QStringLiteral("\"Smith, \"\"Jr\"\"\",史密斯")
        << Rows{{"Smith, \"Jr\"", "史密斯"}};
    QTest::newRow("quote opens after blanks")
        << QStringLiteral("  \"a,b\" ,c") << Rows{{"a,b", "c"}};
    QTest::newRow("quote in the middle is a character")
        << QStringLiteral("ab\"cd,e") << Rows{{"ab\"cd", "e"}};
    QTest::newRow("text after closing quote continues the cell")
        << QStringLiteral("\"ab\"cd,e") << Rows{{"abcd", "e"}};
    QTest::newRow("quoted line break stays")
        << QStringLiteral("\"a\nb\",c\nd") << Rows{{"a\nb", "c"}, {"d"}};
    QTest::newRow("full-width commas split without ascii comma")
        << QStringLiteral("alpha，阿尔法\nbeta，贝塔") << Rows{{"alpha", "阿尔法"}, {"beta", "贝塔"}};
    QTest::newRow("one ascii comma makes full-width ordinary")
        << QStringLiteral("alpha，阿尔法\nbeta,贝塔")
        << Rows{{"alpha，阿尔法"}, {"beta", "贝塔"}};
    QTest::newRow("CR LF is one break in comma mode")
        << QStringLiteral("a,b\r\nc,d") << Rows{{"a", "b"}, {"c", "d"}};
    QTest::newRow("empty line is a row of one empty cell")
        << QStringLiteral("a\n\nb") << Rows{{"a"}, {""}, {"b"}};
    QTest::newRow("trailing line break adds no row")
        << QStringLiteral("a,b\n") << Rows{{"a", "b"}};
    QTest::newRow("trailing separator finishes row")
        << QStringLiteral("a,") << Rows{{"a", ""}};
    QTest::newRow("unicode breaks") << QStringLiteral("a\u2028b\u0085c") << Rows{{"a"}, {"b"}, {"c"}};
    QTest::newRow("empty text") << QString() << Rows{};
}

void GlossaryTest::rows()
{
    QFETCH(QString, text);
    QFETCH(Rows, expected);
    QCOMPARE(Glossary::rows(text), expected);
}

void GlossaryTest::entry_data()
{
    QTest::addColumn<QStringList>("row");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("chinese");
    QTest::addColumn<QString>("source");

    QTest::newRow("english first") << QStringList{"GDP", "国内生产总值"} << true << "GDP"
                                   << "国内生产总值" << "";
    QTest::newRow("chinese first") << QStringList{"国内生产总值", "GDP"} << true << "GDP"
                                   << "国内生产总值" << "";
    QTest::newRow("blank cells dropped") << QStringList{"  ", " GDP ", "", "国内生产总值"} << true
                                         << "GDP" << "国内生产总值" << "";
    QTest::newRow("english only") << QStringList{"Kubernetes"} << true << "Kubernetes" << ""
                                  << "";
    QTest::newRow("auto source") << QStringList{"Acme", "艾克米", "自动研究"} << true << "Acme"
                                 << "艾克米" << "自动研究";
    QTest::newRow("one cell beginning 自动 is no source")
        << QStringList{"自动"} << false << "" << "" << "";
    QTest::newRow("source then one cell split")
        << QStringList{"Acme=艾克米", "自动"} << true << "Acme" << "艾克米" << "自动";
    QTest::newRow("single cell with =") << QStringList{"Acme = 艾克米"} << true << "Acme"
                                        << "艾克米" << "";
    QTest::newRow("single cell with full-width =")
        << QStringList{"Acme＝艾克米"} << true << "Acme" << "艾克米" << "";
    QTest::newRow("single cell with full-width colon")
        << QStringList{"Acme：艾克米"} << true << "Acme" << "艾克米" << "";
    QTest::newRow("two = signs fall back to colon")
        << QStringList{"a=b=c: 甲"} << true << "a=b=c" << "甲" << "";
    QTest::newRow("two = signs and no colon stay one cell")
        << QStringList{"x=y=z"} << true << "x=y=z" << "" << "";
    QTest::newRow("empty first piece is not a split")
        << QStringList{"=甲乙"} << false << "" << "" << "";
    QTest::newRow("header english") << QStringList{"English", "中文"} << false << "" << "" << "";
    QTest::newRow("header TERM") << QStringList{"TERM", "译名"} << false << "" << "" << "";
    QTest::newRow("header 英文") << QStringList{"英文术语", "x"} << false << "" << "" << "";
    QTest::newRow("header 中文") << QStringList{"中文", "x"} << false << "" << "" << "";
    QTest::newRow("header 来源") << QStringList{"来源", "x"} << false << "" << "" << "";
    QTest::newRow("comment") << QStringList{"# notes", "x"} << false << "" << "" << "";
    QTest::newRow("no letters") << QStringList{"123", "一二三"} << false << "" << "" << "";
    QTest::newRow("empty row") << QStringList{"", " "} << false << "" << "" << "";
    QTest::newRow("english 100 kept") << QStringList{QString(100, u'a'), "甲"} << true
                                      << QString(100, u'a') << "甲" << "";
    QTest::newRow("english 101 dropped") << QStringList{QString(101, u'a'), "甲"} << false << ""
                                         << "" << "";
    QTest::newRow("chinese 80 kept") << QStringList{"a", QString(80, u'甲')} << true << "a"
                                     << QString(80, u'甲') << "";
    QTest::newRow("chinese 81 dropped") << QStringList{"a", QString(81, u'甲')} << false << ""
                                        << "" << "";
    QTest::newRow("length counts characters, not code units")
        << QStringList{"a", QString(80, u'甲') + QStringLiteral("\U00020000")} << false << ""
        << "" << "";
    QTest::newRow("fullwidth punctuation is not chinese")
        << QStringList{"abc", "，。"} << true << "abc" << "" << "";
}

void GlossaryTest::entry()
{
    QFETCH(QStringList, row);
    QFETCH(bool, ok);
    const std::optional<GlossaryEntry> e = Glossary::entry(row);
    QCOMPARE(e.has_value(), ok);
    if (!ok)
        return;
    QTEST(e->english, "english");
    QTEST(e->chinese, "chinese");
    QTEST(e->source, "source");
    QVERIFY(!e->id.isNull());
}

void GlossaryTest::parseMergesSameTerm()
{
    const QList<GlossaryEntry> entries = Glossary::parse(QStringLiteral(
        "Machine-Learning,机器学习\nEnglish,中文\nfoo,富\nmachine  learning,机学,自动研究\nbar"));
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries[0].english, QStringLiteral("Machine-Learning"));
    QCOMPARE(entries[0].chinese, QStringLiteral("机学"));
    QCOMPARE(entries[0].source, QStringLiteral("自动研究"));
    QCOMPARE(entries[1].english, QStringLiteral("foo"));
    QCOMPARE(entries[2].english, QStringLiteral("bar"));
    QCOMPARE(entries[2].chinese, QString());

    // The later row wins even with an empty rendering; the first id is kept.
    const QList<GlossaryEntry> again = Glossary::parse(QStringLiteral("foo\t富\nFOO"));
    QCOMPARE(again.size(), 1);
    QCOMPARE(again[0].english, QStringLiteral("foo"));
    QCOMPARE(again[0].chinese, QString());
}

void GlossaryTest::parseBomAndMixedForms()
{
    const QString text = QStringLiteral("Alpha\t阿尔法\nBeta, Gamma\t贝塔");
    const QList<GlossaryEntry> plain = Glossary::parse(text);
    const QList<GlossaryEntry> withBom = Glossary::parse(QChar(0xFEFF) + text);
    QCOMPARE(plain.size(), 2);
    QCOMPARE(withBom.size(), 2);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(withBom[i].english, plain[i].english);
        QCOMPARE(withBom[i].chinese, plain[i].chinese);
    }
    QCOMPARE(plain[1].english, QStringLiteral("Beta, Gamma"));
    QVERIFY(plain[0].id != plain[1].id);
}

void GlossaryTest::normalize_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("case and hyphen") << "Machine-Learning" << "machine learning";
    QTest::newRow("double blanks and comma") << "  machine,  learning!! " << "machine learning";
    QTest::newRow("leading separators") << "--(GPT-4o)" << "gpt 4o";
    QTest::newRow("chinese letters kept") << "人工智能（AI）" << "人工智能 ai";
    QTest::newRow("accents kept") << "Café Über" << "café über";
    QTest::newRow("decomposed accent stays with its letter") << QStringLiteral("Cafe\u0301 x")
                                                           << QStringLiteral("cafe\u0301 x");
    QTest::newRow("mark after punctuation goes with it") << QStringLiteral("a-\u0301b") << "a b";
    QTest::newRow("astral letters kept") << QStringLiteral("\U00020000x-y") << QStringLiteral("\U00020000x y");
    QTest::newRow("only punctuation") << "?!,." << "";
    QTest::newRow("ideographic space") << QStringLiteral("a\u3000b") << "a b";
}

void GlossaryTest::normalize()
{
    QFETCH(QString, text);
    QTEST(Glossary::normalize(text), "expected");
}

void GlossaryTest::isChinese_data()
{
    QTest::addColumn<QString>("character");
    QTest::addColumn<bool>("expected");
    QTest::newRow("first") << QStringLiteral("\u4E00") << true;
    QTest::newRow("last") << QStringLiteral("\u9FFF") << true;
    QTest::newRow("before") << QStringLiteral("\u4DFF") << false;
    QTest::newRow("extension b") << QStringLiteral("\U00020000") << false;
    QTest::newRow("full-width comma") << QStringLiteral("，") << false;
    QTest::newRow("latin") << "a" << false;
}

void GlossaryTest::isChinese()
{
    QFETCH(QString, character);
    QTEST(Glossary::isChinese(character), "expected");
}

void GlossaryTest::aliases()
{
    QCOMPARE(GlossaryEntry("World Health Organization (WHO)", "世卫").aliases(),
             (QStringList{"World Health Organization", "WHO"}));
    QCOMPARE(GlossaryEntry("国际（Intl） Org", "").aliases(), (QStringList{"国际", "Intl", "Org"}));
    QCOMPARE(GlossaryEntry("plain", "").aliases(), QStringList{"plain"});
    QCOMPARE(GlossaryEntry("()", "").aliases(), QStringList{});
}

void GlossaryTest::matches_data()
{
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("chinese");
    QTest::addColumn<QString>("sentence");
    QTest::addColumn<bool>("expected");

    QTest::newRow("alias in english") << "large language model" << "大语言模型"
                                      << "We trained a Large-Language Model today." << true;
    QTest::newRow("plain plural") << "GPU" << "显卡" << "we bought GPUs" << true;
    QTest::newRow("no partial word") << "GPU" << "显卡" << "we bought GPUes" << false;
    QTest::newRow("abbreviation alias") << "World Health Organization (WHO)" << "世卫组织"
                                        << "the who said" << true;
    QTest::newRow("no chinese side never matches") << "GPU" << "  " << "GPU" << false;
    QTest::newRow("chinese sentence by chinese side") << "GPU" << "显卡" << "我们买了显卡。"
                                                      << true;
    QTest::newRow("one-character chinese side does not count")
        << "Kiln" << "窑" << "这是窑" << false;
    QTest::newRow("one-character chinese side, alias still matches")
        << "Kiln" << "窑" << "这是 kiln 的窑" << true;
    QTest::newRow("english sentence not matched by chinese side")
        << "GPU" << "显卡" << "xianka 显卡" << true;
    QTest::newRow("chinese side only in chinese sentence")
        << "Acme" << "ab" << "we said ab" << false;
}

void GlossaryTest::matches()
{
    QFETCH(QString, english);
    QFETCH(QString, chinese);
    QFETCH(QString, sentence);
    QFETCH(bool, expected);
    const QList<GlossaryEntry> entries{GlossaryEntry(english, chinese)};
    QCOMPARE(Glossary::matches(entries, sentence, 20).size(), expected ? 1 : 0);
}

void GlossaryTest::matchesStopsAtLimit()
{
    QList<GlossaryEntry> entries;
    for (int i = 0; i < 5; ++i)
        entries.append(GlossaryEntry(QStringLiteral("term%1").arg(i), QStringLiteral("术语%1").arg(i)));
    const QList<GlossaryEntry> found =
        Glossary::matches(entries, QStringLiteral("term4 term1 term3 term0"), 3);
    QCOMPARE(found.size(), 3);
    QCOMPARE(found[0].english, QStringLiteral("term0"));
    QCOMPARE(found[1].english, QStringLiteral("term1"));
    QCOMPARE(found[2].english, QStringLiteral("term3"));
}

void GlossaryTest::keyterms()
{
    const QList<GlossaryEntry> entries{
        GlossaryEntry("Kubernetes (K8s)", "容器编排"),
        GlossaryEntry("Grafana", ""),
        GlossaryEntry("a b c d e f", ""),
        GlossaryEntry("a  b c d e", ""),
        GlossaryEntry(QString(21, u'x'), ""),
        GlossaryEntry(QString(20, u'y'), ""),
    };
    const QStringList leading{" Brannock ", "BRANNOCK", QString(13, u'甲'), QString(12, u'乙'), ""};
    QCOMPARE(Glossary::keyterms(entries, leading, 50),
             (QStringList{"Brannock", QString(12, u'乙'), "Grafana", "a  b c d e",
                          QString(20, u'y'), "Kubernetes", "K8s"}));
}

void GlossaryTest::keytermsLimit()
{
    QStringList leading;
    for (int i = 0; i < 60; ++i)
        leading.append(QStringLiteral("Name%1").arg(i));
    const QStringList terms = Glossary::keyterms({}, leading, 50);
    QCOMPARE(terms.size(), 50);
    QCOMPARE(terms.last(), QStringLiteral("Name49"));
}

DODEDAROV_TEST(GlossaryTest)
#include "GlossaryTest.moc"
