#pragma once
// The INI engine of the settings files. Stateless: every call reads the whole file; a change
// rewrites it through a temporary file in the same folder renamed over the old one, so a
// failed write never leaves a truncated file. Byte-transparent; writes CR LF, reads CR,
// CR LF and LF line ends.

#include <string>
#include <vector>

namespace oxlip {

// 0 when the line begins with the prefix; otherwise -1 or 1 as the head of the line sorts
// before or after the prefix (ordinal comparison).
int ComparePrefix(const std::string& line, const std::string& prefix);

std::string ReadIniValue(const std::string& path, const std::string& section,
                         const std::string& key, const std::string& defaultValue);

// True when the file was written; false when it could not be (the old file stays whole).
bool WriteIniValue(const std::string& path, const std::string& section, const std::string& key,
                   const std::string& value);

// True when the file existed and was rewritten without the section; false when it is missing
// (nothing is created) or could not be rewritten (the old file stays whole).
bool DeleteIniSection(const std::string& path, const std::string& section);

// Section names in file order, duplicates kept (lines "[...]"), as UTF-8.
std::vector<std::string> ListIniSections(const std::string& path);

} // namespace oxlip
