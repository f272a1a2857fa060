#include "settings/IniFile.h"

#include "localfs/TextCodec.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace oxlip {

namespace {

bool IsHeader(const std::string& line) {
    return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

std::string HeaderOf(const std::string& section) {
    return "[" + section + "]";
}

bool HasLineBreak(const std::string& s) {
    return s.find_first_of("\r\n") != std::string::npos;
}

// Lines end at CR, CR LF or LF; a last line without an end is still a line, and an empty
// text is one empty line.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string current;
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(std::move(current));
            current.clear();
            if (c == '\r' && i + 1 < n && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            current += c;
        }
    }
    if (!current.empty() || lines.empty()) {
        lines.push_back(std::move(current));
    }
    return lines;
}

// The lines of a file, each decoded on its own: UTF-8 as it is, otherwise CP932, otherwise
// with U+FFFD for what does not decode. Line ends are ASCII in both encodings.
struct DecodedLines {
    std::vector<std::string> lines;
    bool utf8 = false;    // a line with valid non-ASCII UTF-8
    bool cp932 = false;   // a line read as CP932
    bool damaged = false; // a line in neither encoding
};

bool HasNonAscii(const std::string& s) {
    for (const char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return true;
        }
    }
    return false;
}

DecodedLines DecodeLines(const std::string& bytes) {
    DecodedLines out;
    for (auto& raw : SplitLines(bytes)) {
        if (IsValidUtf8(raw)) {
            out.utf8 = out.utf8 || HasNonAscii(raw);
            out.lines.push_back(std::move(raw));
        } else if (auto decoded = Cp932ToUtf8(raw)) {
            out.cp932 = true;
            out.lines.push_back(std::move(*decoded));
        } else {
            out.damaged = true;
            out.lines.push_back(DecodeUtf8OrCp932(raw));
        }
    }
    return out;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

enum class ReadResult { Missing, Ok, Failed };

ReadResult ReadWholeFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReadResult::Failed;
    }
    char buf[65536];
    // Each round reads at least one byte or ends the loop.
    for (;;) {
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            ::close(fd);
            return ReadResult::Failed;
        }
        if (got == 0) {
            break;
        }
        bytes.append(buf, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return ReadResult::Ok;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsPrivateMode(unsigned mode) {
    return (mode & 077) == 0;
}

// Takes the group's and others' bits from an existing file when the mode is private.
bool TightenMode(const std::string& path, unsigned newFileMode) {
    struct stat st {};
    if (!IsPrivateMode(newFileMode) || ::stat(path.c_str(), &st) != 0 || (st.st_mode & 077) == 0) {
        return true;
    }
    return ::chmod(path.c_str(), st.st_mode & 07700) == 0;
}

std::string TempNameFor(const std::string& path) {
    static std::mt19937_64 rng{std::random_device{}()};
    static unsigned long counter = 0;
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".tmp-%ld-%lu-%08llx", static_cast<long>(::getpid()),
                  ++counter, static_cast<unsigned long long>(rng() & 0xffffffffULL));
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return folder + "." + name + suffix;
}

