#include "localfs/TextCodec.h"

#include <cerrno>
#include <cstddef>
#include <iconv.h>

namespace oxlip {

namespace {

// Length of the well-formed UTF-8 sequence starting at i, 0 when there is none.
std::size_t Utf8SequenceAt(const unsigned char* p, std::size_t n, std::size_t i) {
    const unsigned char c = p[i];
    if (c < 0x80) {
        return 1;
    }
    std::size_t len;
    unsigned char lo = 0x80; // allowed range of the second byte
    unsigned char hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) {
            lo = 0xA0; // no overlong forms
        } else if (c == 0xED) {
            hi = 0x9F; // no surrogates
        }
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) {
            lo = 0x90; // no overlong forms
        } else if (c == 0xF4) {
            hi = 0x8F; // nothing above U+10FFFF
        }
    } else {
        return 0;
    }
    if (n - i < len || p[i + 1] < lo || p[i + 1] > hi) {
        return 0;
    }
    for (std::size_t k = 2; k < len; ++k) {
        if (p[i + k] < 0x80 || p[i + k] > 0xBF) {
            return 0;
        }
    }
    return len;
}

// Valid UTF-8 with every byte that starts no well-formed sequence replaced by U+FFFD.
std::string ReplaceInvalidUtf8(const std::string& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::string out;
    out.reserve(n);
    for (std::size_t i = 0; i < n;) {
        const std::size_t len = Utf8SequenceAt(p, n, i);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(bytes, i, len);
            i += len;
        }
    }
    return out;
}

} // namespace

bool IsValidUtf8(const std::string& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n;) {
        const std::size_t len = Utf8SequenceAt(p, n, i);
        if (len == 0) {
            return false;
        }
        i += len;
    }
    return true;
}

namespace {

// Whole-text conversion; nullopt when any byte sequence has no form in the target.
std::optional<std::string> Convert(const char* to, const char* from, const std::string& in) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    std::string out;
    out.resize(in.size() * 2 + 16);
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    std::size_t used = 0;
    bool ok = true;
    // Each round either consumes input or doubles the room; a conversion error ends it.
    while (inLeft > 0) {
        char* outPtr = out.data() + used;
        std::size_t outLeft = out.size() - used;
        const std::size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        used = out.size() - outLeft;
        if (r != static_cast<std::size_t>(-1)) {
            break;
        }
        if (errno != E2BIG) {
            ok = false; // EILSEQ or EINVAL: invalid or incomplete sequence
            break;
        }
        out.resize(out.size() * 2);
    }
    // Flush any shift state (none for these encodings, but cheap).
    if (ok) {
        char* outPtr = out.data() + used;
        std::size_t outLeft = out.size() - used;
        if (iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
            ok = false;
        }
        used = out.size() - outLeft;
    }
    iconv_close(cd);
    if (!ok) {
        return std::nullopt;
    }
    out.resize(used);
    return out;
}

// UTF-8 into another encoding; nullopt for text that is not valid UTF-8.
std::optional<std::string> FromUtf8(const char* to, const std::string& utf8) {
    if (!IsValidUtf8(utf8)) {
        return std::nullopt;
    }
    return Convert(to, "UTF-8", utf8);
}

} // namespace

std::optional<std::string> Cp932ToUtf8(const std::string& bytes) {
    return Convert("UTF-8", "CP932", bytes);
}

std::optional<std::string> Utf8ToCp932(const std::string& utf8) {
    return FromUtf8("CP932", utf8);
}

std::optional<std::string> EucJpToUtf8(const std::string& bytes) {
    return Convert("UTF-8", "EUC-JP", bytes);
}

std::optional<std::string> Utf8ToEucJp(const std::string& utf8) {
    return FromUtf8("EUC-JP", utf8);
}

std::string DecodeUtf8OrCp932(const std::string& bytes) {
    if (IsValidUtf8(bytes)) {
        return bytes;
    }
    if (auto decoded = Cp932ToUtf8(bytes)) {
        return *decoded;
    }
    // Neither as a whole (a damaged file, or one that mixes both): each line on its own, so
    // the result is always UTF-8 and reads the same after it has been written back.
    std::string out;
    out.reserve(bytes.size());
    std::size_t begin = 0;
    while (begin < bytes.size()) {
        std::size_t end = bytes.find_first_of("\r\n", begin);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        const std::string line = bytes.substr(begin, end - begin);
        if (IsValidUtf8(line)) {
            out += line;
        } else if (auto decoded = Cp932ToUtf8(line)) {
            out += *decoded;
        } else {
            out += ReplaceInvalidUtf8(line);
        }
        const std::size_t next = bytes.find_first_not_of("\r\n", end);
        out.append(bytes, end, (next == std::string::npos ? bytes.size() : next) - end);
        begin = next == std::string::npos ? bytes.size() : next;
    }
    return out;
}

} // namespace oxlip
