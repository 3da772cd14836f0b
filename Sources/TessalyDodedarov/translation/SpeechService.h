#pragma once

#include <QString>

#include <array>
#include <optional>

// The outside services that recognise speech. There is one; the meeting model names its
// recognition service with it.
enum class SpeechService { elevenLabs };

namespace SpeechServices {
inline constexpr std::array<SpeechService, 1> allCases{SpeechService::elevenLabs};

inline QString toString(SpeechService service)
{
    switch (service) {
    case SpeechService::elevenLabs:
        return QStringLiteral("elevenLabs");
    }
    return {};
}

inline std::optional<SpeechService> fromString(const QString &raw)
{
    for (SpeechService service : allCases) {
        if (toString(service) == raw)
            return service;
    }
    return std::nullopt;
}
} // namespace SpeechServices
