#include "model/ServiceKeys.h"

#include "common/UserDefaults.h"
#include "platform/Keychain.h"
#include "platform/KeychainAnswers.h"
#include "speech/Graphemes.h"

#include <QPointer>

#include <algorithm>

namespace {

const QString activeKey = QStringLiteral("elevenLabsActive");

QString accountOf(KeyProvider provider)
{
    return provider == KeyProvider::deepSeek ? Keychain::deepSeekAccount : Keychain::elevenLabsAccount;
}

KeyStatus keyringRefused()
{
    return KeyStatus::problem(QStringLiteral("没能存进密钥环，请确认密钥环已解锁后再保存"));
}

// The recognition client's texts for a key the service refused or ran dry: in a message, or
// at the connection's handshake.
bool namesKeyFailure(const QString &reason)
{
    return reason.contains(QStringLiteral("额度")) || reason.contains(QStringLiteral("密钥无效"))
        || reason.contains(QStringLiteral("拒绝了连接（HTTP 401）"))
        || reason.contains(QStringLiteral("拒绝了连接（HTTP 403）"));
}

} // namespace

ServiceKeys::ServiceKeys(Checks checks, KeyReading reading, QObject *parent)
    : QObject(parent), m_checks(std::move(checks))
{
    if (reading == KeyReading::atOnce)
        loadStoredKeys();
    else
        m_keysKnown = false;
}

QString ServiceKeys::keySwitchNotice(const QString &reason, int index)
{
    return QStringLiteral("上一个 ElevenLabs 密钥")
        + (reason.contains(QStringLiteral("额度")) ? QStringLiteral("额度用完了") : QStringLiteral("无效"))
        + QStringLiteral("，已换用第 ") + QString::number(index + 1) + QStringLiteral(" 个");
}

void ServiceKeys::setElevenLabsKeys(const ElevenLabsKeys &value)
{
    m_elevenLabsKeys = value;
    emit elevenLabsKeysChanged();
}

void ServiceKeys::publishHasElevenLabsKey()
{
    m_hasElevenLabsKey = Keychain::get(Keychain::elevenLabsAccount).has_value();
    emit hasElevenLabsKeyChanged();
}

void ServiceKeys::setHasDeepSeekKey(bool has)
{
    m_hasDeepSeekKey = has;
    emit hasDeepSeekKeyChanged();
    m_hasTranslationKey = has;
    emit hasTranslationKeyChanged();
}

void ServiceKeys::setKeyStatus(KeyProvider provider, const KeyStatus &status)
{
    m_keyStatus.insert(provider, status);
    emit keyStatusChanged();
}

void ServiceKeys::removeKeyStatus(KeyProvider provider)
{
    m_keyStatus.remove(provider);
    emit keyStatusChanged();
}

void ServiceKeys::setBalance(KeyProvider provider, const std::optional<BalanceInfo> &info)
{
    if (info)
        m_balances.insert(provider, *info);
    else
        m_balances.remove(provider);
    emit balancesChanged();
}

QStringList ServiceKeys::storedKeyAccounts()
{
    return {Keychain::elevenLabsAccount, Keychain::deepSeekAccount, Keychain::elevenLabsListAccount};
}

void ServiceKeys::readStoredKeys()
{
    Keychain::prefetch(storedKeyAccounts());
    loadStoredKeys();
}

void ServiceKeys::loadStoredKeys()
{
    // The keyring's first answer takes a while, longer still when it prompts to be unlocked:
    // the keys are read when the query ends, and nobody waits for them meanwhile. Listening
    // starts before the question, so that a query ending in between is not missed.
    connect(KeychainAnswers::shared(), &KeychainAnswers::queryEnded, this, &ServiceKeys::loadStoredKeys,
            Qt::UniqueConnection);
    const QStringList accounts = storedKeyAccounts();
    if (std::any_of(accounts.begin(), accounts.end(), &Keychain::waiting))
        return;
    disconnect(KeychainAnswers::shared(), &KeychainAnswers::queryEnded, this, &ServiceKeys::loadStoredKeys);
    setHasDeepSeekKey(Keychain::get(Keychain::deepSeekAccount).has_value());
    loadElevenLabsKeys();
    publishHasElevenLabsKey();
    m_keysKnown = true;
    emit keysKnownChanged();
}

