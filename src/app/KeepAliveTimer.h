#pragma once
// Keeps an idle connection alive: NOOP every interval while nothing else uses the connection,
// so that neither the server's idle time-out nor a router drops it.

#include "core/Status.h"
#include "ftp/Session.h"

#include <QTimer>

#include <functional>

namespace oxlip {

class KeepAliveTimer {
public:
    // idle: whether the connection may take a command now; send: sends the NOOP.
    KeepAliveTimer(std::function<bool()> idle, std::function<void()> send);

    // Every `seconds` of idleness from now on; 0 is off.
    void start(int seconds);
    void stop() { timer_.stop(); }
    // The connection was just used: the interval counts anew from now.
    void restart();
    bool active() const { return timer_.isActive(); }

private:
    QTimer timer_;
    std::function<bool()> idle_;
    std::function<void()> send_;
};

} // namespace oxlip
