// Settings files as anyone may have left them. The input is "file content \0 section \0 key
// \0 value"; the content becomes a file that is read, written and cut by the INI engine.
// For plain names (no brackets, "=" or line ends) a written value reads back, other keys keep
// their values, and a deleted section reads as missing.

#include "FuzzCheck.h"
#include "localfs/TextCodec.h"
#include "settings/IniFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string& FilePath() {
    static const std::string path = [] {
        // Memory-backed when there is such a folder: every rewrite is synced to disk.
        char folder[] = "/dev/shm/oxlip-fuzz-ini-XXXXXX";
        if (access("/dev/shm", W_OK) != 0) {
            std::snprintf(folder, sizeof folder, "/tmp/oxlip-fuzz-ini-XXXXXX");
        }
        if (mkdtemp(folder) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        static std::string created = folder;
        std::atexit([] {
            std::remove((created + "/fuzz.ini").c_str());
            std::remove((created + "/fuzz.ini.bak").c_str()); // kept by a change of encoding
            rmdir(created.c_str());
        });
        return created + "/fuzz.ini";
    }();
    return path;
}

// Names as the program makes them: UTF-8 without brackets, "=", line ends or NUL.
bool IsPlainName(const std::string& text) {
    return !text.empty() && oxlip::IsValidUtf8(text) &&
           text.find_first_of(std::string("[]=\r\n\0", 6)) == std::string::npos;
}

bool IsPlainValue(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) {
            return false;
        }
    }
    return true;
}

void WriteFile(const std::string& path, const std::string& content) {
    FILE* file = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(std::fwrite(content.data(), 1, content.size(), file) == content.size());
    FUZZ_CHECK(std::fclose(file) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts;
    std::size_t begin = 0;
    while (parts.size() < 3) {
        const std::size_t end = input.find('\0', begin);
        if (end == std::string::npos) {
            break;
        }
        parts.push_back(input.substr(begin, end - begin));
        begin = end + 1;
    }
    parts.push_back(input.substr(std::min(begin, input.size())));
    parts.resize(4);
    const std::string& content = parts[0];
    const std::string& section = parts[1];
    const std::string& key = parts[2];
    const std::string& value = parts[3];
    const std::string& path = FilePath();
    const std::string missing = "\x01missing";

    WriteFile(path, content);
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
