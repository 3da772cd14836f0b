#include "TestMain.h"

#include "intelligence/RawParagraphs.h"

#include <optional>

Q_DECLARE_METATYPE(std::optional<qsizetype>)

class RawParagraphsTest final : public QObject {
    Q_OBJECT

private slots:
    void breakIndex_data()
    {
        QTest::addColumn<double>("existing");
        QTest::addColumn<QStringList>("tokens");
        QTest::addColumn<std::optional<qsizetype>>("expected");
        const QStringList plain(80, QStringLiteral("word"));
        QStringList end19(18, QStringLiteral("word"));
        end19.append(QStringLiteral("done."));
        QStringList end20 = end19;
        end20.prepend(QStringLiteral("so"));
        QTest::newRow("weight 70 without an end") << 0.0 << plain << std::optional<qsizetype>(69);
        QTest::newRow("existing weight counts") << 65.0 << plain << std::optional<qsizetype>(4);
        QTest::newRow("sentence end at weight 19") << 0.0 << end19 << std::optional<qsizetype>();
        QTest::newRow("sentence end at weight 20") << 0.0 << end20 << std::optional<qsizetype>(19);
        QTest::newRow("ellipsis is no end here") << 30.0 << QStringList{"wait…"} << std::optional<qsizetype>();
        QTest::newRow("Chinese token of 10 characters weighs 5, reaching 70")
            << 65.0 << QStringList{"我们今天讨论预算问题"} << std::optional<qsizetype>(0);
        QTest::newRow("Chinese token of 10 characters weighs 5, reaching 69.5")
            << 64.5 << QStringList{"我们今天讨论预算问题"} << std::optional<qsizetype>();
        QTest::newRow("Chinese sentence end at 20")
            << 14.5 << QStringList{"我们今天讨论预算问题。"} << std::optional<qsizetype>(0);
        QTest::newRow("compatibility ideographs weigh 1")
            << 68.0 << QStringList{"豈更", "x"} << std::optional<qsizetype>(1);
        QTest::newRow("no tokens") << 100.0 << QStringList{} << std::optional<qsizetype>();
    }

    void breakIndex()
    {
        QFETCH(double, existing);
        QFETCH(QStringList, tokens);
        QFETCH(std::optional<qsizetype>, expected);
        QCOMPARE(RawParagraphs::breakIndex(existing, tokens), expected);
    }
};

DODEDAROV_TEST(RawParagraphsTest)
#include "RawParagraphsTest.moc"
