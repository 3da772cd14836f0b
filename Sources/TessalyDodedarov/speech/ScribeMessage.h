#pragma once

#include "speech/SpeechClient.h"

#include <QString>

#include <optional>

// Reads one text message of the realtime speech-to-text service into the event it reports.
// Pure; any thread. The client hands every message here and only decides what to do with the
// event: a fatal or closing event ends its connection, every other one goes to the engine.
struct ScribeMessage final {
    ScribeMessage() = delete;

    // None for anything that reports nothing: text that is not a JSON object, a message
    // without a string "message_type", a type that carries no news, an empty commit.
    static std::optional<SpeechEvent> read(const QString &text);
};
