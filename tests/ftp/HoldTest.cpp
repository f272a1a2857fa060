// Connections that hold: cancels, fall-backs, active mode, forced encodings, reconnects.

#include "HostileFixture.h"
#include "ServerFixture.h"
#include "ftp/RemoteDir.h"
#include "ftp/RemoteOps.h"
#include "ftp/Transfer.h"
#include "localfs/TextCodec.h"
#include "support/TestCerts.h"

#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <sys/time.h>

namespace oxlip::test {
namespace {

constexpr int64_t kBigBytes = int64_t(256) << 20;
constexpr int64_t kCancelAfterBytes = int64_t(16) << 20;

// A sparse file of the size (nothing to write, the same bytes to send).
void MakeSparse(const std::string& path, int64_t size) {
    WriteFileBytes(path, "x");
    ASSERT_EQ(::truncate(path.c_str(), size), 0);
}

using HoldServerTest = ServerTest;

// Cancelled 16 MiB into 256 MiB: ends at once, the old local file kept, the session goes on.
TEST_P(HoldServerTest, CancelMidTransferKeepsOldFileAndSession) {
    MakeSparse(server->path("big.bin"), kBigBytes);
    for (const bool download : {true, false}) {
        TempDir local;
        const std::string target = local.file("big.bin");
        if (download) {
            WriteFileBytes(target, "old contents");
        } else {
            MakeSparse(target, kBigBytes);
        }
        session.clearCancel();
        ui.journal.clear();
        ui.also = [&] {
            const auto bars = ui.lines("bar ");
            if (!bars.empty() && std::stoll(bars.back().substr(4)) >= kCancelAfterBytes) {
                session.requestCancel();
            }
        };
        const auto start = Clock::now();
        const Status status = download
                                  ? DownloadFile(session, "/big.bin", target, TransferMode::Binary)
                                  : UploadFile(session, target, "/up.bin", TransferMode::Binary);
        ui.also = nullptr;
        EXPECT_EQ(status.kind, ErrorKind::Cancelled) << download;
        EXPECT_LT(MsSince(start), 15000) << download;
        if (download) { // what arrived stays only under the hidden name kept for a resume
            EXPECT_EQ(ReadFileBytes(target), "old contents");
            EXPECT_EQ(LocalNames(local.path()),
                      (std::vector<std::string>{".big.bin.oxlip-part", "big.bin"}));
        }
        session.clearCancel();
        EXPECT_TRUE(Has(HostNames(session, "/"), "big.bin")) << download;
    }
}

// A tree cancelled while its second file starts stops there and tells that one file was done.
TEST_P(HoldServerTest, CancelledTreeStopsAfterTheCurrentItem) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        put(std::string("tree/") + name, name);
    }
    for (const bool download : {true, false}) {
        TempDir local;
        for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
            EXPECT_TRUE(download || WriteFileBytes(local.file(name), name));
        }
        ui.journal.clear();
        ui.logLines.clear();
        ui.also = [&] {
            if (ui.lines("item ").size() >= 2) {
                session.requestCancel();
            }
        };
        const Status status =
            download ? DownloadFolder(session, "/tree", local.path(), TransferMode::Binary)
                     : UploadFolder(session, local.path(), "/up", TransferMode::Binary);
        ui.also = nullptr;
        EXPECT_EQ(status.kind, ErrorKind::Cancelled) << download;
        EXPECT_TRUE(Has(ui.logLines, "cancelled 1")) << download;
        EXPECT_EQ(ui.lines("item ").size(), 2u) << download;
        EXPECT_EQ(LocalNames(local.path()).size(), download ? 1u : 3u);
        session.clearCancel();
    }
}

