#include "QiLog.h"
#include "StdioOutput.h"
#include "UdpOutput.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

class CaptureOutput : public QiOutput {
public:
    explicit CaptureOutput(int limit = 6) : QiOutput(limit) {}
    bool write(const char *bytes, size_t length) override
    {
        std::lock_guard<std::mutex> g(lock);
        lines.emplace_back(bytes, length);
        return true;
    }
    std::mutex lock;
    std::vector<std::string> lines;
};

// A UDP socket on 127.0.0.1 with a port the kernel picks.
struct UdpSink {
    int fd = -1;
    uint16_t port = 0;
    UdpSink()
    {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~UdpSink() { close(fd); }
    // One datagram, or "" after the timeout.
    std::string receive(int timeoutMs = 2000)
    {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return {};
        char buf[2048];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }
};

} // namespace

TEST(QiLog, PrefixesPerLevelAndLimitsWithoutFormatting)
{
    CaptureOutput out(2);
    log(&out, 0, "e %d\n", 1);
    log(&out, 1, "w\n");
    log(&out, 2, "i\n");
    log(&out, 3, "m\n");
    log(&out, 5, "n\n");
    ASSERT_EQ(out.lines.size(), 3u);
    EXPECT_EQ(out.lines[0], "Error: e 1\n");
    EXPECT_EQ(out.lines[1], "Warning: w\n");
    EXPECT_EQ(out.lines[2], "Info: i\n");

    CaptureOutput all(6);
    log(&all, 3, "detail\n");
    log(&all, 4, "x\n");
    log(&all, 5, "y");
    ASSERT_EQ(all.lines.size(), 3u);
    EXPECT_EQ(all.lines[0], "Minutiae: detail\n");
    EXPECT_EQ(all.lines[1], "HDMIx\n") << "level 4 prefix is bare";
    EXPECT_EQ(all.lines[2], "Noise: y") << "no line end is added";

    // A message far longer than any fixed buffer arrives whole.
    std::string big(100000, 'x');
    log(&all, 2, "%s|", big.c_str());
    EXPECT_EQ(all.lines.back(), "Info: " + big + "|");

    // A dropped level must not evaluate %s on a bad pointer: it is never formatted.
    CaptureOutput quiet(1);
    log(&quiet, 3, "%s", reinterpret_cast<const char *>(1));
    EXPECT_TRUE(quiet.lines.empty());
}

TEST(QiLog, CurrentOutputReceivesQiLogLines)
{
    auto cap = std::make_unique<CaptureOutput>(3);
    CaptureOutput *c = cap.get();
    auto old = swapLogOutput(std::move(cap));
    qiLog(3, "hello %s\n", "there");
    qiLog(4, "dropped\n");
    log(logOutput(), 1, "warn\n");
    ASSERT_EQ(c->lines.size(), 2u);
    EXPECT_EQ(c->lines[0], "Minutiae: hello there\n");
    EXPECT_EQ(c->lines[1], "Warning: warn\n");
    swapLogOutput(std::move(old));
}

TEST(QiLog, RedirectToNetSendsOneDatagramPerLineAndBack)
{
    auto cap = std::make_unique<CaptureOutput>();
    CaptureOutput *local = cap.get();
    auto old = swapLogOutput(std::move(cap));

    EXPECT_FALSE(redirectToLocal()) << "nothing redirected yet";
    qiLog(2, "local one\n");
    ASSERT_EQ(local->lines.size(), 1u);

    UdpSink sink;
    redirectToNet("127.0.0.1", sink.port);
    qiLog(3, "net %d\n", 1);
    qiLog(2, "net two\n");
    EXPECT_EQ(sink.receive(), "Minutiae: net 1\n");
    EXPECT_EQ(sink.receive(), "Info: net two\n");
    EXPECT_EQ(local->lines.size(), 1u);

    // Redirecting again replaces the network output; the local one stays aside.
    UdpSink second;
    redirectToNet("127.0.0.1", second.port);
    qiLog(2, "to second\n");
    EXPECT_EQ(second.receive(), "Info: to second\n");
    EXPECT_EQ(sink.receive(200), "");

    EXPECT_TRUE(redirectToLocal());
    qiLog(2, "local again\n");
    ASSERT_EQ(local->lines.size(), 2u);
    EXPECT_EQ(local->lines[1], "Info: local again\n");
    EXPECT_FALSE(redirectToLocal());

    // An unresolvable host installs an output that drops its lines.
    redirectToNet("no-such-host.invalid", second.port);
    qiLog(2, "lost\n");
    EXPECT_TRUE(redirectToLocal());
    EXPECT_EQ(local->lines.size(), 2u);

    swapLogOutput(std::move(old));
}

TEST(QiLog, SwappingOutputsWhileThreadsLogIsSafe)
{
    auto old = swapLogOutput(std::make_unique<CaptureOutput>());
    UdpSink sink;
    std::atomic<bool> stop{false};
    std::vector<std::thread> loggers;
    for (int t = 0; t < 4; ++t)
        loggers.emplace_back([&stop, t] {
            int i = 0;
            while (!stop)
                qiLog(2, "thread %d line %d\n", t, i++);
        });
    for (int i = 0; i < 200; ++i) {
        redirectToNet("127.0.0.1", sink.port);
        if (i % 3 == 0)
            swapLogOutput(std::make_unique<CaptureOutput>());
        redirectToLocal();
    }
    stop = true;
    for (auto &t : loggers)
        t.join();
    // Every datagram that arrived is one whole line.
    for (std::string d = sink.receive(50); !d.empty(); d = sink.receive(50)) {
        ASSERT_EQ(d.rfind("Info: thread ", 0), 0u) << d;
        ASSERT_EQ(d.back(), '\n');
    }
    swapLogOutput(std::move(old));
}
