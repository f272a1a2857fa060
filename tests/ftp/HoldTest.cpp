// Connections that hold: cancels, fall-backs, active mode, forced encodings, reconnects.

#include "HostileFixture.h"
#include "ServerFixture.h"
#include "ftp/RemoteOps.h"
#include "ftp/Transfer.h"
#include "localfs/TextCodec.h"
#include "support/TestCerts.h"

namespace oxlip::test {
namespace {

namespace fs = std::filesystem;
using ftp::TlsPolicy;

using HoldServerTest = ServerTest;

// A tree cancelled while its second file starts stops there and tells that one file was done.
TEST_P(HoldServerTest, CancelledTreeStopsAfterTheCurrentItem) {
    TempDir local;
    MakeEntries(local.file("up"), {"a.txt", "b.txt", "c.txt"});
    MakeEntries(server->path("tree"), {"a.txt", "b.txt", "c.txt"});
    for (const bool download : {true, false}) {
        ui.journal.clear();
        ui.logLines.clear();
        const Status status = CancelWhen(
            session, ui, [&] { return ui.lines("item ").size() >= 2; },
            [&] {
                return download
                           ? DownloadFolder(session, "/tree", local.file("down"),
                                            TransferMode::Binary)
                           : UploadFolder(session, local.file("up"), "/up", TransferMode::Binary);
            });
        EXPECT_EQ(status.kind, ErrorKind::Cancelled) << download;
        EXPECT_EQ(ui.logLines, std::vector<std::string>{"cancelled 1"}) << download;
        EXPECT_EQ(LocalNames(download ? local.file("down") : server->path("up")).size(), 1u)
            << download;
    }
}

// REST from the hidden part (from 0 if the host file changed, also the driver's -c); APPE.
TEST_P(HoldServerTest, CancelledTransfersResumeByteIdentical) {
    const std::string data = RandomBytes(std::size_t(64) << 20, 99);
    const int64_t size = int64_t(data.size());
    for (const auto& [changed, tool] : {std::pair{false, false}, {true, false}, {false, true}}) {
        const std::string label = std::to_string(changed) + std::to_string(tool);
        put("r.bin", data);
        TempDir local;
        const std::string target = local.file("r.bin");
        const std::string partial = local.file(".r.bin.oxlip-part");
        WriteFileBytes(target, "old contents");
        const Status cut = CancelWhen(
            session, ui, [&] { return fs::exists(partial) && fs::file_size(partial) >= (8 << 20); },
            [&] { return DownloadFile(session, "/r.bin", target, TransferMode::Binary, true); });
        EXPECT_EQ(cut.kind, ErrorKind::Cancelled) << label;
        EXPECT_EQ(ReadFileBytes(target), "old contents") << label;
        const int64_t kept = int64_t(fs::file_size(partial));
        std::string expected = data;
        if (changed) {
            expected[0] = char(~expected[0]);
            put("r.bin", expected);
            const std::string host = server->path("r.bin");
            fs::last_write_time(host, fs::last_write_time(host) - std::chrono::hours(24));
        }
        const int64_t coming = changed ? size : size - kept;
        ui.journal.clear();
        if (tool) {
            const auto r = RunTool({"-c", url(), "get", "/r.bin", target});
            EXPECT_NE(r.out.find(" " + std::to_string(coming) + " bytes"), std::string::npos)
                << r.out << r.err;
        } else {
            ASSERT_TRUE(DownloadFile(session, "/r.bin", target, TransferMode::Binary, true));
            EXPECT_EQ(ui.lines("bar ").back(), "bar " + UiRecorder::Ratio(coming, coming)) << label;
        }
        EXPECT_TRUE(ReadFileBytes(target) == expected) << label;
        EXPECT_FALSE(fs::exists(partial)) << label;
    }
    server->writeFile("u.bin", data.substr(0, data.size() / 3));
    TempDir local;
    WriteFileBytes(local.file("u.bin"), data);
    ui.journal.clear();
    ASSERT_TRUE(UploadFile(session, local.file("u.bin"), "/u.bin", TransferMode::Binary, true));
    EXPECT_TRUE(server->readFile("u.bin") == data);
    EXPECT_EQ(ui.lines("bar ").back(),
              "bar " + UiRecorder::Ratio(size - size / 3, size - size / 3));
}

// A name in CP932 or EUC-JP (served as raw bytes) is read and sent in the forced encoding.
TEST_P(HoldServerTest, ForcedNameEncodings) {
    if (!isVsftpd()) {
        GTEST_SKIP() << "pyftpdlib serves names in UTF-8 only";
    }
    const std::string name = "日本語の名前.txt";
    for (const auto& [encoding, bytes] : {std::pair{ftp::NameEncoding::Cp932, Utf8ToCp932(name)},
                                          {ftp::NameEncoding::EucJp, Utf8ToEucJp(name)}}) {
        put(bytes.value(), "named");
        SessionLogin login{server->server(), server->user(), server->password(), {}};
        login.options.encoding = encoding;
        ASSERT_TRUE(OpenSession(session, login));
        EXPECT_TRUE(Has(HostNames(session, "/"), name));
        EXPECT_TRUE(RenameHostFile(session, "/" + name, "/" + name + ".bak"));
        EXPECT_TRUE(server->exists(bytes.value() + ".bak"));
    }
}

// The options as the trace shows them: active mode, no OPTS UTF8 when an encoding is forced;
// the password masked.
TEST_P(HoldServerTest, ToolOptions) {
    put("a.txt", "x");
    // {options, status, shown in the trace and output, absent}
    const std::tuple<std::vector<std::string>, int, std::string, std::string> rows[] = {
        {{"--active"}, 0, "a.txt", "> EPSV"},
        {{"--encoding", "cp932"}, 0, "a.txt", "OPTS UTF8"},
        {{"--encoding", "sjis"}, 1, "--encoding wants", "a.txt"},
        {{}, 0, "> PASS ****\n", server->password()},
    };
    for (const auto& [options, status, shown, absent] : rows) {
        std::vector<std::string> args = options;
        args.insert(args.end(), {url(), "ls", "/"});
        const auto r = RunTool(args, "", "OXLIP_TRACE=1 timeout 60");
        const std::string out = r.out + r.err;
        EXPECT_EQ(r.status, status) << args[0] << args[1];
        EXPECT_NE(out.find(shown), std::string::npos) << args[0] << args[1] << ": " << out;
        EXPECT_EQ(out.find(absent), std::string::npos) << args[0] << args[1] << ": " << out;
    }
}

OXLIP_ON_BOTH_SERVERS(HoldServerTest);

using HoldHostileTest = HostileTest;

// EPSV names a port nothing listens on: PASV from then on.
TEST_F(HoldHostileTest, DeadEpsvDataConnectionFallsBackToPasv) {
    start("epsv-dead");
    ASSERT_TRUE(login());
    EXPECT_FALSE(names("/").empty());
    EXPECT_FALSE(names("/").empty());
    auto data = server->commands();
    std::erase_if(data, [](const std::string& c) { return c != "EPSV" && c != "PASV"; });
    EXPECT_EQ(data, (std::vector<std::string>{"EPSV", "PASV", "PASV"}));
    EXPECT_TRUE(Has(ui.logLines, "data-fell-back"));
}

// After a 421 a keep-alive fails as lost; a reconnect returns to the folder.
TEST_F(HoldHostileTest, ReconnectAfterIdleDrop) {
    start("421-idle");
    Session dropped(SessionPorts{&ui, nullptr});
    ASSERT_TRUE(OpenSession(
        dropped, {server->server(), HostileServer::user(), HostileServer::password(), {}}));
    ASSERT_TRUE(dropped.client()->currentDir());
    ::usleep(500 * 1000); // the 421 comes 0.2 s after a PWD
    EXPECT_EQ(KeepAlive(dropped).kind, ErrorKind::ConnectionLost);
    ASSERT_TRUE(ReconnectSession(dropped, "/wide"));
    EXPECT_TRUE(Has(ui.logLines, "reconnected /wide"));
    EXPECT_EQ(dropped.client()->currentDir().value_or(""), "/wide");
}

// All the data, then no final reply: the file is kept, the log says so, the connection goes.
TEST_F(HoldHostileTest, WholeFileWithoutFinalReplyIsKept) {
    start("", 3000, 1500);
    ASSERT_TRUE(login());
    EXPECT_TRUE(DownloadFile(session, "/no226.bin", local.file("f"), TransferMode::Binary));
    EXPECT_TRUE(ReadFileBytes(local.file("f")) == HostileData());
    EXPECT_TRUE(Has(ui.logLines, "final-reply-lost /no226.bin"));
    EXPECT_TRUE(client->lost());
}

// The server never connects (active) or never does the data TLS handshake (time-out 8 s).
TEST_F(HoldHostileTest, CancelEndsTheWaitsForTheDataConnection) {
    static TestCerts certs;
    ASSERT_TRUE(certs.ok());
    const CertFiles files = certs.server(CertKind::Good);
    for (const bool active : {true, false}) {
        start(active ? "port-silent" : "data-tls-stall", 8000, 8000, active ? nullptr : &files);
        session.setPorts(SessionPorts{&ui, nullptr}); // with the session's cancel flag
        client->setOptions({{active ? TlsPolicy::None : TlsPolicy::Required, certs.caFile()},
                            active ? ftp::DataMode::Active : ftp::DataMode::Passive});
        ASSERT_TRUE(login()) << active;
        const auto began = Clock::now();
        const Status cut = CancelWhen(
            session, ui, [&] { return MsSince(began) >= 300; },
            [&] {
                return DownloadFile(session, "/hello.txt", local.file("h"), TransferMode::Binary);
            });
        EXPECT_EQ(cut.kind, ErrorKind::Cancelled) << active;
        EXPECT_LT(MsSince(began), 2000) << active;
        EXPECT_TRUE(sawCommand("ABOR")) << active;
        EXPECT_TRUE(stillUsable()) << active;
    }
}

// The driver retries a command once after a lost connection (status 1 if lost again); SIGINT
// and SIGTERM end it with the shell's status, leaving only the hidden part.
TEST_F(HoldHostileTest, ToolReconnectsOnceAndStopsOnSignals) {
    for (const auto& [scenario, status] : {std::pair{"421-first", 0}, {"421-always", 1}}) {
        start(scenario);
        const auto r = RunTool({"ftp://test:secret@" + server->server() + "/", "ls", "/"});
        EXPECT_EQ(r.status, status) << scenario << ": " << r.err;
        EXPECT_EQ(CountPrefix(server->commands(), "USER test"), 2) << scenario;
    }
    start("");
    const std::string url = "ftp://test:secret@" + server->server() + "/";
    for (const auto& [signal, expected] : {std::pair{"INT", 130}, std::pair{"TERM", 143}}) {
        const std::string into = local.file(signal);
        std::filesystem::create_directories(into);
        const std::string prefix = std::string("timeout --preserve-status -s ") + signal + " 1";
        EXPECT_EQ(RunTool({url, "get", "/trickle.bin", into + "/t"}, "", prefix).status, expected);
        for (const std::string& name : LocalNames(into)) {
            EXPECT_EQ(name, ".t.oxlip-part");
        }
    }
}

} // namespace
} // namespace oxlip::test
