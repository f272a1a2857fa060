// The words and marks of listed dates: month and weekday names of many languages and
// encodings, and the year, month and day marks of Japanese, Chinese and Korean dates.

#include "ftp/engine/ListingForms.h"

#include <vector>

namespace oxlip::ftp::listing {

namespace {

struct Word {
    string_view text;
    int value;
};

// Month names and abbreviations as servers list them. ASCII letters match in any case; the
// other bytes exactly (UTF-8 first, then Latin-1, CP1251 and KOI8-R for Russian).
// clang-format off
constexpr Word kMonthWords[] = {
    // English
    {"jan", 1}, {"feb", 2}, {"mar", 3}, {"apr", 4}, {"may", 5}, {"jun", 6}, {"jul", 7}, {"aug", 8},
    {"sep", 9}, {"oct", 10}, {"nov", 11}, {"dec", 12}, {"january", 1}, {"february", 2},
    {"march", 3}, {"april", 4}, {"june", 6}, {"july", 7}, {"august", 8}, {"sept", 9},
    {"september", 9}, {"october", 10}, {"november", 11}, {"december", 12},
    // German (also Austrian "Jän")
    {"m\xc3\xa4r", 3}, {"m\xe4r", 3}, {"mrz", 3}, {"m\xc3\xa4rz", 3}, {"m\xe4rz", 3}, {"mai", 5},
    {"juni", 6}, {"juli", 7}, {"okt", 10}, {"dez", 12}, {"januar", 1}, {"februar", 2},
    {"oktober", 10}, {"dezember", 12}, {"j\xc3\xa4n", 1}, {"j\xe4n", 1}, {"j\xc3\xa4nner", 1},
    // French
    {"janv", 1}, {"f\xc3\xa9vr", 2}, {"f\xe9vr", 2}, {"fevr", 2}, {"f\xc3\xa9v", 2}, {"fev", 2},
    {"mars", 3}, {"avr", 4}, {"juin", 6}, {"juil", 7}, {"ao\xc3\xbbt", 8}, {"ao\xfbt", 8},
    {"aout", 8}, {"d\xc3\xa9\x63", 12}, {"d\xe9\x63", 12}, {"janvier", 1}, {"avril", 4},
    {"f\xc3\xa9vrier", 2}, {"juillet", 7}, {"septembre", 9}, {"octobre", 10}, {"novembre", 11},
    {"d\xc3\xa9\x63\x65mbre", 12},
    // Spanish, Italian, Portuguese
    {"ene", 1}, {"abr", 4}, {"ago", 8}, {"dic", 12}, {"enero", 1}, {"febrero", 2}, {"marzo", 3},
    {"abril", 4}, {"mayo", 5}, {"junio", 6}, {"julio", 7}, {"agosto", 8}, {"septiembre", 9},
    {"octubre", 10}, {"noviembre", 11}, {"diciembre", 12}, {"gen", 1}, {"mag", 5}, {"giu", 6},
    {"lug", 7}, {"set", 9}, {"ott", 10}, {"out", 10},
    // Dutch, Scandinavian
    {"mrt", 3}, {"mei", 5}, {"maart", 3}, {"maj", 5}, {"des", 12},
    // Hungarian
    {"febr", 2}, {"m\xc3\xa1rc", 3}, {"\xc3\xa1pr", 4}, {"m\xc3\xa1j", 5}, {"j\xc3\xban", 6},
    {"j\xc3\xbal", 7}, {"szept", 9}, {"m\xe1rc", 3}, {"\xe1pr", 4}, {"m\xe1j", 5}, {"j\xfan", 6},
    {"j\xfal", 7},
    // Polish, Czech
    {"sty", 1}, {"lut", 2}, {"kwi", 4}, {"cze", 6}, {"lip", 7}, {"sie", 8}, {"wrz", 9},
    {"pa\xc5\xba", 10}, {"lis", 11}, {"gru", 12},
    // Russian: UTF-8
    {"\xd1\x8f\xd0\xbd\xd0\xb2", 1}, {"\xd1\x84\xd0\xb5\xd0\xb2", 2},
    {"\xd0\xbc\xd0\xb0\xd1\x80", 3}, {"\xd0\xb0\xd0\xbf\xd1\x80", 4},
    {"\xd0\xbc\xd0\xb0\xd0\xb9", 5}, {"\xd0\xbc\xd0\xb0\xd1\x8f", 5},
    {"\xd0\xb8\xd1\x8e\xd0\xbd", 6}, {"\xd0\xb8\xd1\x8e\xd0\xbb", 7},
    {"\xd0\xb0\xd0\xb2\xd0\xb3", 8}, {"\xd1\x81\xd0\xb5\xd0\xbd", 9},
    {"\xd0\xbe\xd0\xba\xd1\x82", 10}, {"\xd0\xbd\xd0\xbe\xd1\x8f", 11},
    {"\xd0\xb4\xd0\xb5\xd0\xba", 12},
    // Russian: CP1251 and KOI8-R
    {"\xff\xed\xe2", 1}, {"\xf4\xe5\xe2", 2}, {"\xec\xe0\xf0", 3}, {"\xe0\xef\xf0", 4},
    {"\xec\xe0\xe9", 5}, {"\xe8\xfe\xed", 6}, {"\xe8\xfe\xeb", 7}, {"\xe0\xe2\xe3", 8},
    {"\xf1\xe5\xed", 9}, {"\xee\xea\xf2", 10}, {"\xed\xee\xff", 11}, {"\xe4\xe5\xea", 12},
    {"\xd1\xce\xd7", 1}, {"\xc6\xc5\xd7", 2}, {"\xcd\xc1\xd2", 3}, {"\xc1\xd0\xd2", 4},
    {"\xcd\xc1\xca", 5}, {"\xc9\xc0\xce", 6}, {"\xc9\xc0\xcc", 7}, {"\xc1\xd7\xc7", 8},
    {"\xd3\xc5\xce", 9}, {"\xcf\xcb\xd4", 10}, {"\xce\xcf\xd1", 11}, {"\xc4\xc5\xcb", 12},
};
// clang-format on

// Weekday names and abbreviations: English, German, French, Spanish, Italian, Dutch, and
// Japanese and Chinese in UTF-8 (the weekday's own character, sometimes in parentheses).
// clang-format off
constexpr Word kWeekdayWords[] = {
    {"mon", 1}, {"tue", 2}, {"tues", 2}, {"wed", 3}, {"thu", 4}, {"thur", 4}, {"thurs", 4},
    {"fri", 5}, {"sat", 6}, {"sun", 7}, {"monday", 1}, {"tuesday", 2}, {"wednesday", 3},
    {"thursday", 4}, {"friday", 5}, {"saturday", 6}, {"sunday", 7},
    {"mo", 1}, {"di", 2}, {"mi", 3}, {"do", 4}, {"fr", 5}, {"sa", 6}, {"so", 7},
    {"lun", 1}, {"mer", 3}, {"jeu", 4}, {"ven", 5}, {"sam", 6}, {"dim", 7},
    {"mi\xc3\xa9", 3}, {"jue", 4}, {"vie", 5}, {"s\xc3\xa1\x62", 6}, {"dom", 7},
    {"gio", 4}, {"sab", 6}, {"ma", 1}, {"wo", 3}, {"vr", 5}, {"za", 6}, {"zo", 7},
    {"(\xe6\x9c\x88)", 1}, {"(\xe7\x81\xab)", 2}, {"(\xe6\xb0\xb4)", 3},
    {"(\xe6\x9c\xa8)", 4}, {"(\xe9\x87\x91)", 5}, {"(\xe5\x9c\x9f)", 6},
    {"(\xe6\x97\xa5)", 7},
};
// clang-format on

// The words of a table by their first byte (lower case), so that a lookup compares only
// the few words that can match.
class WordIndex {
public:
    template <std::size_t N> explicit WordIndex(const Word (&words)[N]) {
        for (const Word& w : words) {
            byFirst_[static_cast<unsigned char>(w.text[0])].push_back(w);
        }
    }

