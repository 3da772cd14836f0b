#include "TestMain.h"

#include "common/UserDefaults.h"
#include "fakes/TemporarySettings.h"

#include <QFile>
#include <QJsonObject>
#include <QTest>

#include <sys/stat.h>

// Typed reads over a settings file that keeps no types, as a user may have edited it.
class UserDefaultsTest final : public QObject {
    Q_OBJECT

private slots:
    void flag_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("expected"); // -1 not stored, 0 false, 1 true
        QTest::newRow("absent") << QString() << -1;
        QTest::newRow("true") << "diarize=true" << 1;
        QTest::newRow("false") << "diarize=false" << 0;
        QTest::newRow("yes is not a flag") << "diarize=yes" << -1;
        QTest::newRow("one is not a flag") << "diarize=1" << -1;
        QTest::newRow("capitalised") << "diarize=True" << -1;
        QTest::newRow("a list") << "diarize=true, false" << -1;
    }
    void flag()
    {
        QFETCH(QString, line);
        QFETCH(int, expected);
        TemporarySettings settings;
        settings.writeText(line);
        const std::optional<bool> value = UserDefaults::flag(QStringLiteral("diarize"));
        QCOMPARE(value ? int(*value) : -1, expected);
    }

    void integer_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<qint64>("expected"); // -999 not stored
        QTest::newRow("absent") << QString() << qint64(-999);
        QTest::newRow("digits") << "autoPauseMinutes=20" << qint64(20);
        QTest::newRow("signed") << "autoPauseMinutes=-5" << qint64(-5);
        QTest::newRow("plus") << "autoPauseMinutes=+7" << qint64(7);
        QTest::newRow("letters") << "autoPauseMinutes=abc" << qint64(-999);
        QTest::newRow("fraction text") << "autoPauseMinutes=2.5" << qint64(-999);
        QTest::newRow("flag") << "autoPauseMinutes=true" << qint64(-999);
        QTest::newRow("empty") << "autoPauseMinutes=" << qint64(-999);
    }
    void integer()
    {
        QFETCH(QString, line);
        QFETCH(qint64, expected);
        TemporarySettings settings;
        settings.writeText(line);
        QCOMPARE(UserDefaults::integer(QStringLiteral("autoPauseMinutes")).value_or(-999), expected);
    }

    void real_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<double>("expected"); // -999 not stored
        QTest::newRow("absent") << QString() << -999.0;
        QTest::newRow("fraction") << "captionOpacity=0.785" << 0.785;
        QTest::newRow("whole") << "captionOpacity=70" << 70.0;
        QTest::newRow("letters") << "captionOpacity=abc" << -999.0;
        QTest::newRow("not finite") << "captionOpacity=inf" << -999.0;
        QTest::newRow("nan") << "captionOpacity=nan" << -999.0;
        QTest::newRow("comma decimal") << "captionOpacity=\"0,5\"" << -999.0;
    }
    void real()
    {
        QFETCH(QString, line);
        QFETCH(double, expected);
        TemporarySettings settings;
        settings.writeText(line);
        QCOMPARE(UserDefaults::real(QStringLiteral("captionOpacity")).value_or(-999.0), expected);
    }

    void flags_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected"); // flags as 0/1, or "-" for not stored
        QTest::newRow("absent") << QString() << "-";
        QTest::newRow("three flags") << "captionParts=true, false, true" << "101";
        QTest::newRow("a number inside") << "captionParts=true, 1, true" << "-";
        QTest::newRow("one flag is no list") << "captionParts=true" << "-";
    }
    void flags()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        TemporarySettings settings;
        settings.writeText(line);
        const std::optional<QList<bool>> value = UserDefaults::flags(QStringLiteral("captionParts"));
        QString got = QStringLiteral("-");
        if (value) {
            got.clear();
            for (bool b : *value)
                got += b ? u'1' : u'0';
        }
        QCOMPARE(got, expected);
    }

    void json_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("decodes");
        QTest::newRow("absent") << QString() << false;
        QTest::newRow("object") << "captionAppearance=\"{\\\"a\\\":1}\"" << true;
        QTest::newRow("array") << "captionAppearance=\"[1,2]\"" << false;
        QTest::newRow("broken") << "captionAppearance=\"{\\\"a\\\":\"" << false;
        QTest::newRow("a flag") << "captionAppearance=true" << false;
    }
    void json()
    {
        QFETCH(QString, line);
        QFETCH(bool, decodes);
        TemporarySettings settings;
        settings.writeText(line);
        QCOMPARE(UserDefaults::json(QStringLiteral("captionAppearance")).has_value(), decodes);
    }

    // Registered defaults answer only where the stored value is missing or of another type,
    // and are never written to the file.
    void registeredDefaultsFillTheGaps()
    {
        TemporarySettings settings;
        settings.writeText(QStringLiteral("diarize=yes\nkeepAwake=false"));
        UserDefaults::registerDefaults({{QStringLiteral("diarize"), true},
                                        {QStringLiteral("keepAwake"), true},
                                        {QStringLiteral("autoPauseMinutes"), 10}});
        QCOMPARE(UserDefaults::flag(QStringLiteral("diarize")), std::optional<bool>(true));
        QCOMPARE(UserDefaults::flag(QStringLiteral("keepAwake")), std::optional<bool>(false));
        QCOMPARE(UserDefaults::integer(QStringLiteral("autoPauseMinutes")), std::optional<qint64>(10));
        QVERIFY(!UserDefaults::flag(QStringLiteral("autoPauseMinutes")));
        const QString text = settings.readText();
        QVERIFY(!text.contains(QStringLiteral("autoPauseMinutes")));
        QVERIFY(text.contains(QStringLiteral("diarize=yes")));
    }

    // Values are written with their own type and read back through the file as that type.
    void writesRoundTrip()
    {
        TemporarySettings settings;
        UserDefaults::setFlag(QStringLiteral("diarize"), false);
        UserDefaults::setInteger(QStringLiteral("autoPauseMinutes"), 30);
        UserDefaults::setReal(QStringLiteral("fontSize"), 30.5);
        UserDefaults::setText(QStringLiteral("audioSource"), QStringLiteral("both"));
        UserDefaults::setFlags(QStringLiteral("captionParts"), {true, false, true, false, true});
        UserDefaults::setJson(QStringLiteral("captionAppearance"), QJsonObject{{"k", 1}});
        const QString text = settings.readText();
        QVERIFY2(text.contains(QStringLiteral("diarize=false")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("autoPauseMinutes=30")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("captionParts=true, false, true, false, true")),
                 qPrintable(text));

        // A fresh folder holding only that text reads the same values.
        TemporarySettings fresh;
        fresh.writeText(text.mid(text.indexOf(u'\n') + 1));
        QCOMPARE(UserDefaults::flag(QStringLiteral("diarize")), std::optional<bool>(false));
        QCOMPARE(UserDefaults::integer(QStringLiteral("autoPauseMinutes")), std::optional<qint64>(30));
        QCOMPARE(UserDefaults::real(QStringLiteral("fontSize")), std::optional<double>(30.5));
        QCOMPARE(UserDefaults::text(QStringLiteral("audioSource")), std::optional<QString>("both"));
        QCOMPARE(UserDefaults::flags(QStringLiteral("captionParts")),
                 std::optional<QList<bool>>(QList<bool>{true, false, true, false, true}));
        QCOMPARE(UserDefaults::json(QStringLiteral("captionAppearance")),
                 std::optional<QJsonObject>(QJsonObject{{"k", 1}}));
        UserDefaults::remove(QStringLiteral("diarize"));
        QVERIFY(!UserDefaults::flag(QStringLiteral("diarize")));
    }

    // A start stores a few settings each time, mostly what is there already: such a write
    // leaves the file alone, any other replaces it (a new file, so a new inode).
    void sameValueIsNotWrittenAgain_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("written");
        QTest::newRow("same flag") << "k=false" << QVariant(false) << false;
        QTest::newRow("other flag") << "k=true" << QVariant(false) << true;
        QTest::newRow("flag over other text") << "k=yes" << QVariant(true) << true;
        QTest::newRow("same integer") << "k=10" << QVariant(qint64(10)) << false;
        QTest::newRow("other integer") << "k=11" << QVariant(qint64(10)) << true;
        QTest::newRow("same real") << "k=340" << QVariant(340.0) << false;
        QTest::newRow("other real") << "k=340.5" << QVariant(340.0) << true;
        QTest::newRow("same text") << "k=both" << QVariant(QStringLiteral("both")) << false;
        QTest::newRow("other text") << "k=english" << QVariant(QStringLiteral("both")) << true;
        QTest::newRow("not stored") << QString() << QVariant(QStringLiteral("both")) << true;
    }
    void sameValueIsNotWrittenAgain()
    {
        QFETCH(QString, line);
        QFETCH(QVariant, value);
        QFETCH(bool, written);
        TemporarySettings settings;
        settings.writeText(line);
        const auto inode = [&settings] {
            struct stat status {};
            return ::stat(QFile::encodeName(settings.file()).constData(), &status) == 0 ? status.st_ino : 0;
        };
        const auto before = inode();
        QVERIFY(before != 0);
        const QString key = QStringLiteral("k");
        switch (value.typeId()) {
        case QMetaType::Bool:
            UserDefaults::setFlag(key, value.toBool());
            QCOMPARE(UserDefaults::flag(key), std::optional<bool>(value.toBool()));
            break;
        case QMetaType::LongLong:
            UserDefaults::setInteger(key, value.toLongLong());
            QCOMPARE(UserDefaults::integer(key), std::optional<qint64>(value.toLongLong()));
            break;
        case QMetaType::Double:
            UserDefaults::setReal(key, value.toDouble());
            QCOMPARE(UserDefaults::real(key), std::optional<double>(value.toDouble()));
            break;
        default:
            UserDefaults::setText(key, value.toString());
            QCOMPARE(UserDefaults::text(key), std::optional<QString>(value.toString()));
            break;
        }
        QCOMPARE(inode() != before, written);
    }
};

DODEDAROV_TEST(UserDefaultsTest)
#include "UserDefaultsTest.moc"
