#pragma once
// The directory entry record shared by local and host listings.

#include <cstdint>
#include <string>

namespace oxlip {

constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
// A symbolic link (set besides the folder bit when the link is known to lead to a folder).
constexpr uint32_t FILE_ATTRIBUTE_REPARSE_POINT = 0x400;

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
    uint32_t dwFileAttributes = 0;
    FileTime ftLastWriteTime;
    uint32_t nFileSizeHigh = 0;
    uint32_t nFileSizeLow = 0;
    // Host entries: Unix permission digits, one octal digit per hexadecimal digit (0x755).
    uint32_t dwReserved0 = 0;
    std::string cFileName; // UTF-8, no length limit

    uint64_t fileSize() const { return (uint64_t(nFileSizeHigh) << 32) | nFileSizeLow; }
    void setFileSize(uint64_t size) {
        nFileSizeHigh = uint32_t(size >> 32);
        nFileSizeLow = uint32_t(size & 0xffffffffu);
    }
    bool isDirectory() const { return (dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    bool isLink() const { return (dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
    friend bool operator==(const DirEntry&, const DirEntry&) = default;
};

} // namespace oxlip
