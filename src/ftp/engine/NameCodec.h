#pragma once
// Names between the server's bytes and the program's UTF-8.
//
// A name the server sent can always be sent back byte for byte:
// - bytes that are valid UTF-8 stay as they are;
// - on a server without UTF8, a name that is not valid UTF-8 but valid CP932 is decoded from
//   CP932;
// - every other byte at or above 0x80 becomes the private-use character U+F700 + byte, which
//   encoding turns back into that byte. Valid UTF-8 that itself encodes U+F780..U+F7FF is
//   escaped the same way, so decoding never makes two different names look alike.
// On a server without UTF8 the codec also remembers the bytes of each non-ASCII name it decoded,
// so that a CP932 name goes back as CP932 and a UTF-8 name as UTF-8 even when both come from
// the same server. Names it has not seen (new names typed by the user) go out as CP932 once the
// server has shown a CP932 name, otherwise as UTF-8.

#include <cstddef>
#include <string>
#include <unordered_map>

namespace oxlip::ftp {

// How names are written on the wire. Auto: as described above. The others force one encoding
// whatever the server says; a name that does not decode in it is shown by its bytes (escaped)
// and goes back as those bytes.
enum class NameEncoding { Auto, Utf8, Cp932, EucJp };

// The first and last code point of the escapes of single bytes 0x80..0xFF.
constexpr char32_t kByteEscapeFirst = 0xF780;
constexpr char32_t kByteEscapeLast = 0xF7FF;

// Valid UTF-8 kept, every other byte escaped (see above). The result is always valid UTF-8.
std::string EscapeInvalidUtf8(const std::string& bytes);
// The reverse of EscapeInvalidUtf8: escapes back to their bytes, everything else unchanged.
std::string UnescapeBytes(const std::string& text);
// True when the text holds a byte escape.
bool HasByteEscape(const std::string& text);

class NameCodec {
public:
    // How many decoded names are remembered at the most; past it the memory starts over and
    // the rule for new names applies.
    static constexpr std::size_t kMaxRemembered = 65536;

    explicit NameCodec(bool serverUtf8 = false) : serverUtf8_(serverUtf8) {}

    // The server took "OPTS UTF8 ON" (or listed UTF8): names are UTF-8 on the wire.
    void SetServerUtf8(bool on) { serverUtf8_ = on || forced_ == NameEncoding::Utf8; }
    // Names in one encoding whatever the server says (Auto: as above).
    void Force(NameEncoding encoding) {
        forced_ = encoding;
        serverUtf8_ = encoding == NameEncoding::Utf8;
    }
    NameEncoding Forced() const { return forced_; }
    bool ServerUtf8() const { return serverUtf8_; }
    // The server has shown a name in CP932: new non-ASCII names go out in CP932.
    bool ServerNamesCp932() const { return serverCp932_; }

    // A name (or path) as the server sent it, as UTF-8 for the program. Always valid UTF-8.
    std::string Decode(const std::string& raw);
    // A path or name of the program in the server's bytes; "/" separates the parts, each
    // encoded on its own. Does not check for CR, LF or NUL (see IsSafeForCommand in ReplyText.h).
    std::string Encode(const std::string& text) const;

private:
    std::string EncodePart(const std::string& part) const;

    bool serverUtf8_ = false;
    bool serverCp932_ = false;
    NameEncoding forced_ = NameEncoding::Auto;
    std::unordered_map<std::string, std::string> rawOf_; // decoded name -> bytes on the wire
};

} // namespace oxlip::ftp
