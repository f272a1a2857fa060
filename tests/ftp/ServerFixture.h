#pragma once
// A fixture with a real server (pyftpdlib or vsftpd on loopback) and an open, recorded session.

#include "Helpers.h"
#include "UiRecorder.h"
#include "ftp/RemoteDir.h"
#include "ftp/Session.h"
#include "support/FtpServers.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace oxlip::test {

// The item lines a walk must show: files, then each subfolder's tree (not those ending in ".").
inline std::vector<std::string>
ExpectedTreeOrder(const std::function<std::vector<DirEntry>(const std::string&)>& list,
                  const std::string& folder, const std::string& verb) {
    std::vector<std::string> files;
    std::vector<std::string> below;
    for (const DirEntry& e : list(folder)) {
        if (!e.directory) {
            files.push_back("item " + e.name + verb);
        } else if (e.name.back() != '.') {
            const auto sub = ExpectedTreeOrder(list, folder + e.name + "/", verb);
            below.insert(below.end(), sub.begin(), sub.end());
        }
    }
    files.insert(files.end(), below.begin(), below.end());
    return files;
}

class ServerTest : public ::testing::TestWithParam<ServerKind> {
protected:
    void SetUp() override {
        std::string why;
        if (!CanRunServer(GetParam(), &why)) {
            GTEST_SKIP() << why;
        }
        server = std::make_unique<FtpServer>(GetParam());
        ASSERT_TRUE(server->ok()) << server->error();
        session.setPorts(ui.ports());
        ASSERT_TRUE(
            OpenSession(session, "test", server->server(), server->user(), server->password()));
        client = session.client();
        client->setTimeouts(5000, 10000);
        ui.journal.clear();
        ui.logLines.clear();
        ui.pumps = 0;
    }
    void TearDown() override { CloseSession(session); }

    bool isVsftpd() const { return GetParam() == ServerKind::Vsftpd; }
    std::string url() const {
        return "ftp://" + server->user() + ":" + server->password() + "@" + server->server() + "/";
    }
    void makeDirs(const std::string& relative) const {
        for (std::size_t slash = relative.find('/'); slash != std::string::npos;
             slash = relative.find('/', slash + 1)) {
            server->makeDir(relative.substr(0, slash));
        }
        server->makeDir(relative);
    }
    void put(const std::string& relative, const std::string& bytes) const {
        if (const std::size_t slash = relative.rfind('/'); slash != std::string::npos) {
            makeDirs(relative.substr(0, slash));
        }
        server->writeFile(relative, bytes);
    }

    // {target, link} each; false when one failed.
    bool makeLinks(const std::vector<std::pair<std::string, std::string>>& links) const {
        return std::all_of(links.begin(), links.end(), [this](const auto& link) {
            return ::symlink(link.first.c_str(), server->path(link.second).c_str()) == 0;
        });
    }

    std::vector<std::string> hostTreeOrder(const std::string& folder, const std::string& verb) {
        return ExpectedTreeOrder(
            [this](const std::string& sub) {
                std::vector<DirEntry> list;
                EXPECT_TRUE(ListHostFolder(session, list, sub + "*.*"));
                return list;
            },
            folder, verb);
    }

    UiRecorder ui;
    std::unique_ptr<FtpServer> server;
    Session session;
    FtpClient* client = nullptr; // the session's engine
};

} // namespace oxlip::test

#define OXLIP_ON_BOTH_SERVERS(Suite)                                                               \
    INSTANTIATE_TEST_SUITE_P(                                                                      \
        Servers, Suite,                                                                            \
        ::testing::Values(oxlip::test::ServerKind::Pyftpdlib, oxlip::test::ServerKind::Vsftpd),    \
        [](const auto& info) { return oxlip::test::ServerKindName(info.param); })
