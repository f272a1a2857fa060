// Connect attempts over several addresses, accepting only the server, urgent bytes, keep-alive.

#include "ftp/engine/Stream.h"
#include "ftp/engine/FtpClient.h"
#include "support/FtpServers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace oxlip::ftp {
namespace {

using Clock = std::chrono::steady_clock;

SocketAddress Address(const std::string& text, uint16_t port = 0) {
    SocketAddress a;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&a.storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&a.storage);
    if (::inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        a.length = sizeof *v4;
    } else if (::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        a.length = sizeof *v6;
    }
    a.setPort(port);
    return a;
}

std::vector<std::string> Texts(const std::vector<SocketAddress>& addresses) {
    std::vector<std::string> out;
    for (const SocketAddress& a : addresses) {
        out.push_back(a.text());
    }
    return out;
}

TEST(HappyEyeballs, FamiliesTakeTurnsAndAttemptsAreStaggered) {
    const std::pair<std::vector<std::string>, std::vector<std::string>> orders[] = {
        {{"::2", "::3", "127.0.0.1"}, {"::2", "127.0.0.1", "::3"}},
        {{"127.0.0.1", "127.0.0.2", "::2", "::3", "::4"},
         {"127.0.0.1", "::2", "127.0.0.2", "::3", "::4"}},
        {{"127.0.0.1", "127.0.0.2"}, {"127.0.0.1", "127.0.0.2"}},
        {{}, {}},
    };
    for (const auto& [given, tried] : orders) {
        std::vector<SocketAddress> addresses;
        for (const std::string& text : given) {
            addresses.push_back(Address(text));
        }
        EXPECT_EQ(Texts(InterleaveFamilies(addresses)), tried);
    }

    struct Case {
        std::size_t started, total;
        bool failedSince;
        int sinceLastMs, due;
    } const cases[] = {
        {0, 3, false, 0, 0},     // the first at once
        {1, 3, false, 0, 250},   // the next a quarter second later
        {1, 3, false, 100, 150}, // ... counted from the last start
        {1, 3, false, 400, 0},   // overdue
        {1, 3, true, 10, 0},     // an attempt has failed since: at once
        {3, 3, true, 900, -1},   // none left
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NextAttemptInMs(c.started, c.total, c.failedSince, c.sinceLastMs), c.due)
            << c.started << " of " << c.total << (c.failedSince ? ", failed, " : ", ")
            << c.sinceLastMs << " ms";
    }
}

// A loopback socket listening with the backlog, or (-1) refusing connections.
struct Socket {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    SocketAddress address;
    explicit Socket(int backlog, const char* host = "127.0.0.1") : address(Address(host)) {
        ::bind(fd, reinterpret_cast<sockaddr*>(&address.storage), address.length);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address.storage), &address.length);
        if (backlog >= 0) {
            ::listen(fd, backlog);
        }
    }
    ~Socket() { ::close(fd); }
};

struct CountingPump : EventPump {
    int count = 0;
    void pump() override { ++count; }
};

TEST(HappyEyeballs, ConnectsPastAddressesThatRefuseOrNeverAnswer) {
    Socket good(8), refusing(-1), dead(0);
    // The dead listener's only queue place is taken: the kernel drops further SYNs unanswered.
    Socket filler(-1);
    ASSERT_EQ(::connect(filler.fd, reinterpret_cast<sockaddr*>(&dead.address.storage),
                        dead.address.length),
              0);
    CountingPump pump;
    Pumper pumper(&pump);
    Stream probe(pumper);
    if (probe.connectAny({dead.address}, 300) != IoResult::TimedOut) {
        GTEST_SKIP() << "this kernel answers SYNs beyond a full accept queue";
    }
    EXPECT_EQ(probe.connectAny({refusing.address}, 300), IoResult::Failed);

    struct Case {
        const char* what;
        std::vector<SocketAddress> addresses;
        int staggerMs, minMs, maxMs;
    } const cases[] = {
        {"refused, good", {refusing.address, good.address}, 250, 0, 200},
        {"dead, good", {dead.address, good.address}, 250, 240, 1000},
        {"dead, dead, good", {dead.address, dead.address, good.address}, 250, 490, 1000},
        // The refusal starts the next attempt at once, not a stagger later.
        {"dead, refused, good", {dead.address, refusing.address, good.address}, 400, 390, 700},
    };
    for (const Case& c : cases) {
        Stream stream(pumper);
        pump.count = 0;
        const auto begin = Clock::now();
        EXPECT_EQ(stream.connectAny(c.addresses, 20000, c.staggerMs), IoResult::Ok) << c.what;
        const long long ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
        EXPECT_GE(ms, c.minMs) << c.what;
        EXPECT_LT(ms, c.maxMs) << c.what;
        EXPECT_GE(pump.count, int(ms / 60)) << c.what; // pumped at least every 50 ms
        EXPECT_EQ(stream.peer().port(), good.address.port()) << c.what;
    }
}

