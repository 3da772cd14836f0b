#include "TestMain.h"

#include "speech/Segmenter.h"

namespace {

QString numbered(int count, const QString &last = {})
{
    QStringList words;
    for (int i = 1; i <= count; ++i)
        words.append(u"w%1"_qs.arg(i));
    if (!last.isEmpty())
        words.last() = last;
    return words.join(u' ');
}

QString ideographs(int count)
{
    static const QString pool = u"我们今天讨论预算安排以及明年计划项目进度会议"_qs;
    QString text;
    for (int i = 0; i < count; ++i)
        text.append(pool.at(i % pool.size()));
    return text;
}

// The same partial three times: every word but the last two counts as settled.
QStringList settle(Segmenter &segmenter, const QString &text, double at)
{
    QStringList units;
    for (int i = 0; i < 3; ++i)
        units += segmenter.partial(text, at);
    return units;
}

}

class SegmenterTest final : public QObject {
    Q_OBJECT

private slots:
    void init() { Segmenter::interpreterMode = false; }
    void cleanup() { Segmenter::interpreterMode = false; }

    void noCutBeforeTheThirdPartial();
    void sentenceEndAmongTheLastTwoWordsWaits();
    void revisedWordBlocksCuts();
    void sentenceCuts_data();
    void sentenceCuts();
    void softCuts_data();
    void softCuts();
    void softCutTakesTheCarryAlong();
    void deliveryMaximum_data();
    void deliveryMaximum();
    void timeouts_data();
    void timeouts();
    void openEndingWaitsForMore();
    void carryLanguageDecidesTheTimeouts();
    void commitHandsOnTheRest();
    void commitOfCutWordsKeepsTheCarry();
    void flushAndEmptyCalls();
};

void SegmenterTest::noCutBeforeTheThirdPartial()
{
    Segmenter segmenter;
    const QString text = u"We agree. The plan works. Then we ship it soon"_qs;
    QVERIFY(segmenter.partial(text, 1.0).isEmpty());
    QVERIFY(segmenter.partial(text, 1.1).isEmpty());
    QCOMPARE(segmenter.partial(text, 1.2), QStringList{u"We agree. The plan works."_qs});
    QCOMPARE(segmenter.emitted(), 5);
    QCOMPARE(segmenter.history().size(), 2);
}

void SegmenterTest::sentenceEndAmongTheLastTwoWordsWaits()
{
    Segmenter segmenter;
    QVERIFY(settle(segmenter, u"We agree. Next"_qs, 1.0).isEmpty());
    QCOMPARE(segmenter.partial(u"We agree. Next we"_qs, 1.1), QStringList{u"We agree."_qs});
}

void SegmenterTest::revisedWordBlocksCuts()
{
    Segmenter segmenter;
    QVERIFY(segmenter.partial(u"We agree. Next"_qs, 1.0).isEmpty());
    QVERIFY(segmenter.partial(u"We agreed. Next we"_qs, 1.1).isEmpty());
    // "agreed." differs from the first partial: nothing at or after it may go.
    QVERIFY(segmenter.partial(u"We agreed. Next we go"_qs, 1.2).isEmpty());
    QCOMPARE(segmenter.partial(u"We agreed. Next we go on"_qs, 1.3), QStringList{u"We agreed."_qs});
}

void SegmenterTest::sentenceCuts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("units");
    QTest::addColumn<QString>("carry");

    QTest::newRow("latest sentence end")
        << u"One. Two three. Four five six"_qs << QStringList{u"One. Two three."_qs} << u""_qs;
    QTest::newRow("abbreviation is no end")
        << u"Ask Dr. Smith about it"_qs << QStringList() << u""_qs;
    QTest::newRow("chinese full stop")
        << u"我们开始吧。今天讨论预算"_qs << QStringList{u"我们开始吧。"_qs} << u""_qs;
    QTest::newRow("closing quote after the end")
        << u"He said \"done.\" and left now"_qs << QStringList{u"He said \"done.\""_qs} << u""_qs;
    QTest::newRow("open japanese ending is held")
        << u"雨だから。それで行きます"_qs << QStringList() << u"雨だから。"_qs;
}

void SegmenterTest::sentenceCuts()
{
    QFETCH(QString, text);
    QFETCH(QStringList, units);
    QFETCH(QString, carry);
    Segmenter segmenter;
    QCOMPARE(settle(segmenter, text, 5.0), units);
    QCOMPARE(segmenter.carry(), carry);
}

