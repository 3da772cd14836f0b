// Reading pages and extraction answers for the meeting background: JSON string literals in
// player data, video pages, the visible text of a page, the material of a note, and the reply.
#include "TestMain.h"

#include "intelligence/BackgroundLogic.h"

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

QString pairs(const QList<GlossaryEntry> &terms)
{
    QStringList out;
    for (const GlossaryEntry &t : terms)
        out << t.english + u'=' + t.chinese;
    return out.join(u' ');
}

const QString kVideoPage = QStringLiteral(
    "<html><head><title>Ablation Talk - YouTube</title></head><body><script>var ytInitialData = "
    "{\"title\":{\"runs\":[{\"text\":\"Pulsed Field \\\"PFA\\\" Update\"}]},"
    "\"videoDetails\":{\"shortDescription\":\"Dr. Calloway on PFA\\nat HRS \\u0026 EHRA\"}};"
    "</script></body></html>");

} // namespace

class BackgroundLogicTest final : public QObject {
    Q_OBJECT

private slots:
    void jsonString_data()
    {
        QTest::addColumn<QString>("html");
        QTest::addColumn<std::optional<QString>>("expected");
        const QString m = QStringLiteral("\"k\":\"");
        QTest::newRow("plain") << m + QStringLiteral("abc\",x") << std::optional<QString>("abc");
        QTest::newRow("escapes resolved")
            << m + QStringLiteral("a\\nb \\u0026 \\\"q\\\" \\\\\"tail") << std::optional<QString>("a\nb & \"q\" \\");
        QTest::newRow("first marker only")
            << m + QStringLiteral("one\" ") + m + QStringLiteral("two\"") << std::optional<QString>("one");
        QTest::newRow("runs to the end of the page") << m + QStringLiteral("open") << std::optional<QString>("open");
        QTest::newRow("missing marker") << QStringLiteral("\"k\": \"x\"") << std::optional<QString>();
        QTest::newRow("trailing backslash") << m + QStringLiteral("a\\") << std::optional<QString>();
        QTest::newRow("empty literal") << m + QStringLiteral("\"") << std::optional<QString>(QString());
    }

    void jsonString()
    {
        QFETCH(QString, html);
        QFETCH(std::optional<QString>, expected);
        QCOMPARE(BackgroundLogic::jsonString(QStringLiteral("\"k\":\""), html), expected);
    }

    void youtube()
    {
        const auto video = BackgroundLogic::youtube(kVideoPage);
        QVERIFY(video);
        QCOMPARE(video->title, QStringLiteral("Pulsed Field \"PFA\" Update"));
        QCOMPARE(video->description, QStringLiteral("Dr. Calloway on PFA\nat HRS & EHRA"));

        const QString noRuns = QStringLiteral(
            "<title>Ablation - YouTube Talk - YouTube</title>\"shortDescription\":\"d\"");
        QCOMPARE(BackgroundLogic::youtube(noRuns), (BackgroundLogic::Video{QStringLiteral("Ablation Talk"), QStringLiteral("d")}));
        QCOMPARE(BackgroundLogic::youtube(QStringLiteral("<title>x\"shortDescription\":\"d\"")),
                 (BackgroundLogic::Video{QString(), QStringLiteral("d")}));
        QCOMPARE(BackgroundLogic::youtube(QStringLiteral("<title>Talk</title><p>text</p>")), std::nullopt);
    }

