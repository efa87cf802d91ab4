// The PGenerator-compatible listener against a generator on the simulated
// board: replies, frames, discovery, an HCFR-like session and hostile input.
#include "OvcPGenerator.h"
#include "ProtocolHarness.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace prototest;

namespace {

const std::string kEnd("\x02\x0D", 2);

int connectLoopback(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// As HCFR does it: the command, then a single read with a 2 s time-out.
std::string hcfrCommand(int fd, const std::string &command)
{
    if (!sendAll(fd, command + kEnd))
        return "<send failed>";
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 2000) <= 0)
        return "<no reply within 2 s>";
    char buf[256];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    return n <= 0 ? "<closed>" : std::string(buf, static_cast<size_t>(n));
}

struct PGen {
    SimGenerator gen;
    OvcPGenerator pg{&gen.core, 0, 0};
    PGen() { EXPECT_TRUE(pg.start("127.0.0.1")); }
    std::string run(const std::string &c)
    {
        bool close = false;
        std::string r = pg.execute(c, close);
        return close ? "<close>" : r;
    }
};

} // namespace

TEST(PGenerator, RectanglesAreDrawnAtTheirPixelsAndDepthsAndAnsweredOk)
{
    PGen t;
    // Centred 192 x 108 patch of 8-bit 235 on 16: 10-bit 940 on 64.
    EXPECT_EQ(t.run("RGB=RECTANGLE;192,108;100;235,235,235;16,16,16;-1,-1"), "OK");
    SimFrame f = t.gen.output();
    ASSERT_EQ(f.width, 1920);
    EXPECT_EQ(lumaAt(f, 863, 540), 64);
    EXPECT_EQ(lumaAt(f, 864, 540), 940);
    EXPECT_EQ(lumaAt(f, 1055, 540), 940);
    EXPECT_EQ(lumaAt(f, 1056, 540), 64);
    EXPECT_EQ(lumaAt(f, 960, 485), 64);
    EXPECT_EQ(lumaAt(f, 960, 486), 940);
    EXPECT_EQ(lumaAt(f, 960, 593), 940);
    EXPECT_EQ(lumaAt(f, 960, 594), 64);

    // 10-bit values reach the output as sent; corner at (10, 20) shifted
    // by (5, -3).
    EXPECT_EQ(t.run("RGB=RECTANGLE10bit;100,50;0;700,700,700;100,100,100;10,20,5,-3"), "OK");
    f = t.gen.output();
    EXPECT_EQ(lumaAt(f, 14, 30), 100);
    EXPECT_EQ(lumaAt(f, 15, 30), 700);
    EXPECT_EQ(lumaAt(f, 114, 30), 700);
    EXPECT_EQ(lumaAt(f, 115, 30), 100);
    EXPECT_EQ(lumaAt(f, 50, 16), 100);
    EXPECT_EQ(lumaAt(f, 50, 17), 700);
    EXPECT_EQ(lumaAt(f, 50, 66), 700);
    EXPECT_EQ(lumaAt(f, 50, 67), 100);

    // Centring, then the shift: x = (1920 - 100) / 2 + 10 = 920.
    EXPECT_EQ(t.run("RGB=RECTANGLE;100,100;0;128,128,128;16,16,16;-1,-1,10,0"), "OK");
    f = t.gen.output();
    EXPECT_EQ(lumaAt(f, 919, 540), 64);
    EXPECT_EQ(lumaAt(f, 920, 540), 512);
    EXPECT_EQ(lumaAt(f, 1019, 540), 512);
    EXPECT_EQ(lumaAt(f, 1020, 540), 64);

    // -1,-1,-1: the background stays as shown (the previous 16 here and the
    // previous patch under it).
    EXPECT_EQ(t.run("RGB=RECTANGLE;10,10;0;235,235,235;-1,-1,-1;0,0"), "OK");
    f = t.gen.output();
    EXPECT_EQ(lumaAt(f, 5, 5), 940);
    EXPECT_EQ(lumaAt(f, 10, 10), 64);
    EXPECT_EQ(lumaAt(f, 950, 540), 512);

    // Values out of range are clamped and logged; a size past the frame is
    // cut to it.
    EXPECT_EQ(t.run("RGB=RECTANGLE;5000,-4;0;300,235,-7;999,16,16;0,0"), "OK");
    EXPECT_TRUE(t.gen.log->has("code value 300 is outside 0 .. 255, clamped")) << t.gen.log->text();
    EXPECT_TRUE(t.gen.log->has("width 5000 is outside 0 .. 1920, clamped")) << t.gen.log->text();
    EXPECT_EQ(t.run("RGB=RECTANGLE;1920,1080;0;235,235,235;16,16,16;-1,-1"), "OK");
    f = t.gen.output();
    EXPECT_EQ(lumaAt(f, 0, 0), 940);
    EXPECT_EQ(lumaAt(f, 1919, 1079), 940);
    EXPECT_EQ(t.pg.patchesShown(), 6u);
}

