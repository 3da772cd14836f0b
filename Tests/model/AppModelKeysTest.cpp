#include "TestMain.h"

#include "common/SerialQueue.h"
#include "common/UserDefaults.h"
#include "fakes/FakeAccountServer.h"
#include "fakes/ModelRig.h"
#include "accounts/KeyCheck.h"
#include "translation/DeepSeekTransport.h"
#include "speech/ScribeClient.h"
#include "platform/Keychain.h"

#include <QMutex>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include <atomic>

namespace {

const QString listAccount = Keychain::elevenLabsListAccount;
const QString activeAccount = Keychain::elevenLabsAccount;
const QString deepSeekAccount = Keychain::deepSeekAccount;

// The key hooks, answered when the test says so; every call is written down.
struct Checks {
    struct Call {
        KeyProvider provider;
        QString key;
        std::function<void(const KeyStatus &)> done;
    };
    struct BalanceCall {
        KeyProvider provider;
        QString key;
        std::function<void(const std::optional<BalanceInfo> &)> done;
    };
    QList<Call> checks;
    QList<BalanceCall> balances;

    explicit Checks(ModelRig &rig)
    {
        rig.platform.checkKey = [this](KeyProvider p, const QString &k, std::function<void(const KeyStatus &)> d) {
            checks.append({p, k, std::move(d)});
        };
        rig.platform.fetchBalance = [this](KeyProvider p, const QString &k,
                                        std::function<void(const std::optional<BalanceInfo> &)> d) {
            balances.append({p, k, std::move(d)});
        };
    }
    QStringList checkedKeys() const
    {
        QStringList out;
        for (const Call &c : checks)
            out << c.key;
        return out;
    }
    QStringList balanceKeys() const
    {
        QStringList out;
        for (const BalanceCall &c : balances)
            out << c.key;
        return out;
    }
};

BalanceInfo quota(qint64 used)
{
    return BalanceInfo::quota({used, 10000, std::nullopt, QStringLiteral("free")});
}

// The fatal text the real recognition client reports when the service refuses its handshake.
QString handshakeRefusal(FakeScribeServer &server, FakeScribeServer::Mode mode)
{
    server.mode = mode;
    SerialQueue queue(QStringLiteral("test.scribe"));
    QMutex mutex;
    QString fatal;
    bool ended = false;
    ScribeClient *client = nullptr;
    queue.sync([&] {
        client = new ScribeClient(QStringLiteral("test-key"), true, false, {}, queue,
                                  [&](SpeechClient *, const SpeechEvent &event) {
                                      QMutexLocker lock(&mutex);
                                      if (event.kind == SpeechEvent::Kind::fatal)
                                          fatal = event.text;
                                      ended = ended || event.kind == SpeechEvent::Kind::fatal
                                          || event.kind == SpeechEvent::Kind::closed;
                                  });
    });
    const bool done = QTest::qWaitFor([&] {
        QMutexLocker lock(&mutex);
        return ended;
    }, 20000);
    Q_UNUSED(done);
    queue.sync([&] { delete client; });
    server.mode = FakeScribeServer::Mode::accept;
    QMutexLocker lock(&mutex);
    return fatal;
}

} // namespace

