#pragma once

#include <string>

namespace oxlip {

// The version as shown to users: major "." then minor and revision written together
// (1.0.1 gives "1.01", 1.2.15 gives "1.215").
std::string VersionText(int major, int minor, int revision);
std::string VersionText(); // this build's version

} // namespace oxlip
