#include "TestMain.h"

#include "intelligence/Recap.h"

#include <optional>

namespace {

using Line = Recap::Line;
using Section = Recap::Section;

QString words(int n) { return QStringList(n, QStringLiteral("w")).join(u' '); }

const char16_t *const expectedSystem[] = {
        u"你在给会议同声传译员写“前情提要”：译员翻译后面每一句时都会先看它，用来理解指代、统一译法；听众中途进来也会看它。",
        u"根据上一版提要和这段时间新转录的内容（语音识别结果，可能有错词），写出新的提要。只输出 JSON：",
        u"{\"topic\":\"一句话：会议主题和场合\",\"speakers\":[\"人名（身份、机构）\"],\"points\":[\"一条要点一句话\"],\"terms\":[\"英文 = 中文译法或含义\"]}",
        u"要求：",
        u"1. 中文，全部加起来不超过 400 字（宁短勿长，超出会被截掉）。人名、机构名保留原文。",
        u"2. points 按讲的顺序，每条一句、20–40 字，最多 8 条；要点多了把早先的几条合并成一条概括。只增不乱：保留仍然有用的，合并新的，删掉过时的细节。",
        u"3. terms 写讲者定义过的缩写、特殊说法和后面可能被指代的东西（例如 \"the project = 上文提到的某个项目名\"），最多 8 条。",
        u"4. 只写原文里有的，不要推测；识别明显出错的词按上下文写成正确的。没有的项给空数组或空字符串。",
};

QStringList repeated(int n, QChar fill, int length)
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out.append(QString::number(i) + QString(length - 1, fill));
    return out;
}

}

Q_DECLARE_METATYPE(std::optional<QString>)

class RecapTest final : public QObject {
    Q_OBJECT

private slots:
    void material_data()
    {
        QTest::addColumn<QList<Line>>("lines");
        QTest::addColumn<QString>("expected");
        QTest::newRow("newest line over the budget alone")
            << QList<Line>{{"old", "旧"}, {words(2500), ""}} << words(2500);
        QTest::newRow("1500 then 600: the newest only")
            << QList<Line>{{words(1500), "一"}, {words(600), "二"}} << words(600) + "（二）";
        QTest::newRow("all fit, oldest first")
            << QList<Line>{{"one two", "一二"}, {"我们开会", ""}, {"three", "三"}}
            << "one two（一二）\n我们开会\nthree（三）";
        QTest::newRow("exactly the budget") << QList<Line>{{words(1000), ""}, {words(1000), ""}}
                                            << words(1000) + "\n" + words(1000);
        QTest::newRow("Chinese characters are words")
            << QList<Line>{{"一二", ""}, {QString(2000, u'字'), ""}} << QString(2000, u'字');
        QTest::newRow("nothing") << QList<Line>{} << "";
    }

    void material()
    {
        QFETCH(QList<Line>, lines);
        QFETCH(QString, expected);
        QCOMPARE(Recap::material(lines, 2000), expected);
    }

    void prompt()
    {
        QStringList system;
        for (const char16_t *line : expectedSystem)
            system.append(QString::fromUtf16(line));
        const Recap::Prompt first = Recap::prompt(QString(), QStringLiteral("A（甲）\nB"));
        QCOMPARE(first.system, system.join(u'\n'));
        QCOMPARE(first.system.count(u'\n'), 7);
        QVERIFY(first.system.contains(QString::fromUtf16(u"20\u201340 字")));
        QVERIFY(first.system.contains(QString::fromUtf16(u"\u201c前情提要\u201d")));
        QCOMPARE(first.user, QStringLiteral("【新转录的内容】\nA（甲）\nB"));
        const Recap::Prompt later = Recap::prompt(QStringLiteral("主题：发布会"), QStringLiteral("C"));
        QCOMPARE(later.system, first.system);
        QCOMPARE(later.user, QStringLiteral("【上一版提要】\n主题：发布会\n\n【新转录的内容】\nC"));
    }

