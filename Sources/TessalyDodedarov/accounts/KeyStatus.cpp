#include "accounts/KeyStatus.h"

namespace {
// U+26A0 with the text-presentation selector, so it is drawn as a sign and not an emoji.
const QString warningSign = QStringLiteral("\u26A0\uFE0E ");
}

QString KeyStatus::text() const
{
    switch (kind) {
    case Kind::problem: return warningSign + message;
    case Kind::unreachable:
        return warningSign + QStringLiteral("暂时无法验证（") + message + QStringLiteral("），已保存");
    case Kind::unknown: return QString();
    case Kind::checking: return QStringLiteral("正在验证…");
    case Kind::ok: return QStringLiteral("✓ 可用");
    case Kind::invalid: return QStringLiteral("✗ 密钥无效，请检查是否复制完整");
    }
    return {};
}

KeyStatus KeyStatus::from(KeyProvider provider, int statusCode, const QString &body)
{
    if ((statusCode >= 200 && statusCode <= 299) || statusCode == 429)
        return ok();
    if (statusCode == 401 || statusCode == 403) {
        // A recognition key limited to speech still works even though it may not list models.
        if (provider == KeyProvider::elevenLabs
            && body.toLower().contains(QLatin1String("permission")))
            return ok();
        return invalid();
    }
    if (statusCode == 402)
        return problem(QStringLiteral("账户余额不足，请先充值"));
    return unreachable(QStringLiteral("HTTP ") + QString::number(statusCode));
}
