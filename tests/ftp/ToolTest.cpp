// The oxlip-ftp driver run as a program against a real server.

#include "ServerFixture.h"
#include "localfs/TextCodec.h"
#include "support/TestCerts.h"

#include <functional>
#include <regex>

using namespace std::string_literals;

namespace oxlip {
namespace {

using test::ReadFileBytes;
using test::RunTool;
using test::ServerTest;
using test::TempDir;
using test::WriteFileBytes;

bool IsSummary(const std::string& out, const std::string& filesAndBytes) {
    return std::regex_match(out, std::regex(filesAndBytes + ", [0-9]+\\.[0-9]{3} s\n"));
}

// A run: status, a text the output holds, a server path there afterwards ("!": gone).
struct Step {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string path;
};

class ToolTest : public ServerTest {
protected:
    void run(
        const std::vector<Step>& steps,
        const std::function<std::string(const std::string&)>& onServer =
            [](const std::string& path) { return path; }) {
        for (const Step& step : steps) {
            std::vector<std::string> args = step.args;
            args.insert(args.begin(), url());
            const auto r = RunTool(args);
            SCOPED_TRACE(args[1] + (args.size() > 2 ? " " + args[2] : ""));
            EXPECT_EQ(r.status, step.status) << r.err;
            EXPECT_NE(r.out.find(step.out), std::string::npos) << r.out;
            if (step.status != 0) {
                EXPECT_EQ(r.out, "");
                EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            }
            if (!step.path.empty()) {
                const bool gone = step.path[0] == '!';
                EXPECT_NE(server->exists(onServer(step.path.substr(gone ? 1 : 0))), gone)
                    << step.path;
            }
        }
    }
};

TEST_P(ToolTest, FolderCommandsAndListing) {
    put("pub/a b.txt", "12345");
    makeDirs("pub/sub");
    put("tree/x/y.txt", "y");
    // OXLIP_TRACE=1: the control connection on standard error, the password masked.
    const auto traced = RunTool({url(), "ls", "/pub/"}, "", "OXLIP_TRACE=1 timeout 60");
    EXPECT_EQ(traced.out.find("> "), std::string::npos) << traced.out;
    for (const std::string& line :
         {"> USER " + server->user() + "\n", "< 331 "s, "> PASS ****\n"s, "> FEAT\n"s, "< 226"s}) {
        EXPECT_NE(traced.err.find(line), std::string::npos) << line << " in\n" << traced.err;
    }
    EXPECT_EQ(traced.err.find(server->password()), std::string::npos) << traced.err;
    run({
        {{"ls", "/pub/"}, 0, "\t5\t", ""},
        {{"ls", "/pub"}, 0, "\t644\ta b.txt\n", ""},
        {{"mkdir", "/new"}, 0, "", "new"},
        {{"mv", "/pub/a b.txt", "/new/c.txt"}, 0, "", "new/c.txt"},
        {{"quote", "SITE CHMOD 600 /new/c.txt"}, 0, "", ""},
        {{"ls", "/new"}, 0, "\t600\tc.txt", ""},
        {{"rm", "/new/c.txt"}, 0, "", "!new/c.txt"},
        {{"rmdir", "/tree"}, 0, "", "!tree"},
        {{"pwd"}, 0, "/\n", ""},
        {{"rm", "/missing.txt"}, 1, "", ""},
        {{"ls", "/missing/"}, 1, "", ""},
    });
}

TEST_P(ToolTest, TransfersReportFilesBytesAndTime) {
    const std::string url = this->url();
    TempDir local;
    WriteFileBytes(local.file("page.html"), "<p>\r\n</p>\r\n");
    auto r = RunTool({url, "put", local.file("page.html"), "/page.html"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(IsSummary(r.out, "1 files, 11 bytes")) << r.out;
    EXPECT_TRUE(r.err.empty());                              // not a terminal: no progress
    EXPECT_EQ(server->readFile("page.html"), "<p>\n</p>\n"); // automatic: ASCII
    r = RunTool({"--mode", "binary", url, "get", "/page.html", local.file("copy.html")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(local.file("copy.html")), "<p>\n</p>\n");

    put("site/img/logo.gif", "GIF89a\r\n");
    put("site/index.html", "x\r\n");
    r = RunTool({url, "getdir", "/site", local.file("site")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(IsSummary(r.out, "2 files, 11 bytes")) << r.out;
    EXPECT_EQ(ReadFileBytes(local.file("site/index.html")), "x\n");
    EXPECT_EQ(ReadFileBytes(local.file("site/img/logo.gif")), "GIF89a\r\n");
    WriteFileBytes(local.file("site/crlf.html"), "y\r\n");
    r = RunTool({"--mode", "binary", url, "putdir", local.file("site"), "/copy"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(server->readFile("copy/crlf.html"), "y\r\n");
    EXPECT_EQ(server->readFile("copy/img/logo.gif"), "GIF89a\r\n");

    // An undeliverable link fails the tree and is named.
    server->writeFile("../away.txt", "away");
    ASSERT_TRUE(makeLinks({{server->path("../away.txt"), "site/gone"}}));
    r = RunTool({url, "getdir", "/site", local.file("site2")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(": /site/gone\n"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFileBytes(local.file("site2/img/logo.gif")), "GIF89a\r\n");
}

// Typed names go out in the encoding of the server's names (CP932 on vsftpd).
TEST_P(ToolTest, TypedNamesGoOutInTheEncodingOfTheServersNames) {
    if (!isVsftpd()) {
        GTEST_SKIP() << "pyftpdlib takes only UTF-8 names";
    }
    const auto cp932 = [](const std::string& text) { return Utf8ToCp932(text).value_or(""); };
    put(cp932("日本語.txt"), "body");
    put(cp932("フォルダ/中.txt"), "in");
    TempDir local;
    run(
        {
            {{"ls", "/フォルダ"}, 0, "\t中.txt\n", ""},
            {{"get", "/日本語.txt", local.file("got")}, 0, "1 files, 4 bytes", ""},
            {{"mv", "/日本語.txt", "/フォルダ/新.txt"}, 0, "", "フォルダ/新.txt"},
            {{"rm", "/フォルダ/新.txt"}, 0, "", ""},
            {{"rm", "フォルダ/中.txt"}, 0, "", ""},
            {{"rmdir", "/フォルダ"}, 0, "", "!フォルダ"},
        },
        cp932);
    EXPECT_EQ(ReadFileBytes(local.file("got")), "body");
}

// A failure exits 1, no output, one error line quoting the server.
TEST(Tool, FailuresExitOneQuotingTheServer) {
    if (!test::CanRunServer(test::ServerKind::Pyftpdlib)) {
        GTEST_SKIP() << "no /usr/bin/python3";
    }
    const struct {
        const char* scenario;
        const char* password;
        std::vector<std::string> args;
        std::string err; // what standard error holds
    } rows[] = {
        {"", "wrong", {"pwd"}, ": 530 Login incorrect.\n"},
        {"epsv-zero", "secret", {"ls", "/wide"}, "cannot list the folder \"/wide\": 229 "},
        {"", "secret", {"mv", "/hello.txt", "/data.bin"}, "mv: \"/data.bin\" already exists\n"},
        {"",
         "secret",
         {"getdir", "/", "/nonexistent/x"}, // said as local, not the last reply
         "getdir failed: a local file or folder could not be read, written or made\n"},
    };
    for (const auto& row : rows) {
        test::HostileServer server(row.scenario);
        ASSERT_TRUE(server.ok());
        std::vector<std::string> args = row.args;
        args.insert(args.begin(),
                    std::string("ftp://test:") + row.password + "@" + server.server() + "/");
        const auto r = RunTool(args);
        EXPECT_EQ(r.status, 1) << row.err;
        EXPECT_EQ(r.out, "") << row.err;
        EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        for (const std::string& command : server.commands()) {
            EXPECT_NE(command.rfind("RNFR", 0), 0u) << "a taken name is never renamed onto";
        }
    }
}

// ftpes:// and ftps:// use TLS; a certificate that does not verify ends with exit 1 and its
// fingerprint before the login.
TEST(Tool, FtpsUrlsAndExtraAuthorities) {
    if (!test::CanRunServer(test::ServerKind::Pyftpdlib)) {
        GTEST_SKIP() << "no /usr/bin/python3";
    }
    test::TestCerts certs;
    ASSERT_TRUE(certs.ok());
    const struct {
        const char* scenario;
        test::CertKind kind;
        const char* scheme;
        bool cacert;
        int status;
        const char* plainCommand; // a command the server must see in clear, or nothing
    } rows[] = {
        {"", test::CertKind::Good, "ftpes://", true, 0, nullptr},
        {"tls-implicit", test::CertKind::Good, "ftps://", true, 0, nullptr},
        {"", test::CertKind::Good, "ftp://", false, 0, "USER test"},
        {"", test::CertKind::Good, "ftpes://", false, 1, nullptr},
        {"", test::CertKind::OtherName, "ftpes://", true, 1, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.scheme) + row.scenario + std::to_string(int(row.kind)));
        const test::CertFiles files = certs.server(row.kind);
        test::HostileServer server(row.scenario, files.cert, files.key);
        ASSERT_TRUE(server.ok());
        std::vector<std::string> args = {"--cacert", certs.caFile()};
        args.erase(args.begin(), args.begin() + (row.cacert ? 0 : 2));
        args.insert(args.end(),
                    {std::string(row.scheme) + "test:secret@" + server.server() + "/", "ls", "/"});
        const auto r = RunTool(args);
        EXPECT_EQ(r.status, row.status) << r.err;
        const auto commands = server.commands();
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "AUTH TLS"),
                  row.scheme == std::string("ftpes://") ? 1 : 0);
        if (row.status != 0) {
            EXPECT_TRUE(std::regex_search(
                r.err, std::regex("SHA-256 fingerprint ([0-9A-F]{2}:){31}[0-9A-F]{2}")))
                << r.err;
            EXPECT_EQ(std::count(commands.begin(), commands.end(), "USER test"), 0);
            continue;
        }
        EXPECT_NE(r.out.find("\thello.txt\n"), std::string::npos) << r.out;
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "PROT P"), row.plainCommand ? 0 : 1);
    }
}

TEST(Tool, ParseListingNeedsNoServer) {
    auto r = RunTool({"parse-listing", "--now", "2024-06-01 12:00:00"},
                     "total 12\ngarbage\n-rw-r--r-- 1 user group 5 Mar 04 10:20 a file\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "-\t5\t2024-03-04 10:20:00\t644\ta file\n");
    r = RunTool({"parse-listing", "--mlsd"}, "type=file;size=3;modify=20240101000000; a.txt\n");
    EXPECT_EQ(r.out, "-\t3\t2024-01-01 00:00:00\t\ta.txt\n");
    r = RunTool({});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("usage"), std::string::npos);
}

OXLIP_ON_BOTH_SERVERS(ToolTest);

} // namespace
} // namespace oxlip