// The service keys against the real keyring: the recognition key list with its active copy,
// the translation key, checks and figures through the hooks, and the failover to the next key.
class AppModelKeysTest final : public QObject {
    Q_OBJECT

private slots:
    void addToAnEmptyList()
    {
        ModelRig rig;
        Checks hooks(rig);
        AppModel &model = rig.make();
        QVERIFY(!model.keys().hasElevenLabsKey());
        model.keys().addElevenLabsKey(QStringLiteral("  key-A\n"));
        QCOMPARE(model.keys().elevenLabsKeys(), (ElevenLabsKeys {{"key-A"}, 0}));
        QCOMPARE(ModelRig::storedKey(listAccount), std::optional<QString>(R"(["key-A"])"));
        QCOMPARE(ModelRig::storedKey(activeAccount), std::optional<QString>("key-A"));
        QCOMPARE(UserDefaults::integer(QStringLiteral("elevenLabsActive")), std::optional<qint64>(0));
        QVERIFY(model.keys().hasElevenLabsKey());
        QCOMPARE(hooks.checkedKeys(), QStringList {"key-A"});
        QCOMPARE(model.keys().keyStatus(KeyProvider::elevenLabs), KeyStatus::checking());
        QCOMPARE(hooks.balanceKeys(), QStringList {"key-A"});
        hooks.checks.first().done(KeyStatus::ok());
        QCOMPARE(model.keys().keyStatus(KeyProvider::elevenLabs), KeyStatus::ok());
        hooks.balances.first().done(quota(100));
        QCOMPARE(model.keys().elevenLabsQuotas().value("key-A"), quota(100));
        QCOMPARE(model.keys().balances().value(KeyProvider::elevenLabs), quota(100));

        // A second key is listed but not made active, and not checked; its quota is fetched.
        model.keys().addElevenLabsKey(QStringLiteral("key-B"));
        QCOMPARE(model.keys().elevenLabsKeys(), (ElevenLabsKeys {{"key-A", "key-B"}, 0}));
        QCOMPARE(hooks.checkedKeys(), QStringList {"key-A"});
        QCOMPARE(hooks.balanceKeys(), (QStringList {"key-A", "key-B"}));
        hooks.balances.last().done(quota(5));
        QCOMPARE(model.keys().balances().value(KeyProvider::elevenLabs), quota(100));

        // Listed already: nothing changes but its quota is refreshed; a blank changes nothing.
        model.keys().addElevenLabsKey(QStringLiteral(" key-B "));
        QCOMPARE(model.keys().elevenLabsKeys().keys.size(), 2);
        QCOMPARE(hooks.balanceKeys().size(), 3);
        model.keys().addElevenLabsKey(QStringLiteral(" \n "));
        QCOMPARE(hooks.balanceKeys().size(), 3);
        // No answer keeps the earlier figure.
        hooks.balances.last().done(std::nullopt);
        QCOMPARE(model.keys().elevenLabsQuotas().value("key-B"), quota(5));
    }

    // A quota query that ends without an answer leaves no figure and is no longer under way;
    // the key's next verification (here the failover's) asks again.
    void unansweredQuotaAskedAgainOnVerification()
    {
        ModelRig rig;
        Checks hooks(rig);
        AppModel &model = rig.make();
        model.keys().addElevenLabsKey(QStringLiteral("key-A"));
        model.keys().addElevenLabsKey(QStringLiteral("key-B"));
        QCOMPARE(hooks.balanceKeys(), (QStringList {"key-A", "key-B"}));
        QVERIFY(model.keys().queryingQuota("key-B"));
        hooks.balances[1].done(std::nullopt);
        QVERIFY(!model.keys().queryingQuota("key-B"));
        QVERIFY(!model.keys().elevenLabsQuotas().contains("key-B"));

        QVERIFY(model.keys().switchElevenLabsKey(QStringLiteral("ElevenLabs 密钥无效，请在设置里重新填写。")));
        QCOMPARE(model.keys().elevenLabsKeys().active, 1);
        QCOMPARE(hooks.checkedKeys(), (QStringList {"key-A", "key-B"}));
        QCOMPARE(hooks.balanceKeys(), (QStringList {"key-A", "key-B", "key-B"}));
        QVERIFY(model.keys().queryingQuota("key-B"));
        hooks.balances[2].done(quota(100));
        QCOMPARE(model.keys().elevenLabsQuotas().value("key-B"), quota(100));
        QVERIFY(!model.keys().queryingQuota("key-B"));
    }

