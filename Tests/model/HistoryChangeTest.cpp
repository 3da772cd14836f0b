#include "TestMain.h"

#include "model/HistoryChange.h"

#include <QTest>

#include <optional>

Q_DECLARE_METATYPE(HistoryText::Paragraph)
Q_DECLARE_METATYPE(std::optional<HistoryChange>)

namespace {

using Paragraph = HistoryText::Paragraph;

Paragraph said(const QString &primary, const QString &live = {})
{
    Paragraph p;
    p.primary = primary;
    p.live = live;
    return p;
}

QList<Paragraph> list(const QStringList &primaries)
{
    QList<Paragraph> paragraphs;
    for (const QString &primary : primaries)
        paragraphs.append(said(primary));
    return paragraphs;
}

// The lengths the view keeps: each paragraph's text and the line break after it.
QList<int> lengthsOf(const QList<Paragraph> &paragraphs)
{
    QList<int> lengths;
    for (const Paragraph &p : paragraphs)
        lengths.append(int(p.primary.size() + p.live.size()) + 1);
    return lengths;
}

std::optional<HistoryChange> change(const HistoryChange &expected)
{
    return expected;
}

} // namespace

// What QCOMPARE prints for a change.
char *toString(const HistoryChange &c)
{
    const QString text = QStringLiteral("start %1 kept %2 newEnd %3 oldEnd %4 newCount %5 replaced %6 from %7 to %8"
                                        " startChar %9 removedChars %10 complete %11")
                             .arg(c.start)
                             .arg(c.kept)
                             .arg(c.newEnd)
                             .arg(c.oldEnd)
                             .arg(c.newCount)
                             .arg(c.replaced)
                             .arg(c.from)
                             .arg(c.to)
                             .arg(c.startChar)
                             .arg(c.removedChars)
                             .arg(c.complete ? QStringLiteral("true") : QStringLiteral("false"));
    return qstrdup(text.toUtf8().constData());
}

