#include "platform/Desktop.h"

namespace vyo {

namespace {

// Touched on the main thread only.
Desktop *installed = nullptr;

} // namespace

Desktop::~Desktop() = default;

Desktop &Desktop::shared()
{
    if (installed)
        return *installed;
    static const std::unique_ptr<Desktop> session = makeSessionDesktop();
    return *session;
}

Desktop *Desktop::install(Desktop *desktop)
{
    return std::exchange(installed, desktop);
}

} // namespace vyo