bool WriteAll(int fd, const std::string& bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool ReplaceFileAtomically(const std::string& path, const std::string& bytes,
                           unsigned newFileMode) {
    std::string target = path;
    struct stat st {};
    bool haveOld = ::lstat(path.c_str(), &st) == 0;
    if (haveOld && S_ISLNK(st.st_mode)) {
        // Replace the file the link points to, not the link.
        char* real = ::realpath(path.c_str(), nullptr);
        if (real) {
            target = real;
            std::free(real);
            haveOld = ::stat(target.c_str(), &st) == 0;
        } else {
            haveOld = false;
        }
    }
    if (haveOld && !S_ISREG(st.st_mode)) {
        return false;
    }
    const mode_t mode = haveOld ? (st.st_mode & (IsPrivateMode(newFileMode) ? 07700 : 07777))
                                : static_cast<mode_t>(newFileMode & 07777);

    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = TempNameFor(target);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    haveOld ? S_IRUSR | S_IWUSR : mode);
        if (fd < 0 && errno != EEXIST) {
            return false;
        }
    }
    if (fd < 0) {
        return false;
    }
    bool ok = true;
    if (haveOld) {
        if (::fchmod(fd, mode) != 0) {
            ok = false;
        }
        if (ok && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
            // Only possible for a privileged user; a failure keeps our own ownership.
            [[maybe_unused]] int ignored = ::fchown(fd, st.st_uid, st.st_gid);
        }
    }
    ok = ok && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    if (::close(fd) != 0) {
        ok = false;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable; the new content is already in place either way.
    const int dirFd = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

int ComparePrefix(const std::string& line, const std::string& prefix) {
    const std::string head = line.substr(0, prefix.size());
    const int c = prefix.compare(head);
    return c == 0 ? 0 : (c > 0 ? 1 : -1);
}

IniDocument::LoadResult IniDocument::load(const std::string& path) {
    exists_ = false;
    lines_.clear();
    loadedLines_.clear();
    loadedBytes_.clear();
    encoding_ = Encoding::Utf8;
    std::string bytes;
    switch (ReadWholeFile(path, bytes)) {
    case ReadResult::Missing:
        return LoadResult::Missing;
    case ReadResult::Failed:
        return LoadResult::Failed;
    case ReadResult::Ok:
        break;
    }
    exists_ = true;
    DecodedLines decoded = DecodeLines(bytes);
    lines_ = std::move(decoded.lines);
    loadedLines_ = lines_;
    loadedBytes_ = std::move(bytes);
    encoding_ = decoded.damaged || (decoded.cp932 && decoded.utf8) ? Encoding::Mixed
                : decoded.cp932                                    ? Encoding::Cp932
                                                                   : Encoding::Utf8;
    return LoadResult::Loaded;
}

std::vector<std::string> IniDocument::linesForEdit() const {
    // A file rewritten without any line reads back as one empty line.
    if (exists_ && lines_.empty()) {
        return {std::string()};
    }
    return lines_;
}

std::string IniDocument::read(const std::string& section, const std::string& key,
                              const std::string& defaultValue) const {
    if (!exists_) {
        return defaultValue;
    }
    const std::string header = HeaderOf(section);
    const std::string prefix = key + "=";
    bool inside = false;
    for (const auto& line : lines_) {
        if (IsHeader(line) && line != header) {
            if (inside) {
                break; // a key missing from the section is never taken from another one
            }
        } else if (line == header) {
            inside = true; // a repeated header right inside the section continues it
        } else if (inside && ComparePrefix(line, prefix) == 0) {
            return line.substr(prefix.size());
        }
    }
    return defaultValue;
}

void IniDocument::write(const std::string& section, const std::string& key,
                        const std::string& value) {
    const std::string header = HeaderOf(section);
    const std::string prefix = key + "=";
    const std::string newLine = prefix + value;

    enum { NotSeen, Inside, Done } state = NotSeen;
    std::string currentHeader;
    std::vector<std::string> out;
    for (auto line : linesForEdit()) {
        if (IsHeader(line)) {
            currentHeader = line;
        }
        if (currentHeader == header) {
            if (state == NotSeen) {
                state = Inside;
            }
        } else if (state == Inside) {
            // The section ends here without the key: insert it before any blank line that
            // separates the sections.
            if (!out.back().empty()) {
                out.push_back(newLine);
            } else {
                out.back() = newLine;
                out.emplace_back();
            }
            state = Done;
        }
        if (state == Inside && ComparePrefix(line, prefix) == 0) {
            line = newLine;
            state = Done;
        }
        out.push_back(std::move(line));
    }
    if (state == NotSeen) {
        out.push_back(header);
        out.push_back(newLine);
    } else if (state == Inside) {
        out.push_back(newLine);
    }
    exists_ = true;
    // A name or value with a line break becomes several lines, as the file would read back.
    lines_ =
        HasLineBreak(newLine) || HasLineBreak(header) ? SplitLines(JoinLines(out)) : std::move(out);
}

bool IniDocument::deleteSection(const std::string& section) {
    if (!exists_) {
        return false;
    }
    const std::string header = HeaderOf(section);
    std::string currentHeader;
    std::vector<std::string> out;
    for (auto& line : linesForEdit()) {
        if (IsHeader(line)) {
            currentHeader = line;
        }
        if (currentHeader != header) {
            out.push_back(std::move(line));
        }
    }
    lines_ = std::move(out);
    return true;
}

std::vector<std::string> IniDocument::sections() const {
    std::vector<std::string> names;
    for (const auto& line : lines_) {
        if (IsHeader(line)) {
            names.push_back(line.substr(1, line.size() - 2));
        }
    }
    return names;
}

std::string IniDocument::text() const {
    return JoinLines(lines_);
}

std::string IniDocument::encoded(bool* keepBackup) const {
    *keepBackup = false;
    const std::string utf8 = text();
    if (encoding_ == Encoding::Utf8) {
        return utf8;
    }
    if (encoding_ == Encoding::Cp932) {
        // Only when the CP932 bytes read back as these very lines.
        if (auto cp932 = Utf8ToCp932(utf8);
            cp932 && DecodeLines(*cp932).lines == SplitLines(utf8)) {
            return *cp932;
        }
    }
    *keepBackup = true;
    return utf8;
}

bool IniDocument::save(const std::string& path, unsigned newFileMode) const {
    if (!exists_) {
        return true;
    }
    // A loaded file always has at least one line.
    if (!loadedLines_.empty() && lines_ == loadedLines_) {
        return TightenMode(path, newFileMode);
    }
    bool keepBackup = false;
    const std::string bytes = encoded(&keepBackup);
    if (keepBackup) {
        const std::string backup = path + ".bak";
        struct stat st {};
        if (::lstat(backup.c_str(), &st) != 0 &&
            !ReplaceFileAtomically(backup, loadedBytes_, newFileMode)) {
            return false;
        }
    }
    return ReplaceFileAtomically(path, bytes, newFileMode);
}

std::string ReadIniValue(const std::string& path, const std::string& section,
                         const std::string& key, const std::string& defaultValue) {
    IniDocument doc;
    doc.load(path);
    return doc.read(section, key, defaultValue);
}

bool WriteIniValue(const std::string& path, const std::string& section, const std::string& key,
                   const std::string& value) {
    return WriteIniValue(path, section, key, value, kIniDefaultFileMode);
}

bool WriteIniValue(const std::string& path, const std::string& section, const std::string& key,
                   const std::string& value, unsigned newFileMode) {
    IniDocument doc;
    // A file that exists but cannot be read is never replaced by one holding only this key.
    if (doc.load(path) == IniDocument::LoadResult::Failed) {
        return false;
    }
    doc.write(section, key, value);
    return doc.save(path, newFileMode);
}

bool DeleteIniSection(const std::string& path, const std::string& section) {
    IniDocument doc;
    if (doc.load(path) != IniDocument::LoadResult::Loaded) {
        return false;
    }
    doc.deleteSection(section);
    return doc.save(path);
}

std::vector<std::string> ListIniSections(const std::string& path) {
    IniDocument doc;
    doc.load(path);
    return doc.sections();
}

} // namespace oxlip
