// The date reader of the listing parsers and the small text helpers they share.

#include "ftp/engine/ListingForms.h"

#include "localfs/TextHelpers.h"

#include <algorithm>
#include <limits>

namespace oxlip::ftp::listing {

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

namespace {

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[std::size_t(month - 1)];
}

constexpr uint64_t kTicksPerDay = 86400 * kFileTimeTicksPerSecond;

} // namespace

bool IsValidDate(int year, int month, int day) {
    return year >= 1601 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
           day <= DaysInMonth(year, month);
}

FileTime CivilTicks(int year, int month, int day, int hour, int minute, int second) {
    if (hour == 24) {
        FileTime time = FileTimeFromCivil(year, month, day, 0, 0, 0);
        time.ticks += kTicksPerDay;
        return time;
    }
    return FileTimeFromCivil(year, month, day, hour, minute, second > 59 ? 59 : second);
}

bool ParseClock(string_view text, int& hour, int& minute, int& second) {
    const std::size_t colon = text.find(':');
    if (colon == string_view::npos || colon == 0 || colon > 2) {
        return false;
    }
    hour = SmallNumber(text.substr(0, colon));
    string_view rest = text.substr(colon + 1);
    second = 0;
    if (rest.size() > 5 && rest[5] == '.' && AllDigits(rest.substr(6))) {
        rest = rest.substr(0, 5); // hundredths of a second
    }
    if (rest.size() == 5 && rest[2] == ':') {
        second = SmallNumber(rest.substr(3, 2));
        rest = rest.substr(0, 2);
    }
    if (rest.size() != 2) {
        return false;
    }
    minute = SmallNumber(rest);
    if (hour == 24) {
        return minute == 0 && second == 0;
    }
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 60;
}

int YearFor(int month, int day, int hour, int minute, const CivilTime& now) {
    const FileTime nowTicks = CivilTicks(now.year, now.month, now.day, now.hour, now.minute, 0);
    const uint64_t limit = nowTicks.ticks + kTicksPerDay;
    const auto within = [&](int year) {
        return IsValidDate(year, month, day) &&
               CivilTicks(year, month, day, hour, minute, 0).ticks <= limit;
    };
    if (within(now.year + 1)) {
        return now.year + 1;
    }
    // The latest year (this one or before) in which the date exists and is not ahead.
    for (int year = now.year; year > now.year - 9; --year) {
        if (within(year)) {
            return year;
        }
    }
    // Only at the start of the calendar: the first year in which the date exists.
    for (int year = now.year; year < now.year + 9; ++year) {
        if (IsValidDate(year, month, day)) {
            return year;
        }
    }
    return now.year; // not a valid date: the caller rejects it
}

// ---------------------------------------------------------------- dates

