#pragma once
// Single-file and folder-tree transfers.

#include "ftp/Session.h"

#include <string>
#include <vector>

namespace oxlip {

// 1 (ASCII) when the extension is in the list (case-insensitive; empty entries match
// nothing), otherwise 2 (binary).
int GetTransferType(const std::string& extension, const std::vector<std::string>& list);

// type: 0 automatic (by the extension of the target path), 1 ASCII, 2 binary.
bool DownloadFile(FtpClient* hFtp, const std::string& hostPath, const std::string& localPath,
                  int type);
bool UploadFile(FtpClient* hFtp, const std::string& localPath, const std::string& hostPath,
                int type);
bool DownloadFolder(FtpClient* hFtp, const std::string& hostFolder, const std::string& localFolder,
                    int type);
bool UploadFolder(FtpClient* hFtp, const std::string& localFolder, const std::string& hostFolder,
                  int type);

} // namespace oxlip
