// libFuzzer target for the answers of the key checks: the HTTP status and body of a key
// check, the translation service's balance, the recognition service's subscription, and the
// stored list of recognition keys. Every status reads as something the settings window can
// show; a balance or quota read is one that can be shown; stored keys are never blank.
#include "FuzzInput.h"

#include "accounts/BalanceInfo.h"
#include "accounts/ElevenLabsKeys.h"
#include "accounts/ElevenLabsQuota.h"
#include "accounts/KeyStatus.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const KeyProvider provider = input.byte() % 2 ? KeyProvider::deepSeek : KeyProvider::elevenLabs;
    const int status = int(input.byte()) << 2 | input.byte() % 4;
    const QByteArray body = input.rest();

    const KeyStatus keyStatus = KeyStatus::from(provider, status, QString::fromUtf8(body.left(2000)));
    check(keyStatus.kind != KeyStatus::Kind::checking);
    if (keyStatus.kind == KeyStatus::Kind::problem || keyStatus.kind == KeyStatus::Kind::unreachable)
        check(!keyStatus.message.isEmpty());
    keyStatus.text();

    if (const std::optional<BalanceInfo> balance = BalanceInfo::deepSeek(body)) {
        check(balance->kind != BalanceInfo::Kind::quota);
        check(!balance->text().isEmpty());
        balance->warning();
    }
    if (const std::optional<ElevenLabsQuota> quota = ElevenLabsQuota::parse(body)) {
        check(!quota->summary().isEmpty());
        const BalanceInfo info = BalanceInfo::quota(*quota);
        check(!info.text().isEmpty());
        info.warning();
    }
    for (const QString &key : ElevenLabsKeys::decode(QString::fromUtf8(body)))
        check(!key.isEmpty());
    ElevenLabsKeys::decode(std::nullopt);
    return 0;
}
