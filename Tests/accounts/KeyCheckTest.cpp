#include "TestMain.h"

#include "fakes/FakeAccountServer.h"
#include "fakes/TlsServiceServer.h"
#include "accounts/KeyCheck.h"
#include "translation/DeepSeekTransport.h"

#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

Q_DECLARE_METATYPE(KeyProvider)

namespace {

QString statusName(const KeyStatus &s)
{
    switch (s.kind) {
    case KeyStatus::Kind::problem: return QStringLiteral("problem:") + s.message;
    case KeyStatus::Kind::unreachable: return QStringLiteral("unreachable:") + s.message;
    case KeyStatus::Kind::unknown: return QStringLiteral("unknown");
    case KeyStatus::Kind::checking: return QStringLiteral("checking");
    case KeyStatus::Kind::ok: return QStringLiteral("ok");
    case KeyStatus::Kind::invalid: return QStringLiteral("invalid");
    }
    return {};
}

} // namespace

// The key checks and balance queries against a loopback stand-in of both services' account
// endpoints: the paths and key headers sent, and what each scripted answer becomes.
class KeyCheckTest final : public QObject {
    Q_OBJECT

    FakeAccountServer *m_server = nullptr;
    QUrl m_elevenLabs;
    QUrl m_deepSeek;
    double m_timeout = 0;

    std::optional<KeyStatus> runCheck(KeyProvider provider, const QString &key = "test-key")
    {
        std::optional<KeyStatus> result;
        int calls = 0;
        KeyCheck::check(provider, key, [&](const KeyStatus &status) {
            result = status;
            ++calls;
        });
        [&] { QTRY_VERIFY_WITH_TIMEOUT(calls > 0, 20000); }();
        QCoreApplication::processEvents();
        if (calls != 1)
            return std::nullopt;
        return result;
    }

    std::optional<std::optional<BalanceInfo>> runBalance(KeyProvider provider)
    {
        std::optional<std::optional<BalanceInfo>> result;
        KeyCheck::balance(provider, QStringLiteral("test-key"),
                          [&](const std::optional<BalanceInfo> &info) { result = info; });
        [&] { QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 20000); }();
        return result;
    }