    void removeKeys()
    {
        ModelRig rig;
        Checks hooks(rig);
        AppModel &model = rig.make();
        for (const char *key : {"A", "B", "C"})
            model.keys().addElevenLabsKey(QString::fromLatin1(key));
        model.keys().useElevenLabsKey(1);
        QCOMPARE(ModelRig::storedKey(activeAccount), std::optional<QString>("B"));

        // The key before the active one: the same key stays active.
        model.keys().removeElevenLabsKey(0);
        QCOMPARE(model.keys().elevenLabsKeys(), (ElevenLabsKeys {{"B", "C"}, 0}));
        QCOMPARE(ModelRig::storedKey(activeAccount), std::optional<QString>("B"));
        QCOMPARE(UserDefaults::integer(QStringLiteral("elevenLabsActive")), std::optional<qint64>(0));

        // The active last key: the new last key.
        model.keys().useElevenLabsKey(1);
        model.keys().removeElevenLabsKey(1);
        QCOMPARE(model.keys().elevenLabsKeys(), (ElevenLabsKeys {{"B"}, 0}));
        QCOMPARE(ModelRig::storedKey(activeAccount), std::optional<QString>("B"));

        // Outside the list: nothing.
        model.keys().removeElevenLabsKey(5);
        model.keys().removeElevenLabsKey(-1);
        QCOMPARE(model.keys().elevenLabsKeys(), (ElevenLabsKeys {{"B"}, 0}));

        // The only key, through an empty key row.
        QVERIFY(model.keys().keyStatus().contains(KeyProvider::elevenLabs));
        model.keys().saveKey(KeyProvider::elevenLabs, QStringLiteral("  "));
        QCOMPARE(model.keys().elevenLabsKeys(), (ElevenLabsKeys {{}, 0}));
        QCOMPARE(ModelRig::storedKey(activeAccount), std::nullopt);
        QCOMPARE(ModelRig::storedKey(listAccount), std::optional<QString>("[]"));
        QVERIFY(!model.keys().hasElevenLabsKey());
        QVERIFY(!model.keys().keyStatus().contains(KeyProvider::elevenLabs));
        QCOMPARE(model.keys().maskedKey(KeyProvider::elevenLabs), std::nullopt);
    }

    void failoverThroughTheList_data()
    {
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("switches");
        QTest::newRow("quota") << "ElevenLabs 额度已用完。" << true;
        QTest::newRow("invalid key") << "ElevenLabs 密钥无效，请在设置里重新填写。" << true;
        QTest::newRow("handshake 401") << "<401>" << true;
        QTest::newRow("handshake 403") << "<403>" << true;
        QTest::newRow("network") << "ElevenLabs 连接失败：网络不通" << false;
        QTest::newRow("another service") << "DeepSeek 额度已用完。" << false;
    }
    void failoverThroughTheList()
    {
        QFETCH(QString, reason);
        QFETCH(bool, switches);
        ModelRig rig;
        if (reason == QLatin1String("<401>"))
            reason = handshakeRefusal(rig.scribe, FakeScribeServer::Mode::refuse401);
        else if (reason == QLatin1String("<403>"))
            reason = handshakeRefusal(rig.scribe, FakeScribeServer::Mode::refuse403);
        QVERIFY2(reason.startsWith(QStringLiteral("ElevenLabs")) || reason.startsWith(QStringLiteral("DeepSeek")),
                 qPrintable(reason));
        Checks hooks(rig);
        AppModel &model = rig.make();
        for (const char *key : {"A", "B", "C"})
            model.keys().addElevenLabsKey(QString::fromLatin1(key));
        hooks.checks.clear();

        if (!switches) {
            QVERIFY(!model.keys().switchElevenLabsKey(reason));
            QCOMPARE(model.keys().elevenLabsKeys().active, 0);
            QVERIFY(model.keys().exhaustedElevenLabs().isEmpty());
            QVERIFY(hooks.checks.isEmpty());
            return;
        }
        const QStringList order {"B", "C"};
        for (int step = 0; step < order.size(); ++step) {
            QVERIFY(model.keys().switchElevenLabsKey(reason));
            QCOMPARE(model.keys().elevenLabsKeys().active, step + 1);
            QCOMPARE(ModelRig::storedKey(activeAccount), std::optional<QString>(order[step]));
            QCOMPARE(UserDefaults::integer(QStringLiteral("elevenLabsActive")),
                     std::optional<qint64>(step + 1));
            QCOMPARE(hooks.checkedKeys().last(), order[step]);
        }
        // Every key has failed: no switch, C stays.
        QVERIFY(!model.keys().switchElevenLabsKey(reason));
        QCOMPARE(model.keys().elevenLabsKeys().active, 2);
        QCOMPARE(ModelRig::storedKey(activeAccount), std::optional<QString>("C"));
        QCOMPARE(hooks.checks.size(), 2);

        // Adding a failed key again takes it out of the failed set: C fails over to B.
        model.keys().addElevenLabsKey(QStringLiteral("B"));
        QVERIFY(model.keys().switchElevenLabsKey(reason));
        QCOMPARE(model.keys().elevenLabsKeys().active, 1);
    }

