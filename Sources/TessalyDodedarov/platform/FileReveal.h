#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>

// Shows files in the user's file manager, behind the model's `revealFile` hook and the import
// window's reveal button: one freedesktop FileManager1 ShowItems call selects them all in a file
// manager window. Where no file manager offers that interface (the call fails, times out or the
// name is not on the session bus), the first file's folder is opened instead through
// `openFolder`, which the UI sets to QDesktopServices (this library has no Gui). Main thread
// only; nothing waits for the file manager.
class FileReveal final {
public:
    FileReveal() = delete;

    static inline std::function<void(const QUrl &folder)> openFolder = [](const QUrl &) {};
    static inline QString service = QStringLiteral("org.freedesktop.FileManager1");
    // How long the file manager may take to answer before the folder opens instead, in ms. A
    // file manager that starts on demand needs a moment; a hung one must not leave the click
    // without effect.
    static inline int timeout = 4000;

    static void revealFiles(const QList<QUrl> &files);
    // The folder that holds the file, as a file URL.
    static QUrl folderOf(const QUrl &file);
};
