// libFuzzer target for stored settings values as the settings file gives them back (text, a
// list of texts, bytes) and for the stored caption look. Every typed reader accepts exactly the
// stored forms of its type; a look read back is within its ranges and survives being stored.
#include "FuzzInput.h"

#include "common/UserDefaults.h"
#include "captions/CaptionAppearance.h"

#include <QVariant>

#include <cmath>

namespace {

bool inRange(const RGBA &c)
{
    for (const double v : {c.r, c.g, c.b, c.a}) {
        if (!(v >= 0 && v <= 1))
            return false;
    }
    return true;
}

void checkLook(const CaptionAppearance &look)
{
    for (const double size : {look.chineseSize, look.englishSize})
        check(size >= CaptionAppearance::minSize && size <= CaptionAppearance::maxSize);
    check(inRange(look.chineseColor) && inRange(look.englishColor) && inRange(look.background));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const int delta = int(input.byte()) - 128;
    const QByteArray bytes = input.rest();
    const QString text = QString::fromUtf8(bytes);
    const QVariant stored(text);

    if (const std::optional<bool> flag = UserDefaults::asFlag(stored))
        check(text == (*flag ? QLatin1String("true") : QLatin1String("false")));
    if (const std::optional<qint64> number = UserDefaults::asInteger(stored)) {
        bool ok = false;
        check(text.toLongLong(&ok) == *number && ok);
    }
    if (const std::optional<double> real = UserDefaults::asReal(stored))
        check(std::isfinite(*real));
    check(UserDefaults::asText(stored) == text);
    const QStringList items = text.split(u',');
    if (const std::optional<QList<bool>> flags = UserDefaults::asFlags(QVariant(items)))
        check(flags->size() == items.size());

    for (const QVariant &value : {stored, QVariant(bytes)}) {
        const std::optional<QJsonObject> json = UserDefaults::asJson(value);
        if (!json)
            continue;
        const std::optional<CaptionAppearance> look = CaptionAppearance::fromJson(*json);
        if (!look)
            continue;
        checkLook(*look);
        check(CaptionAppearance::fromJson(look->toJson()) == look);
        checkLook(look->effective());
        checkLook(look->scaled(delta));
        look->highlightColor();
        CaptionSkin::named(look->skin);
    }
    return 0;
}
