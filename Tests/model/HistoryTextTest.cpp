#include "TestMain.h"

#include "model/HistoryText.h"

#include <QTest>

Q_DECLARE_METATYPE(CaptionLine)
Q_DECLARE_METATYPE(CaptionParts)
Q_DECLARE_METATYPE(DisplayMode)
Q_DECLARE_METATYPE(HistoryText::Paragraph)

namespace {

using Paragraph = HistoryText::Paragraph;

CaptionLine line(const QString &english, const QString &chinese, bool finished,
                 std::optional<SpeechLanguage> language = std::nullopt, const QString &alt = {})
{
    static int next = 0;
    CaptionLine l;
    l.id = next++;
    l.english = english;
    l.chinese = chinese;
    l.finished = finished;
    l.language = language;
    l.alt = alt;
    return l;
}

Paragraph paragraph(const QString &primary, const QString &secondary = {}, const QString &original = {})
{
    Paragraph p;
    p.primary = primary;
    p.secondary = secondary;
    p.original = original;
    return p;
}

} // namespace

// History paragraphs: which text lands in which slot for each mode and language, the caption
// parts, the older paragraphs and the newest one.
class HistoryTextTest final : public QObject {
    Q_OBJECT

private slots:
    void placement_data()
    {
        QTest::addColumn<CaptionLine>("line");
        QTest::addColumn<DisplayMode>("mode");
        QTest::addColumn<QString>("primary");
        QTest::addColumn<QString>("secondary");
        QTest::addColumn<QString>("original");
        const auto en = SpeechLanguage::english;
        const auto zh = SpeechLanguage::chinese;
        const auto other = SpeechLanguage::other;
        const QString dots = HistoryText::ellipsis;
        QTest::newRow("both, English waiting") << line("Hello", "", false, en) << DisplayMode::both << dots << "Hello" << "";
        QTest::newRow("both, English finished untranslated")
            << line("Hello", "", true, en) << DisplayMode::both << "Hello" << "" << "";
        QTest::newRow("both, English translated") << line("Hello", "你好", true, en) << DisplayMode::both << "你好" << "Hello" << "";
        QTest::newRow("both, Spanish with alt, waiting")
            << line("Hola", "", false, other, "Hello") << DisplayMode::both << dots << "Hello" << "Hola";
        QTest::newRow("both, Spanish finished untranslated")
            << line("Hola", "", true, other, "Hello") << DisplayMode::both << "" << "Hello" << "Hola";
        QTest::newRow("both, Chinese, translation missing")
            << line("你好", "", false, zh) << DisplayMode::both << "你好" << "" << "";
        QTest::newRow("both, Chinese without stored language")
            << line("我们今天开会", "We meet today", true) << DisplayMode::both << "我们今天开会" << "We meet today" << "";
        QTest::newRow("chinese mode, English line") << line("Hello", "你好", true, en) << DisplayMode::chinese << "你好" << "" << "";
        QTest::newRow("chinese mode, Chinese line") << line("你好", "Hello", true, zh) << DisplayMode::chinese << "你好" << "" << "";
        QTest::newRow("english mode, Chinese line") << line("你好", "Hello", true, zh) << DisplayMode::english << "Hello" << "" << "";
        QTest::newRow("english mode, Chinese waiting") << line("你好", "", false, zh) << DisplayMode::english << dots << "" << "";
        QTest::newRow("english mode, English line") << line("Hello", "你好", true, en) << DisplayMode::english << "Hello" << "" << "";
    }

    void placement()
    {
        QFETCH(CaptionLine, line);
        QFETCH(DisplayMode, mode);
        QFETCH(QString, primary);
        QFETCH(QString, secondary);
        QFETCH(QString, original);
        line.newTurn = true;
        line.fixed = {QStringLiteral("fix")};
        const QList<Paragraph> out = HistoryText::allParagraphs({line}, mode, {line.id}, {}, false);
        QCOMPARE(out.size(), 1);
        QCOMPARE(out[0].primary, primary);
        QCOMPARE(out[0].secondary, secondary);
        QCOMPARE(out[0].original, original);
        QVERIFY(out[0].turn && out[0].primaryDim && !out[0].latest && !out[0].older);
        QCOMPARE(out[0].highlights, QStringList {QStringLiteral("fix")});
    }

    void liveText_data()
    {
        QTest::addColumn<QList<CaptionLine>>("lines");
        QTest::addColumn<DisplayMode>("mode");
        QTest::addColumn<bool>("inline_");
        QTest::addColumn<QString>("live");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("lastLive");
        QTest::addColumn<QString>("lastSecondary");
        const QList<CaptionLine> open {line("we went", "", false, SpeechLanguage::english)};
        const QList<CaptionLine> openChinese {line("我们去了", "", false, SpeechLanguage::chinese)};
        const QList<CaptionLine> done {line("we went", "我们去了", true, SpeechLanguage::english)};
        QTest::newRow("inline after a letter") << open << DisplayMode::both << true << "there" << 1 << " there" << "we went";
        QTest::newRow("inline after a Chinese character")
            << openChinese << DisplayMode::both << true << "商店" << 1 << "商店" << "";
        QTest::newRow("inline after a finished line") << done << DisplayMode::both << true << "next" << 2 << "next" << "";
        QTest::newRow("inline without lines") << QList<CaptionLine>() << DisplayMode::english << true << "hi" << 1 << "hi" << "";
        QTest::newRow("not inline, chinese mode") << done << DisplayMode::chinese << false << "more" << 1 << "" << "";
        QTest::newRow("not inline, english mode") << done << DisplayMode::english << false << "more" << 1 << "" << "";
        QTest::newRow("not inline, both, English") << done << DisplayMode::both << false << "more" << 2 << "" << "more";
        QTest::newRow("not inline, both, Chinese") << done << DisplayMode::both << false << "还有" << 2 << "还有" << "";
        QTest::newRow("no lines, no live") << QList<CaptionLine>() << DisplayMode::both << false << "" << 0 << "" << "";
    }

