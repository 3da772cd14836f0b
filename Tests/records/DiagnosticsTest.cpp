#include "TestMain.h"

#include "records/Diagnostics.h"

#include <cmath>
#include <limits>

using Line = Diagnostics::Line;
using Finding = Diagnostics::Finding;
using Lines = QList<Line>;
using Events = QList<DiagnosticEvent>;
using Summary = Diagnostics::Summary;
using Summaries = QList<Summary>;

Q_DECLARE_METATYPE(Lines)
Q_DECLARE_METATYPE(Events)
Q_DECLARE_METATYPE(Summaries)

namespace {

Line line(const QString &time, const QString &source, const QString &translation, const QString &language = "en")
{
    Line l;
    l.time = time;
    l.source = source;
    l.translation = translation;
    l.language = language;
    return l;
}

Line withLatency(Line l, double latency)
{
    l.latency = latency;
    return l;
}

Line proofread(Line l, bool source, bool translation, const QString &note, const QStringList &fixedWords = {})
{
    l.sourceFixed = source;
    l.translationFixed = translation;
    l.proofreadNote = note;
    l.fixedWords = fixedWords;
    return l;
}

// "category｜time｜detail": a failing comparison shows which finding differs.
QStringList flat(const QList<Finding> &findings)
{
    QStringList out;
    for (const Finding &f : findings)
        out.append(f.category + u'|' + f.time + u'|' + f.detail);
    return out;
}

QString finding(int category, const QString &time, const QString &detail)
{
    return Diagnostics::categories[category] + u'|' + time + u'|' + detail;
}

QString repeated(const QString &unit, int times)
{
    QString out;
    for (int i = 0; i < times; ++i)
        out += unit;
    return out;
}

// A source of `words` plain lower-case words ending in a full stop.
QString sentence(int words)
{
    QStringList w;
    for (int i = 0; i < words; ++i)
        w.append(QStringLiteral("word%1").arg(i));
    return QStringLiteral("So ") + w.join(u' ') + u'.';
}

enum {
    sourceProofread,
    translationProofread,
    tooShort,
    englishLeft,
    repeatedLine,
    fragment,
    slowLine,
    otherLanguage,
    nameSpellings,
    researchName,
    correctionChanged,
    researchUnparsed,
};

const QString kCountTableZeros = QStringLiteral(
    "## 问题计数\n\n| 类别 | 次数 |\n|---|---|\n"
    "| 校对改了识别 | 0 |\n| 校对改了翻译 | 0 |\n| 译文过短（可能漏译） | 0 |\n| 译文残留英文 | 0 |\n"
    "| 相邻重复 | 0 |\n| 碎片段落 | 0 |\n| 出字慢 | 0 |\n| 其他语言片段 | 0 |\n| 名字写法不一致 | 0 |\n"
    "| 研究收了原文没有的名字 | 0 |\n| 会中纠正又被校对改动 | 0 |\n| 研究回复解析失败 | 0 |\n");

} // namespace

class DiagnosticsTest final : public QObject {
    Q_OBJECT

private slots:
    void midSentenceCapitalized_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("words");

