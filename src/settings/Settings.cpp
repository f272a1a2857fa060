#include "settings/Settings.h"

#include "localfs/TextCodec.h"
#include "settings/IniFile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <pwd.h>
#include <random>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace oxlip {

namespace {

constexpr const char* kAppSection = "Oxlip";
constexpr const char* kExtensionSection = "Extension";
constexpr unsigned kUserIniMode = kIniPrivateFileMode; // it holds the passwords

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// The whole (trimmed) text as a number of type T; nullopt for anything else.
template <typename T> std::optional<T> ParseNumber(const std::string& text) {
    const std::string t = Trimmed(text);
    if (t.empty()) {
        return std::nullopt;
    }
    const char* first = t.data();
    const char* last = t.data() + t.size();
    if (*first == '+') {
        ++first;
    }
    T value{};
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr != last) {
        return std::nullopt;
    }
    if constexpr (std::is_floating_point_v<T>) {
        if (!std::isfinite(value)) {
            return std::nullopt;
        }
    }
    return value;
}

float ReadTwips(const IniDocument& doc, const char* key, float fallback, bool positive) {
    const auto v = ParseNumber<float>(doc.read(kAppSection, key, ""));
    if (!v || (positive && *v <= 0)) {
        return fallback;
    }
    return *v;
}

int ReadInteger(const IniDocument& doc, const std::string& section, const char* key, int low,
                int high, int fallback) {
    const auto v = ParseNumber<long long>(doc.read(section, key, ""));
    if (!v || *v < low || *v > high) {
        return fallback;
    }
    return static_cast<int>(*v);
}

std::optional<bool> ParseBoolean(const std::string& text) {
    const std::string t = Trimmed(text);
    if (strcasecmp(t.c_str(), "True") == 0) {
        return true;
    }
    if (strcasecmp(t.c_str(), "False") == 0) {
        return false;
    }
    if (const auto v = ParseNumber<double>(t)) {
        return *v != 0;
    }
    return std::nullopt;
}

// Decimal text of a single-precision number; integral values have no decimal point.
std::string FormatTwips(float value) {
    if (value == 0) {
        value = 0; // no "-0"
    }
    char buf[64];
    const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return ec == std::errc() ? std::string(buf, ptr) : std::string("0");
}

std::mt19937& Random() {
    static std::mt19937 rng{std::random_device{}()};
    return rng;
}

// The last three characters of the decimal text of a random number between 0 and 1.
std::string Filler() {
    std::uniform_real_distribution<float> dist(0.0f, 1.0f);
    const float r = dist(Random());
    char buf[64];
    const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, r);
    std::string text = ec == std::errc() ? std::string(buf, ptr) : std::string("0");
    while (text.size() < 3) {
        text.insert(text.begin(), '0');
    }
    return text.substr(text.size() - 3);
}

