// Connect attempts over several addresses, accepting only the server, urgent bytes.

#include "ftp/engine/Stream.h"
#include "HostileFixture.h"

#include <poll.h>

namespace oxlip::ftp {
namespace {

SocketAddress Address(const std::string& text) {
    Pumper pumper;
    std::vector<SocketAddress> found;
    std::string error;
    EXPECT_TRUE(ResolveHost(text, 0, 1000, pumper, found, error)) << text << ": " << error;
    return found.empty() ? SocketAddress{} : found[0];
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
        std::vector<std::string> order;
        for (const SocketAddress& a : InterleaveFamilies(addresses)) {
            order.push_back(a.text());
        }
        EXPECT_EQ(order, tried);
    }
    // {started, total, failed since, ms since the last start, due in ms}
    const int cases[][5] = {{0, 3, 0, 0, 0},   {1, 3, 0, 0, 250}, {1, 3, 0, 100, 150},
                            {1, 3, 0, 400, 0}, {1, 3, 1, 10, 0},  {3, 3, 1, 900, -1}};
    for (const auto& c : cases) {
        EXPECT_EQ(NextAttemptInMs(c[0], c[1], c[2], c[3]), c[4]) << c[0] << c[1] << c[2] << c[3];
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

TEST(HappyEyeballs, ConnectsPastAddressesThatRefuseOrNeverAnswer) {
    Socket good(8), refusing(-1), dead(0);
    // The dead listener's only queue place is taken: the kernel drops further SYNs unanswered.
    Socket filler(-1);
    ASSERT_EQ(::connect(filler.fd, reinterpret_cast<sockaddr*>(&dead.address.storage),
                        dead.address.length),
              0);
    test::UiRecorder pump;
    Pumper pumper(&pump);
    Stream probe(pumper);
    if (probe.connectAny({dead.address}, 300) != IoResult::TimedOut) {
        GTEST_SKIP() << "this kernel answers SYNs beyond a full accept queue";
    }
    EXPECT_EQ(probe.connectAny({refusing.address}, 300), IoResult::Failed);

    // {what, addresses, stagger, at least, under} in ms
    const std::tuple<const char*, std::vector<SocketAddress>, int, int, int> cases[] = {
        {"refused, good", {refusing.address, good.address}, 250, 0, 200},
        {"dead, good", {dead.address, good.address}, 250, 240, 1000},
        {"dead, dead, good", {dead.address, dead.address, good.address}, 250, 490, 1000},
        // The refusal starts the next attempt at once, not a stagger later.
        {"dead, refused, good", {dead.address, refusing.address, good.address}, 400, 390, 700},
    };
    for (const auto& [what, addresses, staggerMs, minMs, maxMs] : cases) {
        Stream stream(pumper);
        pump.pumps = 0;
        const auto begin = test::Clock::now();
        EXPECT_EQ(stream.connectAny(addresses, 20000, staggerMs), IoResult::Ok) << what;
        const long long ms = test::MsSince(begin);
        EXPECT_GE(ms, minMs) << what;
        EXPECT_LT(ms, maxMs) << what;
        EXPECT_GE(pump.pumps, int(ms / 60)) << what; // pumped at least every 50 ms
        EXPECT_EQ(stream.peer().port(), good.address.port()) << what;
    }
}

TEST(Stream, AcceptsOnlyTheServerAndSendsUrgentBytes) {
    test::UiRecorder pump;
    Pumper pumper(&pump);
    Stream listener(pumper), data(pumper), client(pumper);
    ASSERT_EQ(listener.listen(Address("127.0.0.1")), IoResult::Ok);
    const SocketAddress where = listener.local();
    // A connection from another host is closed and waited past, to the time-out, pumping.
    Socket stranger(-1, "127.0.0.2");
    ASSERT_EQ(
        ::connect(stranger.fd, reinterpret_cast<const sockaddr*>(&where.storage), where.length), 0);
    const auto begin = test::Clock::now();
    EXPECT_EQ(data.accept(listener, Address("127.0.0.1"), 300), IoResult::TimedOut);
    EXPECT_GE(test::MsSince(begin), 280);
    EXPECT_GE(pump.pumps, 5);
    char byte = 0;
    EXPECT_LE(::recv(stranger.fd, &byte, 1, 0), 0);

    ASSERT_EQ(client.connect(where, 1000), IoResult::Ok);
    ASSERT_EQ(data.accept(listener, Address("127.0.0.1"), 1000), IoResult::Ok);

    // Telnet IP and Synch, then the command: the last urgent byte arrives out of band.
    const std::string abor = std::string("\xf2") + "ABOR\r\n";
    ASSERT_EQ(client.sendUrgent("\xff\xf4\xff", 3), IoResult::Ok);
    ASSERT_EQ(client.writeAll(abor.data(), abor.size(), 1000), IoResult::Ok);
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
    EXPECT_EQ(inBand, "\xff\xf4" + abor);
}

} // namespace
} // namespace oxlip::ftp
