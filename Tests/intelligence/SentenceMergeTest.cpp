#include "TestMain.h"

#include "intelligence/SentenceMerge.h"

namespace {

using Item = SentenceMerge::Item;
using Groups = QList<SentenceMerge::Group>;

Item line(const QString &text, bool newTurn = false, int pieces = 1)
{
    return Item{text, true, true, newTurn, pieces};
}

Item unfinished(const QString &text) { return Item{text, true, false, false, 1}; }
Item untranslated(const QString &text) { return Item{text, false, true, false, 1}; }

QString words(int n) { return QStringList(n, QStringLiteral("word")).join(u' '); }

QList<Item> halves(int n)
{
    QList<Item> items;
    for (int i = 0; i < n; ++i)
        items.append(line(QStringLiteral("and then we")));
    return items;
}

}

Q_DECLARE_METATYPE(SentenceMerge::Item)

class SentenceMergeTest final : public QObject {
    Q_OBJECT

private slots:
    void endsSentence_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("expected");
        QTest::newRow("full stop in a closing quote") << "他说好的。”" << true;
        QTest::newRow("ellipsis") << "and so…" << true;
        QTest::newRow("comma") << "and so," << false;
        QTest::newRow("only blanks and closing marks") << " ”）』 " << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("trailing blank and tab") << "Done. \t" << true;
        QTest::newRow("straight quotes and brackets") << "(He said \"yes!\")" << true;
        QTest::newRow("full-width question mark") << "真的吗？" << true;
        QTest::newRow("line break is not trimmed") << "Done.\n" << false;
        QTest::newRow("no mark") << "the next slide" << false;
    }

    void endsSentence()
    {
        QFETCH(QString, text);
        QFETCH(bool, expected);
        QCOMPARE(SentenceMerge::endsSentence(text), expected);
    }

    void groups_data()
    {
        QTest::addColumn<QList<Item>>("items");
        QTest::addColumn<qsizetype>("from");
        QTest::addColumn<bool>("final");
        QTest::addColumn<Groups>("groups");
        QTest::addColumn<qsizetype>("next");
        QTest::newRow("three halves and an end")
            << (halves(3) << line("we stopped.")) << qsizetype(0) << false << Groups{{0, 4}} << qsizetype(4);
        QTest::newRow("one line of three pieces")
            << QList<Item>{line("we stopped.", false, 3)} << qsizetype(0) << false << Groups{{0, 1}} << qsizetype(1);
        QTest::newRow("one line of one piece")
            << QList<Item>{line("we stopped.")} << qsizetype(0) << false << Groups{} << qsizetype(1);
        QTest::newRow("seven halves: six, then one still open")
            << halves(7) << qsizetype(0) << false << Groups{{0, 6}} << qsizetype(6);
        QTest::newRow("seven halves, final") << halves(7) << qsizetype(0) << true << Groups{{0, 6}} << qsizetype(7);
        QTest::newRow("a new turn starts a group")
            << (halves(2) << line("but then", true) << line("we stopped.")) << qsizetype(0) << false
            << Groups{{0, 2}, {2, 4}} << qsizetype(4);
        QTest::newRow("Chinese after English starts a group")
            << (halves(2) << line("我们今天") << line("讨论预算。")) << qsizetype(0) << false
            << Groups{{0, 2}, {2, 4}} << qsizetype(4);
        QTest::newRow("unfinished line stops the search, final too")
            << (halves(2) << unfinished("and")) << qsizetype(0) << true << Groups{} << qsizetype(0);
        QTest::newRow("unfinished line after a settled one")
            << QList<Item>{line("we stopped."), line("and then"), unfinished("and")} << qsizetype(0) << true
            << Groups{} << qsizetype(1);
        QTest::newRow("untranslated line closes the group and is skipped")
            << (halves(2) << untranslated("hm") << line("and") << line("we stopped.")) << qsizetype(0) << false
            << Groups{{0, 2}, {3, 5}} << qsizetype(5);
        QTest::newRow("open group at the end waits") << halves(2) << qsizetype(0) << false << Groups{}
                                                     << qsizetype(0);
        QTest::newRow("open group at the end, final") << halves(2) << qsizetype(0) << true << Groups{{0, 2}}
                                                      << qsizetype(2);
        QTest::newRow("89 words stay open")
            << QList<Item>{line(words(44)), line(words(45))} << qsizetype(0) << false << Groups{} << qsizetype(0);
        QTest::newRow("90 words close")
            << QList<Item>{line(words(45)), line(words(45))} << qsizetype(0) << false << Groups{{0, 2}}
            << qsizetype(2);
        QTest::newRow("from a later index")
            << (QList<Item>{unfinished("x"), line("we stopped.")} << halves(2)) << qsizetype(2) << true
            << Groups{{2, 4}} << qsizetype(4);
        QTest::newRow("from the end") << halves(2) << qsizetype(2) << false << Groups{} << qsizetype(2);
    }

    void groups()
    {
        QFETCH(QList<Item>, items);
        QFETCH(qsizetype, from);
        QFETCH(bool, final);
        QFETCH(Groups, groups);
        QFETCH(qsizetype, next);
        const SentenceMerge::Result result = SentenceMerge::groups(items, from, final);
        QCOMPARE(result.groups, groups);
        QCOMPARE(result.next, next);
    }
};

DODEDAROV_TEST(SentenceMergeTest)
#include "SentenceMergeTest.moc"
