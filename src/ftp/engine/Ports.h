#pragma once
// What a connection carries for the operations run on it: the status log the engine writes
// to, and the ports the layers above use (see ftp/UiPorts.h). Every pointer may be null
// (nothing happens).

#include "ftp/engine/EventPump.h"

#include <string>
#include <vector>

namespace oxlip {

struct ProgressView; // ftp/UiPorts.h

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

struct SessionPorts {
    StatusLog* log = nullptr;
    ProgressView* progress = nullptr;
    EventPump* pump = nullptr;
    // The program-wide ASCII extension list, read anew by every automatic transfer.
    const std::vector<std::string>* asciiExtensions = nullptr;
};

} // namespace oxlip
