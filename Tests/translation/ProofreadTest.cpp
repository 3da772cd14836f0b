#include "TestMain.h"

#include "translation/Proofread.h"

using Line = Proofread::Line;
using Fix = Proofread::Fix;
using Range = Proofread::Range;
using Ranges = QList<Range>;

Q_DECLARE_METATYPE(Proofread::Chunks)

namespace {

QList<Line> linesOfWords(int count, int words)
{
    QStringList text;
    for (int i = 0; i < words; ++i)
        text.append(QStringLiteral("w%1").arg(i));
    return QList<Line>(count, Line{text.join(u' '), QString()});
}

} // namespace

class ProofreadTest final : public QObject {
    Q_OBJECT
private slots:
    void chunks_data();
    void chunks();
    void promptLayout();
    void parse_data();
    void parse();
    void parseTakesFirstAcceptedIndexOnly();
    void note_data();
    void note();
    void difference_data();
    void difference();
};

void ProofreadTest::chunks_data()
{
    QTest::addColumn<QList<Line>>("lines");
    QTest::addColumn<Proofread::Chunks>("expected");

    QTest::newRow("empty record") << QList<Line>{} << Proofread::Chunks{};
    QTest::newRow("line cap: 100 x 20 words")
        << linesOfWords(100, 20) << Proofread::Chunks{Ranges{{0, 60}, {60, 100}}, 0};
    QTest::newRow("word cap: 100 x 30 words")
        << linesOfWords(100, 30) << Proofread::Chunks{Ranges{{0, 50}, {50, 100}}, 0};
    QTest::newRow("one long line stands alone")
        << QList<Line>{linesOfWords(1, 10)[0], linesOfWords(1, 2000)[0], linesOfWords(1, 10)[0]}
        << Proofread::Chunks{Ranges{{0, 1}, {1, 2}, {2, 3}}, 0};
    QTest::newRow("translation words do not count")
        << QList<Line>(3, Line{QStringLiteral("a b"), QString(5000, u'x') + QStringLiteral(" y")})
        << Proofread::Chunks{Ranges{{0, 3}}, 0};
    QTest::newRow("chinese counts characters as words")
        << QList<Line>{Line{QString(1000, u'字'), {}}, Line{QString(501, u'字'), {}}}
        << Proofread::Chunks{Ranges{{0, 1}, {1, 2}}, 0};

    // 3,100 one-word lines: 30 chunks of 60 lines, and the last 1,300 lines are reported as
    // left out instead of silently dropped.
    Ranges thirty;
    for (int i = 0; i < 30; ++i)
        thirty.append(Range{i * 60, i * 60 + 60});
    QTest::newRow("chunk cap leaves lines out")
        << linesOfWords(3100, 1) << Proofread::Chunks{thirty, 1300};
    // Exactly 30 full chunks: nothing is left out.
    QTest::newRow("chunk cap reached exactly") << linesOfWords(1800, 1)
                                               << Proofread::Chunks{thirty, 0};
}

void ProofreadTest::chunks()
{
    QFETCH(QList<Line>, lines);
    QFETCH(Proofread::Chunks, expected);
    const Proofread::Chunks got = Proofread::chunks(lines, 1500, 60, 30);
    QCOMPARE(got.ranges, expected.ranges);
    QCOMPARE(got.unproofread, expected.unproofread);
}

