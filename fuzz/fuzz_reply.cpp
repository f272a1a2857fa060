// Control-connection bytes in the reply parser. The first byte chooses the piece size; the
// replies must come out the same however the bytes are cut, and stay within their bounds.

#include "FuzzCheck.h"
#include "ftp/engine/Reply.h"

#include <utility>

using namespace oxlip::ftp;

namespace {

// The replies, and whether the parser failed, when the bytes come in pieces of that size.
std::pair<std::vector<Reply>, bool> Parse(const char* bytes, std::size_t size, std::size_t piece) {
    ReplyParser parser;
    std::vector<Reply> replies;
    for (std::size_t at = 0; at < size; at += piece) {
        parser.feed(bytes + at, std::min(piece, size - at));
        while (parser.hasReply()) {
            replies.push_back(parser.next());
        }
    }
    return {replies, parser.failed()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::size_t piece = 1 + data[0] % 64;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const auto [whole, failed] = Parse(bytes, size - 1, size);
    const auto [pieces, piecesFailed] = Parse(bytes, size - 1, piece);
    FUZZ_CHECK(failed == piecesFailed && whole.size() == pieces.size());
    for (std::size_t i = 0; i < whole.size(); ++i) {
        const Reply& r = whole[i];
        FUZZ_CHECK(r.code >= 100 && r.code <= 599);
        FUZZ_CHECK(!r.lines.empty() && r.lines.size() <= kMaxReplyLines);
        FUZZ_CHECK(r.code == pieces[i].code && r.lines == pieces[i].lines);
        // A reply of several lines opens with "123-" and ends at "123 " (or a bare "123").
        const std::string& first = r.lines.front();
        const std::string& last = r.lines.back();
        FUZZ_CHECK(ReplyCodeOf(first) == r.code && ReplyCodeOf(last) == r.code);
        FUZZ_CHECK(r.lines.size() == 1 ||
                   (first[3] == '-' && (last.size() == 3 || last[3] == ' ')));
        for (const std::string& line : r.lines) {
            FUZZ_CHECK(line.size() <= kMaxReplyLine);
            FUZZ_CHECK(line.find_first_of(std::string("\n\0", 2)) == std::string::npos);
        }
    }
    return 0;
}
