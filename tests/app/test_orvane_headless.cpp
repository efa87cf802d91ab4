// The real orvane program, headless on a simulated board, on free ports.
#include "ProcessHarness.h"

using namespace harness;

namespace {

const std::string kOrvane = ORVANE_BIN;

Env quietEnv(const TempDir &dir)
{
    Env env;
    env.set("ORVANE_SIM_CAPTURE", dir.path).set("HOME", dir.path).unset("USERPROFILE");
    env.unset("ORVANE_SIM_KONA").unset("ORVANE_SIM_DECKLINK");
    return env;
}

size_t find(const std::string &text, const std::string &what)
{
    return text.find(what);
}

} // namespace

TEST(OrvaneProcess, HelpAndVersion)
{
    TempDir dir;
    Process help({kOrvane, "--help"}, Env(), dir.path + "/help");
    ASSERT_EQ(help.wait(10s), 0);
    const std::string text = help.out();
    for (const char *o : {"--simulate kona|decklink", "--headless", "--control-panel", "--monitor", "--port N",
                          "--discovery-port N", "--discovery-reply-port N", "--data-dir DIR", "--allow-remote-plugins",
                          "--help", "--version"})
        EXPECT_NE(find(text, o), std::string::npos) << o;

    Process version({kOrvane, "--version"}, Env(), dir.path + "/version");
    ASSERT_EQ(version.wait(10s), 0);
    EXPECT_EQ(version.out(), "orvane 1.2.317\n");

    Process bad({kOrvane, "--port", "70000"}, Env(), dir.path + "/bad");
    ASSERT_EQ(bad.wait(10s), 2);
    EXPECT_NE(find(bad.err(), "--help"), std::string::npos) << bad.err();
}

TEST(OrvaneProcess, NoBoardOrNoDisplayEndsWithStatusOne)
{
    TempDir dir;
    const int port = freePort(), disc = freePort();
    Process none({kOrvane, "--headless", "--port", std::to_string(port), "--discovery-port", std::to_string(disc)},
                 quietEnv(dir), dir.path + "/none");
    ASSERT_EQ(none.wait(15s), 1);
    EXPECT_NE(find(none.err(), "Coudn't find a valid Video Card"), std::string::npos) << none.err();
    EXPECT_EQ(find(none.out(), "using KonaRaster()"), std::string::npos);
    EXPECT_EQ(find(none.out(), "using BmdRaster()"), std::string::npos);

    // The tray application without any display says what to do instead.
    Env env = quietEnv(dir);
    env.unset("DISPLAY").unset("WAYLAND_DISPLAY").unset("QT_QPA_PLATFORM");
    Process gui({kOrvane, "--simulate", "kona"}, env, dir.path + "/gui");
    ASSERT_EQ(gui.wait(15s), 1);
    EXPECT_NE(find(gui.err(), "--headless"), std::string::npos) << gui.err();

    // A DISPLAY with no server behind it: Qt's platform plugin fails.
    env.set("DISPLAY", ":31999");
    Process dead({kOrvane, "--simulate", "kona"}, env, dir.path + "/dead");
    ASSERT_EQ(dead.wait(15s), 1);
    EXPECT_NE(find(dead.err(), "--headless"), std::string::npos) << dead.err();
}

