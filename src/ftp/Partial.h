#pragma once
// Downloads that did not finish keep what arrived under a fixed hidden name beside the target,
// marked with the size and time of the host file it came from, so that the next download of
// the same file can go on from there while that file is unchanged.

#include "ftp/Session.h"

#include <cstdint>
#include <optional>
#include <string>

namespace oxlip {

// The host file a partial download came from.
struct PartialSource {
    uint64_t size = 0;
    uint64_t time = 0; // FileTime ticks
    friend bool operator==(const PartialSource&, const PartialSource&) = default;
};

// ".NAME.oxlip-part" in the folder ("" or ending in "/"), the name cut short on a UTF-8
// boundary so that the whole stays within the folder's name limit.
std::string PartialPath(const std::string& folder, const std::string& name);

// Marks the open partial file with its source (an extended attribute); false when the file
// system keeps none.
bool RecordPartialSource(int fd, const PartialSource& source);
// The mark of a partial file; nothing when it has none.
std::optional<PartialSource> PartialSourceOf(int fd);
// Takes the mark off a file that is complete.
void ForgetPartialSource(int fd);

// The host file's size and time as a partial file records them; nothing when unknown.
std::optional<PartialSource> HostSource(FtpClient* hFtp, const std::string& hostPath);

// The hidden file of a single binary download: the partial file of an earlier attempt at the
// same, unchanged host file when resuming (restartAt its size), otherwise emptied. fd -1 when
// it cannot be had (a mkstemp name is used then).

struct PartialTarget {
    int fd = -1;
    std::string path;
    uint64_t restartAt = 0;
};

PartialTarget OpenPartial(FtpClient* hFtp, const std::string& hostPath, const std::string& folder,
                          const std::string& name, bool resume);

// A failed download's partial file stays when data arrived and its host file's size and time
// can be recorded; false when it is to be removed.
bool KeepPartial(FtpClient* hFtp, const std::string& hostPath, int fd, uint64_t restartAt);

} // namespace oxlip
