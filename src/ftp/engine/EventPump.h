#pragma once
// Called while the engine waits on the network (at least every 50 ms) and where the window's
// commands pump events. The window implements it; tests count the calls.

namespace oxlip {

struct EventPump {
    virtual ~EventPump() = default;
    virtual void pump() = 0;
};

} // namespace oxlip
