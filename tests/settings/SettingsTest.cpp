#include "settings/Settings.h"
#include "settings/IniFile.h"
#include "settings/TrustStore.h"
#include "settings/Version.h"
#include "support/TempDir.h"

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

using oxlip::Settings;
using namespace oxlip::test;
using Names = std::vector<std::string>;

namespace {

// File content from lines separated by '|', each ended by CR LF.
std::string Crlf(const std::string& lines) {
    return std::regex_replace(lines, std::regex("\\|"), "\r\n") + "\r\n";
}

unsigned ModeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Records what the settings do to the window; -1 marks a value never set.
struct FakeWindow : oxlip::WindowPlacement {
    float l = -1, t = -1, w = -1, h = -1;
    int state = -1;
    std::string calls;

    void setPlacement(float left, float top, float width, float height) override {
        l = left, t = top, w = width, h = height, calls += "place ";
    }
    void setSizeOnly(float width, float height) override {
        w = width, h = height, calls += "size ";
    }
    void setWindowState(int s) override { state = s, calls += "state "; }
    float left() const override { return l; }
    float top() const override { return t; }
    float width() const override { return w; }
    float height() const override { return h; }
    int windowState() const override { return state; }
    // The calls made, then "left,top widthxheight state".
    std::string shown() const {
        std::ostringstream out;
        out << calls << l << ',' << t << ' ' << w << 'x' << h << ' ' << state;
        return out.str();
    }
};

// The saves made at exit, in their order; true when all of them succeeded.
bool SaveAll(Settings& s, const FakeWindow& w) {
    const bool extensions = s.SaveAsciiExtensions();
    const bool profile = s.SaveProfile();
    return s.SaveAppSettings(&w) && extensions && profile;
}

const std::string kExtensions = "[Extension]|Extension0=CGI|Extension1=CSS|Extension2=HTM|"
                                "Extension3=HTML|Extension4=JAVA|Extension5=JS|Extension6=PL|"
                                "Extension7=SHTM|Extension8=SHTML|Extension9=TXT";
const std::string kDefaults = "0|0|1|0|60 port 21";

oxlip::ConnectionProfile SampleProfile() {
    // clang-format off
    return {"事務所 web", "ftp.example.jp", "山田", "パス語ｱ=x", "/public_html/",
            "/home/yamada/サイト/", 2, "/somewhere/else/", "/public_html/img/",
            oxlip::EncryptRequired, 2121, false, oxlip::NamesCp932, 30};
    // clang-format on
}

// Every field, then the connection options and the port they give.
std::string Fields(const oxlip::ConnectionProfile& p) {
    return p.ProfileName + "|" + p.Server + "|" + p.UserName + "|" + p.PassWord + "|" + p.Dir +
           "|" + p.LDir + "|" + std::to_string(p.TransMode) + "|" + p.LastPathLocal + "|" +
           p.LastPathHost + "|" + std::to_string(p.Encryption) + "|" + std::to_string(p.Port) +
           "|" + std::to_string(p.Passive) + "|" + std::to_string(p.NameEncoding) + "|" +
           std::to_string(p.KeepAlive) + " port " + std::to_string(oxlip::EffectivePort(p));
}

class SettingsFiles : public ::testing::Test {
protected:
    TempDir dir;
    Settings s{dir.path()};
    const std::string path = dir.file("Ftp.ini");
};
using IniFile = SettingsFiles;
using SettingsProfiles = SettingsFiles;
using SettingsCrashSafety = SettingsFiles;

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

TEST_F(SettingsFiles, FirstStartWithoutFilesThenTwoExits) {
    FakeWindow w;
    s.LoadAsciiExtensions();
    s.LoadAppSettings(&w);
    bool exists = true;
    EXPECT_TRUE(s.ProfileNames(&exists).empty() && !exists);

    // First exit, no profile named: [Extension] first, no User.ini, loading no name clears nothing.
    s.profile = SampleProfile();
    s.profile.ProfileName.clear();
    w.state = 0;
    EXPECT_TRUE(SaveAll(s, w));
    EXPECT_FALSE(std::filesystem::exists(s.userIniPath()));
    s.LoadProfile();
    EXPECT_EQ(s.profile.Server, "ftp.example.jp");
    EXPECT_EQ(ReadFileBytes(s.ftpIniPath()),
              Crlf(kExtensions + "|[Oxlip]|User=|Left=0|Top=0|Width=10620|Height=5790|"
                                 "WindowState=0|ListCache=True"));

    // Second exit: [Extension] has moved after [Oxlip]; numbers keep their sign and fraction.
    s.profile.ProfileName = "Office";
    w.setPlacement(1200, -15, 10620, 5790.5f);
    w.state = 2;
    s.ListCache = false;
    EXPECT_TRUE(SaveAll(s, w));
    EXPECT_EQ(ReadFileBytes(s.ftpIniPath()),
              Crlf("[Oxlip]|User=Office|Left=1200|Top=-15|Width=10620|Height=5790.5|"
                   "WindowState=2|ListCache=False|" +
                   kExtensions));
}

TEST_F(SettingsFiles, ExtensionListComesFromConsecutiveKeys) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"[Oxlip]|User=a", {}}, // no [Extension]: an emptied list
        {"[Extension]|Extension0=|Extension1=CSS", {}},
        {"[Extension]|Extension0=A|Extension2=C", {"A"}}, // a gap cuts
        {"[Extension]|Extension1=b|Extension0=a", {"a", "b"}},
    };
    for (const auto& [file, expected] : cases) {
        WriteFileBytes(s.ftpIniPath(), Crlf(file));
        s.LoadAsciiExtensions();
        EXPECT_EQ(s.AsciiExtensionList, expected) << file;
    }
    // An empty list saves as no section; an empty entry is left out.
    s.AsciiExtensionList.clear();
    EXPECT_TRUE(s.SaveAsciiExtensions());
    EXPECT_EQ(ReadFileBytes(s.ftpIniPath()), "");
    s.AsciiExtensionList = {"PHP", "", "XML"};
    EXPECT_TRUE(s.SaveAsciiExtensions());
    s.LoadAsciiExtensions();
    EXPECT_EQ(s.AsciiExtensionList, (std::vector<std::string>{"PHP", "XML"}));
}