    void pageText_data()
    {
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("expected");

        QTest::newRow("tags become blanks, lines trimmed")
            << QStringLiteral("<html><body>\n  <h1>Title</h1>\n\t<p>One <b>two</b></p>\r\n\n</body></html>")
            << QStringLiteral("Title\nOne  two");
        QTest::newRow("scripts, styles, noscript and svg go, any case")
            << QStringLiteral("a<SCRIPT type=x>var s = '<p>';</Script>b<style>p{}</style>c"
                              "<noscript>no</noscript>d<svg><text>t</text></SVG>e")
            << QStringLiteral("abcde");
        QTest::newRow("unclosed script keeps its text")
            << QStringLiteral("<p>before</p><script>var x = 1;") << QStringLiteral("before  var x = 1;");
        QTest::newRow("the six entities, others stay")
            << QStringLiteral("a&nbsp;b &amp; &lt;c&gt; &quot;d&quot; &#39;e&#39; &eacute; &#233; &copy;")
            << QStringLiteral("a b & <c> \"d\" 'e' &eacute; &#233; &copy;");
        QTest::newRow("removal that joins an opening tag")
            << QStringLiteral("x<scr<script>a</script>ipt>hidden</script>y") << QStringLiteral("xy");
        QTest::newRow("an element closed only later")
            << QStringLiteral("<script>a</script>keep<script>b") << QStringLiteral("keep b");
        QTest::newRow("other line breaks split lines")
            << QStringLiteral("one\u2028 two \u2029three\u000Bfour") << QStringLiteral("one\ntwo\nthree\nfour");
        QTest::newRow("blank page") << QStringLiteral("<html>\n\n</html>") << QString();
    }

    void pageText()
    {
        QFETCH(QString, html);
        QFETCH(QString, expected);
        QCOMPARE(BackgroundLogic::pageText(html), expected);
    }

    void pageTextKeeps8000Characters()
    {
        QString html;
        for (int i = 0; i < 3000; ++i)
            html += QStringLiteral("<p>行%1</p>\n").arg(i % 10);
        const QString text = BackgroundLogic::pageText(html);
        QCOMPARE(text.size(), 8000);
        QVERIFY(text.startsWith(QStringLiteral("行0\n行1\n")));
        // Characters, not code units: an emoji counts once and is never split.
        const QString emoji = QString(9000, u'x').replace(0, 1, QStringLiteral("😀"));
        const QString cut = BackgroundLogic::pageText(QString(7999, u'a') + QStringLiteral("😀b"));
        QCOMPARE(cut, QString(7999, u'a') + QStringLiteral("😀"));
        QCOMPARE(BackgroundLogic::pageText(emoji).size(), 8001);
    }

    void material_data()
    {
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no link") << QStringLiteral("  议程：PFA  ") << QString() << QStringLiteral("议程：PFA");
        QTest::newRow("only a link to a video page")
            << QStringLiteral("https://www.youtube.com/watch?v=abc") << kVideoPage
            << QStringLiteral("标题：Pulsed Field \"PFA\" Update\n简介：Dr. Calloway on PFA\nat HRS & EHRA");
        QTest::newRow("words and an ordinary page")
            << QStringLiteral("主讲人的页面：https://example.org/talk。") << QStringLiteral("<p>Speaker bio</p>")
            << QStringLiteral("主讲人的页面：。\n\nSpeaker bio");
    }

    void material()
    {
        QFETCH(QString, note);
        QFETCH(QString, html);
        QFETCH(QString, expected);
        QCOMPARE(BackgroundLogic::material(note, html), expected);
    }

    void materialIsCut()
    {
        const QString note = QString(11000, u'说') + QStringLiteral(" https://example.org/x");
        const QString html = QStringLiteral("<p>") + QString(5000, u'页') + QStringLiteral("</p>");
        const QString material = BackgroundLogic::material(note, html);
        QCOMPARE(material.size(), 12000);
        QVERIFY(material.startsWith(QString(11000, u'说') + QStringLiteral("\n\n页")));
    }

    void extractionPrompt()
    {
        const QString expected = QStringLiteral(
            "用户在看一场英文会议或访谈的实时翻译字幕，下面是他提前给的介绍（视频简介、议程或网页内容）。请提取能让语音识别和翻译更准的信息，只输出 JSON：\n"
            "{\"title\":\"会议或访谈的主题（中文，一句话）\",\"background\":\"一两句中文背景：什么场合、谁和谁在谈什么\",\"names\":[\"人名、机构、会议名、产品名，写准英文原文\"],\"terms\":[{\"en\":\"英文术语\",\"zh\":\"通行的中文译法\"}]}\n"
            "要求：\n"
            "1. names：人名去掉头衔和学位（\"Martin J. Calloway, MD, FACS\" 写成 \"Martin J. Calloway\"）。只收介绍里真的出现的，最多 20 个。\n"
            "2. terms：介绍里出现、会上很可能说到的专业术语和缩写，最多 20 条；拿不准中文译法的不要收。\n"
            "3. 介绍里没有的不要编造。没有的字段给空字符串或空数组。");
        QCOMPARE(BackgroundLogic::extractionPrompt(), expected);
    }

