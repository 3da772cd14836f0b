#include "TestMain.h"

#include "intelligence/NameFix.h"

#include <QSet>

namespace {

// A stand-in dictionary: the rules' examples assume one that refuses capitalised names, which
// the real checker accepts for any dictionary word.
NameFix::WordTest dictionary(const QStringList &words)
{
    const QSet<QString> known(words.cbegin(), words.cend());
    return [known](const QString &word) { return known.contains(word.toLower()); };
}

const QStringList everyday{"meeting", "today", "about", "report", "reports", "budget", "there",
                           "which", "people", "institute", "watchman"};

using Changes = QList<NameFix::Change>;

}

Q_DECLARE_METATYPE(NameFix::Change)

class NameFixTest final : public QObject {
    Q_OBJECT

private slots:
    void endingsTable()
    {
        const QSet<QString> &endings = NameFix::endings();
        QCOMPARE(endings.size(), 26);
        QVERIFY(endings.contains(QString()));
        for (const char *e : {"s", "es", "ed", "d", "ing", "ion", "ions", "al", "ally", "ly", "ce", "t", "ts",
                              "e", "er", "ers", "n", "an", "ic", "ist", "ists", "y", "ies", "ive", "ives"})
            QVERIFY2(endings.contains(QString::fromLatin1(e)), e);
    }