TEST_F(SettingsFiles, WindowAndListCachingFromFtpIni) {
    // Minimised opens normal, maximised keeps the default restore size; list caching is off
    // only for "False" in any case or a number that is 0.
    const std::string placed = "Left=1200|Top=900|Width=9000|Height=4000|WindowState=";
    const std::pair<std::string, const char*> cases[] = {
        {placed + "0|ListCache=True", "place 1200,900 9000x4000 -1 cache"},
        {placed + "1|ListCache=False", "size state -1,-1 10620x5790 0 -"},
        {placed + "2|ListCache=false", "size state -1,-1 10620x5790 2 -"},
        {"WindowState=3|ListCache=0", "size state -1,-1 10620x5790 2 -"},
        {"Left=15|WindowState=258|ListCache=2.5", "place 15,0 10620x5790 -1 cache"},
        {"Left= 1.5 |Top=-30|Width=1e4|Height=+600|ListCache=", "place 1.5,-30 10000x600 -1 cache"},
        {"Left=abc|Top=|Width=12px|Height=nan", "place 0,0 10620x5790 -1 cache"},
        {"Width=-5|Height=1e99|ListCache=False", "place 0,0 10620x5790 -1 -"},
    };
    for (const auto& [lines, shown] : cases) {
        WriteFileBytes(s.ftpIniPath(), Crlf("[Oxlip]|" + lines));
        FakeWindow w;
        s.ListCache = std::string(shown).ends_with(" -"); // the opposite of what is expected
        s.LoadAppSettings(&w);
        EXPECT_EQ(w.shown() + (s.ListCache ? " cache" : " -"), shown) << lines;
    }
}

TEST_F(SettingsFiles, SavesReportFailureAndAnUnreadableListIsTheBuiltInOne) {
    ASSERT_TRUE(std::filesystem::create_directory(s.ftpIniPath()));
    ASSERT_TRUE(std::filesystem::create_directory(s.userIniPath()));
    s.AsciiExtensionList = {"X"};
    s.LoadAsciiExtensions();
    EXPECT_EQ(s.AsciiExtensionList, oxlip::DefaultAsciiExtensions());
    s.profile.ProfileName = "P";
    EXPECT_FALSE(s.SaveAsciiExtensions());
    EXPECT_FALSE(s.SaveAppSettings(nullptr));
    EXPECT_FALSE(s.SaveProfile());
}

