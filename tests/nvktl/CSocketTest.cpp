#include "nvktl/CSocket.h"

#include "tests/support/LoopbackPeer.h"
#include "tests/support/WaitUntil.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

using iotest::LoopbackPeer;
using NVKTL::CSocket;

namespace {

constexpr auto kLoopback = "127.0.0.1";

std::string receiveSome(CSocket& socket) {
    char buffer[1024];
    int n = socket.Receive(buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

TEST(CSocket, FreshSocketHoldsACloseOnExecHandle) {
    CSocket socket;
    ASSERT_NE(0, socket.GetHandle());
    EXPECT_TRUE(::fcntl(socket.GetHandle(), F_GETFD) & FD_CLOEXEC);
}

TEST(CSocket, EchoesThroughALoopbackPeer) {
    LoopbackPeer peer;
    peer.serve(1, [](int fd) {
        LoopbackPeer::writeAll(fd, LoopbackPeer::readUntilClosed(fd));
        ::close(fd);
    });
    CSocket socket;
    ASSERT_EQ(0, socket.Connect(kLoopback, peer.port()));
    ASSERT_EQ(5, socket.Send("hello", 5, 0));
    ::shutdown(socket.GetHandle(), SHUT_WR); // let the peer see the end
    EXPECT_EQ("hello", receiveSome(socket));
    char byte;
    EXPECT_EQ(0, socket.Receive(&byte, 1, 0)) << "the peer has closed";
}

TEST(CSocket, ReceiveGivesZeroWhenThePeerClosesEarly) {
    LoopbackPeer peer;
    peer.serve(1, [](int fd) { ::close(fd); });
    CSocket socket;
    ASSERT_EQ(0, socket.Connect(kLoopback, peer.port()));
    char buffer[16];
    EXPECT_EQ(0, socket.Receive(buffer, sizeof buffer, 0));
}

TEST(CSocket, CloseHalfClosesThenDrainsUntilThePeerCloses) {
    LoopbackPeer peer;
    std::atomic<bool> peerSawEnd{false};
    std::atomic<bool> peerClosed{false};
    peer.serve(1, [&](int fd) {
        LoopbackPeer::writeAll(fd, "250 still talking\r\n");
        LoopbackPeer::readUntilClosed(fd); // returns at the client's half-close
        peerSawEnd = true;
        LoopbackPeer::writeAll(fd, std::string(5000, 'x')); // more than one drain read
        peerClosed = true;
        ::close(fd);
    });
    CSocket socket;
    ASSERT_EQ(0, socket.Connect(kLoopback, peer.port()));
    socket.Close();
    EXPECT_TRUE(peerSawEnd);
    EXPECT_TRUE(peerClosed) << "Close must drain until the peer has closed";
    EXPECT_EQ(0, socket.GetHandle());
    char byte;
    EXPECT_EQ(-1, socket.Receive(&byte, 1, 0)) << "drained data is never handed out";
    socket.Close(); // a second Close does nothing
    EXPECT_EQ(0, socket.GetHandle());
}

TEST(CSocket, ConnectAfterCloseMakesAFreshSocket) {
    LoopbackPeer peer;
    std::atomic<int> served{0};
    peer.serve(2, [&](int fd) {
        LoopbackPeer::writeAll(fd, "220 connection " + std::to_string(++served) + "\r\n");
        LoopbackPeer::readUntilClosed(fd);
        ::close(fd);
    });
    CSocket socket;
    ASSERT_EQ(0, socket.Connect(kLoopback, peer.port()));
    EXPECT_EQ("220 connection 1\r\n", receiveSome(socket));
    socket.Close();
    ASSERT_EQ(0, socket.Connect(kLoopback, peer.port()));
    EXPECT_NE(0, socket.GetHandle());
    EXPECT_EQ("220 connection 2\r\n", receiveSome(socket));
}

TEST(CSocket, ConnectRefusesHostNamesWithoutTraffic) {
    LoopbackPeer peer;
    CSocket socket;
    EXPECT_EQ(-1, socket.Connect("localhost", peer.port()));
    EXPECT_EQ(-1, socket.Connect("127.1", peer.port()));
    EXPECT_EQ(-1, socket.Connect("", peer.port()));
    EXPECT_FALSE(peer.hasPendingConnection());
}

TEST(CSocket, ConnectRejectsPortsOutOfRange) {
    CSocket socket;
    EXPECT_EQ(-1, socket.Connect(kLoopback, 0));
    EXPECT_EQ(-1, socket.Connect(kLoopback, 65536));
    EXPECT_EQ(-1, socket.Connect(kLoopback, -25));
}

TEST(CSocket, ConnectByNameResolvesAndConnects) {
    LoopbackPeer peer;
    peer.serve(2, [](int fd) {
        LoopbackPeer::writeAll(fd, "220 hi\r\n");
        LoopbackPeer::readUntilClosed(fd);
        ::close(fd);
    });
    CSocket socket;
    ASSERT_EQ(0, socket.ConnectByName(kLoopback, peer.port()));
    EXPECT_EQ("220 hi\r\n", receiveSome(socket));
    socket.Close();
    ASSERT_EQ(0, socket.ConnectByName("localhost", peer.port()));
    EXPECT_EQ("220 hi\r\n", receiveSome(socket));
    EXPECT_EQ(-1, socket.ConnectByName("", peer.port()));
}

TEST(CSocket, ConnectToAClosedPortFailsAndTheNextConnectWorks) {
    CSocket socket;
    EXPECT_EQ(-1, socket.Connect(kLoopback, iotest::closedLoopbackPort()));
    LoopbackPeer peer;
    peer.serve(1, [](int fd) { ::close(fd); });
    EXPECT_EQ(0, socket.Connect(kLoopback, peer.port()));
}

TEST(CSocket, ConnectToAPeerThatNeverAcceptsTimesOut) {
    LoopbackPeer peer(0); // a backlog of one connection, never accepted
    CSocket first;
    first.SetTimeout(200);
    ASSERT_EQ(0, first.Connect(kLoopback, peer.port())); // fills the queue
    CSocket second;
    second.SetTimeout(200);
    EXPECT_EQ(-1, second.Connect(kLoopback, peer.port()));
    EXPECT_EQ(0, second.GetHandle()) << "the half-made connection is dropped";
}

TEST(CSocket, SilentPeerTimesOutReceiveAndTheDrain) {
    LoopbackPeer peer;
    std::promise<void> testDone;
    peer.serve(1, [done = testDone.get_future().share()](int fd) {
        done.wait(); // accepts, then never answers and never closes
        ::close(fd);
    });
    CSocket socket;
    socket.SetTimeout(200);
    ASSERT_EQ(0, socket.Connect(kLoopback, peer.port()));
    char buffer[16];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(-1, socket.Receive(buffer, sizeof buffer, 0));
    socket.Close();
    EXPECT_EQ(0, socket.GetHandle());
    // Both waits are bounded: far less than the 30 s default, however slow.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    testDone.set_value();
}

TEST(CSocket, ThePeerThatNeverStopsSendingCannotStretchTheDrain) {
    LoopbackPeer peer;
    std::atomic<bool> stop{false};
    peer.serve(1, [&stop](int fd) {
        const std::string chunk(4096, 'x');
        while (!stop && ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) > 0) {
        }
        ::close(fd);
    });
    CSocket socket;
    socket.SetTimeout(300);
    ASSERT_EQ(0, socket.Connect(kLoopback, peer.port()));
    const auto start = std::chrono::steady_clock::now();
    socket.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    stop = true;
}

TEST(CSocket, ConnectsToAnIpv6Address) {
    const int listener = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    socklen_t size = sizeof address;
    ASSERT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&address), size))
        << "no IPv6 loopback";
    ASSERT_EQ(0, ::listen(listener, 1));
    ASSERT_EQ(0, ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size));
    CSocket socket;
    socket.SetTimeout(2000);
    ASSERT_EQ(0, socket.Connect("::1", ntohs(address.sin6_port)));
    const int accepted = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(accepted, 0);
    EXPECT_EQ(3, ::write(accepted, "hi\n", 3));
    EXPECT_EQ("hi\n", receiveSome(socket));
    ::close(accepted);
    ::close(listener);
}

