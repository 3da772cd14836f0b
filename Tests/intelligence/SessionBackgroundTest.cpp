#include "TestMain.h"

#include "intelligence/SessionBackground.h"

namespace {

const QString kHeading = QStringLiteral("\n\n【本场背景】（用户提前给的这场会议的介绍）");
const QString kNamesLine =
    QStringLiteral("\n人名和专有名词（语音识别常把它们写错；从读音和上下文认出是它们时，用这里的写法，保留原文）：");

SessionBackground withTerms(const QList<GlossaryEntry> &terms)
{
    SessionBackground bg;
    bg.terms = terms;
    return bg;
}

} // namespace

Q_DECLARE_METATYPE(SessionBackground)

class SessionBackgroundTest final : public QObject {
    Q_OBJECT

private slots:
    void blocks_data()
    {
        QTest::addColumn<SessionBackground>("background");
        QTest::addColumn<QString>("sentence");
        QTest::addColumn<QString>("stable");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("sentenceBlock");
        QTest::addColumn<QString>("description");

        const GlossaryEntry throughput(QStringLiteral("throughput"), QStringLiteral("吞吐量"));
        const GlossaryEntry latency(QStringLiteral("latency"), QStringLiteral("延迟"));
        const GlossaryEntry gpu(QStringLiteral("Graphics Processing Unit (GPU)"), QStringLiteral("图形处理器"));

        QTest::newRow("empty background says nothing")
            << SessionBackground{} << QStringLiteral("throughput went up") << QString() << QString()
            << QString() << QString();

        QTest::newRow("terms only: heading alone, matching terms in the prompt")
            << withTerms({throughput}) << QStringLiteral("The throughput doubled.") << kHeading
            << kHeading + QStringLiteral("\n本场术语：throughput = 吞吐量")
            << QStringLiteral("\n\n【本场术语】throughput = 吞吐量") << QStringLiteral("术语 1 条");

        QTest::newRow("terms only, nothing matches")
            << withTerms({throughput}) << QStringLiteral("Nothing relevant here.") << kHeading << kHeading
            << QString() << QStringLiteral("术语 1 条");

        // Matches come in term order; a plural of an alias counts.
        SessionBackground full;
        full.title = QStringLiteral("芯片发布会");
        full.summary = QStringLiteral("介绍新一代数据中心芯片。");
        full.names = {QStringLiteral("Jensen Huang"), QStringLiteral("NVIDIA")};
        full.terms = {latency, throughput, gpu};
        const QString fullStable = kHeading + QStringLiteral("\n主题：芯片发布会\n背景：介绍新一代数据中心芯片。")
            + kNamesLine + QStringLiteral("Jensen Huang、NVIDIA");
        QTest::newRow("full background")
            << full << QStringLiteral("Two GPUs cut the latency.") << fullStable
            << fullStable + QStringLiteral("\n本场术语：latency = 延迟；Graphics Processing Unit (GPU) = 图形处理器")
            << QStringLiteral("\n\n【本场术语】latency = 延迟；Graphics Processing Unit (GPU) = 图形处理器")
            << QStringLiteral("芯片发布会；人名等 2 个：Jensen Huang、NVIDIA；术语 3 条");

        QTest::newRow("chinese sentence matches by the chinese side")
            << withTerms({latency, throughput}) << QStringLiteral("这次延迟降低了一半") << kHeading
            << kHeading + QStringLiteral("\n本场术语：latency = 延迟")
            << QStringLiteral("\n\n【本场术语】latency = 延迟") << QStringLiteral("术语 2 条");

        QTest::newRow("a term with a blank rendering never appears")
            << withTerms({GlossaryEntry(QStringLiteral("throughput"), QStringLiteral("  \t"))})
            << QStringLiteral("throughput matters") << kHeading << kHeading << QString()
            << QStringLiteral("术语 1 条");

        SessionBackground summaryOnly;
        summaryOnly.summary = QStringLiteral("年度股东大会。");
        QTest::newRow("summary only")
            << summaryOnly << QString() << kHeading + QStringLiteral("\n背景：年度股东大会。")
            << kHeading + QStringLiteral("\n背景：年度股东大会。") << QString() << QString();

        SessionBackground namesOnly;
        namesOnly.names = {QStringLiteral("Lisa Su")};
        QTest::newRow("names only") << namesOnly << QString() << kHeading + kNamesLine + QStringLiteral("Lisa Su")
                                    << kHeading + kNamesLine + QStringLiteral("Lisa Su") << QString()
                                    << QStringLiteral("人名等 1 个：Lisa Su");
    }

