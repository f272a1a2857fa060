// FTPS against real servers, and the hostile server for bad certificates and cut connections.

#include "HostileFixture.h"
#include "ftp/RemoteOps.h"
#include "ftp/Transfer.h"
#include "settings/TrustStore.h"
#include "support/TestCerts.h"

#include <sys/stat.h>

namespace oxlip::test {
namespace {

using ftp::CertificateDecision;
using ftp::CertificateFault;
using ftp::CertificateProblem;
using ftp::TlsPolicy;

// One set of certificates for the whole run (key generation is the slow part).
TestCerts& Certs() {
    static TestCerts certs;
    return certs;
}

// A judge that records what it was shown and answers as told.
struct RecordingJudge : ftp::CertificateJudge {
    CertificateDecision answer = CertificateDecision::Cancel;
    std::vector<CertificateProblem> shown;
    CertificateDecision decide(const CertificateProblem& problem) override {
        shown.push_back(problem);
        return answer;
    }
};

struct TlsCase {
    ServerKind kind;
    bool implicit;
};

class FtpsServerTest : public ::testing::TestWithParam<TlsCase> {};

TEST_P(FtpsServerTest, ListsAndMovesFilesAndTreesIntact) {
    const TlsCase c = GetParam();
    std::string why;
    if (!CanRunServer(c.kind, &why)) {
        GTEST_SKIP() << why;
    }
    ASSERT_TRUE(Certs().ok());
    FtpServer server(c.kind, ServerTls{true, c.implicit, Certs().server(CertKind::Good)});
    ASSERT_TRUE(server.ok()) << server.error();
    const std::string big = RandomBytes(3 * 1024 * 1024 + 17, 7); // several TLS records
    server.makeDir("t");
    server.makeDir("t/sub");
    server.writeFile("t/big.bin", big);

    UiRecorder ui;
    SessionSecurity security;
    security.options.policy = c.implicit ? TlsPolicy::Implicit : TlsPolicy::Required;
    // Explicit rows verify the certificate; implicit ones have the user let it through once,
    // which the extra connections of a tree take without asking again.
    RecordingJudge judge;
    judge.answer = CertificateDecision::ConnectOnce;
    security.options.caFile = c.implicit ? "" : Certs().caFile();
    security.options.judge = &judge;
    Session session(ui.ports());
    const Status opened =
        OpenSession(session, "t", server.server(), server.user(), server.password(), &security);
    ASSERT_TRUE(opened) << opened.reply;
    ftp::FtpClient* client = session.client();
    client->setTimeouts(5000, 10000);
    EXPECT_TRUE(client->tlsState().control && client->tlsState().data);
    const std::string encrypted = "tls TLS 1.3 " + client->tlsState().cipher;
    EXPECT_EQ(CountPrefix(ui.logLines, encrypted), 1) << encrypted;
    EXPECT_EQ(HostNames(session, "/t").size(), 2u);
    TempDir local;
    const TransferMode binary = TransferMode::Binary;
    ASSERT_TRUE(DownloadFile(session, "/t/big.bin", local.file("big.bin"), binary));
    EXPECT_TRUE(ReadFileBytes(local.file("big.bin")) == big);
    ASSERT_TRUE(UploadFile(session, local.file("big.bin"), "/up.bin", binary));
    EXPECT_TRUE(server.readFile("up.bin") == big) << client->lastReplyText();
    server.writeFile("t/sub/small.bin", "small");
    ASSERT_TRUE(DownloadFolder(session, "/t/", local.file("tree/"), binary, 3));
    EXPECT_TRUE(ReadFileBytes(local.file("tree/big.bin")) == big);
    ASSERT_TRUE(UploadFolder(session, local.file("tree/"), "/back/", binary, 3));
    EXPECT_TRUE(server.readFile("back/big.bin") == big);
    EXPECT_EQ(server.readFile("back/sub/small.bin"), "small");
    EXPECT_EQ(judge.shown.size(), c.implicit ? 1u : 0u);
    EXPECT_EQ(CountPrefix(ui.logLines, "extra"), 0);
    // A large upload cancelled mid-way ends the encrypted data connection; the session goes on.
    const std::string large = local.file("large.bin");
    WriteFileBytes(large, "x");
    ASSERT_EQ(::truncate(large.c_str(), int64_t(256) << 20), 0);
    ui.also = [&] {
        const auto bars = ui.lines("bar ");
        if (!bars.empty() && std::stoll(bars.back().substr(4)) >= (int64_t(8) << 20)) {
            session.requestCancel();
        }
    };
    EXPECT_EQ(UploadFile(session, large, "/large.bin", binary).kind, ErrorKind::Cancelled);
    ui.also = nullptr;
    session.clearCancel();
    EXPECT_TRUE(SendFtpCommand(session, "SITE CHMOD 640 /up.bin"));
    EXPECT_TRUE(client->rename("/up.bin", "/moved.bin"));
    EXPECT_TRUE(client->deleteFile("/moved.bin"));
    CloseSession(session);
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpsServerTest,
                         ::testing::Values(TlsCase{ServerKind::Pyftpdlib, false},
                                           TlsCase{ServerKind::Pyftpdlib, true},
                                           TlsCase{ServerKind::Vsftpd, false},
                                           TlsCase{ServerKind::Vsftpd, true}),
                         [](const ::testing::TestParamInfo<TlsCase>& info) {
                             return std::string(ServerKindName(info.param.kind)) +
                                    (info.param.implicit ? "Implicit" : "Explicit");
                         });

// vsftpd never sees the login when the certificate is refused (its protocol log).
TEST(FtpsVsftpd, ARefusedCertificateStopsBeforeUser) {
    std::string why;
    if (!CanRunServer(ServerKind::Vsftpd, &why)) {
        GTEST_SKIP() << why;
    }
    ASSERT_TRUE(Certs().ok());
    FtpServer server(ServerKind::Vsftpd,
                     ServerTls{true, false, Certs().server(CertKind::OtherName)});
    ASSERT_TRUE(server.ok()) << server.error();
    ftp::FtpClient client;
    client.setTls({TlsPolicy::Required, Certs().caFile(), nullptr, nullptr});
    EXPECT_FALSE(client.connect(server.server(), server.user(), server.password()));
    ASSERT_TRUE(client.certificateProblem());
    EXPECT_EQ(client.certificateProblem()->fault, CertificateFault::NameMismatch);
    const std::string log = server.protocolLog();
    EXPECT_NE(log.find("\"AUTH TLS\""), std::string::npos) << log;
    EXPECT_EQ(log.find("USER"), std::string::npos) << log;
}

class FtpsHostileTest : public HostileTest {
protected:
    void startTls(CertKind kind, const std::string& scenarios = "") {
        ASSERT_TRUE(Certs().ok());
        files = Certs().server(kind);
        start(scenarios, 3000, 3000, &files);
    }
    bool loginWith(TlsPolicy policy, ftp::CertificateJudge* judge = nullptr,
                   TrustStore* trust = nullptr) {
        client->setTls({policy, Certs().caFile(), trust, judge});
        return login();
    }
    std::string hostPort() const { return server->server(); }

