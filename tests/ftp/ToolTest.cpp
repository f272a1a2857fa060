// The oxlip-ftp driver run as a program against a real server.

#include "HostileFixture.h"
#include "ServerFixture.h"
#include "localfs/TextCodec.h"
#include "support/TestCerts.h"

#include <regex>

namespace oxlip::test {
namespace {

// A run: arguments, status, a text the output holds, a server path there afterwards ("!": gone).
using Step = std::tuple<std::vector<std::string>, int, std::string, std::string>;

class ToolTest : public ServerTest {
protected:
    // vsftpd stores names in CP932.
    void run(const std::vector<Step>& steps) {
        for (const auto& [given, status, out, there] : steps) {
            std::vector<std::string> args = given;
            args.insert(args.begin(), url());
            const auto r = RunTool(args);
            const std::string what = args[1] + " " + args.back() + ": ";
            EXPECT_EQ(r.status, status) << what << r.err;
            EXPECT_NE(r.out.find(out), std::string::npos) << what << r.out;
            if (!there.empty()) {
                const bool gone = there[0] == '!';
                const std::string path = there.substr(gone ? 1 : 0);
                EXPECT_NE(server->exists(isVsftpd() ? Utf8ToCp932(path).value() : path), gone)
                    << what;
            }
        }
    }
};

TEST_P(ToolTest, CommandsTransfersAndTheirOutput) {
    put("pub/a b.txt", "12345");
    put("tree/x/y.txt", "y");
    put("site/img/logo.gif", "GIF89a\r\n");
    put("site/index.html", "x\r\n");
    TempDir local;
    WriteFileBytes(local.file("page.html"), "<p>\r\n</p>\r\n");
    run({
        {{"ls", "/pub"}, 0, "\t644\ta b.txt\n", ""},
        {{"mkdir", "/new"}, 0, "", "new"},
        {{"mv", "/pub/a b.txt", "/new/c.txt"}, 0, "", "new/c.txt"},
        {{"quote", "SITE CHMOD 600 /new/c.txt"}, 0, "", ""},
        {{"ls", "/new"}, 0, "\t600\tc.txt", ""},
        {{"rm", "/new/c.txt"}, 0, "", "!new/c.txt"},
        {{"rmdir", "/tree"}, 0, "", "!tree"},
        {{"pwd"}, 0, "/\n", ""},
        {{"ls", "/missing/"}, 1, "", ""},
        {{"getdir", "/site", local.file("site")}, 0, "2 files, 11 bytes, ", ""},
    });
    auto r = RunTool({url(), "put", local.file("page.html"), "/page.html"});
    EXPECT_TRUE(std::regex_match(r.out, std::regex("1 files, 11 bytes, [0-9]+\\.[0-9]{3} s\n")))
        << r.out;
    EXPECT_EQ(r.err, "");                                    // not a terminal: no progress
    EXPECT_EQ(server->readFile("page.html"), "<p>\n</p>\n"); // the default ASCII extensions
    r = RunTool({"--mode", "binary", url(), "putdir", local.path(), "/copy"});
    EXPECT_EQ(server->readFile("copy/page.html"), "<p>\r\n</p>\r\n") << r.err;

    // An undeliverable link fails the tree and is named.
    server->writeFile("../away.txt", "away");
    ASSERT_TRUE(makeLinks({{server->path("../away.txt"), "site/gone"}}));
    r = RunTool({url(), "getdir", "/site", local.file("site2")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(": /site/gone\n"), std::string::npos) << r.err;

    if (isVsftpd()) { // typed names go out in the encoding of the server's names
        put(Utf8ToCp932("日本語.txt").value(), "body");
        put(Utf8ToCp932("フォルダ/中.txt").value(), "in");
        run({
            {{"ls", "/フォルダ"}, 0, "\t中.txt\n", ""},
            {{"get", "/日本語.txt", local.file("got")}, 0, "1 files, 4 bytes", ""},
            {{"mv", "/日本語.txt", "/フォルダ/新.txt"}, 0, "", "フォルダ/新.txt"},
            {{"rm", "フォルダ/中.txt"}, 0, "", "!フォルダ/中.txt"},
        });
    }
}

using ToolHostileTest = HostileTest;

// A failure prints nothing but one line on standard error.
TEST_F(ToolHostileTest, FailuresExitOneQuotingTheServer) {
    // {scenario, password, arguments, what standard error holds}
    const std::tuple<std::string, std::string, std::vector<std::string>, std::string> rows[] = {
        {"", "wrong", {"pwd"}, ": 530 Login incorrect.\n"},
        {"epsv-zero", "secret", {"ls", "/wide"}, "cannot list the folder \"/wide\": 229 "},
        {"", "secret", {"mv", "/hello.txt", "/data.bin"}, "mv: \"/data.bin\" already exists\n"},
        {"", "secret", {"getdir", "/", "/nonexistent/x"}, "getdir failed: a local file or folder"},
    };
    for (const auto& [scenario, password, given, err] : rows) {
        start(scenario);
        std::vector<std::string> args = given;
        args.insert(args.begin(), "ftp://test:" + password + "@" + server->server() + "/");
        const auto r = RunTool(args);
        EXPECT_EQ(r.status, 1) << err;
        EXPECT_EQ(r.out, "") << err;
        EXPECT_NE(r.err.find(err), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

// ftpes:// asks for TLS, ftps:// speaks it; a refused certificate: exit 1 and its fingerprint.
TEST_F(ToolHostileTest, FtpsUrlsAndExtraAuthorities) {
    TestCerts certs;
    ASSERT_TRUE(certs.ok());
    const CertFiles files = certs.server(CertKind::Good);
    // {scenario, scheme, with --cacert, status}
    const std::tuple<std::string, std::string, bool, int> rows[] = {
        {"", "ftpes://", true, 0},
        {"tls-implicit", "ftps://", true, 0},
        {"", "ftp://", false, 0},
        {"", "ftpes://", false, 1},
    };
    for (const auto& [scenario, scheme, cacert, status] : rows) {
        const std::string what = scheme + scenario + (cacert ? " --cacert" : "");
        start(scenario, 3000, 3000, &files);
        std::vector<std::string> args = {"--cacert", certs.caFile()};
        args.erase(args.begin(), args.begin() + (cacert ? 0 : 2));
        args.insert(args.end(), {scheme + "test:secret@" + server->server() + "/", "ls", "/"});
        const auto r = RunTool(args);
        EXPECT_EQ(r.status, status) << what << r.err;
        EXPECT_EQ(CountPrefix(server->commands(), "AUTH TLS"), long(scheme == "ftpes://")) << what;
        if (status != 0) {
            EXPECT_TRUE(std::regex_search(
                r.err, std::regex("SHA-256 fingerprint ([0-9A-F]{2}:){31}[0-9A-F]{2}")))
                << what << r.err;
        }
    }
}

TEST(Tool, ParseListingNeedsNoServer) {
    auto r = RunTool({"parse-listing", "--now", "2024-06-01 12:00:00"},
                     "total 12\ngarbage\n-rw-r--r-- 1 user group 5 Mar 04 10:20 a file\n");
    EXPECT_EQ(r.out, "-\t5\t2024-03-04 10:20:00\t644\ta file\n") << r.err;
    r = RunTool({"parse-listing", "--mlsd"}, "type=file;size=3;modify=20240101000000; a.txt\n");
    EXPECT_EQ(r.out, "-\t3\t2024-01-01 00:00:00\t\ta.txt\n");
    r = RunTool({});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("usage"), std::string::npos);
}

OXLIP_ON_BOTH_SERVERS(ToolTest);

} // namespace
} // namespace oxlip::test
