#pragma once

#include <QString>
#include <QUrl>

#include <functional>

// Shows a file in the user's file manager, behind the model's `revealFile` hook: the
// freedesktop FileManager1 interface selects it in a file manager window. Where no file manager
// offers that interface (the call fails or the name is not on the session bus), the file's
// folder is opened instead through `openFolder`, which the UI sets to QDesktopServices (this
// library has no Gui). Main thread only; nothing waits for the file manager.
class FileReveal final {
public:
    FileReveal() = delete;

    static inline std::function<void(const QUrl &folder)> openFolder = [](const QUrl &) {};
    static inline QString service = QStringLiteral("org.freedesktop.FileManager1");

    static void revealFile(const QUrl &file);
    // The folder that holds the file, as a file URL.
    static QUrl folderOf(const QUrl &file);
};
