#include "ftp/engine/Reply.h"

namespace oxlip::ftp {

std::string Reply::text() const {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            out += '\n';
        }
        out += lines[i];
    }
    return out;
}

namespace {

std::size_t BytesOf(const Reply& reply) {
    std::size_t bytes = 0;
    for (const std::string& line : reply.lines) {
        bytes += line.size();
    }
    return bytes;
}

} // namespace

int ReplyCodeOf(const std::string& line) {
    if (line.size() < 3) {
        return 0;
    }
    for (int i = 0; i < 3; ++i) {
        if (line[i] < '0' || line[i] > '9') {
            return 0;
        }
    }
    if (line[0] < '1' || line[0] > '5') {
        return 0;
    }
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

void ReplyParser::reset() {
    line_.clear();
    lineCut_ = false;
    current_ = Reply{};
    inMultiLine_ = false;
    ready_.clear();
    heldBytes_ = 0;
    failed_ = false;
    error_.clear();
}

void ReplyParser::fail(const std::string& why) {
    failed_ = true;
    error_ = why;
    line_.clear();
    heldBytes_ -= BytesOf(current_);
    current_ = Reply{};
    inMultiLine_ = false;
}

Reply ReplyParser::next() {
    Reply r = std::move(ready_.front());
    ready_.pop_front();
    heldBytes_ -= BytesOf(r);
    return r;
}

void ReplyParser::feed(const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size && !failed_; ++i) {
        char c = data[i];
        if (c == '\n') {
            if (!line_.empty() && line_.back() == '\r') {
                line_.pop_back();
            }
            std::string line;
            line.swap(line_);
            lineCut_ = false;
            takeLine(std::move(line));
            continue;
        }
        if (lineCut_) {
            continue;
        }
        if (line_.size() >= kMaxReplyLine) {
            lineCut_ = true; // keep the start of the line, drop the rest up to its end
            continue;
        }
        line_ += c == '\0' ? '?' : c;
    }
}

void ReplyParser::takeLine(std::string line) {
    if (heldBytes_ + line.size() > kMaxReplyBytes) {
        fail("reply too large");
        return;
    }
    if (inMultiLine_) {
        bool last = ReplyCodeOf(line) == current_.code && (line.size() == 3 || line[3] == ' ');
        if (current_.lines.size() >= kMaxReplyLines) {
            fail("reply of too many lines");
            return;
        }
        heldBytes_ += line.size();
        current_.lines.push_back(std::move(line));
        if (last) {
            inMultiLine_ = false;
            ready_.push_back(std::move(current_));
            current_ = Reply{};
        }
        return;
    }
    if (line.empty()) {
        return; // a stray blank line between replies
    }
    int code = ReplyCodeOf(line);
    if (code == 0 || (line.size() > 3 && line[3] != ' ' && line[3] != '-')) {
        fail("not a reply line");
        return;
    }
    Reply reply;
    reply.code = code;
    heldBytes_ += line.size();
    bool multi = line.size() > 3 && line[3] == '-';
    reply.lines.push_back(std::move(line));
    if (multi) {
        current_ = std::move(reply);
        inMultiLine_ = true;
    } else {
        ready_.push_back(std::move(reply));
    }
}

} // namespace oxlip::ftp