TEST(PGenerator, QueriesTextImageTemplatesAndUnknownCommands)
{
    PGen t;
    EXPECT_EQ(t.run("IS_ALIVE"), "ALIVE");
    EXPECT_EQ(t.run("CMD:GET_RESOLUTION"), "OK:1920x1080");
    EXPECT_EQ(t.run("CMD:GET_GPU_MEMORY"), "OK:256");
    EXPECT_EQ(t.run("RGB=TEXT;50;235,235,235;16,16,16;-1,-1;Hello"), "OK");
    EXPECT_EQ(t.run("RGB=IMAGE;/tmp/none.png"), "OK");
    EXPECT_EQ(t.run("QUIT"), "<close>");
    EXPECT_EQ(t.run(""), "<close>");
    EXPECT_EQ(t.run("HELLO"), "ERR");
    EXPECT_EQ(t.run("RGB=RECTANGLE;1,2;3"), "ERR");
    EXPECT_EQ(t.run("RGB=RECTANGLE;a,b;0;1,2,3;4,5,6;0,0"), "ERR");
    EXPECT_EQ(t.run("RGB=RECTANGLE;10,10;0;1,2;4,5,6;0,0"), "ERR");
    EXPECT_EQ(t.run("RGB=RECTANGLE;10,10;0;1,2,3;4,5,6;0,0,1"), "ERR");

    // Triplet templates: the first triple, full field before any rectangle...
    EXPECT_EQ(t.run("SETCONF:HCFR:TEMPLATERAMDISK:/var/lib/PGenerator/running/tmp/template.txt"), "OK");
    EXPECT_EQ(t.run("TESTTEMPLATERAMDISK:HCFR:128,128,128;200,200,200"), "OK");
    SimFrame f = t.gen.output();
    EXPECT_EQ(lumaAt(f, 0, 0), 512);
    EXPECT_EQ(lumaAt(f, 1919, 1079), 512);
    // ... then in the last rectangle's geometry, depth and background.
    EXPECT_EQ(t.run("RGB=RECTANGLE10bit;200,100;0;940,940,940;64,64,64;0,0"), "OK");
    EXPECT_EQ(t.run("TESTTEMPLATERAMDISK:HCFR:300,300,300;0,0,0"), "OK");
    f = t.gen.output();
    EXPECT_EQ(lumaAt(f, 199, 99), 300);
    EXPECT_EQ(lumaAt(f, 200, 99), 64);
    EXPECT_EQ(t.run("TESTTEMPLATERAMDISK:HCFR:x"), "ERR");
}

TEST(PGenerator, HcfrSessionsOfFiftyPatchesRunInLockStep)
{
    PGen t;
    const int fd = connectLoopback(t.pg.port());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(hcfrCommand(fd, "IS_ALIVE"), "ALIVE" + kEnd);
    EXPECT_EQ(hcfrCommand(fd, "CMD:GET_RESOLUTION"), "OK:1920x1080" + kEnd);
    t.gen.raster->take();
    // Each patch is on the output when its OK arrives, exactly once.
    for (int i = 0; i < 50; ++i) {
        const int v = 16 + 4 * i;
        const std::string c = std::to_string(v);
        ASSERT_EQ(hcfrCommand(fd, "RGB=RECTANGLE;384,216;100;" + c + "," + c + "," + c + ";16,16,16;-1,-1"),
                  "OK" + kEnd)
            << i;
        const auto shown = t.gen.raster->take();
        ASSERT_EQ(shown.size(), 1u) << i;
        EXPECT_EQ(shown[0].centre, v * 4) << i;
    }
    EXPECT_EQ(hcfrCommand(fd, "SETCONF:HCFR:TEMPLATERAMDISK:template"), "OK" + kEnd);
    for (int i = 0; i < 50; ++i) {
        const int v = 200 - 3 * i;
        const std::string c = std::to_string(v);
        ASSERT_EQ(hcfrCommand(fd, "TESTTEMPLATERAMDISK:HCFR:" + c + "," + c + "," + c + ";1,2,3"), "OK" + kEnd) << i;
        const auto shown = t.gen.raster->take();
        ASSERT_EQ(shown.size(), 1u) << i;
        EXPECT_EQ(shown[0].centre, v * 4) << i;
        EXPECT_EQ(shown[0].corner, 64) << i;
    }
    // Commands sent together are answered one by one, in order.
    ASSERT_TRUE(sendAll(fd, "IS_ALIVE" + kEnd + "CMD:GET_RESOLUTION" + kEnd + "BOGUS" + kEnd));
    std::string got;
    const auto end = std::chrono::steady_clock::now() + 3s;
    while (got.size() < 26 && std::chrono::steady_clock::now() < end) {
        char buf[64];
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            got.append(buf, static_cast<size_t>(n));
        }
    }
    EXPECT_EQ(got, "ALIVE" + kEnd + "OK:1920x1080" + kEnd + "ERR" + kEnd);
    // QUIT: closed, no reply.
    ASSERT_TRUE(sendAll(fd, "QUIT" + kEnd));
    char c;
    EXPECT_EQ(recv(fd, &c, 1, 0), 0);
    close(fd);
}

