#pragma once

#include "speech/SpeechLanguage.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// One caption line: one translated unit of the meeting. Its id is its index in the model's
// `lines`. A plain value, equal field by field.
struct CaptionLine final {
    // The rendering that a later number re-check or sentence merge produced; the first
    // translation stays in `chinese`.
    struct Revision final {
        QString source;
        QString translation;
        QString alt;

        bool operator==(const Revision &) const = default;
    };

    int id = 0;
    QString english;  // the recognised source text, whatever its language
    QString chinese;  // the streamed translation
    bool finished = false;
    bool failed = false;
    bool newTurn = false; // never on line 0
    QDateTime time;
    bool merged = false;
    std::optional<Revision> revised;
    QString alt; // the English rendering of a line in a third language
    std::optional<SpeechLanguage> language;
    int pieces = 1;
    QStringList fixed; // corrected words shown highlighted

    bool operator==(const CaptionLine &) const = default;
};

// One laid-out row of the live caption area.
struct CaptionRow final {
    int id = 0;
    QString text;
    QString live;

    bool operator==(const CaptionRow &) const = default;
};
