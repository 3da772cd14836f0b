#include "TestMain.h"

#include "fakes/TemporarySettings.h"
#include "accounts/BalanceInfo.h"
#include "captions/CaptionParts.h"
#include "accounts/ElevenLabsKeys.h"
#include "accounts/KeyStatus.h"

#include <QTest>
#include <QTimeZone>

Q_DECLARE_METATYPE(KeyProvider)

// The small shared values of the key settings: providers, statuses, caption parts, quotas,
// balances and the recognition key list with its failover order.
class KeyValuesTest final : public QObject {
    Q_OBJECT

private slots:
    void providerRawTexts()
    {
        QCOMPARE(KeyProviders::fromString(QStringLiteral("elevenLabs")), KeyProvider::elevenLabs);
        QCOMPARE(KeyProviders::fromString(QStringLiteral("deepSeek")), KeyProvider::deepSeek);
        QVERIFY(!KeyProviders::fromString(QStringLiteral("deepseek")));
        QVERIFY(!KeyProviders::fromString(QStringLiteral("ElevenLabs")));
        QCOMPARE(KeyProviders::all().size(), 2);
    }

    void statusTexts()
    {
        QCOMPARE(KeyStatus::problem(QStringLiteral("充值")).text(), QStringLiteral("\u26A0\uFE0E 充值"));
        QCOMPARE(KeyStatus::unreachable(QStringLiteral("HTTP 500")).text(),
                 QStringLiteral("\u26A0\uFE0E 暂时无法验证（HTTP 500），已保存"));
        QCOMPARE(KeyStatus::unknown().text(), QString());
        QCOMPARE(KeyStatus::checking().text(), QStringLiteral("正在验证…"));
        QCOMPARE(KeyStatus::ok().text(), QStringLiteral("✓ 可用"));
        QCOMPARE(KeyStatus::invalid().text(), QStringLiteral("✗ 密钥无效，请检查是否复制完整"));
        QVERIFY(KeyStatus::problem("a") != KeyStatus::problem("b"));
        QVERIFY(KeyStatus::problem("a") != KeyStatus::unreachable("a"));
    }

    void statusFromAnswer_data()
    {
        QTest::addColumn<KeyProvider>("provider");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("text");
        const auto el = KeyProvider::elevenLabs;
        const auto ds = KeyProvider::deepSeek;
        QTest::newRow("299") << ds << 299 << "" << "✓ 可用";
        QTest::newRow("300") << ds << 300 << "" << "\u26A0\uFE0E 暂时无法验证（HTTP 300），已保存";
        QTest::newRow("403 PERMISSION el") << el << 403 << "NO PERMISSION" << "✓ 可用";
        QTest::newRow("401 permission el") << el << 401 << "permission" << "✓ 可用";
        QTest::newRow("403 el other") << el << 403 << "forbidden" << "✗ 密钥无效，请检查是否复制完整";
        QTest::newRow("403 permission ds") << ds << 403 << "permission" << "✗ 密钥无效，请检查是否复制完整";
        QTest::newRow("402") << el << 402 << "" << "\u26A0\uFE0E 账户余额不足，请先充值";
        QTest::newRow("199") << el << 199 << "" << "\u26A0\uFE0E 暂时无法验证（HTTP 199），已保存";
    }
    void statusFromAnswer()
    {
        QFETCH(KeyProvider, provider);
        QFETCH(int, code);
        QFETCH(QString, body);
        QFETCH(QString, text);
        QCOMPARE(KeyStatus::from(provider, code, body).text(), text);
    }

