// The real orvane program serving the web page: headless on a simulated
// board with --web, the token from a file, and a shutdown that does not
// wait for open pages.
#include "../app/ProcessHarness.h"
#include "WebTestKit.h"

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

bool waitServing(int port, const std::string &extra = std::string())
{
    const auto end = Clock::now() + 20s;
    while (Clock::now() < end) {
        if (webtest::call(port, "GET", "/api/status", "", extra, 2s).status == 200)
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

} // namespace

TEST(OrvaneWebProcess, HeadlessServesThePageAndStopsWithoutWaitingForIt)
{
    TempDir dir;
    const int port = freePort(), disc = freePort(), web = freePort();
    std::ofstream(dir.path + "/token") << "  file-T0ken \r\nsecond line ignored\n";
    Process gen({kOrvane, "--simulate", "kona", "--headless", "--port", std::to_string(port), "--discovery-port",
                 std::to_string(disc), "--web=127.0.0.1:" + std::to_string(web), "--web-token-file",
                 dir.path + "/token"},
                quietEnv(dir), dir.path + "/gen");
    const std::string auth = "X-Orvane-Token: file-T0ken\r\n";
    ASSERT_TRUE(waitServing(web, auth)) << gen.out() << gen.err();
    EXPECT_EQ(webtest::call(web, "GET", "/api/status").status, 401);
    const webtest::Reply page = webtest::call(web, "GET", "/", "", auth);
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("orvane.js"), std::string::npos) << "the page from the data folder";

    // The status names this generator and what it serves.
    const std::string status = webtest::call(web, "GET", "/api/status", "", auth).body;
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_NE(status.find("\"name\":\"" + std::string(host) + "\""), std::string::npos) << status;
    EXPECT_NE(status.find("\"version\":\"1.2.317\""), std::string::npos) << status;
    EXPECT_NE(status.find("{\"address\":\"\",\"name\":\"XML-RPC\",\"port\":" + std::to_string(port) + "}"),
              std::string::npos)
        << status;
    EXPECT_NE(status.find("\"name\":\"discovery\",\"port\":" + std::to_string(disc)), std::string::npos) << status;

    // A change through the page reaches the board.
    EXPECT_EQ(webtest::call(web, "POST", "/api/window?wait=1", R"({"size": "100%", "level": 16})", auth).status, 200);
    Capture c;
    EXPECT_TRUE(waitCapture(dir.path, "kona", c, [](const Capture &k) { return v210Pixel(k, 960, 540).y == 940; }));

    // An open long poll and an idle keep-alive connection do not hold the
    // shutdown up; the web server stops first.
    webtest::Conn poll(web);
    poll.send(webtest::request(web, "GET", "/api/live?after=" + std::to_string(c.sequence) + "&wait=10000", "", auth));
    webtest::Conn idle(web);
    idle.send(webtest::request(web, "GET", "/api/status", "", auth));
    idle.read();
    std::this_thread::sleep_for(200ms);
    const auto t0 = Clock::now();
    gen.signal(SIGTERM);
    ASSERT_EQ(gen.wait(3s), 0) << gen.out() << gen.err();
    EXPECT_LT(Clock::now() - t0, 2s);
    const std::string log = gen.out();
    const size_t serving = log.find("OvWebServer::start: serving http://127.0.0.1:" + std::to_string(web) +
                                    "/ (the access token is required)");
    const size_t webStop = log.find("stopping the web server");
    const size_t xmlStop = log.find("stopping the XML-RPC server");
    EXPECT_NE(serving, std::string::npos) << log;
    ASSERT_NE(webStop, std::string::npos) << log;
    ASSERT_NE(xmlStop, std::string::npos) << log;
    EXPECT_LT(webStop, xmlStop);
}

TEST(OrvaneWebProcess, BadWebOptionsEndWithStatusTwoAndABusyPortLeavesTheRestRunning)
{
    TempDir dir;
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"--web", "70000"}, {"--web=1.2.3:80"}, {"--web", "::1:8080"},
          {"--web-token", "x"}, {"--web", "8080", "--web-token", "bad token"},
          {"--web", "8080", "--web-token-file", dir.path + "/missing"},
          {"--web", "8080", "--web-token", "a", "--web-token-file", dir.path + "/t"}}) {
        std::vector<std::string> argv{kOrvane, "--simulate", "kona", "--headless"};
        argv.insert(argv.end(), args.begin(), args.end());
        Process bad(argv, quietEnv(dir), dir.path + "/bad");
        EXPECT_EQ(bad.wait(10s), 2) << args[0] << " " << (args.size() > 1 ? args[1] : "") << bad.err();
        EXPECT_FALSE(bad.err().empty());
    }

    // The web port taken: said on the standard error, XML-RPC still served.
    const int taken = freePort();
    const int blocker = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(taken));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(listen(blocker, 1), 0);
    const int port = freePort(), disc = freePort();
    Process gen({kOrvane, "--simulate", "kona", "--headless", "--port", std::to_string(port), "--discovery-port",
                 std::to_string(disc), "--web", std::to_string(taken)},
                quietEnv(dir), dir.path + "/gen");
    Capture c;
    ASSERT_TRUE(waitCapture(dir.path, "kona", c, [](const Capture &k) { return k.sequence >= 1; }));
    const auto end = Clock::now() + 10s;
    while (Clock::now() < end && gen.err().find("web page not served") == std::string::npos)
        std::this_thread::sleep_for(50ms);
    EXPECT_NE(gen.err().find("web page not served: cannot listen on 127.0.0.1:" + std::to_string(taken)),
              std::string::npos)
        << gen.err();
    EXPECT_NE(pyXmlRpc(port, "GetOrvVersion()").find("317"), std::string::npos);
    gen.signal(SIGTERM);
    EXPECT_EQ(gen.wait(3s), 0);
    close(blocker);
}
