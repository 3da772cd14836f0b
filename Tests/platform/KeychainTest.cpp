// The key store against the real Secret Service of the test session (GNOME Keyring), with the
// store's read counted through its hook so cache hits can be told from keyring queries.
#include "TestMain.h"

#include "fakes/TestKeyring.h"
#include "platform/Keychain.h"

#include <QSemaphore>
#include <QThread>
#include <QUuid>

#include <atomic>
#include <future>

Q_DECLARE_METATYPE(SecretStore::Reading::Status)

namespace {

QString uniqueAccount()
{
    return QStringLiteral("test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace

class KeychainTest final : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void absentAccountIsAskedOnce();
    void storedValueReadsBackExactly_data();
    void storedValueReadsBackExactly();
    void emptyValueRemovesTheItem();
    void unusableItemReadsAsNoKey_data();
    void unusableItemReadsAsNoKey();
    void threeAccountsAreIndependent();
    void keyringThatCannotAnswerIsAskedAgain_data();
    void keyringThatCannotAnswerIsAskedAgain();
    void lockedKeyringIsNotCachedAsAbsent();
    void unansweredPromptKeepsTheMainThreadMoving_data();
    void unansweredPromptKeepsTheMainThreadMoving();
    void userPromptIsWaitedFor();
    void storedKeyAsksAgain();
    void failedWriteKeepsTheOldKey();
    void readOverlappingASetDoesNotUndoIt();
    void prefetchReadsAheadOnItsOwnThread();
    void prefetchStopsWhereTheKeyringCannotAnswer();

private:
    // Queries run on a thread of their own.
    std::atomic<int> m_reads = 0;
};

void KeychainTest::initTestCase()
{
    QVERIFY2(!TestKeyring::defaultCollection().isEmpty(), "the test session has no Secret Service");
}

void KeychainTest::init()
{
    // Each test starts from a keyring that may be asked; the main thread waits for answers as
    // long as any thread, except where a test is about that wait.
    Keychain::userActedOnKeys();
    Keychain::mainThreadWaitMs = 60000;
    m_reads = 0;
    Keychain::readItem = [this](const QString &service, const QString &account) {
        ++m_reads;
        return SecretStore::read(service, account);
    };
}

void KeychainTest::cleanup()
{
    Keychain::readItem = &SecretStore::read;
    Keychain::writeItem = &SecretStore::write;
    Keychain::removeItem = &SecretStore::remove;
    Keychain::mainThreadWaitMs = 2000;
    // A failed test must not leave the keyring locked for the next one.
    TestKeyring::unlock();
    Keychain::userActedOnKeys();
}

void KeychainTest::absentAccountIsAskedOnce()
{
    const QString account = uniqueAccount();
    QCOMPARE(Keychain::get(account), std::nullopt);
    QCOMPARE(m_reads.load(), 1);
    QCOMPARE(Keychain::get(account), std::nullopt);
    QCOMPARE(m_reads.load(), 1);
}

void KeychainTest::storedValueReadsBackExactly_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("plain key") << QStringLiteral("sk-0123456789abcdef");
    QTest::newRow("blanks and a line break kept") << QStringLiteral("  sk-spaced \n");
    QTest::newRow("non-ASCII") << QStringLiteral("密钥-ключ-🔑");
    QTest::newRow("one character") << QStringLiteral("x");
}

void KeychainTest::storedValueReadsBackExactly()
{
    QFETCH(QString, value);
    const QString account = uniqueAccount();
    QVERIFY(Keychain::set(value, account));
    QCOMPARE(Keychain::get(account), std::optional<QString>(value));
    QCOMPARE(m_reads.load(), 0); // answered from the cache

    // The keyring itself holds the UTF-8 bytes, nothing more.
    const SecretStore::Reading stored = SecretStore::read(Keychain::service(), account);
    QCOMPARE(stored.status, SecretStore::Reading::Status::found);
    QCOMPARE(stored.data, value.toUtf8());
    QVERIFY(Keychain::set(QString(), account));
}

void KeychainTest::emptyValueRemovesTheItem()
{
    const QString account = uniqueAccount();
    QVERIFY(Keychain::set(QString(), account)); // nothing there yet: still true
    QVERIFY(Keychain::set(QStringLiteral("sk-to-remove"), account));
    QVERIFY(Keychain::set(QString(), account));
    QCOMPARE(Keychain::get(account), std::nullopt);
    QCOMPARE(m_reads.load(), 0);
    QCOMPARE(SecretStore::read(Keychain::service(), account).status,
             SecretStore::Reading::Status::notFound);
}

void KeychainTest::unusableItemReadsAsNoKey_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("zero bytes") << QByteArray();
    QTest::newRow("not UTF-8") << QByteArray("sk-\xff\xfe-key");
    QTest::newRow("cut UTF-8 sequence") << QByteArray("sk-\xe4\xbd");
}

