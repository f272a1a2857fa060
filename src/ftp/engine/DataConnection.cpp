#include "ftp/engine/ClientImpl.h"
#include "ftp/engine/ReplyText.h"

#include <algorithm>
#include <cstdio>
#include <poll.h>
#include <sys/socket.h>
#include <utility>

namespace oxlip::ftp {

bool FtpClient::Impl::secureData(Stream& data) {
    if (!caps.tls.data) {
        return true;
    }
    std::string error;
    auto layer = TlsLayer::Handshake(*tlsContext, data, tlsHost, true, replyMs, error);
    if (layer && layer->fingerprint() != control.tls()->fingerprint()) {
        error = "the data connection showed another certificate";
        layer.reset();
    }
    if (!layer) {
        failText(error);
        return false;
    }
    data.attachTls(std::move(layer));
    return true;
}

bool FtpClient::Impl::openData(Stream& data, Stream& listener) {
    if (options.data == DataMode::Active) {
        return listenData(listener);
    }
    // Whatever address the server named, the data connection goes to the peer of the
    // control connection only.
    const auto connectTo = [&](uint16_t port) {
        SocketAddress address = control.peer();
        address.setPort(port);
        return data.connect(address, connectMs) == IoResult::Ok;
    };
    if (aheadSent && !takeAhead()) {
        return false;
    }
    if (const uint16_t port = std::exchange(aheadPort, 0); port != 0) {
        if (connectTo(port)) {
            return true;
        }
        data.close(); // gone meanwhile: asked for again
    }
    if (!caps.epsvRefused) {
        Reply reply;
        const int code = command("EPSV", &reply);
        if (code == 0) {
            return false;
        }
        if (code == 229) {
            const uint16_t port = ParseEpsvPort(reply.text());
            if (port == 0) {
                return false; // malformed
            }
            if (connectTo(port)) {
                return true;
            }
            // A firewall may pass only what PASV announces: PASV from now on.
            data.close();
            Tell(ports, LogKind::DataFellBack);
        }
        caps.epsvRefused = true;
    }
    Reply reply;
    if (command("PASV", &reply) != 227) {
        return false;
    }
    const uint16_t port = ParsePasvPort(reply.text());
    if (port == 0) {
        return false;
    }
    if (!connectTo(port)) {
        failText("data connection failed");
        return false;
    }
    return true;
}

void FtpClient::Impl::askDataAhead() {
    if (!follow || caps.aheadRefused || aheadSent || aheadPort != 0 || caps.epsvRefused ||
        options.data != DataMode::Passive || lostFlag) {
        return;
    }
    // Nothing is read before: the transfer's final reply may be there already.
    aheadSent = writeLine("EPSV");
}

bool FtpClient::Impl::takeAhead() {
    aheadSent = false;
    Reply reply;
    if (!receiveFinal(reply) || lostFlag) {
        return false;
    }
    aheadPort = reply.code == 229 ? ParseEpsvPort(reply.text()) : 0;
    caps.aheadRefused = caps.aheadRefused || aheadPort == 0;
    return true;
}

void FtpClient::Impl::releaseAhead() {
    if (aheadSent && !takeAhead()) {
        return;
    }
    if (std::exchange(aheadPort, 0) != 0) {
        command("ABOR"); // whatever the answer: the port is not used
    }
}

bool FtpClient::Impl::listenData(Stream& listener) {
    // Only on the address the server reaches us by, and only the server may connect.
    SocketAddress local = control.local();
    local.setPort(0);
    if (listener.listen(local) != IoResult::Ok) {
        failText("data connection failed: cannot listen");
        return false;
    }
    const SocketAddress bound = listener.local();
    const std::string port = std::to_string(bound.port());
    if (!caps.eprtRefused) {
        const char* family = bound.family() == AF_INET6 ? "2" : "1";
        const int code =
            command("EPRT |" + std::string(family) + "|" + bound.text() + "|" + port + "|");
        if (code / 100 == 2) {
            return true;
        }
        if (code == 0 || bound.family() != AF_INET) {
            return false;
        }
        caps.eprtRefused = true;
    }
    std::string address = bound.text();
    std::replace(address.begin(), address.end(), '.', ',');
    return commandOk("PORT " + address + "," + std::to_string(bound.port() / 256) + "," +
                     std::to_string(bound.port() % 256));
}

bool FtpClient::Impl::acceptData(Stream& data, Stream& listener) {
    if (!listener.isOpen()) {
        return true; // passive: connected already
    }
    const IoResult accepted = data.accept(listener, control.peer(), connectMs);
    listener.close();
    if (accepted != IoResult::Ok) {
        failText("data connection failed: the server did not connect");
        return false;
    }
    return true;
}

bool FtpClient::Impl::finishTransfer(bool haveFinal, Reply& final, bool dataOk) {
    if (!haveFinal && !receiveFinal(final)) {
        return false;
    }
    if (lostFlag) {
        return false;
    }
    return dataOk && final.code >= 200 && final.code < 300;
}

bool FtpClient::Impl::watchControl(bool& haveFinal, Reply& final) {
    char buf[4096];
    std::size_t got = 0;
    IoResult r = control.readNow(buf, sizeof buf, got);
    if (r != IoResult::Ok) {
        markLost();
        return false;
    }
    parser.feed(buf, got);
    while (!haveFinal && parser.hasReply()) {
        Reply reply = takeReply();
        last = reply;
        answered = true;
        if (reply.code == 421) {
            markLost();
            return false;
        }
        if (!reply.preliminary()) {
            final = reply;
            haveFinal = true;
        }
    }
    if (parser.failed()) {
        markLost();
        return false;
    }
    // A failure reply before the data ended: the transfer has failed.
    return !(haveFinal && final.code >= 400);
}

bool FtpClient::Impl::transfer(const std::string& line, const Sink& sink) {
    return transfer(
        line,
        [&](Stream& data, bool& haveFinal, Reply& final) {
            return receiveData(data, sink, haveFinal, final);
        },
        DataFlow::Incoming);
}

bool FtpClient::Impl::abortTransfer(Stream& data, bool haveFinal) {
    pumper.honourCancel(false);
    // IP and Synch: the last byte goes as urgent data, so that a server busy sending reads
    // the command at once.
    const bool plain = !control.tls();
    static const char kInterrupt[] = "\xff\xf4\xff";
    if (plain && control.sendUrgent(kInterrupt, 3) != IoResult::Ok) {
        markLost();
    }
    const std::string abor = std::string(plain ? "\xf2" : "") + "ABOR\r\n";
    if (!lostFlag && control.writeAll(abor.data(), abor.size(), kAbortWaitMs) != IoResult::Ok) {
        markLost();
    }
    data.close();
    if (trace) {
        std::fprintf(stderr, "> ABOR\n");
    }
    // The transfer's own answer (426, or 226 when it had ended) when it has not come yet,
    // then ABOR's (226 or 225). One answer is enough to go on: a late one is taken in before
    // the next command.
    const auto deadline = Clock::now() + std::chrono::milliseconds(kAbortWaitMs);
    int answers = 0;
    for (int wanted = haveFinal ? 1 : 2; answers < wanted && !lostFlag;) {
        Reply reply;
        if (!receive(reply, deadline)) {
            break;
        }
        answers += reply.preliminary() ? 0 : 1;
    }
    if (answers == 0 && !lostFlag) {
        markLost();
    }
    failText("cancelled");
    return false;
}

bool FtpClient::Impl::awaitAnswer(bool& haveFinal, Reply& final) {
    if (!receive(final, Clock::now() + std::chrono::milliseconds(replyMs))) {
        return false;
    }
    haveFinal = !final.preliminary();
    return !lostFlag && !(haveFinal && final.code >= 300); // refused: the data connection unused
}

bool FtpClient::Impl::transfer(const std::string& line, const Mover& move, DataFlow flow) {
    const std::string rest = std::exchange(restBefore, {});
    dataComplete = false;
    if (pumper.cancelRequested()) {
        failText("cancelled");
        return false;
    }
    Stream data(pumper);
    Stream listener(pumper);
    if (!openData(data, listener)) {
        return false;
    }
    if (!rest.empty() && command(rest) != 350) {
        return false;
    }
    answered = false;
    if (!sendLine(line)) {
        return false;
    }
    // Over a plain passive connection the data moves at once, a round trip before the
    // server's 150 could come: the server reads or sends it once it has taken the command. A
    // refusal comes on the control connection, which is watched meanwhile, and an end of data
    // is a success only with a 2xx after it.
    bool haveFinal = false;
    Reply final;
    // Active mode waits for the server's answer before it waits for its connection, and TLS
    // before its handshake.
    if ((listener.isOpen() || caps.tls.data) && !awaitAnswer(haveFinal, final)) {
        return false;
    }
    if (!block) {
        block.reset(new char[kBlockBytes]);
    }
    // From here on a cancel request ends every wait: the server's connection in active mode,
    // the data connection's handshake, the data.
    pumper.honourCancel(true);
    const bool ready = acceptData(data, listener) && secureData(data);
    bool dataOk = ready && move(data, haveFinal, final);
    pumper.honourCancel(false);
    dataComplete = dataOk;
    if (!dataOk && pumper.cancelRequested() && !lostFlag) {
        return abortTransfer(data, haveFinal);
    }
    if (!ready) {
        return false;
    }
    // An upload cut short ends with a normal close too: a reset leaves some servers without
    // a final reply, and the control connection out of step. The caller sees the failure.
    data.close();
    if (lostFlag) {
        return false;
    }
    if (haveFinal && final.code >= 400) {
        return false;
    }
    // Only after data that came in: the end of an upload's data leaves us before the server
    // has written it, and a command then may cut it short (pyftpdlib drops the data
    // connection on EPSV).
    if (dataOk && !haveFinal && flow == DataFlow::Incoming) {
        askDataAhead();
    }
    return finishTransfer(haveFinal, final, dataOk);
}

int FtpClient::Impl::waitData(Stream& data, short event, StallWatch& watch, bool& haveFinal,
                              Reply& final) {
    int left =
        replyMs -
        int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - watch.windowStart)
                .count());
    if (left <= 0) {
        failText("data connection stalled");
        return -1;
    }
    Stream* streams[2] = {&data, &control};
    short events[2] = {event, POLLIN};
    int ready = WaitStreams(streams, events, haveFinal ? 1 : 2, left, pumper);
    if (ready < 0 || ((ready & 2) && !watchControl(haveFinal, final))) {
        return -1;
    }
    return (ready & 1) ? 1 : 0;
}