TEST_F(SettingsProfiles, RoundTripInKeyOrderWithPrivateFile) {
    s.profile = SampleProfile();
    ASSERT_TRUE(s.SaveProfile());
    EXPECT_EQ(ModeOf(s.userIniPath()), 0600u);
    const std::string pw = oxlip::ReadIniValue(s.userIniPath(), "事務所 web", "PassWord", "");
    EXPECT_EQ(ReadFileBytes(s.userIniPath()),
              Crlf("[事務所 web]|Server=ftp.example.jp|UserName=山田|PassWord=" + pw +
                   "|Dir=/public_html/|LDir=/home/yamada/サイト/|TransMode=2|"
                   "LastPathLocal=/home/yamada/サイト/|LastPathHost=/public_html/img/|"
                   "Encryption=1|Port=2121|Passive=False|NameEncoding=2|KeepAlive=30"));

    Settings t(dir.path());
    t.profile.ProfileName = "事務所 web";
    t.LoadProfile();
    oxlip::ConnectionProfile expected = SampleProfile();
    expected.LastPathLocal = expected.LDir;
    EXPECT_EQ(Fields(t.profile), Fields(expected));

    // A file readable by others is made private by the next save, changed or not.
    for (const int mode : {2, -1}) {
        ASSERT_EQ(::chmod(s.userIniPath().c_str(), 0644), 0);
        t.profile.TransMode = mode;
        ASSERT_TRUE(t.SaveProfile());
        EXPECT_EQ(ModeOf(s.userIniPath()), 0600u) << mode;
    }
}

TEST_F(SettingsProfiles, KeysReadWithDefaults) {
    // Every key is read anew: a profile loaded over another keeps nothing of it.
    const std::tuple<const char*, int, std::string> cases[] = {
        {"", 0, kDefaults},
        {"|TransMode=-1|Encryption=2", -1, "2|0|1|0|60 port 990"},
        {"|TransMode=2|Encryption=2|Port=2990", 2, "2|2990|1|0|60 port 2990"},
        {"|TransMode=3|Encryption=3|Port=21|Passive=False", 0, "3|21|0|0|60 port 21"},
        {"|TransMode=-2|Encryption=1|Passive=0|NameEncoding=3|KeepAlive=0", 0, "1|0|0|3|0 port 21"},
        {"|TransMode=1.0|Passive=true|NameEncoding=1|KeepAlive=86400|Port=65535", 0,
         "0|65535|1|1|86400 port 65535"},
        {"|TransMode=x|Encryption=4|Port=65536|NameEncoding=-1|KeepAlive=86401", 0, kDefaults},
        {"|Encryption=x|Port=0|Passive=maybe|NameEncoding=1.0|KeepAlive=-5", 0, kDefaults},
        {"|Encryption=|Port=|Passive=|NameEncoding=|KeepAlive=", 0, kDefaults},
    };
    for (const auto& [keys, mode, options] : cases) {
        WriteFileBytes(s.userIniPath(), Crlf(std::string("[P]|Server=h") + keys));
        s.profile = SampleProfile();
        s.profile.ProfileName = "P";
        s.LoadProfile();
        EXPECT_EQ(Fields(s.profile), "P|h|||||" + std::to_string(mode) + "|||" + options) << keys;
    }
}

TEST_F(SettingsProfiles, ConnectionOptionsWrittenWhenSetOrAlreadyThere) {
    const std::string before = Crlf("[P]|Server=h|UserName=|PassWord=|Dir=/|LDir=|TransMode=0|"
                                    "LastPathLocal=|LastPathHost=");
    WriteFileBytes(s.userIniPath(), before);
    s.profile.ProfileName = "P";
    s.LoadProfile();
    ASSERT_TRUE(s.SaveProfile()); // a profile from before the options stays as it was
    EXPECT_EQ(ReadFileBytes(s.userIniPath()), before);
    s.profile.Encryption = oxlip::EncryptImplicit;
    s.profile.KeepAlive = 0;
    ASSERT_TRUE(s.SaveProfile());
    EXPECT_EQ(ReadFileBytes(s.userIniPath()), before + Crlf("Encryption=2|KeepAlive=0"));
    // Back to the defaults: the keys there keep their lines, with the default values.
    s.profile = oxlip::ConnectionProfile{"P", "h", "", "", "/", "", 0, "", ""};
    ASSERT_TRUE(s.SaveProfile());
    EXPECT_EQ(ReadFileBytes(s.userIniPath()), before + Crlf("Encryption=0|KeepAlive=60"));
}