    void parse_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<std::optional<QString>>("expected");
        const std::optional<QString> none;
        QTest::newRow("prose around the object")
            << "好的，提要如下：{\"topic\":\"季度预算评审会议\",\"speakers\":[\"张伟（财务）\"],\"points\":[],\"terms\":[]} 以上"
            << std::optional<QString>("主题：季度预算评审会议\n讲者：张伟（财务）");
        QTest::newRow("fields cleaned, non-strings and empties dropped")
            << R"({"topic":" 发布\n会 ","speakers":["甲", 3, "  ", "乙\n丙"],"points":["要点一"],"terms":"x"})"
            << std::optional<QString>("主题：发布 会\n讲者：甲；乙 丙\n要点：\n· 要点一");
        QTest::newRow("recap text kept with its line breaks")
            << "{\"recap\":\"  \\n主题：发布会。\\n要点：很多 \\n\"}" << std::optional<QString>("主题：发布会。\n要点：很多");
        QTest::newRow("recap text of 9 characters, other keys ignored")
            << R"({"recap":" 一二三四五六七八九 ","topic":"季度预算评审会议"})" << none;
        QTest::newRow("recap text of 10 characters")
            << R"({"recap":"一二三四五六七八九十"})" << std::optional<QString>("一二三四五六七八九十");
        QTest::newRow("recap not a string, topic of 7")
            << R"({"recap":5,"topic":"季度预算评审会"})" << std::optional<QString>("主题：季度预算评审会");
        QTest::newRow("topic of 6 only") << R"({"topic":"季度预算评审"})" << none;
        QTest::newRow("everything empty") << R"({"topic":"","speakers":[],"points":[],"terms":[]})" << none;
        QTest::newRow("fields of the wrong type")
            << R"({"topic":123,"speakers":"张伟","points":{"a":"b"},"terms":true})" << none;
        QTest::newRow("no braces") << "主题：发布会，讲者：张伟" << none;
        QTest::newRow("braces out of order") << "} 主题 {" << none;
        QTest::newRow("broken JSON") << R"({"topic":"季度预算评审会议",})" << none;
        QTest::newRow("over-long recap text cut") << "{\"recap\":\"" + QString(800, u'长') + "\"}"
                                                  << std::optional<QString>(QString(699, u'长') + u'…');
    }

    void parse()
    {
        QFETCH(QString, reply);
        QFETCH(std::optional<QString>, expected);
        QCOMPARE(Recap::parse(reply), expected);
    }

    void composeDropsTermsThenOldestPoints_data()
    {
        QTest::addColumn<QStringList>("points");
        QTest::addColumn<QStringList>("terms");
        QTest::addColumn<QStringList>("keptPoints");
        QTest::addColumn<QStringList>("keptTerms");
        const QStringList points50 = repeated(8, u'点', 50);
        const QStringList terms50 = repeated(5, u'术', 50);
        QTest::newRow("704 characters: the last term goes")
            << points50 << terms50 << points50 << terms50.first(4);
        const QStringList points80 = repeated(8, u'点', 80);
        QTest::newRow("all terms before any point")
            << points80 << repeated(5, u'术', 20) << points80 << QStringList{};
        const QStringList points90 = repeated(8, u'点', 90);
        QTest::newRow("then the oldest point") << points90 << repeated(2, u'术', 20) << points90.sliced(1)
                                               << QStringList{};
    }

    void composeDropsTermsThenOldestPoints()
    {
        QFETCH(QStringList, points);
        QFETCH(QStringList, terms);
        QFETCH(QStringList, keptPoints);
        QFETCH(QStringList, keptTerms);
        QString expected = QStringLiteral("主题：T\n要点：");
        for (const QString &p : keptPoints)
            expected += QStringLiteral("\n· ") + p;
        if (!keptTerms.isEmpty())
            expected += QStringLiteral("\n术语和缩写：");
        for (const QString &t : keptTerms)
            expected += QStringLiteral("\n· ") + t;
        const QString composed = Recap::compose(QStringLiteral("T"), {}, points, terms);
        QCOMPARE(composed, expected);
        QVERIFY(composed.size() <= 700);
    }

    void composeCutsTheLastThreePointsOnlyByTrimming()
    {
        const QStringList points = repeated(4, u'点', 300);
        // The oldest point goes; three of 300 characters are still too long, so the text is cut
        // after the second point's line.
        QCOMPARE(Recap::compose(QStringLiteral("T"), {QStringLiteral("张伟")}, points, {QStringLiteral("x")}),
                 QStringLiteral("主题：T\n讲者：张伟\n要点：\n· ") + points[1] + QStringLiteral("\n· ") + points[2]);
    }

    void composeOfNothing()
    {
        QCOMPARE(Recap::compose(QString(), {}, {}, {}), QString());
    }

    void trimmed_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const auto with = [](qsizetype length, qsizetype at, QChar mark) {
            QString text(length, u'字');
            text[at] = mark;
            return text;
        };
        QTest::newRow("700 characters unchanged") << QString(700, u'字') << QString(700, u'字');
        QTest::newRow("701 without a break") << QString(701, u'字') << QString(699, u'字') + u'…';
        QTest::newRow("full stop at 500") << with(800, 500, u'。') << with(800, 500, u'。').first(501);
        QTest::newRow("break at 350") << with(800, 350, u'！') << with(800, 350, u'！').first(351);
        QTest::newRow("break at 349") << with(800, 349, u'？') << QString(349, u'字') + u'？' + QString(349, u'字') + u'…';
        QTest::newRow("break past 699 ignored") << with(800, 700, u'。') << QString(699, u'字') + u'…';
        QTest::newRow("line break, trimmed")
            << "  " + QString(500, u'字') + "\n" + QString(300, u'字') << QString(500, u'字');
        QTest::newRow("emoji count as one character") << QString(800, u'x').replace(QStringLiteral("x"), QStringLiteral("😀"))
                                                      << QString(699, u'x').replace(QStringLiteral("x"), QStringLiteral("😀")) + u'…';
    }

    void trimmed()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(Recap::trimmed(text), expected);
    }

    void sections_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<Section>>("expected");
        QTest::newRow("composed text")
            << "主题：季度预算\n讲者：张伟；；李娜\n要点：\n· 预算增加\n· 招聘两人"
            << QList<Section>{{"主题", {"季度预算"}, false},
                              {"讲者", {"张伟", "李娜"}, true},
                              {"要点", {"预算增加", "招聘两人"}, true}};
        QTest::newRow("free text, then a point line")
            << " 会议开始。讨论预算 \n\t· 补充一条"
            << QList<Section>{{"", {"会议开始。", "讨论预算。", "补充一条"}, true}};
        QTest::newRow("point line without a list before it")
            << "主题：预算\n· 孤立的一条" << QList<Section>{{"主题", {"预算"}, false}, {"", {"· 孤立的一条。"}, true}};
        QTest::newRow("terms section") << "术语和缩写：\n· ARR = 年度经常性收入"
                                       << QList<Section>{{"术语和缩写", {"ARR = 年度经常性收入"}, true}};
        QTest::newRow("only full stops") << "。。" << QList<Section>{{"", {}, true}};
        QTest::newRow("blank text") << " \n\t\n" << QList<Section>{};
    }

    void sections()
    {
        QFETCH(QString, text);
        QFETCH(QList<Section>, expected);
        QCOMPARE(Recap::sections(text), expected);
    }
};

DODEDAROV_TEST(RecapTest)
#include "RecapTest.moc"
