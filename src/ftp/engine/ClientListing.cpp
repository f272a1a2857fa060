#include "ftp/engine/ClientImpl.h"
#include "ftp/engine/ListingParser.h"
#include "ftp/engine/ReplyText.h"
#include "localfs/TextHelpers.h"

#include <algorithm>
#include <cctype>
#include <ctime>

namespace oxlip::ftp {

namespace {

// A listing longer than this is refused instead of filling memory.
constexpr std::size_t kMaxListingBytes = 256u * 1024 * 1024;

// An MLST entry line (" facts name") that states a size.
bool HasSizeFact(const std::string& line) {
    const std::string facts = UpperAscii(line.substr(0, line.find(' ', 1)));
    return facts.rfind(" SIZE=", 0) == 0 || facts.find(";SIZE=") != std::string::npos;
}

bool HasWildcard(const std::string& text) {
    return text.find_first_of("*?") != std::string::npos;
}

// Strips final "/" (a root stays "/").
std::string WithoutFinalSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// The folder the session is in once path is made current from the folder `from`: an absolute
// path without "//" or a final "/"; none when that cannot be told (a relative path from an
// unknown folder, "." or "..", "~").
std::optional<std::string> Resolved(const std::optional<std::string>& from,
                                    const std::string& path) {
    if (path.empty() || path[0] == '~' || (path[0] != '/' && !from)) {
        return std::nullopt;
    }
    const std::string full = path[0] == '/' ? path : *from + "/" + path;
    std::string out;
    for (std::size_t start = 0; start < full.size();) {
        std::size_t end = full.find('/', start);
        end = end == std::string::npos ? full.size() : end;
        const std::string_view part(full.data() + start, end - start);
        if (part == "." || part == "..") {
            return std::nullopt;
        }
        if (!part.empty()) {
            out.append("/").append(part);
        }
        start = end + 1;
    }
    return out.empty() ? "/" : out;
}

// The answer to a listing in a folder that CWD has just reached says the folder is empty: some
// servers answer "550 No files found" (or a 450) rather than an empty listing. A refusal is
// no empty folder.
bool SaysEmpty(const Reply& reply) {
    if (reply.code != 450 && reply.code != 550) {
        return false;
    }
    const std::string text = UpperAscii(reply.text());
    for (const char* refusal : {"DENIED", "PERMISSION", "ACCESS", "NOT ALLOWED"}) {
        if (text.find(refusal) != std::string::npos) {
            return false;
        }
    }
    return true;
}

// Commands after which the session may be in another folder.
bool MovesSession(const std::string& line) {
    const std::string verb = UpperAscii(line.substr(0, line.find(' ')));
    for (const char* moving :
         {"CWD", "XCWD", "CDUP", "XCUP", "REIN", "USER", "PASS", "ACCT", "SMNT"}) {
        if (verb == moving) {
            return true;
        }
    }
    return false;
}

CivilTime LocalNow() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    CivilTime c;
    c.year = tm.tm_year + 1900;
    c.month = tm.tm_mon + 1;
    c.day = tm.tm_mday;
    c.hour = tm.tm_hour;
    c.minute = tm.tm_min;
    c.second = tm.tm_sec;
    c.utcOffsetMinutes = int(tm.tm_gmtoff / 60);
    return c;
}

} // namespace

bool FtpClient::Impl::listing(const std::string& line, bool mlsd, std::vector<DirEntry>& entries) {
    ListingAccumulator accumulator(mlsd, LocalNow());
    std::size_t total = 0;
    bool ok = transfer(line, [&](char* data, std::size_t size) {
        total += size;
        if (total > kMaxListingBytes) {
            return false;
        }
        accumulator.Feed(std::string_view(data, size));
        return true;
    });
    entries = accumulator.Finish();
    return ok;
}

