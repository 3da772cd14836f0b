#include "TestMain.h"

#include "records/DiagnosticLog.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>

using Fields = QMap<QString, QString>;
using Events = QList<DiagnosticEvent>;

Q_DECLARE_METATYPE(Events)

namespace {

QString repeated(const QString &unit, int times)
{
    QString out;
    for (int i = 0; i < times; ++i)
        out += unit;
    return out;
}

} // namespace

class DiagnosticLogTest final : public QObject {
    Q_OBJECT

private slots:
    void fullLogDropsLaterEvents()
    {
        DiagnosticLog log;
        for (int i = 0; i < DiagnosticLog::maxEvents; ++i)
            log.add(i, QStringLiteral("asr"));
        QCOMPARE(log.events().size(), 30000);
        log.add(1e6, QStringLiteral("pause"), {{QStringLiteral("text"), QStringLiteral("late")}});
        QCOMPARE(log.events().size(), 30000);
        QCOMPARE(log.count(QStringLiteral("pause")), 0);
        QCOMPARE(log.count(QStringLiteral("asr")), 30000);
        QCOMPARE(log.events().last().t, 29999.0);
    }

    void fieldValuesAreCut_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("kept");

        const QString a4000 = repeated(QStringLiteral("a"), 4000);
        QTest::newRow("exactly 4000 kept whole") << a4000 << a4000;
        QTest::newRow("4001 cut to 4000") << a4000 + u'b' << a4000;
        QTest::newRow("short kept") << QStringLiteral("abc") << QStringLiteral("abc");
        // Characters, not UTF-16 units: an emoji is two units, a letter with
        // an accent mark two scalars, and neither may be split.
        const QString smile = QString::fromUtf8("😀");
        QTest::newRow("surrogate pairs count as one")
            << repeated(smile, 4001) << repeated(smile, 4000);
        const QString accented = QStringLiteral("e\u0301");
        QTest::newRow("combining sequences count as one")
            << repeated(accented, 4002) << repeated(accented, 4000);
        QTest::newRow("cut never ends inside a pair")
            << repeated(QStringLiteral("a"), 3999) + smile + smile
            << repeated(QStringLiteral("a"), 3999) + smile;
    }

    void fieldValuesAreCut()
    {
        QFETCH(QString, value);
        QFETCH(QString, kept);
        DiagnosticLog log;
        log.add(1, QStringLiteral("translated"), {{QStringLiteral("zh"), value}, {QStringLiteral("x"), QStringLiteral("y")}});
        QCOMPARE(log.events().size(), 1);
        QCOMPARE(log.events()[0].fields.value(QStringLiteral("zh")), kept);
        QCOMPARE(log.events()[0].fields.value(QStringLiteral("x")), QStringLiteral("y"));
        QCOMPARE(log.events()[0].kind, QStringLiteral("translated"));
    }

    void countsByKind()
    {
        DiagnosticLog log;
        log.add(1, QStringLiteral("pause"));
        log.add(2, QStringLiteral("resume"));
        log.add(3, QStringLiteral("pause"));
        QCOMPARE(log.count(QStringLiteral("pause")), 2);
        QCOMPARE(log.count(QStringLiteral("resume")), 1);
        QCOMPARE(log.count(QStringLiteral("chat")), 0);
    }

    // The log keeps its events packed: what reads back is exactly what went in, whatever the
    // texts hold, and a long meeting's events run over several blocks of the log.
    void eventsReadBackAsAdded_data()
    {
        QTest::addColumn<Events>("events");

        const QString text = QStringLiteral("text");
        QString lone = QStringLiteral("a");
        lone += QChar(0xD800);
        QTest::newRow("no fields") << Events{{12.25, QStringLiteral("pause"), {}}};
        QTest::newRow("Latin-1 beyond ASCII")
            << Events{{1, QStringLiteral("unit"),
                                       {{text, QStringLiteral("caf\u00e9 \u00fcber \u00ff")}, {QStringLiteral("\u00e9"), QStringLiteral("x")}}}};
        QTest::newRow("Chinese, emoji, a lone surrogate, empty texts")
            << Events{{-3.5, QStringLiteral("翻译"),
                                       {{text, QString::fromUtf8("你好😀")}, {QStringLiteral("reply"), lone},
                                        {QString(), QString()}, {QStringLiteral("z"), QStringLiteral("")}}}};
        Events meeting;
        for (int i = 0; i < 3000; ++i) {
            const QString words = QStringLiteral("word ").repeated(i % 300) + QString::number(i);
            meeting.append({i * 2.5, i % 2 ? QStringLiteral("unit") : QStringLiteral("translated"),
                            {{QStringLiteral("id"), QString::number(i)},
                             {QStringLiteral("zh"), QStringLiteral("第%1句。").arg(i)},
                             {text, words}}});
        }
        QTest::newRow("a meeting's worth, texts past 127 units") << meeting;
    }

    void eventsReadBackAsAdded()
    {
        QFETCH(Events, events);
        DiagnosticLog log;
        for (const DiagnosticEvent &event : events)
            log.add(event.t, event.kind, event.fields);
        QCOMPARE(log.size(), events.size());
        const QList<DiagnosticEvent> read = log.events();
        QCOMPARE(read.size(), events.size());
        for (qsizetype i = 0; i < events.size(); ++i) {
            QCOMPARE(read[i].t, events[i].t);
            QCOMPARE(read[i].kind, events[i].kind);
            QCOMPARE(read[i].fields, events[i].fields);
        }
        QCOMPARE(DiagnosticLog::jsonl(read), DiagnosticLog::jsonl(events));
        // A copy handed to another thread keeps what it had when the log goes on.
        const DiagnosticLog copy = log;
        log.add(1e4, QStringLiteral("later"));
        QCOMPARE(copy.events().size(), events.size());
        QCOMPARE(log.count(QStringLiteral("later")), 1);
    }

    void jsonLine_data()
    {
        QTest::addColumn<double>("t");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<Fields>("fields");
        QTest::addColumn<QString>("line");

        const QString text = QStringLiteral("text");
        QTest::newRow("keys sorted, t rounded up at a half")
            << 12.25 << "pause" << Fields{{text, QStringLiteral("休息一下")}}
            << QStringLiteral("{\"kind\":\"pause\",\"t\":12.3,\"text\":\"休息一下\"}");
        QTest::newRow("small t is 0") << 0.04 << "start" << Fields{} << QStringLiteral("{\"kind\":\"start\",\"t\":0}");
        QTest::newRow("negative small t is 0, never -0")
            << -0.04 << "start" << Fields{} << QStringLiteral("{\"kind\":\"start\",\"t\":0}");
        QTest::newRow("zero") << 0.0 << "start" << Fields{} << QStringLiteral("{\"kind\":\"start\",\"t\":0}");
        QTest::newRow("whole t without decimals")
            << 125.0 << "turn" << Fields{} << QStringLiteral("{\"kind\":\"turn\",\"t\":125}");
        QTest::newRow("negative half rounds away from zero")
            << -0.25 << "turn" << Fields{} << QStringLiteral("{\"kind\":\"turn\",\"t\":-0.3}");
        QTest::newRow("three hours") << 10799.96 << "meeting_end" << Fields{}
                                     << QStringLiteral("{\"kind\":\"meeting_end\",\"t\":10800}");
        QTest::newRow("large t in plain digits")
            << 1234567.891 << "turn" << Fields{} << QStringLiteral("{\"kind\":\"turn\",\"t\":1234567.9}");
        QTest::newRow("escapes slash, quote, backslash and controls")
            << 1.0 << "note"
            << Fields{{text, QStringLiteral("a/b \"q\" \\ \b\f\n\r\t\x01\x1f\x7f")}}
            << QStringLiteral("{\"kind\":\"note\",\"t\":1,\"text\":\"a\\/b \\\"q\\\" \\\\ \\b\\f\\n\\r\\t\\u0001\\u001f")
                   + QChar(0x7f) + QStringLiteral("\"}");
        QTest::newRow("keys in code-point order, not UTF-16 order")
            << 1.0 << "k"
            << Fields{{QStringLiteral("\uFF01"), QStringLiteral("a")}, {QString::fromUtf8("😀"), QStringLiteral("b")},
                      {QStringLiteral("Z"), QStringLiteral("c")}}
            << QStringLiteral("{\"Z\":\"c\",\"kind\":\"k\",\"t\":1,\"！\":\"a\",\"😀\":\"b\"}");
        QTest::newRow("field kind does not replace the kind")
            << 3.0 << "pause" << Fields{{QStringLiteral("kind"), QStringLiteral("x")}}
            << QStringLiteral("{\"field_kind\":\"x\",\"kind\":\"pause\",\"t\":3}");
        QTest::newRow("field t does not move the event")
            << 3.0 << "pause" << Fields{{QStringLiteral("t"), QStringLiteral("999")}}
            << QStringLiteral("{\"field_t\":\"999\",\"kind\":\"pause\",\"t\":3}");
        QTest::newRow("renamed field never overwrites another field")
            << 3.0 << "pause"
            << Fields{{QStringLiteral("t"), QStringLiteral("1")}, {QStringLiteral("field_t"), QStringLiteral("2")}}
            << QStringLiteral("{\"field_field_t\":\"1\",\"field_t\":\"2\",\"kind\":\"pause\",\"t\":3}");
        QTest::newRow("not finite t gives the empty line")
            << std::numeric_limits<double>::quiet_NaN() << "pause" << Fields{} << QString();
        QTest::newRow("infinite t gives the empty line")
            << std::numeric_limits<double>::infinity() << "pause" << Fields{} << QString();
        QTest::newRow("t too large to round gives the empty line")
            << std::numeric_limits<double>::max() << "pause" << Fields{} << QString();
    }

    void jsonLine()
    {
        QFETCH(double, t);
        QFETCH(QString, kind);
        QFETCH(Fields, fields);
        QFETCH(QString, line);
        const DiagnosticEvent event{t, kind, fields};
        QCOMPARE(event.jsonLine(), line);
    }

    // Whatever a caller puts into an event, its line reads back with the same
    // kind, the rounded t and the same fields.
    void awkwardFieldsReadBack_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<Fields>("fields");
        QTest::addColumn<Fields>("readBack");

        const QString text = QStringLiteral("text");
        auto same = [](const QString &kind, const Fields &f) {
            QTest::newRow(qPrintable(kind)) << kind << f << f;
        };
        same(QStringLiteral("quotes"), {{text, QStringLiteral("he said \"no\"")}, {QStringLiteral("\"key\""), QStringLiteral("v")}});
        same(QStringLiteral("backslashes"), {{text, QStringLiteral("C:\\path\\\\x\\")}, {QStringLiteral("a\\b"), QStringLiteral("\\u0041")}});
        same(QStringLiteral("slashes"), {{QStringLiteral("url"), QStringLiteral("https://example.com/a/b?c=d")}});
        QString controls;
        for (char16_t c = 0; c < 0x20; ++c)
            controls += QChar(c);
        same(QStringLiteral("controls"), {{text, controls + QStringLiteral("\x7f end")}, {QStringLiteral("\n"), QStringLiteral("\t")}});
        same(QStringLiteral("chinese and emoji"),
             {{text, QString::fromUtf8("你好，世界😀 e\u0301 \u2028\u2029")}, {QStringLiteral("名字"), QStringLiteral("值")}});
        same(QStringLiteral("empty key and value"), {{QString(), QString()}});
        same(QStringLiteral("field_kind"), {{QStringLiteral("field_kind"), QStringLiteral("y")}});

        QString lone = QStringLiteral("a");
        lone += QChar(0xD800);
        lone += QStringLiteral("b");
        lone += QChar(0xDC00);
        QString replaced = QStringLiteral("a\uFFFDb\uFFFD");
        QTest::newRow("lone surrogates become U+FFFD")
            << QStringLiteral("reply") << Fields{{text, lone}} << Fields{{text, replaced}};
        QTest::newRow("a lone surrogate in the kind") << QStringLiteral("k") + QChar(0xDBFF)
                                                      << Fields{} << Fields{};
        QTest::newRow("own kind and time stand")
            << QStringLiteral("pause")
            << Fields{{QStringLiteral("kind"), QStringLiteral("x")}, {QStringLiteral("t"), QStringLiteral("9")}}
            << Fields{{QStringLiteral("field_kind"), QStringLiteral("x")}, {QStringLiteral("field_t"), QStringLiteral("9")}};
    }

    void awkwardFieldsReadBack()
    {
        QFETCH(QString, kind);
        QFETCH(Fields, fields);
        QFETCH(Fields, readBack);
        const DiagnosticEvent event{61.04, kind, fields};
        const QString line = event.jsonLine();
        QVERIFY(!line.contains(u'\n'));
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QVERIFY(doc.isObject());
        QJsonObject object = doc.object();
        QString expectedKind = kind;
        for (QChar &c : expectedKind) {
            if (c.isSurrogate())
                c = QChar::ReplacementCharacter;
        }
        QCOMPARE(object.take(QStringLiteral("kind")).toString(), expectedKind);
        QCOMPARE(object.take(QStringLiteral("t")).toDouble(), 61.0);
        Fields read;
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            QVERIFY(it.value().isString());
            read.insert(it.key(), it.value().toString());
        }
        QCOMPARE(read, readBack);
    }

    void jsonl()
    {
        QCOMPARE(DiagnosticLog::jsonl({}), QStringLiteral("\n"));

        DiagnosticLog log;
        log.add(0.04, QStringLiteral("start"));
        log.add(std::nan(""), QStringLiteral("broken"));
        log.add(12.25, QStringLiteral("pause"), {{QStringLiteral("text"), QStringLiteral("x")}});
        QCOMPARE(DiagnosticLog::jsonl(log.events()),
                 QStringLiteral("{\"kind\":\"start\",\"t\":0}\n"
                                "\n"
                                "{\"kind\":\"pause\",\"t\":12.3,\"text\":\"x\"}\n"));
    }
};

DODEDAROV_TEST(DiagnosticLogTest)
#include "DiagnosticLogTest.moc"