TEST(CSocket, SendDeliversEverythingDespiteShortWrites) {
    // Far more than a socket buffer takes at once.
    std::string message(8 << 20, '\0');
    for (std::size_t i = 0; i < message.size(); ++i)
        message[i] = static_cast<char>('a' + i % 26);
    LoopbackPeer peer;
    std::promise<std::string> received;
    peer.serve(1, [&](int fd) {
        received.set_value(LoopbackPeer::readUntilClosed(fd));
        ::close(fd);
    });
    CSocket socket;
    ASSERT_EQ(0, socket.Connect(kLoopback, peer.port()));
    ASSERT_EQ(static_cast<int>(message.size()),
              socket.Send(message.data(), static_cast<int>(message.size()), 0));
    socket.Close();
    EXPECT_TRUE(received.get_future().get() == message);
}

TEST(CSocket, SendToAPeerThatReadsNothingTimesOut) {
    LoopbackPeer peer;
    std::promise<void> testDone;
    peer.serve(1, [done = testDone.get_future().share()](int fd) {
        done.wait();
        ::close(fd);
    });
    CSocket socket;
    socket.SetTimeout(200);
    ASSERT_EQ(0, socket.Connect(kLoopback, peer.port()));
    const std::string big(64 << 20, 'x');
    EXPECT_EQ(-1, socket.Send(big.data(), static_cast<int>(big.size()), 0));
    socket.Close();
    testDone.set_value();
}

TEST(CSocket, SendToAClosedPeerFailsWithoutSigpipe) {
    LoopbackPeer peer;
    peer.serve(1, [](int fd) { ::close(fd); });
    CSocket socket;
    ASSERT_EQ(0, socket.Connect(kLoopback, peer.port()));
    char byte;
    ASSERT_EQ(0, socket.Receive(&byte, 1, 0)); // the peer is gone
    const std::string chunk(65536, 'x');
    int result = 0;
    for (int i = 0; i < 100 && result >= 0; ++i)
        result = socket.Send(chunk.data(), static_cast<int>(chunk.size()), 0);
    EXPECT_EQ(-1, result); // and the test process is still alive
}

TEST(CSocket, OperationsWithoutASocketFail) {
    CSocket socket;
    socket.Close();
    char buffer[4];
    EXPECT_EQ(-1, socket.Send("abc", 3, 0));
    EXPECT_EQ(-1, socket.Receive(buffer, sizeof buffer, 0));
}

} // namespace
