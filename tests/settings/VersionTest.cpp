#include "settings/Version.h"

#include <gtest/gtest.h>

TEST(Version, MinorAndRevisionAreWrittenTogether) {
    EXPECT_EQ(oxlip::VersionText(1, 0, 1), "1.01");
    EXPECT_EQ(oxlip::VersionText(1, 2, 15), "1.215");
    EXPECT_EQ(oxlip::VersionText(), "1.01");
}
