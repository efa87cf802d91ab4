// The Resolve-style client: both dialects read by the XML parser, then end
// to end against a test server written from the framing (4-byte big-endian
// length, XML, no reply) with the generator on the simulated board.
#include "OvcResolveClient.h"
#include "ProtocolHarness.h"

#include <gtest/gtest.h>

using namespace prototest;

namespace {

std::string frame(const std::string &xml)
{
    const uint32_t n = static_cast<uint32_t>(xml.size());
    std::string s;
    s += static_cast<char>(n >> 24);
    s += static_cast<char>(n >> 16);
    s += static_cast<char>(n >> 8);
    s += static_cast<char>(n);
    return s + xml;
}

std::string lengthOnly(uint32_t n)
{
    std::string s;
    s += static_cast<char>(n >> 24);
    s += static_cast<char>(n >> 16);
    s += static_cast<char>(n >> 8);
    s += static_cast<char>(n);
    return s;
}

// A grey full-field message of the first dialect at 10 bits.
std::string grey10(int v)
{
    const std::string c = std::to_string(v);
    return "<calibration><color red=\"" + c + "\" green=\"" + c + "\" blue=\"" + c +
           "\" bits=\"10\"/><background red=\"64\" green=\"64\" blue=\"64\" bits=\"10\"/>"
           "<geometry x=\"0\" y=\"0\" cx=\"1\" cy=\"1\"/></calibration>";
}

OvcPatch parsed(const std::string &xml)
{
    OvcPatch p;
    std::string error;
    EXPECT_TRUE(OvcResolveClient::parse(xml, p, error, 64, 10)) << error << "\n" << xml;
    return p;
}

std::string refused(const std::string &xml)
{
    OvcPatch p;
    std::string error;
    EXPECT_FALSE(OvcResolveClient::parse(xml, p, error, 64, 10)) << xml;
    return error;
}

} // namespace

TEST(ResolveClient, BothDialectsReadAsPatches)
{
    // First dialect: each element at its own depth; the sample geometry.
    OvcPatch p = parsed("<?xml version=\"1.0\" encoding=\"utf-8\"?><calibration><color red=\"940\" green=\"512\" "
                        "blue=\"64\" bits=\"10\"/><background red=\"128\" green=\"128\" blue=\"128\" bits=\"8\"/>"
                        "<geometry x=\"0.4500\" y=\"0.4500\" cx=\"0.1000\" cy=\"0.1000\"/></calibration>");
    EXPECT_EQ(p.fg[0], 940u);
    EXPECT_EQ(p.fg[1], 512u);
    EXPECT_EQ(p.fg[2], 64u);
    EXPECT_EQ(p.fgBits, 10);
    EXPECT_EQ(p.bg[0], 128u);
    EXPECT_EQ(p.bgBits, 8);
    EXPECT_DOUBLE_EQ(p.x, 0.45);
    EXPECT_DOUBLE_EQ(p.cy, 0.1);
    // No bits: 8; the background takes the patch's; absent cx, cy are 1; a
    // decimal comma is read as a point.
    p = parsed("<calibration><color red=\"1\" green=\"2\" blue=\"3\"/><background red=\"4\" green=\"5\" "
               "blue=\"6\"/><geometry x=\"0,25\" y=\"0,5\"/></calibration>");
    EXPECT_EQ(p.fgBits, 8);
    EXPECT_EQ(p.bgBits, 8);
    EXPECT_DOUBLE_EQ(p.x, 0.25);
    EXPECT_DOUBLE_EQ(p.y, 0.5);
    EXPECT_DOUBLE_EQ(p.cx, 1.0);
    EXPECT_DOUBLE_EQ(p.cy, 1.0);
    p = parsed("<calibration><color red=\"1\" green=\"2\" blue=\"3\" bits=\"12\"/><background red=\"4095\" "
               "green=\"5\" blue=\"6\"/></calibration>");
    EXPECT_EQ(p.bgBits, 12);
    EXPECT_EQ(p.bg[0], 4095u);

    // Second dialect: two rectangles, the first the background (its
    // geometry ignored); colex carries the exact triple and wins.
    p = parsed("<calibration><shapes><rectangle><color red=\"10\" green=\"20\" blue=\"30\"/><geometry x=\"0.1\" "
               "y=\"0.1\" cx=\"0.2\" cy=\"0.2\"/></rectangle><rectangle><color red=\"235\" green=\"235\" "
               "blue=\"235\"/><colex red=\"941\" green=\"942\" blue=\"943\" bits=\"10\"/><geometry x=\"0.3\" "
               "y=\"0.4\" cx=\"0.5\" cy=\"0.6\"/></rectangle></shapes></calibration>");
    EXPECT_EQ(p.fg[0], 941u);
    EXPECT_EQ(p.fg[2], 943u);
    EXPECT_EQ(p.fgBits, 10);
    EXPECT_EQ(p.bg[1], 20u);
    EXPECT_EQ(p.bgBits, 8);
    EXPECT_DOUBLE_EQ(p.x, 0.3);
    EXPECT_DOUBLE_EQ(p.y, 0.4);
    EXPECT_DOUBLE_EQ(p.cx, 0.5);
    EXPECT_DOUBLE_EQ(p.cy, 0.6);
    // One rectangle: black background (the raster's black, given here).
    p = parsed("<calibration><shapes><rectangle><color red=\"235\" green=\"16\" blue=\"16\"/><geometry x=\"0\" "
               "y=\"0\" cx=\"1\" cy=\"1\"/></rectangle></shapes></calibration>");
    EXPECT_EQ(p.fg[0], 235u);
    EXPECT_EQ(p.fgBits, 8);
    EXPECT_EQ(p.bg[0], 64u);
    EXPECT_EQ(p.bgBits, 10);

    // Values beyond the depth and geometry outside 0..1 are clamped.
    p = parsed("<calibration><color red=\"1100\" green=\"-3\" blue=\"5\" bits=\"10\"/><geometry x=\"-0.5\" "
               "y=\"1.5\"/></calibration>");
    EXPECT_EQ(p.fg[0], 1023u);
    EXPECT_EQ(p.fg[1], 0u);
    EXPECT_DOUBLE_EQ(p.x, 0.0);
    EXPECT_DOUBLE_EQ(p.y, 1.0);
}