namespace {

int FullYear(int year, std::size_t digits) {
    if (digits == 4) {
        return year;
    }
    if (digits == 3) {
        return 1900 + year; // years since 1900, as some servers count them
    }
    return year + (year < 70 ? 2000 : 1900);
}

// The pieces of a one-token date split at its separator: numbers or month words.
struct DatePiece {
    int value = -1;
    std::size_t digits = 0;
    bool word = false;
};

// A date of two or three pieces; year is 0 when the token has none ("09-26").
bool ReadDatePieces(string_view text, int& year, int& month, int& day) {
    const std::size_t sep = text.find_first_of("-/.");
    if (sep == string_view::npos || sep == 0) {
        return false;
    }
    const char separator = text[sep];
    std::array<DatePiece, 3> pieces;
    std::size_t count = 0;
    std::size_t words = 0;
    while (!text.empty()) {
        if (count == 3) {
            return false;
        }
        const std::size_t end = text.find(separator);
        const string_view piece = text.substr(0, end);
        text = end == string_view::npos ? string_view() : text.substr(end + 1);
        DatePiece& p = pieces[count++];
        if (AllDigits(piece) && piece.size() <= 4) {
            p.value = SmallNumber(piece);
            p.digits = piece.size();
        } else if (const int m = MonthFromWord(piece); m != 0 && piece.back() != '.') {
            p.value = m;
            p.word = true;
            ++words;
        } else {
            return false;
        }
        if (end == string_view::npos) {
            break;
        }
        if (text.empty()) {
            return false; // a final separator
        }
    }
    if (count < 2 || words > 1) {
        return false;
    }
    const DatePiece& a = pieces[0];
    const DatePiece& b = pieces[1];
    const DatePiece& c = pieces[2];
    year = 0;
    if (words == 1) {
        // "15-MAR-2024", "Feb-28-1998", "2024-Mar-15"
        if (count != 3) {
            return false;
        }
        if (b.word && a.digits <= 2) {
            day = a.value, month = b.value, year = FullYear(c.value, c.digits);
        } else if (a.word && b.digits <= 2) {
            month = a.value, day = b.value, year = FullYear(c.value, c.digits);
        } else if (b.word && a.digits == 4 && c.digits <= 2) {
            year = a.value, month = b.value, day = c.value;
        } else {
            return false;
        }
        return IsValidDate(year, month, day);
    }
    const bool dayFirst = separator == '.';
    if (count == 2) {
        // "09-26": month and day, the year follows elsewhere.
        if (a.digits > 2 || b.digits > 2) {
            return false;
        }
        const bool swap = a.value > 12 || (dayFirst && b.value <= 12);
        month = swap ? b.value : a.value;
        day = swap ? a.value : b.value;
        return month >= 1 && month <= 12 && day >= 1 && day <= 31;
    }
    if (a.digits == 4 || (a.digits == 2 && a.value > 31 && c.digits <= 2)) {
        year = FullYear(a.value, a.digits);
        const bool swap = b.value > 12;
        month = swap ? c.value : b.value;
        day = swap ? b.value : c.value;
    } else if (a.digits <= 2 && b.digits <= 2 && c.digits >= 2) {
        year = FullYear(c.value, c.digits);
        const bool swap = a.value > 12 || (b.value <= 12 && dayFirst);
        month = swap ? b.value : a.value;
        day = swap ? a.value : b.value;
    } else {
        return false;
    }
    return IsValidDate(year, month, day);
}

// "2003年4月18日" and its parts ("4月", "18日", "2003年") as year, month and day; 0 where a
// part is missing. False when the token is not such a date.
bool ReadCjkDate(string_view text, int& year, int& month, int& day) {
    year = month = day = 0;
    bool any = false;
    while (!text.empty()) {
        std::size_t digits = 0;
        while (digits < text.size() && IsDigit(text[digits])) {
            ++digits;
        }
        if (digits == 0 || digits > 4) {
            return false;
        }
        const int value = SmallNumber(text.substr(0, digits));
        std::size_t length = 0;
        const CjkUnit unit = CjkSuffixAt(text.substr(digits), length);
        int& field = unit == CjkUnit::Year ? year : (unit == CjkUnit::Month ? month : day);
        if (unit == CjkUnit::None || field != 0 || value == 0) {
            return false;
        }
        field = value;
        any = true;
        text.remove_prefix(digits + length);
    }
    return any;
}

using date::Kind;
using date::Part;

Part Classify(string_view t) {
    Part p;
    if (!t.empty() && t.back() == ',') {
        p.comma = true;
        t.remove_suffix(1);
    }
    if (t.empty() || t.size() > 32) {
        return p; // no date is written longer
    }
    if (IsDigit(t[0])) {
        int h = 0, m = 0, s = 0;
        if (AllDigits(t)) {
            if (t.size() <= 4) {
                p.kind = Kind::Number;
                p.day = SmallNumber(t);
                p.digits = t.size();
            }
        } else if (t.find(':') != string_view::npos) {
            if (ParseClock(t, h, m, s)) {
                p.kind = Kind::Clock;
                p.year = h, p.month = m, p.day = s;
                p.seconds = t.size() > 5;
            }
        } else if (t.back() == '.' && AllDigits(t.substr(0, t.size() - 1)) && t.size() != 4) {
            // "26." (a day, German) or "2024." (a year, Hungarian)
            p.kind = t.size() == 5 ? Kind::Year : Kind::Day;
            p.day = p.year = SmallNumber(t.substr(0, t.size() - 1));
            p.marked = true;
        } else if (ReadCjkDate(t, p.year, p.month, p.day)) {
            p.marked = true;
            if (p.year != 0 && p.month != 0 && p.day != 0) {
                p.kind = Kind::Date;
            } else if (p.month != 0 && p.year == 0 && p.day == 0) {
                p.kind = Kind::Month;
            } else if (p.day != 0 && p.year == 0 && p.month == 0) {
                p.kind = Kind::Day;
            } else if (p.year != 0 && p.month == 0 && p.day == 0) {
                p.kind = Kind::Year;
            } else if (p.year == 0) {
                p.kind = Kind::MonthDay; // "4月18日"
            }
        } else if (ReadDatePieces(t, p.year, p.month, p.day)) {
            p.kind = p.year == 0 ? Kind::MonthDay : Kind::Date;
        }
        return p;
    }
    if ((p.month = MonthFromWord(t)) != 0) {
        p.kind = Kind::Month;
    } else if (ReadDatePieces(t, p.year, p.month, p.day) && p.year != 0) {
        p.kind = Kind::Date; // "Feb-28-1998"
    } else if (FindWeekday(WithoutFinalMark(t)) != 0) {
        p.kind = Kind::Weekday;
    }
    return p;
}

bool IsDay(const Part& p) {
    return (p.kind == Kind::Day || (p.kind == Kind::Number && p.digits <= 2)) && p.day >= 1 &&
           p.day <= 31;
}

bool IsYear(const Part& p) {
    return p.kind == Kind::Year || (p.kind == Kind::Number && p.digits == 4);
}

// The parts of the tokens from i on, and the date they make.
class DateMatcher {
public:
    DateMatcher(DateReader& reader, std::size_t base, std::size_t count)
        : reader_(reader), base_(base), count_(count) {}

