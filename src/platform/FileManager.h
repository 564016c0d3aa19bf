#pragma once

// The desktop's file manager and default applications: revealing files and opening them.

#include <QList>
#include <QUrl>

namespace vyo {

class FileManager
{
public:
    // Shows the files selected in a file-manager window: one D-Bus
    // org.freedesktop.FileManager1.ShowItems call for all of them. When no file manager answers,
    // their folders are opened instead, each folder once. Returns at once; the answer is awaited
    // on the calling thread's event loop.
    static void reveal(const QList<QUrl> &urls);

    // Opens the file or folder with the user's default application for it; false when none
    // could be started.
    static bool open(const QUrl &url);

    // The folders that stand in for the files when they cannot be revealed: each file's folder,
    // once, in the order of the files.
    static QList<QUrl> parentFolders(const QList<QUrl> &urls);
};

} // namespace vyo
