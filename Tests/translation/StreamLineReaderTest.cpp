// Cutting a byte stream into lines however the bytes are split between reads.
#include "TestMain.h"

#include "translation/StreamLineReader.h"

namespace {

// Feeds the chunks one by one, collecting every complete line, then the end of the stream.
QStringList linesOf(const QList<QByteArray> &chunks)
{
    StreamLineReader reader;
    QStringList lines;
    for (const QByteArray &chunk : chunks) {
        reader.append(chunk);
        while (const auto line = reader.next())
            lines << *line;
    }
    if (const auto last = reader.finish())
        lines << *last;
    return lines;
}

} // namespace

class StreamLineReaderTest final : public QObject {
    Q_OBJECT
private slots:
    void lines_data();
    void lines();
    void everySplitGivesTheSameLines();
    void partialLineWaits();
    void overlongLineIsDropped();
};

void StreamLineReaderTest::lines_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("LF") << QList<QByteArray>{"a\nb\n\n"} << QStringList{"a", "b", ""};
    QTest::newRow("CRLF") << QList<QByteArray>{"a\r\nb\r\n\r\n"} << QStringList{"a", "b", ""};
    QTest::newRow("lone CR") << QList<QByteArray>{"a\rb\r\r"} << QStringList{"a", "b", ""};
    QTest::newRow("CR, then LF in the next read") << QList<QByteArray>{"a\r", "\nb\r", "\n"}
                                                  << QStringList{"a", "b"};
    QTest::newRow("CR at the very end") << QList<QByteArray>{"a\r"} << QStringList{"a"};
    QTest::newRow("line across three reads") << QList<QByteArray>{"da", "ta: x", "y\n"}
                                             << QStringList{"data: xy"};
    QTest::newRow("last line without an end") << QList<QByteArray>{"a\nb"} << QStringList{"a", "b"};
    QTest::newRow("UTF-8 split inside a character")
        << QList<QByteArray>{"\xe4\xbd", "\xa0\xe5\xa5\xbd\n"} << QStringList{QStringLiteral("你好")};
    QTest::newRow("bytes that are not UTF-8") << QList<QByteArray>{"a\xff" "b\n"}
                                              << QStringList{QStringLiteral("a\uFFFDb")};
    QTest::newRow("nothing") << QList<QByteArray>{} << QStringList{};
}

void StreamLineReaderTest::lines()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QStringList, expected);
    QCOMPARE(linesOf(chunks), expected);
}

void StreamLineReaderTest::everySplitGivesTheSameLines()
{
    const QByteArray stream = "data: {\"a\":1}\r\n\r\n: keep-alive\n\ndata: \xe4\xbd\xa0\r\rdata: [DONE]\r\n";
    const QStringList whole = linesOf({stream});
    QCOMPARE(whole.size(), 7);
    for (qsizetype cut = 1; cut < stream.size(); ++cut) {
        for (qsizetype second = cut + 1; second <= stream.size(); ++second) {
            const QList<QByteArray> chunks{stream.left(cut), stream.mid(cut, second - cut),
                                           stream.mid(second)};
            QCOMPARE(linesOf(chunks), whole);
        }
    }
}

void StreamLineReaderTest::partialLineWaits()
{
    StreamLineReader reader;
    reader.append("data: par");
    QCOMPARE(reader.next(), std::nullopt);
    reader.append("tial\nnext");
    QCOMPARE(reader.next(), std::optional<QString>("data: partial"));
    QCOMPARE(reader.next(), std::nullopt);
    QCOMPARE(reader.finish(), std::optional<QString>("next"));
    QCOMPARE(reader.finish(), std::nullopt);
}

void StreamLineReaderTest::overlongLineIsDropped()
{
    // A line that never ends is not kept whole in memory; the lines around it still arrive.
    const QByteArray piece(1024 * 1024, 'x');
    QList<QByteArray> chunks{"before\n"};
    for (qsizetype i = 0; i * piece.size() <= StreamLineReader::maxLineBytes; ++i)
        chunks << piece;
    chunks << "tail\nafter\n";
    QCOMPARE(linesOf(chunks), QStringList({"before", "after"}));

    QCOMPARE(linesOf({"before\n" + QByteArray(StreamLineReader::maxLineBytes + 1, 'y') + "\nafter"}),
             QStringList({"before", "after"}));
}

DODEDAROV_TEST(StreamLineReaderTest)
#include "StreamLineReaderTest.moc"
