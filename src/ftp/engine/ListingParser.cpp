#include "ftp/engine/ListingParser.h"

#include "localfs/TextHelpers.h"

#include <array>
#include <cstdint>
#include <limits>
#include <string_view>

namespace oxlip::ftp {
namespace {

using std::string_view;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool EqualsNoCase(string_view a, string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

bool StartsWithNoCase(string_view text, string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool AllDigits(string_view text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (!IsDigit(c)) {
            return false;
        }
    }
    return true;
}

// Decimal digits only; nullopt when empty, not digits or beyond 64 bits.
std::optional<uint64_t> ParseUnsigned(string_view text) {
    if (!AllDigits(text)) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (char c : text) {
        const uint64_t digit = uint64_t(c - '0');
        if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

// A small field of 1 to 4 digits (day, month, hour, year ...); -1 when it is not one.
int SmallNumber(string_view text) {
    if (text.size() > 4 || !AllDigits(text)) {
        return -1;
    }
    int value = 0;
    for (char c : text) {
        value = value * 10 + (c - '0');
    }
    return value;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[std::size_t(month - 1)];
}

bool IsValidDate(int year, int month, int day) {
    return year >= 1601 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
           day <= DaysInMonth(year, month);
}

bool IsValidClock(int hour, int minute, int second) {
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 60;
}

FileTime CivilTicks(int year, int month, int day, int hour, int minute, int second) {
    // A leap second is shown as the last second of its minute.
    return FileTimeFromCivil(year, month, day, hour, minute, second > 59 ? 59 : second);
}

// "hh:mm" or "hh:mm:ss" with one- or two-digit hours.
bool ParseClock(string_view text, int& hour, int& minute, int& second) {
    const std::size_t colon = text.find(':');
    if (colon == string_view::npos || colon == 0 || colon > 2) {
        return false;
    }
    hour = SmallNumber(text.substr(0, colon));
    string_view rest = text.substr(colon + 1);
    second = 0;
    if (rest.size() == 5 && rest[2] == ':') {
        second = SmallNumber(rest.substr(3, 2));
        rest = rest.substr(0, 2);
    }
    if (rest.size() != 2) {
        return false;
    }
    minute = SmallNumber(rest);
    return IsValidClock(hour, minute, second);
}

int MonthFromName(string_view text) {
    static constexpr std::array<string_view, 12> kMonths = {
        "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    for (std::size_t i = 0; i < kMonths.size(); ++i) {
        if (EqualsNoCase(text, kMonths[i])) {
            return int(i) + 1;
        }
    }
    return 0;
}

string_view StripLineEnd(string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.remove_suffix(1);
    }
    return line;
}

// ---------------------------------------------------------------- MLSD facts

enum class MlsdType { File, Dir, CurrentDir, ParentDir, Link };

struct MlsdEntry {
    DirEntry entry;
    MlsdType type = MlsdType::File;
};

// "YYYYMMDDHHMMSS" with an optional fraction ".sss"; UTC. Zero ticks when malformed.
FileTime ParseMlsdTime(string_view text) {
    const std::size_t dot = text.find('.');
    const string_view whole = text.substr(0, dot);
    if (whole.size() != 14 || !AllDigits(whole)) {
        return {};
    }
    const int year = SmallNumber(whole.substr(0, 4));
    const int month = SmallNumber(whole.substr(4, 2));
    const int day = SmallNumber(whole.substr(6, 2));
    const int hour = SmallNumber(whole.substr(8, 2));
    const int minute = SmallNumber(whole.substr(10, 2));
    const int second = SmallNumber(whole.substr(12, 2));
    if (!IsValidDate(year, month, day) || !IsValidClock(hour, minute, second)) {
        return {};
    }
    FileTime time = CivilTicks(year, month, day, hour, minute, second);
    if (dot != string_view::npos) {
        const string_view fraction = text.substr(dot + 1);
        if (!AllDigits(fraction)) {
            return {};
        }
        // Ticks are 100 ns: seven fractional digits at the most.
        uint64_t ticks = 0;
        for (std::size_t i = 0; i < 7; ++i) {
            ticks = ticks * 10 + (i < fraction.size() ? uint64_t(fraction[i] - '0') : 0);
        }
        time.ticks += ticks;
    }
    return time;
}

// The low nine bits of an octal mode as three digits, one per hexadecimal digit (0755 -> 0x755).
uint32_t PermissionDigitsFromOctal(string_view text) {
    // Python-based servers (pyftpdlib) write the mode as "0o644".
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'o' || text[1] == 'O')) {
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 7) {
        return 0;
    }
    uint32_t mode = 0;
    for (char c : text) {
        if (c < '0' || c > '7') {
            return 0;
        }
        mode = mode * 8 + uint32_t(c - '0');
    }
    return ((mode >> 6) & 7) << 8 | ((mode >> 3) & 7) << 4 | (mode & 7);
}

std::optional<MlsdEntry> ParseMlsd(string_view line) {
    line = StripLineEnd(line);
    if (line.empty() || line.find('\0') != string_view::npos) {
        return std::nullopt;
    }
    // "fact=value;fact=value; name", or " name" with no facts at all.
    string_view facts;
    string_view name;
    if (line.front() == ' ') {
        name = line.substr(1);
    } else {
        const std::size_t end = line.find("; ");
        if (end == string_view::npos) {
            return std::nullopt;
        }
        facts = line.substr(0, end + 1);
        name = line.substr(end + 2);
    }
    if (name.empty()) {
        return std::nullopt;
    }

    MlsdEntry result;
    std::optional<uint64_t> size;
    std::optional<uint64_t> directorySize;
    while (!facts.empty()) {
        const std::size_t semicolon = facts.find(';');
        const string_view fact = facts.substr(0, semicolon);
        facts = semicolon == string_view::npos ? string_view() : facts.substr(semicolon + 1);
        const std::size_t equals = fact.find('=');
        if (equals == string_view::npos || equals == 0) {
            return std::nullopt; // not a facts line
        }
        const string_view key = fact.substr(0, equals);
        const string_view value = fact.substr(equals + 1);
        if (EqualsNoCase(key, "type")) {
            if (EqualsNoCase(value, "dir")) {
                result.type = MlsdType::Dir;
            } else if (EqualsNoCase(value, "cdir")) {
                result.type = MlsdType::CurrentDir;
            } else if (EqualsNoCase(value, "pdir")) {
                result.type = MlsdType::ParentDir;
            } else if (StartsWithNoCase(value, "OS.unix=slink") ||
                       StartsWithNoCase(value, "OS.unix=symlink")) {
                result.type = MlsdType::Link;
            } else {
                result.type = MlsdType::File; // "file" and device or other system types
            }
        } else if (EqualsNoCase(key, "size")) {
            size = ParseUnsigned(value);
        } else if (EqualsNoCase(key, "sizd")) {
            directorySize = ParseUnsigned(value);
        } else if (EqualsNoCase(key, "modify")) {
            result.entry.ftLastWriteTime = ParseMlsdTime(value);
        } else if (EqualsNoCase(key, "UNIX.mode")) {
            result.entry.dwReserved0 = PermissionDigitsFromOctal(value);
        }
    }
    switch (result.type) {
    case MlsdType::Dir:
    case MlsdType::CurrentDir:
    case MlsdType::ParentDir:
        result.entry.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
        break;
    case MlsdType::Link:
        // Where the link leads is not said; it is marked as a link only.
        result.entry.dwFileAttributes = FILE_ATTRIBUTE_REPARSE_POINT;
        break;
    case MlsdType::File:
        break;
    }
    result.entry.setFileSize(size ? *size : directorySize.value_or(0));
    result.entry.cFileName = std::string(name);
    return result;
}

// ---------------------------------------------------------------- Unix "ls -l"

struct Token {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// The first blank-separated tokens of a line (enough to reach the date column).
constexpr std::size_t kMaxTokens = 16;

std::size_t Tokenize(string_view line, std::array<Token, kMaxTokens>& tokens) {
    std::size_t count = 0;
    std::size_t pos = 0;
    while (count < kMaxTokens) {
        while (pos < line.size() && line[pos] == ' ') {
            ++pos;
        }
        if (pos >= line.size()) {
            break;
        }
        const std::size_t begin = pos;
        while (pos < line.size() && line[pos] != ' ') {
            ++pos;
        }
        tokens[count++] = Token{begin, pos};
    }
    return count;
}

// "drwxr-xr-x", optionally followed by an ACL or security-context mark ("+", ".", "@").
// Fills the type letter and the permission digits.
bool ParseUnixMode(string_view text, char& type, uint32_t& digits) {
    if (text.size() == 11 && (text[10] == '+' || text[10] == '.' || text[10] == '@')) {
        text.remove_suffix(1);
    }
    if (text.size() != 10) {
        return false;
    }
    type = text[0];
    if (string_view("-dlcbpsD").find(type) == string_view::npos) {
        return false;
    }
    digits = 0;
    for (int group = 0; group < 3; ++group) {
        const char r = text[std::size_t(1 + group * 3)];
        const char w = text[std::size_t(2 + group * 3)];
        const char x = text[std::size_t(3 + group * 3)];
        // The special bits show in the execute column: lower case means execute is set too.
        const string_view executeSet = group == 2 ? "xt" : "xs";
        const string_view executeClear = group == 2 ? "-T" : (group == 1 ? "-SlL" : "-S");
        if ((r != 'r' && r != '-') || (w != 'w' && w != '-')) {
            return false;
        }
        uint32_t digit = (r == 'r' ? 4 : 0) + (w == 'w' ? 2 : 0);
        if (executeSet.find(x) != string_view::npos) {
            digit += 1;
        } else if (executeClear.find(x) == string_view::npos) {
            return false;
        }
        digits = digits << 4 | digit;
    }
    return true;
}

// The year for a "Mon dd hh:mm" date: the one that puts it nearest to now. A listing shows
// the clock instead of the year for recent files, so a date far in the future belongs to last
// year, and just after New Year a server ahead of us may already list the new year.
int NearestYear(int month, int day, int hour, int minute, const CivilTime& now) {
    const FileTime reference = CivilTicks(now.year, now.month, now.day, now.hour, now.minute, 0);
    int bestYear = now.year;
    uint64_t bestDistance = std::numeric_limits<uint64_t>::max();
    for (int year = now.year - 1; year <= now.year + 1; ++year) {
        if (!IsValidDate(year, month, day)) {
            continue;
        }
        const FileTime candidate = CivilTicks(year, month, day, hour, minute, 0);
        const uint64_t distance = candidate.ticks > reference.ticks
                                      ? candidate.ticks - reference.ticks
                                      : reference.ticks - candidate.ticks;
        if (distance < bestDistance) {
            bestDistance = distance;
            bestYear = year;
        }
    }
    if (bestDistance == std::numeric_limits<uint64_t>::max() && month == 2 && day == 29) {
        // 29 February with no leap year near: the last leap year before now.
        for (int year = now.year - 2; year > now.year - 9; --year) {
            if (IsLeapYear(year)) {
                return year;
            }
        }
    }
    return bestYear;
}

// The date columns at token i: "Mon dd hh:mm", "Mon dd yyyy" or "yyyy-mm-dd hh:mm[:ss]".
// Returns the number of tokens used (0 when there is no date here).
std::size_t ParseUnixDate(string_view line, const std::array<Token, kMaxTokens>& tokens,
                          std::size_t count, std::size_t i, const CivilTime& now, FileTime& time) {
    auto text = [&](std::size_t k) {
        return line.substr(tokens[k].begin, tokens[k].end - tokens[k].begin);
    };
    if (i + 1 >= count) {
        return 0;
    }
    int hour = 0, minute = 0, second = 0;
    if (const int month = MonthFromName(text(i)); month != 0) {
        if (i + 2 >= count || text(i + 1).size() > 2) {
            return 0;
        }
        const int day = SmallNumber(text(i + 1));
        const string_view third = text(i + 2);
        int year = 0;
        if (third.size() == 4 && AllDigits(third)) {
            year = SmallNumber(third);
        } else if (ParseClock(third, hour, minute, second) && day >= 1 && day <= 31) {
            year = NearestYear(month, day, hour, minute, now);
        } else {
            return 0;
        }
        if (!IsValidDate(year, month, day)) {
            return 0;
        }
        time = CivilTicks(year, month, day, hour, minute, second);
        return 3;
    }
    const string_view iso = text(i);
    if (iso.size() == 10 && iso[4] == '-' && iso[7] == '-' &&
        ParseClock(text(i + 1), hour, minute, second)) {
        const int year = SmallNumber(iso.substr(0, 4));
        const int month = SmallNumber(iso.substr(5, 2));
        const int day = SmallNumber(iso.substr(8, 2));
        if (!IsValidDate(year, month, day)) {
            return 0;
        }
        time = CivilTicks(year, month, day, hour, minute, second);
        return 2;
    }
    return 0;
}

// The size column just before the date at token i: a byte count, or "major, minor" of a
// device. nullopt when the tokens before the date are not one.
std::optional<uint64_t> ParseUnixSize(string_view line, const std::array<Token, kMaxTokens>& tokens,
                                      std::size_t i, bool device) {
    auto text = [&](std::size_t k) {
        return line.substr(tokens[k].begin, tokens[k].end - tokens[k].begin);
    };
    const string_view last = text(i - 1);
    if (device) {
        // "1, 3", "1,3" or "1,  3": a device has no size.
        const std::size_t comma = last.find(',');
        if (comma != string_view::npos) {
            const bool ok = AllDigits(last.substr(0, comma)) && AllDigits(last.substr(comma + 1));
            return ok ? std::optional<uint64_t>(0) : std::nullopt;
        }
        if (AllDigits(last) && i >= 4) {
            const string_view major = text(i - 2);
            if (major.size() >= 2 && major.back() == ',' &&
                AllDigits(major.substr(0, major.size() - 1))) {
                return 0;
            }
        }
        return std::nullopt;
    }
    return ParseUnsigned(last);
}

std::optional<DirEntry> ParseUnixLine(string_view line, const CivilTime& now) {
    std::array<Token, kMaxTokens> tokens;
    const std::size_t count = Tokenize(line, tokens);
    char type = 0;
    uint32_t digits = 0;
    if (count < 5 || tokens[0].begin != 0 ||
        !ParseUnixMode(line.substr(0, tokens[0].end), type, digits)) {
        return std::nullopt;
    }
    const bool device = type == 'c' || type == 'b';
    // The date follows at least the owner and the size (links and group may be missing).
    for (std::size_t i = 3; i < count; ++i) {
        FileTime time;
        const std::size_t used = ParseUnixDate(line, tokens, count, i, now, time);
        if (used == 0) {
            continue;
        }
        const std::optional<uint64_t> size = ParseUnixSize(line, tokens, i, device);
        if (!size) {
            continue;
        }
        // The name follows the date after one blank, so leading blanks of a name survive.
        const std::size_t nameBegin = tokens[i + used - 1].end + 1;
        if (nameBegin >= line.size()) {
            return std::nullopt;
        }
        std::string_view name = line.substr(nameBegin);
        DirEntry entry;
        if (type == 'd') {
            entry.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
        } else if (type == 'l') {
            entry.dwFileAttributes = FILE_ATTRIBUTE_REPARSE_POINT;
            const std::size_t arrow = name.find(" -> ");
            if (arrow != string_view::npos && arrow > 0) {
                name = name.substr(0, arrow);
            }
        }
        entry.setFileSize(*size);
        entry.ftLastWriteTime = time;
        entry.dwReserved0 = digits;
        entry.cFileName = std::string(name);
        return entry;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------- DOS / IIS

// "MM-DD-YY", "MM-DD-YYYY" (also with "/") or "YYYY-MM-DD".
bool ParseDosDate(string_view text, int& year, int& month, int& day) {
    if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
        year = SmallNumber(text.substr(0, 4));
        month = SmallNumber(text.substr(5, 2));
        day = SmallNumber(text.substr(8, 2));
        return IsValidDate(year, month, day);
    }
    if ((text.size() != 8 && text.size() != 10) || text[2] != text[5] ||
        (text[2] != '-' && text[2] != '/')) {
        return false;
    }
    month = SmallNumber(text.substr(0, 2));
    day = SmallNumber(text.substr(3, 2));
    year = SmallNumber(text.substr(6));
    if (text.size() == 8 && year >= 0) {
        year += year < 70 ? 2000 : 1900;
    }
    return IsValidDate(year, month, day);
}

// "1234" or "1,234,567".
std::optional<uint64_t> ParseDosSize(string_view text) {
    std::string digits;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ',') {
            if (i == 0 || i + 1 == text.size() || text[i - 1] == ',') {
                return std::nullopt;
            }
            continue;
        }
        digits += text[i];
    }
    return ParseUnsigned(digits);
}

std::optional<DirEntry> ParseDosLine(string_view line) {
    std::array<Token, kMaxTokens> tokens;
    const std::size_t count = Tokenize(line, tokens);
    auto text = [&](std::size_t k) {
        return line.substr(tokens[k].begin, tokens[k].end - tokens[k].begin);
    };
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (count < 3 || tokens[0].begin != 0 || !ParseDosDate(text(0), year, month, day)) {
        return std::nullopt;
    }
    // "02:30PM", "02:30 PM" or "14:30".
    string_view clock = text(1);
    std::size_t next = 2;
    string_view half;
    if (clock.size() > 2 && (StartsWithNoCase(clock.substr(clock.size() - 2), "AM") ||
                             StartsWithNoCase(clock.substr(clock.size() - 2), "PM"))) {
        half = clock.substr(clock.size() - 2);
        clock.remove_suffix(2);
    } else if (count > 3 && (EqualsNoCase(text(2), "AM") || EqualsNoCase(text(2), "PM"))) {
        half = text(2);
        next = 3;
    }
    if (!ParseClock(clock, hour, minute, second) || next >= count) {
        return std::nullopt;
    }
    if (!half.empty()) {
        if (hour < 1 || hour > 12) {
            return std::nullopt;
        }
        hour = hour % 12 + (Lower(half[0]) == 'p' ? 12 : 0);
    }
    DirEntry entry;
    const string_view sizeText = text(next);
    std::size_t nameBegin = tokens[next].end + 1;
    if (EqualsNoCase(sizeText, "<DIR>")) {
        entry.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
        if (next + 1 >= count) {
            return std::nullopt;
        }
        nameBegin = tokens[next + 1].begin; // the column after <DIR> is padded with blanks
    } else {
        const std::optional<uint64_t> size = ParseDosSize(sizeText);
        if (!size) {
            return std::nullopt;
        }
        entry.setFileSize(*size);
    }
    if (nameBegin >= line.size()) {
        return std::nullopt;
    }
    entry.ftLastWriteTime = CivilTicks(year, month, day, hour, minute, second);
    entry.cFileName = std::string(line.substr(nameBegin));
    return entry;
}

void AddListingLine(const std::string& line, bool mlsd, const CivilTime& now,
                    std::vector<DirEntry>& entries) {
    if (mlsd) {
        std::optional<MlsdEntry> parsed = ParseMlsd(line);
        if (parsed && parsed->type != MlsdType::CurrentDir && parsed->type != MlsdType::ParentDir) {
            entries.push_back(std::move(parsed->entry));
        }
        return;
    }
    if (std::optional<DirEntry> entry = ParseListLine(line, now)) {
        entries.push_back(std::move(*entry));
    }
}

} // namespace

std::optional<DirEntry> ParseMlsdLine(const std::string& line) {
    std::optional<MlsdEntry> parsed = ParseMlsd(line);
    if (!parsed) {
        return std::nullopt;
    }
    return std::move(parsed->entry);
}

std::optional<DirEntry> ParseListLine(const std::string& line, const CivilTime& now) {
    const string_view text = StripLineEnd(line);
    if (text.empty() || text.find('\0') != string_view::npos) {
        return std::nullopt;
    }
    if (std::optional<DirEntry> entry = ParseUnixLine(text, now)) {
        return entry;
    }
    return ParseDosLine(text);
}

void ListingLineSplitter::Feed(std::string_view data,
                               const std::function<void(const std::string&)>& onLine) {
    for (char c : data) {
        if (c == '\n' && afterCr_) {
            afterCr_ = false; // the LF of a CR LF pair
            continue;
        }
        afterCr_ = c == '\r';
        if (c == '\r' || c == '\n') {
            if (!overlong_) {
                onLine(pending_);
            }
            pending_.clear();
            overlong_ = false;
            continue;
        }
        if (overlong_) {
            continue;
        }
        if (pending_.size() >= kMaxListingLine) {
            overlong_ = true; // dropped whole, without holding the rest of it
            pending_.clear();
            pending_.shrink_to_fit();
            continue;
        }
        pending_ += c;
    }
}

void ListingLineSplitter::Finish(const std::function<void(const std::string&)>& onLine) {
    if (!overlong_ && !pending_.empty()) {
        onLine(pending_);
    }
    pending_.clear();
    overlong_ = false;
    afterCr_ = false;
}

ListingAccumulator::ListingAccumulator(bool mlsd, const CivilTime& now) : mlsd_(mlsd), now_(now) {}

void ListingAccumulator::Feed(std::string_view data) {
    splitter_.Feed(
        data, [this](const std::string& line) { AddListingLine(line, mlsd_, now_, entries_); });
}

std::vector<DirEntry> ListingAccumulator::Finish() {
    splitter_.Finish(
        [this](const std::string& line) { AddListingLine(line, mlsd_, now_, entries_); });
    std::vector<DirEntry> entries = std::move(entries_);
    entries_.clear();
    return entries;
}

std::vector<DirEntry> ParseListing(const std::string& body, bool mlsd, const CivilTime& now) {
    ListingAccumulator accumulator(mlsd, now);
    accumulator.Feed(body);
    return accumulator.Finish();
}

} // namespace oxlip::ftp
