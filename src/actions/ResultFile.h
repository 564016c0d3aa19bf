#pragma once

// Writing one result file of a quick action: in a fresh folder of the items directory, through a
// temporary file that only takes the final name once it is complete, so that a failed write
// leaves nothing behind that looks like a result.

#include "actions/QuickAction.h"

#include <QString>

#include <functional>

class QIODevice;

namespace vyo {

// Makes a new output folder (makeDropDirectory) and writes the file named `fileName` in it by
// calling `write`, which answers whether it wrote everything. Success is `files` with the new
// file's URL; a folder that cannot be made fails with that error, a file that cannot be
// created or completed with `writeFailed` (and the empty folder is removed again).
QuickAction::Result writeResultFile(const QString &fileName,
                                    const std::function<bool(QIODevice *)> &write);

// `baseName` followed by `suffix`, with the base name shortened (at a character boundary) when
// the whole would be too long for a file name.
QString resultFileName(const QString &baseName, const QString &suffix);

// The input's name without its last extension ("photo.heic" → "photo"); a name that is nothing
// but an extension (".png") stays whole.
QString nameWithoutExtension(const QString &path);

} // namespace vyo
