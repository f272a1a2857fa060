#pragma once
// The recording event sink: every event a line of one journal; log lines also in logLines.

#include "ftp/UiPorts.h"

#include <algorithm>
#include <array>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace oxlip::test {

// The event's name, then its subject and detail ("cancelled 1", "skip unsafe PATH").
inline std::string EventLine(const LogEvent& event) {
    static const auto kNames = std::to_array<const char*>(
        {"connecting", "connected", "tls", "tls-fell-back", "logging-in", "logged-in", "lost",
         "cancelled", "reconnected", "data-fell-back", "final-reply-lost", "skip unsafe",
         "skip failed-link", "skip folder-link", "extra-refused"});
    std::string line = kNames.at(static_cast<std::size_t>(event.kind));
    for (const std::string* part : {&event.subject, &event.detail}) {
        if (!part->empty()) {
            line += " " + *part;
        }
    }
    return line;
}

class UiRecorder : public EventSink {
public:
    void log(const LogEvent& event) override {
        const std::string line = EventLine(event);
        if (line.compare(0, 5, "skip ") == 0) {
            journal.push_back(line);
        } else {
            logLines.push_back(line);
            journal.push_back("log " + line);
        }
    }
    // "item NAME receive|send|delete", "mode ascii|binary", "clear" (the empty bar), "bar D/T".
    static std::string Ratio(int64_t done, int64_t all) {
        return std::to_string(done) + "/" + std::to_string(all);
    }
    void progress(const ProgressEvent& event) override {
        switch (event.phase) {
        case ProgressPhase::Receiving:
        case ProgressPhase::Sending:
            journal.push_back("item " + event.name +
                              (event.phase == ProgressPhase::Receiving ? " receive" : " send"));
            journal.push_back(event.mode == TransferMode::Ascii ? "mode ascii" : "mode binary");
            break;
        case ProgressPhase::Deleting:
            journal.push_back("item " + event.name + " delete");
            break;
        case ProgressPhase::Started:
            journal.push_back("clear");
            break;
        case ProgressPhase::Bytes:
            journal.push_back("bar " + Ratio(event.done, event.total));
            break;
        case ProgressPhase::Tree: // "tree FILES-DONE/FILES BYTES-DONE/BYTES"
            journal.push_back("tree " + Ratio(event.filesDone, event.files) + " " +
                              Ratio(event.done, event.total));
            break;
        }
    }
    void pump() override {
        ++pumps;
        if (also) {
            also();
        }
    }

    SessionPorts ports() { return {.sink = this, .asciiExtensions = &asciiExtensions}; }
    std::vector<std::string> lines(const std::string& prefix) const {
        std::vector<std::string> out;
        std::copy_if(journal.begin(), journal.end(), std::back_inserter(out),
                     [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
        return out;
    }

    std::vector<std::string> journal;
    std::vector<std::string> logLines;
    std::vector<std::string> asciiExtensions = {"HTML", "HTM", "TXT", "CGI", "PL", "CSS"};
    int pumps = 0;
    std::function<void()> also; // runs inside the pump, as a window's handler would
};

} // namespace oxlip::test
