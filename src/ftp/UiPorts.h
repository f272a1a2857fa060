#pragma once
// The small interfaces through which the core reaches the user interface. The window
// implements them; tests use recorders. Every pointer may be null (nothing happens).

#include <cstdint>
#include <string>
#include <vector>

namespace oxlip {

struct StatusLog {
    virtual ~StatusLog() = default;
    virtual void append(const std::string& line) = 0;
};

// The progress window: item line, transfer-mode line, the bar and the byte-count line.
struct ProgressView {
    virtual ~ProgressView() = default;
    virtual void setItemText(const std::string& text) = 0; // first line
    virtual void setModeText(const std::string& text) = 0; // second line
    virtual void clearBar() = 0;                           // empty and show the bar
    virtual void setBar(int64_t done, int64_t expected) = 0;
    virtual void setCountText(const std::string& text) = 0; // "1,234KB / 5,678KB"
};

struct EventPump {
    virtual ~EventPump() = default;
    virtual void pump() = 0;
};

// What a connection carries for the operations run on it.
struct SessionPorts {
    StatusLog* log = nullptr;
    ProgressView* progress = nullptr;
    EventPump* pump = nullptr;
    // The program-wide ASCII extension list, read anew by every automatic transfer.
    const std::vector<std::string>* asciiExtensions = nullptr;
};

} // namespace oxlip
