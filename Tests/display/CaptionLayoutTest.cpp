#include "TestMain.h"

#include "captions/CaptionLayout.h"
#include "speech/Graphemes.h"

namespace {

// Every character is 10 wide, so widths in the tables read as character counts.
CaptionLayout layoutOfWidth(double width)
{
    CaptionLayout layout;
    layout.maxWidth = width;
    layout.measure = [](const QString &text) { return 10.0 * double(Graphemes::count(text)); };
    return layout;
}

}

// Breaking live captions into rows: whole words, no row opened by a space or closing
// punctuation, the older half dropped past 200 rows, re-breaking on a new width.
class CaptionLayoutTest final : public QObject {
    Q_OBJECT

private slots:
    void feed_data();
    void feed();
    void trailingWordWaitsForFlush();
    void separateUnits_data();
    void separateUnits();
    void dropsOlderHalfPastKeepRows();
    void relayoutKeepsLastRows();
};

void CaptionLayoutTest::feed_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("second word wraps, its space dropped")
        << 50.0 << u"hello world"_qs << QStringList{u"hello"_qs, u"world"_qs};
    QTest::newRow("chinese wraps between any two characters")
        << 30.0 << u"一二三四五"_qs << QStringList{u"一二三"_qs, u"四五"_qs};
    QTest::newRow("overflowing comma stays at the row end")
        << 30.0 << u"一二三，四"_qs << QStringList{u"一二三，"_qs, u"四"_qs};
    QTest::newRow("ascii closing punctuation too")
        << 20.0 << u"ab! cd"_qs << QStringList{u"ab!"_qs, u"cd"_qs};
    QTest::newRow("decimal and per cent stay whole")
        << 40.0 << u"ab 3.5% up"_qs << QStringList{u"ab "_qs, u"3.5%"_qs, u"up"_qs};
    QTest::newRow("apostrophe word stays whole")
        << 30.0 << u"don't"_qs << QStringList{u"don't"_qs};
    QTest::newRow("slash makes three units")
        << 20.0 << u"a/b"_qs << QStringList{u"a/"_qs, u"b"_qs};
    QTest::newRow("long word alone on its row")
        << 30.0 << u"ab abcdefgh cd"_qs << QStringList{u"ab "_qs, u"abcdefgh"_qs, u"cd"_qs};
    QTest::newRow("two line feeds give one new row")
        << 100.0 << u"ab\n\ncd"_qs << QStringList{u"ab"_qs, u"cd"_qs};
    QTest::newRow("line feed on an empty row adds nothing")
        << 100.0 << u"\nab"_qs << QStringList{u"ab"_qs};
    QTest::newRow("CR LF breaks the row")
        << 100.0 << u"ab\r\ncd"_qs << QStringList{u"ab"_qs, u"cd"_qs};
    QTest::newRow("emoji with a skin tone is one character")
        << 20.0 << u"👍🏽a😀"_qs << QStringList{u"👍🏽a"_qs, u"😀"_qs};
    QTest::newRow("astral ideograph is one character")
        << 20.0 << u"𠀀一𠀁"_qs << QStringList{u"𠀀一"_qs, u"𠀁"_qs};
    QTest::newRow("combining mark stays on its letter")
        << 20.0 << u"ae\u0301b"_qs << QStringList{u"ae\u0301"_qs, u"b"_qs};
    QTest::newRow("right-to-left letters are characters")
        << 20.0 << u"שלום"_qs << QStringList{u"של"_qs, u"ום"_qs};
}

void CaptionLayoutTest::feed()
{
    QFETCH(double, width);
    QFETCH(QString, text);
    QFETCH(QStringList, rows);

    CaptionLayout layout = layoutOfWidth(width);
    layout.feed(text);
    layout.placePendingWord();
    QCOMPARE(layout.rows, rows);
    QVERIFY(layout.pendingWord.isEmpty());
    QCOMPARE(layout.rowWidth, 10.0 * double(Graphemes::count(rows.constLast())));
}

