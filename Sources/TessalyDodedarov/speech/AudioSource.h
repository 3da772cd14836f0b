#pragma once

#include <QString>

#include <array>
#include <optional>

// What the user chose to capture; stored under "audioSource" as its raw text.
enum class AudioSource {
    system,     // the sound the computer plays
    microphone,
    both,
};

inline constexpr std::array<AudioSource, 3> allAudioSources{
    AudioSource::system, AudioSource::microphone, AudioSource::both};

// The raw text must match exactly ("Both" is not a source).
std::optional<AudioSource> audioSourceFromString(const QString &rawValue);
// Not a free toString(): QTest would pick that up for QCOMPARE of an AudioSource and fail.
QString audioSourceToString(AudioSource source);
