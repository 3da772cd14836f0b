#include "TestMain.h"

#include "platform/TraditionalChinese.h"

class TraditionalChineseTest final : public QObject {
    Q_OBJECT

private slots:
    void converts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("two characters") << "汉字" << "漢字";
        QTest::newRow("a phrase") << "我们开会讨论这个问题。" << "我們開會討論這個問題。";
        QTest::newRow("already traditional") << "漢字" << "漢字";
        QTest::newRow("english and numbers kept") << "API 版本 2.0 发布" << "API 版本 2.0 發佈";
        QTest::newRow("emoji kept") << "会议😀结束" << "會議😀結束";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("a NUL inside is kept whole") << QString::fromUtf16(u"汉\0字", 3) << QString::fromUtf16(u"汉\0字", 3);
    }

    void converts()
    {
        QFETCH(QString, text);
        QTEST(m_converter.convert(text), "expected");
        QVERIFY(m_converter.isLoaded());
    }

    void loadsOnFirstUse()
    {
        TraditionalChinese converter;
        QVERIFY(!converter.isLoaded());
        QCOMPARE(converter.convert(QStringLiteral("汉字")), QStringLiteral("漢字"));
        QVERIFY(converter.isLoaded());
    }

    void missingTablesLeaveTheTextAsItIs()
    {
        TraditionalChinese converter(QStringLiteral("/nonexistent/s2t.json"));
        QCOMPARE(converter.convert(QStringLiteral("汉字")), QStringLiteral("汉字"));
        QVERIFY(!converter.isLoaded());
        QCOMPARE(converter.convert(QStringLiteral("汉字")), QStringLiteral("汉字"));
    }

private:
    TraditionalChinese m_converter;
};

DODEDAROV_TEST(TraditionalChineseTest)
#include "TraditionalChineseTest.moc"
