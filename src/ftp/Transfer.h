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
Status DownloadFolder(Session& session, const std::string& hostFolder,
                      const std::string& localFolder, TransferMode type);
Status UploadFolder(Session& session, const std::string& localFolder, const std::string& hostFolder,
                    TransferMode type);

} // namespace oxlip
