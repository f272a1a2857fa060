#pragma once
// Pure parsers of directory listings: MLSD/MLST facts and the LIST forms of every common
// server family (Unix "ls -l" with localized dates and its variants, DOS/Windows, VMS, MVS,
// AS/400, NetWare, EPLF, OS/2, OS-9, VShell, routers). Names come out as the raw bytes the
// server sent (decoding is the engine's); only the digits and month words of dates are read.

#include "localfs/DirEntry.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oxlip::ftp {

// The current civil time (no zone) that "Mon dd hh:mm" listings are placed against, and its
// offset from UTC: the few LIST forms that give UTC times (EPLF, epoch seconds, facts lines)
// are moved by it to the wall clock the other forms show.
struct CivilTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    int utcOffsetMinutes = 0;
};

constexpr std::size_t kMaxListingLine = 64 * 1024;

// One MLSD/MLST facts line ("type=file;size=12;modify=20240101120000; name"). The time in the
// record is UTC (the caller turns it into local time). Entries of type cdir/pdir come out as
// folders; a link (OS.unix=slink / symlink) is marked as a link only. Permission bits come from
// UNIX.mode. nullopt for lines that are not entries.
std::optional<DirEntry> ParseMlsdLine(const std::string& line);
// One LIST line of any form. Times stay as listed; a date without a year is this year, or last
// year when it would be more than a day ahead of now. nullopt for "total 12", headings, blank
// lines, facts lines of the current or parent folder and anything that is not an entry. A VMS
// entry wrapped onto two lines is an entry only in a body (ParseListing, ListingAccumulator).
std::optional<DirEntry> ParseListLine(const std::string& line, const CivilTime& now);

// A whole listing body: lines end in CR LF, LF or CR; lines longer than kMaxListingLine are
// skipped. mlsd chooses the MLSD parser (entries of type cdir/pdir are dropped).
std::vector<DirEntry> ParseListing(const std::string& body, bool mlsd, const CivilTime& now);

// Splits a body that arrives in pieces into lines (CR LF, LF or CR), holding at most
// kMaxListingLine bytes: a longer line is dropped whole and never held in memory.
class ListingLineSplitter {
public:
    void Feed(std::string_view data, const std::function<void(const std::string&)>& onLine);
    // Hands over the last line when the body did not end with a line end.
    void Finish(const std::function<void(const std::string&)>& onLine);

private:
    std::string pending_;
    bool overlong_ = false;
    bool afterCr_ = false;
};

// ParseListing for a body that arrives in pieces: Feed each piece, then Finish once.
class ListingAccumulator {
public:
    ListingAccumulator(bool mlsd, const CivilTime& now);
    void Feed(std::string_view data);
    std::vector<DirEntry> Finish();

private:
    void addLine(const std::string& line);
    void addEntryOf(const std::string& line);

    bool mlsd_;
    CivilTime now_;
    ListingLineSplitter splitter_;
    std::vector<DirEntry> entries_;
    std::string vmsName_; // a VMS name whose details are on the next line
};

} // namespace oxlip::ftp