void ProofreadTest::promptLayout()
{
    QList<Line> lines;
    for (int i = 0; i < 8; ++i)
        lines.append(Line{QStringLiteral("source %1").arg(i), i == 5 ? QString() : QStringLiteral("译文%1").arg(i)});
    const Proofread::Prompt prompt = Proofread::prompt(lines, Range{4, 6}, QStringLiteral("\n\n【本场背景】X"));
    QCOMPARE(prompt.user, QStringLiteral("#4\nSRC: source 4\nTR: 译文4\n#5\nSRC: source 5\nTR: \n"));
    // The whole fixed text, then the caller's context with no separator.
    const QString fixed = QStringLiteral(
        "你是会议记录的校对员。下面是一场会议记录的一段，每段三行：编号、原文 SRC（语音识别结果，常有发音相近的错词）、译文 TR（实时机器翻译，可能为空）。\n"
        "请：\n"
        "1. 改正原文里的语音识别错误：结合上下文和背景，把讲不通的词换成发音相近、真正说的词（人名、术语、地名最常见）。不要润色，不要改说法，不要补全没说完的话。不要按你的知识把讲话人说的名称换成你认为更常见或更新的说法（比如 Department of War、DOW 不要改成 Department of Defense、DOD），只改发音相近的识别错误。\n"
        "2. 改正译文里的明显错误：错译、漏译、术语或人名译错、因为原文识别错而译错的。译文本来通顺的不要改风格。\n"
        "3. 背景里给出的人名、试验名、机构名是正确写法；原文或译文里发音相近的写法（比如 Synchronys 对 SYNCHRONOUS）一律改成背景里的写法。同一个人名、会议名、机构名在整场里常被识别成好几种写法（比如 Brannock 被听成 Brannick、Branna、Prannock）：按本场说明、前情提要和上下文统一成正确的写法，原文和译文都改。\n"
        "只输出 JSON：{\"fixes\":[{\"i\":编号,\"src\":\"改正后的完整原文\",\"tr\":\"改正后的完整译文\",\"why\":\"为什么改，中文，15 字以内\"}]}\n"
        "没改的字段省略；整段都没问题的编号不要出现。没有要改的就给 {\"fixes\":[]}。");
    QCOMPARE(prompt.system, fixed + QStringLiteral("\n\n【本场背景】X"));
    QCOMPARE(Proofread::prompt(lines, Range{4, 6}, {}).system, fixed);
    QCOMPARE(Proofread::prompt(lines, Range{3, 3}, {}).user, QString());
}

