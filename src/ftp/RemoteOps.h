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
// Depth-first tree delete; links are removed with DELE and never entered; false past a
// depth of 64 folders.
bool DeleteHostFolder(FtpClient* hFtp, const std::string& path);
// Sends a raw command line; non-zero when the server accepted it (2xx).
int SendFtpCommand(FtpClient* hFtp, const std::string& command);

} // namespace oxlip