    void parse_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("present");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("terms");

        QTest::newRow("prose and a fence")
            << QStringLiteral("好的：\n```json\n{\"title\":\" 心脏\\n会议 \",\"names\":[\"Martin Calloway\"]}\n```")
            << true << QStringLiteral("心脏 会议") << QStringList{"Martin Calloway"} << QString();
        QTest::newRow("not JSON") << QStringLiteral("没有信息") << false << QString() << QStringList{} << QString();
        QTest::newRow("every field empty")
            << QStringLiteral("{\"title\":\"\",\"background\":\" \",\"names\":[],\"terms\":[]}") << false
            << QString() << QStringList{} << QString();
        QTest::newRow("wrong types count as missing")
            << QStringLiteral("{\"title\":5,\"background\":[\"x\"],\"names\":\"Calloway\",\"terms\":{}}") << false
            << QString() << QStringList{} << QString();
        QTest::newRow("names: digits, duplicates by normalized form, too long, non-strings")
            << QStringLiteral("{\"names\":[\"2024\",\"HRS\",\"hrs.\",7,\"") + QString(61, u'N')
                   + QStringLiteral("\",\"Zoë Ng\",\"张三\"]}")
            << true << QString() << QStringList{"HRS", "Zoë Ng", "张三"} << QString();
        QTest::newRow("terms: english rendering, chinese term, too long")
            << QStringLiteral("{\"terms\":[{\"en\":\"PFA\",\"zh\":\"脉冲场消融\"},{\"en\":\"AF\",\"zh\":\"atrial fibrillation\"},"
                              "{\"en\":\"消融 PFA\",\"zh\":\"消融\"},{\"en\":\"LAA\",\"zh\":\"")
                   + QString(31, u'左') + QStringLiteral("\"},{\"en\":\" LAAO \",\"zh\":\"左心耳封堵\\n术\"}]}")
            << true << QString() << QStringList{} << QStringLiteral("PFA=脉冲场消融 LAAO=左心耳封堵 术");
        QTest::newRow("one non-object voids the terms")
            << QStringLiteral("{\"title\":\"t\",\"terms\":[{\"en\":\"PFA\",\"zh\":\"脉冲场消融\"},\"AF\"]}")
            << true << QStringLiteral("t") << QStringList{} << QString();
    }

    void parse()
    {
        QFETCH(QString, reply);
        QFETCH(bool, present);
        QFETCH(QString, title);
        QFETCH(QStringList, names);
        QFETCH(QString, terms);
        const std::optional<SessionBackground> background = BackgroundLogic::parse(reply);
        QCOMPARE(background.has_value(), present);
        if (!background)
            return;
        QCOMPARE(background->title, title);
        QCOMPARE(background->names, names);
        QCOMPARE(pairs(background->terms), terms);
    }

    void parseCaps()
    {
        QStringList names;
        QStringList terms;
        for (int i = 0; i < 40; ++i) {
            names << QStringLiteral("\"Name%1\"").arg(i);
            terms << QStringLiteral("{\"en\":\"T%1\",\"zh\":\"术语\"}").arg(i);
        }
        const auto background = BackgroundLogic::parse(
            QStringLiteral("{\"title\":\"%1\",\"background\":\"%2\",\"names\":[%3],\"terms\":[%4]}")
                .arg(QString(90, u'题'), QString(250, u'景'), names.join(u','), terms.join(u',')));
        QVERIFY(background);
        QCOMPARE(background->title, QString(80, u'题'));
        QCOMPARE(background->summary, QString(200, u'景'));
        QCOMPARE(background->names.size(), 30);
        QCOMPARE(background->terms.size(), 30);
        QVERIFY(background->terms.first().source.isEmpty());
    }
};

DODEDAROV_TEST(BackgroundLogicTest)
#include "BackgroundLogicTest.moc"
