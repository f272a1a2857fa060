#pragma once
// Pure parsers of directory listings: MLSD/MLST facts, the Unix "ls -l" forms and the
// DOS/IIS form. Names come out as the raw bytes the server sent (decoding is the engine's).

#include "localfs/DirEntry.h"

#include <optional>
#include <string>
#include <vector>

namespace oxlip::ftp {

// The current civil time (no zone) that "Mon dd hh:mm" listings are placed against.
struct CivilTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

constexpr std::size_t kMaxListingLine = 64 * 1024;

// One MLSD/MLST facts line ("type=file;size=12;modify=20240101120000; name"). Times are UTC.
// nullopt for lines that are not entries.
std::optional<DirEntry> ParseMlsdLine(const std::string& line);
// One LIST line (Unix or DOS form). Times stay as listed. nullopt for "total 12", blank lines
// and anything that is not an entry.
std::optional<DirEntry> ParseListLine(const std::string& line, const CivilTime& now);

// A whole listing body: lines end in CR LF, LF or CR; lines longer than kMaxListingLine are
// skipped. mlsd chooses the MLSD parser (entries of type cdir/pdir are dropped).
std::vector<DirEntry> ParseListing(const std::string& body, bool mlsd, const CivilTime& now);

} // namespace oxlip::ftp
