#include "TestMain.h"

#include "intelligence/ResearchResult.h"

namespace {

using Fix = ResearchResult::Fix;

ResearchResult result(const QString &domain, const QStringList &names,
                      const QList<GlossaryEntry> &terms = {}, const QList<Fix> &fixes = {})
{
    ResearchResult r;
    r.domain = domain;
    r.names = names;
    r.terms = terms;
    r.fixes = fixes;
    return r;
}

QStringList heardOf(const QList<Fix> &fixes)
{
    QStringList out;
    for (const Fix &f : fixes)
        out.append(f.heard);
    return out;
}

} // namespace

class ResearchResultTest final : public QObject {
    Q_OBJECT

private slots:
    void equality()
    {
        const GlossaryEntry pfa(QStringLiteral("PFA"), QStringLiteral("脉冲场消融"));
        const ResearchResult a = result(QStringLiteral("心脏"), {QStringLiteral("Alpha")}, {pfa},
                                        {{QStringLiteral("a"), QStringLiteral("b")}});
        // Built apart with the same texts and the same term: equal.
        const ResearchResult same = result(QStringLiteral("心脏"), {QStringLiteral("Alpha")}, {pfa},
                                           {{QStringLiteral("a"), QStringLiteral("b")}});
        QCOMPARE(same, a);
        ResearchResult b = a;
        b.domain = QStringLiteral("肿瘤");
        QVERIFY(!(a == b));
        b = a;
        b.terms = {GlossaryEntry(pfa.english, pfa.chinese)}; // same texts, another id
        QVERIFY(!(a == b));
        b = a;
        b.fixes = {{QStringLiteral("a"), QStringLiteral("c")}};
        QVERIFY(!(a == b));
        b = a;
        b.names = {QStringLiteral("alpha")};
        QVERIFY(!(a == b));
        QVERIFY(ResearchResult().isEmpty());
        QVERIFY(!result({}, {}, {}, {{QStringLiteral("x"), QStringLiteral("y")}}).isEmpty());
    }

    void mergeKeepsOldDomainAndFirstSpellings()
    {
        ResearchResult m = result(QStringLiteral("电生理会议"), {QStringLiteral("alpha trial")}, {},
                                  {{QStringLiteral("Sink-Ronus"), QStringLiteral("Synchronous")}});
        m.merge(result({}, {QStringLiteral("Alpha Trial"), QStringLiteral("Beta")}, {},
                       {{QStringLiteral("sink ronus"), QStringLiteral("Other")},
                        {QStringLiteral("Dunnel"), QStringLiteral("Donnell")}}));
        QCOMPARE(m.domain, QStringLiteral("电生理会议"));
        QCOMPARE(m.names, (QStringList{"alpha trial", "Beta"}));
        QCOMPARE(heardOf(m.fixes), (QStringList{"Sink-Ronus", "Dunnel"}));
        QCOMPARE(m.fixes.first().correct, QStringLiteral("Synchronous"));
        m.merge(result(QStringLiteral("新领域"), {}));
        QCOMPARE(m.domain, QStringLiteral("新领域"));
    }

    void mergeLetsTheNewestTermWin()
    {
        const GlossaryEntry oldPfa(QStringLiteral("pfa"), QStringLiteral("旧译法"));
        const GlossaryEntry af(QStringLiteral("AF"), QStringLiteral("房颤"));
        const GlossaryEntry newPfa(QStringLiteral("PFA"), QStringLiteral("脉冲场消融"));
        ResearchResult m = result({}, {}, {oldPfa, af});
        m.merge(result({}, {}, {newPfa}));
        QCOMPARE(m.terms.size(), 2);
        QCOMPARE(m.terms.first(), af);
        QCOMPARE(m.terms.last(), newPfa);
    }

    void mergeCapsKeepTheNewest()
    {
        ResearchResult m;
        for (int i = 0; i < 45; ++i) {
            ResearchResult r;
            if (i < 35)
                r.names = {QStringLiteral("Name%1").arg(i)};
            r.terms = {GlossaryEntry(QStringLiteral("Term%1").arg(i), QStringLiteral("术语"))};
            if (i < 25)
                r.fixes = {{QStringLiteral("heard%1").arg(i), QStringLiteral("Correct%1").arg(i)}};
            m.merge(r);
        }
        QCOMPARE(m.names.size(), 30);
        QCOMPARE(m.names.first(), QStringLiteral("Name5"));
        QCOMPARE(m.names.last(), QStringLiteral("Name34"));
        QCOMPARE(m.terms.size(), 40);
        QCOMPARE(m.terms.first().english, QStringLiteral("Term5"));
        QCOMPARE(m.fixes.size(), 20);
        QCOMPARE(m.fixes.first().heard, QStringLiteral("heard5"));
    }

