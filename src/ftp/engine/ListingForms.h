#pragma once
// Shared pieces of the listing parsers: text helpers, the blank-separated tokens of a line,
// the date reader and the parsers of each server family. Used only by the ListingParser*
// and Listing* sources.

#include "ftp/engine/ListingParser.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace oxlip::ftp::listing {

using std::string_view;

inline bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

inline char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool EqualsNoCase(string_view a, string_view b);
bool StartsWithNoCase(string_view text, string_view prefix);
bool AllDigits(string_view text);
// Decimal digits only; nullopt when empty, not digits or beyond 64 bits.
std::optional<uint64_t> ParseUnsigned(string_view text);
// A small field of 1 to 4 digits (day, month, hour, year ...); -1 when it is not one.
int SmallNumber(string_view text);

bool IsValidDate(int year, int month, int day);
// A civil time as ticks; a leap second is the last second of its minute, and 24:00 is the
// start of the next day.
FileTime CivilTicks(int year, int month, int day, int hour, int minute, int second);
// "hh:mm" or "hh:mm:ss" (also "hh:mm:ss.cc") with one- or two-digit hours; "24:00" is the
// end of the day.
bool ParseClock(string_view text, int& hour, int& minute, int& second);
// The year of a date listed without one: this year, or last year when that would put it more
// than a day ahead of now (or the next year when that is within a day, just after New Year
// on a server ahead of us).
int YearFor(int month, int day, int hour, int minute, const CivilTime& now);
// A month name or abbreviation in one of the languages and encodings servers use; 0 if none.
// A final "." or "," is allowed.
int MonthFromWord(string_view word);
// A weekday name or abbreviation (without a final mark); 0 if none.
int FindWeekday(string_view word);
// The word without one final "." or ",".
string_view WithoutFinalMark(string_view word);
// The mark after the digits of a Japanese, Chinese or Korean year, month or day at the start
// of text (UTF-8, CP932, EUC-JP, GBK, Big5, EUC-KR), and its length in bytes.
enum class CjkUnit { None, Year, Month, Day };
CjkUnit CjkSuffixAt(string_view text, std::size_t& length);

struct Token {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// The first blank-separated tokens of a line, enough to reach the name.
struct Tokens {
    static constexpr std::size_t kMax = 16;
    string_view line;
    std::array<Token, kMax> at;
    std::size_t count = 0;

    explicit Tokens(string_view text);
    string_view text(std::size_t k) const {
        return line.substr(at[k].begin, at[k].end - at[k].begin);
    }
    // Everything after token k and the one blank that follows it ("" when nothing is left).
    string_view after(std::size_t k) const {
        const std::size_t begin = at[k].end + 1;
        return begin < line.size() ? line.substr(begin) : string_view();
    }
    // Everything from token k on.
    string_view from(std::size_t k) const { return line.substr(at[k].begin); }
};

namespace date {
// One part of a date as one token gives it.
enum class Kind : uint8_t { None, Weekday, Month, Day, Year, Number, Clock, Date, MonthDay };

struct Part {
    Kind kind = Kind::None;
    int year = 0, month = 0, day = 0; // Number keeps its value in day, Clock in year/month/day
    std::size_t digits = 0;
    bool comma = false;   // a "," after it (VShell: "Oct 08, 2002 09:47")
    bool marked = false;  // a year or day with its own mark ("2003年", "2024.", "18日")
    bool seconds = false; // a clock with seconds
};
} // namespace date

// Reads listed dates (with or without a clock and a year) from the tokens of one line:
// English month names first ("Mar 15 10:30", "Mar 15 2024"), then every other form (month
// names of other languages and encodings, day first, year first, numeric dates in any order
// and separator, Japanese, Chinese and Korean dates). Each token is looked at once.
class DateReader {
public:
    static constexpr std::size_t kMaxDateTokens = 5;
    explicit DateReader(const Tokens& tokens) : tokens_(tokens) {}
    // The tokens used by the date at token i (0 when there is none) and its time.
    std::size_t Read(std::size_t i, const CivilTime& now, FileTime& time);
    // Token k as a part of a date.
    const date::Part& PartAt(std::size_t k);

private:
    const Tokens& tokens_;
    std::array<date::Part, Tokens::kMax> parts_;
    std::array<bool, Tokens::kMax> known_{};
};

// A date in one token ("2024-03-15", "03/15/24", "15.03.2024", "15-MAR-2024", "Feb-28-1998",
// "2003年4月18日"); false when the token is not one, or has no year.
bool ReadDateToken(string_view text, int& year, int& month, int& day);

// The parsed record of one line, and whether its time is UTC (MLSD facts, EPLF, epoch
// seconds) rather than the server's wall clock.
struct Parsed {
    DirEntry entry;
    bool utc = false;
};

// An entry with a name (nullopt when the name is empty), a folder or a file.
std::optional<Parsed> Entry(string_view name, bool folder, uint64_t size, FileTime time);

// Family parsers: each takes a line without its line end and without NUL.
std::optional<Parsed> ParseUnix(string_view line, const CivilTime& now);
std::optional<Parsed> ParseDos(string_view line);
std::optional<Parsed> ParseEplf(string_view line);
std::optional<Parsed> ParseVms(string_view line);
std::optional<Parsed> ParseMainframe(string_view line); // MVS datasets and members, AS/400
std::optional<Parsed> ParseOther(string_view line, const CivilTime& now); // OS/2, OS-9, routers
// A VMS name alone on its line ("LONG_NAME.TXT;3"): its details follow on the next line.
bool IsVmsNameAlone(string_view line);

} // namespace oxlip::ftp::listing
