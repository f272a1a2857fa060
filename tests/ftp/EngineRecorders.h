#pragma once
// Plain recorders of the status log and the event pump for the engine tests.

#include "ftp/UiPorts.h"

#include <functional>
#include <string>
#include <vector>

namespace oxlip::test {

struct LogLines : StatusLog {
    std::vector<std::string> lines;
    void append(const std::string& line) override { lines.push_back(line); }
};

struct PumpCounter : EventPump {
    int count = 0;
    std::function<void()> also; // runs inside the pump, as a window's handler would
    void pump() override {
        ++count;
        if (also) {
            also();
        }
    }
};

} // namespace oxlip::test
