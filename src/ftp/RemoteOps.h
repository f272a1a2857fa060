#pragma once
// Remote file operations over an open connection.

#include "ftp/Session.h"

#include <string>

namespace oxlip {

Status DeleteHostFile(Session& session, const std::string& path);
// Never replaces another entry: when the new path is taken, nothing is sent that renames and
// the status is Exists.
Status RenameHostFile(Session& session, const std::string& oldPath, const std::string& newPath);
Status CreateHostFolder(Session& session, const std::string& path);
// Depth-first tree delete; TooDeep past a depth of 64 folders. Links are removed with DELE and
// never entered: a folder is entered only when a listing that shows links shows it as a folder
// (also the folder given, which goes with DELE otherwise). A folder whose RMD fails is listed
// that way once more and the links found there are removed before RMD is tried again.
Status DeleteHostFolder(Session& session, const std::string& path);
// Sends a raw command line; ok when the server accepted it (2xx), the reply in the status.
Status SendFtpCommand(Session& session, const std::string& command);

} // namespace oxlip