void ServiceKeys::loadElevenLabsKeys()
{
    QStringList keys = ElevenLabsKeys::decode(Keychain::get(Keychain::elevenLabsListAccount));
    const qint64 stored = UserDefaults::integer(activeKey).value_or(0);
    int active = 0;
    if (!keys.isEmpty()) {
        active = int(std::clamp<qint64>(stored, 0, keys.size() - 1));
    } else if (const std::optional<QString> single = Keychain::get(Keychain::elevenLabsAccount);
               single && !single->isEmpty()) {
        // A key stored before there was a list becomes the whole list.
        ElevenLabsKeys list;
        list.add(*single);
        keys = list.keys;
        if (!keys.isEmpty())
            Keychain::set(ElevenLabsKeys::encode(keys), Keychain::elevenLabsListAccount);
    }
    setElevenLabsKeys(ElevenLabsKeys {keys, active});
    if (m_elevenLabsKeys.hasActive()) {
        const QString &key = keys.at(active);
        if (Keychain::get(Keychain::elevenLabsAccount) != std::optional<QString>(key))
            Keychain::set(key, Keychain::elevenLabsAccount);
    }
}

bool ServiceKeys::storeElevenLabsKeys(const ElevenLabsKeys &value)
{
    setElevenLabsKeys(value);
    const bool listStored = Keychain::set(ElevenLabsKeys::encode(value.keys), Keychain::elevenLabsListAccount);
    UserDefaults::setInteger(activeKey, value.active);
    const bool activeStored = Keychain::set(value.hasActive() ? value.keys.at(value.active) : QString(),
                                            Keychain::elevenLabsAccount);
    // What the keyring holds now, which after a refused write is the previous key.
    publishHasElevenLabsKey();
    if (value.hasActive())
        emit activeKeyChosen(value.keys.at(value.active));
    if (listStored && activeStored)
        return true;
    setKeyStatus(KeyProvider::elevenLabs, keyringRefused());
    return false;
}

void ServiceKeys::addElevenLabsKey(const QString &text)
{
    ElevenLabsKeys value = m_elevenLabsKeys;
    const bool wasEmpty = value.keys.isEmpty();
    const std::optional<int> index = value.add(text);
    if (!index)
        return;
    if (wasEmpty)
        value.active = *index;
    const QString key = value.keys.at(*index);
    m_exhaustedElevenLabs.remove(key);
    // A check's answer would hide a key the keyring did not take.
    if (!storeElevenLabsKeys(value))
        return;
    // A new first key is verified, which asks for its quota too; any other is only asked.
    if (wasEmpty)
        verifyKey(KeyProvider::elevenLabs, key);
    else
        refreshQuota(key);
}

void ServiceKeys::useElevenLabsKey(int index)
{
    if (index < 0 || index >= m_elevenLabsKeys.keys.size())
        return;
    ElevenLabsKeys value = m_elevenLabsKeys;
    value.active = index;
    m_exhaustedElevenLabs.remove(value.keys.at(index));
    storeElevenLabsKeys(value);
}

void ServiceKeys::removeElevenLabsKey(int index)
{
    if (index < 0 || index >= m_elevenLabsKeys.keys.size())
        return;
    ElevenLabsKeys value = m_elevenLabsKeys;
    if (m_elevenLabsQuotas.remove(value.keys.at(index)) > 0)
        emit elevenLabsQuotasChanged();
    value.keys.removeAt(index);
    if (index < value.active)
        value.active -= 1;
    value.active = value.keys.isEmpty() ? 0 : std::min(value.active, int(value.keys.size()) - 1);
    const bool stored = storeElevenLabsKeys(value);
    if (stored && value.keys.isEmpty())
        removeKeyStatus(KeyProvider::elevenLabs);
}

void ServiceKeys::verifyKey(KeyProvider provider, const QString &key)
{
    // A recognition key's figure is asked for with each verification: one that an earlier
    // query did not bring (no network then) comes now.
    if (provider == KeyProvider::elevenLabs)
        refreshQuota(key);
    setKeyStatus(provider, KeyStatus::checking());
    QPointer<ServiceKeys> self(this);
    m_checks.checkKey(provider, key, [self, provider, key](const KeyStatus &status) {
        if (!self)
            return;
        // The answer is about a key that was replaced or removed meanwhile.
        if (Keychain::get(accountOf(provider)) != std::optional<QString>(key))
            return;
        self->setKeyStatus(provider, status);
    });
}

void ServiceKeys::refreshQuota(const QString &key)
{
    ++m_quotaQueries[key];
    emit elevenLabsQuotasChanged();
    QPointer<ServiceKeys> self(this);
    m_checks.fetchBalance(KeyProvider::elevenLabs, key, [self, key](const std::optional<BalanceInfo> &info) {
        if (!self)
            return;
        if (--self->m_quotaQueries[key] <= 0)
            self->m_quotaQueries.remove(key);
        // No answer changes no figure: an earlier one stays. The query has ended all the same.
        if (!info) {
            emit self->elevenLabsQuotasChanged();
            return;
        }
        self->m_elevenLabsQuotas.insert(key, *info);
        emit self->elevenLabsQuotasChanged();
        const ElevenLabsKeys &keys = self->m_elevenLabsKeys;
        if (keys.hasActive() && keys.keys.at(keys.active) == key)
            self->setBalance(KeyProvider::elevenLabs, info);
    });
}

