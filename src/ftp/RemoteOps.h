#pragma once
// Remote file operations over an open connection.

#include "ftp/Session.h"

#include <string>

namespace oxlip {

bool DeleteHostFile(FtpClient* hFtp, const std::string& path);
// Never replaces another entry: when the new path is taken, nothing is sent that renames, the
// result is false and *targetExists (when given) is set.
bool RenameHostFile(FtpClient* hFtp, const std::string& oldPath, const std::string& newPath,
                    bool* targetExists = nullptr);
bool CreateHostFolder(FtpClient* hFtp, const std::string& path);
// Depth-first tree delete; false past a depth of 64 folders. Links are removed with DELE and
// never entered: a folder is entered only when a listing that shows links shows it as a folder
// (also the folder given, which goes with DELE otherwise). A folder whose RMD fails is listed
// that way once more and the links found there are removed before RMD is tried again.
bool DeleteHostFolder(FtpClient* hFtp, const std::string& path);
// Sends a raw command line; non-zero when the server accepted it (2xx).
int SendFtpCommand(FtpClient* hFtp, const std::string& command);

} // namespace oxlip