bool FtpClient::Impl::listUnix(const std::string& arg, std::vector<DirEntry>& entries) {
    if (!caps.listDashA) {
        return listing("LIST" + arg, false, entries);
    }
    const bool ok = listing("LIST -a" + arg, false, entries);
    const auto onlyDashA = [](const std::vector<DirEntry>& list) {
        return list.size() == 1 && list.front().name == "-a";
    };
    const bool refused = !ok && !lostFlag && last.code >= 500;
    if (!refused && !(ok && onlyDashA(entries))) {
        return ok;
    }
    std::vector<DirEntry> plain;
    if (!listing("LIST" + arg, false, plain)) {
        return ok;
    }
    if (refused || !onlyDashA(plain)) {
        caps.listDashA = false; // the server took "-a" for a name
        entries = std::move(plain);
    }
    return true;
}

bool FtpClient::Impl::changeFolder(const std::string& path) {
    if (!commandOk("CWD " + toWire(path))) {
        return false;
    }
    here = Resolved(here, path);
    return true;
}

std::optional<std::string> FtpClient::Impl::askFolder() {
    Reply reply;
    if (command("PWD", &reply) != 257) {
        return std::nullopt;
    }
    auto path = ParseQuotedPath(reply.lines.front());
    if (!path) {
        return std::nullopt;
    }
    std::string folder = fromWire(*path);
    here = Resolved(std::nullopt, folder);
    return folder;
}

void FtpClient::Impl::rawCommandSent(const std::string& line) {
    if (MovesSession(line)) {
        here.reset();
    }
}

void FtpClient::Impl::leaveFolder(const std::string& path) {
    const std::optional<std::string> gone = Resolved(here, path);
    if (!here || !gone || *gone == "/") {
        return;
    }
    if (*here == *gone || here->rfind(*gone + "/", 0) == 0) {
        const std::size_t slash = gone->rfind('/');
        changeFolder(slash == 0 ? "/" : gone->substr(0, slash));
    }
}

bool FtpClient::Impl::listFolder(const std::string& folder, std::vector<DirEntry>& out,
                                 ListingNotes& notes, bool linksShown, bool stay) {
    notes = ListingNotes{};
    std::string arg;
    if (!folder.empty()) {
        const std::optional<std::string> target = Resolved(here, folder);
        if (stay && (!target || target != here)) {
            arg = " " + toWire(folder); // listed from where the session is
        } else if (!stay && (!target || target != here) && !changeFolder(folder)) {
            return false; // no such folder (or not one that may be entered)
        }
    }
    std::vector<DirEntry> entries;
    notes.mlsd = !linksShown && caps.features.count("MLST") > 0;
    bool ok = false;
    if (notes.mlsd) {
        ok = listing("MLSD" + arg, true, entries);
        if (!ok && !lostFlag && (last.code == 500 || last.code == 502)) {
            caps.features.erase("MLST"); // offered in FEAT but not understood: use LIST
            notes.mlsd = false;
        }
    }
    if (!notes.mlsd) {
        ok = listUnix(arg, entries);
    }
    if (!ok && arg.empty() && usable() && SaysEmpty(last)) {
        ok = true;
        entries.clear();
    }
    if (!ok) {
        return false;
    }
    out.reserve(entries.size());
    for (DirEntry& e : entries) {
        if (e.name == "." || e.name == "..") {
            continue;
        }
        if (e.name.empty() || e.name.find('/') != std::string::npos || !IsSafeForCommand(e.name)) {
            // No name that could reach outside the folder or into a command.
            if (notes.refused.size() < kMaxRefusedNames) {
                notes.refused.push_back(fromWire(e.name));
            }
            continue;
        }
        e.name = fromWire(e.name);
        if (notes.mlsd && e.modified.ticks != 0) {
            e.modified = FileTimeToLocalFileTime(e.modified);
        }
        out.push_back(std::move(e));
    }
    return true;
}

bool FtpClient::list(const std::string& pattern, std::vector<DirEntry>& out, ListingNotes* notes) {
    return listPattern(pattern, out, notes, false);
}

bool FtpClient::listFromHere(const std::string& pattern, std::vector<DirEntry>& out) {
    return listPattern(pattern, out, nullptr, true);
}

