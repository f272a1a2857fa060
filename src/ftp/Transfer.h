#pragma once
// Single-file and folder-tree transfers.

#include "ftp/Session.h"

#include <string>
#include <vector>

namespace oxlip {

// Ascii when the extension is in the list (case-insensitive; empty entries match nothing),
// otherwise Binary.
TransferMode GetTransferType(const std::string& extension, const std::vector<std::string>& list);

// type Auto decides by the extension of the target path. A tree that left entries out (each
// told in the log) fails with Incomplete. A binary download that fails or is cancelled keeps
// what arrived under a hidden name beside the target (never in its place); with resume, the
// next download of the same, unchanged host file goes on from there where the server takes
// REST. An upload with resume appends (APPE) to a host file shorter than the local one.
Status DownloadFile(Session& session, const std::string& hostPath, const std::string& localPath,
                    TransferMode type, bool resume = false);
Status UploadFile(Session& session, const std::string& localPath, const std::string& hostPath,
                  TransferMode type, bool resume = false);
// connections > 1: the files of the tree go to whichever of that many connections is free
// (the session's own and more opened with its login, closed when the tree is done; a server
// that refuses them leaves the session's own, told in the log). The folders are walked once,
// on the session's connection; the first failure stops handing out files and is the result.
Status DownloadFolder(Session& session, const std::string& hostFolder,
                      const std::string& localFolder, TransferMode type, int connections = 1);
Status UploadFolder(Session& session, const std::string& localFolder, const std::string& hostFolder,
                    TransferMode type, int connections = 1);

} // namespace oxlip
