// Listings of DOS/Windows, EPLF, OS/2, OS-9, VShell and router servers.

#include "ftp/engine/ListingForms.h"

#include "localfs/TextHelpers.h"

namespace oxlip::ftp::listing {
namespace {

// "1234", "1,234,567" or "1.234.567" (thousands marks of the server's language).
std::optional<uint64_t> ParseGroupedSize(string_view text) {
    std::string digits;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ',' || text[i] == '.') {
            if (i == 0 || i + 1 == text.size() || !IsDigit(text[i - 1])) {
                return std::nullopt;
            }
            continue;
        }
        digits += text[i];
    }
    return ParseUnsigned(digits);
}

} // namespace

std::optional<Parsed> Entry(string_view name, bool folder, uint64_t size, FileTime time) {
    if (name.empty()) {
        return std::nullopt;
    }
    Parsed parsed;
    parsed.entry.directory = folder;
    parsed.entry.size = size;
    parsed.entry.modified = time;
    parsed.entry.name = std::string(name);
    return parsed;
}

// "01-16-24  02:30PM  <DIR>  name", "2024-03-15  14:30  1,234 name", "15.03.2024  14:30
// <DIR> name" and links ("<SYMLINKD>  name [target]").
std::optional<Parsed> ParseDos(string_view line) {
    const Tokens t(line);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (t.count < 3 || t.at[0].begin != 0 || !ReadDateToken(t.text(0), year, month, day)) {
        return std::nullopt;
    }
    // "02:30PM", "02:30 PM" or "14:30".
    string_view clock = t.text(1);
    std::size_t next = 2;
    string_view half;
    if (clock.size() > 2 && (EqualsNoCase(clock.substr(clock.size() - 2), "AM") ||
                             EqualsNoCase(clock.substr(clock.size() - 2), "PM"))) {
        half = clock.substr(clock.size() - 2);
        clock.remove_suffix(2);
    } else if (t.count > 3 && (EqualsNoCase(t.text(2), "AM") || EqualsNoCase(t.text(2), "PM"))) {
        half = t.text(2);
        next = 3;
    }
    if (!ParseClock(clock, hour, minute, second) || next >= t.count) {
        return std::nullopt;
    }
    if (!half.empty()) {
        if (hour < 1 || hour > 12) {
            return std::nullopt;
        }
        hour = hour % 12 + (Lower(half[0]) == 'p' ? 12 : 0);
    }
    const FileTime time = CivilTicks(year, month, day, hour, minute, second);
    const string_view sizeText = t.text(next);
    if (sizeText.size() > 2 && sizeText.front() == '<' && sizeText.back() == '>') {
        // The column after <DIR> is padded with blanks.
        if (next + 1 >= t.count) {
            return std::nullopt;
        }
        string_view name = t.from(next + 1);
        const bool link = EqualsNoCase(sizeText, "<SYMLINK>") ||
                          EqualsNoCase(sizeText, "<SYMLINKD>") ||
                          EqualsNoCase(sizeText, "<JUNCTION>");
        if (!link && !EqualsNoCase(sizeText, "<DIR>")) {
            return std::nullopt;
        }
        const std::size_t target = name.rfind(" [");
        if (link && target != string_view::npos && target > 0 && name.back() == ']') {
            name = name.substr(0, target);
        }
        std::optional<Parsed> parsed = Entry(name, !EqualsNoCase(sizeText, "<SYMLINK>"), 0, time);
        if (parsed && link) {
            parsed->entry.link = true;
        }
        return parsed;
    }
    const std::optional<uint64_t> size = ParseGroupedSize(sizeText);
    if (!size) {
        return std::nullopt;
    }
    return Entry(t.after(next), false, *size, time);
}

// "+i8388621.29609,m824255902,/,\tname": facts separated by commas, a tab, the name. "/" is
// a folder, "s" the size, "m" the time in seconds since 1970 (UTC), "up" the permissions.
std::optional<Parsed> ParseEplf(string_view line) {
    const std::size_t tab = line.find('\t');
    if (line.size() < 3 || line[0] != '+' || tab == string_view::npos || tab + 1 == line.size()) {
        return std::nullopt;
    }
    string_view facts = line.substr(1, tab - 1);
    Parsed parsed;
    DirEntry& entry = parsed.entry;
    while (!facts.empty()) {
        const std::size_t comma = facts.find(',');
        const string_view fact = facts.substr(0, comma);
        facts = comma == string_view::npos ? string_view() : facts.substr(comma + 1);
        if (fact == "/") {
            entry.directory = true;
        } else if (fact.size() > 1 && fact[0] == 's') {
            const std::optional<uint64_t> size = ParseUnsigned(fact.substr(1));
            if (!size) {
                return std::nullopt;
            }
            entry.size = *size;
        } else if (fact.size() > 1 && fact[0] == 'm') {
            const std::optional<uint64_t> seconds = ParseUnsigned(fact.substr(1));
            if (!seconds || *seconds > 253402300799ULL) {
                return std::nullopt;
            }
            entry.modified = FileTimeFromUnix(int64_t(*seconds));
            parsed.utc = true;
        } else if (fact.size() > 2 && fact.substr(0, 2) == "up" && fact.size() <= 6) {
            uint32_t digits = 0;
            for (char c : fact.substr(2)) {
                if (c < '0' || c > '7') {
                    return std::nullopt;
                }
                digits = (digits << 3 | uint32_t(c - '0')) & 0777;
            }
            entry.permissions = digits;
        }
    }
    entry.name = std::string(line.substr(tab + 1));
    return parsed;
}

