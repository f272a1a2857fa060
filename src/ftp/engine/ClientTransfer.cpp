#include "ftp/engine/AsciiMode.h"
#include "ftp/engine/ClientImpl.h"
#include "ftp/engine/ReplyText.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

namespace oxlip::ftp {

bool FtpClient::Impl::ensureType(char wanted) {
    if (type == wanted) {
        return true;
    }
    if (!commandOk(wanted == 'A' ? "TYPE A" : "TYPE I")) {
        return false;
    }
    type = wanted;
    return true;
}

std::optional<uint64_t> FtpClient::Impl::askSize(const std::string& wire) {
    if (!ensureType('I')) {
        return std::nullopt;
    }
    Reply reply;
    if (command("SIZE " + wire, &reply) != 213) {
        return std::nullopt;
    }
    const std::string& text = reply.lines.front();
    const std::string digits = text.size() > 4 ? text.substr(4) : "";
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(digits.c_str(), &end, 10);
    if (errno != 0 || end == digits.c_str()) {
        return std::nullopt;
    }
    return value;
}

bool FtpClient::retrieve(const std::string& path, bool ascii, int fd, const BlockCallback& onBlock,
                         std::optional<uint64_t> listedSize, uint64_t restartAt) {
    OXLIP_ENTER();
    if (!IsSafeForCommand(path) || fd < 0 || (ascii && restartAt > 0)) {
        return false;
    }
    std::string wire = d->toWire(path);
    if (!d->ensureType(ascii ? 'A' : 'I')) {
        return false;
    }
    // In binary mode the size the server gives is checked against what arrives.
    const bool checked = !ascii && d->caps.features.count("SIZE");
    std::optional<uint64_t> expected;
    if (checked) {
        expected = d->sizeJustFound(wire);
    }
    const bool fromListing = checked && !expected && listedSize;
    if (fromListing) {
        expected = listedSize;
    }
    if (checked && !expected) {
        expected = d->askSize(wire);
        if (!d->usable()) {
            return false;
        }
    }
    if (restartAt > 0) {
        d->restBefore = "REST " + std::to_string(restartAt);
    }
    uint64_t received = restartAt; // the file's bytes, those kept before included
    AsciiDecoder decoder;
    auto writeAll = [fd](const char* data, std::size_t size) {
        while (size > 0) {
            ssize_t n = ::write(fd, data, size);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            data += n;
            size -= std::size_t(n);
        }
        return true;
    };
    Impl::Sink sink = [&](char* data, std::size_t size) {
        received += size;
        std::size_t n = size;
        if (ascii) {
            bool carryCr = false;
            n = decoder.decode(data, size, carryCr);
            if (carryCr && !writeAll("\r", 1)) {
                return false;
            }
        }
        if (!writeAll(data, n)) {
            return false;
        }
        if (onBlock) {
            onBlock(size);
        }
        return true;
    };
    // Large binary files go from the socket to the file without passing through here.
    const bool spliced = !ascii && (!expected || *expected >= kSpliceFromBytes) && SplicesTo(fd);
    bool ok = d->transfer(
        "RETR " + wire,
        [&](Stream& data, bool& haveFinal, Reply& final) {
            if (spliced) {
                bool fellBack = false;
                bool moved = d->receiveSpliced(
                    data, fd,
                    [&](std::size_t size) {
                        received += size;
                        if (onBlock) {
                            onBlock(size);
                        }
                    },
                    haveFinal, final, fellBack);
                if (!fellBack) {
                    return moved;
                }
            }
            return d->receiveData(data, sink, haveFinal, final);
        },
        Impl::DataFlow::Incoming);
    // The data ended normally with the size the server gave, and only the final reply is
    // missing (the control connection went, as a router may drop it during a long transfer):
    // the file is whole and kept.
    if (!ok && d->dataComplete && d->answered && !ascii && expected && received == *expected &&
        !d->pumper.cancelRequested() && d->lostFlag) {
        Tell(d->ports, LogKind::FinalReplyLost, path);
        ok = true;
    }
    if (ok && ascii && decoder.finish()) {
        ok = writeAll("\r", 1); // a CR at the very end stays
    }
    if (ok && expected && received != *expected) {
        // A listing can be older than the file: what the server says now decides.
        const std::optional<uint64_t> now = fromListing ? d->askSize(wire) : std::nullopt;
        if (!now || *now != received) {
            d->failText("the file arrived incomplete");
            return false;
        }
    }
    return ok;
}

bool FtpClient::store(const std::string& path, bool ascii, int fd, const BlockCallback& onBlock,
                      bool append) {
    OXLIP_ENTER();
    if (!IsSafeForCommand(path) || fd < 0) {
        return false;
    }
    if (!d->ensureType(ascii ? 'A' : 'I')) {
        return false;
    }
    AsciiEncoder encoder;
    if (!d->block) {
        d->block.reset(new char[kBlockBytes]);
    }
    if (ascii && !d->wide) {
        d->wide.reset(new char[2 * kBlockBytes]);
    }
    char* buffer = d->block.get();
    Impl::Source source = [&](Impl::Chunk& chunk) {
        ssize_t n;
        do {
            n = ::read(fd, buffer, kBlockBytes);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            d->failText("the local file could not be read");
            return false;
        }
        chunk.data = buffer;
        chunk.size = std::size_t(n);
        if (n > 0 && ascii) {
            chunk.data = d->wide.get();
            chunk.size = encoder.encode(buffer, std::size_t(n), d->wide.get());
        }
        chunk.sent = [&onBlock, n] {
            if (onBlock) {
                onBlock(std::size_t(n));
            }
        };
        return true;
    };
    // Uploads are read into a buffer and sent from there (see kBlockBytes).
    return d->transfer((append ? "APPE " : "STOR ") + d->toWire(path),
                       [&](Stream& data, bool& haveFinal, Reply& final) {
                           return d->sendData(data, source, haveFinal, final);
                       },
                       Impl::DataFlow::Outgoing);
}

} // namespace oxlip::ftp