        QTest::newRow("first word never") << "Hello World" << QStringList{"World"};
        QTest::newRow("after a full stop never") << "We met Alice. Bob came" << QStringList{"Alice"};
        QTest::newRow("after question and exclamation marks")
            << "Is it Carol? Dave said so! Eve too" << QStringList{"Carol"};
        QTest::newRow("a mark inside a word starts a sentence") << "see x!Alpha Beta" << QStringList{"Beta"};
        QTest::newRow("apostrophe and digits split words")
            << "we saw Bob's car and NASA3X" << QStringList{"Bob", "NASA", "X"};
        QTest::newRow("last word of the text") << "we met Zed" << QStringList{"Zed"};
        QTest::newRow("accented letters end a word") << "we met Jos\u00e9 and Ren\u0065\u0301e"
                                                     << QStringList{"Jos", "Ren"};
        QTest::newRow("lower-case words") << "nothing here at all." << QStringList{};
        QTest::newRow("empty") << "" << QStringList{};
        QTest::newRow("stop before the first word") << "...And Then" << QStringList{"Then"};
    }

    void midSentenceCapitalized()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, words);
        QCOMPARE(Diagnostics::midSentenceCapitalized(text), words);
    }

    void findings_data()
    {
        QTest::addColumn<Lines>("lines");
        QTest::addColumn<QStringList>("researchNames");
        QTest::addColumn<QStringList>("knownNames");
        QTest::addColumn<Events>("events");
        QTest::addColumn<QStringList>("expected");

        const QStringList none;
        const Events noEvents;

        // 1, 2 and 11: proofreading.
        const Line zh = line("10:00:01", "我们开始吧", "Let's begin.", "zh");
        QTest::newRow("source fixed, and the translation too, gives one finding")
            << Lines{proofread(zh, true, true, "改了“开始”")} << none << none << noEvents
            << QStringList{finding(sourceProofread, "10:00:01", "改了“开始”｜原文：我们开始吧")};
        QTest::newRow("translation fixed")
            << Lines{proofread(zh, false, true, "译文改了")} << none << none << noEvents
            << QStringList{finding(translationProofread, "10:00:01", "译文改了｜原文：我们开始吧")};
        QTest::newRow("not proofread") << Lines{zh} << none << none << noEvents << QStringList{};
        QTest::newRow("correction changed again")
            << Lines{proofread(zh, true, false, "又改了", {"Tarvick", "Kandor"})} << none << none << noEvents
            << QStringList{finding(sourceProofread, "10:00:01", "又改了｜原文：我们开始吧"),
                           finding(correctionChanged, "10:00:01", "会中改成 Tarvick、Kandor｜又改了")};
        QTest::newRow("correction with only the translation proofread")
            << Lines{proofread(zh, false, true, "译文", {"Tarvick"})} << none << none << noEvents
            << QStringList{finding(translationProofread, "10:00:01", "译文｜原文：我们开始吧")};

        // 3: a 20-word source needs 10 Chinese characters.
        const QString twenty = sentence(19);
        QTest::newRow("too short")
            << Lines{line("10:00:02", twenty, "九个汉字九个汉字九")} << none << none << noEvents
            << QStringList{finding(tooShort, "10:00:02", "原文：" + twenty + "｜译文：九个汉字九个汉字九")};
        QTest::newRow("long enough") << Lines{line("10:00:02", twenty, "十个汉字十个汉字十个")} << none << none
                                     << noEvents << QStringList{};
        QTest::newRow("too short only for English")
            << Lines{line("10:00:02", twenty, "九个汉字九个汉字九", "other")} << none << none << noEvents
            << QStringList{};

        // 4: English left in the translation.
        QTest::newRow("english left over")
            << Lines{line("10:00:03", "We discussed the pricing.", "我们讨论了pricing和prompt、token。")} << none
            << none << noEvents
            << QStringList{finding(englishLeft, "10:00:03", "pricing｜译文：我们讨论了pricing和prompt、token。")};
        QTest::newRow("kept words, names, short words and corrected words are fine")
            << Lines{proofread(line("10:00:03", "We discussed the tarvick prompts.",
                                    "我们用 Prompt 调 API，the tarvick 结果和 Token 以及 prompts"),
                               false, false, QString(), {"tarvick"})}
            << none << none << noEvents << QStringList{};
        QTest::newRow("several words joined")
            << Lines{line("10:00:03", "We discussed it.", "关于 pricing 和 margin")} << none << none << noEvents
            << QStringList{finding(englishLeft, "10:00:03", "pricing、margin｜译文：关于 pricing 和 margin")};

        // 5: repetition.
        const Line first = line("10:00:04", "We will talk about the budget today.", "好的，我们今天讨论预算问题。");
        QTest::newRow("echo of the previous end")
            << Lines{first, line("10:00:05", "About the budget today", "关于今天的预算")} << none << none
            << noEvents
            << QStringList{finding(repeatedLine, "10:00:05", "“About the budget today”和上一段结尾一样")};
        QTest::newRow("no echo") << Lines{first, line("10:00:05", "The budget for tomorrow.", "明天的预算")} << none
                                 << none << noEvents << QStringList{};
        const QString repeatedLead = QStringLiteral("我们今天讨论预算问题。接下来请财务部门介绍具体的数字情况。");
        QTest::newRow("translation repeats the previous sentence")
            << Lines{first, line("10:00:05", "Next the finance team explains the numbers.", repeatedLead)} << none
            << none << noEvents
            << QStringList{finding(repeatedLine, "10:00:05", "译文开头重复了上一句｜" + repeatedLead)};
        QTest::newRow("repeated translation lead only for English")
            << Lines{first, line("10:00:05", "Next the finance team explains the numbers.", repeatedLead, "other")}
            << none << none << noEvents << QStringList{};
        QTest::newRow("first line is never a repetition")
            << Lines{line("10:00:05", "Next the finance team explains the numbers.", repeatedLead)} << none << none
            << noEvents << QStringList{};

        // 6: fragments.
        QTest::newRow("two words without a stop")
            << Lines{line("10:00:06", "next question", "下一个问题")} << none << none << noEvents
            << QStringList{finding(fragment, "10:00:06", "“next question”→“下一个问题”")};
        QTest::newRow("thank you is a short reply")
            << Lines{line("10:00:06", "Thank You", "谢谢")} << none << none << noEvents << QStringList{};
        QTest::newRow("uh-huh is a short reply")
            << Lines{line("10:00:06", "Uh-huh", "嗯")} << none << none << noEvents << QStringList{};
        QTest::newRow("one word with a full stop")
            << Lines{line("10:00:06", "Done.", "完成。")} << none << none << noEvents << QStringList{};
        QTest::newRow("one word with a question mark")
            << Lines{line("10:00:06", "Really?", "真的？")} << none << none << noEvents << QStringList{};
        QTest::newRow("three words") << Lines{line("10:00:06", "and then we", "然后我们")} << none << none
                                     << noEvents << QStringList{};
        QTest::newRow("empty source") << Lines{line("10:00:06", "", "")} << none << none << noEvents
                                      << QStringList{};
        QTest::newRow("fragment only for English")
            << Lines{line("10:00:06", "next question", "下一个问题", "other")} << none << none << noEvents
            << QStringList{};

        // 7: slow lines.
        QTest::newRow("latency 4.0 is slow")
            << Lines{withLatency(line("10:00:07", "It is slow.", "很慢。"), 4.0)} << none << none << noEvents
            << QStringList{finding(slowLine, "10:00:07", "4.0 秒｜It is slow.")};
        QTest::newRow("latency 3.99 is not")
            << Lines{withLatency(line("10:00:07", "It is fine.", "还行。"), 3.99)} << none << none << noEvents
            << QStringList{};
        QTest::newRow("latency not a number is absent")
            << Lines{withLatency(line("10:00:07", "It is fine.", "还行。"), std::nan(""))} << none << none
            << noEvents << QStringList{};
        QTest::newRow("infinite latency is absent")
            << Lines{withLatency(line("10:00:07", "It is fine.", "还行。"), std::numeric_limits<double>::infinity())}
            << none << none << noEvents << QStringList{};

        // 9: name spellings.
        QTest::newRow("two spellings of one name")
            << Lines{line("10:00:01", "We met with Tarwick yesterday.", "x"),
                     line("10:00:09", "Then I called Tarvick again.", "x")}
            << none << none << noEvents
            << QStringList{finding(nameSpellings, "10:00:01", "Tarvick / Tarwick")};
        QTest::newRow("across midnight the earlier line's time")
            << Lines{line("23:59:58", "We met with Tarwick yesterday.", "x"),
                     line("00:00:05", "Then I called Tarvick again.", "x")}
            << none << none << noEvents
            << QStringList{finding(nameSpellings, "23:59:58", "Tarvick / Tarwick")};
        QTest::newRow("letter case only is one key")
            << Lines{line("10:00:01", "We met Tarvick.", "x"), line("10:00:02", "So we called TARVICK.", "x")} << none
            << none << noEvents << QStringList{};
        QTest::newRow("inflections are not spellings")
            << Lines{line("10:00:01", "We met Tarvick.", "x"), line("10:00:02", "We met the Tarvicks.", "x")}
            << none << none << noEvents << QStringList{};
        QTest::newRow("words under five letters are never compared")
            << Lines{line("10:00:01", "We met Anna.", "x"), line("10:00:02", "We met Anne.", "x")} << none << none
            << noEvents << QStringList{};
        QTest::newRow("sentence starts are no names")
            << Lines{line("10:00:01", "Tarwick said so.", "x"), line("10:00:02", "We met Tarvick.", "x")} << none
            << none << noEvents << QStringList{};
        QTest::newRow("only English lines")
            << Lines{line("10:00:01", "We met Tarwick.", "x", "other"), line("10:00:02", "We met Tarvick.", "x")}
            << none << none << noEvents << QStringList{};
        QTest::newRow("pairs in sorted order, each letter apart")
            << Lines{line("10:00:01", "We met Kandor and Tarwick and Berlin.", "x"),
                     line("10:00:02", "We met Tarvick and Kandar and Tarvik.", "x")}
            << none << none << noEvents
            << QStringList{finding(nameSpellings, "10:00:01", "Kandar / Kandor"),
                           finding(nameSpellings, "10:00:02", "Tarvick / Tarvik"),
                           finding(nameSpellings, "10:00:01", "Tarvick / Tarwick")};

        QTest::newRow("long spellings sharing their start")
            << Lines{line("10:00:01", "We met Kowalczykowa.", "x"), line("10:00:02", "Then Kowalczykiem spoke.", "x")}
            << none << none << noEvents
            << QStringList{finding(nameSpellings, "10:00:01", "Kowalczykiem / Kowalczykowa")};

        // 10: research names.
        const Lines heard{line("10:00:01", "We met Doctor Smith from Acme Labs.", "x")};
        QTest::newRow("research name nobody said")
            << heard << QStringList{"Tarvick Institute", "John Smith", "Acme Labs", "Known Person", "Smith"}
            << QStringList{"known  person!"} << noEvents
            << QStringList{finding(researchName, "", "Tarvick Institute")};
        QTest::newRow("no lines") << Lines{} << QStringList{"Tarvick"} << none << noEvents
                                  << QStringList{finding(researchName, "", "Tarvick")};
        QTest::newRow("a name without letters is heard only in a silent meeting")
            << heard << QStringList{"--", "Tarvick"} << none << noEvents
            << QStringList{finding(researchName, "", "--"), finding(researchName, "", "Tarvick")};
        QTest::newRow("a name without letters in a silent meeting")
            << Lines{line("10:00:01", "...", "x")} << QStringList{"--"} << none << noEvents << QStringList{};

        // 12: unparsed research replies.
        const QString longReply = repeated("回", 150) + repeated(QStringLiteral("x"), 100);
        QTest::newRow("unparsed research replies")
            << Lines{} << none << none
            << Events{{125.9, "research_unparsed", {{"reply", longReply}}},
                      {3, "research_reply", {{"reply", "ignored"}}},
                      {59.99, "research_unparsed", {}}}
            << QStringList{finding(researchUnparsed, "+2:05", repeated("回", 150) + repeated("x", 50)),
                           finding(researchUnparsed, "+0:59", "")};
    }

    void findings()
    {
        QFETCH(Lines, lines);
        QFETCH(QStringList, researchNames);
        QFETCH(QStringList, knownNames);
        QFETCH(Events, events);
        QFETCH(QStringList, expected);
        QCOMPARE(flat(Diagnostics::findings(lines, researchNames, knownNames, events, 4.0)), expected);
    }

    void otherLanguageInMostlyEnglishMeetings_data()
    {
        QTest::addColumn<int>("english");
        QTest::addColumn<int>("findings");
        QTest::newRow("85 of 100 English") << 85 << 15;
        QTest::newRow("84 of 100 English") << 84 << 0;
    }

    void otherLanguageInMostlyEnglishMeetings()
    {
        QFETCH(int, english);
        QFETCH(int, findings);
        Lines lines;
        for (int i = 0; i < 100; ++i) {
            if (i < english)
                lines.append(line("10:00:00", QStringLiteral("Line number %1 is here.").arg(i), "这是一句。"));
            else
                lines.append(line("10:00:00", QStringLiteral("Hola amigos numero %1").arg(i), "你好", "other"));
        }
        const QList<Finding> found = Diagnostics::findings(lines, {}, {}, {}, 4.0);
        QCOMPARE(found.size(), findings);
        for (const Finding &f : found) {
            QCOMPARE(f.category, Diagnostics::categories[otherLanguage]);
            QVERIFY(f.detail.startsWith("英文为主的会议里出现其他语言：Hola amigos numero "));
        }
    }

    void counts()
    {
        const QMap<QString, int> empty = Diagnostics::counts({});
        QCOMPARE(empty.size(), 12);
        for (const QString &category : Diagnostics::categories)
            QCOMPARE(empty.value(category, -1), 0);

        const QMap<QString, int> some = Diagnostics::counts(
            {{Diagnostics::categories[slowLine], "", "a"}, {Diagnostics::categories[slowLine], "", "b"},
             {Diagnostics::categories[fragment], "", "c"}});
        QCOMPARE(some.size(), 12);
        QCOMPARE(some.value(Diagnostics::categories[slowLine]), 2);
        QCOMPARE(some.value(Diagnostics::categories[fragment]), 1);
        QCOMPARE(some.value(Diagnostics::categories[sourceProofread]), 0);
    }

    void eventTime_data()
    {
        QTest::addColumn<double>("t");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "+0:00";
        QTest::newRow("truncated, not rounded") << 125.9 << "+2:05";
        QTest::newRow("an hour") << 3600.0 << "+60:00";
        QTest::newRow("not a number") << std::nan("") << "+0:00";
    }

    void eventTime()
    {
        QFETCH(double, t);
        QFETCH(QString, text);
        QCOMPARE(Diagnostics::eventTime(t), text);
    }

    void wholeReport()
    {
        Diagnostics::Context context;
        context.name = "2026-01-05 09.15.02";
        context.version = "1.4.0";
        context.settings = {{"显示", "中英"}, {"只听英文", "关"}};
        context.minutes = 42.4;
        context.lines = {withLatency(line("09:15:10", "Hello everyone.", "大家好。"), 2.34),
                         proofread(line("09:15:20", "next question", "下一个问题"), false, true, "补了问号"),
                         line("09:15:30", "我们开始", "Let's start", "zh")};
        context.events = {
            {12.25, "pause", {{"text", "去喝水\n马上回来"}}},
            {20, "resume", {}},
            {30, "soundalike", {{"changes", "Tarwick→Tarvick"}}},
            {31, "soundalike", {{"text", "第二\n行"}, {"changes", "ignored"}}},
            {32, "research_reply", {{"summary", ""}}},
            {65, "stopped", {{"reason", "user"}}},
            {66, "asr", {{"text", "ignored"}}},
            {70, "key_switch", {}},
        };
        context.researchNames = {"Tarvick Institute"};
        context.notes = {"Tarvick 是公司名\n不要翻译", "会议主题：预算"};
        context.stats = {{"翻译请求", "12 次"}, {"识别计费", "3.5 分钟"}};

        const QList<Finding> found = Diagnostics::findings(context.lines, context.researchNames, {},
                                                           context.events, 4.0);
        const QString expected = QStringLiteral(
            "# 诊断：2026-01-05 09.15.02\n\n"
            "泰萨利字幕 1.4.0｜时长 42 分钟｜3 段\n\n"
            "## 自动分析（DeepSeek）\n\n"
            "整体不错。\n\n"
            "## 问题计数\n\n| 类别 | 次数 |\n|---|---|\n"
            "| 校对改了识别 | 0 |\n| 校对改了翻译 | 1 |\n| 译文过短（可能漏译） | 0 |\n| 译文残留英文 | 0 |\n"
            "| 相邻重复 | 0 |\n| 碎片段落 | 1 |\n| 出字慢 | 0 |\n| 其他语言片段 | 0 |\n| 名字写法不一致 | 0 |\n"
            "| 研究收了原文没有的名字 | 1 |\n| 会中纠正又被校对改动 | 0 |\n| 研究回复解析失败 | 0 |\n"
            "\n## 可疑点（按规则自动挑出）\n\n"
            "### 校对改了翻译（1）\n\n- 09:15:20  补了问号｜原文：next question\n\n"
            "### 碎片段落（1）\n\n- 09:15:20  “next question”→“下一个问题”\n\n"
            "### 研究收了原文没有的名字（1）\n\n- Tarvick Institute\n\n"
            "## 研究和纠正\n\n"
            "- 定时研究：1 次\n"
            "- 送翻译前纠正：2 次\n"
            "  - +0:30  Tarwick→Tarvick\n"
            "  - +0:31  第二 行\n"
            "- 本场说明：Tarvick 是公司名\n  不要翻译；会议主题：预算\n"
            "\n## 性能和花费\n\n"
            "- 翻译请求：12 次\n- 识别计费：3.5 分钟\n"
            "- 出字延迟：中位 2.3 秒，90% 2.3 秒，最慢 2.3 秒\n"
            "- 停止、出错、换密钥：\n  - +1:05  stopped user\n  - +1:10  key_switch \n"
            "\n## 操作\n\n"
            "- pause：1 次｜去喝水\n  马上回来\n"
            "- resume：1 次\n"
            "\n## 设置\n\n- 显示：中英\n- 只听英文：关\n"
            "\n（详细事件见同名“事件.jsonl”：每行一条，t 是开始后的秒数。）\n");
        QCOMPARE(Diagnostics::report(context, found, "\n  整体不错。 \n"), expected);
    }

    void emptyReport()
    {
        Diagnostics::Context context;
        context.name = "n";
        context.version = "v";
        const QString expected = "# 诊断：n\n\n泰萨利字幕 v｜时长 0 分钟｜0 段\n\n" + kCountTableZeros
            + "\n## 可疑点（按规则自动挑出）\n\n## 研究和纠正\n\n\n## 性能和花费\n\n\n## 操作\n\n\n## 设置\n\n"
              "\n（详细事件见同名“事件.jsonl”：每行一条，t 是开始后的秒数。）\n";
        QCOMPARE(Diagnostics::report(context, {}, QString()), expected);
    }

    void reportSections_data()
    {
        QTest::addColumn<int>("findings");
        QTest::addColumn<bool>("more");
        QTest::newRow("30 findings listed whole") << 30 << false;
        QTest::newRow("31 findings: 30 and a line for the rest") << 31 << true;
    }

    void reportSections()
    {
        QFETCH(int, findings);
        QFETCH(bool, more);
        QList<Finding> found;
        for (int i = 0; i < findings; ++i)
            found.append({Diagnostics::categories[slowLine], "10:00:00", QStringLiteral("f%1\nnext").arg(i)});
        const QString report = Diagnostics::report({}, found, {});
        QVERIFY(report.contains(QStringLiteral("### 出字慢（%1）\n\n").arg(findings)));
        QVERIFY(report.contains("- 10:00:00  f0 next\n"));
        QVERIFY(report.contains("- 10:00:00  f29 next\n"));
        QVERIFY(!report.contains("f30 next"));
        QCOMPARE(report.contains("- 10:00:00  f29 next\n- ……另外 1 条见事件日志\n\n## 研究和纠正"), more);
        QCOMPARE(report.contains("- 10:00:00  f29 next\n\n## 研究和纠正"), !more);
    }

    void reportEventTexts()
    {
        Diagnostics::Context context;
        const QString text300 = "a\r\nb\rc\n" + repeated("字", 297);
        for (int i = 0; i < 9; ++i)
            context.events.append({double(i), "shown_fix", {{"summary", i == 0 ? text300 : QStringLiteral("s%1").arg(i)}}});
        for (int i = 0; i < 7; ++i) {
            context.events.append({100.0 + i, "note", i == 1 ? QMap<QString, QString>{}
                                                              : QMap<QString, QString>{{"text", repeated("n", 100)}}});
        }
        for (int i = 0; i < 12; ++i)
            context.events.append({200.0 + i, i % 2 ? "error" : "key_switch", {{"reason", QStringLiteral("r%1").arg(i)}}});
        const QString report = Diagnostics::report(context, {}, {});
        // The first ten stops, errors and key switches, in log order.
        QVERIFY(report.contains("- 停止、出错、换密钥：\n  - +3:20  key_switch r0\n  - +3:21  error r1\n"));
        QVERIFY(report.contains("  - +3:29  error r9\n\n## 操作"));
        // 240 characters, "\r\n" being one of them, each line end a blank.
        QVERIFY(report.contains("- 回改已显示的字幕：9 次\n  - +0:00  a b c " + repeated("字", 234) + "\n  - +0:01  s1\n"));
        QVERIFY(report.contains("  - +0:07  s7\n"));
        QVERIFY(!report.contains("s8"));
        // The first five note events: one without text adds nothing, texts cut to 80.
        const QString note80 = u'｜' + repeated("n", 80);
        QVERIFY(report.contains("- note：7 次" + note80 + note80 + note80 + note80 + "\n"));
    }

    void latencyPercentiles_data()
    {
        QTest::addColumn<QList<double>>("latencies");
        QTest::addColumn<QString>("text");
        QTest::newRow("one") << QList<double>{2.34} << "中位 2.3 秒，90% 2.3 秒，最慢 2.3 秒";
        QTest::newRow("ten: the 90% value is the largest")
            << QList<double>{5, 1, 2, 3, 4, 6, 7, 8, 9, 10.04} << "中位 6.0 秒，90% 10.0 秒，最慢 10.0 秒";
        QTest::newRow("eleven") << QList<double>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}
                                << "中位 6.0 秒，90% 10.0 秒，最慢 11.0 秒";
    }

    void latencyPercentiles()
    {
        QFETCH(QList<double>, latencies);
        QFETCH(QString, text);
        Diagnostics::Context context;
        for (double latency : latencies)
            context.lines.append(withLatency(line("10:00:00", "A b c.", "甲乙丙。"), latency));
        context.lines.append(line("10:00:00", "No latency.", "没有。"));
        context.lines.append(withLatency(line("10:00:00", "Broken.", "坏了。"), std::nan("")));
        QVERIFY(Diagnostics::report(context, {}, {}).contains("- 出字延迟：" + text + "\n"));
    }

    void summaryRoundTrip()
    {
        QMap<QString, int> counts = Diagnostics::counts({});
        counts[Diagnostics::categories[slowLine]] = 3;
        const QString json = Diagnostics::summaryJSON("2026-01-05 09.15.02", "1.4.0", 12.25, 200, counts);
        QVERIFY(json.contains("\"minutes\": 12.3"));
        QVERIFY(json.contains("\"lines\": 200"));
        QVERIFY(json.contains("\"出字慢\": 3"));
        QVERIFY(json.indexOf("\"counts\"") < json.indexOf("\"lines\""));
        QVERIFY(json.indexOf("\"lines\"") < json.indexOf("\"minutes\""));
        QVERIFY(json.indexOf("\"minutes\"") < json.indexOf("\"name\""));
        QVERIFY(json.indexOf("\"name\"") < json.indexOf("\"version\""));

        const std::optional<Summary> read = Diagnostics::parseSummary(json);
        QVERIFY(read);
        QCOMPARE(read->name, "2026-01-05 09.15.02");
        QCOMPARE(read->version, "1.4.0");
        QCOMPARE(read->minutes, 12.3);
        QCOMPARE(read->lines, 200);
        QCOMPARE(read->counts, counts);

        // JSON has no NaN: such a summary is "{}", which no reader accepts.
        const QString broken = Diagnostics::summaryJSON("x", "v", std::nan(""), 1, counts);
        QCOMPARE(broken, "{}");
        QVERIFY(!Diagnostics::parseSummary(broken));
    }

    void parseSummary_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("version");
        QTest::addColumn<double>("minutes");
        QTest::addColumn<int>("lines");
        QTest::addColumn<QStringList>("counts");

        QTest::newRow("not JSON") << "{\"name\": " << false << "" << 0.0 << 0 << QStringList{};
        QTest::newRow("an array") << "[{\"name\": \"a\"}]" << false << "" << 0.0 << 0 << QStringList{};
        QTest::newRow("no name") << "{\"version\": \"1\"}" << false << "" << 0.0 << 0 << QStringList{};
        QTest::newRow("name not a string") << "{\"name\": 5}" << false << "" << 0.0 << 0 << QStringList{};
        QTest::newRow("empty") << "" << false << "" << 0.0 << 0 << QStringList{};
        QTest::newRow("only a name") << "{\"name\": \"a\"}" << true << "" << 0.0 << 0 << QStringList{};
        QTest::newRow("full") << "{\"name\":\"a\",\"version\":\"2\",\"minutes\":30.5,\"lines\":120,\"counts\":{\"出字慢\":4,\"碎片段落\":0}}"
                              << true << "2" << 30.5 << 120 << QStringList{"出字慢=4", "碎片段落=0"};
        QTest::newRow("counts that are not whole numbers dropped")
            << "{\"name\":\"a\",\"counts\":{\"出字慢\":2.5,\"碎片段落\":\"3\",\"相邻重复\":3.0,\"x\":-1,\"y\":1e300,\"z\":null}}"
            << true << "" << 0.0 << 0 << QStringList{"相邻重复=3"};
        QTest::newRow("counts not an object") << "{\"name\":\"a\",\"counts\":[1,2]}" << true << "" << 0.0 << 0
                                              << QStringList{};
        QTest::newRow("values of the wrong type read as absent")
            << "{\"name\":\"a\",\"version\":3,\"minutes\":\"30\",\"lines\":\"120\"}" << true << "" << 0.0 << 0 << QStringList{};
        QTest::newRow("lines out of range read as absent")
            << "{\"name\":\"a\",\"lines\":-4,\"minutes\":-2}" << true << "" << 0.0 << 0 << QStringList{};
        QTest::newRow("lines too large read as absent")
            << "{\"name\":\"a\",\"lines\":1e20,\"minutes\":1e300}" << true << "" << 0.0 << 0 << QStringList{};
        QTest::newRow("lines not whole read as absent")
            << "{\"name\":\"a\",\"lines\":12.5}" << true << "" << 0.0 << 0 << QStringList{};
    }

    void parseSummary()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        const std::optional<Summary> summary = Diagnostics::parseSummary(text);
        QCOMPARE(bool(summary), accepted);
        if (!summary)
            return;
        QFETCH(QString, version);
        QFETCH(double, minutes);
        QFETCH(int, lines);
        QFETCH(QStringList, counts);
        QCOMPARE(summary->name, "a");
        QCOMPARE(summary->version, version);
        QCOMPARE(summary->minutes, minutes);
        QCOMPARE(summary->lines, lines);
        QStringList read;
        for (auto it = summary->counts.cbegin(); it != summary->counts.cend(); ++it)
            read.append(it.key() + u'=' + QString::number(it.value()));
        std::sort(read.begin(), read.end());
        std::sort(counts.begin(), counts.end());
        QCOMPARE(read, counts);
    }

    void overviewOfThree()
    {
        QMap<QString, int> first;
        first[Diagnostics::categories[slowLine]] = 3;
        first[Diagnostics::categories[fragment]] = 1;
        QMap<QString, int> second;
        second[Diagnostics::categories[slowLine]] = 2;
        second[Diagnostics::categories[sourceProofread]] = 5;
        second["不是类别"] = 9;
        QMap<QString, int> third;
        third[Diagnostics::categories[fragment]] = 3;
        const Summaries summaries{
            {"2026-01-06 10.00.00", "1.5|beta\n2", 12.25, 0, third},
            {"2026-01-05 09.15.02", "1.4.0", 42.4, 200, first},
            {"2026-01-05 14.00.00", "1.4.0", 59.6, 50, second},
        };
        const QString expected = QStringLiteral(
            "# 诊断汇总（最近 3 场）\n\n每格是“次数（每 100 段）”。自动生成，每场会议结束后更新。\n\n"
            "| 会议 | 版本 | 分钟 | 段数 | 校对改了识别 | 校对改了翻译 | 译文过短（可能漏译） | 译文残留英文 | "
            "相邻重复 | 碎片段落 | 出字慢 | 其他语言片段 | 名字写法不一致 | 研究收了原文没有的名字 | "
            "会中纠正又被校对改动 | 研究回复解析失败 |\n"
            "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n"
            "| 2026-01-05 09.15.02 | 1.4.0 | 42 | 200 | 0 | 0 | 0 | 0 | 0 | 1（0.5） | 3（1.5） | 0 | 0 | 0 | 0 | 0 |\n"
            "| 2026-01-05 14.00.00 | 1.4.0 | 60 | 50 | 5（10.0） | 0 | 0 | 0 | 0 | 0 | 2（4.0） | 0 | 0 | 0 | 0 | 0 |\n"
            "| 2026-01-06 10.00.00 | 1.5 beta 2 | 12 | 0 | 0 | 0 | 0 | 0 | 0 | 3（0.0） | 0 | 0 | 0 | 0 | 0 | 0 |\n"
            "\n## 最常见的问题\n\n"
            "- 校对改了识别：共 5 次\n- 出字慢：共 5 次\n- 碎片段落：共 4 次\n");
        QCOMPARE(Diagnostics::overview(summaries), expected);
    }

    void overviewKeepsTheLatestTwenty()
    {
        Summaries summaries;
        for (int i = 25; i >= 1; --i)
            summaries.append({QStringLiteral("2026-01-%1 09.00.00").arg(i, 2, 10, QLatin1Char('0')), "1", 1, 10, {}});
        const QString text = Diagnostics::overview(summaries);
        QVERIFY(text.startsWith("# 诊断汇总（最近 20 场）\n"));
        QVERIFY(!text.contains("2026-01-05 09.00.00"));
        QVERIFY(text.contains("\n| 2026-01-06 09.00.00 |"));
        QVERIFY(text.indexOf("2026-01-06") < text.indexOf("2026-01-25"));
        QVERIFY(text.endsWith("| 2026-01-25 09.00.00 | 1 | 1 | 10 | 0 | 0 | 0 | 0 | 0 | 0 | 0 | 0 | 0 | 0 | 0 | 0 |\n"
                              "\n## 最常见的问题\n\n"));
    }

    void overviewOfNothing()
    {
        const QString text = Diagnostics::overview({});
        QVERIFY(text.startsWith("# 诊断汇总（最近 0 场）\n"));
        QVERIFY(text.endsWith("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n"
                              "\n## 最常见的问题\n\n"));
    }

    void overviewNamesSortByCodePoint()
    {
        // U+FF21 sorts before U+1F600 by code point, after it by UTF-16 unit.
        const Summaries summaries{{QString::fromUtf8("😀"), "", 0, 0, {}}, {QStringLiteral("\uFF21"), "", 0, 0, {}}};
        const QString text = Diagnostics::overview(summaries);
        QVERIFY(text.indexOf(QStringLiteral("\uFF21")) < text.indexOf(QString::fromUtf8("😀")));
    }
};

DODEDAROV_TEST(DiagnosticsTest)
#include "DiagnosticsTest.moc"