void SegmenterTest::softCuts_data()
{
    QTest::addColumn<bool>("interpreter");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("unit");

    // Thirteen pending words exceed the interpreter's threshold of twelve.
    QTest::newRow("interpreter, 13 words")
        << true << u"one two three four five, six seven eight nine, ten eleven twelve thirteen"_qs
        << u"one two three four five, six seven eight nine,"_qs;
    QTest::newRow("interpreter, 12 words")
        << true << u"one two three four five, six seven eight nine, ten eleven twelve"_qs << u""_qs;
    QTest::newRow("no break among the last two words")
        << true << u"one two three four five, six seven eight nine ten eleven twelve, thirteen"_qs
        << u"one two three four five,"_qs;
    QTest::newRow("piece of four words is too short")
        << true << u"one two three four, five six seven eight nine ten eleven twelve thirteen"_qs << u""_qs;
    QTest::newRow("filler after the break")
        << true << u"one two three four five, six seven eight nine, um eleven twelve thirteen"_qs
        << u"one two three four five,"_qs;
    QTest::newRow("you know after the break")
        << true << u"one two three four five, six seven eight nine, you know twelve thirteen"_qs
        << u"one two three four five,"_qs;
    QTest::newRow("i mean after the break")
        << true << u"one two three four five, six seven eight nine, I mean twelve thirteen"_qs
        << u"one two three four five,"_qs;
    QTest::newRow("break on a dangling word")
        << true << u"one two three four five, six seven eight with, ten eleven twelve thirteen"_qs
        << u"one two three four five,"_qs;
    QTest::newRow("semicolon") << true << u"x1 x2 x3 x4 x5; x6 x7 x8 x9 x10 x11 x12 x13"_qs << u"x1 x2 x3 x4 x5;"_qs;
    QTest::newRow("colon") << true << u"x1 x2 x3 x4 x5: x6 x7 x8 x9 x10 x11 x12 x13"_qs << u"x1 x2 x3 x4 x5:"_qs;
    QTest::newRow("dash") << true << u"x1 x2 x3 x4 x5— x6 x7 x8 x9 x10 x11 x12 x13"_qs << u"x1 x2 x3 x4 x5—"_qs;
    QTest::newRow("no break at all") << true << numbered(30) << u""_qs;
    QTest::newRow("normal, 24 words") << false << u"w1 w2 w3 w4 w5 w6 w7, "_qs + numbered(17) << u""_qs;
    QTest::newRow("normal, 25 words")
        << false << u"w1 w2 w3 w4 w5 w6 w7, "_qs + numbered(18) << u"w1 w2 w3 w4 w5 w6 w7,"_qs;
    QTest::newRow("normal, piece of six words")
        << false << u"w1 w2 w3 w4 w5 w6, "_qs + numbered(19) << u""_qs;
    // Characters count half: 48 of them are the normal threshold.
    QTest::newRow("chinese, 48 characters") << false << ideographs(20) + u"，"_qs + ideographs(28) << u""_qs;
    QTest::newRow("chinese, 49 characters")
        << false << ideographs(20) + u"，"_qs + ideographs(29) << ideographs(20) + u"，"_qs;
    QTest::newRow("chinese, ideographic comma")
        << true << ideographs(12) + u"、"_qs + ideographs(13) << ideographs(12) + u"、"_qs;
    QTest::newRow("chinese, interpreter, piece of nine")
        << true << ideographs(8) + u"，"_qs + ideographs(17) << u""_qs;
    QTest::newRow("chinese semicolon") << true << ideographs(12) + u"；"_qs + ideographs(13) << ideographs(12) + u"；"_qs;
    QTest::newRow("chinese colon") << true << ideographs(12) + u"："_qs + ideographs(13) << ideographs(12) + u"："_qs;
    // Verb-final text keeps the long threshold even for the interpreter: 80 characters.
    QTest::newRow("japanese, 80 characters")
        << true << u"あ"_qs.repeated(30) + u"、"_qs + u"い"_qs.repeated(50) << u""_qs;
    QTest::newRow("japanese, piece of thirteen characters")
        << true << u"あ"_qs.repeated(13) + u"、"_qs + u"い"_qs.repeated(68) << u""_qs;
    QTest::newRow("japanese, 81 characters")
        << true << u"あ"_qs.repeated(30) + u"、"_qs + u"い"_qs.repeated(51) << u"あ"_qs.repeated(30) + u"、"_qs;
}

void SegmenterTest::softCuts()
{
    QFETCH(bool, interpreter);
    QFETCH(QString, text);
    QFETCH(QString, unit);
    Segmenter::interpreterMode = interpreter;
    Segmenter segmenter;
    const QStringList units = settle(segmenter, text, 5.0);
    QCOMPARE(units, unit.isEmpty() ? QStringList() : QStringList{unit});
    // A soft piece goes at once, complete or not.
    QCOMPARE(segmenter.carry(), u""_qs);
}

