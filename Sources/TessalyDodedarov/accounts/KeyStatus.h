#pragma once

#include "accounts/KeyProvider.h"

#include <QString>

// What is known about one service key, with the text the settings window shows beside it.
struct KeyStatus final {
    enum class Kind { problem, unreachable, unknown, checking, ok, invalid };

    Kind kind = Kind::unknown;
    QString message; // problem: what to fix; unreachable: why it was not verified

    bool operator==(const KeyStatus &) const = default;

    static KeyStatus problem(const QString &message) { return {Kind::problem, message}; }
    static KeyStatus unreachable(const QString &reason) { return {Kind::unreachable, reason}; }
    static KeyStatus unknown() { return {Kind::unknown, {}}; }
    static KeyStatus checking() { return {Kind::checking, {}}; }
    static KeyStatus ok() { return {Kind::ok, {}}; }
    static KeyStatus invalid() { return {Kind::invalid, {}}; }

    QString text() const;

    // One HTTP answer of a key check. `body` is the start of the answer's text.
    static KeyStatus from(KeyProvider provider, int statusCode, const QString &body);
};
