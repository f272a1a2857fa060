// The Unix "ls -l" listing and its variants: localized dates, sizes with a unit, owners with
// blanks, columns that run together, lines without a date, the all-numeric form, NetWare.

#include "ftp/engine/ListingForms.h"

#include "localfs/TextHelpers.h"

namespace oxlip::ftp::listing {
namespace {

// "drwxr-xr-x", optionally followed by an ACL or extended-attribute mark ("+", ".", "@").
// Fills the type letter and the permission bits (rwxr-xr-x is 0755).
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
        digits = digits << 3 | digit;
    }
    return true;
}

// How the first column of a line reads.
struct Mode {
    char type = 0;
    uint32_t digits = 0;
    bool strict = false; // real Unix permissions (a line without a date needs them)
};

// The first token: Unix permissions (also run together with the link count, "-rw-r--r--1"),
// a NetWare type letter before its rights ("d [RWCEAFMS]"), or the upper-case flags some
// mainframe servers write in its place ("-C--E-----FTP").
std::optional<Mode> ParseFirstColumn(const Tokens& tokens) {
    Mode mode;
    const string_view first = tokens.text(0);
    if (ParseUnixMode(first, mode.type, mode.digits)) {
        mode.strict = true;
        return mode;
    }
    if (first.size() > 10 && ParseUnixMode(first.substr(0, 10), mode.type, mode.digits) &&
        AllDigits(first.substr(10))) {
        mode.strict = true;
        return mode;
    }
    if (first.size() == 1 && (first[0] == 'd' || first[0] == '-') && tokens.count > 1 &&
        tokens.text(1).front() == '[' && tokens.text(1).back() == ']') {
        mode.type = first[0];
        return mode;
    }
    if (first.size() >= 12 && first.size() <= 16 && (first[0] == '-' || first[0] == 'd')) {
        for (char c : first.substr(1)) {
            if (c != '-' && (c < 'A' || c > 'Z')) {
                return std::nullopt;
            }
        }
        mode.type = first[0];
        return mode;
    }
    return std::nullopt;
}

// "34.5k", "12M", "1.5G", "512B": a size with a unit (powers of 1024), as "ls -lh" writes it.
std::optional<uint64_t> ParseUnitSize(string_view text) {
    if (text.size() < 2 || !IsDigit(text[0])) {
        return std::nullopt;
    }
    if (text.back() == 'B' || text.back() == 'b') {
        text.remove_suffix(1);
        if (AllDigits(text)) {
            return ParseUnsigned(text);
        }
    }
    static constexpr string_view kUnits = "KMGTP";
    const std::size_t unit = kUnits.find(char(text.back() & ~0x20));
    if (unit == string_view::npos || text.size() > 12) {
        return std::nullopt;
    }
    text.remove_suffix(1);
    const std::size_t dot = text.find('.');
    const string_view whole = text.substr(0, dot);
    const string_view fraction = dot == string_view::npos ? string_view() : text.substr(dot + 1);
    if (!AllDigits(whole) || (dot != string_view::npos && !AllDigits(fraction)) ||
        fraction.size() > 3) {
        return std::nullopt;
    }
    uint64_t scale = 1024;
    for (std::size_t i = 0; i < unit; ++i) {
        scale *= 1024;
    }
    const uint64_t integer = *ParseUnsigned(whole);
    if (integer > (uint64_t(1) << 50) / scale * 1024) {
        return std::nullopt;
    }
    uint64_t size = integer * scale;
    uint64_t tenths = 1;
    for (char c : fraction) {
        tenths *= 10;
        size += uint64_t(c - '0') * scale / tenths;
    }
    return size;
}

// The size column just before the date at token i: a byte count, a size with a unit, "major,
// minor" of a device, or a count run into the group before it ("group123456"). nullopt when
// the tokens before the date are not one.
std::optional<uint64_t> ParseSizeBefore(const Tokens& tokens, std::size_t i, bool device) {
    const string_view last = tokens.text(i - 1);
    if (device) {
        // "1, 3", "1,3" or "1,  3": a device has no size.
        const std::size_t comma = last.find(',');
        if (comma != string_view::npos) {
            const bool ok = AllDigits(last.substr(0, comma)) && AllDigits(last.substr(comma + 1));
            return ok ? std::optional<uint64_t>(0) : std::nullopt;
        }
        if (AllDigits(last) && i >= 4) {
            const string_view major = tokens.text(i - 2);
            if (major.size() >= 2 && major.back() == ',' &&
                AllDigits(major.substr(0, major.size() - 1))) {
                return 0;
            }
        }
        return std::nullopt;
    }
    if (std::optional<uint64_t> size = ParseUnsigned(last)) {
        return size;
    }
    if (std::optional<uint64_t> size = ParseUnitSize(last)) {
        return size;
    }
    // A long group name and a long size with no blank between them; the owner comes first.
    std::size_t digits = 0;
    while (digits < last.size() && IsDigit(last[last.size() - 1 - digits])) {
        ++digits;
    }
    if (i >= 3 && digits >= 4 && digits < last.size() && !IsDigit(last[0])) {
        return ParseUnsigned(last.substr(last.size() - digits));
    }
    return std::nullopt;
}