void ProofreadTest::parse_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QList<Fix>>("expected");

    const auto src = [](int i, const QString &s, const QString &why = {}) {
        return Fix{i, s, std::nullopt, why};
    };
    const auto tr = [](int i, const QString &t, const QString &why = {}) {
        return Fix{i, std::nullopt, t, why};
    };

    QTest::newRow("prose and code fence around the object")
        << QStringLiteral("好的：\n```json\n{\"fixes\":[{\"i\":4,\"src\":\"the new trial\",\"why\":\"听错\"}]}\n```")
        << QList<Fix>{src(4, "the new trial", "听错")};
    QTest::newRow("index as #7 text") << QStringLiteral("{\"fixes\":[{\"i\":\"#7\",\"tr\":\"新的试验\"}]}")
                                      << QList<Fix>{tr(7, "新的试验")};
    QTest::newRow("index 7.9 is 7") << QStringLiteral("{\"fixes\":[{\"i\":7.9,\"tr\":\"新的试验\"}]}")
                                    << QList<Fix>{tr(7, "新的试验")};
    QTest::newRow("index outside the chunk")
        << QStringLiteral("{\"fixes\":[{\"i\":3,\"tr\":\"新的试验\"},{\"i\":8,\"tr\":\"新的试验\"}]}")
        << QList<Fix>{};
    QTest::newRow("index beyond Int") << QStringLiteral("{\"fixes\":[{\"i\":1e300,\"tr\":\"新的\"},{\"i\":\"99999999999\",\"tr\":\"新的\"}]}")
                                      << QList<Fix>{};
    QTest::newRow("bad index texts") << QStringLiteral("{\"fixes\":[{\"i\":\"4a\",\"tr\":\"新的\"},{\"i\":\"-\",\"tr\":\"新的\"},{\"i\":null,\"tr\":\"新的\"},{\"i\":true,\"tr\":\"新的\"}]}")
                                     << QList<Fix>{};
    QTest::newRow("second fix for an index ignored")
        << QStringLiteral("{\"fixes\":[{\"i\":4,\"src\":\"the new trial\"},{\"i\":4,\"src\":\"the new trail x\"}]}")
        << QList<Fix>{src(4, "the new trial")};
    QTest::newRow("source turned english dropped")
        << QStringLiteral("{\"fixes\":[{\"i\":5,\"src\":\"we discuss the budget\"}]}") << QList<Fix>{};
    QTest::newRow("chinese source fix kept")
        << QStringLiteral("{\"fixes\":[{\"i\":5,\"src\":\"我们今天讨论欲算。\"}]}")
        << QList<Fix>{src(5, "我们今天讨论欲算。")};
    QTest::newRow("unchanged source dropped")
        << QStringLiteral("{\"fixes\":[{\"i\":4,\"src\":\"the new trail\"}]}") << QList<Fix>{};
    QTest::newRow("source too short dropped")
        << QStringLiteral("{\"fixes\":[{\"i\":4,\"src\":\"a new\"}]}") << QList<Fix>{};
    QTest::newRow("source ratio exactly 2 kept")
        << QStringLiteral("{\"fixes\":[{\"i\":4,\"src\":\"the new trail the new trai\"}]}")
        << QList<Fix>{src(4, "the new trail the new trai")};
    QTest::newRow("translation 2.5 times kept")
        << QStringLiteral("{\"fixes\":[{\"i\":6,\"tr\":\"试验试验试\"}]}")
        << QList<Fix>{tr(6, "试验试验试")};
    QTest::newRow("translation above 2.5 dropped")
        << QStringLiteral("{\"fixes\":[{\"i\":6,\"tr\":\"试验试验试验\"}]}") << QList<Fix>{};
    QTest::newRow("translation changing script dropped")
        << QStringLiteral("{\"fixes\":[{\"i\":6,\"tr\":\"trial\"}]}") << QList<Fix>{};
    QTest::newRow("missing translation supplied whatever its length")
        << QStringLiteral("{\"fixes\":[{\"i\":7,\"tr\":\"a very long english translation instead\"}]}")
        << QList<Fix>{tr(7, "a very long english translation instead")};
    QTest::newRow("texts made one line, spaces trimmed")
        << QStringLiteral("{\"fixes\":[{\"i\":4,\"src\":\" the new\\ntrial \\t\",\"why\":\"\\t两行\\n原因 \"}]}")
        << QList<Fix>{src(4, "the new trial", "两行 原因")};
    QTest::newRow("why cut to 40 characters")
        << QStringLiteral("{\"fixes\":[{\"i\":7,\"tr\":\"补\",\"why\":\"%1\"}]}").arg(QString(45, u'因'))
        << QList<Fix>{tr(7, "补", QString(40, u'因'))};
    QTest::newRow("one field kept, the other dropped")
        << QStringLiteral("{\"fixes\":[{\"i\":4,\"src\":\"x\",\"tr\":\"新的试验\"}]}")
        << QList<Fix>{tr(4, "新的试验")};
    QTest::newRow("rejected fix does not block a later one")
        << QStringLiteral("{\"fixes\":[{\"i\":4,\"src\":\"x\"},{\"i\":4,\"src\":\"the new trial\"}]}")
        << QList<Fix>{src(4, "the new trial")};
    QTest::newRow("not json") << QStringLiteral("no fixes today") << QList<Fix>{};
    QTest::newRow("braces reversed") << QStringLiteral("} nothing {") << QList<Fix>{};
    QTest::newRow("fixes not an array") << QStringLiteral("{\"fixes\":{\"i\":4}}") << QList<Fix>{};
    QTest::newRow("top level array") << QStringLiteral("[{\"fixes\":[]}]") << QList<Fix>{};
    QTest::newRow("a non-object element voids the list")
        << QStringLiteral("{\"fixes\":[{\"i\":4,\"src\":\"the new trial\"},1]}") << QList<Fix>{};
}

