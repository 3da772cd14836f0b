#include "TestMain.h"

#include "speech/WordStabilizer.h"

class WordStabilizerTest final : public QObject {
    Q_OBJECT

private slots:
    void releases_data();
    void releases();
    void restartSegmentStartsOver();
};

void WordStabilizerTest::releases_data()
{
    QTest::addColumn<QStringList>("partials");
    QTest::addColumn<QStringList>("released");  // one entry per partial

    QTest::newRow("nothing before the third partial")
        << QStringList{u"one two three four"_qs, u"one two three four"_qs, u"one two three four"_qs}
        << QStringList{u""_qs, u""_qs, u"one two three"_qs};
    QTest::newRow("growing partials")
        << QStringList{u"hello"_qs, u"hello there"_qs, u"hello there my"_qs, u"hello there my friend"_qs}
        << QStringList{u""_qs, u""_qs, u"hello"_qs, u"there"_qs};
    QTest::newRow("revised word waits for three agreeing partials")
        << QStringList{u"we need to go"_qs, u"we need to go"_qs, u"we kneed to go"_qs, u"we knead to go now"_qs,
                       u"we knead to go now"_qs, u"we knead to go now"_qs}
        << QStringList{u""_qs, u""_qs, u"we"_qs, u""_qs, u""_qs, u"knead to go"_qs};
    QTest::newRow("shrinking partial releases nothing twice")
        << QStringList{u"a b c d"_qs, u"a b c d"_qs, u"a b c d"_qs, u"a b"_qs, u"a b c d e"_qs}
        << QStringList{u""_qs, u""_qs, u"a b c"_qs, u""_qs, u""_qs};
    QTest::newRow("chinese characters join without spaces")
        << QStringList{u"我们开始"_qs, u"我们开始吧"_qs, u"我们开始吧。"_qs}
        << QStringList{u""_qs, u""_qs, u"我们开始"_qs};
    QTest::newRow("empty partial changes nothing")
        << QStringList{u"one two"_qs, u""_qs, u"one two"_qs, u"one two three"_qs}
        << QStringList{u""_qs, u""_qs, u""_qs, u"one two"_qs};
}

void WordStabilizerTest::releases()
{
    QFETCH(QStringList, partials);
    QFETCH(QStringList, released);
    WordStabilizer stabilizer;
    QCOMPARE(stabilizer.holdBack(), 1);
    QStringList actual;
    for (const QString &partial : partials)
        actual.append(stabilizer.partial(partial));
    QCOMPARE(actual, released);
}

void WordStabilizerTest::restartSegmentStartsOver()
{
    WordStabilizer stabilizer(2);
    for (int i = 0; i < 3; ++i)
        stabilizer.partial(u"one two three four"_qs);
    QCOMPARE(stabilizer.emitted(), 2);
    stabilizer.restartSegment();
    QCOMPARE(stabilizer.emitted(), 0);
    QVERIFY(stabilizer.history().isEmpty());
    QCOMPARE(stabilizer.partial(u"five six seven"_qs), u""_qs);
    QCOMPARE(stabilizer.partial(u"five six seven"_qs), u""_qs);
    QCOMPARE(stabilizer.partial(u"five six seven"_qs), u"five"_qs);
}

DODEDAROV_TEST(WordStabilizerTest)
#include "WordStabilizerTest.moc"
