#pragma once
// Recorders of the user-interface ports: every call becomes one line of one shared journal,
// so tests can check both what was shown and in which order.

#include "ftp/UiPorts.h"

#include <string>
#include <vector>

namespace oxlip::test {

// "skip unsafe|failed-link|folder-link PATH": an entry a tree transfer left out.
inline std::string SkipLine(SkippedEntry why, const std::string& path) {
    const char* kind = why == SkippedEntry::UnsafeName   ? "unsafe"
                       : why == SkippedEntry::FailedLink ? "failed-link"
                                                         : "folder-link";
    return std::string("skip ") + kind + " " + path;
}

class UiRecorder : public StatusLog, public ProgressView, public EventPump {
public:
    void append(const std::string& line) override {
        logLines.push_back(line);
        journal.push_back("log " + line);
    }
    void skipped(SkippedEntry why, const std::string& path) override {
        journal.push_back(SkipLine(why, path));
    }
    void setItemText(const std::string& text) override { journal.push_back("item " + text); }
    void setModeText(const std::string& text) override { journal.push_back("mode " + text); }
    void clearBar() override { journal.push_back("clear"); }
    void setBar(int64_t done, int64_t expected) override {
        journal.push_back("bar " + std::to_string(done) + "/" + std::to_string(expected));
    }
    void setCountText(const std::string& text) override { journal.push_back("count " + text); }
    void pump() override { ++pumps; }

    SessionPorts ports() {
        SessionPorts p;
        p.log = this;
        p.progress = this;
        p.pump = this;
        p.asciiExtensions = &asciiExtensions;
        return p;
    }
    // The journal lines that start with the prefix, in order.
    std::vector<std::string> lines(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& line : journal) {
            if (line.compare(0, prefix.size(), prefix) == 0) {
                out.push_back(line);
            }
        }
        return out;
    }

    std::vector<std::string> journal;
    std::vector<std::string> logLines;
    std::vector<std::string> asciiExtensions = {"HTML", "HTM", "TXT", "CGI", "PL", "CSS"};
    int pumps = 0;
};

} // namespace oxlip::test