    // A key chosen while listening reaches the engine: the open connection closes at the next
    // quiet moment and the next one sends the new key. While paused the engine keeps its key.
    void chosenKeyReachesTheListeningEngine()
    {
        ModelRig rig;
        Checks hooks(rig);
        AppModel &model = rig.make();
        model.keys().addElevenLabsKey(QStringLiteral("key-A"));
        model.keys().addElevenLabsKey(QStringLiteral("key-B"));
        rig.scribe.expectedKey = "key-A";
        QVERIFY(rig.startEngine());
        model.setRunningState(true);
        rig.connectEngineNow();
        QTRY_COMPARE_WITH_TIMEOUT(rig.scribe.connections().size(), 1, 20000);

        rig.scribe.expectedKey = "key-B";
        model.keys().useElevenLabsKey(1);
        rig.engineTick();
        QVERIFY(!rig.engineConnected());
        rig.connectEngineNow();
        QTRY_COMPARE_WITH_TIMEOUT(rig.scribe.connections().size(), 2, 20000);
        QCOMPARE(rig.scribe.last().apiKey, QByteArray("key-B"));

        model.setRunningState(false);
        model.keys().useElevenLabsKey(0);
        rig.engineTick();
        QVERIFY(rig.engineConnected());
        QCOMPARE(rig.scribe.connections().size(), 2);
    }

    void singleKeyDoesNotSwitch()
    {
        ModelRig rig;
        Checks hooks(rig);
        AppModel &model = rig.make();
        model.keys().addElevenLabsKey(QStringLiteral("A"));
        QVERIFY(!model.keys().switchElevenLabsKey(QStringLiteral("ElevenLabs 密钥无效，请在设置里重新填写。")));
        QCOMPARE(model.keys().elevenLabsKeys(), (ElevenLabsKeys {{"A"}, 0}));
    }

    void switchNotice_data()
    {
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("notice");
        QTest::newRow("quota") << "ElevenLabs 额度已用完。" << 1 << "上一个 ElevenLabs 密钥额度用完了，已换用第 2 个";
        QTest::newRow("invalid") << "ElevenLabs 密钥无效，请在设置里重新填写。" << 2
                                 << "上一个 ElevenLabs 密钥无效，已换用第 3 个";
        QTest::newRow("handshake") << "ElevenLabs 拒绝了连接（HTTP 401），请检查密钥。" << 0
                                   << "上一个 ElevenLabs 密钥无效，已换用第 1 个";
    }
    void switchNotice()
    {
        QFETCH(QString, reason);
        QFETCH(int, index);
        QFETCH(QString, notice);
        QCOMPARE(ServiceKeys::keySwitchNotice(reason, index), notice);
    }

