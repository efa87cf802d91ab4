// Peers that hold connections without finishing requests: at the connection
// limit the one waiting longest gives way to a newcomer, and a request that
// trickles in a byte at a time is closed at its deadline. Either way a
// well-behaved client is answered promptly. Through the real server on
// loopback.
#include "RemoteTestUtil.h"
#include "XmlRpcUtil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace remotetest;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

class Echo : public XmlRpcServerMethod {
public:
    explicit Echo(XmlRpcServer *s) : XmlRpcServerMethod("Echo", s) {}
    void execute(XmlRpcValue &params, XmlRpcValue &result) override { result = params; }
};

struct EchoServer {
    XmlRpcServer server;
    Echo echo{&server};
};

const std::string kCall = httpPost(callBody("Echo", "<param><value><i4>7</i4></value></param>"));

bool answered(int fd)
{
    return bodyOf(readResponse(fd, nullptr, 5000)).find("<i4>7</i4>") != std::string::npos;
}

} // namespace

TEST(ServerCrowding, AtTheLimitTheLongestWaitingConnectionGivesWay)
{
    XmlRpcUtil::setVerbosity(0);
    EchoServer t;
    t.server.setMaxConnections(4);
    t.server.setEvictAfter(0.3);
    ASSERT_TRUE(t.server.bindAndListen(0, "127.0.0.1"));
    ServerThread thread(t.server);
    const int port = t.server.port();

    // Four peers fill the server: one idle, three that began a header.
    std::vector<int> hogs;
    for (int i = 0; i < 4; ++i) {
        hogs.push_back(connectTo(port));
        ASSERT_GE(hogs.back(), 0);
        if (i > 0) {
            ASSERT_TRUE(sendAll(hogs.back(), "POST /RPC2 HTTP/1.1\r\nHo"));
        }
        std::this_thread::sleep_for(50ms);
    }
    std::this_thread::sleep_for(400ms);

    // A newcomer is answered at once, in place of the oldest (the idle one).
    auto t0 = Clock::now();
    int client = connectTo(port);
    ASSERT_TRUE(sendAll(client, kCall));
    EXPECT_TRUE(answered(client));
    EXPECT_LT(since(t0), 2.0);
    EXPECT_TRUE(peerClosed(hogs[0], 2000)) << "the oldest waiting connection was closed";
    EXPECT_FALSE(peerClosed(hogs[3], 200)) << "the newest hog was left alone";
    EXPECT_EQ(t.server.evictions(), 1u);

    // A client that keeps finishing requests is never the one to go: the
    // hogs are, one per newcomer, each within the limit.
    for (int round = 0; round < 3; ++round) {
        std::this_thread::sleep_for(400ms);
        ASSERT_TRUE(sendAll(client, kCall));
        EXPECT_TRUE(answered(client));
        int other = connectTo(port);
        ASSERT_TRUE(sendAll(other, kCall));
        EXPECT_TRUE(answered(other)) << "round " << round;
        close(other);
    }
    ASSERT_TRUE(sendAll(client, kCall));
    EXPECT_TRUE(answered(client)) << "the busy client kept its connection";
    EXPECT_LE(t.server.connectionCount(), 4);

    // Newcomers younger than the grace wait in the backlog instead of
    // pushing each other out, and get in once someone is old enough.
    std::vector<int> fresh;
    for (int i = 0; i < 6; ++i)
        fresh.push_back(connectTo(port));
    t0 = Clock::now();
    for (int fd : fresh)
        sendAll(fd, kCall);
    int served = 0;
    for (int fd : fresh)
        served += answered(fd) ? 1 : 0;
    EXPECT_EQ(served, 6);
    EXPECT_LT(since(t0), 10.0);
    for (int fd : fresh)
        close(fd);
    for (int fd : hogs)
        close(fd);
    close(client);
}

TEST(ServerCrowding, ARequestTricklingInIsClosedAtItsDeadline)
{
    XmlRpcUtil::setVerbosity(0);
    EchoServer t;
    t.server.setRequestDeadline(1.0);
    ASSERT_TRUE(t.server.bindAndListen(0, "127.0.0.1"));
    ServerThread thread(t.server);
    const int port = t.server.port();

    // A byte every 100 ms is progress for the stall timer, but the whole
    // request must arrive within its deadline.
    int slow = connectTo(port);
    int client = connectTo(port);
    const auto t0 = Clock::now();
    bool closed = false;
    for (size_t i = 0; i < kCall.size() && !closed; ++i) {
        sendAll(slow, kCall.substr(i, 1));
        closed = peerClosed(slow, 100);
        if (i % 5 == 0) {
            // Meanwhile others are served as usual.
            ASSERT_TRUE(sendAll(client, kCall));
            EXPECT_TRUE(answered(client));
        }
    }
    EXPECT_TRUE(closed);
    EXPECT_GT(since(t0), 0.9);
    EXPECT_LT(since(t0), 4.0);

    // A body that stops short is held to the same deadline.
    int part = connectTo(port);
    sendAll(part, kCall.substr(0, kCall.size() - 5));
    const auto t1 = Clock::now();
    EXPECT_TRUE(peerClosed(part, 4000));
    EXPECT_GT(since(t1), 0.5);

    // A request that arrives whole, however large, is not affected.
    const std::string big = httpPost(callBody("Echo", "<param><value>" + std::string(4 << 20, 'x') + "</value></param>"));
    int large = connectTo(port);
    ASSERT_TRUE(sendAll(large, big));
    EXPECT_NE(bodyOf(readResponse(large, nullptr, 10000)).find("xxxx</value>"), std::string::npos);
    close(large);
    close(part);
    close(slow);
    close(client);
}
