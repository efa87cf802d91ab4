#include "OvCommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool parse(std::vector<const char *> args, OvCommandLine &cl, std::string &error)
{
    args.insert(args.begin(), "/opt/gen/orvane");
    return OvCommandLine::parse(static_cast<int>(args.size()), args.data(), cl, error);
}

} // namespace

TEST(OvCommandLine, DefaultsOptionsAndValues)
{
    OvCommandLine cl;
    std::string error;
    ASSERT_TRUE(parse({}, cl, error));
    EXPECT_EQ(cl.simulate, OvCommandLine::Board::none);
    EXPECT_EQ(cl.port, 9022);
    EXPECT_EQ(cl.discoveryPort, 3529);
    EXPECT_EQ(cl.discoveryReplyPort, 3530);
    EXPECT_FALSE(cl.headless || cl.controlPanel || cl.monitor || cl.allowRemotePlugins || cl.help || cl.version);
    EXPECT_TRUE(cl.dataDir.empty());
    EXPECT_EQ(cl.qtArgs, std::vector<std::string>{"/opt/gen/orvane"});

    ASSERT_TRUE(parse({"--simulate", "decklink", "--port=1", "--discovery-port", "65535", "--data-dir", "/d",
                       "--headless", "--allow-remote-plugins", "-platform", "offscreen"},
                      cl, error))
        << error;
    EXPECT_EQ(cl.simulate, OvCommandLine::Board::decklink);
    EXPECT_EQ(cl.port, 1);
    EXPECT_EQ(cl.discoveryPort, 65535);
    EXPECT_EQ(cl.dataDir, "/d");
    EXPECT_TRUE(cl.headless && cl.allowRemotePlugins);
    EXPECT_EQ(cl.qtArgs, (std::vector<std::string>{"/opt/gen/orvane", "-platform", "offscreen"}));

    ASSERT_TRUE(parse({"--simulate=kona", "--control-panel", "--monitor", "--help", "--version",
                       "--discovery-reply-port", "4100"},
                      cl, error));
    EXPECT_EQ(cl.simulate, OvCommandLine::Board::kona);
    EXPECT_EQ(cl.discoveryReplyPort, 4100);
    EXPECT_EQ(cl.discoveryPort, 3529);
    EXPECT_TRUE(cl.controlPanel && cl.monitor && cl.help && cl.version);
}

