#include "settings/IniFile.h"
#include "SettingsTestSupport.h"
#include "support/TempDir.h"

#include <climits>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <tuple>
#include <unistd.h>

using namespace oxlip::test;
using Names = std::vector<std::string>;

namespace {

class IniFile : public ::testing::Test {
protected:
    TempDir dir;
    const std::string path = dir.file("Ftp.ini");
};

TEST_F(IniFile, ReadFindsValuesByExactHeaderAndKeyPrefixAndListsSectionsInOrder) {
    // label, file, section, key, value read
    const std::tuple<const char*, std::string, const char*, const char*, const char*> cases[] = {
        {"empty value is a value", Crlf("[S]|K="), "S", "K", ""},
        {"later '=' belong to the value", Crlf("[S]|Dir=/a=b"), "S", "Dir", "/a=b"},
        {"value kept untrimmed", Crlf("[S]|K= v ;c"), "S", "K", " v ;c"},
        {"blank before key", Crlf("[S]| K=v"), "S", "K", "dflt"},
        {"header case matters", Crlf("[main]|K=v"), "Main", "K", "dflt"},
        {"'=' must follow the key", Crlf("[S]|ServerName=x"), "S", "Server", "dflt"},
        {"first of duplicates", Crlf("[S]|k=1|k=2"), "S", "k", "1"},
        {"lines above any header", Crlf("K=top|[S]|x=1"), "S", "K", "dflt"},
        {"no key from the next section", Crlf("[A]|x=1|[B]|K=b"), "A", "K", "dflt"},
        {"only the first of a repeated section", Crlf("[A]|x=1|[B]|[A]|K=2"), "A", "K", "dflt"},
        {"a repeated header inside the section", Crlf("[A]|x=1|[A]|K=2|[B]"), "A", "K", "2"},
        {"no final line end", "[S]\r\nK=last", "S", "K", "last"},
        {"mixed line ends", "[A]\nx=1\r[S]\r\nK=m\n", "S", "K", "m"},
        {"name holding ']' and '='", Crlf("[a]=b]|k=x=y"), "a]=b", "k=x", "y"},
        {"CP932 file read as UTF-8", "[\x8e\x96\x96\xb1\x8f\x8a]\r\nDir=/\x83\x65\r\n", "事務所",
         "Dir", "/テ"},
        // As a whole these bytes are valid CP932 too, which would garble the UTF-8 header.
        {"UTF-8 file with a CP932 line", "[日本]\r\nDir=/\x83\x65\r\n", "日本", "Dir", "/テ"},
    };
    for (const auto& [label, file, section, key, expected] : cases) {
        WriteFileBytes(path, file);
        EXPECT_EQ(oxlip::ReadIniValue(path, section, key, "dflt"), expected) << label;
    }
    EXPECT_EQ(oxlip::ReadIniValue(dir.file("missing.ini"), "S", "K", "dflt"), "dflt");
    EXPECT_TRUE(oxlip::ListIniSections(dir.file("missing.ini")).empty());
    WriteFileBytes(path, "[A]\r\nx=1\n[B]\r[A]\r\n[]\r\n [C]\r\n[ D ]\r\n[\x83\x65]");
    EXPECT_EQ(oxlip::ListIniSections(path), (Names{"A", "B", "A", "", " D ", "テ"}));
}

TEST_F(IniFile, WriteRewritesAsTheLineRulesSay) {
    // label, file before, section, key, value, lines after
    using Row =
        std::tuple<const char*, std::string, const char*, const char*, const char*, const char*>;
    const Row cases[] = {
        {"empty file", "", "S", "K", "V", "|[S]|K=V"},
        {"new section appended without blank", Crlf("[A]|x=1"), "S", "K", "V", "[A]|x=1|[S]|K=V"},
        {"new section after trailing blank", Crlf("[A]|x=1|"), "S", "K", "V", "[A]|x=1||[S]|K=V"},
        {"insert keeps the separating blank", Crlf("[A]|x=1||[B]|y=2"), "A", "z", "3",
         "[A]|x=1|z=3||[B]|y=2"},
        {"insert before next header", Crlf("[A]|x=1|[B]"), "A", "z", "3", "[A]|x=1|z=3|[B]"},
        {"last section ending in blank", Crlf("[A]|x=1|"), "A", "z", "3", "[A]|x=1||z=3"},
        {"replace first duplicate only", Crlf("[A]|k=1|k=2"), "A", "k", "9", "[A]|k=9|k=2"},
        {"first occurrence of a repeated section", Crlf("[A]|x=1|[B]|[A]|z=0"), "A", "z", "3",
         "[A]|x=1|z=3|[B]|[A]|z=0"},
        {"other lines carried through", Crlf("; note|[A]| x = 1||# c|k=old|[B]|k=b"), "A", "k",
         "new", "; note|[A]| x = 1||# c|k=new|[B]|k=b"},
        {"CR file comes back CR LF", "[A]\rk=1", "A", "j", "2", "[A]|k=1|j=2"},
        {"bytes pass through", Crlf("[A]|t=\x01\t\x7f x"), "A", "u", "\xe2\x82\xac",
         "[A]|t=\x01\t\x7f x|u=\xe2\x82\xac"},
    };
    for (const auto& [label, before, section, key, value, after] : cases) {
        WriteFileBytes(path, before);
        EXPECT_TRUE(oxlip::WriteIniValue(path, section, key, value)) << label;
        EXPECT_EQ(ReadFileBytes(path), Crlf(after)) << label;
    }
    EXPECT_EQ(NamesIn(dir.path()), Names{"Ftp.ini"});
}

TEST_F(IniFile, DeleteDropsEveryOccurrenceWithItsLines) {
    const std::pair<std::string, std::string> cases[] = {
        {Crlf("[A]|x=1||[B]|y=2"), Crlf("[B]|y=2")},
        {Crlf("top|[A]|x=1|[B]|y=2|[A]|z=3|; c"), Crlf("top|[B]|y=2")},
        {"[B]\ny=2", "[B]\ny=2"}, // absent: nothing changes, nothing is written
        {Crlf("[A]|x=1"), ""},    // the only section: an empty file
    };
    for (const auto& [before, after] : cases) {
        WriteFileBytes(path, before);
        EXPECT_TRUE(oxlip::DeleteIniSection(path, "A")) << before;
        EXPECT_EQ(ReadFileBytes(path), after) << before;
    }
    EXPECT_FALSE(oxlip::DeleteIniSection(dir.file("missing.ini"), "A"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing.ini")));
}

TEST_F(IniFile, DocumentChangesSavedOnce) {
    // Changes to one document reach the disk in one save, with the line rules of single calls.
    WriteFileBytes(path, Crlf("[X]|k=1"));
    oxlip::IniDocument doc;
    ASSERT_EQ(doc.load(path), oxlip::IniDocument::LoadResult::Loaded);
    doc.deleteSection("X");
    doc.write("S", "K", "V");
    doc.write("S", "L", "two\r\nlines\rhere");
    doc.write("S", "M", "after");
    EXPECT_EQ(ReadFileBytes(path), Crlf("[X]|k=1"));
    ASSERT_TRUE(doc.save(path));
    EXPECT_EQ(ReadFileBytes(path), Crlf("|[S]|K=V|L=two|lines|here|M=after"));
}

TEST_F(IniFile, AtomicRewriteKeepsPermissionBitsAndLinks) {
    WriteFileBytes(path, Crlf("[A]|k=1"));
    ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
    ASSERT_TRUE(oxlip::WriteIniValue(path, "A", "k", "2"));
    EXPECT_EQ(ModeOf(path), 0604u);
    // A link keeps pointing at the rewritten file.
    ASSERT_EQ(::symlink("Ftp.ini", dir.file("link.ini").c_str()), 0);
    ASSERT_TRUE(oxlip::WriteIniValue(dir.file("link.ini"), "A", "k", "3"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.ini")));
    EXPECT_EQ(ReadFileBytes(path), Crlf("[A]|k=3"));
}

TEST_F(IniFile, AtomicRewriteOldFileStaysWholeWhenTheNewOneCannotBeWritten) {
    const std::string old = Crlf("[Oxlip]|User=" + std::string(2000, 'x'));
    WriteFileBytes(path, old);
    // A full disk: the new content outgrows what the process may write.
    const auto limited = [] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit rl{1024, 1024};
        return ::setrlimit(RLIMIT_FSIZE, &rl) == 0;
    };
    EXPECT_EQ(RunInChild(limited, [&] { return oxlip::WriteIniValue(path, "A", "k", "v"); }), 0);
    EXPECT_EQ(ReadFileBytes(path), old);
    EXPECT_EQ(NamesIn(dir.path()), Names{"Ftp.ini"});
    // No temporary file fits beside the longest name the folder allows (this stops root too).
    const std::string name(NAME_MAX - 4, 'n');
    WriteFileBytes(dir.file(name + ".ini"), old);
    EXPECT_FALSE(oxlip::DeleteIniSection(dir.file(name + ".ini"), "Oxlip"));
    EXPECT_EQ(ReadFileBytes(dir.file(name + ".ini")), old);
    EXPECT_EQ(NamesIn(dir.path()), (Names{"Ftp.ini", name + ".ini"}));
}

TEST_F(IniFile, EncodingFilesKeepTheirEncodingAndUnchangedFilesAreNotWritten) {
    const std::string cp932 = "[\x83\x65]\r\nk=1\n";         // [テ], one LF line end
    const std::string mixed = "[日本]\r\nUser=\x83\x65\r\n"; // one CP932 line in UTF-8
    const std::string neither = "[接続]\r\nUser=\xe5\xe5\x90\nm\xe0\x84\r\n"; // found by fuzzing
    // label, file before, section, key, value, file after, "<file>.bak" after ("": none)
    using Row = std::tuple<const char*, std::string, const char*, const char*, const char*,
                           std::string, std::string>;
    const Row cases[] = {
        {"unchanged CP932", cp932, "テ", "k", "1", cp932, ""},
        {"CP932 kept", cp932, "テ", "u", "日本", Crlf("[\x83\x65]|k=1|u=\x93\xfa\x96\x7b"), ""},
        {"beyond CP932", cp932, "テ", "u", "😀", Crlf("[テ]|k=1|u=😀"), cp932},
        // In CP932 these two characters are the bytes of a valid UTF-8 line.
        {"CP932 that reads back as UTF-8", cp932, "テ", "u", "ﾂ　", Crlf("[テ]|k=1|u=ﾂ　"), cp932},
        {"lines in neither", neither, "接続", "User", "x", Crlf("[接続]|User=x|m焙"), neither},
        {"mixed", mixed, "日本", "k", "v", Crlf("[日本]|User=テ|k=v"), mixed},
    };
    const std::string backup = path + ".bak";
    for (const auto& [label, before, section, key, value, after, saved] : cases) {
        std::filesystem::remove(backup);
        WriteFileBytes(path, before);
        EXPECT_TRUE(oxlip::WriteIniValue(path, section, key, value)) << label;
        EXPECT_EQ(ReadFileBytes(path), after) << label;
        EXPECT_EQ(ReadFileBytes(backup), saved) << label;
        EXPECT_EQ(oxlip::ReadIniValue(path, section, key, "-"), value) << label;
    }
    // A backup is only made once: a later conversion keeps the first one.
    WriteFileBytes(path, cp932);
    ASSERT_TRUE(oxlip::WriteIniValue(path, "テ", "u", "😀"));
    EXPECT_EQ(ReadFileBytes(backup), mixed);
}

} // namespace
