#include "records/DiagnosticFiles.h"

#include "records/TranscriptWriter.h"

const QString DiagnosticFiles::overviewName = QStringLiteral("汇总.md");

QString DiagnosticFiles::eventsName(const QString &base)
{
    return base + QStringLiteral(" 事件.jsonl");
}

QString DiagnosticFiles::summaryName(const QString &base)
{
    return base + QStringLiteral(" 诊断.json");
}

QString DiagnosticFiles::reportName(const QString &base)
{
    return base + QStringLiteral(" 诊断.md");
}

bool DiagnosticFiles::write(TranscriptWriter &writer, const Diagnostics::Context &context,
                            const QList<Diagnostics::Finding> &findings)
{
    const QString &base = context.name;
    bool ok = writer.writeDiagnostic(eventsName(base), DiagnosticLog::jsonl(context.events)).has_value();

    const QString summary = Diagnostics::summaryJSON(base, context.version, context.minutes,
                                                     int(context.lines.size()), Diagnostics::counts(findings));
    ok = writer.writeDiagnostic(summaryName(base), summary).has_value() && ok;

    // Read back after the summary is written, so this meeting is in the overview.
    QList<Diagnostics::Summary> summaries;
    for (const QString &text : writer.diagnosticSummaries()) {
        if (std::optional<Diagnostics::Summary> parsed = Diagnostics::parseSummary(text))
            summaries.append(std::move(*parsed));
    }
    ok = writer.writeDiagnostic(overviewName, Diagnostics::overview(summaries)).has_value() && ok;

    return writeReport(writer, context, findings, QString()) && ok;
}

bool DiagnosticFiles::writeReport(TranscriptWriter &writer, const Diagnostics::Context &context,
                                  const QList<Diagnostics::Finding> &findings, const QString &review)
{
    return writer.writeDiagnostic(reportName(context.name), Diagnostics::report(context, findings, review))
        .has_value();
}
