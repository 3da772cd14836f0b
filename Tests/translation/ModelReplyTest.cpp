#include "TestMain.h"

#include "translation/ModelReply.h"

#include <QJsonDocument>

class ModelReplyTest final : public QObject {
    Q_OBJECT

private slots:
    void object_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("expected"); // compact JSON, empty for none
        QTest::newRow("bare object") << R"({"a":1})" << R"({"a":1})";
        QTest::newRow("prose and a code fence around")
            << "好的：\n```json\n{\"recap\":\"主题\"}\n```\n以上。" << R"({"recap":"主题"})";
        QTest::newRow("nested braces, first to last") << R"(x {"a":{"b":[1]}} y)" << R"({"a":{"b":[1]}})";
        QTest::newRow("object inside an array") << R"([{"a":1}])" << R"({"a":1})";
        QTest::newRow("no braces") << "没有结果" << "";
        QTest::newRow("no closing brace") << R"({"a":1)" << "";
        QTest::newRow("no opening brace") << R"("a":1})" << "";
        QTest::newRow("braces out of order") << R"(} "a" {)" << "";
        QTest::newRow("broken JSON") << R"({"a":1,})" << "";
        QTest::newRow("two objects") << R"({"a":1} and {"b":2})" << "";
    }

    void object()
    {
        QFETCH(QString, reply);
        QFETCH(QString, expected);
        const std::optional<QJsonObject> got = ModelReply::object(reply);
        if (expected.isEmpty()) {
            QVERIFY(!got.has_value());
            return;
        }
        QVERIFY(got.has_value());
        QCOMPARE(QString::fromUtf8(QJsonDocument(*got).toJson(QJsonDocument::Compact)), expected);
    }
};

DODEDAROV_TEST(ModelReplyTest)
#include "ModelReplyTest.moc"
