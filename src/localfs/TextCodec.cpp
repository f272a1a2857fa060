#include "localfs/TextCodec.h"

#include <cerrno>
#include <cstddef>
#include <iconv.h>

namespace oxlip {

bool IsValidUtf8(const std::string& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
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
            return false;
        }
        if (n - i < len) {
            return false;
        }
        if (p[i + 1] < lo || p[i + 1] > hi) {
            return false;
        }
        for (std::size_t k = 2; k < len; ++k) {
            if (p[i + k] < 0x80 || p[i + k] > 0xBF) {
                return false;
            }
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

} // namespace

std::optional<std::string> Cp932ToUtf8(const std::string& bytes) {
    return Convert("UTF-8", "CP932", bytes);
}

std::optional<std::string> Utf8ToCp932(const std::string& utf8) {
    if (!IsValidUtf8(utf8)) {
        return std::nullopt;
    }
    return Convert("CP932", "UTF-8", utf8);
}

std::string DecodeUtf8OrCp932(const std::string& bytes) {
    if (IsValidUtf8(bytes)) {
        return bytes;
    }
    if (auto decoded = Cp932ToUtf8(bytes)) {
        return *decoded;
    }
    return bytes;
}

} // namespace oxlip
