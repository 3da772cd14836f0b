// Periodic research: the prompt pair against its fixed texts, and the reader of the model's
// answer with the edge cases of names, terms and fixes.
#include "TestMain.h"

#include "intelligence/Research.h"

namespace {

const QString kSystem = QStringLiteral(
    "你在帮一个实时字幕翻译软件理解正在进行的会议或视频。下面是最近一段语音识别结果（可能有发音相近的错词）和已有的译文。\n"
    "请分析并只输出 JSON：\n"
    "{\"domain\":\"一句话：这是什么领域、什么场合（中文）\",\"names\":[\"人名、机构、会议、产品的正确写法（原文）\"],\"terms\":[{\"en\":\"术语原文\",\"zh\":\"通行的中文译法\"}],\"fixes\":[{\"heard\":\"识别出的错误写法（必须是原文里出现的）\",\"correct\":\"正确写法\"}]}\n"
    "要求：\n"
    "1. names：只收原文里提到的，必须是正确写法（被听错的写成正确的，听错的写法放进 fixes，不要放进 names），去掉头衔，最多 10 个。和【已经知道的】名字只是写法不同的（比如已知 SYNCHRONOUS trial，原文里是 Synchrony trial）不是新名字：放进 fixes，正确写法用已知的。\n"
    "2. terms：只收会反复出现、译法容易不统一或拿不准的专业术语和缩写，给出该领域中文里实际通行的一种说法（只写一种，不加括号解释），最多 10 条；        人人都懂的普通词不要；行内习惯直接用英文的（比如 AI 领域的 token、prompt、agent）zh 就写原文。\n"
    "3. fixes：只收明显被听错的人名、术语（比如 Dunnel → Donnell），heard 必须原样出现在原文里，最多 8 条；拿不准的不要收。        不要按你的知识去“更新”讲话人说的名称（比如 Department of War 是 2025 年起美国国防部的正式名称之一，讲者说 DOW 就是对的），只收发音相近的识别错误。        讲话人的口吃、重复、说了一半的词（con coherent、smooth ex exponential）不是识别错误，不要收；只是补全名字（Pellworth → Corwin Pellworth）也不要收。\n"
    "names 只收能确认的人名、机构；从听不清的片段里猜出来的单个名字（比如句子讲不通时冒出来的 Trent）不要收。\n"
    "4. 已经知道的不用重复。没有就给空数组。");
const QString kSearchRule = QStringLiteral(
    "\n5. 遇到拿不准的人名、机构、新术语或缩写，可以联网搜索确认正确写法和中文译法；不要为普通词搜索。");

const QString kRecent = QStringLiteral(
    "We enrolled patients in the Synchrony trial at Mercy Hospital（我们在慈济医院的试验中招募了患者）\n"
    "Doctor Dunnel used pulsed field ablation（邓内尔医生使用了脉冲场消融）\n"
    "the mercyhospital group and the OK team");

} // namespace

Q_DECLARE_METATYPE(ResearchResult)

class ResearchTest final : public QObject {
    Q_OBJECT

private slots:
    void systemMessage()
    {
        QCOMPARE(Research::prompt({}, {}, {}, {}, false).system, kSystem);
        QCOMPARE(Research::prompt({}, {}, {}, {}, true).system, kSystem + kSearchRule);
        QCOMPARE(kSystem.count(QStringLiteral("        ")), 3);
        QVERIFY(!kSystem.endsWith(u'\n'));
    }

    void userMessage_data()
    {
        QTest::addColumn<QString>("recap");
        QTest::addColumn<ResearchResult>("known");
        QTest::addColumn<QString>("notes");
        QTest::addColumn<QString>("expected");

        ResearchResult full;
        full.domain = QStringLiteral("心脏电生理");
        full.names = {QStringLiteral("Mercy Hospital"), QStringLiteral("Donnell")};
        full.terms = {GlossaryEntry(QStringLiteral("PFA"), QStringLiteral("脉冲场消融")),
                      GlossaryEntry(QStringLiteral("token"), QStringLiteral("  "))};
        ResearchResult fixesOnly;
        fixesOnly.fixes = {{QStringLiteral("Dunnel"), QStringLiteral("Donnell")}};

        QTest::newRow("recent only") << QString() << ResearchResult() << QString()
                                     << QStringLiteral("【最近的内容】\nhello");
        QTest::newRow("every section")
            << QStringLiteral("前情") << full << QStringLiteral("说明")
            << QStringLiteral("【用户提供的本场说明】\n说明\n\n【前情提要】\n前情\n\n"
                              "【已经知道的】领域：心脏电生理；人名：Mercy Hospital、Donnell；术语：PFA = 脉冲场消融、token\n\n"
                              "【最近的内容】\nhello");
        QTest::newRow("known fixes only give the heading")
            << QString() << fixesOnly << QString()
            << QStringLiteral("【已经知道的】\n\n【最近的内容】\nhello");
    }