    void loadingTheList_data()
    {
        QTest::addColumn<QString>("list");    // "<none>" when absent
        QTest::addColumn<QString>("active");  // the active copy, "<none>" when absent
        QTest::addColumn<QString>("index");   // settings line value, "" when absent
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<int>("expectedActive");
        QTest::addColumn<QString>("activeAfter");
        QTest::addColumn<QString>("listAfter");
        QTest::newRow("a lone active key") << "<none>" << "K" << "" << QStringList {"K"} << 0 << "K" << R"(["K"])";
        QTest::newRow("nothing") << "<none>" << "<none>" << "" << QStringList {} << 0 << "<none>" << "<none>";
        QTest::newRow("clamped high") << R"(["A","B"])" << "A" << "7" << QStringList {"A", "B"} << 1 << "B" << R"(["A","B"])";
        QTest::newRow("clamped low") << R"(["A","B"])" << "B" << "-3" << QStringList {"A", "B"} << 0 << "A" << R"(["A","B"])";
        QTest::newRow("index as text") << R"(["A","B"])" << "<none>" << "abc" << QStringList {"A", "B"} << 0 << "A" << R"(["A","B"])";
        QTest::newRow("not an array") << R"({"a":1})" << "K" << "" << QStringList {"K"} << 0 << "K" << R"(["K"])";
        QTest::newRow("a number inside") << R"(["A",2])" << "<none>" << "" << QStringList {} << 0 << "<none>" << R"(["A",2])";
    }
    void loadingTheList()
    {
        QFETCH(QString, list);
        QFETCH(QString, active);
        QFETCH(QString, index);
        QFETCH(QStringList, keys);
        QFETCH(int, expectedActive);
        QFETCH(QString, activeAfter);
        QFETCH(QString, listAfter);
        ModelRig rig;
        if (list != QLatin1String("<none>"))
            ModelRig::storeKey(listAccount, list);
        if (active != QLatin1String("<none>"))
            ModelRig::storeKey(activeAccount, active);
        if (!index.isEmpty())
            rig.settings.writeText(QStringLiteral("elevenLabsActive=") + index);
        const QString before = rig.settings.readText();
        AppModel &model = rig.make();
        QCOMPARE(model.keys().elevenLabsKeys(), (ElevenLabsKeys {keys, expectedActive}));
        QCOMPARE(ModelRig::storedKey(activeAccount).value_or("<none>"), activeAfter);
        QCOMPARE(ModelRig::storedKey(listAccount).value_or("<none>"), listAfter);
        QCOMPARE(model.keys().hasElevenLabsKey(), activeAfter != QLatin1String("<none>"));
        // Loading never writes the index.
        QCOMPARE(rig.settings.readText().contains(QStringLiteral("elevenLabsActive")), !index.isEmpty());
        Q_UNUSED(before);
    }

    // The active copy is written only when it differs from the listed key.
    void loadingWritesOnlyWhatDiffers()
    {
        ModelRig rig;
        ModelRig::storeKey(listAccount, R"(["A","B"])");
        ModelRig::storeKey(activeAccount, QStringLiteral("A"));
        int writes = 0;
        const auto realWrite = Keychain::writeItem;
        Keychain::writeItem = [&](const QString &s, const QString &a, const QByteArray &d) {
            ++writes;
            return realWrite(s, a, d);
        };
        rig.make();
        QCOMPARE(writes, 0);
        Keychain::writeItem = realWrite;
    }

