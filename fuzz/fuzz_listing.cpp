// Listing bodies and single lines in every parser. The first four bytes choose the current
// time and the piece size of the streamed parse; the rest is the body.

#include "FuzzCheck.h"
#include "ftp/engine/ListingParser.h"

#include <optional>
#include <string_view>

using namespace oxlip::ftp;

namespace {

void CheckEntries(const std::vector<oxlip::DirEntry>& entries) {
    for (const oxlip::DirEntry& e : entries) {
        FUZZ_CHECK(!e.name.empty() && e.name.size() <= kMaxListingLine);
        FUZZ_CHECK(e.name.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
        FUZZ_CHECK((e.permissions & ~0777u) == 0);
    }
}

std::string NameOf(const std::optional<oxlip::DirEntry>& entry) {
    return entry ? entry->name : std::string("(none)");
}

// Any name (without line ends or NUL) written into a line of each form comes out whole.
void CheckNamesSurvive(std::string name, const CivilTime& now) {
    std::erase_if(name, [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
    if (name.empty() || name.size() > 4096) {
        return;
    }
    for (const char* prefix :
         {"-rw-r--r--   1 owner group 5368709120 Mar  5 10:30 ",
          "drwxr-xr-x 2 0 0 4096 Dec 31  1999 ", "crw-rw-rw- 1 0 0 1, 3 Jan  1 00:00 ",
          "01-16-24  02:30PM                 1,234 ", "-rw-r--r-- 1 o g 5 15. M\xe4rz 2003 ",
          "-rw-r--r-- 1 o g 5 2024/03/15 10:30 ", "0100644 1000 1000 1234 1700000000 ",
          "15.03.2024  14:30         1.234 ", "+i1.2,m1700000000,r,s5,\t"}) {
        FUZZ_CHECK(NameOf(ParseListLine(prefix + name, now)) == name);
    }
    FUZZ_CHECK(NameOf(ParseMlsdLine("type=file;size=1;modify=20240101000000; " + name)) == name);
    // A link name is cut at the first " -> ": names that would hold one stay ambiguous.
    const std::string link = "lrwxrwxrwx 1 0 0 7 Mar 15 10:30 " + name + " -> t";
    FUZZ_CHECK((name + " -> t").find(" -> ") != name.size() ||
               NameOf(ParseListLine(link, now)) == name);
    const std::string folder = "01-16-24  02:30PM       <DIR>          " + name;
    FUZZ_CHECK(name.front() == ' ' || NameOf(ParseListLine(folder, now)) == name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) {
        return 0;
    }
    CivilTime now;
    now.year = 1601 + (data[0] << 8 | data[1]) % (9999 - 1601 + 1);
    now.month = 1 + data[2] % 12;
    now.day = 1 + (data[2] / 12) % 28;
    now.hour = data[3] % 24;
    now.minute = data[3] % 60;
    const std::size_t piece = 1 + data[3] % 97;
    const std::string body(reinterpret_cast<const char*>(data + 4), size - 4);

    for (bool mlsd : {false, true}) {
        const std::vector<oxlip::DirEntry> whole = ParseListing(body, mlsd, now);
        CheckEntries(whole);
        // The same body in pieces gives the same entries.
        ListingAccumulator accumulator(mlsd, now);
        for (std::size_t at = 0; at < body.size(); at += piece) {
            accumulator.Feed(std::string_view(body).substr(at, piece));
        }
        FUZZ_CHECK(accumulator.Finish() == whole);
    }
    // The body as one line: the line parsers agree with the listing of that one line.
    if (body.size() <= kMaxListingLine && body.find_first_of("\r\n") == std::string::npos) {
        const auto list = ParseListLine(body, now);
        const auto listed = ParseListing(body, false, now);
        FUZZ_CHECK(listed.size() == (list ? 1u : 0u) && (!list || listed[0] == *list));
        if (const auto mlsd = ParseMlsdLine(body)) {
            CheckEntries({*mlsd});
        }
    }
    CheckNamesSurvive(body, now);
    return 0;
}