void SegmenterTest::softCutTakesTheCarryAlong()
{
    Segmenter::interpreterMode = true;
    Segmenter segmenter;
    QVERIFY(segmenter.committed(u"We went to the"_qs, 1.0).isEmpty());
    QCOMPARE(segmenter.carry(), u"We went to the"_qs);
    const QString text = u"one two three four five, six seven eight nine, ten eleven twelve thirteen"_qs;
    QCOMPARE(settle(segmenter, text, 1.5),
             QStringList{u"We went to the one two three four five, six seven eight nine,"_qs});
    QCOMPARE(segmenter.carry(), u""_qs);
}

void SegmenterTest::deliveryMaximum_data()
{
    QTest::addColumn<bool>("interpreter");
    QTest::addColumn<QString>("shortOfMaximum");
    QTest::addColumn<QString>("atMaximum");

    QTest::newRow("interpreter") << true << numbered(19) << numbered(20);
    QTest::newRow("interpreter, dangling") << true << numbered(27, u"the"_qs) << numbered(28, u"the"_qs);
    QTest::newRow("normal") << false << numbered(39) << numbered(40);
    QTest::newRow("normal, dangling") << false << numbered(49, u"of"_qs) << numbered(50, u"of"_qs);
    QTest::newRow("chinese, interpreter") << true << ideographs(39) << ideographs(40);
    QTest::newRow("chinese, normal") << false << ideographs(79) << ideographs(80);
    QTest::newRow("japanese, interpreter") << true << u"あ"_qs.repeated(79) << u"あ"_qs.repeated(80);
}

void SegmenterTest::deliveryMaximum()
{
    QFETCH(bool, interpreter);
    QFETCH(QString, shortOfMaximum);
    QFETCH(QString, atMaximum);
    Segmenter::interpreterMode = interpreter;

    Segmenter held;
    QVERIFY(held.committed(shortOfMaximum, 1.0).isEmpty());
    QCOMPARE(held.carry(), shortOfMaximum);

    Segmenter delivered;
    QCOMPARE(delivered.committed(atMaximum, 1.0), QStringList{atMaximum});
    QCOMPARE(delivered.carry(), u""_qs);
}

void SegmenterTest::timeouts_data()
{
    QTest::addColumn<bool>("interpreter");
    QTest::addColumn<QString>("carry");
    QTest::addColumn<QString>("keepAlive");  // a partial that keeps the speaker active without a cut
    QTest::addColumn<double>("quiet");       // 0: the quiet time-out does not apply
    QTest::addColumn<double>("hard");

    QTest::newRow("interpreter") << true << u"We will see them"_qs << u"and"_qs << 1.2 << 4.0;
    QTest::newRow("interpreter, dangling") << true << u"We went to the"_qs << u"and"_qs << 2.5 << 6.0;
    QTest::newRow("normal") << false << u"We will see them"_qs << u"and"_qs << 2.5 << 8.0;
    QTest::newRow("normal, dangling") << false << u"We went to the"_qs << u"and"_qs << 4.5 << 10.0;
    QTest::newRow("japanese is never fast") << true << u"明日は会議に"_qs << u"ええ"_qs << 2.5 << 8.0;
    QTest::newRow("three characters, interpreter") << true << u"我们的"_qs << u"嗯"_qs << 0.0 << 4.0;
    QTest::newRow("three characters, normal") << false << u"我们的"_qs << u"嗯"_qs << 0.0 << 8.0;
    QTest::newRow("four characters") << true << u"我们开始"_qs << u"嗯"_qs << 1.2 << 4.0;
}

void SegmenterTest::timeouts()
{
    QFETCH(bool, interpreter);
    QFETCH(QString, carry);
    QFETCH(QString, keepAlive);
    QFETCH(double, quiet);
    QFETCH(double, hard);
    Segmenter::interpreterMode = interpreter;
    const double start = 100.0;
    const double step = 0.05;

    // Silence after the carry: the quiet time-out (or, for a few characters, the hard one).
    {
        Segmenter segmenter;
        QVERIFY(segmenter.committed(carry, start).isEmpty());
        QCOMPARE(segmenter.carry(), carry);
        double released = -1;
        for (int k = 1; k < 400 && released < 0; ++k) {
            const double now = start + k * step;
            const QStringList units = segmenter.tick(now);
            if (!units.isEmpty()) {
                QCOMPARE(units, QStringList{carry});
                released = now;
            }
        }
        const double expected = quiet > 0 ? quiet : hard;
        QVERIFY2(released >= start + expected - 1e-6 && released < start + expected + step + 1e-6,
                 qPrintable(u"released after %1 s"_qs.arg(released - start)));
        QCOMPARE(segmenter.carry(), u""_qs);
        QVERIFY(segmenter.tick(released + 20).isEmpty());
    }

    // The speaker keeps talking: the hard time-out, counted from when the carry began.
    {
        Segmenter segmenter;
        QVERIFY(segmenter.committed(carry, start).isEmpty());
        double released = -1;
        for (int k = 1; k < 400 && released < 0; ++k) {
            const double now = start + k * step;
            QVERIFY(segmenter.partial(keepAlive, now).isEmpty());
            if (!segmenter.tick(now).isEmpty())
                released = now;
        }
        QVERIFY2(released >= start + hard - 1e-6 && released < start + hard + step + 1e-6,
                 qPrintable(u"released after %1 s"_qs.arg(released - start)));
    }
}

