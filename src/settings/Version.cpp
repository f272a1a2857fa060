#include "settings/Version.h"

namespace oxlip {

std::string VersionText(int major, int minor, int revision) {
    return std::to_string(major) + "." + std::to_string(minor) + std::to_string(revision);
}

std::string VersionText() {
    return VersionText(OXLIP_VERSION_MAJOR, OXLIP_VERSION_MINOR, OXLIP_VERSION_PATCH);
}

std::string PackageVersion() {
    return std::to_string(OXLIP_VERSION_MAJOR) + "." + std::to_string(OXLIP_VERSION_MINOR) + "." +
           std::to_string(OXLIP_VERSION_PATCH);
}

std::optional<std::string> InfoOptionText(const std::vector<std::string>& args,
                                          const std::string& program, const std::string& help) {
    if (args.empty()) {
        return std::nullopt;
    }
    if (args[0] == "--version") {
        return program + " " + PackageVersion() + "\n";
    }
    if (args[0] == "--help") {
        return help;
    }
    return std::nullopt;
}

} // namespace oxlip
