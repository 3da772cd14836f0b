#pragma once

#include <QString>

// One entry of the meeting chat: a question, or the answer to it while it streams and after it
// ended. A question takes the id n, its answer n + 1. Plain value; equal when all fields are.
struct ChatMessage final {
    int id = 0;
    bool fromUser = false;
    QString text;
    bool pending = false; // an answer still awaited; never a question
    bool failed = false;  // an answer that did not complete; `text` says why

    bool operator==(const ChatMessage &) const = default;
};