void SegmenterTest::openEndingWaitsForMore()
{
    Segmenter segmenter;
    QVERIFY(segmenter.committed(u"雨だから。"_qs, 1.0).isEmpty());
    QVERIFY(segmenter.verbFinal());
    // The carry grows; its hard time-out still counts from when it began.
    QVERIFY(segmenter.committed(u"それで"_qs, 1.5).isEmpty());
    QCOMPARE(segmenter.carryStart(), 1.0);
    QCOMPARE(segmenter.lastActivity(), 1.5);
    QCOMPARE(segmenter.committed(u"行きません。"_qs, 2.0), QStringList{u"雨だから。それで行きません。"_qs});
}

void SegmenterTest::carryLanguageDecidesTheTimeouts()
{
    Segmenter::interpreterMode = true;
    Segmenter segmenter;
    QVERIFY(segmenter.committed(u"明日は会議に"_qs, 100.0).isEmpty());
    // An English piece joins the Japanese carry: the whole is still verb-final, never fast.
    QVERIFY(segmenter.committed(u"and we go"_qs, 100.5).isEmpty());
    QVERIFY(segmenter.verbFinal());
    QVERIFY(segmenter.tick(101.8).isEmpty());
    QCOMPARE(segmenter.tick(103.0), QStringList{u"明日は会議にand we go"_qs});
}

void SegmenterTest::commitHandsOnTheRest()
{
    Segmenter segmenter;
    QCOMPARE(settle(segmenter, u"We agree. The plan"_qs, 1.0), QStringList{u"We agree."_qs});
    // The commit repeats the segment; only the words after the cut are new.
    QVERIFY(segmenter.committed(u"We agree. The plan is"_qs, 1.2).isEmpty());
    QCOMPARE(segmenter.emitted(), 0);
    QVERIFY(segmenter.history().isEmpty());
    QCOMPARE(segmenter.carry(), u"The plan is"_qs);
    QCOMPARE(segmenter.carryStart(), 1.2);
    // The unfinished sentence continues into the next segment.
    QCOMPARE(segmenter.committed(u"good."_qs, 2.0), QStringList{u"The plan is good."_qs});
    // Chinese joins without a space.
    QVERIFY(segmenter.committed(u"我们"_qs, 3.0).isEmpty());
    QCOMPARE(segmenter.committed(u"开始吧。"_qs, 3.5), QStringList{u"我们开始吧。"_qs});
}

void SegmenterTest::commitOfCutWordsKeepsTheCarry()
{
    Segmenter segmenter;
    // The cut piece ends open, so it waits in the carry.
    QVERIFY(settle(segmenter, u"雨だから。それで"_qs, 1.0).isEmpty());
    QCOMPARE(segmenter.emitted(), 4);
    QCOMPARE(segmenter.carry(), u"雨だから。"_qs);
    QVERIFY(segmenter.committed(u"雨だから。"_qs, 1.3).isEmpty());
    QCOMPARE(segmenter.emitted(), 0);
    QCOMPARE(segmenter.carry(), u"雨だから。"_qs);
    QCOMPARE(segmenter.carryStart(), 1.0);
}

void SegmenterTest::flushAndEmptyCalls()
{
    Segmenter segmenter;
    QVERIFY(segmenter.flush().isEmpty());
    QVERIFY(segmenter.tick(50).isEmpty());
    QVERIFY(segmenter.partial(u"   "_qs, 1.0).isEmpty());
    QVERIFY(segmenter.history().isEmpty());
    QCOMPARE(segmenter.lastActivity(), 0.0);
    QVERIFY(segmenter.committed(u""_qs, 1.0).isEmpty());
    QVERIFY(segmenter.committed(u"we went to the"_qs, 2.0).isEmpty());
    QCOMPARE(segmenter.flush(), QStringList{u"we went to the"_qs});
    QVERIFY(segmenter.flush().isEmpty());
}

DODEDAROV_TEST(SegmenterTest)
#include "SegmenterTest.moc"
