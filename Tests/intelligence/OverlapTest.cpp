#include "TestMain.h"

#include "intelligence/LatinWords.h"
#include "intelligence/Overlap.h"

#include <optional>

namespace {

QString words(int n)
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out.append(QStringLiteral("w%1").arg(i));
    return out.join(u' ');
}

const QString lead24 = QStringLiteral("一二三四五六七八九十甲乙丙丁戊己庚辛壬癸子丑寅卯");
const QString budget = QStringLiteral("我们今天讨论预算问题。");
const QString after = QStringLiteral("接下来看第二季度的数字。");

}

Q_DECLARE_METATYPE(std::optional<QString>)

class OverlapTest final : public QObject {
    Q_OBJECT

private slots:
    void isDisfluency_data()
    {
        QTest::addColumn<QString>("heard");
        QTest::addColumn<QString>("correct");
        QTest::addColumn<bool>("expected");
        QTest::newRow("stutter") << "the the report" << "the report" << true;
        QTest::newRow("different word") << "rapport" << "report" << false;
        QTest::newRow("heard normalises to nothing") << "?!" << "report" << true;
        QTest::newRow("prefix") << "Tarv" << "Tarvick" << true;
        QTest::newRow("3-character word") << "abc" << "xyz" << true;
        QTest::newRow("4-character word") << "abcd" << "xyz" << false;
        QTest::newRow("two short words against two others") << "to be" << "or not" << false;
        QTest::newRow("fewer heard words, in order") << "the report" << "the big report" << true;
        QTest::newRow("fewer heard words, out of order") << "report the" << "the big report" << false;
        QTest::newRow("fewer correct words, in order") << "uh the big report" << "the report" << true;
    }

    void isDisfluency()
    {
        QFETCH(QString, heard);
        QFETCH(QString, correct);
        QFETCH(bool, expected);
        QCOMPARE(Overlap::isDisfluency(heard, correct), expected);
    }