private slots:
    void init()
    {
        m_server = new FakeAccountServer(this);
        QVERIFY(m_server->listen());
        m_elevenLabs = KeyCheck::elevenLabsAddress;
        m_deepSeek = DeepSeekTransport::baseAddress;
        m_timeout = KeyCheck::timeoutInterval;
        KeyCheck::elevenLabsAddress = m_server->baseUrl();
        DeepSeekTransport::baseAddress = m_server->baseUrl();
    }
    void cleanup()
    {
        KeyCheck::elevenLabsAddress = m_elevenLabs;
        DeepSeekTransport::baseAddress = m_deepSeek;
        KeyCheck::timeoutInterval = m_timeout;
        delete m_server;
        m_server = nullptr;
    }

    void productionAddresses()
    {
        QCOMPARE(m_elevenLabs, QUrl(QStringLiteral("https://api.elevenlabs.io")));
        QCOMPARE(m_deepSeek, QUrl(QStringLiteral("https://api.deepseek.com")));
    }

    void answers_data()
    {
        QTest::addColumn<KeyProvider>("provider");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        const auto el = KeyProvider::elevenLabs;
        const auto ds = KeyProvider::deepSeek;
        QTest::newRow("el 200") << el << 200 << QByteArray("{}") << "ok";
        QTest::newRow("ds 200") << ds << 200 << QByteArray("{}") << "ok";
        QTest::newRow("el 401") << el << 401 << QByteArray("{\"detail\":\"bad key\"}") << "invalid";
        QTest::newRow("ds 401") << ds << 401 << QByteArray("{}") << "invalid";
        QTest::newRow("el 403 permission")
            << el << 403 << QByteArray("{\"detail\":{\"status\":\"missing_Permission\"}}") << "ok";
        QTest::newRow("ds 403 permission")
            << ds << 403 << QByteArray("{\"detail\":\"missing permission\"}") << "invalid";
        QTest::newRow("402") << ds << 402 << QByteArray("{}") << "problem:账户余额不足，请先充值";
        QTest::newRow("429") << el << 429 << QByteArray("{}") << "ok";
        QTest::newRow("500") << ds << 500 << QByteArray("{}") << "unreachable:HTTP 500";
        // "permission" early, then Chinese text cut by the 2,000-byte limit inside a character:
        // after the 27-byte prefix, three-byte characters end 2,001 bytes in.
        QByteArray cut = "{\"detail\":\"needs permission";
        QCOMPARE(cut.size(), 27);
        while (cut.size() < 1999)
            cut += "中";
        cut += "\"}";
        QVERIFY(QString::fromUtf8(cut.left(qsizetype(KeyCheck::bodyLimit))).endsWith(QChar::ReplacementCharacter));
        QTest::newRow("403 cut inside a character") << el << 403 << cut << "ok";
    }
    void answers()
    {
        QFETCH(KeyProvider, provider);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        const QByteArray path = provider == KeyProvider::elevenLabs ? "/v1/models" : "/models";
        m_server->script(path, {status, body, false});
        const std::optional<KeyStatus> result = runCheck(provider);
        QVERIFY(result);
        QCOMPARE(statusName(*result), expected);
        QCOMPARE(m_server->requests().size(), 1);
        const FakeAccountServer::Request &request = m_server->requests().first();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.path, path);
        QVERIFY(request.keyHeaderRight);
    }

    // Both services offer HTTP/2; Qt's HTTP/2 writer would hold each request for the server's
    // delayed ACK, so the checks stay on HTTP/1.1.
    void staysOnHttp1WhereHttp2IsOffered_data()
    {
        QTest::addColumn<KeyProvider>("provider");
        QTest::newRow("ElevenLabs") << KeyProvider::elevenLabs;
        QTest::newRow("DeepSeek") << KeyProvider::deepSeek;
    }
    void staysOnHttp1WhereHttp2IsOffered()
    {
        QFETCH(KeyProvider, provider);
        TlsServiceServer::trustCertificate();
        TlsServiceServer server;
        server.answer = {200, "application/json", "{}", false};
        QVERIFY(server.listen(true));
        KeyCheck::elevenLabsAddress = server.baseUrl();
        DeepSeekTransport::baseAddress = server.baseUrl();
        const std::optional<KeyStatus> result = runCheck(provider);
        QCOMPARE(server.protocols, QList<QByteArray>({QByteArray(QSslConfiguration::NextProtocolHttp1_1)}));
        QVERIFY(result);
        QCOMPARE(statusName(*result), QStringLiteral("ok"));
    }

    void cutBodyDecodesLeniently()
    {
        // Byte 2,000 falls in the middle of a three-byte character.
        QByteArray body = "permission";
        while (body.size() < 2001)
            body += "中";
        QVERIFY(body.size() >= 2001);
        const QString decoded = QString::fromUtf8(body.left(KeyCheck::bodyLimit));
        QVERIFY(decoded.startsWith(QStringLiteral("permission")));
        QCOMPARE(KeyStatus::from(KeyProvider::elevenLabs, 403, decoded), KeyStatus::ok());
    }

    void stallTimesOut()
    {
        KeyCheck::timeoutInterval = 0.3;
        m_server->script("/models", {200, "{}", true});
        const std::optional<KeyStatus> result = runCheck(KeyProvider::deepSeek);
        QVERIFY(result);
        QCOMPARE(statusName(*result), QStringLiteral("unreachable:网络不通"));
    }

    void closedPort()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 port = probe.serverPort();
        probe.close();
        KeyCheck::elevenLabsAddress = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
        const std::optional<KeyStatus> result = runCheck(KeyProvider::elevenLabs);
        QVERIFY(result);
        QCOMPARE(statusName(*result), QStringLiteral("unreachable:网络不通"));
    }

    void balances_data()
    {
        QTest::addColumn<KeyProvider>("provider");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected"); // "-" for none
        const auto el = KeyProvider::elevenLabs;
        const auto ds = KeyProvider::deepSeek;
        QTest::newRow("quota") << el << 200
                               << QByteArray(R"({"character_count":1500,"character_limit":10000,"tier":"free"})")
                               << "剩 8,500 / 共 10,000 积分（free）";
        QTest::newRow("quota malformed") << el << 200 << QByteArray("{\"character_count\":") << "-";
        QTest::newRow("quota not integers")
            << el << 200 << QByteArray(R"({"character_count":"1","character_limit":2})") << "-";
        QTest::newRow("quota 401") << el << 401 << QByteArray("{}")
                                   << "这个密钥没有读取额度的权限（在 ElevenLabs 后台给它加上读取用户信息的权限就能显示）";
        QTest::newRow("quota 500") << el << 500 << QByteArray("{}") << "-";
        QTest::newRow("balance")
            << ds << 200
            << QByteArray(R"({"balance_infos":[{"currency":"CNY","total_balance":"110.00"},{"currency":"USD","total_balance":5}]})")
            << "余额：¥110.00，$5.00";
        QTest::newRow("balance malformed") << ds << 200 << QByteArray("[1]") << "-";
        QTest::newRow("balance 401") << ds << 401 << QByteArray("{}") << "-";
    }
    void balances()
    {
        QFETCH(KeyProvider, provider);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        const QByteArray path =
            provider == KeyProvider::elevenLabs ? "/v1/user/subscription" : "/user/balance";
        m_server->script(path, {status, body, false});
        const auto result = runBalance(provider);
        QVERIFY(result);
        QCOMPARE(*result ? (*result)->text() : QStringLiteral("-"), expected);
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(m_server->requests().first().path, path);
        QVERIFY(m_server->requests().first().keyHeaderRight);
    }

    // The key travels in its header only: a wrong one is refused by the fake, and no status
    // text ever carries it.
    void keyStaysInItsHeader()
    {
        m_server->expectedKey = "sk-secret-1234567";
        m_server->script("/models", {500, "{}", false});
        const std::optional<KeyStatus> result = runCheck(KeyProvider::deepSeek, "sk-secret-1234567");
        QVERIFY(result);
        QVERIFY(!result->text().contains(QStringLiteral("sk-secret")));
        QVERIFY(m_server->requests().first().keyHeaderRight);
        QVERIFY(!m_server->requests().first().path.contains("secret"));
    }
};

DODEDAROV_TEST(KeyCheckTest)
#include "KeyCheckTest.moc"