    void liveText()
    {
        QFETCH(QList<CaptionLine>, lines);
        QFETCH(DisplayMode, mode);
        QFETCH(bool, inline_);
        QFETCH(QString, live);
        QFETCH(int, count);
        QFETCH(QString, lastLive);
        QFETCH(QString, lastSecondary);
        const QList<Paragraph> out = HistoryText::allParagraphs(lines, mode, {}, live, inline_);
        QCOMPARE(out.size(), count);
        if (count == 0) {
            QVERIFY(HistoryText::markLatest(out).isEmpty());
            return;
        }
        QCOMPARE(out.last().live, lastLive);
        QCOMPARE(out.last().secondary, lastSecondary);
    }

    void filter_data()
    {
        QTest::addColumn<Paragraph>("in");
        QTest::addColumn<CaptionParts>("parts");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<QString>("primary");
        QTest::addColumn<QString>("secondary");
        QTest::addColumn<QString>("original");
        const CaptionParts all;
        CaptionParts noChinese;
        noChinese.chinese = false;
        CaptionParts noEnglish;
        noEnglish.english = false;
        CaptionParts noOriginal;
        noOriginal.original = false;
        QTest::newRow("English primary moves down") << paragraph("Hello") << all << true << "" << "Hello" << "";
        QTest::newRow("ellipsis stays") << paragraph(HistoryText::ellipsis, "Hello") << all << true
                                        << HistoryText::ellipsis << "Hello" << "";
        QTest::newRow("English part off") << paragraph("你好", "Hello") << noEnglish << true << "你好" << "" << "";
        QTest::newRow("Chinese part off, English moves up") << paragraph("你好", "Hello") << noChinese << true
                                                            << "Hello" << "" << "";
        QTest::newRow("Chinese part off, nothing left") << paragraph("你好") << noChinese << false << "" << "" << "";
        QTest::newRow("original part off") << paragraph("你好", "Hello", "Hola") << noOriginal << true
                                           << "你好" << "Hello" << "";
    }

    void filter()
    {
        QFETCH(Paragraph, in);
        QFETCH(CaptionParts, parts);
        QFETCH(bool, kept);
        QFETCH(QString, primary);
        QFETCH(QString, secondary);
        QFETCH(QString, original);
        in.older = true;
        in.primaryDim = true;
        const std::optional<Paragraph> out = HistoryText::filter(in, parts);
        QCOMPARE(out.has_value(), kept);
        if (!out)
            return;
        QCOMPARE(out->primary, primary);
        QCOMPARE(out->secondary, secondary);
        QCOMPARE(out->original, original);
        QVERIFY(!out->older);
    }

    void filterMovesEnglishLive()
    {
        Paragraph p;
        p.live = QStringLiteral("going on");
        const std::optional<Paragraph> out = HistoryText::filter(p, CaptionParts());
        QVERIFY(out);
        QCOMPARE(out->secondary, QStringLiteral("going on"));
        QVERIFY(out->live.isEmpty());
    }

    void olderParagraphs()
    {
        QList<Paragraph> three {paragraph("一", "one"), paragraph("二", "two"), paragraph("三", "three")};
        QCOMPARE(HistoryText::chineseOnlyWhenOlder(three), three);

        QList<Paragraph> five {paragraph("一", "one", "uno"), paragraph("Two", "two"), paragraph("三", "three"),
                               paragraph("四", "four"), paragraph("五", "five"), paragraph("六", "six")};
        Paragraph liveOnly;
        liveOnly.live = QStringLiteral("正在说");
        five.append(liveOnly);
        five.insert(1, paragraph(HistoryText::ellipsis, "waiting"));
        const QList<Paragraph> out = HistoryText::chineseOnlyWhenOlder(five);
        QVERIFY(out[0].older && out[0].secondary.isEmpty() && out[0].original.isEmpty());
        QVERIFY(!out[1].older && out[1].secondary == u"waiting"); // ellipsis: not counted
        QVERIFY(!out[2].older && out[2].secondary == u"two");     // no CJK: kept
        QVERIFY(out[3].older);
        for (int i = 4; i < out.size(); ++i)
            QVERIFY(!out[i].older);
    }

    void latest()
    {
        QList<Paragraph> one {paragraph("")};
        QVERIFY(HistoryText::markLatest(one)[0].latest);
        QList<Paragraph> two {paragraph("一"), paragraph("")};
        const QList<Paragraph> out = HistoryText::markLatest(two);
        QVERIFY(out[0].latest && out[1].latest);
        QList<Paragraph> full {paragraph("一"), paragraph("二"), paragraph("三")};
        const QList<Paragraph> marked = HistoryText::markLatest(full);
        QVERIFY(!marked[0].latest && !marked[1].latest && marked[2].latest);
    }

    // Bad text never breaks a paragraph: a long emoji run, combining marks, U+FFFD.
    void untrustedText()
    {
        const QString odd = QString(5000, QChar(0xFFFD)) + QStringLiteral("e\u0301👩‍👩‍👧");
        const QList<Paragraph> out = HistoryText::markLatest(HistoryText::chineseOnlyWhenOlder(
            HistoryText::allParagraphs({line(odd, QString(), false)}, DisplayMode::both, {}, odd, true)));
        QCOMPARE(out.size(), 1);
        QVERIFY(out[0].live.endsWith(odd));
    }
};

DODEDAROV_TEST(HistoryTextTest)
#include "HistoryTextTest.moc"
