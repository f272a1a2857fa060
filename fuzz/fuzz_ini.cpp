// Settings files as anyone may have left them. The input is "file content \0 section \0 key
// \0 value"; the content becomes a file that is read, written and cut by the INI engine.
// For plain names (no brackets, "=" or line ends) a written value reads back, other keys keep
// their values, and a deleted section reads as missing.

#include "FuzzCheck.h"
#include "localfs/TextCodec.h"
#include "settings/IniFile.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

std::string folder = "/dev/shm/oxlip-fuzz-ini-XXXXXX"; // memory-backed: every rewrite is synced

const std::string& FilePath() {
    static const std::string path = [] {
        FUZZ_CHECK(mkdtemp(folder.data()) != nullptr);
        std::atexit([] { std::filesystem::remove_all(folder); });
        return folder + "/fuzz.ini";
    }();
    return path;
}

// Names as the program makes them: UTF-8 without brackets, "=", line ends or NUL.
bool IsPlainName(const std::string& text) {
    return !text.empty() && oxlip::IsValidUtf8(text) &&
           text.find_first_of(std::string("[]=\r\n\0", 6)) == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> parts = SplitInput(data, size, '\0', 4);
    parts.resize(4);
    const std::string &content = parts[0], &section = parts[1], &key = parts[2], &value = parts[3];
    const std::string& path = FilePath();
    const std::string missing = "\x01missing";

    FUZZ_CHECK(std::ofstream(path, std::ios::binary).write(content.data(), content.size()).flush());
    (void)oxlip::ListIniSections(path);
    (void)oxlip::ComparePrefix(content, key);
    // Keys that the write must leave alone, in another section and in the same one.
    const std::string otherKey = key == "k" ? "j" : "k";
    const std::string otherBefore = oxlip::ReadIniValue(path, "Other", otherKey, missing);
    const std::string sameSectionBefore = oxlip::ReadIniValue(path, section, otherKey, missing);

    const bool plain =
        IsPlainName(section) && IsPlainName(key) &&
        std::all_of(value.begin(), value.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
    const bool written = oxlip::WriteIniValue(path, section, key, value);
    FUZZ_CHECK(!plain || (written && oxlip::ReadIniValue(path, section, key, missing) == value));
    FUZZ_CHECK(!plain || oxlip::ReadIniValue(path, "Other", otherKey, missing) == otherBefore);
    FUZZ_CHECK(!plain ||
               oxlip::ReadIniValue(path, section, otherKey, missing) == sameSectionBefore);
    const bool deleted = oxlip::DeleteIniSection(path, section);
    FUZZ_CHECK(!plain || (deleted && oxlip::ReadIniValue(path, section, key, missing) == missing));
    return 0;
}