    void captionPartsLoad_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("parts"); // chinese english original traditional olderEnglish
        QTest::newRow("absent") << QString() << "11100";
        QTest::newRow("english off forces chinese") << "captionParts=false, false, true" << "10100";
        QTest::newRow("four flags") << "captionParts=false, true, false, true" << "01010";
        QTest::newRow("five flags") << "captionParts=true, true, false, true, true" << "11011";
        QTest::newRow("six flags") << "captionParts=true, true, false, true, true, false" << "11011";
        QTest::newRow("two flags") << "captionParts=false, true" << "11100";
        QTest::newRow("a number inside") << "captionParts=true, 1, true" << "11100";
        QTest::newRow("a text") << "captionParts=true" << "11100";
    }
    void captionPartsLoad()
    {
        QFETCH(QString, line);
        QFETCH(QString, parts);
        TemporarySettings settings;
        settings.writeText(line);
        const CaptionParts p = CaptionParts::load();
        QString got;
        for (bool b : {p.chinese, p.english, p.original, p.traditional, p.olderEnglish})
            got += b ? u'1' : u'0';
        QCOMPARE(got, parts);
    }

    void captionPartsRoundTrip()
    {
        TemporarySettings settings;
        const CaptionParts parts {false, true, false, true, true};
        CaptionParts::save(parts);
        QCOMPARE(CaptionParts::load(), parts);
        QVERIFY(settings.readText().contains(QStringLiteral("captionParts=false, true, false, true, true")));
    }

    void quotaSummary()
    {
        const auto q = ElevenLabsQuota::parse(
            R"({"character_count":1500,"character_limit":10000,"tier":"free"})");
        QVERIFY(q);
        QCOMPARE(q->summary(), QStringLiteral("剩 8,500 / 共 10,000 积分（free）"));
        QVERIFY(!BalanceInfo::quota(*q).warning());
        ElevenLabsQuota low = *q;
        low.used = 9500;
        QVERIFY(BalanceInfo::quota(low).warning());
        ElevenLabsQuota over = *q;
        over.used = 12000;
        QVERIFY(over.summary().startsWith(QStringLiteral("剩 0 / 共 10,000")));
        QVERIFY(BalanceInfo::quota(over).warning());
        ElevenLabsQuota none;
        QVERIFY(BalanceInfo::quota(none).warning());
        QVERIFY(!BalanceInfo::money(QStringLiteral("¥1")).warning());

        // The reset day in local time.
        const QDateTime reset = QDateTime(QDate(2026, 3, 5), QTime(12, 0), Qt::LocalTime);
        const QByteArray body = QStringLiteral(R"({"character_count":1,"character_limit":2,"next_character_count_reset_unix":%1})")
                                    .arg(reset.toSecsSinceEpoch()).toUtf8();
        const auto withReset = ElevenLabsQuota::parse(body);
        QVERIFY(withReset && withReset->resetAt);
        QCOMPARE(withReset->summary(), QStringLiteral("剩 1 / 共 2 积分 · 3月5日重置"));

        // A reset time past any calendar is no date; the counts still read.
        const auto farReset = ElevenLabsQuota::parse(
            R"({"character_count":15,"character_limit":100,"next_character_count_reset_unix":3.3e57})");
        QVERIFY(farReset);
        QVERIFY(!farReset->resetAt);
        QCOMPARE(farReset->summary(), QStringLiteral("剩 85 / 共 100 积分"));
        QCOMPARE(ElevenLabsQuota::number(12345), QStringLiteral("12,345"));
        QCOMPARE(ElevenLabsQuota::number(-1234), QStringLiteral("-1,234"));
    }

    void balanceEntries_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        QTest::newRow("two currencies")
            << QByteArray(R"({"balance_infos":[{"currency":"CNY","total_balance":"110.00"},{"currency":"USD","total_balance":5}]})")
            << "余额：¥110.00，$5.00";
        QTest::newRow("EUR") << QByteArray(R"({"balance_infos":[{"currency":"EUR","total_balance":"3"}]})")
                             << "余额：EUR 3";
        QTest::newRow("no currency") << QByteArray(R"({"balance_infos":[{"total_balance":"3"}]})")
                                     << "余额： 3";
        QTest::newRow("unreadable entry skipped")
            << QByteArray(R"({"balance_infos":[{"currency":"CNY","total_balance":null},{"currency":"USD","total_balance":"1"}]})")
            << "余额：$1";
        QTest::newRow("no entries") << QByteArray(R"({"balance_infos":[]})") << "-";
        QTest::newRow("not a list") << QByteArray(R"({"balance_infos":{}})") << "-";
        QTest::newRow("not JSON") << QByteArray("oops") << "-";
    }
    void balanceEntries()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        const auto info = BalanceInfo::deepSeek(body);
        QCOMPARE(info ? info->text() : QStringLiteral("-"), text);
    }

    void keyListOrder()
    {
        ElevenLabsKeys keys {{"A", "B", "C"}, 1};
        QCOMPARE(keys.next({"B"}), std::optional<int>(2));
        QCOMPARE(keys.next({"B", "C"}), std::optional<int>(0));
        QCOMPARE(keys.next({"A", "B", "C"}), std::nullopt);
        QCOMPARE(keys.next({}), std::optional<int>(2));
        QCOMPARE(ElevenLabsKeys().next({}), std::nullopt);
        ElevenLabsKeys one {{"A"}, 0};
        QCOMPARE(one.next({}), std::optional<int>(0));
        QCOMPARE(one.next({"A"}), std::nullopt);

        ElevenLabsKeys list {{"A"}, 0};
        QCOMPARE(list.add(QStringLiteral("  A\n")), std::optional<int>(0));
        QCOMPARE(list.keys, QStringList {"A"});
        QCOMPARE(list.add(QStringLiteral(" \t\n")), std::nullopt);
        QCOMPARE(list.add(QStringLiteral(" B ")), std::optional<int>(1));
        QCOMPARE(list.keys, (QStringList {"A", "B"}));
        QCOMPARE(list.active, 0);
    }

    void keyListDecode_data()
    {
        QTest::addColumn<QString>("stored"); // "<none>" for nothing stored
        QTest::addColumn<QStringList>("keys");
        QTest::newRow("nothing") << "<none>" << QStringList();
        QTest::newRow("empty texts dropped") << R"(["A","","B"])" << QStringList {"A", "B"};
        QTest::newRow("not JSON") << "A,B" << QStringList();
        QTest::newRow("an object") << R"({"a":"b"})" << QStringList();
        QTest::newRow("a number inside") << R"(["A",1])" << QStringList();
    }
    void keyListDecode()
    {
        QFETCH(QString, stored);
        QFETCH(QStringList, keys);
        const std::optional<QString> text =
            stored == QLatin1String("<none>") ? std::nullopt : std::optional<QString>(stored);
        QCOMPARE(ElevenLabsKeys::decode(text), keys);
        QCOMPARE(ElevenLabsKeys::encode({"A", "B"}), QStringLiteral(R"(["A","B"])"));
    }
};

DODEDAROV_TEST(KeyValuesTest)
#include "KeyValuesTest.moc"
