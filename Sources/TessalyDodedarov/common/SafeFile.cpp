#include "common/SafeFile.h"

#include <QSaveFile>

bool SafeFile::write(const QString &path, const std::function<bool(QIODevice &)> &body)
{
    QSaveFile out(path);
    // No direct-write fallback (Qt's default, stated as the whole-or-nothing promise rests on it):
    // in a folder that may not be written it writes straight into the target, and a failure
    // part-way leaves that cut short, the old contents already gone.
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    // commit() alone does not notice when the final flush of the write buffer lands only part
    // of the bytes (a full disk, a file-size limit) and would rename the truncated file over
    // the good one: flush and check first.
    if (!body(out) || !out.flush()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

bool SafeFile::write(const QString &path, const QString &text)
{
    return write(path, [&text](QIODevice &out) {
        const QByteArray bytes = text.toUtf8();
        return out.write(bytes) == bytes.size();
    });
}