void CaptionLayoutTest::trailingWordWaitsForFlush()
{
    CaptionLayout layout = layoutOfWidth(600);
    layout.feed(u"hello wor");
    QCOMPARE(layout.rows, QStringList{u"hello "_qs});
    QCOMPARE(layout.pendingWord, u"wor"_qs);

    // The next piece continues the same word.
    layout.feed(u"ld");
    QCOMPARE(layout.pendingWord, u"world"_qs);
    layout.placePendingWord();
    QCOMPARE(layout.rows, QStringList{u"hello world"_qs});
}

void CaptionLayoutTest::separateUnits_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("row");

    QTest::newRow("after a letter, a space") << u"abc"_qs << u"def"_qs << u"abc def"_qs;
    QTest::newRow("after a digit, a space") << u"is 42"_qs << u"好"_qs << u"is 42 好"_qs;
    QTest::newRow("after an ideograph, a space") << u"你好"_qs << u"ok"_qs << u"你好 ok"_qs;
    QTest::newRow("after an ideographic full stop, nothing") << u"好。"_qs << u"def"_qs << u"好。def"_qs;
    QTest::newRow("after a full stop, nothing") << u"abc."_qs << u"def"_qs << u"abc.def"_qs;
    QTest::newRow("after an em dash, nothing") << u"abc\u2014"_qs << u"def"_qs << u"abc\u2014def"_qs;
    QTest::newRow("after a space, nothing") << u"abc "_qs << u"def"_qs << u"abc def"_qs;
    QTest::newRow("after a closing quote, nothing") << u"说”"_qs << u"好"_qs << u"说”好"_qs;
    QTest::newRow("no previous text, nothing") << QString() << u"def"_qs << u"def"_qs;
}

void CaptionLayoutTest::separateUnits()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, row);

    CaptionLayout layout = layoutOfWidth(600);
    if (!first.isEmpty()) {
        layout.lastCharacter = Graphemes::last(first).toString();
        layout.feed(first);
    }
    layout.separateUnits();
    // The first unit's trailing word is placed before the separation.
    QVERIFY(layout.pendingWord.isEmpty());
    layout.lastCharacter = Graphemes::last(second).toString();
    layout.feed(second);
    layout.placePendingWord();
    QCOMPARE(layout.rows, QStringList{row});
}

void CaptionLayoutTest::dropsOlderHalfPastKeepRows()
{
    CaptionLayout layout = layoutOfWidth(10);
    layout.feed(QString(200, u'一'));
    QCOMPARE(layout.rows.size(), 200);
    QCOMPARE(layout.firstRowIndex, 0);

    layout.feed(u"二");
    QCOMPARE(layout.rows.size(), 100);
    QCOMPARE(layout.firstRowIndex, 101);
    QCOMPARE(layout.rows.constLast(), u"二"_qs);
    QCOMPARE(layout.rows.constFirst(), u"一"_qs);
}

void CaptionLayoutTest::relayoutKeepsLastRows()
{
    CaptionLayout layout = layoutOfWidth(30);
    layout.lastCharacter = u"b"_qs;
    layout.feed(u"一二三四五六七八九ab");
    QCOMPARE(layout.rows, (QStringList{u"一二三"_qs, u"四五六"_qs, u"七八九"_qs}));
    QCOMPARE(layout.pendingWord, u"ab"_qs);

    layout.relayout(60, [](const QString &text) { return 10.0 * double(Graphemes::count(text)); }, 2);
    QCOMPARE(layout.maxWidth, 60.0);
    QCOMPARE(layout.rows, QStringList{u"四五六七八九"_qs});
    QCOMPARE(layout.firstRowIndex, 3);
    QCOMPARE(layout.rowWidth, 60.0);
    // The word never reached the rows: it waits for the owner's flush, and the last character
    // is the owner's.
    QCOMPARE(layout.pendingWord, u"ab"_qs);
    QCOMPARE(layout.lastCharacter, std::optional<QString>(u"b"_qs));

    layout.placePendingWord();
    QCOMPARE(layout.rows, (QStringList{u"四五六七八九"_qs, u"ab"_qs}));

    // More rows asked for than exist: all of them.
    layout.relayout(600, layout.measure, 10);
    QCOMPARE(layout.rows, QStringList{u"四五六七八九ab"_qs});
    QCOMPARE(layout.firstRowIndex, 5);
}

DODEDAROV_TEST(CaptionLayoutTest)
#include "CaptionLayoutTest.moc"
