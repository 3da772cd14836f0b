// The diagnostics report of a meeting.
#include "model/AppModel.h"

AppModel::DiagnosticsSnapshot AppModel::diagnosticsSnapshot() const
{
    // The report's contents are gathered here; until then an empty snapshot.
    return {};
}

void AppModel::writeDiagnostics(const QString &, const DiagnosticsSnapshot &, const QList<CaptionLine> &,
                                const std::optional<QList<Proofread::Line>> &,
                                const std::optional<QList<Proofread::Line>> &, const QMap<int, QString> &)
{
    // The report files are written here.
}
