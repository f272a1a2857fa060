#pragma once
// UTF-8 checks and CP932 (Shift-JIS) and EUC-JP conversion through iconv.

#include <optional>
#include <string>

namespace oxlip {

bool IsValidUtf8(const std::string& bytes);

// CP932 bytes to UTF-8; nullopt when the bytes are not valid CP932.
std::optional<std::string> Cp932ToUtf8(const std::string& bytes);

// UTF-8 to CP932; nullopt when a character has no CP932 form.
std::optional<std::string> Utf8ToCp932(const std::string& utf8);

// EUC-JP the same way.
std::optional<std::string> EucJpToUtf8(const std::string& bytes);
std::optional<std::string> Utf8ToEucJp(const std::string& utf8);

// Bytes of unknown encoding as UTF-8: valid UTF-8 stays as it is, otherwise CP932 is tried;
// bytes that are neither as a whole are decoded line by line the same way, and a line that
// is neither gets U+FFFD for each byte that does not decode. The result is always UTF-8.
std::string DecodeUtf8OrCp932(const std::string& bytes);

} // namespace oxlip
