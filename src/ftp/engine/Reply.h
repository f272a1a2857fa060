#pragma once
// Incremental parser of FTP control replies (RFC 959). Bytes go in as they arrive; complete
// replies come out. No I/O here.
//
// A reply is one line "123 text", or a multi-line reply that starts with "123-" and ends at
// the first line that starts with the same code followed by a blank. Inner lines that start
// with other codes, or with the same code and no blank, belong to the reply.

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace oxlip::ftp {

constexpr std::size_t kMaxReplyLine = 64 * 1024; // longer lines are cut at this length
constexpr std::size_t kMaxReplyLines = 10000;    // a longer reply is a protocol error
// The bytes of the lines the parser holds at once (the reply being received and those not yet
// taken); more is a protocol error, so one reply never takes more memory than this.
constexpr std::size_t kMaxReplyBytes = 4 * 1024 * 1024;

struct Reply {
    int code = 0;                   // 100..599
    std::vector<std::string> lines; // every line without its line end, NULs replaced by '?'

    bool preliminary() const { return code >= 100 && code < 200; }
    bool positive() const { return code >= 200 && code < 400; }
    // The lines joined with "\n".
    std::string text() const;
};

class ReplyParser {
public:
    // Adds received bytes. Complete replies become available through next().
    void feed(const char* data, std::size_t size);
    void feed(const std::string& bytes) { feed(bytes.data(), bytes.size()); }

    bool hasReply() const { return !ready_.empty(); }
    // Takes the oldest complete reply; hasReply() must be true.
    Reply next();

    // The byte stream broke the protocol (a line that is no reply, a reply of too many lines
    // or bytes). Nothing more is parsed after that.
    bool failed() const { return failed_; }
    const std::string& error() const { return error_; }

    void reset();

private:
    void takeLine(std::string line);
    void fail(const std::string& why);

    std::string line_;          // the line being received
    bool lineCut_ = false;      // the rest of the current line is being dropped
    Reply current_;             // the multi-line reply being received
    bool inMultiLine_ = false;  // current_ waits for its last line
    std::deque<Reply> ready_;   // complete replies
    std::size_t heldBytes_ = 0; // the bytes of the lines in current_ and ready_
    bool failed_ = false;
    std::string error_;
};

// The three-digit code at the start of a line, or 0 when it holds none.
int ReplyCodeOf(const std::string& line);

} // namespace oxlip::ftp
