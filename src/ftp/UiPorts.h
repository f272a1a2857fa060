#pragma once
// The small interfaces through which the core reaches the user interface. The window
// implements them; tests use recorders. Every pointer may be null (nothing happens).

#include <cstdint>
#include <string>
#include <vector>

namespace oxlip {

// Why a tree transfer left an entry out.
enum class SkippedEntry {
    UnsafeName, // a name no path may be built from ("/", "..", line breaks, NUL): a failure
    FailedLink, // a link that could not be transferred: a failure
    FolderLink, // a link to a folder, which a walk never enters: no failure
};

struct StatusLog {
    virtual ~StatusLog() = default;
    virtual void append(const std::string& line) = 0;
    // A tree transfer left an entry out; path is where it is, made safe to show (control
    // characters and bytes that are no text as \xNN). The window writes a line of its own.
    virtual void skipped(SkippedEntry why, const std::string& path) {
        (void)why;
        (void)path;
    }
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