void KeychainTest::unusableItemReadsAsNoKey()
{
    QFETCH(QByteArray, bytes);
    const QString account = uniqueAccount();
    QVERIFY(SecretStore::write(Keychain::service(), account, bytes));
    QCOMPARE(Keychain::get(account), std::nullopt);
    QCOMPARE(Keychain::get(account), std::nullopt);
    QCOMPARE(m_reads.load(), 1); // the keyring did answer: that answer is kept
    QVERIFY(SecretStore::remove(Keychain::service(), account));
}

void KeychainTest::threeAccountsAreIndependent()
{
    const QString key = QStringLiteral("sk-active-eleven");
    const QString list = QStringLiteral(R"(["sk-active-eleven","sk-second"])");
    const QString deepSeek = QStringLiteral("sk-deepseek");
    QVERIFY(Keychain::set(key, Keychain::elevenLabsAccount));
    QVERIFY(Keychain::set(list, Keychain::elevenLabsListAccount));
    QVERIFY(Keychain::set(deepSeek, Keychain::deepSeekAccount));

    auto stored = [](const QString &account) {
        return SecretStore::read(Keychain::service(), account).data;
    };
    QCOMPARE(stored(Keychain::elevenLabsAccount), key.toUtf8());
    QCOMPARE(stored(Keychain::elevenLabsListAccount), list.toUtf8());
    QCOMPARE(stored(Keychain::deepSeekAccount), deepSeek.toUtf8());

    QVERIFY(Keychain::set(QStringLiteral("[]"), Keychain::elevenLabsListAccount));
    QCOMPARE(Keychain::get(Keychain::elevenLabsAccount), std::optional<QString>(key));
    QCOMPARE(stored(Keychain::elevenLabsAccount), key.toUtf8());
    QVERIFY(Keychain::set(QString(), Keychain::elevenLabsAccount));
    QCOMPARE(Keychain::get(Keychain::elevenLabsListAccount), std::optional<QString>("[]"));
    QCOMPARE(stored(Keychain::elevenLabsListAccount), QByteArray("[]"));
    QCOMPARE(Keychain::get(Keychain::deepSeekAccount), std::optional<QString>(deepSeek));

    for (const QString &account :
         {Keychain::elevenLabsAccount, Keychain::elevenLabsListAccount, Keychain::deepSeekAccount})
        QVERIFY(Keychain::set(QString(), account));
}

void KeychainTest::keyringThatCannotAnswerIsAskedAgain_data()
{
    QTest::addColumn<SecretStore::Reading::Status>("status");
    QTest::addColumn<bool>("askedAgain");
    QTest::newRow("no Secret Service") << SecretStore::Reading::Status::failed << true;
    QTest::newRow("not found") << SecretStore::Reading::Status::notFound << false;
}

void KeychainTest::keyringThatCannotAnswerIsAskedAgain()
{
    QFETCH(SecretStore::Reading::Status, status);
    QFETCH(bool, askedAgain);
    const QString account = uniqueAccount();
    const QString other = uniqueAccount();
    Keychain::readItem = [this, status](const QString &, const QString &) {
        ++m_reads;
        return SecretStore::Reading{status, {}};
    };
    QCOMPARE(Keychain::get(account), std::nullopt);
    QCOMPARE(Keychain::get(account), std::nullopt);
    // A keyring that could not answer is not asked again (for any account) on its own.
    QCOMPARE(Keychain::get(other), std::nullopt);
    QCOMPARE(m_reads.load(), askedAgain ? 1 : 2);

    // Once the user acts on keys it is asked again, and the key is there; a known absence stays.
    Keychain::readItem = [this](const QString &, const QString &) {
        ++m_reads;
        return SecretStore::Reading{SecretStore::Reading::Status::found, "sk-late"};
    };
    QCOMPARE(Keychain::get(account), std::nullopt);
    Keychain::userActedOnKeys();
    QCOMPARE(Keychain::get(account), askedAgain ? std::optional<QString>("sk-late") : std::nullopt);
}

