#pragma once
// The small interfaces through which the core reaches the user interface. The window
// implements them; tests use recorders. Every pointer may be null (nothing happens).
// The status log, the event pump and what a connection carries live with the engine, which
// uses them (ftp/engine/Ports.h).

#include "ftp/engine/Ports.h"

#include <cstdint>
#include <string>

namespace oxlip {

// The progress window: item line, transfer-mode line, the bar and the byte-count line.
struct ProgressView {
    virtual ~ProgressView() = default;
    virtual void setItemText(const std::string& text) = 0; // first line
    virtual void setModeText(const std::string& text) = 0; // second line
    virtual void clearBar() = 0;                           // empty and show the bar
    virtual void setBar(int64_t done, int64_t expected) = 0;
    virtual void setCountText(const std::string& text) = 0; // "1,234KB / 5,678KB"
};

} // namespace oxlip