    int Find(string_view word) const {
        if (word.empty()) {
            return 0;
        }
        for (const Word& w : byFirst_[static_cast<unsigned char>(Lower(word[0]))]) {
            if (w.text.size() == word.size() && EqualsNoCase(word, w.text)) {
                return w.value;
            }
        }
        return 0;
    }

private:
    std::array<std::vector<Word>, 256> byFirst_;
};

// The suffixes of Japanese, Chinese and Korean dates after the digits of a year, month or
// day, in UTF-8, CP932, EUC-JP, GBK, Big5 and EUC-KR.
struct CjkSuffix {
    string_view bytes;
    CjkUnit unit;
};

constexpr CjkSuffix kCjkSuffixes[] = {
    {"\xe6\x9c\x88", CjkUnit::Month}, {"\xe6\x97\xa5", CjkUnit::Day},
    {"\xe5\xb9\xb4", CjkUnit::Year},  {"\xec\x9b\x94", CjkUnit::Month},
    {"\xec\x9d\xbc", CjkUnit::Day},   {"\xeb\x85\x84", CjkUnit::Year},
    {"\x8c\x8e", CjkUnit::Month},     {"\x93\xfa", CjkUnit::Day},
    {"\x94\x4e", CjkUnit::Year},      {"\xb7\xee", CjkUnit::Month},
    {"\xc6\xfc", CjkUnit::Day},       {"\xc7\xaf", CjkUnit::Year},
    {"\xd4\xc2", CjkUnit::Month},     {"\xc8\xd5", CjkUnit::Day},
    {"\xc4\xea", CjkUnit::Year},      {"\xa4\xeb", CjkUnit::Month},
    {"\xa4\xe9", CjkUnit::Day},       {"\xa6\x7e", CjkUnit::Year},
    {"\xbf\xf9", CjkUnit::Month},     {"\xc0\xcf", CjkUnit::Day},
    {"\xb3\xe2", CjkUnit::Year},
};

} // namespace

string_view WithoutFinalMark(string_view word) {
    if (!word.empty() && (word.back() == '.' || word.back() == ',')) {
        word.remove_suffix(1);
    }
    return word;
}

int FindWeekday(string_view word) {
    static const WordIndex index(kWeekdayWords);
    return index.Find(word);
}

CjkUnit CjkSuffixAt(string_view text, std::size_t& length) {
    for (const CjkSuffix& s : kCjkSuffixes) {
        if (text.substr(0, s.bytes.size()) == s.bytes) {
            length = s.bytes.size();
            return s.unit;
        }
    }
    return CjkUnit::None;
}

int MonthFromWord(string_view word) {
    word = WithoutFinalMark(word);
    if (word.size() < 3 || word.size() > 10) {
        return 0;
    }
    static const WordIndex index(kMonthWords);
    return index.Find(word);
}

} // namespace oxlip::ftp::listing