std::string JoinPath(const std::string& folder, const char* name) {
    if (!folder.empty() && folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

// Writes a connection option only when the section has its key already or the value is not
// the default, so that a profile saved by an older version is not rewritten for them.
void WriteOption(IniDocument& doc, const std::string& section, const char* key,
                 const std::string& value, const std::string& fallback) {
    static const std::string missing("\x01");
    if (value != fallback || doc.read(section, key, missing) != missing) {
        doc.write(section, key, value);
    }
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

} // namespace

const std::vector<std::string>& DefaultAsciiExtensions() {
    static const std::vector<std::string> list = {"CGI", "CSS", "HTM",  "HTML",  "JAVA",
                                                  "JS",  "PL",  "SHTM", "SHTML", "TXT"};
    return list;
}

Settings::Settings(std::string folder) : folder_(std::move(folder)) {}

std::string Settings::ftpIniPath() const {
    return JoinPath(folder_, "Ftp.ini");
}

std::string Settings::userIniPath() const {
    return JoinPath(folder_, "User.ini");
}

void Settings::SetDefaultAsciiExtensions() {
    AsciiExtensionList = DefaultAsciiExtensions();
}

void Settings::LoadAsciiExtensions() {
    AsciiExtensionList.clear();
    IniDocument doc;
    // A file that is missing, or that cannot be read at all, gives the built-in list.
    if (doc.load(ftpIniPath()) != IniDocument::LoadResult::Loaded) {
        SetDefaultAsciiExtensions();
        return;
    }
    // Consecutive keys from Extension0; the first empty or missing one ends the list (an
    // emptied list is a file without the section). The count is bounded by the number of
    // lines in the file.
    const std::size_t limit = doc.lines().size();
    for (std::size_t i = 0; i <= limit; ++i) {
        std::string value = doc.read(kExtensionSection, "Extension" + std::to_string(i), "");
        if (value.empty()) {
            break;
        }
        AsciiExtensionList.push_back(std::move(value));
    }
}

bool Settings::SaveAsciiExtensions() {
    // The section is removed and written anew, so it moves to the end of the file. All of it
    // reaches the disk in one replacement: a failure keeps the old file as it was.
    IniDocument doc;
    if (doc.load(ftpIniPath()) == IniDocument::LoadResult::Failed) {
        return false;
    }
    doc.deleteSection(kExtensionSection);
    // An empty entry would end the list when it is read back: it is left out.
    std::size_t index = 0;
    for (const std::string& extension : AsciiExtensionList) {
        if (!extension.empty()) {
            doc.write(kExtensionSection, "Extension" + std::to_string(index++), extension);
        }
    }
    return doc.save(ftpIniPath());
}

void Settings::LoadAppSettings(WindowPlacement* window) {
    IniDocument doc;
    doc.load(ftpIniPath());
    profile.ProfileName = doc.read(kAppSection, "User", "");
    if (window) {
        const int state = ReadInteger(doc, kAppSection, "WindowState", 0, 255, 0);
        if (state & 3) {
            // A minimised or maximised window was saved: the default size, the position as
            // the window has it, and only the maximised state kept.
            window->setSizeOnly(kDefaultWindowWidthTwips, kDefaultWindowHeightTwips);
            window->setWindowState(state & 2);
        } else {
            const float left = ReadTwips(doc, "Left", 0, false);
            const float top = ReadTwips(doc, "Top", 0, false);
            const float width = ReadTwips(doc, "Width", kDefaultWindowWidthTwips, true);
            const float height = ReadTwips(doc, "Height", kDefaultWindowHeightTwips, true);
            window->setPlacement(left, top, width, height);
        }
    }
    ListCache = ParseBoolean(doc.read(kAppSection, "ListCache", "1")).value_or(true);
    // A number out of range is brought into it; no number is the default.
    const auto parallel = ParseNumber<long long>(doc.read(kAppSection, "Parallel", ""));
    Parallel = parallel ? static_cast<int>(std::clamp<long long>(*parallel, 1, kMaxParallel)) : 1;
}

bool Settings::SaveAppSettings(const WindowPlacement* window) {
    IniDocument doc;
    if (doc.load(ftpIniPath()) == IniDocument::LoadResult::Failed) {
        return false;
    }
    doc.write(kAppSection, "User", profile.ProfileName);
    doc.write(kAppSection, "Left", FormatTwips(window ? window->left() : 0));
    doc.write(kAppSection, "Top", FormatTwips(window ? window->top() : 0));
    doc.write(kAppSection, "Width",
              FormatTwips(window ? window->width() : kDefaultWindowWidthTwips));
    doc.write(kAppSection, "Height",
              FormatTwips(window ? window->height() : kDefaultWindowHeightTwips));
    doc.write(kAppSection, "WindowState", std::to_string(window ? window->windowState() : 0));
    doc.write(kAppSection, "ListCache", ListCache ? "True" : "False");
    WriteOption(doc, kAppSection, "Parallel", std::to_string(Parallel), "1");
    return doc.save(ftpIniPath());
}

void Settings::LoadProfile() {
    if (profile.ProfileName.empty()) {
        return;
    }
    IniDocument doc;
    doc.load(userIniPath());
    const std::string& s = profile.ProfileName;
    profile.Server = doc.read(s, "Server", "");
    profile.UserName = doc.read(s, "UserName", "");
    profile.PassWord = UnscramblePassword(doc.read(s, "PassWord", ""));
    profile.Dir = doc.read(s, "Dir", "");
    profile.LDir = doc.read(s, "LDir", "");
    profile.TransMode = ReadInteger(doc, s, "TransMode", -1, 2, 0);
    profile.LastPathLocal = doc.read(s, "LastPathLocal", "");
    profile.LastPathHost = doc.read(s, "LastPathHost", "");
    profile.Encryption =
        ReadInteger(doc, s, "Encryption", EncryptIfAvailable, EncryptNone, EncryptIfAvailable);
    profile.Port = ReadInteger(doc, s, "Port", 1, 65535, 0);
    profile.Passive = ParseBoolean(doc.read(s, "Passive", "True")).value_or(true);
    profile.NameEncoding = ReadInteger(doc, s, "NameEncoding", NamesAuto, NamesEucJp, NamesAuto);
    profile.KeepAlive =
        ReadInteger(doc, s, "KeepAlive", 0, kMaxKeepAliveSeconds, kDefaultKeepAliveSeconds);
}

bool Settings::SaveProfile() {
    if (profile.ProfileName.empty()) {
        return true;
    }
    IniDocument doc;
    if (doc.load(userIniPath()) == IniDocument::LoadResult::Failed) {
        return false;
    }
    const std::string& s = profile.ProfileName;
    doc.write(s, "Server", profile.Server);
    doc.write(s, "UserName", profile.UserName);
    // A stored password that still reads the same is kept: new filler alone is no change.
    const std::string stored = doc.read(s, "PassWord", "");
    doc.write(s, "PassWord",
              UnscramblePassword(stored) == profile.PassWord ? stored
                                                             : ScramblePassword(profile.PassWord));
    doc.write(s, "Dir", profile.Dir);
    doc.write(s, "LDir", profile.LDir);
    doc.write(s, "TransMode", std::to_string(profile.TransMode));
    doc.write(s, "LastPathLocal", profile.LDir);
    doc.write(s, "LastPathHost", profile.LastPathHost);
    const ConnectionProfile defaults;
    WriteOption(doc, s, "Encryption", std::to_string(profile.Encryption),
                std::to_string(defaults.Encryption));
    WriteOption(doc, s, "Port", profile.Port > 0 ? std::to_string(profile.Port) : "", "");
    WriteOption(doc, s, "Passive", profile.Passive ? "True" : "False", "True");
    WriteOption(doc, s, "NameEncoding", std::to_string(profile.NameEncoding),
                std::to_string(defaults.NameEncoding));
    WriteOption(doc, s, "KeepAlive", std::to_string(profile.KeepAlive),
                std::to_string(defaults.KeepAlive));
    return doc.save(userIniPath(), kUserIniMode);
}

bool Settings::DeleteProfile(const std::string& name) {
    IniDocument doc;
    const IniDocument::LoadResult loaded = doc.load(userIniPath());
    if (loaded == IniDocument::LoadResult::Failed ||
        (loaded == IniDocument::LoadResult::Loaded &&
         !(doc.deleteSection(name) && doc.save(userIniPath(), kUserIniMode)))) {
        return false;
    }
    if (profile.ProfileName == name) {
        // No longer a stored profile: nothing may write it back. The local folder shown stays.
        const std::string local = profile.LastPathLocal;
        profile = ConnectionProfile{};
        profile.LastPathLocal = local;
    }
    return true;
}

int EffectivePort(const ConnectionProfile& profile) {
    if (profile.Port > 0) {
        return profile.Port;
    }
    return profile.Encryption == EncryptImplicit ? kDefaultImplicitTlsPort : kDefaultFtpPort;
}

std::vector<std::string> Settings::ProfileNames(bool* exists) const {
    IniDocument doc;
    const bool loaded = doc.load(userIniPath()) == IniDocument::LoadResult::Loaded;
    if (exists) {
        *exists = loaded;
    }
    return doc.sections();
}

std::string ScramblePassword(const std::string& password) {
    std::string out;
    out.reserve(password.size() * 6);
    for (const unsigned char byte : password) {
        char code[4];
        code[0] = static_cast<char>('0' + byte / 100);
        code[1] = static_cast<char>('0' + byte / 10 % 10);
        code[2] = static_cast<char>('0' + byte % 10);
        code[3] = '\0';
        out += code;
        out += Filler();
    }
    return out;
}

std::string UnscramblePassword(const std::string& scrambled) {
    std::string bytes;
    for (std::size_t pos = 0; pos < scrambled.size(); pos += 6) {
        const std::string piece = scrambled.substr(pos, 3);
        unsigned value = 0;
        for (const char c : piece) {
            if (c < '0' || c > '9') {
                return {};
            }
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (value > 255) {
            return {};
        }
        bytes += static_cast<char>(value);
    }
    if (IsValidUtf8(bytes)) {
        return bytes;
    }
    // Written by a program that stored the bytes of its ANSI code page.
    return Cp932ToUtf8(bytes).value_or(std::string());
}

std::string ChooseSettingsFolder(const std::string& programFolder) {
    const std::string ftpIni = JoinPath(programFolder, "Ftp.ini");
    const std::string userIni = JoinPath(programFolder, "User.ini");
    const bool present = FileExists(ftpIni) || FileExists(userIni);
    const auto writableIfPresent = [](const std::string& path) {
        return !FileExists(path) || ::access(path.c_str(), W_OK) == 0;
    };
    if (present && ::access(programFolder.c_str(), W_OK) == 0 && writableIfPresent(ftpIni) &&
        writableIfPresent(userIni)) {
        return programFolder;
    }

    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) {
            const passwd* pw = ::getpwuid(::getuid());
            home = pw ? pw->pw_dir : "/tmp";
        }
        base = JoinPath(home, ".config");
    }
    const std::string folder = JoinPath(base, "oxlip");
    std::error_code ec;
    if (std::filesystem::create_directories(folder, ec)) {
        ::chmod(folder.c_str(), 0700);
    }
    return folder;
}

} // namespace oxlip
