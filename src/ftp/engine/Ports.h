#pragma once
// How the core talks back: typed events to a sink that the user interface implements (the
// window words them in its language, the command-line driver in English, tests record them),
// and what a connection carries for the operations run on it. The engine reports through them,
// so they live here; ftp/UiPorts.h adds nothing the engine needs. A null sink is allowed:
// nothing is told and nothing is pumped.

#include "core/Status.h"
#include "ftp/engine/EventPump.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace oxlip {

enum class LogKind {
    Connecting,             // subject: the server as given ("host", "host:port")
    Connected,              // the control connection is up
    TlsEstablished,         // the session is encrypted: subject the protocol, detail the cipher
    TlsFellBack,            // the server offers no encryption; the session goes on in the clear
    LoggingIn,              // the user name and password are being checked
    LoggedIn,               // the login went through
    ConnectionLost,         // the control connection of an open session went
    Cancelled,              // the user stopped a tree transfer: subject the items done before
    Reconnected,            // the lost connection was made again: subject the folder returned to
    DataFellBack,           // EPSV data connections failed: PASV from now on
    FinalReplyLost,         // the file arrived whole but its final reply did not: subject the file
    UnsafeNameSkipped,      // a tree transfer left out a name no path may be built from: a failure
    FailedLinkSkipped,      // a tree transfer could not transfer a link: a failure
    FolderLinkSkipped,      // a tree transfer left a link to a folder alone: no failure
    ExtraConnectionRefused, // a tree transfer could not open one more connection and goes on
                            // with those it has: subject the server's reply or the reason
};

struct LogEvent {
    LogKind kind;
    // Connecting: the server; TlsEstablished: the protocol ("TLS 1.3"); the skipped kinds:
    // where the entry is, made safe to show (control characters and bytes that are no text
    // as \xNN).
    std::string subject;
    std::string detail; // TlsEstablished: the cipher suite
};

enum class ProgressPhase {
    Receiving, // a download of the item starts
    Sending,   // an upload of the item starts
    Deleting,  // the item is being deleted
    Started,   // the transfer's data begins to move: an empty bar for total bytes
    Bytes,     // done of total bytes have moved (told at most every 50 ms, and at the end)
    Tree,      // a tree over several connections: files and bytes done of those found so far
};

struct ProgressEvent {
    ProgressPhase phase;
    std::string name;                         // Receiving, Sending, Deleting: the item's name
    TransferMode mode = TransferMode::Binary; // Receiving, Sending: Ascii or Binary
    int64_t done = 0;
    int64_t total = 0; // 0 when unknown
    // A file of a tree moved over several connections: its number, from 1 in the order the
    // files start, on each of its events (their events interleave). 0 on one connection.
    // Tree: the number of the file just done, 0 when none is.
    int file = 0;
    // Tree: the files done and found so far (the walk is still finding files while the first
    // ones move, so the total grows until it ends); done and total are the tree's bytes.
    int64_t filesDone = 0;
    int64_t files = 0;
};

struct EventSink : EventPump {
    virtual void log(const LogEvent& event) = 0;
    virtual void progress(const ProgressEvent& event) = 0;
};

// What a connection carries for the operations run on it.
struct SessionPorts {
    EventSink* sink = nullptr;
    // The program-wide ASCII extension list, read anew by every automatic transfer.
    const std::vector<std::string>* asciiExtensions = nullptr;
    // Raised (from the event pump, another thread or a signal handler) to stop the running
    // operation: a transfer sends ABOR and ends with Cancelled, a tree stops after the current
    // item. Whoever raises it lowers it before the next operation. Null: nothing cancels.
    std::atomic<bool>* cancel = nullptr;
};

inline bool CancelRequested(const SessionPorts& ports) {
    return ports.cancel && ports.cancel->load();
}

inline void Tell(const SessionPorts& ports, LogKind kind, std::string subject = {},
                 std::string detail = {}) {
    if (ports.sink) {
        ports.sink->log(LogEvent{kind, std::move(subject), std::move(detail)});
    }
}

inline void Show(const SessionPorts& ports, const ProgressEvent& event) {
    if (ports.sink) {
        ports.sink->progress(event);
    }
}

inline void Pump(const SessionPorts& ports) {
    if (ports.sink) {
        ports.sink->pump();
    }
}

} // namespace oxlip
