#include "localfs/TextHelpers.h"

#include <cstdio>
#include <ctime>
#include <limits>

namespace oxlip {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date (month 1-12).
constexpr int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// Days between 1601-01-01 and 1970-01-01.
constexpr int64_t kDaysFrom1601To1970 = -DaysFromCivil(1601, 1, 1);
static_assert(kDaysFrom1601To1970 * kSecondsPerDay * 10000000 == int64_t(kFileTimeUnixEpoch));
// The last moment a four-digit year can show, 9999-12-31 23:59:59, as seconds since 1601.
constexpr int64_t kLastShowableSecond =
    (DaysFromCivil(10000, 1, 1) + kDaysFrom1601To1970) * kSecondsPerDay - 1;

struct CivilDate {
    int64_t year;
    int month;
    int day;
};

CivilDate CivilFromDays(int64_t z) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int day = int(doy - (153 * mp + 2) / 5 + 1);
    const int month = int(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// The index after the character that starts at i: a UTF-8 lead byte takes its continuation
// bytes with it.
size_t NextChar(const std::string& text, size_t i) {
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) {
        ++i;
    }
    return i;
}

} // namespace

std::string TrimAtNul(const std::string& text) {
    const auto pos = text.find('\0');
    return pos == std::string::npos ? text : text.substr(0, pos);
}

std::string FormatSizeKB(int64_t bytes) {
    int64_t kb;
    if (bytes <= 0) {
        kb = 0;
    } else if (bytes < 1024) {
        kb = 1;
    } else {
        kb = bytes / 1024;
    }
    const std::string digits = std::to_string(kb);
    std::string out;
    out.reserve(digits.size() + digits.size() / 3 + 2);
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            out += ',';
        }
        out += digits[i];
    }
    return out + "KB";
}

std::string FormatFileTime(const FileTime& time) {
    const uint64_t seconds = time.ticks / kFileTimeTicksPerSecond;
    if (seconds > uint64_t(kLastShowableSecond)) {
        // Past 9999/12/31 23:59:59 there is no four-digit year to show: the column stays blank.
        return {};
    }
    const int64_t s = int64_t(seconds);
    const CivilDate date = CivilFromDays(s / kSecondsPerDay - kDaysFrom1601To1970);
    const int64_t daySeconds = s % kSecondsPerDay;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04lld/%02d/%02d %d:%02d:%02d",
                  static_cast<long long>(date.year), date.month, date.day, int(daySeconds / 3600),
                  int(daySeconds / 60 % 60), int(daySeconds % 60));
    return buf;
}

std::string GetExtension(const std::string& text) {
    const auto pos = text.rfind('.');
    return pos == std::string::npos ? std::string() : text.substr(pos + 1);
}

std::string GetNamePart(const std::string& path, char separator) {
    const auto pos = path.rfind(separator);
    return pos == std::string::npos ? std::string() : path.substr(pos + 1);
}

std::string GetParentPath(const std::string& path, char separator) {
    std::string rest = path;
    if (!rest.empty() && rest.back() == separator) {
        rest.pop_back();
    }
    const auto pos = rest.rfind(separator);
    if (pos != std::string::npos) {
        return rest.substr(0, pos + 1);
    }
    return rest + separator;
}

bool MatchesWildcard(const std::string& name, const std::string& pattern) {
    if (pattern == "*.*") {
        return true;
    }
    // Greedy match with one backtrack point (the last "*"): at worst name length times
    // pattern length steps. "?" and "*" step over whole characters, not bytes.
    size_t n = 0;
    size_t p = 0;
    size_t starP = std::string::npos;
    size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n = NextChar(name, n);
        } else if (p < pattern.size() && pattern[p] == name[n]) {
            ++p;
            ++n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            starN = NextChar(name, starN);
            n = starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

FileTime FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds) {
    constexpr int64_t kEpochSeconds = int64_t(kFileTimeUnixEpoch / kFileTimeTicksPerSecond);
    constexpr int64_t kMaxSeconds =
        int64_t(std::numeric_limits<uint64_t>::max() / kFileTimeTicksPerSecond) - kEpochSeconds - 1;
    if (seconds < -kEpochSeconds) {
        return FileTime{0}; // before 1601: the earliest time there is
    }
    if (seconds > kMaxSeconds) {
        return FileTime{std::numeric_limits<uint64_t>::max()};
    }
    const uint64_t sinceEpoch = uint64_t(seconds + kEpochSeconds);
    return FileTime{sinceEpoch * kFileTimeTicksPerSecond + (nanoseconds % 1000000000u) / 100};
}

int64_t UnixFromFileTime(const FileTime& time) {
    const int64_t seconds = int64_t(time.ticks / kFileTimeTicksPerSecond);
    return seconds - int64_t(kFileTimeUnixEpoch / kFileTimeTicksPerSecond);
}

FileTime FileTimeToLocalFileTime(const FileTime& utc) {
    const int64_t unixSeconds = UnixFromFileTime(utc);
    const time_t t = time_t(unixSeconds);
    struct tm local {};
    if (int64_t(t) != unixSeconds || localtime_r(&t, &local) == nullptr) {
        return utc; // no zone rule for this moment: shown as it is
    }
    const int64_t offsetTicks = int64_t(local.tm_gmtoff) * int64_t(kFileTimeTicksPerSecond);
    if (offsetTicks < 0) {
        const uint64_t back = uint64_t(-offsetTicks);
        return FileTime{utc.ticks < back ? 0 : utc.ticks - back};
    }
    const uint64_t ahead = uint64_t(offsetTicks);
    const uint64_t room = std::numeric_limits<uint64_t>::max() - utc.ticks;
    return FileTime{ahead > room ? std::numeric_limits<uint64_t>::max() : utc.ticks + ahead};
}

FileTime FileTimeFromCivil(int year, int month, int day, int hour, int minute, int second) {
    const int64_t days = DaysFromCivil(year, month, day);
    const int64_t seconds =
        days * kSecondsPerDay + int64_t(hour) * 3600 + int64_t(minute) * 60 + int64_t(second);
    return FileTimeFromUnix(seconds);
}

} // namespace oxlip
