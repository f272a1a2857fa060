#pragma once

#include <optional>
#include <string>
#include <vector>

namespace oxlip {

// The version as shown to users: major "." then minor and revision written together
// (1.0.1 gives "1.01", 1.2.15 gives "1.215").
std::string VersionText(int major, int minor, int revision);
std::string VersionText(); // this build's version

// This build's version as packages and "--version" give it: "1.0.1".
std::string PackageVersion();

// What a program prints when its first argument is "--version" ("PROGRAM 1.0.1\n") or "--help"
// (the given help text); nothing for any other arguments.
std::optional<std::string> InfoOptionText(const std::vector<std::string>& args,
                                          const std::string& program, const std::string& help);

} // namespace oxlip
