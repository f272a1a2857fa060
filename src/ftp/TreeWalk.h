#pragma once
// Rules shared by the tree walks (delete, download, upload): the depth limit, name checks, and
// the listings and checks that keep a walk from acting on anything reached through a link.

#include "ftp/Session.h"
#include "ftp/engine/ReplyText.h"
#include "localfs/DirEntry.h"

#include <optional>
#include <string>
#include <vector>

namespace oxlip {

// A walk refuses to go deeper than this many folders below its starting folder, so a tree
// that loops (through links or a misbehaving server) cannot make it recurse without end.
constexpr int kMaxTreeDepth = 64;

// The path with a final "/" (unchanged when it has one).
inline std::string WithTrailingSlash(const std::string& path) {
    if (!path.empty() && path.back() == '/') {
        return path;
    }
    return path + "/";
}

inline bool EndsWithDot(const std::string& name) {
    return !name.empty() && name.back() == '.';
}

// A name from a listing that may be joined to a folder path: not empty, not "." or "..", no
// "/", and safe to send (no CR, LF or NUL). Anything else could name a place outside the
// folder or reach into a command.
inline bool IsPlainEntryName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           ftp::IsSafeForCommand(name);
}

// The name or path as a log line may show it: control characters, "\" and bytes that are no
// text (see NameCodec) become \xNN.
std::string ShownName(const std::string& name);

// Tells the status log (when there is one) that a walk left the entry out.
void TellSkipped(const SessionPorts& ports, LogKind why, const std::string& path);

// The session's current folder when a walk starts, made current again when it ends: a walk
// makes each folder it lists current in turn, and the window's relative commands rely on the
// folder it shows.
class WalkStart {
public:
    explicit WalkStart(FtpClient* hFtp);
    // The path from the root: a relative path joined to the starting folder; unchanged when
    // that is unknown.
    std::string fromRoot(const std::string& path) const;
    // The walk removes the folder at path (from the root): a start inside it is not gone
    // back to.
    void removing(const std::string& path);
    // The walk's status, a failure when the starting folder could not be made current again
    // (the session is elsewhere then).
    Status back(Status walked);

private:
    FtpClient* hFtp_;
    std::optional<std::string> folder_;
};

// A host folder's entries for a walk. MLSD may show a link as what it leads to (pyftpdlib
// does: a link to a folder comes out as a folder): where an MLSD listing shows folders, the
// folder is listed again with LIST (see MarkLinks), so that a walk never enters a link.
struct WalkFolder {
    std::vector<DirEntry> entries;
    // Names the listing left out because no path may be built from them.
    std::vector<std::string> refused;
    // The entries' link bits are those of a listing that shows links.
    bool linksShown = false;
    // Folders of MLSD that the listing with links shows neither as a folder nor as a link:
    // marked as links to folders, as nothing tells where they lead.
    std::vector<std::string> doubtful;
};
// False when a listing failed.
bool ListWalkFolder(FtpClient* hFtp, const std::string& folder, WalkFolder& out);
// Lists the folder with LIST and marks as links the entries it shows as links, and the
// folders it does not show as folders (folder and link bits: a link to a folder; see
// doubtful). The entries stay where they are. False when the listing failed.
bool MarkLinks(FtpClient* hFtp, const std::string& folder, WalkFolder& out);

// What the listing of a host path's parent that shows links says of it (the root is a
// folder). Unknown: the listing failed or does not name it.
enum class ListedAs { Folder, Link, Unknown };
ListedAs HostFolderListedAs(FtpClient* hFtp, const std::string& path);

// Whether the host path can be made the current folder (a folder or a link to one); the
// session's current folder is put back. NotFolder also when the current folder is unknown (the
// session is not moved then); Lost when the way back failed (the session is elsewhere now).
enum class FolderProbe { Folder, NotFolder, Lost };
FolderProbe ProbeHostFolder(FtpClient* hFtp, const std::string& path);

} // namespace oxlip
