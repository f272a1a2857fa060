#include "ftp/Partial.h"

#include "localfs/LocalFs.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace oxlip {

namespace {

constexpr char kAttribute[] = "user.oxlip.source";
constexpr char kTempSuffix[] = ".part-XXXXXX";
constexpr char kPartialSuffix[] = ".oxlip-part";

} // namespace

std::string PartialPath(const std::string& folder, const std::string& name) {
    const long nameMax = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    // The hidden temporary name has the same form with a suffix one byte longer.
    std::string hidden = HiddenTempName(name, nameMax > 0 ? std::size_t(nameMax) : 255);
    hidden.resize(hidden.size() - (sizeof kTempSuffix - 1));
    return folder + hidden + kPartialSuffix;
}

bool RecordPartialSource(int fd, const PartialSource& source) {
    char text[64];
    const int n =
        std::snprintf(text, sizeof text, "%llu %llu", static_cast<unsigned long long>(source.size),
                      static_cast<unsigned long long>(source.time));
    return ::fsetxattr(fd, kAttribute, text, std::size_t(n), 0) == 0;
}

std::optional<PartialSource> PartialSourceOf(int fd) {
    char text[64] = {};
    const ssize_t n = ::fgetxattr(fd, kAttribute, text, sizeof text - 1);
    unsigned long long size = 0;
    unsigned long long time = 0;
    if (n <= 0 || std::sscanf(text, "%llu %llu", &size, &time) != 2) {
        return std::nullopt;
    }
    return PartialSource{size, time};
}

void ForgetPartialSource(int fd) {
    ::fremovexattr(fd, kAttribute);
}

std::optional<PartialSource> HostSource(FtpClient* hFtp, const std::string& hostPath) {
    DirEntry entry;
    if (!hFtp->isOpen() || !hFtp->entry(hostPath, entry) || entry.directory ||
        entry.modified.ticks == 0) {
        return std::nullopt;
    }
    return PartialSource{entry.size, entry.modified.ticks};
}

PartialTarget OpenPartial(FtpClient* hFtp, const std::string& hostPath, const std::string& folder,
                          const std::string& name, bool resume) {
    PartialTarget partial{-1, PartialPath(folder, name), 0};
    const int fd = ::open(partial.path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    struct stat kept {};
    if (fd < 0 || ::fstat(fd, &kept) != 0 || !S_ISREG(kept.st_mode)) {
        if (fd >= 0) {
            ::close(fd);
        }
        return partial;
    }
    partial.fd = fd;
    const uint64_t keptSize = static_cast<uint64_t>(kept.st_size);
    const std::optional<PartialSource> recorded = PartialSourceOf(fd);
    // Only a partial file asks for the host file's time, so a plain download costs no MDTM.
    if (resume && keptSize > 0 && recorded && keptSize < recorded->size &&
        hFtp->hasFeature("REST") && HostSource(hFtp, hostPath) == recorded &&
        ::lseek(fd, 0, SEEK_END) >= 0) {
        partial.restartAt = keptSize;
        return partial;
    }
    ForgetPartialSource(fd);
    if (::ftruncate(fd, 0) != 0) {
        ::close(fd);
        partial.fd = -1;
    }
    return partial;
}

bool KeepPartial(FtpClient* hFtp, const std::string& hostPath, int fd, uint64_t restartAt) {
    struct stat kept {};
    if (::fstat(fd, &kept) != 0 || kept.st_size == 0) {
        return false;
    }
    if (restartAt > 0) {
        return true; // recorded when it was started
    }
    const std::optional<PartialSource> source = HostSource(hFtp, hostPath);
    return source && RecordPartialSource(fd, *source);
}

} // namespace oxlip
