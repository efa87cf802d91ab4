// The real orvane program speaking the calibration programs' protocols on a
// simulated board: all three beside XML-RPC at once, and ArgyllCMS itself
// (its -dweb display) driving it through a few patches.
#include "ProcessHarness.h"

#include <poll.h>

using namespace harness;

namespace {

const std::string kOrvane = ORVANE_BIN;
const std::string kEnd("\x02\x0D", 2);

Env protocolEnv(const TempDir &dir)
{
    Env env;
    env.set("ORVANE_SIM_CAPTURE", dir.path).set("HOME", dir.path).unset("USERPROFILE");
    env.unset("ORVANE_SIM_KONA").unset("ORVANE_SIM_DECKLINK");
    return env;
}

int listenLoopback(int &port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    listen(fd, 4);
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

int acceptWithin(int fd, std::chrono::milliseconds limit)
{
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(limit.count())) <= 0)
        return -1;
    return accept(fd, nullptr, nullptr);
}

int connectLoopback(int port)
{
    for (int i = 0; i < 100; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0)
            return fd;
        close(fd);
        std::this_thread::sleep_for(100ms);
    }
    return -1;
}

bool sendText(int fd, const std::string &s) { return send(fd, s.data(), s.size(), MSG_NOSIGNAL) == ssize_t(s.size()); }

std::string readSome(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0)
        return {};
    char buf[512];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string framed(const std::string &xml)
{
    const uint32_t n = static_cast<uint32_t>(xml.size());
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8)
        s += static_cast<char>((n >> shift) & 0xff);
    return s + xml;
}

bool centreIs(const Capture &c, int luma) { return c.layout == "v210" && v210Pixel(c, c.width / 2, c.height / 2).y == luma; }

} // namespace

