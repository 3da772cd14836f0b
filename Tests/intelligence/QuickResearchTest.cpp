// The quick check of suspect words: picking them out of a caption unit, the prompt pair, and
// the reader of the model's per-word answers.
#include "TestMain.h"

#include "intelligence/QuickResearch.h"

namespace {

const QString kSystem = QStringLiteral(
    "你在帮一个实时字幕翻译软件确认几个拿不准的词。每个词后面是它所在的原句（语音识别结果，常把发音相近的人名、术语听错）。\n"
    "结合本场领域、已知的名字和原句判断每个词：\n"
    "- 是不是被听错了，讲话人实际说的正确写法（拼写、大小写）是什么；\n"
    "- 它是什么：人名、机构、试验或研究、会议、药物或器械、术语缩写、普通词；\n"
    "- 该领域通行的中文译法（人名、机构、试验名保留原文的，zh 留空）。\n"
    "只输出 JSON：{\"items\":[{\"heard\":\"原样照抄这个词或包含它的短语\",\"correct\":\"正确写法\",\"kind\":\"类别\",\"zh\":\"中文译法\",\"sure\":true}]}\n"
    "没被听错就 correct 和 heard 一样；拿不准就 sure 写 false，不要猜。");
const QString kSearchRule = QStringLiteral(
    "\n可以联网搜索确认（用领域 + 这个词 + 原句里的线索去搜），每个词最多搜一次；普通词不要搜。");

const QString kContext = QStringLiteral("We saw the Veltamide data at HRS with Dr. Tarwick.\n"
                                        "The Watchmen device from Boston Scientific.");

bool dictionary(const QString &word)
{
    static const QSet<QString> words{"saw", "data", "with", "team", "watchman", "the", "we", "at",
                                     "boston", "nasa", "device"};
    return words.contains(word);
}

QString item(const QString &heard, const QString &correct, const QString &kind, const QString &zh,
             const QString &sure = QStringLiteral("true"))
{
    return QStringLiteral("{\"heard\":\"%1\",\"correct\":\"%2\",\"kind\":\"%3\",\"zh\":\"%4\",\"sure\":%5}")
        .arg(heard, correct, kind, zh, sure);
}

QString summary(const std::optional<ResearchResult> &result)
{
    if (!result)
        return QStringLiteral("none");
    QStringList parts;
    for (const ResearchResult::Fix &fix : result->fixes)
        parts << QStringLiteral("fix:") + fix.heard + QStringLiteral("→") + fix.correct;
    for (const QString &name : result->names)
        parts << QStringLiteral("name:") + name;
    for (const GlossaryEntry &term : result->terms)
        parts << QStringLiteral("term:") + term.english + u'=' + term.chinese;
    return parts.join(u' ');
}

} // namespace

