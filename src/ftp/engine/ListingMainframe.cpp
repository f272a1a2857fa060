// Listings of VMS, IBM MVS / z/OS and IBM AS/400 (OS/400, IBM i) servers.

#include "ftp/engine/ListingForms.h"

namespace oxlip::ftp::listing {
namespace {

constexpr uint64_t kVmsBlock = 512;

// "NAME.EXT;12": the name and its version.
bool SplitVmsName(string_view token, string_view& name) {
    const std::size_t semicolon = token.rfind(';');
    if (semicolon == string_view::npos || semicolon == 0 || semicolon + 1 == token.size() ||
        token.size() - semicolon > 6 || !AllDigits(token.substr(semicolon + 1))) {
        return false;
    }
    name = token.substr(0, semicolon);
    return true;
}

// "2/5" (blocks used and allocated) or "2": the size in blocks.
std::optional<uint64_t> VmsBlocks(string_view text) {
    const std::size_t slash = text.find('/');
    if (slash != string_view::npos && !AllDigits(text.substr(slash + 1))) {
        return std::nullopt;
    }
    const std::optional<uint64_t> blocks = ParseUnsigned(text.substr(0, slash));
    if (!blocks || *blocks > (uint64_t(1) << 50)) {
        return std::nullopt;
    }
    return *blocks * kVmsBlock;
}

bool IsBracketed(string_view text, char open, char close) {
    return text.size() >= 2 && text.front() == open && text.back() == close;
}

// The words of a type column in upper case ("PS", "PO-E", "*FILE").
bool IsUpperWord(string_view text, std::size_t from) {
    if (text.size() <= from) {
        return false;
    }
    for (char c : text.substr(from)) {
        if ((c < 'A' || c > 'Z') && c != '-' && !IsDigit(c)) {
            return false;
        }
    }
    return true;
}

// "VOL001 3390 2024/03/12 1 15 FB 80 3120 PS DATA.SET", and the datasets without details
// ("Migrated  OLD.DATA", "ARCIVE Not Direct Access Device  TAPE.DATA", "VOL002 3390 VSAM X").
std::optional<Parsed> ParseMvsDataset(const Tokens& t) {
    const string_view first = t.text(0);
    const string_view name = t.text(t.count - 1);
    if (t.count == 2 && (first == "Migrated" || first == "MIGRAT")) {
        return Entry(name, false, 0, {});
    }
    if (t.count >= 6 && t.text(1) == "Not" && t.text(2) == "Direct") {
        return Entry(name, false, 0, {});
    }
    if (t.count == 4 && t.text(2) == "VSAM") {
        return Entry(name, false, 0, {});
    }
    int year = 0, month = 0, day = 0;
    const string_view referred = t.text(2);
    if (t.count < 9 || t.count > 11 || !IsUpperWord(first, 0) ||
        !IsUpperWord(t.text(t.count - 2), 0)) {
        return std::nullopt;
    }
    FileTime time;
    if (referred.size() == 10 && ReadDateToken(referred, year, month, day)) {
        time = CivilTicks(year, month, day, 0, 0, 0);
    } else if (referred != "**NONE**") {
        return std::nullopt;
    }
    const string_view dsorg = t.text(t.count - 2);
    return Entry(name, dsorg == "PO" || dsorg == "PO-E", 0, time);
}

bool IsHex(string_view text, std::size_t size) {
    if (text.size() != size) {
        return false;
    }
    for (char c : text) {
        if (!IsDigit(c) && (c < 'A' || c > 'F')) {
            return false;
        }
    }
    return true;
}

// Members of a partitioned dataset: " MEMBER  01.03 2022/05/10 2024/03/11 09:40  22 20 0 ID"
// (the size counts records, not bytes), or of a load library: " MEMBER  000058  06BB5F ..."
// (the size in hexadecimal bytes).
std::optional<Parsed> ParseMvsMember(const Tokens& t) {
    const string_view version = t.text(1);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (t.count >= 5 && version.size() == 5 && version[2] == '.' &&
        AllDigits(version.substr(0, 2)) && AllDigits(version.substr(3)) &&
        ReadDateToken(t.text(2), year, month, day) && ReadDateToken(t.text(3), year, month, day) &&
        ParseClock(t.text(4), hour, minute, second)) {
        return Entry(t.text(0), false, 0, CivilTicks(year, month, day, hour, minute, second));
    }
    if (IsHex(t.text(1), 6) && IsHex(t.text(2), 6)) {
        uint64_t size = 0;
        for (char c : t.text(1)) {
            size = size * 16 + uint64_t(IsDigit(c) ? c - '0' : c - 'A' + 10);
        }
        return Entry(t.text(0), false, size, {});
    }
    return std::nullopt;
}

// "OWNER  77824 03/15/24 10:30:00 *DIR  NAME/" or "OWNER  *MEM  LIB/FILE.FILE/MBR.MBR".
std::optional<Parsed> ParseAs400(const Tokens& t) {
    std::size_t typeAt = 4;
    if (t.count >= 3 && t.text(1).front() == '*') {
        typeAt = 1;
    }
    if (t.count <= typeAt + 1 || t.text(typeAt).front() != '*' || !IsUpperWord(t.text(typeAt), 1)) {
        return std::nullopt;
    }
    uint64_t size = 0;
    FileTime time;
    if (typeAt == 4) {
        int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
        const std::optional<uint64_t> listed = ParseUnsigned(t.text(1));
        if (!listed || !ReadDateToken(t.text(2), year, month, day) ||
            !ParseClock(t.text(3), hour, minute, second)) {
            return std::nullopt;
        }
        size = *listed;
        time = CivilTicks(year, month, day, hour, minute, second);
    }
    const string_view type = t.text(typeAt);
    string_view name = t.from(typeAt + 1);
    bool folder = type == "*DIR" || type == "*DDIR" || type == "*LIB" || type == "*FLR";
    if (name.size() > 1 && name.back() == '/') {
        name.remove_suffix(1);
        folder = true;
    }
    return Entry(name, folder, size, time);
}

} // namespace

bool IsVmsNameAlone(string_view line) {
    const Tokens t(line);
    string_view name;
    return t.count == 1 && t.at[0].begin == 0 && SplitVmsName(t.text(0), name);
}

// "NAME.EXT;3  2/5  12-MAR-2024 09:15:42  [GROUP,OWNER]  (RWED,RWED,RE,)"; the owner may
// come before the size, and the time, owner and protection may be missing. Sizes are in
// blocks of 512 bytes. Folders ("NAME.DIR;1") are named without ".DIR" and the version.
std::optional<Parsed> ParseVms(string_view line) {
    const Tokens t(line);
    string_view name;
    if (t.count < 3 || t.at[0].begin != 0 || !SplitVmsName(t.text(0), name)) {
        return std::nullopt;
    }
    std::optional<uint64_t> size;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    bool haveDate = false, haveClock = false;
    for (std::size_t k = 1; k < t.count; ++k) {
        const string_view text = t.text(k);
        if (IsBracketed(text, '[', ']') || IsBracketed(text, '(', ')')) {
            continue;
        }
        if (!size && IsDigit(text.front())) {
            if (!(size = VmsBlocks(text))) {
                return std::nullopt;
            }
        } else if (!haveDate && ReadDateToken(text, year, month, day)) {
            haveDate = true;
        } else if (haveDate && !haveClock && ParseClock(text, hour, minute, second)) {
            haveClock = true;
        } else if (!IsUpperWord(text, 0) || k + 1 != t.count) {
            return std::nullopt; // anything but an owner without brackets at the end
        }
    }
    if (!size || !haveDate) {
        return std::nullopt;
    }
    const bool folder = name.size() > 4 && EqualsNoCase(name.substr(name.size() - 4), ".DIR");
    return Entry(folder ? name.substr(0, name.size() - 4) : t.text(0), folder, *size,
                 CivilTicks(year, month, day, hour, minute, second));
}

std::optional<Parsed> ParseMainframe(string_view line) {
    const Tokens t(line);
    if (t.count < 2) {
        return std::nullopt;
    }
    if (std::optional<Parsed> entry = ParseAs400(t)) {
        return entry;
    }
    if (std::optional<Parsed> entry = ParseMvsMember(t)) {
        return entry;
    }
    return ParseMvsDataset(t);
}

} // namespace oxlip::ftp::listing