TEST_F(SettingsProfiles, Cp932UserIniRewrittenWithOnlyTheChange) {
    // [テスト] in CP932, its password (ｱｲ) scrambled as CP932 bytes.
    const std::string head = "[\x83\x65\x83\x58\x83\x67]\r\nServer=b\r\nUserName=\x83\x65\r\n"
                             "PassWord=177123178456\r\nDir=";
    const std::string tail = "/\r\nLDir=\r\nTransMode=1\r\nLastPathLocal=\r\nLastPathHost=\r\n";
    WriteFileBytes(s.userIniPath(), head + tail);
    s.profile.ProfileName = "テスト";
    s.LoadProfile();
    // A change goes in CP932 (公開), the rest (the password too) as it was.
    s.profile.Dir = "/公開/";
    ASSERT_TRUE(s.SaveProfile());
    EXPECT_EQ(ReadFileBytes(s.userIniPath()), head + "/\x8c\xf6\x8a\x4a" + tail);
}

TEST(Passwords, ScrambledFormHasCodesAndFillerAndUnscrambleRejectsBadPieces) {
    const std::string a = oxlip::ScramblePassword("abc");
    ASSERT_EQ(a.size(), 18u);
    EXPECT_EQ(a.substr(0, 3) + a.substr(6, 3) + a.substr(12, 3), "097098099");
    EXPECT_EQ(oxlip::ScramblePassword(""), "");
    EXPECT_EQ(oxlip::ScramblePassword("\x7f\xc3\xa9").substr(0, 9).erase(3, 3), "127195");
    EXPECT_NE(oxlip::ScramblePassword("abc"), a); // the filler differs from save to save
    EXPECT_EQ(oxlip::UnscramblePassword(oxlip::ScramblePassword("パスワード")), "パスワード");
    using namespace std::string_literals;
    // Short last groups are read; no byte or a lone CP932 lead byte gives nothing.
    // clang-format off
    const std::pair<const char*, std::string> cases[] = {
        {"", ""}, {"097x.1098-e5099", "abc"}, {"097abc65", "aA"}, {"097abc0", "a\0"s},
        {"097abc0980", "ab"}, {"0a7abc", ""}, {"097abc256abc", ""}, {"-97abc", ""}, {" 97abc", ""},
        {"130abc", ""}, {"177abc178abc", "ｱｲ"}, {"227abc129abc130abc", "あ"}};
    // clang-format on
    for (const auto& [stored, expected] : cases) {
        EXPECT_EQ(oxlip::UnscramblePassword(stored), expected) << stored;
    }
}

TEST(SettingsFolder, PortableFolderOrXdgConfig) {
    const ScopedEnv xdg("XDG_CONFIG_HOME");
    const ScopedEnv home("HOME");
    TempDir program;
    TempDir config;
    ::setenv("XDG_CONFIG_HOME", (config.path() + "/deep/cfg").c_str(), 1);
    const std::string xdgFolder = config.path() + "/deep/cfg/oxlip";
    EXPECT_EQ(oxlip::ChooseSettingsFolder(program.path()), xdgFolder);
    EXPECT_TRUE(std::filesystem::is_directory(xdgFolder));
    WriteFileBytes(program.file("User.ini"), "[A]\r\n");
    EXPECT_EQ(oxlip::ChooseSettingsFolder(program.path()), program.path());
    // A relative XDG_CONFIG_HOME does not count; HOME/.config is used.
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    ::setenv("HOME", config.path().c_str(), 1);
    EXPECT_EQ(oxlip::ChooseSettingsFolder(config.file("none")), config.path() + "/.config/oxlip");
}

// One of two settings states differing in every file (no password: its scrambled form varies).
void Apply(Settings& s, FakeWindow& w, bool second) {
    s.profile.ProfileName = "仕事";
    s.profile.Server = second ? "ftp.example.jp" : "192.0.2.7";
    s.AsciiExtensionList = {"CGI", second ? "PHP" : "CSS"};
    s.ListCache = second;
    w.setPlacement(second ? 4500 : 15, 300, 10620, 5790);
}