    // The tokens used (0 when there is no date) and the time.
    std::size_t Match(const CivilTime& now, FileTime& time) const {
        std::size_t k = 0;
        if (at(0).kind == Kind::Weekday) {
            k = 1;
        }
        int year = 0, month = 0, day = 0;
        std::size_t next = 0;
        if (!MatchDate(k, year, month, day, next)) {
            return 0;
        }
        int hour = 0, minute = 0, second = 0;
        if (at(next).kind == Kind::Weekday && at(next + 1).kind == Kind::Clock) {
            ++next; // "2024/03/08 (金) 10:30", "06/03/04 Thur. 10:20:03"
        }
        if (at(next).kind == Kind::Clock && clockMayFollow_) {
            const Part& clock = at(next);
            hour = clock.year, minute = clock.month, second = clock.day;
            const bool withSeconds = clock.seconds;
            ++next;
            if (year == 0 && withSeconds && at(next).kind == Kind::Number && IsYear(at(next))) {
                year = at(next++).day; // "Mar 15 10:30:45 2024"
            }
        } else if (year == 0) {
            return 0; // neither a year nor a clock
        }
        if (year == 0) {
            year = YearFor(month, day, hour, minute, now);
        }
        if (!IsValidDate(year, month, day)) {
            return 0;
        }
        time = CivilTicks(year, month, day, hour, minute, second);
        return next;
    }

private:
    const Part& at(std::size_t k) const {
        static const Part kNone;
        return k < count_ ? reader_.PartAt(base_ + k) : kNone;
    }

