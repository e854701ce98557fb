// The socket layer under TLS, on loopback under Wine: its waits and the
// resolver's limit on lookups left hanging.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "mailcomponent/HostResolver.h"
#include "mailcomponent/WinsockConnection.h"

namespace qel::mailcomponent {
namespace {

using mail::Deadline;
using namespace std::chrono_literals;

template <typename Condition>
bool within(std::chrono::milliseconds limit, Condition condition)
{
    for (const Deadline end = Deadline::in(limit); !condition();)
        if (end.passed())
            return false;
        else
            std::this_thread::sleep_for(1ms);
    return true;
}

// A connection to a listener on loopback, and the listener's end of it.
struct LoopbackPair {
    LoopbackPair()
    {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof at;
        EXPECT_EQ(bind(listener.get(), reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
        EXPECT_EQ(listen(listener.get(), 1), 0);
        EXPECT_EQ(getsockname(listener.get(), reinterpret_cast<sockaddr*>(&at), &size), 0);
        EXPECT_EQ(connection.connect("127.0.0.1", std::to_string(ntohs(at.sin_port)), Deadline::in(5s), Deadline::in(5s)),
                  mail::Ok);
        peer.reset(accept(listener.get(), nullptr, nullptr));
    }
    WinsockUse winsock = startWinsock();
    UniqueSocket listener{socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)};
    WinsockConnection connection;
    UniqueSocket peer;
};

TEST(WinsockConnection, BytesWaitingDoNotMakeASocketReadyPastTheDeadline)
{
    LoopbackPair pair;
    WinsockConnection& connection = pair.connection;
    ASSERT_EQ(send(pair.peer.get(), "250 ok\r\n", 8, 0), 8);
    std::this_thread::sleep_for(50ms); // arrived on loopback
    std::string into;
    EXPECT_EQ(connection.receive(into, Deadline::at(Deadline::Clock::now())), mail::NoReplyInTime);
    EXPECT_EQ(connection.send("QUIT\r\n", Deadline::at(Deadline::Clock::now())), mail::NoReplyInTime);
    EXPECT_EQ(into, "");
    EXPECT_EQ(connection.receive(into, Deadline::in(5s)), mail::Ok);
    EXPECT_EQ(into, "250 ok\r\n");
}

// What decides whether a kept session may carry the next mail.
TEST(WinsockConnection, QuietOnlyWhileThePeerNeitherWritesNorCloses)
{
    LoopbackPair written;
    EXPECT_TRUE(written.connection.quiet()) << "idle";
    ASSERT_EQ(send(written.peer.get(), "421 bye\r\n", 9, 0), 9);
    EXPECT_TRUE(within(5s, [&] { return !written.connection.quiet(); })) << "after the peer wrote";

    LoopbackPair closed;
    EXPECT_TRUE(closed.connection.quiet()) << "idle";
    closed.peer.reset();
    EXPECT_TRUE(within(5s, [&] { return !closed.connection.quiet(); })) << "after the peer closed";
}

// A lookup that hangs until released, then answers with loopback.
std::atomic<int> lookupsWaiting{0};
std::atomic<bool> released{false};
int WSAAPI hangingLookUp(const char*, const char* port, const addrinfo* hints, addrinfo** result)
{
    ++lookupsWaiting;
    while (!released)
        std::this_thread::sleep_for(1ms);
    --lookupsWaiting;
    return getaddrinfo("127.0.0.1", port, hints, result);
}

TEST(HostResolver, OnlyAbandonedLookupsCountAgainstTheLimit)
{
    const WinsockUse winsock = startWinsock();
    const auto resolve = [](std::chrono::milliseconds left) {
        AddressList addresses;
        return HostResolver::resolve("mail.example.com", "25", Deadline::in(left), addresses, hangingLookUp);
    };
    // More healthy lookups at once than the limit of hanging ones: all succeed.
    released = false;
    std::vector<std::thread> senders;
    std::atomic<int> resolved{0};
    for (long i = 0; i <= HostResolver::kMaxAbandoned; ++i)
        senders.emplace_back([&] { resolved += resolve(10s) == mail::Ok; });
    EXPECT_TRUE(within(5s, [] { return lookupsWaiting == HostResolver::kMaxAbandoned + 1; }));
    released = true;
    for (std::thread& t : senders)
        t.join();
    EXPECT_EQ(resolved, HostResolver::kMaxAbandoned + 1);

    // Abandoned ones do count, until they end.
    released = false;
    for (long i = 0; i < HostResolver::kMaxAbandoned; ++i)
        EXPECT_EQ(resolve(10ms), mail::ResolveTimedOut);
    EXPECT_TRUE(within(5s, [] { return lookupsWaiting == HostResolver::kMaxAbandoned; }));
    EXPECT_EQ(resolve(5s), mail::ResolveTimedOut); // at once, no lookup started
    EXPECT_EQ(lookupsWaiting, HostResolver::kMaxAbandoned);
    released = true;
    EXPECT_TRUE(within(5s, [] { return lookupsWaiting == 0; }));
    EXPECT_TRUE(within(5s, [&] { return resolve(5s) == mail::Ok; }));
}

} // namespace
} // namespace qel::mailcomponent