TEST(PGenerator, DiscoveryAnswersTheSenderWithTheHostName)
{
    PGen t;
    const int u = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in me{};
    me.sin_family = AF_INET;
    me.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(u, reinterpret_cast<sockaddr *>(&me), sizeof me), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(t.pg.discoveryPort()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Other datagrams get no answer.
    const char other[] = "Who is a PGenerator?";
    sendto(u, other, sizeof other - 1, 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    const char ask[] = "Who is a PGenerator";
    sendto(u, ask, sizeof ask - 1, 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    pollfd p{u, POLLIN, 0};
    ASSERT_GT(poll(&p, 1, 3000), 0);
    char buf[128] = {};
    const ssize_t n = recv(u, buf, sizeof buf - 1, 0);
    ASSERT_GT(n, 0);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), "I am a PGenerator " + std::string(host).substr(0, 24));
    EXPECT_EQ(poll(&p, 1, 200), 0) << "a second answer";
    close(u);
    EXPECT_EQ(OvcPGenerator::discoveryAnswer("Who is a PGenerator\r\n", "a-very-long-host-name-that-goes-on"),
              "I am a PGenerator a-very-long-host-name-th");
    EXPECT_EQ(OvcPGenerator::discoveryAnswer("who is a pgenerator", "h"), "");
}

TEST(PGenerator, HostileClientsAreBoundedAndOthersKeepBeingServed)
{
    PGen t;
    t.pg.setIdleTimeout(1.0);
    t.pg.setStallTimeout(0.5);
    // An endless command: closed once past 64 KiB.
    int a = connectLoopback(t.pg.port());
    ASSERT_GE(a, 0);
    sendAll(a, std::string(70 * 1024, 'A'));
    EXPECT_TRUE(peerGone(a));
    close(a);
    EXPECT_TRUE(t.gen.log->has("a command of more than 65536 bytes")) << t.gen.log->text();

    // Binary garbage between terminators: ERR each, the connection lives.
    a = connectLoopback(t.pg.port());
    EXPECT_EQ(hcfrCommand(a, std::string("\x01\xff\x00zz", 5)), "ERR" + kEnd);
    EXPECT_EQ(hcfrCommand(a, "RGB=RECTANGLE;;;;;"), "ERR" + kEnd);
    EXPECT_EQ(hcfrCommand(a, "RGB=RECTANGLE;99999999999999999999999,1;0;1,1,1;1,1,1;0,0"), "ERR" + kEnd);
    // A command cut off by a dropped connection is dropped with it.
    sendAll(a, "RGB=RECTANGLE;10,10;0;235,2");
    close(a);

    // Half a command then silence: closed after the stall time.
    a = connectLoopback(t.pg.port());
    sendAll(a, "IS_AL");
    EXPECT_TRUE(peerGone(a, 5s));
    close(a);
    // An idle client: closed after the idle time.
    a = connectLoopback(t.pg.port());
    EXPECT_EQ(hcfrCommand(a, "IS_ALIVE"), "ALIVE" + kEnd);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(peerGone(a, 5s));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 900ms);
    close(a);

    // The connection cap: a third client waits until one leaves.
    t.pg.setIdleTimeout(60);
    t.pg.setStallTimeout(60);
    t.pg.setMaxConnections(2);
    int c1 = connectLoopback(t.pg.port()), c2 = connectLoopback(t.pg.port());
    EXPECT_EQ(hcfrCommand(c1, "IS_ALIVE"), "ALIVE" + kEnd);
    EXPECT_EQ(hcfrCommand(c2, "IS_ALIVE"), "ALIVE" + kEnd);
    int c3 = connectLoopback(t.pg.port()); // in the backlog
    ASSERT_TRUE(sendAll(c3, "IS_ALIVE" + kEnd));
    pollfd p{c3, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 700), 0) << "served beyond the cap";
    close(c1);
    ASSERT_GT(poll(&p, 1, 3000), 0);
    char buf[16];
    EXPECT_EQ(std::string(buf, static_cast<size_t>(recv(c3, buf, sizeof buf, 0))), "ALIVE" + kEnd);
    close(c2);
    close(c3);

    // After all that the listener still draws.
    a = connectLoopback(t.pg.port());
    EXPECT_EQ(hcfrCommand(a, "RGB=RECTANGLE;1920,1080;0;100,100,100;0,0,0;0,0"), "OK" + kEnd);
    EXPECT_EQ(lumaAt(t.gen.output(), 960, 540), 400);
    close(a);
}
