#pragma once

#include "intelligence/SessionBackground.h"

#include <QString>

#include <optional>

// One note the user gave about the meeting (or the address of the page being
// listened to, for an automatic note), with what was extracted from it. The
// meeting model keeps the notes in one ordered list.
struct SessionNote final {
    int id = 0;
    QString text;
    SessionBackground extracted;
    bool busy = false;
    std::optional<QString> status;
    bool automatic = false; // made from the page being listened to, not typed

    bool operator==(const SessionNote &) const = default;
};
