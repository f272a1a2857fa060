#pragma once
// What the engine reads out of reply texts, and the one rule for what may go into a command.
// Pure functions: no I/O, no state.

#include "localfs/DirEntry.h"

#include <cstdint>
#include <optional>
#include <string>

namespace oxlip::ftp {

// True when the text may go into a command line: no CR, LF or NUL. Every name, path, user
// name, password and raw command passes this before a byte is sent.
bool IsSafeForCommand(const std::string& text);

// ASCII letters in upper case (keywords and facts compare without case).
std::string UpperAscii(std::string text);

// The port of a 229 reply: "(|||port|)" with any printable delimiter that is no digit.
// 0 when malformed.
uint16_t ParseEpsvPort(const std::string& text);
// The port of a 227 reply: six numbers "h1,h2,h3,h4,p1,p2" anywhere in the text (the address
// is not used). 0 when malformed.
uint16_t ParsePasvPort(const std::string& text);
// The folder of a 257 reply (PWD, MKD): the text between the first quote and its closing
// quote, with doubled quotes standing for one.
std::optional<std::string> ParseQuotedPath(const std::string& text);
// The time of a 213 reply to MDTM without its code: "YYYYMMDDHHMMSS[.sss]" (UTC), leading
// blanks allowed.
std::optional<FileTime> ParseMdtm(const std::string& text);

// One inner line of a 211 reply to FEAT: " KEYWORD [parameters]".
struct FeatLine {
    std::string keyword; // upper case
    std::string params;  // as sent; empty when there are none
};
// Nothing for a blank line or one that starts with a reply code (no feature).
std::optional<FeatLine> ParseFeatLine(const std::string& line);

} // namespace oxlip::ftp
