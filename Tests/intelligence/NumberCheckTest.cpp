#include "TestMain.h"

#include "intelligence/NumberCheck.h"

#include <optional>

Q_DECLARE_METATYPE(std::optional<double>)

class NumberCheckTest final : public QObject {
    Q_OBJECT

private slots:
    void missing_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("translation");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("no number in the source") << "we met today" << "我们今天见了 3 次" << QStringList{};
        QTest::newRow("thousands separator") << "about 1,500 people" << "大约1500人" << QStringList{};
        QTest::newRow("a number lost") << "about 1,500 people" << "大约15人" << QStringList{"1500"};
        QTest::newRow("listed once, in source order")
            << "5 apples, 7 pears and 5 plums" << "苹果和梨" << QStringList{"5", "7"};
        QTest::newRow("percent") << "百分之三十的人" << "30% of people" << QStringList{};
        QTest::newRow("million against 万") << "3 million users" << "300万用户" << QStringList{};
        QTest::newRow("within a billionth") << "12.5 percent" << "12.5000000001%" << QStringList{};
        QTest::newRow("a billionth off") << "12.5 percent" << "12.50000002%" << QStringList{"12.5"};
        QTest::newRow("decimal in the list") << "3.5 days" << "三天" << QStringList{"3.5", };
        // Big units multiply what came before them.
        QTest::newRow("一万亿 is a trillion") << "一万亿美元" << "1 trillion dollars" << QStringList{};
        QTest::newRow("一万亿 in the translation") << "one trillion dollars" << "一万亿美元" << QStringList{};
        QTest::newRow("trillion in digits") << "3万亿美元" << "3 trillion dollars" << QStringList{};
        QTest::newRow("trillion in words") << "three trillion dollars" << "3万亿美元" << QStringList{};
        QTest::newRow("a list is not a year") << "ten, twenty, thirty" << "10、20、30" << QStringList{};
        QTest::newRow("commas between small numbers") << "1,2,3" << "1、2、3" << QStringList{};
        QTest::newRow("萬 read once") << "3萬人" << "30,000 people" << QStringList{};
        QTest::newRow("blank before a unit, translation") << "30,000 people" << "3 万人" << QStringList{};
        QTest::newRow("blank before a unit, source") << "3 万人" << "30,000 people" << QStringList{};
        QTest::newRow("point before a big unit") << "一点五亿" << "150 million" << QStringList{};
    }

    void missing()
    {
        QFETCH(QString, source);
        QFETCH(QString, translation);
        QFETCH(QStringList, expected);
        QCOMPARE(NumberCheck::missing(source, translation), expected);
    }

    void englishValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("source");
        QTest::addColumn<QList<double>>("expected");
        QTest::newRow("1,500") << "1,500" << true << QList<double>{1500};
        QTest::newRow("1,500,000") << "1,500,000." << true << QList<double>{1500000};
        QTest::newRow("1,2,3") << "1,2,3" << true << QList<double>{1, 2, 3};
        QTest::newRow("1,50") << "1,50" << true << QList<double>{1, 50};
        QTest::newRow("1,5000") << "1,5000" << true << QList<double>{1, 5000};
        QTest::newRow("3.5m") << "3.5m" << true << QList<double>{3.5};
        QTest::newRow("2.5 million") << "2.5 million" << true << QList<double>{2500000};
        QTest::newRow("5 hundred thousand") << "5 hundred thousand" << true << QList<double>{500000};
        QTest::newRow("3 trillion") << "3 trillion" << true << QList<double>{3e12};
        QTest::newRow("three trillion") << "Three Trillion" << true << QList<double>{3e12};
        QTest::newRow("point ends a run") << "three point five million" << true << QList<double>{3, 5000000};
        QTest::newRow("and inside a run") << "one hundred and five" << true << QList<double>{105};
        QTest::newRow("and before a scale") << "one and hundred" << false << QList<double>{1, 100};
        QTest::newRow("one of them, source") << "one of them" << true << QList<double>{};
        QTest::newRow("one, translation") << "one of them" << false << QList<double>{1};
        QTest::newRow("twenty one") << "twenty one" << true << QList<double>{21};
        QTest::newRow("nineteen eighty four") << "nineteen eighty four" << true << QList<double>{1984};
        QTest::newRow("twenty twenty four") << "twenty twenty four" << true << QList<double>{2024};
        QTest::newRow("eleven twelve") << "eleven twelve" << true << QList<double>{1112};
        QTest::newRow("twenty one hundred") << "twenty one hundred" << true << QList<double>{2100};
        QTest::newRow("comma ends a run") << "ten, twenty, thirty" << true << QList<double>{10, 20, 30};
        QTest::newRow("full stop ends a run") << "ten. Twenty" << true << QList<double>{10, 20};
        QTest::newRow("hyphen keeps a run") << "twenty-one" << true << QList<double>{21};
        QTest::newRow("hyphenated year") << "nineteen eighty-four" << true << QList<double>{1984};
        QTest::newRow("digits before 萬 left to the Chinese reader") << "3萬" << true << QList<double>{};
        QTest::newRow("digits before 億") << "2億" << true << QList<double>{};
        QTest::newRow("digits and blank before 万") << "3 万" << true << QList<double>{};
        QTest::newRow("percent") << "30%" << false << QList<double>{30};
        QTest::newRow("unreadable number") << "1.2.3 and 7" << false << QList<double>{7};
        QTest::newRow("too big to read") << QString(400, u'9') << false << QList<double>{};
    }

    void englishValues()
    {
        QFETCH(QString, text);
        QFETCH(bool, source);
        QFETCH(QList<double>, expected);
        QCOMPARE(NumberCheck::englishValues(text, source), expected);
    }

    void chineseValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("source");
        QTest::addColumn<QList<double>>("expected");
        QTest::newRow("3万") << "3万" << true << QList<double>{30000};
        QTest::newRow("1.5亿") << "1.5亿" << true << QList<double>{150000000};
        QTest::newRow("2千万") << "2千万" << true << QList<double>{20000000};
        QTest::newRow("3萬") << "3萬" << true << QList<double>{30000};
        QTest::newRow("blank before the unit") << "3 万" << true << QList<double>{30000};
        QTest::newRow("1,500万") << "1,500万" << true << QList<double>{15000000};
        QTest::newRow("1,50万") << "1,50万" << true << QList<double>{500000};
        QTest::newRow("digits alone") << "共 3" << true << QList<double>{};
        QTest::newRow("unit alone") << "十" << true << QList<double>{};
        QTest::newRow("第一, source") << "第一" << true << QList<double>{};
        QTest::newRow("lone 两, source") << "两" << true << QList<double>{};
        QTest::newRow("lone 两, translation") << "两" << false << QList<double>{2};
        QTest::newRow("两千, source") << "两千" << true << QList<double>{2000};
        QTest::newRow("百分之三十") << "百分之三十" << true << QList<double>{30};
        QTest::newRow("點") << "三點五" << true << QList<double>{3.5};
        QTest::newRow("点 without a digit after it") << "三点钟" << false << QList<double>{3};
    }

    void chineseValues()
    {
        QFETCH(QString, text);
        QFETCH(bool, source);
        QFETCH(QList<double>, expected);
        QCOMPARE(NumberCheck::chineseValues(text, source), expected);
    }

    void parseChinese_data()
    {
        QTest::addColumn<QString>("run");
        QTest::addColumn<std::optional<double>>("expected");
        QTest::newRow("二零二四") << "二零二四" << std::optional(2024.0);
        QTest::newRow("三五") << "三五" << std::optional(35.0);
        QTest::newRow("一万五千") << "一万五千" << std::optional(15000.0);
        QTest::newRow("十五") << "十五" << std::optional(15.0);
        QTest::newRow("一百零五") << "一百零五" << std::optional(105.0);
        QTest::newRow("两百") << "两百" << std::optional(200.0);
        QTest::newRow("一万亿") << "一万亿" << std::optional(1e12);
        QTest::newRow("三千万亿") << "三千万亿" << std::optional(3e15);
        QTest::newRow("两万三千亿") << "两万三千亿" << std::optional(2.3e12);
        QTest::newRow("一亿五千万") << "一亿五千万" << std::optional(150000000.0);
        QTest::newRow("一亿零五万") << "一亿零五万" << std::optional(100050000.0);
        QTest::newRow("leading big unit") << "亿五千" << std::optional(100005000.0);
        QTest::newRow("三点五") << "三点五" << std::optional(3.5);
        QTest::newRow("十二点五") << "十二点五" << std::optional(12.5);
        QTest::newRow("一点五亿") << "一点五亿" << std::optional(150000000.0);
        QTest::newRow("nineteen digits before 点") << "九九九九九九九九九九九九九九九九九九九点五"
                                                   << std::optional<double>();
    }

    void parseChinese()
    {
        QFETCH(QString, run);
        QFETCH(std::optional<double>, expected);
        QCOMPARE(NumberCheck::parseChinese(run), expected);
    }

    void format_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("whole") << 1500.0 << "1500";
        QTest::newRow("fraction") << 3.5 << "3.5";
        QTest::newRow("largest whole below 10^15") << 999999999999999.0 << "999999999999999";
        QTest::newRow("10^15") << 1e15 << "1e+15";
        QTest::newRow("3 x 10^15") << 3e15 << "3e+15";
    }

    void format()
    {
        QFETCH(double, value);
        QFETCH(QString, expected);
        QCOMPARE(NumberCheck::format(value), expected);
    }

    void badInputGivesNoValueAndNeverHangs()
    {
        const QString weird = QString(10000, u'9') + QChar(0xD800) + QStringLiteral("😀3\uFE0F\u20E3 一\u0301万")
            + QChar(0xDC00) + QString(5000, u'万') + QStringLiteral("9,") + QString(3000, u'.');
        NumberCheck::missing(weird, weird);
        NumberCheck::missing(QString(10000, u'一') + QStringLiteral("点五"), QString());
        // A keycap is no ASCII digit.
        QCOMPARE(NumberCheck::englishValues(QStringLiteral("3\uFE0F\u20E3"), true), QList<double>{});
    }
};

DODEDAROV_TEST(NumberCheckTest)
#include "NumberCheckTest.moc"
