#pragma once

#include "accounts/BalanceInfo.h"
#include "accounts/ElevenLabsKeys.h"
#include "accounts/KeyProvider.h"
#include "accounts/KeyStatus.h"

#include <QHash>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The user's service keys as the windows see them: the recognition key list with its active
// copy, the translation key, what their checks found, the recognition quotas and the balances,
// and the choice of the next recognition key when the service refuses one. The keys themselves
// stay in the keyring (`Keychain`): every change is written through, and the flags say what
// the keyring holds.
//
// The meeting model owns the one instance and acts on the meeting when a key changes (a
// running engine moves to the new active key, a failover's notice shows in the panel); this
// object only answers and notifies. Main thread only. Checks and figures are asked for through
// the hooks it is made with; an answer that arrives after it is gone does nothing.
class ServiceKeys final : public QObject {
    Q_OBJECT

public:
    using KeyStatuses = QMap<KeyProvider, KeyStatus>;
    using Balances = QMap<KeyProvider, BalanceInfo>;
    using Quotas = QMap<QString, BalanceInfo>;
    using CheckKey = std::function<void(KeyProvider, const QString &, std::function<void(const KeyStatus &)>)>;
    using FetchBalance =
        std::function<void(KeyProvider, const QString &, std::function<void(const std::optional<BalanceInfo> &)>)>;

    Q_PROPERTY(bool hasElevenLabsKey READ hasElevenLabsKey NOTIFY hasElevenLabsKeyChanged)
    Q_PROPERTY(bool hasTranslationKey READ hasTranslationKey NOTIFY hasTranslationKeyChanged)
    Q_PROPERTY(bool hasDeepSeekKey READ hasDeepSeekKey NOTIFY hasDeepSeekKeyChanged)
    Q_PROPERTY(ElevenLabsKeys elevenLabsKeys READ elevenLabsKeys NOTIFY elevenLabsKeysChanged)
    Q_PROPERTY(KeyStatuses keyStatus READ keyStatus NOTIFY keyStatusChanged)
    Q_PROPERTY(Quotas elevenLabsQuotas READ elevenLabsQuotas NOTIFY elevenLabsQuotasChanged)
    Q_PROPERTY(Balances balances READ balances NOTIFY balancesChanged)

    // When the stored keys are read: before the constructor returns, or only when
    // readStoredKeys() is called.
    enum class KeyReading { atOnce, onRequest };

    // The platform's answers about a key, both set by the owner: whether the service takes it,
    // and its quota or balance. Each calls its completion once, on the main thread.
    struct Checks {
        CheckKey checkKey;
        FetchBalance fetchBalance;
    };

    ServiceKeys(Checks checks, KeyReading reading, QObject *parent = nullptr);

    bool hasElevenLabsKey() const { return m_hasElevenLabsKey; }
    bool hasTranslationKey() const { return m_hasTranslationKey; }
    bool hasDeepSeekKey() const { return m_hasDeepSeekKey; }
    // The key flags and the recognition keys hold what the keyring stores. False until the
    // keyring has answered when the keys are read on request: until then the flags say nothing
    // about the keys, and keysKnownChanged follows once they do.
    bool keysKnown() const { return m_keysKnown; }
    // Asks the keyring for the stored keys on a thread of its own and returns at once; the key
    // flags and the recognition keys follow when it answers (at once when they are known).
    void readStoredKeys();

    const ElevenLabsKeys &elevenLabsKeys() const { return m_elevenLabsKeys; }
    const KeyStatuses &keyStatus() const { return m_keyStatus; }
    KeyStatus keyStatus(KeyProvider provider) const
    {
        return m_keyStatus.value(provider, KeyStatus::unknown());
    }
    const Quotas &elevenLabsQuotas() const { return m_elevenLabsQuotas; }
    // A query of the key's quota is under way (elevenLabsQuotasChanged tells when that changes).
    bool queryingQuota(const QString &key) const { return m_quotaQueries.contains(key); }
    const Balances &balances() const { return m_balances; }
    const QSet<QString> &exhaustedElevenLabs() const { return m_exhaustedElevenLabs; }

    void addElevenLabsKey(const QString &text);
    void useElevenLabsKey(int index);
    void removeElevenLabsKey(int index);
    void saveKey(KeyProvider provider, const QString &text);
    std::optional<QString> maskedKey(KeyProvider provider) const;
    // A key as the views show it, counted in user-perceived characters so that a key with an
    // emoji or a combining mark is never cut inside a character.
    static QString mask(const QString &key);
    void checkSavedKeys();
    // The stop reason names a refused or exhausted recognition key: moves to the next usable
    // key and answers whether listening may go on with it.
    bool switchElevenLabsKey(const QString &reason);
    // The notice after a switch to the key at `index` for that stop reason.
    static QString keySwitchNotice(const QString &reason, int index);

signals:
    void hasElevenLabsKeyChanged();
    void hasTranslationKeyChanged();
    void hasDeepSeekKeyChanged();
    void keysKnownChanged();
    void elevenLabsKeysChanged();
    void keyStatusChanged();
    void elevenLabsQuotasChanged();
    void balancesChanged();
    // An edit of the list or a failover made `key` the active recognition key, whether or not
    // the keyring took it; a running engine moves to it. Reading the keyring never sends it.
    void activeKeyChosen(const QString &key);

private:
    // The key flags and the recognition keys from the keyring; while a keyring query runs,
    // nothing is read until it ends.
    static QStringList storedKeyAccounts();
    void loadStoredKeys();
    void loadElevenLabsKeys();
    // Answers whether the keyring took both items; if not the key row shows the problem.
    bool storeElevenLabsKeys(const ElevenLabsKeys &value);
    void verifyKey(KeyProvider provider, const QString &key);
    void refreshQuota(const QString &key);
    void refreshBalances();
    bool saveDeepSeekKey(const QString &text);

    // Writers of the published state; each notifies, changed or not.
    void setElevenLabsKeys(const ElevenLabsKeys &value);
    // What the keyring holds now for the active recognition key.
    void publishHasElevenLabsKey();
    // The translation key is the DeepSeek key: both flags follow it.
    void setHasDeepSeekKey(bool has);
    void setKeyStatus(KeyProvider provider, const KeyStatus &status);
    void removeKeyStatus(KeyProvider provider);
    void setBalance(KeyProvider provider, const std::optional<BalanceInfo> &info);

    Checks m_checks;
    bool m_hasElevenLabsKey = false;
    bool m_hasTranslationKey = false;
    bool m_hasDeepSeekKey = false;
    bool m_keysKnown = true;
    ElevenLabsKeys m_elevenLabsKeys;
    KeyStatuses m_keyStatus;
    Quotas m_elevenLabsQuotas;
    QHash<QString, int> m_quotaQueries; // keys whose quota is being asked for: queries under way
    Balances m_balances;
    QSet<QString> m_exhaustedElevenLabs;
};

Q_DECLARE_METATYPE(ElevenLabsKeys)
