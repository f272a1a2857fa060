#pragma once
// Path, name and display-format helpers shared by both panes and the FTP layer.

#include "localfs/DirEntry.h"

#include <cstdint>
#include <string>

namespace oxlip {

// The text before the first NUL; the whole text when it holds none.
std::string TrimAtNul(const std::string& text);

// Size column text: "0KB" for 0 or less, "1KB" below 1024, otherwise whole kilobytes
// (remainder dropped) grouped by thousands with ",": 5,000,000,000 gives "4,882,812KB".
std::string FormatSizeKB(int64_t bytes);

// "2003/04/05 9:05:07" (date, one blank, time without leading zero on the hour).
// The time is shown as given: no zone conversion here. A time past 9999/12/31 23:59:59 has
// no four-digit year and gives an empty text.
std::string FormatFileTime(const FileTime& time);

// Text after the last "." anywhere in the text; empty when there is none.
std::string GetExtension(const std::string& text);

// Text after the last separator; empty when there is none.
std::string GetNamePart(const std::string& path, char separator);

// Parent folder ending in the separator; a root is its own parent.
std::string GetParentPath(const std::string& path, char separator);

// Wildcard match of a name against a pattern with * and ?, exact otherwise (case-sensitive);
// "*.*" matches every name, with or without a dot.
bool MatchesWildcard(const std::string& name, const std::string& pattern);

// Conversions between FileTime and Unix time (seconds, nanoseconds), and UTC to local.
FileTime FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds = 0);
int64_t UnixFromFileTime(const FileTime& time);
// The UTC time turned into the local time of this machine (zone rules of the moment).
FileTime FileTimeToLocalFileTime(const FileTime& utc);
// A broken-down civil time (no zone) as ticks; month 1-12, day 1-31.
FileTime FileTimeFromCivil(int year, int month, int day, int hour, int minute, int second);

} // namespace oxlip
