#pragma once

// Helpers of the folder-watching tests: files written the way programs write them.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <fcntl.h>
#include <unistd.h>

namespace vyo::test {

// Appends bytes to a file, creating it; false on error.
inline bool appendToFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(bytes) == bytes.size();
}

// Creates an empty file; false on error.
inline bool touchFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

// A second name for the same file (a hard link). Writing through it changes the file without any
// event in the first name's folder.
inline bool hardLink(const QString &existing, const QString &newPath)
{
    return ::link(QFile::encodeName(existing).constData(),
                  QFile::encodeName(newPath).constData()) == 0;
}

// Creates a file whose name is raw bytes in `folder` (names that are not valid UTF-8).
inline bool writeRawName(const QString &folder, const QByteArray &name, const QByteArray &bytes)
{
    const QByteArray path = QFile::encodeName(folder) + '/' + name;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.constData(), bytes.size()) == bytes.size();
    ::close(fd);
    return ok;
}

// Removes a file whose name is raw bytes (Qt's own removal cannot name it).
inline bool removeRawName(const QString &folder, const QByteArray &name)
{
    const QByteArray path = QFile::encodeName(folder) + '/' + name;
    return ::unlink(path.constData()) == 0;
}

} // namespace vyo::test
