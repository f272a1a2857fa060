// Reply texts in the parsers of what replies say (passive ports, quoted paths, MDTM times,
// FEAT lines) and in the rule for what is safe to send. Whatever they get, their results must
// be what the text says.

#include "FuzzCheck.h"
#include "ftp/engine/Capabilities.h"
#include "ftp/engine/Reply.h"
#include "ftp/engine/ReplyText.h"

#include <algorithm>

using namespace oxlip::ftp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    FUZZ_CHECK(IsSafeForCommand(text) ==
               (text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos));

    // A port is a number the text shows: after the delimiters of EPSV, of six numbers for PASV.
    if (const uint16_t port = ParseEpsvPort(text)) {
        FUZZ_CHECK(text.find(std::to_string(port) + text[text.find('(') + 1] + ")") !=
                   std::string::npos);
    }
    FUZZ_CHECK(ParsePasvPort(text) == 0 || std::count(text.begin(), text.end(), ',') >= 5);

    // A quoted path quoted again is in the text.
    if (const auto path = ParseQuotedPath(text)) {
        std::string quoted = "\"";
        for (char c : *path) {
            quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        }
        FUZZ_CHECK(text.find(quoted + "\"") != std::string::npos);
    }

    // A time stays the same with more blanks in front.
    const auto time = ParseMdtm(text);
    const auto blanked = ParseMdtm(" " + text);
    FUZZ_CHECK(bool(time) == bool(blanked) && (!time || time->ticks == blanked->ticks));

    if (const auto feat = ParseFeatLine(text)) {
        FUZZ_CHECK(!feat->keyword.empty() &&
                   feat->keyword.find_first_of(" abcdefghijklmnopqrstuvwxyz") == std::string::npos);
    }

    // The text as the inner lines of a FEAT reply: the facts asked for are known ones.
    ReplyParser parser;
    std::string body = text;
    std::replace(body.begin(), body.end(), '\n', ' ');
    std::replace(body.begin(), body.end(), '\r', ' ');
    parser.feed("211-Features:\r\n " + body + "\r\n211 End\r\n");
    if (parser.hasReply()) {
        ServerCapabilities caps;
        caps.readFeat(parser.next());
        FUZZ_CHECK(caps.mlstFactsWanted().size() <=
                   std::string("type;size;modify;unix.mode;").size());
    }
    return 0;
}
