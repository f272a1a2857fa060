// FTPS against real servers, and the hostile server for bad certificates and cut connections.

#include "HostileFixture.h"
#include "ftp/Transfer.h"
#include "settings/TrustStore.h"
#include "support/TestCerts.h"

namespace oxlip::test {
namespace {

using namespace ftp;

// One set of certificates for the whole run (key generation is the slow part).
TestCerts& Certs() {
    static TestCerts certs;
    return certs;
}

// A judge that records what it was shown and answers as told.
struct RecordingJudge : ftp::CertificateJudge {
    explicit RecordingJudge(CertificateDecision given = CertificateDecision::Cancel)
        : answer(given) {}
    CertificateDecision answer;
    std::vector<ftp::CertificateProblem> shown;
    CertificateDecision decide(const ftp::CertificateProblem& problem) override {
        shown.push_back(problem);
        return answer;
    }
};

class FtpsServerTest : public ::testing::TestWithParam<std::tuple<ServerKind, bool>> {};

// Implicit rows let the certificate through once, which a tree's extra connections take too.
TEST_P(FtpsServerTest, MovesFilesAndTreesIntact) {
    const auto [kind, implicit] = GetParam();
    if (!CanRunServer(kind)) {
        GTEST_SKIP() << "no " << ServerKindName(kind);
    }
    ASSERT_TRUE(Certs().ok());
    FtpServer server(kind, ServerTls{true, implicit, Certs().server(CertKind::Good)});
    ASSERT_TRUE(server.ok()) << server.error();
    const std::string big = RandomBytes(3 * 1024 * 1024 + 17, 7); // several TLS records
    MakeEntries(server.path("t"), {"sub/small"});
    server.writeFile("t/big.bin", big);
    UiRecorder ui;
    RecordingJudge judge(CertificateDecision::ConnectOnce);
    SessionLogin login{server.server(), server.user(), server.password(), {}};
    login.options.tls = {implicit ? TlsPolicy::Implicit : TlsPolicy::Required,
                         implicit ? "" : Certs().caFile(), nullptr, &judge};
    Session session(ui.ports());
    ASSERT_TRUE(OpenSession(session, login));
    EXPECT_TRUE(session.client()->tlsState().data);
    const std::string encrypted = "tls TLS 1.3 " + session.client()->tlsState().cipher;
    EXPECT_EQ(CountPrefix(ui.logLines, encrypted), 1) << encrypted;
    TempDir local;
    const TransferMode binary = TransferMode::Binary;
    ASSERT_TRUE(DownloadFolder(session, "/t/", local.file("tree/"), binary, 3));
    ASSERT_TRUE(UploadFolder(session, local.file("tree/"), "/back/", binary, 3));
    EXPECT_TRUE(server.readFile("back/big.bin") == big);
    EXPECT_EQ(server.readFile("back/sub/small"), "sub/small");
    EXPECT_EQ(judge.shown.size(), implicit ? 1u : 0u);
    EXPECT_EQ(CountPrefix(ui.logLines, "extra"), 0);

    login.options.data = ftp::DataMode::Active; // the server connects back, over TLS too
    ASSERT_TRUE(OpenSession(session, login));
    ASSERT_TRUE(DownloadFile(session, "/back/big.bin", local.file("big.bin"), binary));
    EXPECT_TRUE(ReadFileBytes(local.file("big.bin")) == big);
    ASSERT_TRUE(UploadFile(session, local.file("big.bin"), "/up.bin", binary));
    EXPECT_TRUE(server.readFile("up.bin") == big);

    const std::string large = local.file("large.bin");
    WriteFileBytes(large, "x");
    ASSERT_EQ(::truncate(large.c_str(), int64_t(256) << 20), 0); // sparse
    const auto sent8MiB = [&] {
        const auto bars = ui.lines("bar ");
        return !bars.empty() && std::stoll(bars.back().substr(4)) >= (int64_t(8) << 20);
    };
    EXPECT_EQ(CancelWhen(session, ui, sent8MiB,
                         [&] { return UploadFile(session, large, "/large.bin", binary); })
                  .kind,
              ErrorKind::Cancelled);
    EXPECT_TRUE(session.client()->rename("/back/big.bin", "/moved.bin"));
    CloseSession(session);
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpsServerTest,
                         ::testing::Combine(::testing::Values(ServerKind::Pyftpdlib,
                                                              ServerKind::Vsftpd),
                                            ::testing::Bool()),
                         [](const auto& info) {
                             return ServerKindName(std::get<0>(info.param)) +
                                    std::string(std::get<1>(info.param) ? "Implicit" : "Explicit");
                         });

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

