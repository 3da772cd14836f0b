#pragma once

#include <QString>
#include <QStringList>
#include <QUuid>

// One English–Chinese term pair as the meeting background, the user's notes and
// research results keep it. Plain value; equal when all four fields are equal.
struct GlossaryEntry final {
    QUuid id = QUuid::createUuid();
    QString english;  // may hold several spellings, e.g. "Long Name (LN)"
    QString chinese;  // may be empty
    QString source;   // empty for ordinary rows; "自动…" for rows an automatic step made

    GlossaryEntry() = default;
    GlossaryEntry(QString english, QString chinese, QString source = {});

    // The spellings of `english`: split at ASCII and full-width parentheses,
    // each trimmed, empty pieces dropped.
    QStringList aliases() const;

    friend bool operator==(const GlossaryEntry &, const GlossaryEntry &) = default;
};