TEST(OvCommandLine, RefusesBadInputWithAReason)
{
    OvCommandLine cl;
    std::string error;
    const std::vector<std::vector<const char *>> bad = {
        {"--port", "0"},          {"--port", "65536"},    {"--port", "90x"},         {"--port", ""},
        {"--port"},               {"--discovery-port=-1"}, {"--port", "99999999999"}, {"--simulate", "matrox"},
        {"--simulate"},           {"--data-dir", ""},      {"--headless=yes"},        {"--bogus"},
        {"stray"},                {"--headless", "--monitor"}, {"--headless", "--control-panel"},
        {"--discovery-reply-port", "0"}, {"--discovery-reply-port"},
    };
    for (const auto &args : bad) {
        error.clear();
        EXPECT_FALSE(parse(args, cl, error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
}

TEST(OvCommandLine, HelpNamesEveryOption)
{
    const std::string help = OvCommandLine::usage("orvane");
    for (const char *o : {"--simulate kona|decklink", "--headless", "--control-panel", "--monitor", "--port N",
                          "--discovery-port N", "--discovery-reply-port N", "--data-dir DIR",
                          "--allow-remote-plugins", "--help", "--version", "9022", "3529", "3530"})
        EXPECT_NE(help.find(o), std::string::npos) << o;
}

TEST(OvFolders, ProgramDataAndUserFolders)
{
    EXPECT_EQ(OvFolders::programFolder("/opt/gen/orvane"), "/opt/gen/");
    EXPECT_EQ(OvFolders::programFolder("orvane"), "./");
    EXPECT_EQ(OvFolders::programFolder(""), "./");
    EXPECT_EQ(OvFolders::programFolder(nullptr), "./");
    EXPECT_EQ(OvFolders::programFolder("/orvane"), "/");
    EXPECT_EQ(OvFolders::dataFolder("/opt/gen/"), "/opt/gen/ovdata");
    EXPECT_EQ(OvFolders::userImageFolder("/opt/gen/ovdata"), "/opt/gen/ovdata/ImageFiles/UserImages");

    // Only the first 255 bytes of the path count: a slash beyond them is not seen.
    std::string longPath = "/" + std::string(253, 'a') + "/b/orvane"; // slash at 254, then 255
    EXPECT_EQ(OvFolders::programFolder(longPath.c_str()), "/" + std::string(253, 'a') + "/");
    std::string cut = "/x" + std::string(253, 'a') + "/orvane";       // second slash at byte 255
    EXPECT_EQ(OvFolders::programFolder(cut.c_str()), "/");

    EXPECT_EQ(OvFolders::userPatternFolder("C:/Users/me", "/home/me"), "C:/Users/me/Documents/Corvent/Patterns");
    EXPECT_EQ(OvFolders::userPatternFolder(nullptr, "/home/me"), "/home/me/Documents/Corvent/Patterns");
    EXPECT_EQ(OvFolders::userPatternFolder("", "/home/me"), "/home/me/Documents/Corvent/Patterns");
    EXPECT_EQ(OvFolders::userPatternFolder(nullptr, nullptr), "");

    const std::string exe = OvFolders::executablePath();
    EXPECT_NE(exe.find("app_tests"), std::string::npos) << exe;
    EXPECT_EQ(exe.front(), '/');
}

TEST(OvCommandLine, CalibrationProtocolOptions)
{
    OvCommandLine cl;
    std::string error;
    ASSERT_TRUE(parse({}, cl, error)) << error;
    EXPECT_TRUE(cl.resolveHost.empty());
    EXPECT_TRUE(cl.argyllHost.empty());
    EXPECT_FALSE(cl.pgenerator);
    EXPECT_EQ(cl.resolvePort, 20002);
    EXPECT_EQ(cl.argyllPort, 8080);
    EXPECT_EQ(cl.pgeneratorPort, 85);
    EXPECT_EQ(cl.pgeneratorDiscoveryPort, 1977);

    ASSERT_TRUE(parse({"--resolve", "studio.local", "--argyll-web=[::1]:9000", "--pgenerator"}, cl, error))
        << error;
    EXPECT_EQ(cl.resolveHost, "studio.local");
    EXPECT_EQ(cl.resolvePort, 20002);
    EXPECT_EQ(cl.argyllHost, "::1");
    EXPECT_EQ(cl.argyllPort, 9000);
    EXPECT_TRUE(cl.pgenerator);
    EXPECT_EQ(cl.pgeneratorPort, 85);

    // --pgenerator takes its port only after '='; a following word is not it.
    ASSERT_TRUE(parse({"--resolve=10.1.2.3:1", "--pgenerator=2085", "--pgenerator-discovery-port", "65535"},
                      cl, error))
        << error;
    EXPECT_EQ(cl.resolveHost, "10.1.2.3");
    EXPECT_EQ(cl.resolvePort, 1);
    EXPECT_EQ(cl.pgeneratorPort, 2085);
    EXPECT_EQ(cl.pgeneratorDiscoveryPort, 65535);
    EXPECT_FALSE(parse({"--pgenerator", "2085"}, cl, error));
    EXPECT_NE(error.find("'2085'"), std::string::npos) << error;

    for (std::vector<const char *> bad :
         {std::vector<const char *>{"--resolve"}, {"--resolve", ""}, {"--resolve", ":5"},
          {"--resolve", "h:0"}, {"--argyll-web", "h:65536"}, {"--argyll-web", "[::1"},
          {"--argyll-web", "[::1]x"}, {"--pgenerator=0"}, {"--pgenerator=x"},
          {"--pgenerator-discovery-port", "-1"}}) {
        EXPECT_FALSE(parse(bad, cl, error)) << bad.back();
        EXPECT_FALSE(error.empty());
    }
}
