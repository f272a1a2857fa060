#pragma once
// A test fixture with a real server (pyftpdlib or vsftpd on loopback) and an open session
// whose ports are recorded.

#include "UiRecorder.h"
#include "ftp/Session.h"
#include "support/FtpServers.h"

#include <gtest/gtest.h>
#include <memory>

namespace oxlip::test {

class ServerTest : public ::testing::TestWithParam<ServerKind> {
protected:
    void SetUp() override {
        std::string why;
        if (!CanRunServer(GetParam(), &why)) {
            GTEST_SKIP() << why;
        }
        server = std::make_unique<FtpServer>(GetParam());
        ASSERT_TRUE(server->ok()) << server->error();
        client = connect();
        ASSERT_TRUE(client);
        ui.journal.clear();
        ui.pumps = 0;
    }
    void TearDown() override { CloseSession(client); }

    std::unique_ptr<FtpClient> connect() {
        auto c =
            OpenSession("test", server->server(), server->user(), server->password(), ui.ports());
        if (c) {
            c->setTimeouts(5000, 10000);
        }
        return c;
    }
    bool isVsftpd() const { return GetParam() == ServerKind::Vsftpd; }
    // A folder in the server's root with every missing parent, owned by the login user.
    void makeDirs(const std::string& relative) const {
        for (std::size_t slash = relative.find('/'); slash != std::string::npos;
             slash = relative.find('/', slash + 1)) {
            server->makeDir(relative.substr(0, slash));
        }
        server->makeDir(relative);
    }
    // A file in the server's root, its folders made first.
    void put(const std::string& relative, const std::string& bytes) const {
        const std::size_t slash = relative.rfind('/');
        if (slash != std::string::npos) {
            makeDirs(relative.substr(0, slash));
        }
        server->writeFile(relative, bytes);
    }

    UiRecorder ui;
    std::unique_ptr<FtpServer> server;
    std::unique_ptr<FtpClient> client;
};

inline std::string ServerTestName(const ::testing::TestParamInfo<ServerKind>& info) {
    return ServerKindName(info.param);
}

} // namespace oxlip::test

#define OXLIP_ON_BOTH_SERVERS(Suite)                                                               \
    INSTANTIATE_TEST_SUITE_P(                                                                      \
        Servers, Suite,                                                                            \
        ::testing::Values(oxlip::test::ServerKind::Pyftpdlib, oxlip::test::ServerKind::Vsftpd),    \
        oxlip::test::ServerTestName)
