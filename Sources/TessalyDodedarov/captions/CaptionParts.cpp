#include "captions/CaptionParts.h"

#include "common/UserDefaults.h"

namespace {
const QString key = QStringLiteral("captionParts");
}

void CaptionParts::save(const CaptionParts &parts)
{
    UserDefaults::setFlags(key, {parts.chinese, parts.english, parts.original, parts.traditional,
                                 parts.olderEnglish});
}

CaptionParts CaptionParts::load()
{
    const std::optional<QList<bool>> stored = UserDefaults::flags(key);
    if (!stored || stored->size() < 3)
        return {};
    const QList<bool> &f = *stored;
    CaptionParts parts;
    parts.chinese = f.at(0);
    parts.english = f.at(1);
    parts.original = f.at(2);
    parts.traditional = f.size() >= 4 && f.at(3);
    parts.olderEnglish = f.size() >= 5 && f.at(4);
    if (!parts.english)
        parts.chinese = true;
    return parts;
}