TEST(OrvaneProcess, HeadlessKonaServesBarsRpcDiscoveryAndStopsInOrder)
{
    TempDir dir;
    const int port = freePort(), disc = freePort();
    Process gen({kOrvane, "--simulate", "kona", "--headless", "--port", std::to_string(port), "--discovery-port",
                 std::to_string(disc)},
                quietEnv(dir), dir.path + "/gen");

    // The first frame on the output is the SMPTE colour bars: seven bars in
    // the top part, but not in the bottom row (chips and pluge there).
    Capture c;
    std::string why;
    ASSERT_TRUE(waitCapture(dir.path, "kona", c, [](const Capture &k) { return k.sequence >= 1; }))
        << gen.out() << gen.err();
    EXPECT_EQ(c.layout, "v210");
    EXPECT_EQ(c.width, 1920);
    EXPECT_EQ(c.height, 1080);
    EXPECT_TRUE(rowHasBars(c, c.height * 3 / 10, &why)) << why;
    EXPECT_FALSE(rowHasBars(c, c.height * 9 / 10, &why)) << why;
    const std::string log0 = gen.out();
    EXPECT_NE(find(log0, "using KonaRaster()"), std::string::npos) << log0;
    EXPECT_EQ(find(log0, "using BmdRaster()"), std::string::npos);

    // A discovery datagram is answered to port 3530 of the asker with one
    // record naming this host, the service code and the port served.
    {
        int rx = socket(AF_INET, SOCK_DGRAM, 0);
        int one = 1;
        setsockopt(rx, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(3530);
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        ASSERT_EQ(bind(rx, reinterpret_cast<sockaddr *>(&a), sizeof a), 0) << "port 3530 busy";
        timeval tv{0, 200000};
        setsockopt(rx, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(disc));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        unsigned char rec[64] = {};
        ssize_t n = -1;
        for (int i = 0; i < 25 && n < 0; ++i) {
            sendto(rx, "who is there", 12, 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
            n = recv(rx, rec, sizeof rec, 0);
        }
        close(rx);
        ASSERT_EQ(n, 28);
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(rec)), std::string(host).substr(0, 23));
        EXPECT_EQ(rec[24] | (rec[25] << 8), 5113);
        EXPECT_EQ(rec[26] | (rec[27] << 8), port);
    }

    // SetGen from Python's client changes what the board outputs.
    const std::string r1 = pyXmlRpc(port, "SetGen({'VideoFormat': '720p 59.94'})");
    EXPECT_TRUE(std::regex_match(r1, std::regex("-?\\d+\\n"))) << r1;
    ASSERT_TRUE(waitCapture(dir.path, "kona", c, [](const Capture &k) { return k.width == 1280; })) << gen.out();
    EXPECT_EQ(c.height, 720);
    EXPECT_EQ(c.videoFormat, "720p 59.94");
    EXPECT_TRUE(rowHasBars(c, c.height * 3 / 10, &why)) << why;
    const std::string r2 = pyXmlRpc(port, "SetGen('fullfield')");
    EXPECT_EQ(std::stoll(r2), std::stoll(r1) + 1) << r2;
    ASSERT_TRUE(waitCapture(dir.path, "kona", c, [](const Capture &k) {
        return k.width == 1280 && rowHasBars(k, k.height * 9 / 10);
    })) << gen.out();

    // SIGTERM: the event loop ends and the shutdown runs in order, quickly.
    const auto t0 = Clock::now();
    gen.signal(SIGTERM);
    ASSERT_EQ(gen.wait(2s), 0) << gen.out() << gen.err();
    EXPECT_LT(Clock::now() - t0, 2s);
    const std::string log = gen.out();
    const size_t sig = find(log, "signal 15, shutting down");
    const size_t xml = find(log, "stopping the XML-RPC server");
    const size_t eng = find(log, "shutting the engine down");
    const size_t done = find(log, "engine shut down");
    ASSERT_NE(sig, std::string::npos) << log;
    ASSERT_NE(xml, std::string::npos) << log;
    ASSERT_NE(eng, std::string::npos) << log;
    ASSERT_NE(done, std::string::npos) << log;
    EXPECT_LT(sig, xml);
    EXPECT_LT(xml, eng);
    EXPECT_LT(eng, done);
}

TEST(OrvaneProcess, DeckLinkOnlyMachineUsesBmdRaster)
{
    TempDir dir;
    const int port = freePort(), disc = freePort();
    Process gen({kOrvane, "--simulate", "decklink", "--headless", "--port", std::to_string(port),
                 "--discovery-port", std::to_string(disc)},
                quietEnv(dir), dir.path + "/gen");
    Capture c;
    ASSERT_TRUE(waitCapture(dir.path, "decklink", c, [](const Capture &k) { return k.sequence >= 1; }))
        << gen.out() << gen.err();
    EXPECT_EQ(c.width, 1920);
    gen.signal(SIGINT);
    ASSERT_EQ(gen.wait(5s), 0);
    const std::string log = gen.out();
    EXPECT_NE(find(log, "using BmdRaster()"), std::string::npos) << log;
    EXPECT_EQ(find(log, "using KonaRaster()"), std::string::npos);
}

TEST(OrvaneProcess, DataDirAndUserFoldersAreScannedWithTheUserPrefix)
{
    TempDir dir;
    const std::string data = dir.path + "/data", home = dir.path + "/home", profile = dir.path + "/profile";
    const std::string card = std::string(ORVANE_DATA_DIR) + "/ImageFiles/Nimbra-Test-Card-1080.png";
    ASSERT_EQ(std::system(("mkdir -p '" + data + "/ImageFiles/UserImages' '" + home + "/Documents/Corvent/Patterns' '" +
                           profile + "/Documents/Corvent/Patterns'")
                              .c_str()),
              0);
    ASSERT_EQ(std::system(("cp '" + card + "' '" + data + "/ImageFiles/UserImages/mine.png' && cp '" + card + "' '" +
                           home + "/Documents/Corvent/Patterns/homeimage.png' && cp '" + card + "' '" + profile +
                           "/Documents/Corvent/Patterns/profileimage.png'")
                              .c_str()),
              0);
    const int port = freePort(), disc = freePort();
    Env env = quietEnv(dir);
    env.set("HOME", home).set("USERPROFILE", profile);
    Process gen({kOrvane, "--simulate", "kona", "--headless", "--data-dir", data, "--port", std::to_string(port),
                 "--discovery-port", std::to_string(disc)},
                env, dir.path + "/gen");
    Capture c;
    ASSERT_TRUE(waitCapture(dir.path, "kona", c, [](const Capture &k) { return k.sequence >= 1; })) << gen.err();
    const std::string list = pyXmlRpc(port, "PatternOption()");
    gen.signal(SIGTERM);
    ASSERT_EQ(gen.wait(5s), 0);
    const std::string log = gen.out();
    // The engine looks for its fonts in the data folder given (it has none).
    EXPECT_NE(log.find(data + "/datafiles/"), std::string::npos) << log;
    if (list.find("'ImageFile'") != std::string::npos) {
        EXPECT_NE(list.find("'user/mine': 'Alias/ImageFile'"), std::string::npos) << list;
        EXPECT_NE(list.find("'user/profileimage': 'Alias/ImageFile'"), std::string::npos) << list;
        EXPECT_EQ(list.find("homeimage"), std::string::npos) << list; // USERPROFILE wins over HOME
    } else {
        // Without the image-file pattern the scans still run and say so.
        const size_t images = log.find(data + "/ImageFiles/UserImages");
        const size_t patterns = log.find(profile + "/Documents/Corvent/Patterns");
        ASSERT_NE(images, std::string::npos) << log;
        ASSERT_NE(patterns, std::string::npos) << log;
        EXPECT_LT(images, patterns);
        EXPECT_EQ(log.find(home + "/Documents"), std::string::npos);
    }
}

