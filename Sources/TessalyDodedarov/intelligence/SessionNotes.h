#pragma once

#include "intelligence/SessionBackground.h"
#include "intelligence/SessionNote.h"

#include <QList>
#include <QString>
#include <QUrl>

// Pure rules over the meeting's notes: their merged background, the quick
// "A = 甲" terms a note defines, and the notes block of the translation prompt.
struct SessionNotes final {
    SessionNotes() = delete;

    static SessionBackground merged(const QList<SessionNote> &notes);
    static QList<GlossaryEntry> quickTerms(const QString &text);
    static QString promptBlock(const QList<SessionNote> &notes);

    // Whether a page may be read without the user asking: pages about payment,
    // sign-in, mail, orders or consoles are never read on their own.
    static bool autoReadable(const QUrl &url);
};