// A cut download resumes (REST) byte-identical, from 0 if the host file changed, also with
// the driver's -c; an upload resumes (APPE) from a host file that is its beginning.
TEST_P(HoldServerTest, ResumeAfterCutIsByteIdentical) {
    std::mt19937_64 random(std::random_device{}());
    const std::string data = RandomBytes(std::size_t(64) << 20, unsigned(random()));
    const int64_t size = int64_t(data.size());
    const struct {
        bool changed;
        bool tool;
    } rows[] = {{false, false}, {true, false}, {false, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.changed) + std::to_string(row.tool));
        put("r.bin", data);
        TempDir local;
        const std::string target = local.file("r.bin");
        const std::string partial = local.file(".r.bin.oxlip-part");
        const int64_t cutAt = (int64_t(4) << 20) + int64_t(random() % (int64_t(28) << 20));
        ui.also = [&] {
            struct stat kept {};
            if (::stat(partial.c_str(), &kept) == 0 && kept.st_size >= cutAt) {
                session.requestCancel();
            }
        };
        EXPECT_EQ(DownloadFile(session, "/r.bin", target, TransferMode::Binary, true).kind,
                  ErrorKind::Cancelled);
        ui.also = nullptr;
        session.clearCancel();
        struct stat kept {};
        ASSERT_EQ(::stat(partial.c_str(), &kept), 0);
        ASSERT_GT(kept.st_size, 0);
        EXPECT_FALSE(std::filesystem::exists(target));
        std::string expected = data;
        if (row.changed) {
            expected[0] = char(~expected[0]);
            put("r.bin", expected);
            const struct timeval later[2] = {{1700000000, 0}, {1700000000, 0}};
            ASSERT_EQ(::utimes(server->path("r.bin").c_str(), later), 0);
        }
        const int64_t coming = row.changed ? size : size - int64_t(kept.st_size);
        ui.journal.clear();
        if (row.tool) {
            const auto r = RunTool({"-c", url(), "get", "/r.bin", target});
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_NE(r.out.find(" " + std::to_string(coming) + " bytes"), std::string::npos);
        } else {
            ASSERT_TRUE(DownloadFile(session, "/r.bin", target, TransferMode::Binary, true));
            EXPECT_EQ(ui.lines("bar ").back(),
                      "bar " + std::to_string(coming) + "/" + std::to_string(coming));
        }
        EXPECT_TRUE(ReadFileBytes(target) == expected);
        EXPECT_FALSE(std::filesystem::exists(partial));
    }
    const int64_t cut = size / 3;
    server->writeFile("u.bin", data.substr(0, std::size_t(cut)));
    TempDir local;
    WriteFileBytes(local.file("u.bin"), data);
    ui.journal.clear();
    ASSERT_TRUE(UploadFile(session, local.file("u.bin"), "/u.bin", TransferMode::Binary, true));
    EXPECT_TRUE(server->readFile("u.bin") == data);
    EXPECT_EQ(ui.lines("bar ").back(),
              "bar " + std::to_string(size - cut) + "/" + std::to_string(size - cut));
}

// Active data connections (EPRT, or PORT) list and transfer, plain and over TLS.
void CheckActive(FtpServer& server, UiRecorder& ui, const ftp::TlsOptions& tls) {
    server.writeFile("a.txt", "active bytes");
    SessionLogin login{server.server(), server.user(), server.password(), {}};
    login.options.data = ftp::DataMode::Active;
    login.options.tls = tls;
    Session active(ui.ports());
    ASSERT_TRUE(OpenSession(active, login));
    EXPECT_TRUE(Has(HostNames(active, "/"), "a.txt"));
    TempDir local;
    ASSERT_TRUE(DownloadFile(active, "/a.txt", local.file("a.txt"), TransferMode::Binary));
    EXPECT_EQ(ReadFileBytes(local.file("a.txt")), "active bytes");
    ASSERT_TRUE(UploadFile(active, local.file("a.txt"), "/b.txt", TransferMode::Binary));
    EXPECT_EQ(server.readFile("b.txt"), "active bytes");
    CloseSession(active);
}

TEST_P(HoldServerTest, ActiveModeListsAndTransfers) {
    CheckActive(*server, ui, {});
    static TestCerts certs;
    ASSERT_TRUE(certs.ok());
    FtpServer secured(GetParam(), ServerTls{true, false, certs.server(CertKind::Good)});
    ASSERT_TRUE(secured.ok()) << secured.error();
    ftp::TlsOptions tls;
    tls.policy = ftp::TlsPolicy::Required;
    tls.caFile = certs.caFile();
    CheckActive(secured, ui, tls);
}