    void targets_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("first spelling, long words only")
            << QStringList{"Tarvick Institute", "TARVICK team"} << QStringList{"Tarvick", "Institute"};
        QTest::newRow("Chinese only") << QStringList{"塔维克研究所", "张伟"} << QStringList{};
        QTest::newRow("4 letters dropped, 5 kept") << QStringList{"Anna Maria"} << QStringList{"Maria"};
        QTest::newRow("accented letter, precomposed") << QStringList{"Tärvick"} << QStringList{};
        QTest::newRow("accented letter, combining") << QStringList{"Ta\u0308rvick"} << QStringList{};
        QTest::newRow("apostrophes and hyphens inside kept, at the ends trimmed")
            << QStringList{"'Veltamide- O'Brien Jean-Luc"} << QStringList{"Veltamide", "O'Brien", "Jean-Luc"};
        QTest::newRow("digits and punctuation split words")
            << QStringList{"Model3000Cardio,Vexxon"} << QStringList{"Model", "Cardio", "Vexxon"};
        QTest::newRow("trimming counts: 'Anna' is 4") << QStringList{"--Anna--"} << QStringList{};
    }

    void targets()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, expected);
        QCOMPARE(NameFix::targets(names), expected);
    }

    void inflection_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("expected");
        QTest::newRow("report/reports") << "report" << "reports" << true;
        QTest::newRow("walking/walked, cut at 4") << "walking" << "walked" << true;
        QTest::newRow("reps/rep: common run 3") << "reps" << "rep" << false;
        QTest::newRow("4-letter word and itself") << "walk" << "walk" << true;
        QTest::newRow("3-letter word and itself") << "abc" << "abc" << false;
        QTest::newRow("tails not endings") << "tarvick" << "tarvixo" << false;
        QTest::newRow("plural of a name") << "tarvick" << "tarvicks" << true;
        QTest::newRow("no case folding") << "Report" << "reports" << false;
    }

    void inflection()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, expected);
        QCOMPARE(NameFix::inflection(a, b), expected);
        QCOMPARE(NameFix::inflection(b, a), expected);
    }

    void distance_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("expected");
        QTest::newRow("empty") << "" << "abc" << 3;
        QTest::newRow("kitten/sitting") << "kitten" << "sitting" << 3;
        QTest::newRow("no transposition") << "ab" << "ba" << 2;
        QTest::newRow("exact case") << "Tarvick" << "tarvick" << 1;
        QTest::newRow("emoji is one character") << "a😀b" << "ab" << 1;
        QTest::newRow("letter with combining mark is one character") << "cafe\u0301" << "cafe" << 1;
    }

    void distance()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, expected);
        QCOMPARE(NameFix::distance(a, b), expected);
        QCOMPARE(NameFix::distance(b, a), expected);
    }

    void soundsLike_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("expected");
        QTest::newRow("one letter off") << "Tarwick" << "Tarvick" << true;
        QTest::newRow("case ignored") << "TARWICK" << "Tarvick" << true;
        QTest::newRow("equal") << "tarvick" << "Tarvick" << false;
        QTest::newRow("4 characters never") << "Tarw" << "Tarv" << false;
        QTest::newRow("5 characters may") << "Tarwk" << "Tarvk" << true;
        QTest::newRow("first letter differs") << "Darvick" << "Tarvick" << false;
        QTest::newRow("lengths differ by 3") << "brenda" << "brendaxyz" << false;
        QTest::newRow("one letter added") << "brenda" << "brendal" << true;
        QTest::newRow("two letters added, 8 characters") << "brenwick" << "brenwickzq" << true;
        QTest::newRow("7 characters, two off") << "tirvack" << "tarvick" << false;
        QTest::newRow("8 characters, two off") << "brinwack" << "brenwick" << true;
        QTest::newRow("8 and 7 characters, two off") << "brinwick" << "brenwic" << false;
        QTest::newRow("8 characters, three off") << "brinwacz" << "brenwick" << false;
        QTest::newRow("plural is an inflection") << "Tarvicks" << "Tarvick" << false;
    }

    void soundsLike()
    {
        QFETCH(QString, word);
        QFETCH(QString, target);
        QFETCH(bool, expected);
        QCOMPARE(NameFix::soundsLike(word, target), expected);
    }

    void replacePhrase_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("phrase");
        QTest::addColumn<QString>("expected");
        QTest::newRow("inside a longer word untouched")
            << "Tarwickson met Tarwick." << "tarwick" << "Tarwickson met Tarvick.";
        QTest::newRow("next to a digit untouched") << "Tarwick2 and 3tarwick, tarwick" << "tarwick"
                                                   << "Tarwick2 and 3tarwick, Tarvick";
        QTest::newRow("before a Chinese character") << "Tarwick说的" << "tarwick" << "Tarvick说的";
        QTest::newRow("after an accented letter") << "éTarwick" << "tarwick" << "éTarvick";
        QTest::newRow("every whole occurrence, any case") << "TARWICK, tarwick; TarWick" << "Tarwick"
                                                          << "Tarvick, Tarvick; Tarvick";
        QTest::newRow("empty phrase") << "Tarwick" << "" << "Tarwick";
        QTest::newRow("matches never overlap") << "aaa aa" << "aa" << "aaa Tarvick";
        QTest::newRow("occurrence ending inside a character") << "Tarwicke\u0301 x" << "tarwicke"
                                                              << "Tarwicke\u0301 x";
        QTest::newRow("emoji neighbours") << "😀tarwick😀" << "tarwick" << "😀Tarvick😀";
    }

    void replacePhrase()
    {
        QFETCH(QString, text);
        QFETCH(QString, phrase);
        QFETCH(QString, expected);
        QCOMPARE(NameFix::replacePhrase(text, phrase, QStringLiteral("Tarvick")), expected);
    }

    void canonicalCase_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<Changes>("changes");
        QTest::newRow("one-word name untouched") << "tarvick said" << QStringList{"Tarvick"} << "tarvick said"
                                                 << Changes{};
        QTest::newRow("two-word name, every whole occurrence, one change")
            << "the tarvick institute and TARVICK INSTITUTE" << QStringList{"Tarvick Institute"}
            << "the Tarvick Institute and Tarvick Institute"
            << Changes{{"tarvick institute", "Tarvick Institute"}};
        QTest::newRow("name without capitals skipped")
            << "the tarvick institute" << QStringList{"tarvick institute"} << "the tarvick institute" << Changes{};
        QTest::newRow("first occurrence already right")
            << "Tarvick Institute and tarvick institute" << QStringList{"Tarvick Institute"}
            << "Tarvick Institute and tarvick institute" << Changes{};
        QTest::newRow("only occurrence inside a word")
            << "xtarvick institute" << QStringList{"Tarvick Institute"} << "xtarvick institute" << Changes{};
        QTest::newRow("case folding beyond ASCII")
            << "the \u212Aessler group met" << QStringList{"Kessler Group"} << "the Kessler Group met"
            << Changes{{"\u212Aessler group", "Kessler Group"}};
        QTest::newRow("names in order")
            << "lisa su and jensen huang" << QStringList{"Jensen Huang", "Lisa Su"}
            << "Lisa Su and Jensen Huang"
            << Changes{{"jensen huang", "Jensen Huang"}, {"lisa su", "Lisa Su"}};
    }

    void canonicalCase()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, names);
        QFETCH(QString, expected);
        QFETCH(Changes, changes);
        const NameFix::Result result = NameFix::canonicalCase(text, names);
        QCOMPARE(result.text, expected);
        QCOMPARE(result.changes, changes);
    }

    void correct_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("targets");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<Changes>("changes");
        const QStringList tarvick{"Tarvick"};
        QTest::newRow("capitalised heard word") << "Tarwick said" << tarvick << "Tarvick said"
                                                << Changes{{"Tarwick", "Tarvick"}};
        QTest::newRow("lower-case heard word, word ending the text")
            << "ask tarwick" << tarvick << "ask Tarvick" << Changes{{"tarwick", "Tarvick"}};
        QTest::newRow("twice replaced, recorded once")
            << "Tarwick, tarwick and Tarwick." << tarvick << "Tarvick, Tarvick and Tarvick."
            << Changes{{"Tarwick", "Tarvick"}, {"tarwick", "Tarvick"}};
        QTest::newRow("equally close to two targets") << "Tarwick said" << QStringList{"Tarvick", "Tarmick"}
                                                      << "Tarwick said" << Changes{};
        QTest::newRow("the same target twice is one target")
            << "Tarwick said" << QStringList{"Tarvick", "Tarvick"} << "Tarvick said"
            << Changes{{"Tarwick", "Tarvick"}};
        QTest::newRow("dictionary word kept") << "the watchman said" << QStringList{"Watchmen"}
                                              << "the watchman said" << Changes{};
        QTest::newRow("plural of a target kept") << "the Tarvicks came" << tarvick << "the Tarvicks came"
                                                 << Changes{};
        QTest::newRow("4 letters kept") << "Tarw came" << QStringList{"Tarv"} << "Tarw came" << Changes{};
        QTest::newRow("5 letters corrected") << "Tarwk came" << QStringList{"Tarvk"} << "Tarvk came"
                                             << Changes{{"Tarwk", "Tarvk"}};
        QTest::newRow("the target itself kept") << "TARVICK came" << tarvick << "TARVICK came" << Changes{};
        QTest::newRow("digits and apostrophes split words")
            << "Tarwick's 3tarwick" << tarvick << "Tarvick's 3Tarvick" << Changes{{"Tarwick", "Tarvick"}, {"tarwick", "Tarvick"}};
        QTest::newRow("Chinese unit") << "塔维克说的" << tarvick << "塔维克说的" << Changes{};
        QTest::newRow("no targets") << "Tarwick" << QStringList{} << "Tarwick" << Changes{};
        QTest::newRow("accented letter ends the word") << "Tarwické" << tarvick << "Tarvické"
                                                       << Changes{{"Tarwick", "Tarvick"}};
    }

    void correct()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, targets);
        QFETCH(QString, expected);
        QFETCH(Changes, changes);
        const NameFix::Result result = NameFix::correct(text, targets, dictionary(everyday));
        QCOMPARE(result.text, expected);
        QCOMPARE(result.changes, changes);
    }

    void correctAsksTheWordTestLast()
    {
        QStringList asked;
        const NameFix::WordTest test = [&](const QString &word) {
            asked.append(word);
            return false;
        };
        NameFix::correct(QStringLiteral("the Tarvick team of Veltamine came tonight"),
                         {QStringLiteral("Tarvick"), QStringLiteral("Veltamide")}, test);
        // Short words and known targets are never looked up.
        QCOMPARE(asked, (QStringList{"Veltamine", "tonight"}));
    }

    void correctWithoutAWordTestChangesNothing()
    {
        const NameFix::Result result =
            NameFix::correct(QStringLiteral("Tarwick said"), {QStringLiteral("Tarvick")}, NameFix::WordTest());
        QCOMPARE(result.text, QStringLiteral("Tarwick said"));
        QVERIFY(result.changes.isEmpty());
    }

    void closeEnough_data()
    {
        QTest::addColumn<QString>("heard");
        QTest::addColumn<QString>("correct");
        QTest::addColumn<bool>("expected");
        QTest::newRow("one letter off") << "Kardio Vex" << "Cardio Vex" << true;
        QTest::newRow("different word counts") << "Cardio Vex" << "CardioVex" << false;
        QTest::newRow("equal after normalising") << "cardio-vex!" << "Cardio Vex" << false;
        QTest::newRow("empty heard") << "..." << "Cardio Vex" << false;
        QTest::newRow("3-letter word, 2 off") << "cxx dog" << "cat dog" << true;
        QTest::newRow("3-letter word, 3 off") << "xyz dog" << "cat dog" << false;
        QTest::newRow("8 characters, 2 off") << "abcdefxy" << "abcdefgh" << true;
        QTest::newRow("8 characters, 3 off") << "abcdexyz" << "abcdefgh" << false;
        QTest::newRow("9 characters, 3 off") << "abcdefxyz" << "abcdefghi" << true;
        QTest::newRow("11 characters, 4 off") << "abcdefgwxyz" << "abcdefghijk" << false;
        QTest::newRow("12 characters, 4 off") << "abcdefghwxyz" << "abcdefghijkl" << true;
    }

    void closeEnough()
    {
        QFETCH(QString, heard);
        QFETCH(QString, correct);
        QFETCH(bool, expected);
        QCOMPARE(NameFix::closeEnough(heard, correct), expected);
    }

    void variant_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("expected");
        QTest::newRow("sound alike") << "Tarwick" << "Tarvick" << true;
        QTest::newRow("equal but for case") << "TARVICK" << "Tarvick" << false;
        QTest::newRow("8 characters share 6") << "Marlowab" << "Marlowxyz" << true;
        QTest::newRow("8 characters share 5") << "Marlozab" << "Marloxyzw" << false;
        QTest::newRow("9 characters share 6 of the needed 7") << "Marlowabc" << "Marlowxyz" << false;
        QTest::newRow("12 characters share 9") << "Abcdefghiuvw" << "Abcdefghixyz" << true;
        QTest::newRow("12 characters share 8") << "Abcdefghtuvw" << "Abcdefghxyzq" << false;
        QTest::newRow("lengths differ by 3") << "Marlowab" << "Marlowxyzqr" << true;
        QTest::newRow("lengths differ by 4") << "Marlowab" << "Marlowxyzqrs" << false;
        QTest::newRow("inflection") << "Marlowing" << "Marlowed" << false;
    }

    void variant()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, expected);
        QCOMPARE(NameFix::variant(a, b), expected);
    }

    void correctionChainKeepsTheStepOrder()
    {
        const QString text = QStringLiteral("veltamine by the tarvick institute and kardio vex");
        const NameFix::Result result = NameFix::correctionChain(
            text, {QStringLiteral("Tarvick Institute")},
            {{QStringLiteral("Tarvik"), QStringLiteral("Completely Else")},
             {QStringLiteral("kardio vex"), QStringLiteral("Cardio Vex")}},
            {QStringLiteral("Veltamide")}, dictionary(everyday));
        QCOMPARE(result.text, QStringLiteral("Veltamide by the Tarvick Institute and Cardio Vex"));
        QCOMPARE(result.changes, (Changes{{"tarvick institute", "Tarvick Institute"},
                                          {"kardio vex", "Cardio Vex"},
                                          {"veltamine", "Veltamide"}}));
    }

    void correctionChainSkipsFixesThatAreNoMishearing()
    {
        // "report" -> "summary" is a different word, not a mishearing of it.
        const NameFix::Result result = NameFix::correctionChain(
            QStringLiteral("the report"), {}, {{QStringLiteral("report"), QStringLiteral("summary")}}, {},
            dictionary(everyday));
        QCOMPARE(result.text, QStringLiteral("the report"));
        QVERIFY(result.changes.isEmpty());
    }

    void badInputNeverBreaks()
    {
        const QString weird = QString(10000, u'a') + QChar(0xD800) + QStringLiteral("😀e\u0301 Tarwick")
            + QChar(0xDC00);
        const NameFix::Result result =
            NameFix::correctionChain(weird, {QStringLiteral("Tarvick Institute")},
                                     {{QStringLiteral("a"), QStringLiteral("b")}},
                                     {QStringLiteral("Tarvick")}, dictionary(everyday));
        QVERIFY(result.text.endsWith(QStringLiteral("Tarvick") + QChar(0xDC00)));
        QCOMPARE(NameFix::targets({weird}), (QStringList{QString(10000, u'a'), "Tarwick"}));
    }
};

DODEDAROV_TEST(NameFixTest)
#include "NameFixTest.moc"
