#include "settings/Version.h"

#include <gtest/gtest.h>

TEST(Version, MinorAndRevisionAreWrittenTogether) {
    EXPECT_EQ(oxlip::VersionText(1, 0, 1), "1.01");
    EXPECT_EQ(oxlip::VersionText(1, 2, 15), "1.215");
    EXPECT_EQ(oxlip::VersionText(), "1.01");
    EXPECT_EQ(oxlip::PackageVersion(), "1.0.1");
}

TEST(Version, OnlyAFirstHelpOrVersionArgumentIsAnswered) {
    const struct {
        std::vector<std::string> args;
        std::optional<std::string> printed;
    } rows[] = {
        {{"--version"}, "tool 1.0.1\n"},
        {{"--version", "ls"}, "tool 1.0.1\n"},
        {{"--help"}, "HELP"},
        {{}, std::nullopt},
        {{"-v"}, std::nullopt},
        {{"ftp://h/", "get", "--version", "x"}, std::nullopt}, // a file named --version
    };
    for (const auto& row : rows) {
        EXPECT_EQ(oxlip::InfoOptionText(row.args, "tool", "HELP"), row.printed)
            << ::testing::PrintToString(row.args);
    }
}