TEST(ResolveClient, MalformedAndHostileXmlIsRefusedWithAReason)
{
    EXPECT_NE(refused("<calibration><color red=\"1\" green=\"2\" blue=\"3\"></calibration>").find("well-formed"),
              std::string::npos);
    EXPECT_NE(refused("<calibrate><color red=\"1\" green=\"2\" blue=\"3\"/></calibrate>").find("not <calibration>"),
              std::string::npos);
    EXPECT_NE(refused("<calibration><color red=\"1\" green=\"2\" blue=\"3\" bits=\"9\"/></calibration>")
                  .find("bits must be 8, 10 or 12"),
              std::string::npos);
    EXPECT_NE(refused("<calibration><colex red=\"1\" green=\"2\" blue=\"3\" bits=\"16\"/></calibration>")
                  .find("no <color>"),
              std::string::npos);
    EXPECT_NE(refused("<calibration><color red=\"x\" green=\"2\" blue=\"3\"/></calibration>").find("whole number"),
              std::string::npos);
    EXPECT_NE(refused("<calibration><color green=\"2\" blue=\"3\"/></calibration>").find("has no red"),
              std::string::npos);
    EXPECT_NE(refused("<calibration><color red=\"1\" green=\"2\" blue=\"3\"/><geometry x=\"1e400\"/></calibration>")
                  .find("not a number"),
              std::string::npos);
    EXPECT_NE(refused("<calibration><shapes/></calibration>").find("no <rectangle>"), std::string::npos);
    EXPECT_FALSE(refused("").empty());
    EXPECT_FALSE(refused(std::string("<calibration>\xff\xfe</calibration>")).empty());
    // Entities are never expanded: a document type is refused outright.
    const std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\"><!ENTITY lol2 "
                               "\"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">]><calibration><color "
                               "red=\"&lol2;\" green=\"1\" blue=\"1\"/></calibration>";
    EXPECT_NE(refused(laughs).find("document type"), std::string::npos);
    EXPECT_NE(refused("<!DOCTYPE x SYSTEM \"file:///etc/passwd\"><calibration/>").find("document type"),
              std::string::npos);
    // Deep nesting stops at the depth limit, in time linear in the input.
    std::string deep = "<calibration>";
    for (int i = 0; i < 10000; ++i)
        deep += "<a>";
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_NE(refused(deep).find("nested too deeply"), std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
}

