#pragma once

#include <QString>

#include <array>
#include <optional>

// The outside services that translate captions. There is one; the type still names it so that
// hooks and route keys say which service they are about.
enum class TranslationService { deepSeek };

namespace TranslationServices {
inline constexpr std::array<TranslationService, 1> allCases{TranslationService::deepSeek};

inline QString toString(TranslationService service)
{
    switch (service) {
    case TranslationService::deepSeek:
        return QStringLiteral("deepSeek");
    }
    return {};
}

inline std::optional<TranslationService> fromString(const QString &raw)
{
    for (TranslationService service : allCases) {
        if (toString(service) == raw)
            return service;
    }
    return std::nullopt;
}
} // namespace TranslationServices
