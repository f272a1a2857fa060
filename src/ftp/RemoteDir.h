#pragma once
// Remote directory access over an open connection.

#include "ftp/Session.h"
#include "localfs/DirEntry.h"

#include <string>
#include <vector>

namespace oxlip {

// With a path: the path when it became current, "" on failure. With "": the current
// directory, "" on failure.
std::string HostCurrentDirectory(FtpClient* hFtp, const std::string& path);

// Every entry matching the pattern; the count, the list holding exactly that many.
int ListHostFolder(FtpClient* hFtp, std::vector<DirEntry>& list, const std::string& pattern);
// The same listing, telling a failed listing (false) from an empty one (true, empty list);
// notes (when given) get what the listing left out and how it was read.
bool ListHostFolderChecked(FtpClient* hFtp, std::vector<DirEntry>& list, const std::string& pattern,
                           ftp::ListingNotes* notes = nullptr);

// Makes a path the user typed (not one taken from a listing) ready to be sent: on a server
// whose names are not UTF-8, the folders along it that hold a non-ASCII name are listed first,
// so that each name goes out in the bytes the server shows for it and a new name in the
// encoding the server's names use.
void LearnHostPathNames(FtpClient* hFtp, const std::string& path);

// 1 when the path matched and the record was filled, 0 otherwise (record untouched).
int GetHostEntry(FtpClient* hFtp, const std::string& path, DirEntry& record);

} // namespace oxlip
