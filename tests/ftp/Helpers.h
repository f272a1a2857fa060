#pragma once
// Small helpers shared by the engine tests: local folder contents, counts, and the driver run
// as a program.

#include "UiRecorder.h"
#include "ftp/Session.h"
#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace oxlip::test {

// Runs the operation and cancels it from inside the event pump, as the window's button would,
// once `when` holds; the session's cancel flag is cleared afterwards.
template <class When, class Operation>
Status CancelWhen(Session& session, UiRecorder& ui, When when, Operation operation) {
    ui.also = [&] {
        if (when()) {
            session.requestCancel();
        }
    };
    Status status = operation();
    ui.also = nullptr;
    session.clearCancel();
    return status;
}

inline bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

inline long CountPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
}

// The paths in a local folder relative to it, sorted; with deep, everything below it.
inline std::vector<std::string> LocalNames(const std::string& folder, bool deep = false) {
    namespace fs = std::filesystem;
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator() && out.size() < 10000; it.increment(ec)) {
        out.push_back(it->path().lexically_relative(folder).string());
        if (!deep) {
            it.disable_recursion_pending();
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The names of a host folder; empty when the listing failed.
inline std::vector<std::string> HostNames(Session& session, const std::string& folder) {
    std::vector<DirEntry> entries;
    std::vector<std::string> names;
    if (session.client()->list(folder, entries)) {
        for (const DirEntry& entry : entries) {
            names.push_back(entry.name);
        }
    }
    return names;
}

inline std::string Quote(const std::string& arg) {
    std::string out = "'";
    for (char c : arg) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

struct ToolResult {
    int status = -1;
    std::string out;
    std::string err;
};

// The driver run with the arguments and input; prefix (assignments, a wrapper) goes before it.
inline ToolResult RunTool(const std::vector<std::string>& args, const std::string& input = "",
                          const std::string& prefix = "timeout 60") {
    TempDir io;
    WriteFileBytes(io.file("in"), input);
    std::string command = prefix + " " + Quote(OXLIP_FTP_TOOL);
    for (const auto& arg : args) {
        command += " " + Quote(arg);
    }
    command +=
        " <" + Quote(io.file("in")) + " >" + Quote(io.file("out")) + " 2>" + Quote(io.file("err"));
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileBytes(io.file("out")),
            ReadFileBytes(io.file("err"))};
}

} // namespace oxlip::test