TEST(Stream, AcceptsOnlyTheServerAndSendsUrgentBytes) {
    CountingPump pump;
    Pumper pumper(&pump);
    Stream listener(pumper), data(pumper), client(pumper);
    ASSERT_EQ(listener.listen(Address("127.0.0.1")), IoResult::Ok);
    const SocketAddress where = listener.local();
    ASSERT_NE(where.port(), 0);
    // A connection from another host is closed and waited past, to the time-out, pumping.
    Socket stranger(-1, "127.0.0.2");
    ASSERT_EQ(
        ::connect(stranger.fd, reinterpret_cast<const sockaddr*>(&where.storage), where.length), 0);
    const auto begin = Clock::now();
    EXPECT_EQ(data.accept(listener, Address("127.0.0.1"), 300), IoResult::TimedOut);
    EXPECT_GE(Clock::now() - begin, std::chrono::milliseconds(280));
    EXPECT_GE(pump.count, 5);
    char byte = 0;
    EXPECT_LE(::recv(stranger.fd, &byte, 1, 0), 0);

    ASSERT_EQ(client.connect(where, 1000), IoResult::Ok);
    ASSERT_EQ(data.accept(listener, Address("127.0.0.1"), 1000), IoResult::Ok);
    EXPECT_EQ(data.peer().port(), client.local().port());

    // Telnet IP and Synch, then the command: the last urgent byte arrives out of band.
    ASSERT_EQ(client.sendUrgent("\xff\xf4\xff", 3), IoResult::Ok);
    ASSERT_EQ(client.writeAll("\xf2"
                              "ABOR\r\n",
                              7, 1000),
              IoResult::Ok);
    pollfd urgent{data.fd(), POLLPRI, 0};
    ASSERT_EQ(::poll(&urgent, 1, 1000), 1);
    ASSERT_EQ(::recv(data.fd(), &byte, 1, MSG_OOB), 1);
    EXPECT_EQ(byte, '\xff');
    std::string inBand;
    char buf[64];
    for (int i = 0; i < 10 && inBand.size() < 9; ++i) {
        std::size_t got = 0;
        ASSERT_EQ(data.read(buf, sizeof buf, got, 1000), IoResult::Ok);
        inBand.append(buf, got);
    }
    EXPECT_EQ(inBand, "\xff\xf4\xf2"
                      "ABOR\r\n");
}

TEST(KeepAlive, ControlConnectionProbesWhileIdle) {
    std::string why;
    if (!test::CanRunServer(test::ServerKind::Pyftpdlib, &why)) {
        GTEST_SKIP() << why;
    }
    test::FtpServer server(test::ServerKind::Pyftpdlib);
    ASSERT_TRUE(server.ok()) << server.error();
    FtpClient client;
    ASSERT_TRUE(client.connect(server.server(), server.user(), server.password()));
    int found = 0;
    for (int fd = 0; fd < 1024; ++fd) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
            peer.sin_family != AF_INET || ntohs(peer.sin_port) != server.port()) {
            continue;
        }
        ++found;
        std::vector<int> values;
        for (auto [level, name] : {std::pair{SOL_SOCKET, SO_KEEPALIVE},
                                   {IPPROTO_TCP, TCP_KEEPIDLE},
                                   {IPPROTO_TCP, TCP_KEEPINTVL},
                                   {IPPROTO_TCP, TCP_KEEPCNT}}) {
            int value = -1;
            socklen_t size = sizeof value;
            ::getsockopt(fd, level, name, &value, &size);
            values.push_back(value);
        }
        EXPECT_EQ(values, (std::vector<int>{1, 30, 10, 6}));
    }
    EXPECT_EQ(found, 1);
}

} // namespace
} // namespace oxlip::ftp
