#include "nvktl/CSocket.h"
#include "tools/smtp-test-peer/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

using iotest::LoopbackPeer;
using NVKTL::CSocket;

namespace {

TEST(CSocketTest, SendsEverythingDrainsOnCloseAndSurvivesAClosedPeer) {
    std::string message(8 << 20, '\0'); // far more than one write takes
    for (std::size_t i = 0; i < message.size(); ++i)
        message[i] = static_cast<char>('a' + i % 26);
    LoopbackPeer peer;
    std::atomic<bool> drained{false};
    peer.serve(2, [&, first = true](int fd) mutable {
        if (std::exchange(first, false)) {
            const bool same = LoopbackPeer::readUntilClosed(fd) == message; // to the half-close
            LoopbackPeer::writeAll(fd, same ? "220 same" : "550 different");
            LoopbackPeer::writeAll(fd, std::string(5000, 'x')); // more than one drain read
            drained = true;
        }
        ::close(fd);
    });
    CSocket socket;
    ASSERT_EQ(socket.Connect("127.0.0.1", peer.port()), 0);
    ASSERT_EQ(socket.Send(message.data(), 8 << 20, 0), 8 << 20);
    ::shutdown(socket.GetHandle(), SHUT_WR);
    char buffer[8];
    EXPECT_EQ(socket.Receive(buffer, 8, 0), 8);
    EXPECT_EQ(std::string(buffer, 8), "220 same");
    socket.Close(); // drains until the peer has closed
    EXPECT_TRUE(drained);
    EXPECT_EQ(socket.Receive(buffer, 1, 0), -1) << "drained data is never handed out";
    ASSERT_EQ(socket.Connect("127.0.0.1", peer.port()), 0) << "a fresh socket after Close";
    ASSERT_EQ(socket.Receive(buffer, 1, 0), 0); // the peer has closed
    int result = 0;
    for (int i = 0; i < 100 && result >= 0; ++i)
        result = socket.Send(message.data(), 65536, 0);
    EXPECT_EQ(result, -1); // and no SIGPIPE ended the test
}

TEST(CSocketTest, OnlyNumericAddressesAndRealPortsAreConnected) {
    LoopbackPeer peer;
    CSocket socket;
    for (const char* name : {"localhost", "127.1", ""})
        EXPECT_EQ(socket.Connect(name, peer.port()), -1) << name;
    for (int port : {0, 65536, -25, iotest::closedLoopbackPort()})
        EXPECT_EQ(socket.Connect("127.0.0.1", port), -1) << port;
    EXPECT_FALSE(peer.hasPendingConnection()) << "no traffic for what is refused";
    EXPECT_EQ(socket.ConnectByName("", peer.port()), -1); // names resolve: SMTP server tests
}

TEST(CSocketTest, EveryWaitOnThePeerIsBounded) {
    const auto start = std::chrono::steady_clock::now();
    LoopbackPeer full(0); // a queue of one connection, never accepted
    CSocket first, second;
    first.SetTimeout(200);
    second.SetTimeout(200);
    ASSERT_EQ(first.Connect("127.0.0.1", full.port()), 0);
    EXPECT_EQ(second.Connect("127.0.0.1", full.port()), -1);
    EXPECT_EQ(second.GetHandle(), 0) << "the half-made connection is dropped";
    first.Close(); // a peer that never answers: the drain waits at most the time-out
    LoopbackPeer talker;
    std::atomic<bool> stop{false};
    talker.serve(1, [&stop](int fd) {
        const std::string chunk(4096, 'x');
        while (!stop && ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) > 0) {
        }
        ::close(fd);
    });
    ASSERT_EQ(first.Connect("127.0.0.1", talker.port()), 0);
    first.Close(); // a peer that never stops sending cannot stretch the drain
    stop = true;
    // Far less than the 30 s default, however slow the machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

} // namespace