    void maskedKeys_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("masked");
        QTest::newRow("4") << "abcd" << "••••";
        QTest::newRow("1") << "a" << "••••";
        QTest::newRow("7") << "abcdefg" << "•••••••";
        QTest::newRow("10") << "abcdefghij" << "••••••••••";
        QTest::newRow("11") << "abcdefghijk" << "abc…hijk";
        QTest::newRow("12") << "sk-123456789" << "sk-…6789";
    }
    void maskedKeys()
    {
        QFETCH(QString, key);
        QFETCH(QString, masked);
        ModelRig rig;
        Checks hooks(rig);
        AppModel &model = rig.make();
        model.keys().saveKey(KeyProvider::deepSeek, key);
        QCOMPARE(model.keys().maskedKey(KeyProvider::deepSeek), std::optional<QString>(masked));
        model.keys().addElevenLabsKey(key);
        QCOMPARE(model.keys().maskedKey(KeyProvider::elevenLabs), std::optional<QString>(masked));
    }

    void translationKey()
    {
        ModelRig rig;
        Checks hooks(rig);
        AppModel &model = rig.make();
        QSignalSpy has(&model.keys(), &ServiceKeys::hasTranslationKeyChanged);
        model.keys().saveKey(KeyProvider::deepSeek, QStringLiteral(" sk-first-key \n"));
        QCOMPARE(ModelRig::storedKey(deepSeekAccount), std::optional<QString>("sk-first-key"));
        QVERIFY(model.keys().hasDeepSeekKey() && model.keys().hasTranslationKey());
        QCOMPARE(has.count(), 1);
        QCOMPARE(hooks.checkedKeys(), QStringList {"sk-first-key"});
        QCOMPARE(hooks.balanceKeys(), QStringList {"sk-first-key"});

        // Replaced while the check ran: the late answer is dropped, the new one applies.
        model.keys().saveKey(KeyProvider::deepSeek, QStringLiteral("sk-second-key"));
        hooks.checks[0].done(KeyStatus::invalid());
        QCOMPARE(model.keys().keyStatus(KeyProvider::deepSeek), KeyStatus::checking());
        hooks.checks[1].done(KeyStatus::ok());
        QCOMPARE(model.keys().keyStatus(KeyProvider::deepSeek), KeyStatus::ok());
        hooks.balances[1].done(BalanceInfo::money(QStringLiteral("¥3")));
        QCOMPARE(model.keys().balances().value(KeyProvider::deepSeek), BalanceInfo::money(QStringLiteral("¥3")));
        // A late answer for the key that was replaced changes nothing.
        hooks.balances[0].done(std::nullopt);
        QCOMPARE(model.keys().balances().value(KeyProvider::deepSeek), BalanceInfo::money(QStringLiteral("¥3")));
        // A replacing key whose query has no answer (say, refused) shows no balance, not the
        // one of the key it replaced.
        model.keys().saveKey(KeyProvider::deepSeek, QStringLiteral("sk-third-key"));
        QCOMPARE(hooks.balanceKeys().last(), QStringLiteral("sk-third-key"));
        hooks.balances.last().done(std::nullopt);
        QVERIFY(!model.keys().balances().contains(KeyProvider::deepSeek));

        // An empty row clears the key, its status and its balance.
        model.keys().saveKey(KeyProvider::deepSeek, QStringLiteral("   "));
        QCOMPARE(ModelRig::storedKey(deepSeekAccount), std::nullopt);
        QVERIFY(!model.keys().hasDeepSeekKey() && !model.keys().hasTranslationKey());
        QVERIFY(!model.keys().keyStatus().contains(KeyProvider::deepSeek));
        QVERIFY(!model.keys().balances().contains(KeyProvider::deepSeek));
    }

    // The application's model reads its keys on request and waits for nobody: until the keyring
    // answers it knows no keys, and when it does the flags and the list follow, also where the
    // keyring cannot answer (then as a keyring without keys).
    void keysReadOnRequest_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("answers");
        QTest::newRow("keys stored") << true << true;
        QTest::newRow("no keys") << false << true;
        QTest::newRow("keyring cannot answer") << true << false;
    }
    void keysReadOnRequest()
    {
        QFETCH(bool, stored);
        QFETCH(bool, answers);
        ModelRig rig;
        Checks hooks(rig);
        if (stored) {
            ModelRig::storeKey(listAccount, R"(["el-a","el-b"])");
            ModelRig::storeKey(activeAccount, QStringLiteral("el-a"));
            ModelRig::storeKey(deepSeekAccount, QStringLiteral("sk-key"));
        }
        // As at a launch: the keys are in the keyring, not yet in the cache.
        for (const QString &account : {listAccount, activeAccount, deepSeekAccount})
            Keychain::forget(account);
        auto gate = std::make_shared<QSemaphore>();
        const auto realRead = Keychain::readItem;
        const auto readerBack = qScopeGuard([realRead] {
            Keychain::readItem = realRead;
            Keychain::userActedOnKeys(); // a keyring that could not answer may be asked again
        });
        // The keyring's first answer is slow: it comes when the test lets it. A model that waited
        // for it would wait for as long as the keyring may take to prompt; the keyring answers
        // after a while anyway, so that such a model fails the test instead of hanging it.
        auto heldUp = std::make_shared<std::atomic_bool>(false);
        Keychain::readItem = [gate, answers, realRead, heldUp](const QString &service, const QString &account) {
            if (!gate->tryAcquire(1, 5000))
                heldUp->store(true);
            gate->release();
            return answers ? realRead(service, account) : SecretStore::Reading {};
        };

        AppModel &model = rig.make(AppModel::KeyReading::onRequest);
        QSignalSpy known(&model.keys(), &ServiceKeys::keysKnownChanged);
        QSignalSpy recognition(&model.keys(), &ServiceKeys::hasElevenLabsKeyChanged);
        QVERIFY(!model.keys().keysKnown());
        model.keys().readStoredKeys();
        QVERIFY2(!heldUp->load(), "readStoredKeys() waited for the keyring's answer");
        // Returned with the keyring still held: nothing waited for it.
        QVERIFY(!model.keys().keysKnown());
        QVERIFY(!model.keys().hasElevenLabsKey() && !model.keys().hasDeepSeekKey() && !model.keys().hasTranslationKey());
        QVERIFY(model.keys().elevenLabsKeys().keys.isEmpty());
        QVERIFY(Keychain::waiting(deepSeekAccount));

        gate->release();
        QTRY_VERIFY(model.keys().keysKnown());
        QCOMPARE(known.count(), 1);
        QVERIFY(!recognition.isEmpty());
        const bool has = stored && answers;
        QCOMPARE(model.keys().hasElevenLabsKey(), has);
        QCOMPARE(model.keys().hasDeepSeekKey(), has);
        QCOMPARE(model.keys().hasTranslationKey(), has);
        QCOMPARE(model.keys().elevenLabsKeys(),
                 has ? (ElevenLabsKeys {{"el-a", "el-b"}, 0}) : ElevenLabsKeys {});
        // Asked again later, the keys come from the cache at once.
        if (answers) {
            model.keys().readStoredKeys();
            QVERIFY(model.keys().keysKnown());
            QCOMPARE(model.keys().hasElevenLabsKey(), has);
        }
    }

    void checkSavedKeysOncePerProvider()
    {
        ModelRig rig;
        ModelRig::storeKey(activeAccount, QStringLiteral("el-key"));
        ModelRig::storeKey(deepSeekAccount, QStringLiteral("ds-key"));
        Checks hooks(rig);
        AppModel &model = rig.make();
        QVERIFY(model.keys().hasElevenLabsKey() && model.keys().hasDeepSeekKey());
        model.keys().checkSavedKeys();
        QCOMPARE(hooks.checkedKeys(), (QStringList {"el-key", "ds-key"}));
        QCOMPARE(hooks.checks[0].provider, KeyProvider::elevenLabs);
        QCOMPARE(hooks.balanceKeys(), (QStringList {"el-key", "ds-key"}));
        hooks.checks[0].done(KeyStatus::invalid());
        hooks.checks[1].done(KeyStatus::unreachable(QStringLiteral("网络不通")));
        QCOMPARE(model.keys().keyStatus(KeyProvider::elevenLabs), KeyStatus::invalid());
        hooks.balances[1].done(std::nullopt);
        QVERIFY(!model.keys().balances().contains(KeyProvider::deepSeek));

        // Opening the settings again refreshes the figures but checks no key twice.
        model.keys().checkSavedKeys();
        QCOMPARE(hooks.checks.size(), 2);
        QCOMPARE(hooks.balances.size(), 4);

        // Without a stored translation key its figure goes at once.
        hooks.balances[3].done(BalanceInfo::money("¥1"));
        ModelRig::storeKey(deepSeekAccount, QString());
        model.keys().checkSavedKeys();
        QVERIFY(!model.keys().balances().contains(KeyProvider::deepSeek));
    }

    // A keyring that refuses a write: the row says so, no check or figure hides it, and what
    // the model shows is what the keyring holds.
    void refusedKeyringWrite()
    {
        ModelRig rig;
        Checks hooks(rig);
        AppModel &model = rig.make();
        const auto realWrite = Keychain::writeItem;
        Keychain::writeItem = [](const QString &, const QString &, const QByteArray &) { return false; };
        const KeyStatus refused =
            KeyStatus::problem(QStringLiteral("没能存进密钥环，请确认密钥环已解锁后再保存"));

        model.keys().addElevenLabsKey(QStringLiteral("el-key-12345"));
        QCOMPARE(model.keys().keyStatus(KeyProvider::elevenLabs), refused);
        QVERIFY(hooks.checks.isEmpty());
        QVERIFY(hooks.balances.isEmpty());
        QVERIFY(!model.keys().hasElevenLabsKey());
        QCOMPARE(model.keys().maskedKey(KeyProvider::elevenLabs), std::nullopt);

        model.keys().saveKey(KeyProvider::deepSeek, QStringLiteral("sk-key-12345"));
        QCOMPARE(model.keys().keyStatus(KeyProvider::deepSeek), refused);
        QVERIFY(hooks.checks.isEmpty());
        QVERIFY(!model.keys().hasDeepSeekKey());
        Keychain::writeItem = realWrite;
    }

    void failoverWhoseStoreFails()
    {
        ModelRig rig;
        Checks hooks(rig);
        AppModel &model = rig.make();
        model.keys().addElevenLabsKey(QStringLiteral("A"));
        model.keys().addElevenLabsKey(QStringLiteral("B"));
        hooks.checks.clear();
        const auto realWrite = Keychain::writeItem;
        Keychain::writeItem = [](const QString &, const QString &, const QByteArray &) { return false; };
        QVERIFY(!model.keys().switchElevenLabsKey(QStringLiteral("ElevenLabs 额度已用完。")));
        Keychain::writeItem = realWrite;
        QCOMPARE(ModelRig::storedKey(activeAccount), std::optional<QString>("A"));
        QVERIFY(hooks.checks.isEmpty());
        QCOMPARE(model.keys().keyStatus(KeyProvider::elevenLabs).kind, KeyStatus::Kind::problem);
    }

    // The real checks behind the hooks, against the account endpoints' stand-in.
    void realChecksThroughTheHooks()
    {
        ModelRig rig;
        FakeAccountServer accounts;
        QVERIFY(accounts.listen());
        accounts.expectedKey = "sk-real-check";
        DeepSeekTransport::baseAddress = accounts.baseUrl();
        KeyCheck::elevenLabsAddress = accounts.baseUrl();
        rig.platform.checkKey = &KeyCheck::check;
        rig.platform.fetchBalance = &KeyCheck::balance;
        accounts.script("/models", {402, "{}", false});
        accounts.script("/user/balance",
                        {200, R"({"balance_infos":[{"currency":"CNY","total_balance":"1.50"}]})", false});
        accounts.script("/v1/models", {403, R"({"detail":{"status":"missing_permissions"}})", false});
        accounts.script("/v1/user/subscription", {401, "{}", false});
        AppModel &model = rig.make();

        model.keys().saveKey(KeyProvider::deepSeek, QStringLiteral("sk-real-check"));
        model.keys().addElevenLabsKey(QStringLiteral("sk-real-check"));
        QTRY_COMPARE_WITH_TIMEOUT(model.keys().keyStatus(KeyProvider::deepSeek),
                                  KeyStatus::problem(QStringLiteral("账户余额不足，请先充值")), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(model.keys().keyStatus(KeyProvider::elevenLabs), KeyStatus::ok(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(model.keys().balances().value(KeyProvider::deepSeek).text(),
                                  QStringLiteral("余额：¥1.50"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(model.keys().elevenLabsQuotas().contains(QStringLiteral("sk-real-check")), 20000);
        QCOMPARE(model.keys().elevenLabsQuotas().value(QStringLiteral("sk-real-check")).kind,
                 BalanceInfo::Kind::unavailable);
        for (const FakeAccountServer::Request &request : accounts.requests())
            QVERIFY2(request.keyHeaderRight, request.path.constData());
        QCOMPARE(accounts.requests().size(), 4);
    }

    void answersAfterTheModelIsGone()
    {
        ModelRig rig;
        Checks hooks(rig);
        rig.make().keys().addElevenLabsKey(QStringLiteral("A"));
        rig.destroyModel();
        hooks.checks.first().done(KeyStatus::ok());
        hooks.balances.first().done(quota(1));
    }
};

DODEDAROV_TEST(AppModelKeysTest)
#include "AppModelKeysTest.moc"
