#pragma once

#include "records/Diagnostics.h"

class TranscriptWriter;

// Writes a meeting's diagnostics into the "诊断" subfolder through the record
// writer, in the order that keeps the overview current: the event log, the
// meeting's summary, the overview of every summary in the folder (this one
// included) and the report. Called by the meeting model on the main thread
// after a meeting; each write waits for the writer's queue.
class DiagnosticFiles final {
public:
    DiagnosticFiles() = delete;

    // The file names, for `base` the record file's name without extension.
    static QString eventsName(const QString &base);
    static QString summaryName(const QString &base);
    static QString reportName(const QString &base);
    static const QString overviewName;

    // All four files, the report with an empty review; true only when every
    // write succeeded.
    static bool write(TranscriptWriter &writer, const Diagnostics::Context &context,
                      const QList<Diagnostics::Finding> &findings);
    // The report again, now with the model service's review.
    static bool writeReport(TranscriptWriter &writer, const Diagnostics::Context &context,
                            const QList<Diagnostics::Finding> &findings, const QString &review);
};
