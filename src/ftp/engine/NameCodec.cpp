#include "ftp/engine/NameCodec.h"

#include "ftp/engine/ReplyText.h"

#include "localfs/TextCodec.h"

#include <optional>

namespace oxlip::ftp {
namespace {

// Length of the well-formed UTF-8 sequence at p (1 to 4), 0 when there is none; cp receives
// its code point.
std::size_t Utf8SequenceAt(const unsigned char* p, std::size_t n, char32_t& cp) {
    const unsigned char c = p[0];
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    std::size_t len = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
        lo = c == 0xE0 ? 0xA0 : 0x80; // no overlong forms
        hi = c == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
        lo = c == 0xF0 ? 0x90 : 0x80;
        hi = c == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (n < len || p[1] < lo || p[1] > hi) {
        return 0;
    }
    for (std::size_t k = 1; k < len; ++k) {
        if (p[k] < 0x80 || p[k] > 0xBF) {
            return 0;
        }
        cp = (cp << 6) | (p[k] & 0x3F);
    }
    return len;
}

void AppendEscape(std::string& out, unsigned char byte) {
    const char32_t cp = 0xF700 + byte;
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
}

// The byte an escape at p stands for, or -1 when p does not start an escape.
int EscapedByteAt(const std::string& text, std::size_t i) {
    if (i + 2 >= text.size() || static_cast<unsigned char>(text[i]) != 0xEF) {
        return -1;
    }
    const auto b1 = static_cast<unsigned char>(text[i + 1]);
    const auto b2 = static_cast<unsigned char>(text[i + 2]);
    if ((b1 != 0x9E && b1 != 0x9F) || b2 < 0x80 || b2 > 0xBF) {
        return -1;
    }
    const char32_t cp = 0xF000 | char32_t(b1 & 0x3F) << 6 | char32_t(b2 & 0x3F);
    return int(cp - 0xF700);
}

// Every byte at or above 0x80 escaped, valid or not: a form no other name decodes to.
std::string EscapeAllHighBytes(const std::string& bytes) {
    std::string out;
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) < 0x80) {
            out += c;
        } else {
            AppendEscape(out, static_cast<unsigned char>(c));
        }
    }
    return out;
}

bool IsAscii(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

// Calls part(begin, end) for each "/"-separated part and sep() between them.
template <typename Part, typename Sep>
void ForEachPart(const std::string& text, Part part, Sep sep) {
    std::size_t begin = 0;
    for (;;) {
        const std::size_t slash = text.find('/', begin);
        part(text.substr(begin, slash == std::string::npos ? std::string::npos : slash - begin));
        if (slash == std::string::npos) {
            return;
        }
        sep();
        begin = slash + 1;
    }
}

} // namespace

std::string EscapeInvalidUtf8(const std::string& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::string out;
    out.reserve(n);
    std::size_t i = 0;
    while (i < n) {
        char32_t cp = 0;
        const std::size_t len = Utf8SequenceAt(p + i, n - i, cp);
        if (len == 0) {
            AppendEscape(out, p[i]);
            ++i;
        } else if (cp >= kByteEscapeFirst && cp <= kByteEscapeLast) {
            for (std::size_t k = 0; k < len; ++k) {
                AppendEscape(out, p[i + k]);
            }
            i += len;
        } else {
            out.append(bytes, i, len);
            i += len;
        }
    }
    return out;
}

std::string UnescapeBytes(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const int byte = EscapedByteAt(text, i);
        if (byte >= 0) {
            out += char(byte);
            i += 3;
        } else {
            out += text[i];
            ++i;
        }
    }
    return out;
}

bool HasByteEscape(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (EscapedByteAt(text, i) >= 0) {
            return true;
        }
    }
    return false;
}

std::string NameCodec::Decode(const std::string& raw) {
    if (serverUtf8_) {
        return EscapeInvalidUtf8(raw);
    }
    std::string out;
    ForEachPart(
        raw,
        [&](const std::string& part) {
            if (IsAscii(part)) {
                out += part;
                return;
            }
            std::string decoded;
            if (forced_ != NameEncoding::Auto) {
                // Cp932 or EucJp (Utf8 took the first branch).
                std::optional<std::string> text =
                    forced_ == NameEncoding::Cp932 ? Cp932ToUtf8(part) : EucJpToUtf8(part);
                decoded = text && !HasByteEscape(*text) && IsSafeForCommand(*text)
                              ? std::move(*text)
                              : EscapeAllHighBytes(part);
            } else if (IsValidUtf8(part)) {
                decoded = EscapeInvalidUtf8(part);
            } else if (std::optional<std::string> cp932 = Cp932ToUtf8(part);
                       cp932 && !HasByteEscape(*cp932) && IsSafeForCommand(*cp932)) {
                decoded = std::move(*cp932);
                serverCp932_ = true;
            } else {
                decoded = EscapeInvalidUtf8(part);
            }
            const auto known = rawOf_.find(decoded);
            if (known != rawOf_.end() && known->second != part) {
                // Another name already looks like this one: show this one by its bytes.
                out += EscapeAllHighBytes(part);
                return;
            }
            if (known == rawOf_.end()) {
                if (rawOf_.size() >= kMaxRemembered) {
                    rawOf_.clear();
                }
                rawOf_.emplace(decoded, part);
            }
            out += decoded;
        },
        [&] { out += '/'; });
    return out;
}

std::string NameCodec::EncodePart(const std::string& part) const {
    if (IsAscii(part)) {
        return part;
    }
    if (!serverUtf8_) {
        const auto known = rawOf_.find(part);
        if (known != rawOf_.end()) {
            return known->second;
        }
    }
    const bool toCp932 = (forced_ == NameEncoding::Auto && !serverUtf8_ && serverCp932_) ||
                         forced_ == NameEncoding::Cp932;
    std::string out;
    std::string run; // characters between escapes
    auto flush = [&] {
        if (run.empty()) {
            return;
        }
        std::optional<std::string> legacy = toCp932                          ? Utf8ToCp932(run)
                                            : forced_ == NameEncoding::EucJp ? Utf8ToEucJp(run)
                                                                             : std::nullopt;
        out += legacy ? *legacy : run;
        run.clear();
    };
    std::size_t i = 0;
    while (i < part.size()) {
        const int byte = EscapedByteAt(part, i);
        if (byte >= 0) {
            flush();
            out += char(byte);
            i += 3;
        } else {
            run += part[i];
            ++i;
        }
    }
    flush();
    return out;
}

std::string NameCodec::Encode(const std::string& text) const {
    std::string out;
    ForEachPart(
        text, [&](const std::string& part) { out += EncodePart(part); }, [&] { out += '/'; });
    return out;
}

} // namespace oxlip::ftp
