#include "app/KeepAliveTimer.h"

namespace oxlip {

KeepAliveTimer::KeepAliveTimer(std::function<bool()> idle, std::function<void()> send)
    : idle_(std::move(idle)), send_(std::move(send)) {
    QObject::connect(&timer_, &QTimer::timeout, [this]() {
        if (idle_()) {
            send_();
        }
    });
}

void KeepAliveTimer::start(int seconds) {
    if (seconds <= 0) {
        timer_.stop();
        return;
    }
    timer_.start(seconds * 1000);
}

void KeepAliveTimer::restart() {
    if (timer_.isActive()) {
        timer_.start();
    }
}

Status SendNoop(Session& session) {
    if (Status ready = CheckReady(session); !ready) {
        return ready;
    }
    FtpClient& client = *session.client();
    const int code = client.rawCommand("NOOP");
    return StatusOf(code >= 200 && code < 300, client);
}

} // namespace oxlip