    void looksTruncated_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("translation");
        QTest::addColumn<bool>("expected");
        QTest::newRow("20 words, 9 Chinese characters") << words(20) << "一二三四五六七八九" << true;
        QTest::newRow("20 words, 10 Chinese characters") << words(20) << "一二三四五六七八九十" << false;
        QTest::newRow("7 words, nothing") << words(7) << "" << false;
        QTest::newRow("8 words, nothing") << words(8) << "" << true;
        QTest::newRow("8 words, one English word") << words(8) << "OK。" << true;
        QTest::newRow("8 words, three English words") << words(8) << "A B C" << false;
        QTest::newRow("repeated words collapse") << "no no no no NO, no no no no" << "" << false;
        QTest::newRow("compatibility ideographs count") << words(8) << "豈更車賈" << false;
    }

    void looksTruncated()
    {
        QFETCH(QString, source);
        QFETCH(QString, translation);
        QFETCH(bool, expected);
        QCOMPARE(Overlap::looksTruncated(source, translation), expected);
    }

    void isEcho_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("previous");
        QTest::addColumn<bool>("expected");
        QTest::newRow("2 words equal") << "market share" << "market share" << false;
        QTest::newRow("3 words equal") << "the market share" << "The market share." << true;
        QTest::newRow("end of previous, case and punctuation ignored")
            << "Grew the MARKET share!" << "So we grew, the market share" << true;
        QTest::newRow("part of a word") << "rowing market share" << "we are growing market share" << false;
        QTest::newRow("empty previous") << "the market share" << "..." << false;
        QTest::newRow("previous in the middle") << "the market share" << "the market share grew" << false;
    }

    void isEcho()
    {
        QFETCH(QString, text);
        QFETCH(QString, previous);
        QFETCH(bool, expected);
        QCOMPARE(Overlap::isEcho(text, previous), expected);
    }

    void longestCommon_data()
    {
        QTest::addColumn<QStringList>("a");
        QTest::addColumn<QStringList>("b");
        QTest::addColumn<int>("expected");
        QTest::newRow("nothing in common") << QStringList{"a", "b"} << QStringList{"c", "d"} << 0;
        QTest::newRow("empty") << QStringList{} << QStringList{"c"} << 0;
        QTest::newRow("middle run") << QStringList{"a", "b", "c", "d", "e"} << QStringList{"x", "b", "c", "d", "y"} << 3;
        QTest::newRow("clusters compare whole") << QStringList{"e\u0301", "😀"} << QStringList{"e", "😀"} << 1;
    }

    void longestCommon()
    {
        QFETCH(QStringList, a);
        QFETCH(QStringList, b);
        QFETCH(int, expected);
        QCOMPARE(Overlap::longestCommon(a, b), expected);
    }

    void dropRepeatedLead_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("previous");
        QTest::addColumn<std::optional<QString>>("expected");
        const std::optional<QString> none;
        QTest::newRow("repeated first sentence") << budget + after << budget << std::optional(after);
        QTest::newRow("blanks around the rest trimmed")
            << budget + " \t" + after + " " << budget << std::optional(after);
        QTest::newRow("no sentence mark") << "我们今天讨论预算问题，" + after.chopped(1) << budget << none;
        QTest::newRow("empty previous") << budget + after << "" << none;
        QTest::newRow("lead core of 24") << lead24 + "。" + after << lead24 << std::optional(after);
        QTest::newRow("lead core of 25") << lead24 + "辰。" + after << lead24 + "辰" << none;
        QTest::newRow("lead core of 4") << "我们今天。" + after << "我们今天" << none;
        QTest::newRow("rest of 7 without short punctuation") << budget + "好的，谢谢大家们！" << budget << none;
        QTest::newRow("rest of 8 without short punctuation")
            << budget + "好的，谢谢大家你们！" << budget << std::optional<QString>("好的，谢谢大家你们！");
        QTest::newRow("colon is not short punctuation")
            << budget + "好的：谢谢大家们！" << budget << std::optional<QString>("好的：谢谢大家们！");
        QTest::newRow("common run 0.6 of the lead")
            << "我们今天讨论甲乙丙丁。" + after << budget << std::optional(after);
        QTest::newRow("common run 0.5 of the lead") << "我们今天讨甲乙丙丁戊。" + after << budget << none;
        QTest::newRow("common run of 5 in a lead of 5") << "我们今天讨。" + after << budget << std::optional(after);
        QTest::newRow("common run of 4") << "我们今天甲。" + after << budget << none;
    }

    void dropRepeatedLead()
    {
        QFETCH(QString, text);
        QFETCH(QString, previous);
        QFETCH(std::optional<QString>, expected);
        QCOMPARE(Overlap::dropRepeatedLead(text, previous), expected);
    }

    void dropRepeatedLeads_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("previous");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QStringList>("previousSources");
        QTest::addColumn<std::optional<QString>>("expected");
        const std::optional<QString> none;
        const QString tenWords = QStringLiteral("alpha beta gamma delta epsilon zeta eta theta iota kappa. Then more.");
        const QString last = QStringLiteral("最后谈谈招聘计划。");
        const QString two = QStringLiteral("我们今天讨论预算问题。下一步看第二季度。");
        QTest::newRow("two repeated sentences dropped")
            << two + " " + last << QStringList{two} << "" << QStringList{} << std::optional(last);
        QTest::newRow("nothing repeated") << last + after << QStringList{budget} << "" << QStringList{} << none;
        QTest::newRow("only empty previous") << budget + after << QStringList{"", ""} << "" << QStringList{} << none;
        QTest::newRow("empty previous skipped")
            << budget + after << QStringList{"", budget} << "" << QStringList{} << std::optional(after);
        QTest::newRow("source repeats 7 of 10 words")
            << budget + after << QStringList{budget} << tenWords
            << QStringList{"alpha beta gamma", "delta epsilon zeta eta"} << none;
        QTest::newRow("source repeats 6 of 10 words")
            << budget + after << QStringList{budget} << tenWords
            << QStringList{"alpha beta gamma", "delta epsilon zeta"} << std::optional(after);
        QTest::newRow("opening of 4 words tested")
            << budget + after << QStringList{budget} << "alpha beta gamma delta. epsilon" << QStringList{"alpha beta gamma delta"}
            << none;
        QTest::newRow("opening of 3 words not tested")
            << budget + after << QStringList{budget} << "alpha beta gamma. delta" << QStringList{"alpha beta gamma"}
            << std::optional(after);
        QTest::newRow("7 of 10 characters shared")
            << "甲乙丙丁戊己庚辛壬癸。" + after << QStringList{"甲乙丙丁戊己庚"} << "" << QStringList{}
            << std::optional(after);
        QTest::newRow("6 of 10 characters shared")
            << "甲乙丙丁戊己庚辛壬癸。" + after << QStringList{"甲乙丙丁戊己"} << "" << QStringList{} << none;
        QTest::newRow("all shared, common run 4")
            << "甲乙丙丁戊己庚辛壬癸。" + after << QStringList{"甲乙丙丁X戊己庚X辛壬癸"} << "" << QStringList{}
            << std::optional(after);
        QTest::newRow("all shared, common run 3")
            << "甲乙丙丁戊己庚辛壬癸。" + after << QStringList{"甲乙丙X丁戊己X庚辛壬X癸"} << "" << QStringList{}
            << none;
        QTest::newRow("remainder core of 6") << budget + "最后谈谈招聘。" << QStringList{budget} << ""
                                             << QStringList{} << std::optional<QString>("最后谈谈招聘。");
        QTest::newRow("remainder core of 5") << budget + "最后谈谈招。" << QStringList{budget} << ""
                                             << QStringList{} << none;
        QTest::newRow("lead core of 4") << "我们今天。" + after << QStringList{budget} << "" << QStringList{} << none;
    }

    void dropRepeatedLeads()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, previous);
        QFETCH(QString, source);
        QFETCH(QStringList, previousSources);
        QFETCH(std::optional<QString>, expected);
        QCOMPARE(Overlap::dropRepeatedLeads(text, previous, source, previousSources), expected);
    }

    void latinWords_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("contraction gives two words") << "don't" << QStringList{"don", "t"};
        QTest::newRow("digits and Chinese split") << "Hello, 世界 abc123def" << QStringList{"Hello", "abc", "def"};
        QTest::newRow("precomposed accent") << "café" << QStringList{"caf"};
        QTest::newRow("combining accent") << "cafe\u0301 ok" << QStringList{"caf", "ok"};
        QTest::newRow("full-width letters are not ASCII") << "ＡＢＣ x" << QStringList{"x"};
        QTest::newRow("empty") << "" << QStringList{};
    }

    void latinWords()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        QCOMPARE(LatinWords::in(text), expected);
    }

    void badInputNeverBreaks()
    {
        const QString weird = QString(10000, u'啊') + QChar(0xD800) + QStringLiteral("。😀e\u0301。") + QChar(0xDC00);
        QVERIFY(!Overlap::isEcho(weird, weird.left(3)));
        QVERIFY(!Overlap::looksTruncated(weird, weird));
        QCOMPARE(Overlap::dropRepeatedLead(weird, weird), std::nullopt);
        QCOMPARE(Overlap::dropRepeatedLeads(weird, {weird}, weird, {weird}), std::nullopt);
        QVERIFY(Overlap::isDisfluency(weird, weird));
    }
};

DODEDAROV_TEST(OverlapTest)
#include "OverlapTest.moc"