    CertFiles files;
};

// The judge is shown what the user needs to decide; refused, nothing follows AUTH TLS.
TEST_F(FtpsHostileTest, CertificatesThatDoNotVerifyStopBeforeTheLogin) {
    const std::pair<CertKind, CertificateFault> rows[] = {
        {CertKind::OtherName, CertificateFault::NameMismatch},
        {CertKind::Expired, CertificateFault::Expired},
        {CertKind::UnknownIssuer, CertificateFault::UnknownIssuer},
        {CertKind::SelfSigned, CertificateFault::SelfSigned},
    };
    for (const auto& [kind, fault] : rows) {
        startTls(kind);
        RecordingJudge judge;
        EXPECT_FALSE(loginWith(TlsPolicy::Required, &judge));
        ASSERT_EQ(judge.shown.size(), 1u) << int(kind);
        const ftp::CertificateProblem& problem = judge.shown[0];
        EXPECT_EQ(problem.fault, fault) << problem.detail;
        EXPECT_EQ(problem.fingerprint.size(), 32u * 3 - 1);
        EXPECT_EQ(problem.hostPort, server->server());
        EXPECT_NE(problem.subject.find("CN = "), std::string::npos) << problem.subject;
        EXPECT_FALSE(problem.issuer.empty());
        EXPECT_EQ(problem.notAfter.size(), 19u);
        EXPECT_FALSE(sawCommand("USER")) << int(kind);
    }
}

// A changed certificate is refused naming both fingerprints, without asking.
TEST_F(FtpsHostileTest, TrustedCertificatesArePinnedAndAChangeIsRefused) {
    startTls(CertKind::SelfSigned);
    TrustStore trust(local.file(kTrustFileName));
    RecordingJudge judge(CertificateDecision::ConnectOnce);
    EXPECT_TRUE(loginWith(TlsPolicy::Required, &judge, &trust));
    EXPECT_FALSE(trust.find(server->server()));
    judge.answer = CertificateDecision::TrustAlways;
    EXPECT_TRUE(loginWith(TlsPolicy::Required, &judge, &trust));
    const std::string pinned = judge.shown.back().fingerprint;
    EXPECT_EQ(trust.find(server->server()), pinned);
    EXPECT_TRUE(loginWith(TlsPolicy::Required, nullptr, &trust));

    const std::string before(pinned.size(), 'A');
    ASSERT_TRUE(trust.trust(server->server(), before));
    EXPECT_FALSE(loginWith(TlsPolicy::Required, &judge, &trust));
    const auto& problem = client->certificateProblem().value();
    EXPECT_EQ(std::tie(problem.fault, problem.trustedFingerprint, problem.fingerprint),
              std::make_tuple(CertificateFault::Changed, before, pinned));
    EXPECT_EQ(judge.shown.size(), 2u);
    EXPECT_EQ(trust.find(server->server()), before);
}

// Required: no login, so no password in clear; "if available" logs in in clear and says so.
TEST_F(FtpsHostileTest, PoliciesAgainstAServerWithoutTls) {
    start("");
    EXPECT_FALSE(loginWith(TlsPolicy::Required));
    EXPECT_FALSE(sawCommand("USER"));
    session.setPorts(SessionPorts{&ui, nullptr});
    SessionSecurity security;
    security.options.policy = TlsPolicy::IfAvailable;
    ASSERT_TRUE(OpenSession(session, "t", server->server(), HostileServer::user(),
                            HostileServer::password(), &security));
    EXPECT_FALSE(session.client()->tlsState().control);
    EXPECT_EQ(CountPrefix(ui.logLines, "tls-fell-back"), 1);
}

// Only the missing close_notify tells a cut download; a dropped upload fails without SIGPIPE.
TEST_F(FtpsHostileTest, DataConnectionsCutByTheServerFailAndKeepTheOldFile) {
    startTls(CertKind::Good);
    ASSERT_TRUE(loginWith(TlsPolicy::Required));
    EXPECT_FALSE(download("/tls-cut.bin", true));
    const std::string target = local.file("kept.bin");
    WriteFileBytes(target, "the old file");
    EXPECT_FALSE(DownloadFile(session, "/tls-cut.bin", target, TransferMode::Binary));
    EXPECT_EQ(ReadFileBytes(target), "the old file");
    EXPECT_TRUE(stillUsable());
    WriteFileBytes(local.file("up.bin"), std::string(8 << 20, 'u'));
    const int fd = ::open(local.file("up.bin").c_str(), O_RDONLY);
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

    startTls(CertKind::Good, "tls-implicit");
    EXPECT_TRUE(loginWith(TlsPolicy::Implicit));
    std::string bytes;
    EXPECT_TRUE(download("/hello.txt", false, &bytes));
    EXPECT_EQ(bytes, "hello\r\nworld\r\n");
}

} // namespace
} // namespace oxlip::test