void ProofreadTest::parse()
{
    QFETCH(QString, reply);
    QFETCH(QList<Fix>, expected);
    QList<Line> lines(10, Line{QStringLiteral("filler"), QStringLiteral("填充")});
    lines[4] = Line{QStringLiteral("the new trail"), QStringLiteral("新的小路")};
    lines[5] = Line{QStringLiteral("我们今天讨论预算。"), QStringLiteral("We discuss the budget today.")};
    lines[6] = Line{QStringLiteral("a trial"), QStringLiteral("试验")};
    lines[7] = Line{QStringLiteral("untranslated"), QString()};
    QCOMPARE(Proofread::parse(reply, lines, Range{4, 8}), expected);
}

void ProofreadTest::parseTakesFirstAcceptedIndexOnly()
{
    const QList<Line> lines{Line{QStringLiteral("one"), QString()}, Line{QStringLiteral("two"), QString()}};
    const QList<Fix> fixes = Proofread::parse(
        QStringLiteral("{\"fixes\":[{\"i\":\"+1\",\"tr\":\"二\"},{\"i\":0,\"tr\":\"一\"},{\"i\":1,\"tr\":\"贰\"}]}"),
        lines, Range{0, 2});
    QCOMPARE(fixes, (QList<Fix>{Fix{1, std::nullopt, QStringLiteral("二"), {}},
                                Fix{0, std::nullopt, QStringLiteral("一"), {}}}));
}

void ProofreadTest::note_data()
{
    QTest::addColumn<Fix>("fix");
    QTest::addColumn<Line>("original");
    QTest::addColumn<QString>("expected");

    QTest::newRow("translation supplied")
        << Fix{0, std::nullopt, QStringLiteral("Hello"), {}} << Line{QStringLiteral("你好"), {}}
        << QStringLiteral("〔校对〕补上了译文");
    QTest::newRow("both with reason")
        << Fix{0, QStringLiteral("the new trial"), QStringLiteral("新的试验"), QStringLiteral("听错")}
        << Line{QStringLiteral("the new trail"), QStringLiteral("新的小路")}
        << QStringLiteral("〔校对〕原文：trail → trial；译文：新的小路 → 新的试验（听错）");
}

void ProofreadTest::note()
{
    QFETCH(Fix, fix);
    QFETCH(Line, original);
    QTEST(Proofread::note(fix, original), "expected");
}

void ProofreadTest::difference_data()
{
    QTest::addColumn<QString>("old");
    QTest::addColumn<QString>("updated");
    QTest::addColumn<QString>("oldSpan");
    QTest::addColumn<QString>("newSpan");

    QTest::newRow("context stops at a mark") << "我们今天讨论预算。" << "我们今天讨论欲算。"
                                             << "讨论预算" << "讨论欲算";
    QTest::newRow("context stops at the start") << "预算很高" << "欲算很高" << "预算很" << "欲算很";
    QTest::newRow("mark just before the change") << "好，预算" << "好，欲算" << "预算" << "欲算";
    QTest::newRow("word mode") << "the new trail" << "the new trial" << "trail" << "trial";
    QTest::newRow("word mode deletion") << "we will go now" << "we go now" << "will" << "（无）";
    QTest::newRow("one text chinese switches to characters") << "ab" << "ab好" << "ab" << "ab好";
    QTest::newRow("repeated tokens never overlap") << "a a" << "a a a" << "（无）" << "a";
    QTest::newRow("long span cut at 60")
        << QString(70, u'x') << QString(70, u'y') << QString(60, u'x') + QStringLiteral("…")
        << QString(60, u'y') + QStringLiteral("…");
    QTest::newRow("identical") << "same" << "same" << "（无）" << "（无）";
    QTest::newRow("emoji is one character")
        << QStringLiteral("好\U0001F600好好") << QStringLiteral("好\U0001F601好好")
        << QStringLiteral("好\U0001F600好好") << QStringLiteral("好\U0001F601好好");
}

void ProofreadTest::difference()
{
    QFETCH(QString, old);
    QFETCH(QString, updated);
    const auto [before, after] = Proofread::difference(old, updated);
    QTEST(before, "oldSpan");
    QTEST(after, "newSpan");
}

DODEDAROV_TEST(ProofreadTest)
#include "ProofreadTest.moc"
