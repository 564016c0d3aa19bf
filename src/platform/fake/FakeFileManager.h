#pragma once

// A file manager that records what it is asked to reveal and open; opening succeeds unless the
// test says otherwise.

#include "platform/FileManager.h"

namespace vyo {

class FakeFileManager final : public FileManager
{
public:
    void reveal(const QList<QUrl> &urls) override { m_revealed.append(urls); }
    bool open(const QUrl &url) override;

    // Each reveal's files, in the order asked.
    QList<QList<QUrl>> revealed() const { return m_revealed; }
    // What was opened successfully, in order.
    QList<QUrl> opened() const { return m_opened; }
    // Makes later opens fail as if no application could be started.
    void setOpenSucceeds(bool succeeds) { m_openSucceeds = succeeds; }
    void clear();

private:
    QList<QList<QUrl>> m_revealed;
    QList<QUrl> m_opened;
    bool m_openSucceeds = true;
};

} // namespace vyo