void KeychainTest::lockedKeyringIsNotCachedAsAbsent()
{
    const QString withKey = uniqueAccount();
    const QString withoutKey = uniqueAccount();
    QVERIFY(SecretStore::write(Keychain::service(), withKey, "sk-behind-the-lock"));

    // The test session has no prompter to show: the unlock prompt fails as a dismissed one does.
    QVERIFY(TestKeyring::lock());
    QCOMPARE(Keychain::get(withKey), std::nullopt);
    QCOMPARE(Keychain::get(withoutKey), std::nullopt);
    QCOMPARE(Keychain::get(withKey), std::nullopt);
    QCOMPARE(m_reads.load(), 1); // one prompt; after it, nothing asks until the user acts

    QVERIFY(TestKeyring::unlock());
    QCOMPARE(Keychain::get(withKey), std::nullopt);
    QCOMPARE(m_reads.load(), 1);
    Keychain::userActedOnKeys();
    QCOMPARE(Keychain::get(withKey), std::optional<QString>("sk-behind-the-lock"));
    QCOMPARE(Keychain::get(withoutKey), std::nullopt);
    QCOMPARE(m_reads.load(), 3);
    QCOMPARE(Keychain::get(withKey), std::optional<QString>("sk-behind-the-lock"));
    QCOMPARE(Keychain::get(withoutKey), std::nullopt);
    QCOMPARE(m_reads.load(), 3); // real answers are cached
    QVERIFY(Keychain::set(QString(), withKey));
}

void KeychainTest::unansweredPromptKeepsTheMainThreadMoving_data()
{
    QTest::addColumn<bool>("unlocked");
    QTest::newRow("the user unlocks") << true;
    QTest::newRow("the user dismisses the prompt") << false;
}

// A read of a locked keyring waits for the user to answer its unlock prompt. The main thread (a
// translation request) does not wait for that, and no second prompt is raised meanwhile.
void KeychainTest::unansweredPromptKeepsTheMainThreadMoving()
{
    QFETCH(bool, unlocked);
    const QString account = uniqueAccount();
    const QString other = uniqueAccount();
    QCOMPARE(Keychain::get(uniqueAccount()), std::nullopt); // the user's own prompt is past
    Keychain::mainThreadWaitMs = 100;
    m_reads = 0;
    auto answer = std::make_shared<QSemaphore>();
    Keychain::readItem = [this, answer, unlocked](const QString &, const QString &) {
        ++m_reads;
        // The prompt is on screen until the test answers it (or, without the bound, for 20 s).
        if (!answer->tryAcquire(1, 20000))
            return SecretStore::Reading{};
        return unlocked ? SecretStore::Reading{SecretStore::Reading::Status::found, "sk-unlocked"}
                        : SecretStore::Reading{};
    };
    QCOMPARE(Keychain::get(account), std::nullopt);
    QCOMPARE(Keychain::get(account), std::nullopt);
    QCOMPARE(Keychain::get(other), std::nullopt);
    QCOMPARE(m_reads.load(), 1);

    answer->release();
    if (unlocked) {
        QTRY_COMPARE(Keychain::get(account), std::optional<QString>("sk-unlocked"));
    } else {
        // Dismissed: no key, and no further prompt, until the user acts on keys. Another thread
        // waits for the answer of the query in flight.
        QCOMPARE(std::async(std::launch::async, [account] { return Keychain::get(account); }).get(),
                 std::nullopt);
        QCOMPARE(Keychain::get(account), std::nullopt);
        QCOMPARE(Keychain::get(other), std::nullopt);
        QCOMPARE(m_reads.load(), 1);
        Keychain::userActedOnKeys();
        answer->release();
        QCOMPARE(Keychain::get(account), std::nullopt);
        QCOMPARE(m_reads.load(), 2);
    }
}

// A keyring that could not answer is not asked again on its own; storing a key is the user
// acting on keys, after which it is.
void KeychainTest::storedKeyAsksAgain()
{
    const QString account = uniqueAccount();
    const QString stored = uniqueAccount();
    QCOMPARE(Keychain::get(uniqueAccount()), std::nullopt); // the user's own prompt is past
    m_reads = 0;
    Keychain::readItem = [this](const QString &, const QString &) {
        ++m_reads;
        return SecretStore::Reading{}; // the unlock prompt was dismissed
    };
    QCOMPARE(Keychain::get(account), std::nullopt);
    QCOMPARE(Keychain::get(account), std::nullopt);
    QCOMPARE(m_reads.load(), 1);

    QVERIFY(Keychain::set(QStringLiteral("sk-stored"), stored));
    QCOMPARE(Keychain::get(account), std::nullopt);
    QCOMPARE(m_reads.load(), 2);
    QVERIFY(Keychain::set(QString(), stored));
}