    CertFiles files;
};

TEST_F(FtpsHostileTest, CertificatesThatDoNotVerifyStopBeforeTheLogin) {
    const struct {
        CertKind kind;
        CertificateFault fault;
    } rows[] = {
        {CertKind::OtherName, CertificateFault::NameMismatch},
        {CertKind::Expired, CertificateFault::Expired},
        {CertKind::UnknownIssuer, CertificateFault::UnknownIssuer},
        {CertKind::SelfSigned, CertificateFault::SelfSigned},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(int(row.kind));
        startTls(row.kind);
        RecordingJudge judge;
        EXPECT_FALSE(loginWith(TlsPolicy::Required, &judge));
        ASSERT_TRUE(client->certificateProblem());
        const CertificateProblem& problem = *client->certificateProblem();
        EXPECT_EQ(problem.fault, row.fault) << problem.detail;
        EXPECT_EQ(problem.fingerprint.size(), 32u * 3 - 1);
        EXPECT_EQ(problem.hostPort, hostPort());
        EXPECT_NE(problem.subject.find("CN = "), std::string::npos) << problem.subject;
        EXPECT_FALSE(problem.issuer.empty());
        EXPECT_EQ(problem.notAfter.size(), 19u);
        ASSERT_EQ(judge.shown.size(), 1u);
        EXPECT_EQ(judge.shown[0].fingerprint, problem.fingerprint);
        EXPECT_TRUE(sawCommand("AUTH TLS"));
        EXPECT_FALSE(sawCommand("USER")); // no login after a bad certificate
    }
    // The good certificate for comparison: verified, nothing asked.
    startTls(CertKind::Good);
    RecordingJudge judge;
    EXPECT_TRUE(loginWith(TlsPolicy::Required, &judge));
    EXPECT_TRUE(judge.shown.empty());
    EXPECT_FALSE(client->certificateProblem());
}

TEST_F(FtpsHostileTest, TrustedCertificatesArePinnedAndAChangeIsRefused) {
    startTls(CertKind::SelfSigned);
    TrustStore trust(local.file("settings/" + std::string(kTrustFileName)));
    ::mkdir(local.file("settings").c_str(), 0700);
    RecordingJudge judge;
    judge.answer = CertificateDecision::ConnectOnce;
    EXPECT_TRUE(loginWith(TlsPolicy::Required, &judge, &trust));
    EXPECT_FALSE(trust.find(hostPort())) << "connect once stores nothing";

    judge.answer = CertificateDecision::TrustAlways;
    EXPECT_TRUE(loginWith(TlsPolicy::Required, &judge, &trust));
    const std::string pinned = client->certificateProblem()->fingerprint;
    EXPECT_EQ(trust.find(hostPort()), pinned);
    struct stat info {};
    ASSERT_EQ(::stat(trust.path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    EXPECT_TRUE(loginWith(TlsPolicy::Required, nullptr, &trust)) << "pinned: nobody is asked";
    EXPECT_EQ(judge.shown.size(), 2u);

    // The server's certificate changes: refused, naming both, without asking.
    const std::string before(pinned.size(), 'A');
    ASSERT_TRUE(trust.trust(hostPort(), before));
    EXPECT_FALSE(loginWith(TlsPolicy::Required, &judge, &trust));
    ASSERT_TRUE(client->certificateProblem());
    EXPECT_EQ(client->certificateProblem()->fault, CertificateFault::Changed);
    EXPECT_EQ(client->certificateProblem()->trustedFingerprint, before);
    EXPECT_EQ(client->certificateProblem()->fingerprint, pinned);
    EXPECT_EQ(judge.shown.size(), 2u);
    EXPECT_EQ(trust.find(hostPort()), before);
}

TEST_F(FtpsHostileTest, PoliciesAgainstAServerWithoutTls) {
    start(""); // no certificate: AUTH TLS is refused
    EXPECT_FALSE(loginWith(TlsPolicy::Required));
    EXPECT_TRUE(sawCommand("AUTH TLS"));
    EXPECT_FALSE(sawCommand("USER"));
    EXPECT_FALSE(sawCommand("PASS")) << "no password in clear";
    EXPECT_FALSE(client->tlsState().fellBack);

    // "If available" logs in in clear, and the status log says so.
    UiRecorder ui;
    SessionSecurity security;
    security.options.policy = TlsPolicy::IfAvailable;
    Session session(ui.ports());
    ASSERT_TRUE(OpenSession(session, "t", server->server(), HostileServer::user(),
                            HostileServer::password(), &security));
    EXPECT_TRUE(session.client()->tlsState().fellBack);
    EXPECT_FALSE(session.client()->tlsState().control);
    EXPECT_EQ(CountPrefix(ui.logLines, "tls-fell-back"), 1);
    CloseSession(session);
}

TEST_F(FtpsHostileTest, DataConnectionsCutByTheServerFailAndKeepTheOldFile) {
    startTls(CertKind::Good);
    ASSERT_TRUE(loginWith(TlsPolicy::Required));
    ASSERT_TRUE(client->tlsState().data);
    std::string bytes;
    EXPECT_TRUE(download("/data.bin", false, &bytes)) << client->lastReplyText();
    EXPECT_EQ(bytes, HostileData());

    // Listing and SIZE agree with the half that comes: only the missing close_notify tells.
    for (bool ascii : {false, true}) {
        EXPECT_FALSE(download("/tls-cut.bin", ascii)) << ascii;
        EXPECT_TRUE(stillUsable());
    }
    const std::string target = local.file("kept.bin");
    WriteFileBytes(target, "the old file");
    EXPECT_FALSE(DownloadFile(session, "/tls-cut.bin", target, TransferMode::Binary));
    EXPECT_EQ(ReadFileBytes(target), "the old file");
    // A dropped upload data connection: a failure, not a SIGPIPE that ends us.
    WriteFileBytes(local.file("up.bin"), std::string(8 << 20, 'u'));
    const int fd = ::open(local.file("up.bin").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(client->store("/tls-drop.bin", false, fd, nullptr));
    ::close(fd);
    EXPECT_TRUE(stillUsable()) << client->lastReplyText();
}

// A stalled handshake times out while pumping; implicit TLS speaks TLS from the first byte.
TEST_F(FtpsHostileTest, AStalledHandshakeTimesOutAndImplicitTlsWorks) {
    startTls(CertKind::Good, "tls-stall");
    client->setTimeouts(600, 600);
    const auto start = Clock::now();
    EXPECT_FALSE(loginWith(TlsPolicy::Required));
    EXPECT_LT(MsSince(start), 3000);
    EXPECT_GE(ui.pumps, 600 / ftp::kPumpIntervalMs - 2);
    EXPECT_FALSE(sawCommand("USER"));

    startTls(CertKind::Good, "tls-implicit");
    EXPECT_TRUE(loginWith(TlsPolicy::Implicit));
    EXPECT_EQ(client->tlsState().protocol.rfind("TLSv1.", 0), 0u) << client->tlsState().protocol;
    EXPECT_NE(client->tlsState().protocol, "TLSv1.1");
    std::string bytes;
    EXPECT_TRUE(download("/hello.txt", false, &bytes));
    EXPECT_EQ(bytes, "hello\r\nworld\r\n");
}

} // namespace
} // namespace oxlip::test
