#pragma once

// The two questions the folder watcher asks of the file system about one item: its type and size
// (the item itself, not what a symbolic link points to), and whether it is a folder.

#include "logic/FileSystemEvent.h"

#include <optional>

namespace vyo {

// The attributes of the item at `path`; nothing when it cannot be read (gone, no permission).
std::optional<FileAttributes> fileAttributes(const QString &path);

// True when `path` names a folder (following symbolic links).
bool isExistingFolder(const QString &path);

} // namespace vyo