void KeychainTest::userPromptIsWaitedFor()
{
    // After the user acts on keys (the settings check them), the prompt is their own: the main
    // thread waits for their answer.
    const QString account = uniqueAccount();
    Keychain::mainThreadWaitMs = 100;
    Keychain::userActedOnKeys();
    auto answer = std::make_shared<QSemaphore>();
    Keychain::readItem = [this, answer](const QString &, const QString &) {
        ++m_reads;
        answer->tryAcquire(1, 1000); // the user takes a second to type the password
        return SecretStore::Reading{SecretStore::Reading::Status::found, "sk-typed"};
    };
    QCOMPARE(Keychain::get(account), std::optional<QString>("sk-typed"));
    QCOMPARE(m_reads.load(), 1);
}

void KeychainTest::failedWriteKeepsTheOldKey()
{
    const QString account = uniqueAccount();
    QVERIFY(Keychain::set(QStringLiteral("sk-old"), account));

    QVERIFY(TestKeyring::lock());
    QVERIFY(!Keychain::set(QStringLiteral("sk-new"), account));
    QVERIFY(!Keychain::set(QString(), account)); // a removal the keyring refused is no success
    QCOMPARE(Keychain::get(account), std::optional<QString>("sk-old"));

    QVERIFY(TestKeyring::unlock());
    const SecretStore::Reading stored = SecretStore::read(Keychain::service(), account);
    QCOMPARE(stored.status, SecretStore::Reading::Status::found);
    QCOMPARE(stored.data, QByteArray("sk-old"));
    QVERIFY(Keychain::set(QString(), account));
    QCOMPARE(m_reads.load(), 0);
}

void KeychainTest::readOverlappingASetDoesNotUndoIt()
{
    // Another thread stores a new key while this get is still reading the old one.
    const QString account = uniqueAccount();
    QVERIFY(SecretStore::write(Keychain::service(), account, "sk-old"));
    Keychain::readItem = [this](const QString &service, const QString &name) {
        ++m_reads;
        const SecretStore::Reading reading = SecretStore::read(service, name);
        [&] { QVERIFY(Keychain::set(QStringLiteral("sk-new"), name)); }();
        return reading;
    };
    QCOMPARE(Keychain::get(account), std::optional<QString>("sk-new"));
    QCOMPARE(Keychain::get(account), std::optional<QString>("sk-new"));
    QCOMPARE(m_reads.load(), 1);
    QCOMPARE(SecretStore::read(Keychain::service(), account).data, QByteArray("sk-new"));
    QVERIFY(Keychain::set(QString(), account));
}

// The launch asks for the keys ahead: the reads run on a thread of their own, a get() meanwhile
// waits for them instead of asking again, and what they found is kept like any answer.
void KeychainTest::prefetchReadsAheadOnItsOwnThread()
{
    const QString stored = uniqueAccount();
    const QString absent = uniqueAccount();
    QVERIFY(SecretStore::write(Keychain::service(), stored, "sk-ahead"));
    auto gate = std::make_shared<QSemaphore>();
    auto readers = std::make_shared<QList<Qt::HANDLE>>();
    Keychain::readItem = [this, gate, readers](const QString &service, const QString &account) {
        ++m_reads;
        readers->append(QThread::currentThreadId());
        if (readers->size() == 1)
            gate->tryAcquire(1, 20000); // the keyring's first answer is slow
        return SecretStore::read(service, account);
    };
    Keychain::prefetch({stored, absent});
    QTRY_COMPARE(m_reads.load(), 1);
    QVERIFY(Keychain::waiting(stored));
    gate->release();
    QCOMPARE(Keychain::get(stored), std::optional<QString>("sk-ahead"));
    QCOMPARE(Keychain::get(absent), std::nullopt);
    QCOMPARE(m_reads.load(), 2);
    QVERIFY(!readers->contains(QThread::currentThreadId()));

    // Known accounts are not asked again.
    Keychain::prefetch({stored, absent});
    QVERIFY(!Keychain::waiting(stored));
    QCOMPARE(m_reads.load(), 2);
    QVERIFY(Keychain::set(QString(), stored));
}

// A keyring that cannot answer (its unlock prompt dismissed) is asked once, not once per account.
void KeychainTest::prefetchStopsWhereTheKeyringCannotAnswer()
{
    const QString first = uniqueAccount();
    const QString second = uniqueAccount();
    QCOMPARE(Keychain::get(uniqueAccount()), std::nullopt); // the user's own prompt is past
    m_reads = 0;
    Keychain::readItem = [this](const QString &, const QString &) {
        ++m_reads;
        return SecretStore::Reading{};
    };
    Keychain::prefetch({first, second});
    QCOMPARE(Keychain::get(first), std::nullopt);
    QCOMPARE(Keychain::get(second), std::nullopt);
    QCOMPARE(m_reads.load(), 1);
}

DODEDAROV_TEST(KeychainTest)
#include "KeychainTest.moc"