TEST(ResolveClient, MessagesFromAServerAreShownEachBeforeTheNextIsRead)
{
    SimGenerator gen;
    Listener server;
    OvcResolveClient client(&gen.core, "127.0.0.1", server.port);
    client.start();
    int c = server.accept();
    ASSERT_GE(c, 0);

    // First dialect, sample geometry: 10 % of each side at 45 %.
    ASSERT_TRUE(sendAll(c, frame("<calibration><color red=\"940\" green=\"940\" blue=\"940\" bits=\"10\"/>"
                                 "<background red=\"128\" green=\"128\" blue=\"128\" bits=\"8\"/><geometry "
                                 "x=\"0.4500\" y=\"0.4500\" cx=\"0.1000\" cy=\"0.1000\"/></calibration>")));
    ASSERT_TRUE(gen.waitShown([](const std::vector<Shown> &s) { return !s.empty(); }));
    SimFrame f = gen.output();
    EXPECT_EQ(lumaAt(f, 863, 540), 512);
    EXPECT_EQ(lumaAt(f, 864, 540), 940);
    EXPECT_EQ(lumaAt(f, 1055, 593), 940);
    EXPECT_EQ(lumaAt(f, 1056, 593), 512);
    EXPECT_EQ(lumaAt(f, 960, 594), 512);

    // Second dialect, one message split across reads byte by byte.
    gen.raster->take();
    const std::string two = frame(
        "<calibration><shapes><rectangle><color red=\"16\" green=\"16\" blue=\"16\"/></rectangle><rectangle><color "
        "red=\"100\" green=\"100\" blue=\"100\"/><colex red=\"401\" green=\"401\" blue=\"401\" bits=\"10\"/>"
        "<geometry x=\"0\" y=\"0\" cx=\"0.5\" cy=\"0.5\"/></rectangle></shapes></calibration>");
    for (char ch : two) {
        ASSERT_TRUE(sendAll(c, std::string(1, ch)));
        std::this_thread::sleep_for(100us);
    }
    ASSERT_TRUE(gen.waitShown([](const std::vector<Shown> &s) { return !s.empty(); }));
    f = gen.output();
    EXPECT_EQ(lumaAt(f, 959, 539), 401);
    EXPECT_EQ(lumaAt(f, 960, 539), 64);
    EXPECT_EQ(lumaAt(f, 959, 540), 64);

    // A burst of twenty in one write: each reaches the output once, in order.
    gen.raster->take();
    std::string burst;
    for (int i = 0; i < 20; ++i)
        burst += frame(grey10(100 + 10 * i));
    ASSERT_TRUE(sendAll(c, burst));
    ASSERT_TRUE(gen.waitShown([](const std::vector<Shown> &s) { return s.size() >= 20; }));
    std::this_thread::sleep_for(100ms);
    const auto shown = gen.raster->take();
    ASSERT_EQ(shown.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(shown[static_cast<size_t>(i)].centre, 100 + 10 * i) << i;
        if (i) {
            EXPECT_EQ(shown[static_cast<size_t>(i)].sequence, shown[static_cast<size_t>(i) - 1].sequence + 1);
        }
    }
    EXPECT_EQ(client.shown(), 22u);
    EXPECT_TRUE(client.connected());
    close(c);
    client.stop();
}

TEST(ResolveClient, BadFramesResetTheConnectionAndItReconnects)
{
    SimGenerator gen;
    Listener server;
    OvcResolveClient client(&gen.core, "127.0.0.1", server.port);
    client.start();

    // Invalid XML and a wrong depth are skipped; the next message is shown.
    int c = server.accept();
    ASSERT_GE(c, 0);
    ASSERT_TRUE(sendAll(c, frame("<calibration><color") + frame("<calibration><color red=\"1\" green=\"1\" "
                                                                  "blue=\"1\" bits=\"7\"/></calibration>") +
                               frame(grey10(300))));
    ASSERT_TRUE(gen.waitShown([](const std::vector<Shown> &s) { return !s.empty(); }));
    EXPECT_EQ(lumaAt(gen.output(), 960, 540), 300);
    EXPECT_EQ(client.skipped(), 2u);
    EXPECT_TRUE(gen.log->has("message 1 skipped: not well-formed XML")) << gen.log->text();
    EXPECT_TRUE(gen.log->has("message 2 skipped: <color> bits must be 8, 10 or 12, not '7'")) << gen.log->text();

    // A length of 0: the client resets the connection and comes back.
    ASSERT_TRUE(sendAll(c, lengthOnly(0)));
    EXPECT_TRUE(peerGone(c));
    close(c);
    c = server.accept();
    ASSERT_GE(c, 0) << "no reconnection";
    EXPECT_TRUE(gen.log->has("message length 0 is outside 1 .. 65536")) << gen.log->text();
    // Past the bound: the same, without reading the announced bytes.
    ASSERT_TRUE(sendAll(c, lengthOnly(65537) + "<calibration>"));
    EXPECT_TRUE(peerGone(c));
    close(c);
    c = server.accept();
    ASSERT_GE(c, 0);
    // A drop in the middle of a message: reconnect, and what follows shows.
    ASSERT_TRUE(sendAll(c, frame(grey10(500)).substr(0, 30)));
    close(c);
    c = server.accept();
    ASSERT_GE(c, 0);
    gen.raster->take();
    ASSERT_TRUE(sendAll(c, frame(grey10(600))));
    ASSERT_TRUE(gen.waitShown([](const std::vector<Shown> &s) { return !s.empty(); }));
    EXPECT_EQ(lumaAt(gen.output(), 960, 540), 600);
    EXPECT_GE(client.connections(), 4u);
    EXPECT_TRUE(gen.log->has("reconnecting in")) << gen.log->text();
    close(c);
    client.stop();
}

TEST(ResolveClient, WaitsWithBackoffForAProgramThatIsNotListeningYet)
{
    SimGenerator gen;
    int port;
    {
        Listener probe; // a port nobody listens on once it is closed
        port = probe.port;
    }
    OvcResolveClient client(&gen.core, "127.0.0.1", port);
    client.start();
    std::this_thread::sleep_for(1200ms);
    // 250, 500, 1000 ms: a handful of attempts, not a loop.
    const std::string log = gen.log->text();
    size_t attempts = 0;
    for (size_t at = log.find("cannot connect"); at != std::string::npos; at = log.find("cannot connect", at + 1))
        ++attempts;
    EXPECT_GE(attempts, 2u);
    EXPECT_LE(attempts, 5u);
    const auto t0 = std::chrono::steady_clock::now();
    client.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s) << "stop waited for the back-off";
}
