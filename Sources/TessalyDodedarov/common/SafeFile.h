#pragma once

#include <QString>

#include <functional>

class QIODevice;

// Writes a whole file or nothing: the bytes go to a temporary file beside the target, which
// replaces the target only once every byte is on disk. A write that fails on the way (a full
// disk, a file-size limit, a folder that may not be written) leaves the previous file as it
// was and no temporary file behind. The meeting record and the imported subtitles are written
// this way, so a failed save never costs the user the last good copy. Any thread; the caller
// makes the folder.
class SafeFile final {
public:
    SafeFile() = delete;

    // Writes the file through `body`, which puts the bytes into the device it is given and
    // says whether every one of them went in. Answers whether the file now holds them.
    static bool write(const QString &path, const std::function<bool(QIODevice &)> &body);
    // Writes the text as UTF-8.
    static bool write(const QString &path, const QString &text);
};