TEST_F(SettingsCrashSafety, KilledSavesLeaveOldOrNewFiles) {
    // Every content either file can have after a save.
    FakeWindow w;
    std::set<std::string> contents;
    const auto record = [&] {
        contents.insert(ReadFileBytes(s.ftpIniPath()));
        contents.insert(ReadFileBytes(s.userIniPath()));
    };
    for (int i = 0; i < 6; ++i) {
        Apply(s, w, i % 2 == 1);
        for (const auto& save : {&Settings::SaveAsciiExtensions, &Settings::SaveProfile}) {
            ASSERT_TRUE((s.*save)());
            record();
        }
        ASSERT_TRUE(s.SaveAppSettings(&w));
        record();
    }

    const unsigned seed = std::random_device{}();
    std::mt19937 rng(seed);
    const auto start = std::chrono::steady_clock::now();
    int iterations = 0;
    int killedMidWrite = 0;
    // Until enough kills have landed inside a file replacement, bounded in count and time.
    for (; iterations < 400 && killedMidWrite < 50 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(20);
         ++iterations) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0); // never kill(-1)
        if (pid == 0) {
            for (int i = 0; i < 20000; ++i) { // saves until killed; the count bounds a lost child
                Apply(s, w, i % 2 == 0);
                SaveAll(s, w);
            }
            ::_exit(0);
        }
        ::usleep(useconds_t(rng() % 4000));
        ::kill(pid, SIGKILL);
        ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
        for (const std::string& file : {s.ftpIniPath(), s.userIniPath()}) {
            ASSERT_TRUE(contents.count(ReadFileBytes(file))) << seed << " " << ReadFileBytes(file);
        }
        // A temporary file left behind: the kill landed inside a save; cleared to count the next.
        for (const std::string& name : NamesIn(dir.path())) {
            const bool temporary = name != "Ftp.ini" && name != "User.ini";
            killedMidWrite += temporary && std::filesystem::remove(dir.file(name));
        }
    }
    // Only a kill between the temporary file's creation and its rename tests anything.
    EXPECT_GE(killedMidWrite, 10) << "seed " << seed << ", " << iterations << " kills";
}

TEST(TrustStore, KeepsOneFingerprintPerServerInAPrivateFile) {
    TempDir dir;
    const std::string path = dir.file(oxlip::kTrustFileName);
    // A file edited by hand: odd lines are skipped and left out of the next rewrite.
    WriteFileBytes(path, "a:21 AA:BB\n\ngarbage\nb:990 CC:DD extra\n[::1]:21 EE:FF\n");
    ::chmod(path.c_str(), 0644);
    oxlip::TrustStore store(path);
    EXPECT_EQ(store.find("a:21"), "AA:BB");
    EXPECT_EQ(store.find("[::1]:21"), "EE:FF");
    EXPECT_FALSE(store.find("b:990"));
    ASSERT_TRUE(store.trust("a:21", "11:22"));
    ASSERT_TRUE(store.trust("c:2121", "33:44"));
    ASSERT_TRUE(store.forget("[::1]:21"));
    EXPECT_EQ(ModeOf(path), 0600u);
    // Nothing that could break the line format is stored.
    for (const char* bad : {"", "x y", "x\nz"}) {
        EXPECT_FALSE(store.trust(bad, "55:66")) << bad;
        EXPECT_FALSE(store.trust("d:21", bad)) << bad;
    }
    EXPECT_EQ(ReadFileBytes(path), "a:21 11:22\nc:2121 33:44\n");
    EXPECT_FALSE(oxlip::TrustStore(dir.file("missing/trust")).trust("e:21", "77:88"));
}

TEST(Version, MinorAndRevisionWrittenTogetherAndAnsweredToAFirstArgument) {
    EXPECT_EQ(oxlip::VersionText(1, 2, 15), "1.215");
    EXPECT_EQ(oxlip::VersionText(), "1.01");
    EXPECT_EQ(oxlip::PackageVersion(), "1.0.1");
    // Only a first help or version argument is answered.
    const std::pair<std::vector<std::string>, std::optional<std::string>> rows[] = {
        {{"--version", "ls"}, "tool 1.0.1\n"},
        {{"--help"}, "HELP"},
        {{}, std::nullopt},
        {{"-v"}, std::nullopt},
        {{"ftp://h/", "get", "--version", "x"}, std::nullopt}, // a file named --version
    };
    for (const auto& [args, printed] : rows) {
        EXPECT_EQ(oxlip::InfoOptionText(args, "tool", "HELP"), printed)
            << ::testing::PrintToString(args);
    }
}

} // namespace
