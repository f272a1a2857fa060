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

} // namespace oxlip
