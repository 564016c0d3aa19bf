#pragma once

// The file manager of a freedesktop session: reveals through one D-Bus
// org.freedesktop.FileManager1.ShowItems call for all the files (the answer is awaited on the
// calling thread's event loop), falling back to opening their folders when no file manager
// answers; opens through the user's default applications (xdg-open and the like, via Qt).

#include "platform/FileManager.h"

namespace vyo {

class FreedesktopFileManager final : public FileManager
{
public:
    void reveal(const QList<QUrl> &urls) override;
    bool open(const QUrl &url) override;
};

} // namespace vyo