bool FtpClient::Impl::receiveData(Stream& data, const Sink& sink, bool& haveFinal, Reply& final) {
    return whileReady(data, POLLIN, haveFinal, final, [&](StallWatch& watch) {
        std::size_t got = 0;
        IoResult r = data.readNow(block.get(), kBlockBytes, got);
        if (r == IoResult::Closed) {
            return 1;
        }
        if (r == IoResult::Failed) {
            failText("data connection broken");
            return -1;
        }
        if (got > 0 && !sink(block.get(), got)) {
            return -1;
        }
        watch.moved(got);
        return 0;
    });
}

bool FtpClient::Impl::sendData(Stream& data, const Source& source, bool& haveFinal, Reply& final) {
    StallWatch watch;
    for (;;) {
        Chunk chunk;
        if (!source(chunk)) {
            return false;
        }
        if (chunk.size == 0) {
            data.shutdownWrite();
            return !data.tls() || awaitPeerEnd(data, haveFinal, final);
        }
        std::size_t done = 0;
        while (done < chunk.size) {
            int ready = waitData(data, POLLOUT, watch, haveFinal, final);
            if (ready < 0) {
                return false;
            }
            if (ready == 0) {
                continue;
            }
            std::size_t sent = 0;
            if (data.writeNow(chunk.data + done, chunk.size - done, sent) != IoResult::Ok) {
                failText("data connection broken");
                return false;
            }
            done += sent;
            watch.moved(sent);
        }
        if (chunk.sent) {
            chunk.sent();
        }
    }
}

bool FtpClient::Impl::awaitPeerEnd(Stream& data, bool& haveFinal, Reply& final) {
    StallWatch watch;
    while (!haveFinal) {
        int ready = waitData(data, POLLIN, watch, haveFinal, final);
        if (ready < 0) {
            return false;
        }
        std::size_t got = 0;
        if (ready > 0 && data.readNow(block.get(), kBlockBytes, got) != IoResult::Ok) {
            break; // the peer has ended
        }
    }
    return true;
}

} // namespace oxlip::ftp