// A name in CP932 or EUC-JP (served as raw bytes) is read and sent in the forced encoding.
TEST_P(HoldServerTest, ForcedNameEncodings) {
    if (!isVsftpd()) {
        GTEST_SKIP() << "pyftpdlib serves names in UTF-8 only";
    }
    const std::string name = "日本語の名前.txt";
    const struct {
        ftp::NameEncoding encoding;
        std::optional<std::string> bytes;
    } rows[] = {{ftp::NameEncoding::Cp932, Utf8ToCp932(name)},
                {ftp::NameEncoding::EucJp, Utf8ToEucJp(name)}};
    for (const auto& row : rows) {
        ASSERT_TRUE(row.bytes);
        put(*row.bytes, "named");
        SessionLogin login{server->server(), server->user(), server->password(), {}};
        login.options.encoding = row.encoding;
        Session forced(ui.ports());
        ASSERT_TRUE(OpenSession(forced, login));
        EXPECT_TRUE(Has(HostNames(forced, "/"), name));
        TempDir local;
        EXPECT_TRUE(DownloadFile(forced, "/" + name, local.file("n"), TransferMode::Binary));
        EXPECT_EQ(ReadFileBytes(local.file("n")), "named");
        EXPECT_TRUE(RenameHostFile(forced, "/" + name, "/" + name + ".bak"));
        EXPECT_TRUE(server->exists(*row.bytes + ".bak"));
        CloseSession(forced);
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, HoldServerTest,
                         ::testing::Values(ServerKind::Vsftpd, ServerKind::Pyftpdlib),
                         [](const auto& info) { return std::string(ServerKindName(info.param)); });

using HoldHostileTest = HostileTest;

// EPSV names a port nothing listens on: PASV from then on.
TEST_F(HoldHostileTest, DeadEpsvDataConnectionFallsBackToPasv) {
    start("epsv-dead");
    ASSERT_TRUE(login());
    bool ok = false;
    EXPECT_FALSE(names("/", &ok).empty());
    EXPECT_TRUE(ok);
    EXPECT_FALSE(names("/", &ok).empty());
    EXPECT_TRUE(ok);
    auto data = server->commands();
    std::erase_if(data, [](const std::string& c) { return c != "EPSV" && c != "PASV"; });
    EXPECT_EQ(data, (std::vector<std::string>{"EPSV", "PASV", "PASV"}));
    EXPECT_TRUE(Has(ui.logLines, "data-fell-back"));
}

// After a 421 the next command (or keep-alive) fails as lost; a reconnect returns to the folder.
TEST_F(HoldHostileTest, ReconnectAfterIdleDrop) {
    start("421-idle");
    Session dropped(SessionPorts{&ui, nullptr});
    ASSERT_TRUE(OpenSession(
        dropped, {server->server(), HostileServer::user(), HostileServer::password(), {}}));
    ASSERT_TRUE(dropped.client()->currentDir());
    ::usleep(500 * 1000);
    std::vector<DirEntry> entries;
    const Status failed = ListHostFolder(dropped, entries, "*.*");
    EXPECT_EQ(failed.kind, ErrorKind::ConnectionLost);
    ASSERT_TRUE(ReconnectSession(dropped, "/wide"));
    EXPECT_TRUE(Has(ui.logLines, "reconnected /wide"));
    EXPECT_EQ(dropped.client()->currentDir().value_or(""), "/wide");
    ::usleep(500 * 1000); // dropped again after that PWD
    EXPECT_EQ(KeepAlive(dropped).kind, ErrorKind::ConnectionLost);
    ASSERT_TRUE(ReconnectSession(dropped, ""));
    EXPECT_TRUE(KeepAlive(dropped));
    CloseSession(dropped);
}

// All the data, then no final reply: the file is kept and the connection given up; cut: fails.
TEST_F(HoldHostileTest, WholeFileWithoutFinalReplyIsKept) {
    for (const auto& [name, kept] : {std::pair{"/no226.bin", true}, {"/reset.bin", false}}) {
        start("", 3000, 1500);
        Session dropped(SessionPorts{&ui, nullptr});
        ASSERT_TRUE(OpenSession(
            dropped, {server->server(), HostileServer::user(), HostileServer::password(), {}}));
        dropped.client()->setTimeouts(3000, 1500);
        ui.logLines.clear();
        const std::string file = local.file(name + 1);
        EXPECT_EQ(bool(DownloadFile(dropped, name, file, TransferMode::Binary)), kept) << name;
        EXPECT_EQ(std::filesystem::exists(file), kept) << name;
        if (kept) {
            EXPECT_TRUE(ReadFileBytes(file) == HostileData());
        }
        EXPECT_EQ(Has(ui.logLines, std::string("final-reply-lost ") + name), kept) << name;
        EXPECT_TRUE(dropped.client()->lost()) << name;
        CloseSession(dropped);
    }
}

// Cancel ends the wait for a server that never connects (active) or never does the data TLS
// handshake: Cancelled within 2 s (not at the 8 s time-out), after ABOR; the session goes on.
TEST_F(HoldHostileTest, CancelEndsTheWaitsForTheDataConnection) {
    static TestCerts certs;
    ASSERT_TRUE(certs.ok());
    const CertFiles files = certs.server(CertKind::Good);
    for (const bool active : {true, false}) {
        start(active ? "port-silent" : "data-tls-stall", 8000, 8000, active ? nullptr : &files);
        SessionLogin login{server->server(), HostileServer::user(), HostileServer::password(), {}};
        login.options.data = active ? ftp::DataMode::Active : ftp::DataMode::Passive;
        if (!active) {
            login.options.tls = {ftp::TlsPolicy::Required, certs.caFile(), nullptr, nullptr};
        }
        Session held(ui.ports());
        ASSERT_TRUE(OpenSession(held, login));
        held.client()->setTimeouts(8000, 8000);
        const auto began = Clock::now();
        ui.also = [&] {
            if (MsSince(began) >= 300) {
                held.requestCancel();
            }
        };
        EXPECT_EQ(DownloadFile(held, "/hello.txt", local.file("h"), TransferMode::Binary).kind,
                  ErrorKind::Cancelled)
            << active;
        ui.also = nullptr;
        EXPECT_LT(MsSince(began), 2000) << active;
        EXPECT_TRUE(sawCommand("ABOR")) << active;
        held.clearCancel();
        EXPECT_TRUE(KeepAlive(held)) << active;
        CloseSession(held);
    }
}

// The driver retries a command once after a lost connection (status 1 if lost again).
TEST_F(HoldHostileTest, ToolReconnectsOncePerCommand) {
    for (const auto& [scenario, status] : {std::pair{"421-first", 0}, {"421-always", 1}}) {
        start(scenario);
        const auto r = RunTool({"ftp://test:secret@" + server->server() + "/", "ls", "/"});
        EXPECT_EQ(r.status, status) << scenario << ": " << r.err;
        EXPECT_EQ(CountPrefix(server->commands(), "USER test"), 2) << scenario;
        EXPECT_EQ(r.out.find("hello.txt") != std::string::npos, status == 0) << scenario;
    }
}

// SIGINT/SIGTERM end the driver with the shell's status; only the hidden part stays.
TEST_F(HoldHostileTest, ToolStopsOnSignals) {
    start("");
    const std::string url = "ftp://test:secret@" + server->server() + "/";
    for (const auto& [signal, expected] : {std::pair{"INT", 130}, std::pair{"TERM", 143}}) {
        TempDir local;
        const std::string prefix = std::string("timeout --preserve-status -s ") + signal + " 1";
        EXPECT_EQ(RunTool({url, "get", "/trickle.bin", local.file("t")}, "", prefix).status,
                  expected);
        for (const std::string& name : LocalNames(local.path())) {
            EXPECT_EQ(name, ".t.oxlip-part");
        }
    }
}

// The options as the trace shows them: active mode, no OPTS UTF8 when an encoding is forced.
TEST_P(HoldServerTest, ToolOptions) {
    put("a.txt", "x");
    const struct {
        std::vector<std::string> options;
        int status;
        std::vector<std::string> shown; // in the trace and output
        std::vector<std::string> absent;
    } rows[] = {
        {{"--active"}, 0, {"a.txt"}, {"> EPSV", "> PASV"}},
        {{"--encoding", "cp932"}, 0, {"a.txt"}, {"OPTS UTF8"}},
        {{"--encoding", "euc-jp", "-c"}, 0, {"a.txt"}, {"OPTS UTF8"}},
        {{"--encoding", "utf-8", "--active"}, 0, {"a.txt"}, {"> EPSV"}},
        {{"--encoding", "sjis"}, 1, {"--encoding wants"}, {"a.txt"}},
        {{"--active", "--active"}, 1, {}, {"a.txt"}},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = row.options;
        args.insert(args.end(), {url(), "ls", "/"});
        const auto r = RunTool(args, "", "OXLIP_TRACE=1 timeout 60");
        const std::string out = r.out + r.err;
        EXPECT_EQ(r.status, row.status) << args[0] << args[1];
        for (const std::string& text : row.shown) {
            EXPECT_NE(out.find(text), std::string::npos) << args[0] << args[1] << ": " << text;
        }
        for (const std::string& text : row.absent) {
            EXPECT_EQ(out.find(text), std::string::npos) << args[0] << args[1] << ": " << text;
        }
    }
}

} // namespace
} // namespace oxlip::test
