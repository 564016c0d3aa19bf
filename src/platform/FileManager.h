#pragma once

// The desktop's file manager and default applications: revealing files and opening them.

#include <QList>
#include <QUrl>

namespace vyo {

class FileManager
{
public:
    virtual ~FileManager() = default;

    // Shows the files selected in a file-manager window; where no file manager answers, their
    // folders are opened instead, each folder once. Returns at once.
    virtual void reveal(const QList<QUrl> &urls) = 0;
    // Opens the file or folder with the user's default application for it; false when none
    // could be started.
    virtual bool open(const QUrl &url) = 0;

    // The folders that stand in for the files when they cannot be revealed: each file's folder,
    // once, in the order of the files.
    static QList<QUrl> parentFolders(const QList<QUrl> &urls);
};

} // namespace vyo
