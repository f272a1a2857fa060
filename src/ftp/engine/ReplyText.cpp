#include "ftp/engine/ReplyText.h"

#include "ftp/engine/Capabilities.h"
#include "ftp/engine/Reply.h"
#include "localfs/TextHelpers.h"

#include <cctype>

namespace oxlip::ftp {

std::string UpperAscii(std::string text) {
    for (char& c : text) {
        c = char(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

bool IsSafeForCommand(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

uint16_t ParseEpsvPort(const std::string& text) {
    auto open = text.find('(');
    if (open == std::string::npos || open + 5 > text.size()) {
        return 0;
    }
    char delim = text[open + 1];
    if (delim < 33 || delim > 126 || (delim >= '0' && delim <= '9') || text[open + 2] != delim ||
        text[open + 3] != delim) {
        return 0;
    }
    std::size_t i = open + 4;
    long value = 0;
    std::size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 6) {
        value = value * 10 + (text[i] - '0');
        ++i;
        ++digits;
    }
    if (digits == 0 || i + 1 >= text.size() || text[i] != delim || text[i + 1] != ')') {
        return 0;
    }
    return value >= 1 && value <= 65535 ? uint16_t(value) : 0;
}

uint16_t ParsePasvPort(const std::string& text) {
    for (std::size_t start = 0; start < text.size(); ++start) {
        if (!std::isdigit(static_cast<unsigned char>(text[start])) ||
            (start > 0 && std::isdigit(static_cast<unsigned char>(text[start - 1])))) {
            continue;
        }
        long numbers[6];
        std::size_t i = start;
        int count = 0;
        bool ok = true;
        while (count < 6) {
            long value = 0;
            std::size_t digits = 0;
            while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
                value = value * 10 + (text[i] - '0');
                ++i;
                if (++digits > 3) {
                    break;
                }
            }
            if (digits == 0 || digits > 3 || value > 255) {
                ok = false;
                break;
            }
            numbers[count++] = value;
            if (count < 6) {
                if (i >= text.size() || text[i] != ',') {
                    ok = false;
                    break;
                }
                ++i;
            }
        }
        if (!ok) {
            continue;
        }
        if (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            continue;
        }
        long port = numbers[4] * 256 + numbers[5];
        return port >= 1 ? uint16_t(port) : 0;
    }
    return 0;
}

std::optional<std::string> ParseQuotedPath(const std::string& text) {
    auto open = text.find('"');
    if (open == std::string::npos) {
        return std::nullopt;
    }
    std::string path;
    for (std::size_t i = open + 1; i < text.size(); ++i) {
        if (text[i] == '"') {
            if (i + 1 < text.size() && text[i + 1] == '"') {
                path += '"';
                ++i;
                continue;
            }
            return path;
        }
        path += text[i];
    }
    return std::nullopt;
}

std::optional<FileTime> ParseMdtm(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    if (text.size() < i + 14) {
        return std::nullopt;
    }
    int v[6];
    const int widths[6] = {4, 2, 2, 2, 2, 2};
    for (int f = 0; f < 6; ++f) {
        int value = 0;
        for (int k = 0; k < widths[f]; ++k, ++i) {
            if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
                return std::nullopt;
            }
            value = value * 10 + (text[i] - '0');
        }
        v[f] = value;
    }
    if (v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > 31 || v[3] > 23 || v[4] > 59 || v[5] > 60) {
        return std::nullopt;
    }
    return FileTimeFromCivil(v[0], v[1], v[2], v[3], v[4], v[5]);
}

std::optional<FeatLine> ParseFeatLine(const std::string& line) {
    const auto begin = line.find_first_not_of(' ');
    if (begin == std::string::npos || ReplyCodeOf(line) != 0) {
        return std::nullopt; // an inner line that starts with a code names no feature
    }
    const std::string text = line.substr(begin);
    const auto space = text.find(' ');
    FeatLine feat;
    feat.keyword = UpperAscii(text.substr(0, space));
    if (space != std::string::npos) {
        feat.params = text.substr(space + 1);
    }
    return feat;
}

void ServerCapabilities::readFeat(const Reply& feat) {
    for (std::size_t i = 1; i + 1 < feat.lines.size(); ++i) {
        if (auto line = ParseFeatLine(feat.lines[i])) {
            features.insert(line->keyword);
            if (line->keyword == "MLST") {
                mlstFacts = line->params;
            }
        }
    }
}

std::string ServerCapabilities::mlstFactsWanted() const {
    const std::string offered = UpperAscii(mlstFacts);
    std::string wanted;
    for (const char* fact : {"type", "size", "modify", "unix.mode"}) {
        if (offered.find(UpperAscii(fact)) != std::string::npos) {
            wanted += std::string(fact) + ";";
        }
    }
    return wanted;
}

} // namespace oxlip::ftp
