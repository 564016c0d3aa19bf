#include "platform/DropSource.h"

namespace vyo {

DropSource::~DropSource() = default;

} // namespace vyo
