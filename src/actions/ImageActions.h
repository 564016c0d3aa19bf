#pragma once

// The image actions: converting one image to JPEG and shrinking one image to a long side. Each
// writes its result into a fresh output folder; safe on any thread.

#include "actions/QuickAction.h"

#include <QImage>
#include <QString>

namespace vyo::ImageActions {

// The JPEG quality of every lossy result (0.85).
inline constexpr int jpegQuality = 85;

// The first image of the file, orientation applied and transparency put on white, as
// "<name>.jpg". Fails with `unreadable` or `writeFailed`.
QuickAction::Result makeJPEG(const QString &path);

// The first image of the file, orientation applied, scaled so that its long side is exactly
// `longSide`, as "<name> (<longSide>px).<extension>" in the source's own format when Qt can write
// it, else PNG. Fails with `unreadable`, `alreadySmall` (the long side is not larger than
// `longSide`: images are never enlarged) or `writeFailed`.
QuickAction::Result makeResized(const QString &path, int longSide);

// The image with transparent parts put on white (JPEG has no transparency); opaque images as
// they are.
QImage flattenedOntoWhite(const QImage &image);

} // namespace vyo::ImageActions
