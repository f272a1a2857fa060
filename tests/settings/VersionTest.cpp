#include "settings/Version.h"

#include <gtest/gtest.h>

TEST(Version, MinorAndRevisionAreWrittenTogether) {
    EXPECT_EQ(oxlip::VersionText(1, 2, 15), "1.215");
    EXPECT_EQ(oxlip::VersionText(), "1.01");
    EXPECT_EQ(oxlip::PackageVersion(), "1.0.1");
}

TEST(Version, OnlyAFirstHelpOrVersionArgumentIsAnswered) {
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
