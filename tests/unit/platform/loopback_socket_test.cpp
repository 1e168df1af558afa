#include "platform/LoopbackSocket.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace vorn::platform;

namespace {

// A plain blocking client connected to `port` on 127.0.0.1.
UniqueFd Connect(int port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return {};
    return fd;
}

// Accepts the connection a client just opened (the server's side never waits on its own).
UniqueFd AcceptOne(int listening) {
    EXPECT_EQ(WaitForSocket(listening, false, 5000), WaitResult::Ready);
    UniqueFd connection;
    EXPECT_EQ(AcceptConnection(listening, &connection), AcceptResult::Accepted);
    return connection;
}

}  // namespace

TEST(LoopbackSocket, ConnectionCarriesBytesBothWaysAndEndsWithoutASignal) {
    int port = 0;
    const UniqueFd listening = ListenOnLoopback(&port);
    ASSERT_TRUE(listening.valid());
    ASSERT_GT(port, 0);
    UniqueFd none;
    EXPECT_EQ(AcceptConnection(listening.get(), &none), AcceptResult::Nothing);

    UniqueFd client = Connect(port);
    ASSERT_TRUE(client.valid());
    const UniqueFd server = AcceptOne(listening.get());
    std::string address;
    int peerPort = 0, localPort = 0;
    ASSERT_TRUE(PeerAddress(server.get(), &address, &peerPort));
    EXPECT_EQ(address, "127.0.0.1");
    ASSERT_TRUE(LocalAddress(server.get(), &address, &localPort));
    EXPECT_EQ(localPort, port);

    char block[16];
    size_t count = 99;
    EXPECT_EQ(ReceiveNow(server.get(), block, sizeof block, &count), TransferResult::WouldBlock);
    EXPECT_EQ(count, 0u);
    ASSERT_EQ(::send(client.get(), "GET", 3, 0), 3);
    ASSERT_EQ(WaitForSocket(server.get(), false, 5000), WaitResult::Ready);
    ASSERT_EQ(ReceiveNow(server.get(), block, sizeof block, &count), TransferResult::Moved);
    EXPECT_EQ(std::string(block, count), "GET");
    ASSERT_EQ(SendNow(server.get(), "200", 3, &count), TransferResult::Moved);
    EXPECT_EQ(count, 3u);
    ASSERT_EQ(::recv(client.get(), block, sizeof block, 0), 3);

    // The reader goes: its end reads as closed, and sending on fails instead of killing the
    // process with SIGPIPE.
    client = UniqueFd();
    ASSERT_EQ(WaitForSocket(server.get(), false, 5000), WaitResult::Ready);
    EXPECT_EQ(ReceiveNow(server.get(), block, sizeof block, &count), TransferResult::Closed);
    TransferResult sent = TransferResult::Moved;
    for (int i = 0; i < 100 && sent == TransferResult::Moved; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(i));
        sent = SendNow(server.get(), "more", 4, &count);
    }
    EXPECT_EQ(sent, TransferResult::Failed);
}

TEST(LoopbackSocket, AcceptWithNoDescriptorLeftSaysSoAndLeavesTheConnectionWaiting) {
    int port = 0;
    const UniqueFd listening = ListenOnLoopback(&port);
    ASSERT_TRUE(listening.valid());
    const UniqueFd client = Connect(port);
    ASSERT_TRUE(client.valid());
    ASSERT_EQ(WaitForSocket(listening.get(), false, 5000), WaitResult::Ready);

    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    rlimit low = before;
    low.rlim_cur = std::min<rlim_t>(before.rlim_cur, 256);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<UniqueFd> filler;
    for (;;) {
        UniqueFd fd(::dup(listening.get()));
        if (!fd.valid())
            break;
        filler.push_back(std::move(fd));
    }
    UniqueFd connection;
    const AcceptResult starved = AcceptConnection(listening.get(), &connection);
    filler.clear();
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &before), 0);

    EXPECT_EQ(starved, AcceptResult::OutOfDescriptors);
    EXPECT_EQ(WaitForSocket(listening.get(), false, 0), WaitResult::Ready);
    EXPECT_EQ(AcceptConnection(listening.get(), &connection), AcceptResult::Accepted);
}

TEST(LoopbackSocket, RaisedWakeSignalEndsAWaitUntilCleared) {
    WakeSignal wake;
    ASSERT_TRUE(wake.Open());
    int port = 0;
    const UniqueFd listening = ListenOnLoopback(&port);
    ASSERT_TRUE(listening.valid());
    std::vector<SocketWait> waits{{listening.get(), false}, {wake.Handle(), false}};
    EXPECT_EQ(WaitForSockets(waits, 0), WaitResult::TimedOut);

    // Raised from another thread while the wait is under way; a wait of a minute that ends
    // with the signal ready was ended by it.
    std::thread raiser([&wake] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        wake.Raise();
        wake.Raise();
    });
    EXPECT_EQ(WaitForSockets(waits, 60'000), WaitResult::Ready);
    raiser.join();
    EXPECT_TRUE(waits[1].ready);
    EXPECT_FALSE(waits[0].ready);

    // Two raises before the clear are one.
    wake.Clear();
    EXPECT_EQ(WaitForSockets(waits, 0), WaitResult::TimedOut);
    EXPECT_FALSE(waits[1].ready);
}