    void dropMisheardNames_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("known");
        QTest::addColumn<QStringList>("fixHeard");
        QTest::addColumn<QStringList>("fixCorrect");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("same normalized form as a fix's heard")
            << QStringList{"Cardio-Vex", "Marlowe"} << QStringList{} << QStringList{"Cardio Vex"}
            << QStringList{"CardioVex"} << QStringList{"Marlowe"};
        QTest::newRow("one edit from a known word")
            << QStringList{"Veltamine Study"} << QStringList{"Veltamide"} << QStringList{}
            << QStringList{} << QStringList{};
        QTest::newRow("the known word itself is accepted")
            << QStringList{"Veltamide Study"} << QStringList{"Veltamide"} << QStringList{}
            << QStringList{} << QStringList{"Veltamide Study"};
        QTest::newRow("short words only survive")
            << QStringList{"Al Bo", "AF Lab"} << QStringList{"Alban"} << QStringList{"al-bo"}
            << QStringList{"Albo"} << QStringList{"AF Lab"};
        QTest::newRow("inflection is no mishearing")
            << QStringList{"Pellworths"} << QStringList{"Pellworth"} << QStringList{} << QStringList{}
            << QStringList{"Pellworths"};
        QTest::newRow("long common prefix")
            << QStringList{"Synchrony"} << QStringList{"Synchronous"} << QStringList{} << QStringList{}
            << QStringList{};
        QTest::newRow("near a fix's correction")
            << QStringList{"Donnel"} << QStringList{} << QStringList{"Dunnel"} << QStringList{"Donnell"}
            << QStringList{};
        QTest::newRow("near an earlier surviving name")
            << QStringList{"Marlowe", "Marlove"} << QStringList{} << QStringList{} << QStringList{}
            << QStringList{"Marlowe"};
        QTest::newRow("different first letter and short prefix")
            << QStringList{"Tarvick"} << QStringList{"Carvick"} << QStringList{} << QStringList{}
            << QStringList{"Tarvick"};
    }

    void dropMisheardNames()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, known);
        QFETCH(QStringList, fixHeard);
        QFETCH(QStringList, fixCorrect);
        QFETCH(QStringList, expected);
        ResearchResult r;
        r.names = names;
        for (qsizetype i = 0; i < fixHeard.size(); ++i)
            r.fixes.append({fixHeard.at(i), fixCorrect.at(i)});
        r.dropMisheardNames(known);
        QCOMPARE(r.names, expected);
    }

    void logText()
    {
        const GlossaryEntry pfa(QStringLiteral("PFA"), QStringLiteral("脉冲场消融"));
        const ResearchResult previous = result(QStringLiteral("心脏"), {QStringLiteral("Alpha")}, {pfa},
                                               {{QStringLiteral("Dunnel"), QStringLiteral("Donnell")}});
        QCOMPARE(previous.logText(previous, true, QStringLiteral("自动研究")), std::nullopt);

        ResearchResult now = previous;
        now.domain = QStringLiteral("心脏电生理");
        now.names << QStringLiteral("alpha!") << QStringLiteral("Beta");
        now.terms << GlossaryEntry(QStringLiteral("pfa"), QStringLiteral("脉冲电场消融"));
        now.fixes << Fix{QStringLiteral("sink ronus"), QStringLiteral("Synchronous")};
        QCOMPARE(now.logText(previous, true, QStringLiteral("自动研究")),
                 QStringLiteral("〔自动研究·可联网搜索〕后面的翻译会用上这些：\n"
                                "判断领域：心脏电生理\n"
                                "认出的人名、机构：Beta（已加进识别关键词）\n"
                                "术语译法：pfa = 脉冲电场消融\n"
                                "纠正听错的词：sink ronus → Synchronous"));
        ResearchResult onlyFix;
        onlyFix.fixes = {{QStringLiteral("Vel ta"), QStringLiteral("Velta")}};
        QCOMPARE(onlyFix.logText({}, false, QStringLiteral("即时研究：Vel、ta")),
                 QStringLiteral("〔即时研究：Vel、ta〕后面的翻译会用上这些：\n纠正听错的词：Vel ta → Velta"));
    }

    void summary_data()
    {
        QTest::addColumn<ResearchResult>("r");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << ResearchResult() << QString();
        QTest::newRow("two names and a fix")
            << result({}, {QStringLiteral("A"), QStringLiteral("B")}, {},
                      {{QStringLiteral("x"), QStringLiteral("y")}})
            << QStringLiteral("人名等 2 个，纠正听错的词 1 处");
        QTest::newRow("all four")
            << result(QStringLiteral("AI"), {QStringLiteral("A")},
                      {GlossaryEntry(QStringLiteral("token"), QString())},
                      {{QStringLiteral("x"), QStringLiteral("y")}})
            << QStringLiteral("领域：AI，人名等 1 个，术语 1 条，纠正听错的词 1 处");
    }

    void summary()
    {
        QFETCH(ResearchResult, r);
        QFETCH(QString, expected);
        QCOMPARE(r.summary(), expected);
    }

    void promptBlock_data()
    {
        QTest::addColumn<ResearchResult>("r");
        QTest::addColumn<QString>("expected");
        const QList<Fix> fixes{{QStringLiteral("Dunnel"), QStringLiteral("Donnell")},
                               {QStringLiteral("sink ronus"), QStringLiteral("Synchronous")}};
        const QString header = QStringLiteral("语音识别可能听错的词（左边是识别出的写法，讲话人实际说的是右边，结合上下文判断）：");
        QTest::newRow("names and terms only")
            << result({}, {QStringLiteral("A")}, {GlossaryEntry(QStringLiteral("t"), QStringLiteral("术"))})
            << QString();
        QTest::newRow("domain only") << result(QStringLiteral("AI"), {})
                                     << QStringLiteral("\n\n【自动研究】这场会议的领域：AI");
        QTest::newRow("fixes only")
            << result({}, {}, {}, fixes)
            << QStringLiteral("\n\n【自动研究】") + header
                   + QStringLiteral("Dunnel → Donnell；sink ronus → Synchronous");
        QTest::newRow("domain and fixes")
            << result(QStringLiteral("AI"), {}, {}, fixes.mid(0, 1))
            << QStringLiteral("\n\n【自动研究】这场会议的领域：AI\n") + header
                   + QStringLiteral("Dunnel → Donnell");
    }

    void promptBlock()
    {
        QFETCH(ResearchResult, r);
        QFETCH(QString, expected);
        QCOMPARE(r.promptBlock(), expected);
    }
};

DODEDAROV_TEST(ResearchResultTest)
#include "ResearchResultTest.moc"
