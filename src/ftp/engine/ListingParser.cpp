#include "ftp/engine/ListingParser.h"

#include "ftp/engine/ListingForms.h"

#include <limits>

namespace oxlip::ftp {
namespace {

using namespace listing;

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
    bool typed = false; // a type fact was given
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
    if (!IsValidDate(year, month, day) || hour > 23 || minute > 59 || second > 60) {
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

// The low nine bits of an octal mode ("0755", "0o644").
uint32_t PermissionsFromOctal(string_view text) {
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
    return mode & 0777;
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
        // Some servers leave out the last semicolon or write a tab instead of the blank.
        std::size_t end = line.find("; ");
        if (end == string_view::npos) {
            end = line.find(";\t");
        }
        if (end != string_view::npos) {
            facts = line.substr(0, end + 1);
            name = line.substr(end + 2);
        } else if ((end = line.find_first_of(" \t")) != string_view::npos) {
            facts = line.substr(0, end);
            name = line.substr(end + 1);
        } else {
            return std::nullopt;
        }
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
            result.typed = true;
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
            result.entry.modified = ParseMlsdTime(value);
        } else if (EqualsNoCase(key, "UNIX.mode")) {
            result.entry.permissions = PermissionsFromOctal(value);
        }
    }
    switch (result.type) {
    case MlsdType::Dir:
    case MlsdType::CurrentDir:
    case MlsdType::ParentDir:
        result.entry.directory = true;
        break;
    case MlsdType::Link:
        // Where the link leads is not said; it is marked as a link only.
        result.entry.link = true;
        break;
    case MlsdType::File:
        break;
    }
    result.entry.size = size ? *size : directorySize.value_or(0);
    result.entry.name = std::string(name);
    return result;
}

// One LIST line in any form, the common ones first. Facts lines of the current and parent
// folder give no entry. UTC times are moved to the server's wall clock of now.
std::optional<DirEntry> ParseAnyListLine(string_view text, const CivilTime& now) {
    text = StripLineEnd(text);
    if (text.empty() || text.find('\0') != string_view::npos) {
        return std::nullopt;
    }
    std::optional<Parsed> parsed = ParseUnix(text, now);
    const char first = text[0];
    if (!parsed && first == '+') {
        parsed = ParseEplf(text);
    }
    if (!parsed && IsDigit(first)) {
        parsed = ParseDos(text);
    }
    if (!parsed) {
        parsed = ParseVms(text);
    }
    if (!parsed) {
        parsed = ParseMainframe(text);
    }
    if (!parsed) {
        parsed = ParseOther(text, now);
    }
    if (!parsed && text.find('=') != string_view::npos) {
        // A facts line where a LIST line was expected.
        std::optional<MlsdEntry> facts = ParseMlsd(text);
        if (!facts || !facts->typed || facts->type == MlsdType::CurrentDir ||
            facts->type == MlsdType::ParentDir) {
            return std::nullopt;
        }
        parsed = Parsed{std::move(facts->entry), true};
    }
    if (!parsed) {
        return std::nullopt;
    }
    if (parsed->utc && parsed->entry.modified.ticks != 0) {
        const int64_t shift = int64_t(now.utcOffsetMinutes) * 60 * int64_t(kFileTimeTicksPerSecond);
        uint64_t& ticks = parsed->entry.modified.ticks;
        ticks = shift < 0 && uint64_t(-shift) >= ticks ? 1 : ticks + uint64_t(shift);
    }
    return std::move(parsed->entry);
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
    return ParseAnyListLine(line, now);
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

void ListingAccumulator::addLine(const std::string& line) {
    if (mlsd_) {
        std::optional<MlsdEntry> parsed = ParseMlsd(line);
        if (parsed && parsed->type != MlsdType::CurrentDir && parsed->type != MlsdType::ParentDir) {
            entries_.push_back(std::move(parsed->entry));
        }
        return;
    }
    // A VMS entry may be wrapped after its name: the name waits for the line of details.
    if (!vmsName_.empty()) {
        std::string name = std::move(vmsName_);
        vmsName_.clear();
        if (std::optional<DirEntry> entry = ParseAnyListLine(name + " " + line, now_)) {
            entries_.push_back(std::move(*entry));
            return;
        }
        addEntryOf(name);
    }
    if (IsVmsNameAlone(StripLineEnd(line))) {
        vmsName_ = line;
        return;
    }
    addEntryOf(line);
}

void ListingAccumulator::addEntryOf(const std::string& line) {
    if (std::optional<DirEntry> entry = ParseAnyListLine(line, now_)) {
        entries_.push_back(std::move(*entry));
    }
}

void ListingAccumulator::Feed(std::string_view data) {
    splitter_.Feed(data, [this](const std::string& line) { addLine(line); });
}

std::vector<DirEntry> ListingAccumulator::Finish() {
    splitter_.Finish([this](const std::string& line) { addLine(line); });
    if (!vmsName_.empty()) {
        addEntryOf(vmsName_);
        vmsName_.clear();
    }
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
