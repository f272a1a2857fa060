#pragma once
// Remote directory access over an open connection.

#include "ftp/Session.h"
#include "localfs/DirEntry.h"

#include <string>
#include <vector>

namespace oxlip {

// With a path: makes it current and gives it back. With "": the current directory.
Result<std::string> HostCurrentDirectory(Session& session, const std::string& path);
// Every entry matching the pattern into list (emptied first); an empty folder is ok with an
// empty list. notes (when given) get what the listing left out and how it was read.
Status ListHostFolder(Session& session, std::vector<DirEntry>& list, const std::string& pattern,
                      ftp::ListingNotes* notes = nullptr);
// The same on the engine, for the walks inside the core.
bool ListClientFolder(FtpClient& client, std::vector<DirEntry>& list, const std::string& pattern,
                      ftp::ListingNotes* notes = nullptr);
// Makes a path the user typed (not one taken from a listing) ready to be sent: on a server
// whose names are not UTF-8, the folders along it that hold a non-ASCII name are listed first,
// so that each name goes out in the bytes the server shows for it and a new name in the
// encoding the server's names use.
void LearnHostPathNames(Session& session, const std::string& path);
// The record of one path (record untouched when it failed).
Status GetHostEntry(Session& session, const std::string& path, DirEntry& record);

} // namespace oxlip