// The program takes the user's locale (Qt sets it from the environment);
// numbers it reads and writes and the names it matches stay as in the C
// locale: a decimal comma and Turkish case rules change nothing.
TEST(OrvaneProcess, HeadlessUnderCommaDecimalAndTurkishLocales)
{
    for (const char *loc : {"de_DE.UTF-8", "tr_TR.UTF-8"}) {
        SCOPED_TRACE(loc);
        ASSERT_EQ(shell(std::string("LC_ALL=") + loc + " locale decimal_point 2>&1"), ",\n")
            << loc << " is missing (scripts/setup-deps generates it)";
        TempDir dir;
        const int port = freePort(), disc = freePort();
        Env env = quietEnv(dir);
        env.set("LC_ALL", loc).set("LANG", loc);
        Process gen({kOrvane, "--simulate", "kona", "--headless", "--port", std::to_string(port),
                     "--discovery-port", std::to_string(disc)},
                    env, dir.path + "/gen");
        Capture c;
        ASSERT_TRUE(waitCapture(dir.path, "kona", c, [](const Capture &k) { return k.sequence >= 1; }))
            << gen.out() << gen.err();

        // "FULLFIELD" (an I) matches "fullfield": the bars reach the bottom
        // row. A double travels as 2.5 and is kept as "2.500000".
        const std::string r = pyXmlRpc(port, "SetGen({'Pattern': 'COLORBARS', 'Style': 'FULLFIELD', "
                                             "'Brightness': 75, 'Gamma': 2.5})");
        EXPECT_TRUE(std::regex_match(r, std::regex("-?\\d+\\n"))) << r;
        std::string why;
        ASSERT_TRUE(waitCapture(dir.path, "kona", c, [](const Capture &k) {
            return rowHasBars(k, k.height * 9 / 10);
        })) << gen.out();
        const std::string options = pyXmlRpc(port, "GetGenOptions()[-1]");
        EXPECT_NE(options.find("'Gamma': '2.500000'"), std::string::npos) << options;
        EXPECT_NE(options.find("'Style': 'FULLFIELD'"), std::string::npos) << options;

        gen.signal(SIGTERM);
        ASSERT_EQ(gen.wait(5s), 0) << gen.err();
        const std::string log = gen.out();
        std::smatch m;
        ASSERT_TRUE(std::regex_search(log, m, std::regex("pattern rendered COLORBARS in time ([^\\n]*)\\n"))) << log;
        EXPECT_TRUE(std::regex_match(m[1].str(), std::regex("[0-9]+(\\.[0-9]+)?(e-[0-9]+)?"))) << m[1];
        EXPECT_EQ(log.find("unknown option: 'Style'"), std::string::npos) << log;
    }
}

TEST(OrvaneProcess, DiscoveryAnswersGoToTheReplyPortGiven)
{
    TempDir dir;
    const int port = freePort(), disc = freePort(), reply = freePort();
    Process gen({kOrvane, "--simulate", "kona", "--headless", "--port", std::to_string(port), "--discovery-port",
                 std::to_string(disc), "--discovery-reply-port", std::to_string(reply)},
                quietEnv(dir), dir.path + "/gen");
    int rx = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(reply));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(rx, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    timeval tv{0, 200000};
    setsockopt(rx, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(disc));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    unsigned char rec[64] = {};
    ssize_t n = -1;
    for (int i = 0; i < 50 && n < 0; ++i) {
        sendto(rx, "who is there", 12, 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        n = recv(rx, rec, sizeof rec, 0);
    }
    close(rx);
    ASSERT_EQ(n, 28) << gen.err();
    EXPECT_EQ(rec[24] | (rec[25] << 8), 5113);
    EXPECT_EQ(rec[26] | (rec[27] << 8), port);
    gen.signal(SIGTERM);
    EXPECT_EQ(gen.wait(10s), 0);
}