// Which paragraphs one update of the caption history replaces, and where in the document. The
// two-letter paragraphs take three characters each in the document.
class HistoryChangeTest final : public QObject {
    Q_OBJECT

private slots:
    void between_data()
    {
        QTest::addColumn<QList<Paragraph>>("rendered");
        QTest::addColumn<QList<Paragraph>>("target");
        QTest::addColumn<bool>("newLook");
        QTest::addColumn<qsizetype>("slice");
        QTest::addColumn<std::optional<HistoryChange>>("expected");
        const QList<Paragraph> six = list({"p0", "p1", "p2", "p3", "p4", "p5"});
        const QList<Paragraph> three = six.first(3);

        QTest::newRow("nothing changed") << three << three << false << qsizetype(3000)
                                         << std::optional<HistoryChange>();
        QTest::newRow("append one")
            << list({"p0", "p1"}) << three << false << qsizetype(3000)
            << change({.start = 2, .kept = 0, .newEnd = 3, .oldEnd = 2, .newCount = 1, .replaced = 0, .from = 2,
                       .to = 2, .startChar = 6, .removedChars = 0, .complete = true});
        QTest::newRow("live text growing in the last paragraph")
            << QList<Paragraph>{said("p0"), said("p1", "live")} << QList<Paragraph>{said("p0"), said("p1", "live on")}
            << false << qsizetype(3000)
            << change({.start = 1, .kept = 0, .newEnd = 2, .oldEnd = 2, .newCount = 1, .replaced = 1, .from = 1,
                       .to = 1, .startChar = 3, .removedChars = 7, .complete = true});
        QTest::newRow("a change in the middle keeps the tail")
            << six.first(5) << list({"p0", "p1", "changed", "p3", "p4"}) << false << qsizetype(3000)
            << change({.start = 2, .kept = 2, .newEnd = 3, .oldEnd = 3, .newCount = 1, .replaced = 1, .from = 2,
                       .to = 2, .startChar = 6, .removedChars = 3, .complete = true});
        QTest::newRow("the first paragraph is never kept")
            << list({"p0"}) << list({"q0", "p0"}) << false << qsizetype(3000)
            << change({.start = 0, .kept = 0, .newEnd = 2, .oldEnd = 1, .newCount = 2, .replaced = 1, .from = 0,
                       .to = 0, .startChar = 0, .removedChars = 3, .complete = true});
        QTest::newRow("a repeated newest paragraph is new, not kept")
            << list({"p0", "p1"}) << list({"p0", "p1", "p1"}) << false << qsizetype(3000)
            << change({.start = 2, .kept = 0, .newEnd = 3, .oldEnd = 2, .newCount = 1, .replaced = 0, .from = 2,
                       .to = 2, .startChar = 6, .removedChars = 0, .complete = true});

        // A run longer than a slice: the newest slice first, then the one in front of it.
        const QList<Paragraph> ended = list({"q0", "q1", "q2", "q3", "q4", "p5"});
        QTest::newRow("a long run, the newest slice")
            << six << ended << false << qsizetype(5)
            << change({.start = 0, .kept = 1, .newEnd = 5, .oldEnd = 5, .newCount = 3, .replaced = 3, .from = 2,
                       .to = 2, .startChar = 6, .removedChars = 9, .complete = false});
        QTest::newRow("a long run, the next slice lines up in front")
            << list({"p0", "p1", "q2", "q3", "q4", "p5"}) << ended << false << qsizetype(5)
            << change({.start = 0, .kept = 4, .newEnd = 2, .oldEnd = 2, .newCount = 2, .replaced = 2, .from = 0,
                       .to = 0, .startChar = 0, .removedChars = 6, .complete = true});
        QTest::newRow("a run made shorter, the extra old paragraphs go with the first slice")
            << six << list({"q0", "q1", "q2", "p5"}) << false << qsizetype(3)
            << change({.start = 0, .kept = 1, .newEnd = 3, .oldEnd = 5, .newCount = 2, .replaced = 4, .from = 1,
                       .to = 1, .startChar = 3, .removedChars = 12, .complete = false});

        QTest::newRow("a new look replaces all")
            << three << three << true << qsizetype(3000)
            << change({.start = 0, .kept = 0, .newEnd = 3, .oldEnd = 0, .newCount = 3, .replaced = 0, .from = 0,
                       .to = 0, .startChar = 0, .removedChars = 0, .complete = true});
        QTest::newRow("a new look in slices, the newest slice")
            << three << three << true << qsizetype(3)
            << change({.start = 0, .kept = 0, .newEnd = 3, .oldEnd = 0, .newCount = 2, .replaced = 0, .from = 0,
                       .to = 1, .startChar = 0, .removedChars = 0, .complete = false});
        QTest::newRow("a new look in slices, the paragraph drawn first is drawn again")
            << list({"p1", "p2"}) << three << false << qsizetype(3)
            << change({.start = 0, .kept = 1, .newEnd = 2, .oldEnd = 1, .newCount = 2, .replaced = 1, .from = 0,
                       .to = 0, .startChar = 0, .removedChars = 3, .complete = true});

        QTest::newRow("the target shrinks")
            << six.first(4) << list({"p0", "p1"}) << false << qsizetype(3000)
            << change({.start = 2, .kept = 0, .newEnd = 2, .oldEnd = 4, .newCount = 0, .replaced = 2, .from = 2,
                       .to = 2, .startChar = 6, .removedChars = 6, .complete = true});
        QTest::newRow("the target empties")
            << list({"p0", "p1"}) << QList<Paragraph>() << false << qsizetype(3000)
            << change({.start = 0, .kept = 0, .newEnd = 0, .oldEnd = 2, .newCount = 0, .replaced = 2, .from = 0,
                       .to = 0, .startChar = 0, .removedChars = 6, .complete = true});
    }

    void between()
    {
        QFETCH(QList<Paragraph>, rendered);
        QFETCH(QList<Paragraph>, target);
        QFETCH(bool, newLook);
        QFETCH(qsizetype, slice);
        QFETCH(std::optional<HistoryChange>, expected);
        const std::optional<HistoryChange> actual = HistoryChange::between(rendered, lengthsOf(rendered), target,
                                                                           newLook, slice);
        QCOMPARE(actual.has_value(), expected.has_value());
        if (expected)
            QCOMPARE(*actual, *expected);
    }
};

DODEDAROV_TEST(HistoryChangeTest)
#include "HistoryChangeTest.moc"
