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
#include <tuple>
#include <unistd.h>

namespace {

std::string folder; // removed at exit

const std::string& FilePath() {
    static const std::string path = [] {
        // Memory-backed when there is such a folder: every rewrite is synced to disk.
        folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm/oxlip-fuzz-ini-XXXXXX"
                                               : "/tmp/oxlip-fuzz-ini-XXXXXX";
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

bool IsPlainValue(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> parts = SplitInput(data, size, '\0', 4);
    parts.resize(4);
    const auto& [content, section, key, value] = std::tie(parts[0], parts[1], parts[2], parts[3]);
    const std::string& path = FilePath();
    const std::string missing = "\x01missing";

    FUZZ_CHECK(std::ofstream(path, std::ios::binary).write(content.data(), content.size()).flush());
    (void)oxlip::ReadIniValue(path, section, key, missing);
    (void)oxlip::ListIniSections(path);
    (void)oxlip::ComparePrefix(content, key);

    // Another key that the write must leave alone.
    const std::string otherSection = "Other";
    const std::string otherKey = key == "k" ? "j" : "k";
    const std::string otherBefore = oxlip::ReadIniValue(path, otherSection, otherKey, missing);
    const std::string sameSectionBefore = oxlip::ReadIniValue(path, section, otherKey, missing);

    const bool plain = IsPlainName(section) && IsPlainName(key) && IsPlainValue(value);
    const bool written = oxlip::WriteIniValue(path, section, key, value);
    if (plain) {
        FUZZ_CHECK(written);
        FUZZ_CHECK(oxlip::ReadIniValue(path, section, key, missing) == value);
        FUZZ_CHECK(oxlip::ReadIniValue(path, otherSection, otherKey, missing) == otherBefore);
        FUZZ_CHECK(oxlip::ReadIniValue(path, section, otherKey, missing) == sameSectionBefore);
    }

    const bool deleted = oxlip::DeleteIniSection(path, section);
    if (plain) {
        FUZZ_CHECK(deleted);
        FUZZ_CHECK(oxlip::ReadIniValue(path, section, key, missing) == missing);
    }
    return 0;
}