bool FtpClient::listPattern(const std::string& pattern, std::vector<DirEntry>& out,
                            ListingNotes* notes, bool stay) {
    out.clear();
    OXLIP_ENTER();
    if (!IsSafeForCommand(pattern)) {
        return false;
    }
    std::string folder = pattern;
    std::string mask;
    auto slash = pattern.rfind('/');
    std::string lastPart = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    if (HasWildcard(lastPart)) {
        mask = lastPart;
        folder = slash == std::string::npos ? "" : pattern.substr(0, slash + 1);
    }
    if (folder.size() > 1) {
        folder = WithoutFinalSlash(folder);
    }
    ListingNotes told;
    std::vector<DirEntry> entries;
    const bool ok = d->listFolder(folder, entries, told, false, stay);
    if (notes) {
        *notes = std::move(told);
    }
    if (!ok) {
        return false;
    }
    if (mask.empty()) {
        out = std::move(entries);
        return true;
    }
    for (DirEntry& e : entries) {
        if (MatchesWildcard(e.name, mask)) {
            out.push_back(std::move(e));
        }
    }
    return true;
}

bool FtpClient::listShowingLinks(const std::string& folder, std::vector<DirEntry>& out,
                                 ListingNotes* notes) {
    out.clear();
    OXLIP_ENTER();
    if (!IsSafeForCommand(folder)) {
        return false;
    }
    ListingNotes told;
    const bool ok = d->listFolder(WithoutFinalSlash(folder), out, told, true);
    if (notes) {
        *notes = std::move(told);
    }
    return ok;
}

bool FtpClient::entry(const std::string& path, DirEntry& out) {
    OXLIP_ENTER();
    return lookup(path, out, true);
}

bool FtpClient::fileSize(const std::string& path, uint64_t& out) {
    OXLIP_ENTER();
    DirEntry found;
    if (!lookup(path, found, false)) {
        return false;
    }
    out = found.size;
    return true;
}

bool FtpClient::lookup(const std::string& path, DirEntry& out, bool withTime) {
    if (!IsSafeForCommand(path) || path.empty()) {
        return false;
    }
    std::string clean = WithoutFinalSlash(path);
    std::string name = GetNamePart(clean, '/');
    if (name.empty()) {
        name = clean;
    }
    std::string wire = d->toWire(clean);
    if (d->caps.features.count("MLST")) {
        Reply reply;
        if (d->command("MLST " + wire, &reply) / 100 != 2) {
            return false;
        }
        for (std::size_t i = 1; i < reply.lines.size(); ++i) {
            const std::string& line = reply.lines[i];
            if (line.empty() || line[0] != ' ') {
                continue;
            }
            auto parsed = ParseMlsdLine(line.substr(1));
            if (!parsed) {
                continue;
            }
            DirEntry e = *parsed;
            e.name = name;
            if (!e.directory && d->caps.features.count("SIZE") && HasSizeFact(line)) {
                d->rememberSize(wire, e.size);
            }
            if (e.modified.ticks != 0) {
                e.modified = FileTimeToLocalFileTime(e.modified);
            }
            out = e;
            return true;
        }
        return false;
    }
    // Without MLST: a file answers SIZE (and MDTM for its time) ...
    if (const std::optional<uint64_t> size = d->askSize(wire)) {
        DirEntry e;
        e.name = name;
        e.size = *size;
        Reply mdtm;
        if (withTime && d->command("MDTM " + wire, &mdtm) == 213) {
            auto time = ParseMdtm(
                mdtm.lines.front().substr(std::min<std::size_t>(4, mdtm.lines.front().size())));
            if (time) {
                e.modified = FileTimeToLocalFileTime(*time);
            }
        }
        if (!d->usable()) {
            return false;
        }
        d->rememberSize(wire, *size);
        out = e;
        return true;
    }
    if (!d->usable()) {
        return false;
    }
    // ... anything else is looked up in the listing of its folder.
    std::string parent = clean.find('/') == std::string::npos ? "" : GetParentPath(clean, '/');
    if (parent == clean) {
        return false; // the root has no listing that names it
    }
    std::vector<DirEntry> entries;
    ListingNotes notes;
    if (!d->listFolder(parent.size() > 1 ? WithoutFinalSlash(parent) : parent, entries, notes,
                       false, true)) {
        return false;
    }
    for (DirEntry& e : entries) {
        if (e.name == name) {
            out = std::move(e);
            return true;
        }
    }
    return false;
}

} // namespace oxlip::ftp
