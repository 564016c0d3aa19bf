#include "platform/FileAttributes.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace vyo {

std::optional<FileAttributes> fileAttributes(const QString &path)
{
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    FileAttributes attributes;
    if (S_ISREG(info.st_mode))
        attributes.type = FileAttributes::Type::regular;
    else if (S_ISDIR(info.st_mode))
        attributes.type = FileAttributes::Type::directory;
    else if (S_ISLNK(info.st_mode))
        attributes.type = FileAttributes::Type::symbolicLink;
    attributes.size = static_cast<qint64>(info.st_size);
    return attributes;
}

bool isExistingFolder(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

} // namespace vyo