    void userMessage()
    {
        QFETCH(QString, recap);
        QFETCH(ResearchResult, known);
        QFETCH(QString, notes);
        QFETCH(QString, expected);
        QCOMPARE(Research::prompt(QStringLiteral("hello"), recap, known, notes, false).user, expected);
    }

    void longRecentKeepsItsEnd()
    {
        const QString recent = QString(500, u'头') + QString(5999, u'x') + QStringLiteral("尾");
        const QString user = Research::prompt(recent, {}, {}, {}, false).user;
        QCOMPARE(user, QStringLiteral("【最近的内容】\n") + QString(5999, u'x') + QStringLiteral("尾"));
        // The fix check still reads the whole text.
        const auto result = Research::parse(
            QStringLiteral("{\"fixes\":[{\"heard\":\"Tarwick\",\"correct\":\"Tarvick\"}]}"),
            QStringLiteral("Tarwick said ") + recent);
        QVERIFY(result);
        QCOMPARE(result->fixes.size(), 1);
    }

    void unreadableReplies_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::newRow("prose") << QStringLiteral("没有发现新内容。");
        QTest::newRow("braces reversed") << QStringLiteral("} {");
        QTest::newRow("not JSON") << QStringLiteral("{domain: x}");
        QTest::newRow("two objects") << QStringLiteral("{\"domain\":\"a\"} 和 {\"domain\":\"b\"}");
    }

    void unreadableReplies()
    {
        QFETCH(QString, reply);
        QCOMPARE(Research::parse(reply, kRecent), std::nullopt);
    }

    void wrappedReplyAndDomain()
    {
        const QString domain80 = QString(80, u'域');
        const auto fenced = Research::parse(
            QStringLiteral("好的：\n```json\n{\"domain\":\"") + domain80
                + QStringLiteral("\",\"names\":5,\"terms\":\"x\",\"fixes\":null}\n```\n以上。"),
            kRecent);
        QVERIFY(fenced);
        QCOMPARE(fenced->domain, QString(60, u'域'));
        QVERIFY(fenced->names.isEmpty() && fenced->terms.isEmpty() && fenced->fixes.isEmpty());
        const auto nothing = Research::parse(QStringLiteral("{}"), kRecent);
        QVERIFY(nothing && nothing->isEmpty());
        const auto domain = Research::parse(QStringLiteral("{\"domain\":\" 心脏\\n会议 \"}"), kRecent);
        QCOMPARE(domain->domain, QStringLiteral("心脏 会议"));
    }

    void names_data()
    {
        QTest::addColumn<QString>("names");
        QTest::addColumn<QString>("fixes");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("a word of the name is in the recent text")
            << QStringLiteral("[\"Synchrony Trial\",\"Mercy Hospital\"]") << QStringLiteral("[]")
            << QStringList{"Synchrony Trial", "Mercy Hospital"};
        QTest::newRow("never mentioned and unsupported")
            << QStringLiteral("[\"Trent\",\"Marlowe Clinic\"]") << QStringLiteral("[]") << QStringList{};
        QTest::newRow("only inside a longer word")
            << QStringLiteral("[\"Mercyhosp\"]") << QStringLiteral("[]") << QStringList{};
        QTest::newRow("equals a correction though never heard")
            << QStringLiteral("[\"Donnell\"]")
            << QStringLiteral("[{\"heard\":\"Dunnel\",\"correct\":\"Donnell\"}]") << QStringList{"Donnell"};
        QTest::newRow("shares a word with a correction")
            << QStringLiteral("[\"Corwin Pellworth\"]")
            << QStringLiteral("[{\"heard\":\"x\",\"correct\":\"Pellworth\"}]") << QStringList{"Corwin Pellworth"};
        QTest::newRow("short words need a correction")
            << QStringLiteral("[\"OK\",\"OK Team\"]") << QStringLiteral("[]") << QStringList{"OK Team"};
        QTest::newRow("short words kept by an equal correction")
            << QStringLiteral("[\"O. K.\"]") << QStringLiteral("[{\"heard\":\"x\",\"correct\":\"o-k\"}]")
            << QStringList{"O. K."};
        QTest::newRow("exact repeats, non-strings, too long")
            << QStringLiteral("[\"Mercy Hospital\",\"Mercy Hospital\",\"mercy hospital\",7,\"") + QString(61, u'M')
                   + QStringLiteral(" Mercy\"]")
            << QStringLiteral("[]") << QStringList{"Mercy Hospital", "mercy hospital"};
        QTest::newRow("only the first 12 are looked at")
            << QStringLiteral("[\"a\",\"b\",\"c\",\"d\",\"e\",\"f\",\"g\",\"h\",\"i\",\"j\",\"k\",\"l\",\"Mercy\"]")
            << QStringLiteral("[]") << QStringList{};
    }

    void names()
    {
        QFETCH(QString, names);
        QFETCH(QString, fixes);
        QFETCH(QStringList, expected);
        const auto result = Research::parse(
            QStringLiteral("{\"names\":") + names + QStringLiteral(",\"fixes\":") + fixes + u'}', kRecent);
        QVERIFY(result);
        QCOMPARE(result->names, expected);
    }

    void terms_data()
    {
        QTest::addColumn<QString>("terms");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("rendering with a gloss and an alternative")
            << QStringLiteral("[{\"en\":\"PFA\",\"zh\":\"脉冲场消融（PFA）/ pulsed field ablation\"}]")
            << QStringList{"PFA=脉冲场消融"};
        QTest::newRow("full-width slash and round brackets")
            << QStringLiteral("[{\"en\":\"AF\",\"zh\":\"房颤 (AF)／心房颤动\"}]") << QStringList{"AF=房颤"};
        QTest::newRow("an opening bracket without its closing one stays")
            << QStringLiteral("[{\"en\":\"LAA\",\"zh\":\"左心耳（左\"}]") << QStringList{"LAA=左心耳（左"};
        QTest::newRow("empty rendering taken")
            << QStringLiteral("[{\"en\":\"token\",\"zh\":\"\"}]") << QStringList{"token="};
        QTest::newRow("chinese in the english side dropped")
            << QStringLiteral("[{\"en\":\"PFA 消融\",\"zh\":\"脉冲场消融\"}]") << QStringList{};
        QTest::newRow("rendering over 30 characters dropped")
            << QStringLiteral("[{\"en\":\"X\",\"zh\":\"") + QString(31, u'译') + QStringLiteral("\"}]")
            << QStringList{};
        QTest::newRow("one element that is no object voids the list")
            << QStringLiteral("[{\"en\":\"PFA\",\"zh\":\"消融\"},\"AF\"]") << QStringList{};
        QTest::newRow("wrong type of zh reads as empty")
            << QStringLiteral("[{\"en\":\"PFA\",\"zh\":3}]") << QStringList{"PFA="};
    }

    void terms()
    {
        QFETCH(QString, terms);
        QFETCH(QStringList, expected);
        const auto result = Research::parse(QStringLiteral("{\"terms\":") + terms + u'}', kRecent);
        QVERIFY(result);
        QStringList got;
        for (const GlossaryEntry &term : result->terms) {
            got.append(term.english + u'=' + term.chinese);
            QVERIFY(term.source.isEmpty());
        }
        QCOMPARE(got, expected);
    }

    void fixes_data()
    {
        QTest::addColumn<QString>("fixes");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("heard as a whole word")
            << QStringLiteral("[{\"heard\":\"Dunnel\",\"correct\":\"Donnell\"}]") << QStringList{"Dunnel→Donnell"};
        QTest::newRow("heard only inside a longer word")
            << QStringLiteral("[{\"heard\":\"mercy hosp\",\"correct\":\"Mercy\"}]") << QStringList{};
        QTest::newRow("case and punctuation only")
            << QStringLiteral("[{\"heard\":\"Mercy-Hospital\",\"correct\":\"mercy hospital\"}]") << QStringList{};
        QTest::newRow("a stutter is no mishearing")
            << QStringLiteral("[{\"heard\":\"the OK\",\"correct\":\"the OK OK\"}]") << QStringList{};
        QTest::newRow("heard over 40 characters")
            << QStringLiteral("[{\"heard\":\"") + QString(41, u'a') + QStringLiteral("\",\"correct\":\"b\"}]")
            << QStringList{};
        QTest::newRow("empty correct")
            << QStringLiteral("[{\"heard\":\"Dunnel\",\"correct\":\" \"}]") << QStringList{};
        QTest::newRow("punctuation only heard")
            << QStringLiteral("[{\"heard\":\"?!\",\"correct\":\"Dunnel\"}]") << QStringList{};
    }

    void fixes()
    {
        QFETCH(QString, fixes);
        QFETCH(QStringList, expected);
        const auto result = Research::parse(QStringLiteral("{\"fixes\":") + fixes + u'}', kRecent);
        QVERIFY(result);
        QStringList got;
        for (const ResearchResult::Fix &fix : result->fixes)
            got.append(fix.heard + QStringLiteral("→") + fix.correct);
        QCOMPARE(got, expected);
    }

    void listsAreCut()
    {
        QString names;
        QString terms;
        QString fixes;
        QString recent;
        for (int i = 0; i < 15; ++i) {
            const QString word = QStringLiteral("word%1x").arg(i);
            recent += word + u' ';
            names += QStringLiteral("\"Name %1\",").arg(word);
            terms += QStringLiteral("{\"en\":\"%1\",\"zh\":\"词\"},").arg(word);
            fixes += QStringLiteral("{\"heard\":\"%1\",\"correct\":\"Right%2\"},").arg(word).arg(i);
        }
        names.chop(1);
        terms.chop(1);
        fixes.chop(1);
        const auto result = Research::parse(QStringLiteral("{\"names\":[%1],\"terms\":[%2],\"fixes\":[%3]}")
                                                .arg(names, terms, fixes),
                                            recent);
        QVERIFY(result);
        QCOMPARE(result->names.size(), 12);
        QCOMPARE(result->terms.size(), 12);
        QCOMPARE(result->fixes.size(), 10);
    }
};

DODEDAROV_TEST(ResearchTest)
#include "ResearchTest.moc"
