#pragma once
// The directory entry record shared by local and host listings.

#include <cstdint>
#include <cstdio>
#include <string>

namespace oxlip {

// A point in time as 100-nanosecond ticks since 1601-01-01 00:00:00 (UTC or local, as the
// producer says). Zero means "no time".
struct FileTime {
    uint64_t ticks = 0;
    friend bool operator==(const FileTime&, const FileTime&) = default;
};

// Ticks between 1601-01-01 and 1970-01-01.
constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;
constexpr uint64_t kFileTimeTicksPerSecond = 10000000ULL;

struct DirEntry {
    bool directory = false; // a folder (also set on a link known to lead to a folder)
    bool link = false;      // a symbolic link
    FileTime modified;
    uint64_t size = 0;
    // Host entries: the permission bits as a mode (rwxr-xr-x is 0755); 0 when not given.
    uint32_t permissions = 0;
    std::string name; // UTF-8, no length limit

    friend bool operator==(const DirEntry&, const DirEntry&) = default;
};

// The permission bits as octal digits, as the permissions column and dialog show them ("755";
// "0" for none).
inline std::string PermissionDigits(uint32_t permissions) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%o", permissions);
    return digits;
}

} // namespace oxlip