DirEntry MakeEntry(char type, uint32_t permissions, uint64_t size, FileTime time,
                   string_view name) {
    DirEntry entry;
    if (type == 'd') {
        entry.directory = true;
    } else if (type == 'l') {
        entry.link = true;
        const std::size_t arrow = name.find(" -> ");
        if (arrow != string_view::npos && arrow > 0) {
            name = name.substr(0, arrow);
        }
    }
    entry.size = size;
    entry.modified = time;
    entry.permissions = permissions;
    entry.name = std::string(name);
    return entry;
}

// Whether a word would read as part of a date (a clock, a month, a numeric date): a line
// without a date must not swallow a date it failed to read into the name.
bool LooksLikeDatePart(string_view word) {
    if (word.find(':') != string_view::npos) {
        return true;
    }
    int y = 0, m = 0, d = 0;
    return MonthFromWord(word) != 0 || ReadDateToken(word, y, m, d);
}

// "-rw-r--r-- 1 owner group 1234 name": permissions, links, owner, group and size, no date.
std::optional<Parsed> ParseWithoutDate(const Tokens& tokens, const Mode& mode) {
    if (!mode.strict || mode.type == 'c' || mode.type == 'b') {
        return std::nullopt;
    }
    for (std::size_t sizeAt : {std::size_t(4), std::size_t(3)}) {
        if (tokens.count <= sizeAt + 1 || !AllDigits(tokens.text(sizeAt))) {
            continue;
        }
        if (sizeAt == 4 && !AllDigits(tokens.text(1))) {
            continue;
        }
        for (std::size_t k = sizeAt + 1; k < tokens.count && k <= sizeAt + 3; ++k) {
            if (LooksLikeDatePart(tokens.text(k))) {
                return std::nullopt;
            }
        }
        const std::optional<uint64_t> size = ParseUnsigned(tokens.text(sizeAt));
        const string_view name = tokens.after(sizeAt);
        if (!size || name.empty()) {
            return std::nullopt;
        }
        return Parsed{MakeEntry(mode.type, mode.digits, *size, FileTime{}, name)};
    }
    return std::nullopt;
}

// "0100644 1000 1000 1234 1700000000 name": the octal mode with its type bits, owner and
// group ids, size and the time in seconds since 1970 (UTC).
std::optional<Parsed> ParseNumeric(const Tokens& tokens) {
    const string_view mode = tokens.text(0);
    if (tokens.count < 5 || mode.size() < 3 || mode.size() > 7) {
        return std::nullopt;
    }
    uint32_t bits = 0;
    for (char c : mode) {
        if (c < '0' || c > '7') {
            return std::nullopt;
        }
        bits = bits * 8 + uint32_t(c - '0');
    }
    for (std::size_t k = 1; k <= 4; ++k) {
        if (!AllDigits(tokens.text(k))) {
            return std::nullopt;
        }
    }
    const std::optional<uint64_t> size = ParseUnsigned(tokens.text(3));
    const std::optional<uint64_t> seconds = ParseUnsigned(tokens.text(4));
    const string_view name = tokens.after(4);
    // Up to the year 9999.
    if (!size || !seconds || *seconds > 253402300799ULL || name.empty()) {
        return std::nullopt;
    }
    const uint32_t format = bits & 0170000;
    const char type = format == 0040000 ? 'd' : (format == 0120000 ? 'l' : '-');
    Parsed parsed{MakeEntry(type, bits & 0777, *size, FileTimeFromUnix(int64_t(*seconds)), name)};
    parsed.utc = true;
    return parsed;
}

} // namespace

std::optional<Parsed> ParseUnix(string_view line, const CivilTime& now) {
    const Tokens tokens(line);
    if (tokens.count < 4) {
        return std::nullopt;
    }
    const string_view first = tokens.text(0);
    if (IsDigit(first[0])) {
        // "ls -s" puts the blocks first: "   8 -rw-r--r-- 1 owner group 1234 Mar 15 10:30 x".
        if (AllDigits(first) && tokens.count > 5 && !IsDigit(tokens.text(1).front())) {
            return ParseUnix(tokens.from(1), now);
        }
        return tokens.at[0].begin == 0 ? ParseNumeric(tokens) : std::nullopt;
    }
    const std::optional<Mode> mode =
        tokens.at[0].begin == 0 ? ParseFirstColumn(tokens) : std::nullopt;
    if (!mode) {
        return std::nullopt;
    }
    const bool device = mode->type == 'c' || mode->type == 'b';
    bool sawDate = false;
    DateReader dates(tokens);
    // The date follows at least the owner and the size (links and group may be missing).
    for (std::size_t i = 3; i < tokens.count; ++i) {
        FileTime time;
        const std::size_t used = dates.Read(i, now, time);
        if (used == 0) {
            continue;
        }
        sawDate = true;
        const std::optional<uint64_t> size = ParseSizeBefore(tokens, i, device);
        if (!size) {
            continue;
        }
        // The name follows the date after one blank, so leading blanks of a name survive.
        const string_view name = tokens.after(i + used - 1);
        if (name.empty()) {
            return std::nullopt;
        }
        return Parsed{MakeEntry(mode->type, mode->digits, *size, time, name)};
    }
    return sawDate ? std::nullopt : ParseWithoutDate(tokens, *mode);
}

} // namespace oxlip::ftp::listing
