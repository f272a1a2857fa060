#pragma once
// Small rules shared by the tree walks (delete, download, upload).

#include <string>

namespace oxlip {

// A walk refuses to go deeper than this many folders below its starting folder, so a tree
// that loops (through links or a misbehaving server) cannot make it recurse without end.
constexpr int kMaxTreeDepth = 64;

// The path with a final "/" (unchanged when it has one).
inline std::string WithTrailingSlash(const std::string& path) {
    if (!path.empty() && path.back() == '/') {
        return path;
    }
    return path + "/";
}

inline bool EndsWithDot(const std::string& name) {
    return !name.empty() && name.back() == '.';
}

// A name from a listing that may be joined to a folder path: not empty, not "." or "..", no
// "/" and no NUL. Anything else could name a place outside the folder.
inline bool IsPlainEntryName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

} // namespace oxlip