TEST(OrvaneProtocols, AllThreeRunBesideXmlRpcAndStopInOrder)
{
    TempDir dir;
    const int port = freePort(), disc = freePort(), pgen = freePort(), pgenDisc = freePort();
    int resolvePort = 0, argyllPort = 0;
    const int resolveServer = listenLoopback(resolvePort), argyllServer = listenLoopback(argyllPort);
    Process gen({kOrvane, "--simulate", "kona", "--headless", "--port", std::to_string(port), "--discovery-port",
                 std::to_string(disc), "--pgenerator=" + std::to_string(pgen), "--pgenerator-discovery-port",
                 std::to_string(pgenDisc), "--resolve", "127.0.0.1:" + std::to_string(resolvePort), "--argyll-web",
                 "127.0.0.1:" + std::to_string(argyllPort)},
                protocolEnv(dir), dir.path + "/gen");

    // ArgyllCMS's side: the first poll gets a dark grey, full field.
    const int poll1 = acceptWithin(argyllServer, 15s);
    ASSERT_GE(poll1, 0) << gen.out() << gen.err();
    EXPECT_NE(readSome(poll1, 5000).find("GET /ajax/messages?1 HTTP/1.1"), std::string::npos);
    sendText(poll1, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n#404040");
    close(poll1);
    Capture c;
    ASSERT_TRUE(waitCapture(dir.path, "kona", c, [](const Capture &k) { return centreIs(k, 256); })) << gen.out();
    // The next poll is its sign that the patch is up; it is held open.
    const int poll2 = acceptWithin(argyllServer, 10s);
    ASSERT_GE(poll2, 0);
    EXPECT_NE(readSome(poll2, 5000).find("GET /ajax/messages?2 "), std::string::npos);

    // The Resolve-style program's side.
    const int program = acceptWithin(resolveServer, 15s);
    ASSERT_GE(program, 0) << gen.out();
    sendText(program, framed("<calibration><color red=\"700\" green=\"700\" blue=\"700\" bits=\"10\"/><background "
                             "red=\"64\" green=\"64\" blue=\"64\" bits=\"10\"/><geometry x=\"0.25\" y=\"0.25\" "
                             "cx=\"0.5\" cy=\"0.5\"/></calibration>"));
    ASSERT_TRUE(waitCapture(dir.path, "kona", c, [](const Capture &k) { return centreIs(k, 700); })) << gen.out();
    EXPECT_EQ(v210Pixel(c, 10, 10).y, 64);

    // A PGenerator client.
    const int hcfr = connectLoopback(pgen);
    ASSERT_GE(hcfr, 0);
    sendText(hcfr, "RGB=RECTANGLE10bit;960,540;100;333,333,333;64,64,64;-1,-1" + kEnd);
    EXPECT_EQ(readSome(hcfr, 2000), "OK" + kEnd);
    ASSERT_TRUE(waitCapture(dir.path, "kona", c, [](const Capture &k) { return centreIs(k, 333); }));

    // And XML-RPC as ever.
    const std::string r = pyXmlRpc(port, "SetGen({'Pattern': 'Window', 'Size': '100'})");
    EXPECT_TRUE(std::regex_match(r, std::regex("-?\\d+\\n"))) << r;
    ASSERT_TRUE(waitCapture(dir.path, "kona", c, [](const Capture &k) { return centreIs(k, 502); }));

    const std::string log = gen.out();
    EXPECT_NE(log.find("OvcPGenerator: listening on TCP port " + std::to_string(pgen)), std::string::npos) << log;
    EXPECT_NE(log.find("Resolve-style client for 127.0.0.1:" + std::to_string(resolvePort)), std::string::npos);
    EXPECT_NE(log.find("ArgyllCMS web-display client for 127.0.0.1:" + std::to_string(argyllPort)),
              std::string::npos);

    // SIGTERM with a poll held and every connection open: out promptly.
    gen.signal(SIGTERM);
    ASSERT_EQ(gen.wait(5s), 0) << gen.out() << gen.err();
    // The held poll is just closed: no farewell request.
    std::string rest = readSome(poll2, 2000);
    EXPECT_EQ(rest, "");
    EXPECT_EQ(acceptWithin(argyllServer, 300ms), -1);
    close(poll2);
    close(program);
    close(hcfr);
    close(resolveServer);
    close(argyllServer);
}

TEST(OrvaneProtocols, HelpNamesTheProtocolOptionsAndBadValuesAreRefused)
{
    TempDir dir;
    Process help({kOrvane, "--help"}, Env(), dir.path + "/help");
    ASSERT_EQ(help.wait(10s), 0);
    for (const char *o : {"--resolve HOST[:PORT]", "--argyll-web HOST[:PORT]", "--pgenerator[=PORT]",
                          "--pgenerator-discovery-port N", "20002", "8080", "85", "1977"})
        EXPECT_NE(help.out().find(o), std::string::npos) << o;
    for (const std::vector<std::string> &bad : {std::vector<std::string>{"--resolve", ":20002"},
                                                {"--resolve", "host:0"}, {"--argyll-web", "host:99999"},
                                                {"--pgenerator=abc"}, {"--resolve"}}) {
        std::vector<std::string> argv = {kOrvane, "--simulate", "kona", "--headless"};
        argv.insert(argv.end(), bad.begin(), bad.end());
        Process p(argv, protocolEnv(dir), dir.path + "/bad");
        EXPECT_EQ(p.wait(10s), 2) << bad[0] << " " << p.err();
    }
}

// ArgyllCMS 2.3 looks through /dev for serial instruments and can block on
// terminal devices when no meter is attached; in a mount namespace whose
// /dev holds only null, zero, random and urandom it does not.
TEST(OrvaneProtocols, ArgyllCmsWebDisplayDrivesThePatches)
{
    if (!fileExists("/usr/bin/dispwin"))
        GTEST_SKIP() << "ArgyllCMS (argyll) is not installed";
    if (geteuid() != 0)
        GTEST_SKIP() << "a private /dev needs root (unshare -m)";
    TempDir dir;
    int st = 1;
    shell("unshare -m true", &st);
    if (st != 0)
        GTEST_SKIP() << "unshare -m is not permitted here";
    const std::string script = dir.path + "/private-dev.sh";
    std::ofstream(script) << "#!/bin/sh\n"
                             "mount -t tmpfs -o mode=755 none /dev || exit 97\n"
                             "mknod -m 666 /dev/null c 1 3; mknod -m 666 /dev/zero c 1 5\n"
                             "mknod -m 666 /dev/random c 1 8; mknod -m 666 /dev/urandom c 1 9\n"
                             "exec \"$@\"\n";
    ::chmod(script.c_str(), 0755);

    const int web = freePort(), port = freePort(), disc = freePort();
    Process gen({kOrvane, "--simulate", "kona", "--headless", "--port", std::to_string(port), "--discovery-port",
                 std::to_string(disc), "--argyll-web", "127.0.0.1:" + std::to_string(web)},
                protocolEnv(dir), dir.path + "/gen");
    // White, half and quarter grey: 8-bit FF, 80, 40 shifted to 1020, 512, 256.
    Process argyll({"/usr/bin/unshare", "-m", script, "/usr/bin/dispwin", "-v", "-dweb:" + std::to_string(web), "-C",
                    "1,1,1", "-C", "0.5,0.5,0.5", "-C", "0.25,0.25,0.25"},
                   Env(), dir.path + "/dispwin");
    std::vector<int> seen;
    const auto end = Clock::now() + 60s;
    while (Clock::now() < end && argyll.running()) {
        Capture c;
        if (readCapture(dir.path, "kona", c) && c.layout == "v210") {
            const int y = v210Pixel(c, c.width / 2, c.height / 2).y;
            if (seen.empty() || seen.back() != y)
                seen.push_back(y);
        }
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_EQ(argyll.wait(5s), 0) << argyll.out() << argyll.err();
    const std::string said = argyll.out() + argyll.err();
    EXPECT_NE(said.find("Patch no 3 color 0.250000 0.250000 0.250000"), std::string::npos) << said;
    // The colours in Argyll's order, each full field; the bars came first.
    std::vector<int> patches;
    for (int y : seen)
        if (y == 1020 || y == 512 || y == 256)
            patches.push_back(y);
    EXPECT_EQ(patches, (std::vector<int>{1020, 512, 256})) << gen.out();
    Capture c;
    ASSERT_TRUE(readCapture(dir.path, "kona", c));
    EXPECT_EQ(v210Pixel(c, 0, 0).y, 256);
    EXPECT_EQ(v210Pixel(c, c.width - 1, c.height - 1).y, 256);
    gen.signal(SIGTERM);
    EXPECT_EQ(gen.wait(5s), 0) << gen.out() << gen.err();
}
