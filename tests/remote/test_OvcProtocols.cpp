// Which protocols run, as the panel reads them.
#include "OvcArgyllWebClient.h"
#include "OvcPGenerator.h"
#include "OvcProtocols.h"
#include "OvcResolveClient.h"
#include "ProtocolHarness.h"

#include <gtest/gtest.h>

using namespace prototest;

TEST(Protocols, ActiveListsWhatRunsWithItsDirectionAndPort)
{
    SimGenerator gen;
    EXPECT_EQ(OvcProtocols::instance(), nullptr);
    {
        OvcProtocols none(&gen.core, OvcProtocolConfig());
        none.start();
        EXPECT_TRUE(none.active().empty());
        EXPECT_EQ(OvcProtocols::instance(), &none);
    }
    EXPECT_EQ(OvcProtocols::instance(), nullptr);

    Listener program;
    OvcProtocolConfig config;
    config.resolveHost = "127.0.0.1";
    config.resolvePort = program.port;
    config.argyllHost = "127.0.0.1";
    config.argyllPort = 1; // nobody: the client keeps trying
    config.pgenerator = true;
    config.pgeneratorPort = 0;
    config.pgeneratorDiscoveryPort = 0;
    OvcProtocols protocols(&gen.core, config);
    EXPECT_TRUE(protocols.active().empty()) << "nothing runs before start";
    protocols.start();
    const int c = program.accept();
    ASSERT_GE(c, 0);
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (!protocols.resolve()->connected() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(10ms);
    const auto lines = protocols.active();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Resolve: connecting to 127.0.0.1:" + std::to_string(program.port) + " (connected)");
    EXPECT_EQ(lines[1], "ArgyllCMS web display: polling 127.0.0.1:1");
    EXPECT_EQ(lines[2], "PGenerator: listening on TCP " + std::to_string(protocols.pgenerator()->port()) +
                            ", discovery on UDP " + std::to_string(protocols.pgenerator()->discoveryPort()));
    EXPECT_GT(protocols.pgenerator()->port(), 0);
    protocols.stop();
    EXPECT_TRUE(protocols.active().empty());
    // Stopping resets the program's connection.
    EXPECT_TRUE(peerGone(c));
    close(c);
}
