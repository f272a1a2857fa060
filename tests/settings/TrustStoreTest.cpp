// The file of pinned FTPS certificates.

#include "settings/TrustStore.h"
#include "SettingsTestSupport.h"
#include "support/TempDir.h"

namespace oxlip {
namespace {

using namespace test;

TEST(TrustStore, KeepsOneFingerprintPerServerInAPrivateFile) {
    TempDir dir;
    const std::string path = dir.file(kTrustFileName);
    // A file edited by hand: odd lines are skipped and left out of the next rewrite.
    WriteFileBytes(path, "a:21 AA:BB\n\ngarbage\nb:990 CC:DD extra\n[::1]:21 EE:FF\n");
    ::chmod(path.c_str(), 0644);
    TrustStore store(path);
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
    EXPECT_FALSE(TrustStore(dir.file("missing/trust")).trust("e:21", "77:88"));
}

} // namespace
} // namespace oxlip
