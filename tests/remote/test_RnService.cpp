#include "RnServiceRequestor.h"
#include "RnServiceResponder.h"

#include "QiLog.h"
#include "QiOutput.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

struct Udp {
    int fd;
    uint16_t port;
    Udp()
    {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        socklen_t len = sizeof sa;
        getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len);
        port = ntohs(sa.sin_port);
    }
    ~Udp() { close(fd); }
    void sendTo(uint16_t to, const void *bytes, size_t n) const
    {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sa.sin_port = htons(to);
        sendto(fd, bytes, n, 0, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    }
    // One datagram, or empty after timeoutMs.
    std::string receive(int timeoutMs) const
    {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return std::string();
        char buf[2048];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }
};

// A UDP port free at the moment of asking.
uint16_t freeUdpPort()
{
    Udp u;
    return u.port;
}

} // namespace

TEST(RnService, RecordLayout)
{
    RnServiceRecord r;
    memcpy(r.hostName, "tenletters", 10);
    r.serviceCode = 5113;
    r.port = 9022;
    uint8_t b[28];
    r.toBytes(b);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(b), 10), "tenletters");
    for (int i = 10; i < 24; ++i)
        EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(b[24], 0xF9); // 5113 = 0x13F9
    EXPECT_EQ(b[25], 0x13);
    EXPECT_EQ(b[26], 0x3E); // 9022 = 0x233E
    EXPECT_EQ(b[27], 0x23);
    RnServiceRecord back = RnServiceRecord::fromBytes(b);
    EXPECT_EQ(back.serviceCode, 5113);
    EXPECT_EQ(back.port, 9022);
    EXPECT_STREQ(back.hostName, "tenletters");
}

