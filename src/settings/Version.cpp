#include "settings/Version.h"

namespace oxlip {

std::string VersionText(int major, int minor, int revision) {
    return std::to_string(major) + "." + std::to_string(minor) + std::to_string(revision);
}

std::string VersionText() {
    return VersionText(OXLIP_VERSION_MAJOR, OXLIP_VERSION_MINOR, OXLIP_VERSION_PATCH);
}

} // namespace oxlip
