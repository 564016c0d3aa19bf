#include "platform/fake/FakeFileManager.h"

namespace vyo {

bool FakeFileManager::open(const QUrl &url)
{
    if (!m_openSucceeds)
        return false;
    m_opened.append(url);
    return true;
}

void FakeFileManager::clear()
{
    m_revealed.clear();
    m_opened.clear();
    m_openSucceeds = true;
}

} // namespace vyo