void ServiceKeys::refreshBalances()
{
    for (const QString &key : m_elevenLabsKeys.keys)
        refreshQuota(key);
    if (const std::optional<QString> key = Keychain::get(Keychain::deepSeekAccount)) {
        QPointer<ServiceKeys> self(this);
        m_checks.fetchBalance(KeyProvider::deepSeek, *key, [self](const std::optional<BalanceInfo> &info) {
            if (self)
                self->setBalance(KeyProvider::deepSeek, info);
        });
    } else if (m_balances.contains(KeyProvider::deepSeek)) {
        setBalance(KeyProvider::deepSeek, std::nullopt);
    }
}

void ServiceKeys::checkSavedKeys()
{
    refreshBalances();
    for (KeyProvider provider : KeyProviders::all()) {
        if (m_keyStatus.contains(provider))
            continue;
        const std::optional<QString> key = Keychain::get(accountOf(provider));
        if (!key)
            continue;
        setKeyStatus(provider, KeyStatus::checking());
        QPointer<ServiceKeys> self(this);
        m_checks.checkKey(provider, *key, [self, provider](const KeyStatus &status) {
            if (self)
                self->setKeyStatus(provider, status);
        });
    }
}

bool ServiceKeys::saveDeepSeekKey(const QString &text)
{
    const bool stored = Keychain::set(text.trimmed(), Keychain::deepSeekAccount);
    setHasDeepSeekKey(Keychain::get(Keychain::deepSeekAccount).has_value());
    return stored;
}

void ServiceKeys::saveKey(KeyProvider provider, const QString &text)
{
    const QString trimmed = text.trimmed();
    if (provider == KeyProvider::elevenLabs) {
        if (trimmed.isEmpty())
            removeElevenLabsKey(m_elevenLabsKeys.active);
        else
            addElevenLabsKey(trimmed);
        return;
    }
    if (!saveDeepSeekKey(trimmed)) {
        setKeyStatus(KeyProvider::deepSeek, keyringRefused());
        return;
    }
    if (trimmed.isEmpty()) {
        removeKeyStatus(KeyProvider::deepSeek);
        setBalance(KeyProvider::deepSeek, std::nullopt);
        return;
    }
    verifyKey(KeyProvider::deepSeek, trimmed);
    QPointer<ServiceKeys> self(this);
    // The entry is the new key's answer, whatever it is: an unanswered query leaves no balance
    // of the key that was replaced.
    // A late answer for a key replaced meanwhile belongs to no key shown.
    m_checks.fetchBalance(KeyProvider::deepSeek, trimmed, [self, trimmed](const std::optional<BalanceInfo> &info) {
        if (self && Keychain::get(Keychain::deepSeekAccount) == trimmed)
            self->setBalance(KeyProvider::deepSeek, info);
    });
}

std::optional<QString> ServiceKeys::maskedKey(KeyProvider provider) const
{
    const bool has = provider == KeyProvider::deepSeek ? m_hasDeepSeekKey : m_hasElevenLabsKey;
    if (!has)
        return std::nullopt;
    const std::optional<QString> key = Keychain::get(accountOf(provider));
    if (!key)
        return std::nullopt;
    return mask(*key);
}

QString ServiceKeys::mask(const QString &key)
{
    const QList<QStringView> characters = Graphemes::split(key);
    const qsizetype n = characters.size();
    if (n < 11)
        return QString(std::max<qsizetype>(n, 4), QChar(0x2022));
    QString out;
    for (qsizetype i = 0; i < 3; ++i)
        out += characters.at(i);
    out += QChar(0x2026);
    for (qsizetype i = n - 4; i < n; ++i)
        out += characters.at(i);
    return out;
}

bool ServiceKeys::switchElevenLabsKey(const QString &reason)
{
    if (!reason.contains(QStringLiteral("ElevenLabs")) || !namesKeyFailure(reason))
        return false;
    ElevenLabsKeys value = m_elevenLabsKeys;
    if (!value.hasActive())
        return false;
    m_exhaustedElevenLabs.insert(value.keys.at(value.active));
    const std::optional<int> next = value.next(m_exhaustedElevenLabs);
    if (!next)
        return false;
    value.active = *next;
    // Restarting on a key the keyring did not take would reuse the failed one.
    if (!storeElevenLabsKeys(value))
        return false;
    verifyKey(KeyProvider::elevenLabs, value.keys.at(*next));
    return true;
}
