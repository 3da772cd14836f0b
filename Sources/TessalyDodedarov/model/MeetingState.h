#pragma once

#include "intelligence/QuickResearch.h"
#include "intelligence/SessionStats.h"
#include "records/DiagnosticLog.h"
#include "records/TranscriptWriter.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// The meeting model's bookkeeping for one meeting: the caption flow's pending text, the
// recap, research, quick-check and browser-tab progress, the diagnostics log and the
// statistics. AppModel holds one and starts it afresh by one assignment when a meeting
// begins, so a field added here cannot be forgotten at that reset.
//
// What stays outside on purpose: the published properties (each reset notifies through its
// setter), the meeting serial and the notes (they outlive a meeting by rule), the caption
// pipeline and layout (replaced or re-broken at the start, never empty), timers and other
// QObjects, and the requests in flight, which the serial disowns instead.
struct MeetingState {
    // A meeting that starts at `startedAt` (uptime seconds): the recap and research intervals
    // count from then. Zero is the state before any meeting.
    explicit MeetingState(double startedAt = 0)
        : lastRecapAt(startedAt), lastResearchAt(startedAt), meetingStartedAt(startedAt)
    {
    }

    // Caption flow.
    QMap<int, QString> pendingDeltas;
    QString lastPartialText;
    std::optional<int> openEnglishLine;
    QString englishBacklog;
    bool pendingTurn = false;
    double billedBase = 0;
    int mergeCursor = 0;
    QSet<int> shortRetried;
    QMap<int, QString> smoothing;
    QMap<int, double> lineLatency;

    // Recap.
    bool recapBusy = false;
    int recapLine = 0;
    // Lines from `recapLine` on that a recap request already sent.
    QSet<int> recapSent;
    double lastRecapAt = 0;

    // Research and what it wrote into the record.
    QList<TranscriptWriter::Entry> backgroundLog;
    bool researchBusy = false;
    int researchLine = 0;
    double lastResearchAt = 0;

    // Quick checks of suspect words; the first may start at once.
    QList<QuickResearch::Suspect> suspects;
    QSet<QString> askedSuspects;
    double firstSuspectAt = 0;
    bool quickBusy = false;
    int quickCount = 0;
    double lastQuickAt = -1000;
    QSet<QString> loggedSoundAlikes;
    // Corrected unit texts waiting for their caption line.
    struct PendingFix {
        QString text;
        QStringList words;
    };
    QList<PendingFix> pendingFixed;

    // Matching a browser tab to the meeting's speech.
    int tabChecks = 0;
    bool tabMatched = false;
    bool tabBusy = false;

    // Diagnostics; the log's times count from `meetingStartedAt`.
    DiagnosticLog diag;
    double meetingStartedAt = 0;
    SessionStats stats;
};