TEST(RnService, ResponderAnswersAnyDatagramOnceToTheReplyPort)
{
    Udp asker;
    RnServiceResponder responder(0, asker.port, 9022);
    EXPECT_EQ(RnServiceResponder::instance(), &responder);
    responder.addService();
    ASSERT_TRUE(responder.start());
    ASSERT_NE(responder.port(), 0);

    Udp other; // the asker's own source port is not where the answer goes
    other.sendTo(responder.port(), "\x01\x02 anything", 11);
    std::string answer = asker.receive(2000);
    ASSERT_EQ(answer.size(), 28u);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::string name(host, strnlen(host, 23));
    EXPECT_EQ(answer.substr(0, name.size()), name);
    EXPECT_EQ(answer.substr(name.size(), 24 - name.size()), std::string(24 - name.size(), '\0'));
    EXPECT_EQ(answer.substr(24), std::string("\xF9\x13\x3E\x23", 4));
    EXPECT_EQ(asker.receive(400), "") << "exactly one answer per request";
    EXPECT_EQ(other.receive(0), "");

    // A port the system picked stays the responder's own: a socket asking
    // for it with address reuse cannot share it and take its questions.
    int thief = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(thief, 0);
    int on = 1;
    ASSERT_EQ(setsockopt(thief, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on), 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    sa.sin_port = htons(responder.port());
    EXPECT_NE(bind(thief, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
    EXPECT_EQ(errno, EADDRINUSE);
    close(thief);
    responder.stop();
}

TEST(RnService, RequestorAsksAndSplitsAnswersIntoRecords)
{
    uint16_t requestorPort = freeUdpPort();
    RnServiceResponder responder(0, requestorPort, 4321);
    responder.addService();
    ASSERT_TRUE(responder.start());

    RnServiceRequestor requestor(requestorPort, responder.port(), "127.0.0.1", 1500);
    ASSERT_TRUE(requestor.start());
    // Its own request reaches the responder, whose answer comes back.
    for (int i = 0; i < 100 && requestor.answers().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<RnServiceRequestor::Answer> got = requestor.answers();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].address, "127.0.0.1");
    EXPECT_EQ(got[0].record.port, 4321);
    EXPECT_EQ(got[0].record.serviceCode, 5113);
    EXPECT_STREQ(got[0].record.hostName, responder.hostName());

    // 60 bytes: two records, the last four bytes ignored.
    uint8_t datagram[60] = {};
    RnServiceRecord a, b;
    strcpy(a.hostName, "alpha");
    a.serviceCode = 1;
    a.port = 2;
    strcpy(b.hostName, "beta");
    b.serviceCode = 3;
    b.port = 4;
    a.toBytes(datagram);
    b.toBytes(datagram + 28);
    Udp sender;
    sender.sendTo(requestor.port(), datagram, sizeof datagram);
    for (int i = 0; i < 100 && requestor.answers().size() < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    got = requestor.answers();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_STREQ(got[1].record.hostName, "alpha");
    EXPECT_EQ(got[2].record.port, 4);
    // The collecting time ends on its own.
    auto t0 = std::chrono::steady_clock::now();
    requestor.wait();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 2.0);
}

// A record from the network may fill all 24 name bytes with no zero after
// them; its name still reads as text of exactly those 24 bytes.
TEST(RnService, ReceivedNamesWithoutATerminatorStayBounded)
{
    uint8_t bytes[RnServiceRecord::kSize];
    memset(bytes, 'N', 24);
    bytes[24] = 0xF9; // 5113, no zero byte anywhere in the record
    bytes[25] = 0x13;
    bytes[26] = 0x3E; // 9022
    bytes[27] = 0x23;
    RnServiceRecord r = RnServiceRecord::fromBytes(bytes);
    EXPECT_EQ(std::string(r.hostName), std::string(24, 'N'));
    EXPECT_EQ(r.serviceCode, 5113);
    uint8_t back[RnServiceRecord::kSize];
    r.toBytes(back);
    EXPECT_EQ(memcmp(back, bytes, sizeof bytes), 0) << "all 24 bytes go out again";

    // The same through a requestor's socket.
    RnServiceRequestor requestor(0, freeUdpPort(), "127.0.0.1", 1000);
    ASSERT_TRUE(requestor.start());
    Udp sender;
    sender.sendTo(requestor.port(), bytes, sizeof bytes);
    for (int i = 0; i < 100 && requestor.answers().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<RnServiceRequestor::Answer> got = requestor.answers();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(strlen(got[0].record.hostName), 24u);
    EXPECT_EQ(got[0].record.port, 9022);
}

// A flood on the discovery port once put one log line per datagram in the
// log. Each datagram is still answered; past a few a second the lines are
// counted and said once a second.
TEST(RnService, AFloodIsAnsweredButNotLoggedLineByLine)
{
    std::string lines;
    class Capture : public QiOutput {
    public:
        explicit Capture(std::string &to) : m_to(to) {}
        bool write(const char *b, size_t n) override
        {
            m_to.append(b, n);
            return true;
        }

    private:
        std::string &m_to;
    };
    auto old = swapLogOutput(std::make_unique<Capture>(lines));
    Udp asker;
    RnServiceResponder responder(0, asker.port, 9022);
    responder.addService();
    ASSERT_TRUE(responder.start());

    int answers = 0;
    const int kFlood = 3000;
    for (int i = 0; i < kFlood; ++i) {
        asker.sendTo(responder.port(), "flood", i % 7);
        // Take the answers as they come, so none is lost to a full buffer.
        while (!asker.receive(i % 50 == 49 ? 20 : 0).empty())
            ++answers;
    }
    while (!asker.receive(300).empty())
        ++answers;
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    responder.stop();
    swapLogOutput(std::move(old));

    EXPECT_GT(answers, kFlood * 9 / 10) << "answered, bar what loopback dropped";
    size_t perDatagram = 0;
    for (size_t at = 0; (at = lines.find("[127.0.0.1] ", at)) != std::string::npos; ++at)
        ++perDatagram;
    EXPECT_LT(perDatagram, 200u) << "lines for " << kFlood << " datagrams";
    EXPECT_NE(lines.find("more datagrams answered, not logged"), std::string::npos) << lines.substr(0, 2000);
}
