#pragma once

// The source of a drop on an X11 display. Qt does not say which window a drop comes from, so a
// native event filter notes it from the XDND messages (enter, position, drop) together with the
// drop's time stamp. The questions themselves go over a connection of their own, read on a worker
// thread: the main thread only sends them, and no stalled source can freeze the windows.

#include "platform/DropSource.h"

#include <QAbstractNativeEventFilter>

#include <cstdint>

struct xcb_connection_t;

namespace vyo {

class X11DropSource final : public DropSource, private QAbstractNativeEventFilter
{
public:
    X11DropSource();
    ~X11DropSource() override;

    std::optional<QString> suggestedName() override;
    void receive(const Request &request, std::function<void(const Result &)> done) override;

private:
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

    xcb_connection_t *m_connection = nullptr; // Qt's, for the filter and the suggested name
    std::uint32_t m_enterAtom = 0;
    std::uint32_t m_positionAtom = 0;
    std::uint32_t m_dropAtom = 0;
    std::uint32_t m_directSaveAtom = 0;
    // The window the current (or last) drag comes from, and the time of its drop.
    std::uint32_t m_sourceWindow = 0;
    std::uint32_t m_dropTime = 0;
};

} // namespace vyo
