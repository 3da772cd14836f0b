#pragma once

#include "accounts/BalanceInfo.h"
#include "accounts/KeyProvider.h"
#include "accounts/KeyStatus.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

// The network checks behind the model's key hooks: whether a key works, and what is left on
// its account. Each is one GET with the key in its provider's header; the key goes nowhere
// else. The completion runs once, on the calling (main) thread; nothing blocks.
class KeyCheck final {
public:
    KeyCheck() = delete;

    using StatusHandler = std::function<void(const KeyStatus &)>;
    using BalanceHandler = std::function<void(const std::optional<BalanceInfo> &)>;

    static void check(KeyProvider provider, const QString &key, StatusHandler completion);
    static void balance(KeyProvider provider, const QString &key, BalanceHandler completion);

    // The recognition service's API; the translation service's is DeepSeekTransport::baseAddress.
    static inline QUrl elevenLabsAddress {QStringLiteral("https://api.elevenlabs.io")};
    // Seconds without progress before a check gives up.
    static inline double timeoutInterval = 10.0;
    // Bytes of a check's answer that are read for its status.
    static constexpr qsizetype bodyLimit = 2000;

    static QUrl checkAddress(KeyProvider provider);
    static QUrl balanceAddress(KeyProvider provider);
};