// Forms that start with the size: OS/2 ("  1123  A  04-23-103  10:57  name", "0  DIR
// 02-11-103  16:15  folder"), old VShell ("206876  Apr 04, 2000 21:06 name", folders end
// in "/") and VxWorks routers ("2048  Feb-28-1998  05:23:30  name <DIR>").
std::optional<Parsed> ParseSizeFirst(const Tokens& t, const CivilTime& now) {
    const std::optional<uint64_t> size = ParseUnsigned(t.text(0));
    if (!size || t.count < 4) {
        return std::nullopt;
    }
    bool folder = false;
    std::size_t k = 1;
    for (; k < t.count && k < 4; ++k) {
        const string_view word = t.text(k);
        if (word == "DIR") {
            folder = true;
        } else if (word.size() > 4 || word.find_first_not_of("AHRS") != string_view::npos) {
            break;
        }
    }
    FileTime time;
    const std::size_t used = DateReader(t).Read(k, now, time);
    if (used == 0 || k + used >= t.count) {
        return std::nullopt;
    }
    string_view name = t.from(k + used);
    if (name.size() > 6 && name.substr(name.size() - 6) == " <DIR>") {
        name = name.substr(0, name.find_last_not_of(' ', name.size() - 7) + 1);
        folder = true;
    } else if (name.size() > 1 && name.back() == '/') {
        name.remove_suffix(1);
        folder = true;
    }
    return Entry(name, folder, folder ? 0 : *size, time);
}

// OS-9: "0.0  24/03/15 1030  d-ewrewr  6C  640 CMDS": owner, date (yy/mm/dd), time (hhmm),
// attributes (the first "d" marks a folder), sector, size and name.
std::optional<Parsed> ParseOs9(const Tokens& t) {
    const string_view owner = t.text(0);
    const string_view date = t.text(1);
    const string_view clock = t.text(2);
    const string_view attributes = t.text(3);
    const std::size_t dot = owner.find('.');
    if (t.count < 7 || dot == string_view::npos || !AllDigits(owner.substr(0, dot)) ||
        !AllDigits(owner.substr(dot + 1)) || date.size() != 8 || date[2] != '/' || date[5] != '/' ||
        clock.size() != 4 || !AllDigits(clock) || attributes.size() != 8 ||
        attributes.find_first_not_of("dsewr-") != string_view::npos) {
        return std::nullopt;
    }
    const int yy = SmallNumber(date.substr(0, 2));
    const int month = SmallNumber(date.substr(3, 2));
    const int day = SmallNumber(date.substr(6, 2));
    const int year = yy + (yy < 70 ? 2000 : 1900);
    const int hour = SmallNumber(clock.substr(0, 2));
    const int minute = SmallNumber(clock.substr(2));
    const std::optional<uint64_t> size = ParseUnsigned(t.text(5));
    if (!size || yy < 0 || !IsValidDate(year, month, day) || hour > 23 || minute > 59) {
        return std::nullopt;
    }
    return Entry(t.from(6), attributes[0] == 'd', *size,
                 CivilTicks(year, month, day, hour, minute, 0));
}

// Routers that put the name first: "name  1014196  06/03/04  Thur.  10:20:03".
std::optional<Parsed> ParseNameFirst(const Tokens& t) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    const std::optional<uint64_t> size = t.count == 5 ? ParseUnsigned(t.text(1)) : std::nullopt;
    if (!size || !ReadDateToken(t.text(2), year, month, day) ||
        !ParseClock(t.text(4), hour, minute, second) || t.at[0].begin != 0) {
        return std::nullopt;
    }
    return Entry(t.text(0), false, *size, CivilTicks(year, month, day, hour, minute, second));
}

std::optional<Parsed> ParseOther(string_view line, const CivilTime& now) {
    const Tokens t(line);
    if (t.count < 4) {
        return std::nullopt;
    }
    if (std::optional<Parsed> entry = ParseSizeFirst(t, now)) {
        return entry;
    }
    if (std::optional<Parsed> entry = ParseOs9(t)) {
        return entry;
    }
    return ParseNameFirst(t);
}

} // namespace oxlip::ftp::listing