    void blocks()
    {
        QFETCH(SessionBackground, background);
        QFETCH(QString, sentence);
        QFETCH(QString, stable);
        QFETCH(QString, prompt);
        QFETCH(QString, sentenceBlock);
        QFETCH(QString, description);
        QCOMPARE(background.isEmpty(), stable.isEmpty());
        QCOMPARE(background.stableBlock(), stable);
        QCOMPARE(background.promptBlock(sentence), prompt);
        QCOMPARE(background.sentenceBlock(sentence), sentenceBlock);
        QCOMPARE(background.description(), description);
    }

    void sentenceBlockHoldsAtMostTwentyTerms()
    {
        SessionBackground bg;
        QString sentence;
        for (int i = 0; i < 30; ++i) {
            const QString word = QStringLiteral("term%1").arg(i);
            bg.terms.append(GlossaryEntry(word, QStringLiteral("术语%1").arg(i)));
            sentence += word + u' ';
        }
        const QString block = bg.sentenceBlock(sentence);
        QCOMPARE(block.count(QStringLiteral(" = ")), 20);
        QVERIFY(block.endsWith(QStringLiteral("term19 = 术语19")));
        QCOMPARE(bg.promptBlock(sentence).count(QStringLiteral(" = ")), 20);
    }

    void keyterms_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("termsEnglish");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("four words, capitalised four-letter last word")
            << QStringList{"Bank of New York"} << QStringList{}
            << QStringList{"Bank of New York", "York"};
        QTest::newRow("two-letter last word adds only the name")
            << QStringList{"Lisa Su"} << QStringList{} << QStringList{"Lisa Su"};
        QTest::newRow("three letters are enough") << QStringList{"Tim Cox"} << QStringList{}
                                                  << QStringList{"Tim Cox", "Cox"};
        QTest::newRow("lower-case last word adds only the name")
            << QStringList{"Vincent van gogh"} << QStringList{} << QStringList{"Vincent van gogh"};
        QTest::newRow("one word adds only itself") << QStringList{"NVIDIA"} << QStringList{}
                                                   << QStringList{"NVIDIA"};
        QTest::newRow("extra blanks: name unchanged, last word found")
            << QStringList{" Jensen  Huang "} << QStringList{} << QStringList{" Jensen  Huang ", "Huang"};
        // Family names in other scripts: "Ödegaard" starts with an upper-case letter too.
        QTest::newRow("non-ASCII capital") << QStringList{"Martin Ødegaard"} << QStringList{}
                                           << QStringList{"Martin Ødegaard", "Ødegaard"};
        QTest::newRow("names then term aliases, nothing removed")
            << QStringList{"OpenAI", "OpenAI"}
            << QStringList{"Large Language Model (LLM)", "Retrieval Augmented Generation（RAG）", "token"}
            << QStringList{"OpenAI", "OpenAI", "Large Language Model", "LLM",
                           "Retrieval Augmented Generation", "RAG", "token"};
    }

    void keyterms()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, termsEnglish);
        QFETCH(QStringList, expected);
        SessionBackground bg;
        bg.names = names;
        for (const QString &english : termsEnglish)
            bg.terms.append(GlossaryEntry(english, QStringLiteral("译")));
        QCOMPARE(bg.keyterms(), expected);
    }
};

DODEDAROV_TEST(SessionBackgroundTest)
#include "SessionBackgroundTest.moc"