    // The date at part k; next is the part after it. year is 0 when it must come from now.
    bool MatchDate(std::size_t k, int& year, int& month, int& day, std::size_t& next) const {
        const Part& a = at(k);
        const Part& b = at(k + 1);
        const Part& c = at(k + 2);
        clockMayFollow_ = true;
        if (a.kind == Kind::Date) { // "2024-03-15", "2003年4月18日"
            year = a.year, month = a.month, day = a.day, next = k + 1;
            return true;
        }
        if (a.kind == Kind::MonthDay) { // "09-26 2000", "09-26 13:45", "4月18日 10:30"
            month = a.month, day = a.day, year = 0, next = k + 1;
            if (IsYear(b)) {
                year = b.year != 0 ? b.year : b.day;
                next = k + 2;
                clockMayFollow_ = b.marked || a.comma;
            }
            return true;
        }
        int yearAt = -1;
        if (a.kind == Kind::Month && IsDay(b)) { // "Mar 15", "4月 18日"
            month = a.month, day = b.day, yearAt = int(k + 2);
        } else if (IsDay(a) && b.kind == Kind::Month) { // "15 Mar", "26. Juli,"
            day = a.day, month = b.month, yearAt = int(k + 2);
        } else if (IsYear(a) && b.kind == Kind::Month && IsDay(c) &&
                   (a.marked || b.marked || a.kind == Kind::Year)) {
            // "2003年 4月 18日", "2024. márc. 15.", "2003 3月 20"
            year = a.year != 0 ? a.year : a.day, month = b.month, day = c.day, next = k + 3;
            return true;
        } else {
            return false;
        }
        const Part& y = at(std::size_t(yearAt));
        year = 0;
        next = std::size_t(yearAt);
        if (IsYear(y)) {
            year = y.year != 0 ? y.year : y.day;
            ++next;
            // A clock after the year only where the form marks it (VShell, CJK).
            clockMayFollow_ = at(std::size_t(yearAt) - 1).comma || y.marked || y.comma;
        }
        return true;
    }

    DateReader& reader_;
    std::size_t base_;
    std::size_t count_;
    mutable bool clockMayFollow_ = true;
};

// The English form alone: "Mar 15 10:30" or "Mar 15 2024", the form nearly every server
// uses. Kept apart so that common listings never pay for the other forms.
std::size_t ReadEnglishDate(const Tokens& tokens, std::size_t i, const CivilTime& now,
                            FileTime& time) {
    if (i + 2 >= tokens.count) {
        return 0;
    }
    const string_view name = tokens.text(i);
    if (name.size() != 3) {
        return 0;
    }
    static constexpr std::array<string_view, 12> kMonths = {
        "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    int month = 0;
    for (std::size_t m = 0; m < kMonths.size(); ++m) {
        if (EqualsNoCase(name, kMonths[m])) {
            month = int(m) + 1;
            break;
        }
    }
    const string_view dayText = tokens.text(i + 1);
    if (month == 0 || dayText.size() > 2) {
        return 0;
    }
    const int day = SmallNumber(dayText);
    const string_view third = tokens.text(i + 2);
    int year = 0, hour = 0, minute = 0, second = 0;
    if (third.size() == 4 && AllDigits(third)) {
        year = SmallNumber(third);
    } else if (ParseClock(third, hour, minute, second) && day >= 1 && day <= 31) {
        year = YearFor(month, day, hour, minute, now);
    } else {
        return 0;
    }
    if (!IsValidDate(year, month, day)) {
        return 0;
    }
    time = CivilTicks(year, month, day, hour, minute, second);
    return 3;
}

} // namespace

bool ReadDateToken(string_view text, int& year, int& month, int& day) {
    return ReadDatePieces(text, year, month, day) && year != 0;
}

const date::Part& DateReader::PartAt(std::size_t k) {
    if (!known_[k]) {
        parts_[k] = Classify(tokens_.text(k));
        known_[k] = true;
    }
    return parts_[k];
}

std::size_t DateReader::Read(std::size_t i, const CivilTime& now, FileTime& time) {
    if (const std::size_t used = ReadEnglishDate(tokens_, i, now, time)) {
        return used;
    }
    const std::size_t end = std::min(tokens_.count, i + kMaxDateTokens);
    return i < end ? DateMatcher(*this, i, end - i).Match(now, time) : 0;
}

// ---------------------------------------------------------------- tokens

Tokens::Tokens(string_view text) : line(text) {
    std::size_t pos = 0;
    while (count < kMax) {
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
        at[count++] = Token{begin, pos};
    }
}

} // namespace oxlip::ftp::listing