class QuickResearchTest final : public QObject {
    Q_OBJECT

private slots:
    void suspects_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("known");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("capitals and unknown names, not dictionary words")
            << QStringLiteral("We saw the Veltamide data at HRS with the Watchman team.") << QStringList{}
            << QStringList{} << QStringList{"Veltamide", "HRS"};
        QTest::newRow("first form wins")
            << QStringLiteral("Veltamide, VELTAMIDE and veltamide.") << QStringList{} << QStringList{}
            << QStringList{"Veltamide"};
        QTest::newRow("known and asked words")
            << QStringLiteral("Veltamide met Tarwick and Corvell.") << QStringList{"veltamide"}
            << QStringList{"corvell"} << QStringList{"Tarwick"};
        QTest::newRow("apostrophes")
            << QStringLiteral("O'Neil saw Tarwick's data and ’Corvell’ said Dunnel’s.") << QStringList{}
            << QStringList{} << QStringList{"Tarwick", "Corvell", "Dunnel"};
        QTest::newRow("mixed case and small letters are never picked")
            << QStringLiteral("iPhone and eBay and zorblat") << QStringList{} << QStringList{}
            << QStringList{};
        QTest::newRow("all-capitals word known in capitalised form")
            << QStringLiteral("NASA and FDA") << QStringList{} << QStringList{} << QStringList{"FDA"};
        QTest::newRow("digits and hyphens end words")
            << QStringLiteral("COVID-19 Zorblax2go") << QStringList{} << QStringList{}
            << QStringList{"COVID", "Zorblax"};
        QTest::newRow("short words") << QStringLiteral("Abc AB Xyz") << QStringList{} << QStringList{}
                                     << QStringList{};
        QTest::newRow("hesitation sound")
            << QStringLiteral("HMM, said Tarwick") << QStringList{} << QStringList{} << QStringList{"Tarwick"};
        QTest::newRow("non-ASCII letters end words")
            << QStringLiteral("Zürich Müller Straße") << QStringList{} << QStringList{} << QStringList{"Stra"};
    }

    void suspects()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, known);
        QFETCH(QStringList, asked);
        QFETCH(QStringList, expected);
        const QSet<QString> knownSet(known.cbegin(), known.cend());
        const QSet<QString> askedSet(asked.cbegin(), asked.cend());
        QCOMPARE(QuickResearch::suspects(text, knownSet, askedSet, dictionary), expected);
    }

    void prompt()
    {
        const QList<QuickResearch::Suspect> batch{
            {QStringLiteral("Veltamide"), QStringLiteral("We saw the Veltamide data.")},
            {QStringLiteral("HRS"), QStringLiteral("at HRS")},
        };
        const Research::Prompt bare = QuickResearch::prompt(batch, {}, {}, {}, false);
        QCOMPARE(bare.system, kSystem);
        QCOMPARE(bare.user, QStringLiteral("\n【拿不准的词】\nVeltamide    原句：We saw the Veltamide data.\n"
                                           "HRS    原句：at HRS"));
        QCOMPARE(QuickResearch::prompt(batch, {}, {}, {}, true).system, kSystem + kSearchRule);

        QStringList names;
        for (int i = 0; i < 45; ++i)
            names << QStringLiteral("N%1").arg(i);
        const QString notes = QString(1499, u'注') + QStringLiteral("记x");
        const Research::Prompt full =
            QuickResearch::prompt(batch.mid(0, 1), QStringLiteral("心脏电生理"), names, notes, false);
        QCOMPARE(full.user, QStringLiteral("【领域】心脏电生理\n【已知的名字】") + names.mid(0, 40).join(QStringLiteral("、"))
                                + QStringLiteral("\n【用户提供的本场说明】\n") + QString(1499, u'注')
                                + QStringLiteral("记\n\n【拿不准的词】\nVeltamide    原句：We saw the Veltamide data."));
    }

    void parse_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("expected");

        QTest::newRow("no JSON") << QStringLiteral("不确定") << QStringLiteral("none");
        QTest::newRow("items missing") << QStringLiteral("{\"x\":[]}") << QStringLiteral("none");
        QTest::newRow("items not objects") << QStringLiteral("{\"items\":[1]}") << QStringLiteral("none");
        QTest::newRow("empty items") << QStringLiteral("{\"items\":[]}") << QString();
        QTest::newRow("misheard name in prose and a fence")
            << QStringLiteral("结果：```{\"items\":[") + item("Tarwick", "Tarvick", "人名", "")
                   + QStringLiteral("]}```")
            << QStringLiteral("fix:Tarwick→Tarvick name:Tarvick");
        QTest::newRow("not sure, or sure as a string")
            << QStringLiteral("{\"items\":[") + item("Tarwick", "Tarvick", "人名", "", "false") + u','
                   + item("HRS", "HRS", "会议", "", "\"true\"") + u','
                   + QStringLiteral("{\"heard\":\"HRS\",\"correct\":\"HRS\",\"kind\":\"会议\"}]}")
            << QString();
        QTest::newRow("heard not a whole word of the sentences")
            << QStringLiteral("{\"items\":[") + item("Veltami", "Veltamide", "药物", "维他胺") + QStringLiteral("]}")
            << QString();
        QTest::newRow("kind containing a name word")
            << QStringLiteral("{\"items\":[") + item("Tarwick", "Tarwick", "研究人员", "塔维克") + QStringLiteral("]}")
            << QStringLiteral("name:Tarwick");
        QTest::newRow("ordinary word gives a fix only")
            << QStringLiteral("{\"items\":[") + item("Watchmen", "Watchman", "普通词", "守望者") + QStringLiteral("]}")
            << QStringLiteral("fix:Watchmen→Watchman");
        QTest::newRow("not misheard: a term, no fix")
            << QStringLiteral("{\"items\":[") + item("Veltamide", "Veltamide", "药物", "维他酰胺（商品名）/ x")
                   + QStringLiteral("]}")
            << QStringLiteral("term:Veltamide=维他酰胺");
        QTest::newRow("phrase heard, fix and term")
            << QStringLiteral("{\"items\":[") + item("Watchmen device", "Watchman device", "器械", "左心耳封堵器")
                   + QStringLiteral("]}")
            << QStringLiteral("fix:Watchmen device→Watchman device term:Watchman device=左心耳封堵器");
        QTest::newRow("chinese correct, overlong, long zh")
            << QStringLiteral("{\"items\":[") + item("HRS", "心律学会", "会议", "") + u','
                   + item("HRS", QString(61, u'H'), "会议", "") + u','
                   + item("Veltamide", "Veltamide", "药物", QString(31, u'药')) + QStringLiteral("]}")
            << QString();
        QTest::newRow("same name twice kept once")
            << QStringLiteral("{\"items\":[") + item("Boston Scientific", "Boston Scientific", "公司", "") + u','
                   + item("Scientific", "Boston Scientific", "公司", "") + QStringLiteral("]}")
            << QStringLiteral("name:Boston Scientific");
    }

    void parse()
    {
        QFETCH(QString, reply);
        QFETCH(QString, expected);
        const std::optional<ResearchResult> result = QuickResearch::parse(reply, kContext);
        QCOMPARE(summary(result), expected);
        if (result)
            QVERIFY(result->domain.isEmpty());
    }

    void onlyTenItemsAreRead()
    {
        QStringList items;
        QString context;
        for (int i = 0; i < 12; ++i) {
            const QString word = QStringLiteral("Word%1x").arg(QChar(u'a' + i));
            context += word + u' ';
            items << item(word, word, QStringLiteral("人名"), QString());
        }
        const auto result = QuickResearch::parse(QStringLiteral("{\"items\":[") + items.join(u',')
                                                     + QStringLiteral("]}"),
                                                 context);
        QVERIFY(result);
        QCOMPARE(result->names.size(), 10);
    }
};

DODEDAROV_TEST(QuickResearchTest)
#include "QuickResearchTest.moc"
