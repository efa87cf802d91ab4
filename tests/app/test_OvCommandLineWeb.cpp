// --web, --web-token and --web-token-file.
#include "OvCommandLine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

bool parse(std::vector<const char *> args, OvCommandLine &cl, std::string &error)
{
    args.insert(args.begin(), "orvane");
    return OvCommandLine::parse(static_cast<int>(args.size()), args.data(), cl, error);
}

struct TempFile {
    std::string path;
    explicit TempFile(const std::string &content)
    {
        char tmpl[] = "/tmp/orvane-token-XXXXXX";
        const int fd = mkstemp(tmpl);
        path = tmpl;
        if (fd >= 0)
            close(fd);
        std::ofstream(path, std::ios::binary) << content;
    }
    ~TempFile() { std::remove(path.c_str()); }
};

} // namespace

TEST(OvCommandLineWeb, AddressAndPort)
{
    OvCommandLine cl;
    std::string error;
    ASSERT_TRUE(parse({}, cl, error));
    EXPECT_FALSE(cl.web) << "off unless asked for";

    struct Case {
        const char *arg;
        const char *address;
        int port;
    };
    for (const Case &c : {Case{"8080", "127.0.0.1", 8080}, Case{"0.0.0.0:80", "0.0.0.0", 80},
                          Case{"192.168.1.20:65535", "192.168.1.20", 65535}, Case{"[::1]:8080", "::1", 8080},
                          Case{"[::]:1", "::", 1}, Case{"localhost:9000", "localhost", 9000}}) {
        ASSERT_TRUE(parse({"--web", c.arg}, cl, error)) << c.arg << ": " << error;
        EXPECT_TRUE(cl.web);
        EXPECT_EQ(cl.webAddress, c.address) << c.arg;
        EXPECT_EQ(cl.webPort, c.port) << c.arg;
    }
    ASSERT_TRUE(parse({"--web=10.0.0.1:8081", "--headless"}, cl, error));
    EXPECT_EQ(cl.webAddress, "10.0.0.1");
    EXPECT_EQ(cl.webPort, 8081);

    for (const char *bad : {"0", "65536", "", "80x", "-1", "host:80", "1.2.3:80", "::1:8080", "[::1]", "[::1]:",
                            "1.2.3.4:", ":8080", "[zz]:80", "1.2.3.4:99999999999"}) {
        EXPECT_FALSE(parse({"--web", bad}, cl, error)) << bad;
        EXPECT_NE(error.find("--web"), std::string::npos) << bad << ": " << error;
    }
    EXPECT_FALSE(parse({"--web"}, cl, error));
}

TEST(OvCommandLineWeb, TokenFromTheCommandLineOrAFile)
{
    OvCommandLine cl;
    std::string error, token;
    ASSERT_TRUE(parse({"--web", "8080", "--web-token", "abc-123"}, cl, error));
    ASSERT_TRUE(cl.webAccessToken(token, error));
    EXPECT_EQ(token, "abc-123");
    ASSERT_TRUE(parse({"--web", "8080"}, cl, error));
    ASSERT_TRUE(cl.webAccessToken(token, error));
    EXPECT_EQ(token, "") << "no token, none asked for";

    // The file's first line, blanks and line end around it dropped.
    TempFile file("\t s3cret/+= \r\nnext line\n");
    ASSERT_TRUE(parse({"--web", "8080", "--web-token-file", file.path.c_str()}, cl, error));
    ASSERT_TRUE(cl.webAccessToken(token, error)) << error;
    EXPECT_EQ(token, "s3cret/+=");

    TempFile empty("\n\nlater");
    ASSERT_TRUE(parse({"--web", "8080", "--web-token-file", empty.path.c_str()}, cl, error));
    EXPECT_FALSE(cl.webAccessToken(token, error));
    EXPECT_NE(error.find("no token"), std::string::npos) << error;
    TempFile spaced("two words\n");
    ASSERT_TRUE(parse({"--web", "8080", "--web-token-file", spaced.path.c_str()}, cl, error));
    EXPECT_FALSE(cl.webAccessToken(token, error));
    TempFile huge(std::string(100000, 'x'));
    ASSERT_TRUE(parse({"--web", "8080", "--web-token-file", huge.path.c_str()}, cl, error));
    EXPECT_FALSE(cl.webAccessToken(token, error)) << "a line past 1024 characters";
    ASSERT_TRUE(parse({"--web", "8080", "--web-token-file", "/nonexistent/token"}, cl, error));
    EXPECT_FALSE(cl.webAccessToken(token, error));
    EXPECT_NE(error.find("/nonexistent/token"), std::string::npos);
    for (const char *bad : {"semi;colon", "quote\"", "back\\slash", "com,ma"}) {
        ASSERT_TRUE(parse({"--web", "8080", "--web-token", bad}, cl, error));
        EXPECT_FALSE(cl.webAccessToken(token, error)) << bad;
    }

    // A token without the page, both kinds at once, empty values.
    EXPECT_FALSE(parse({"--web-token", "abc"}, cl, error));
    EXPECT_NE(error.find("--web"), std::string::npos);
    EXPECT_FALSE(parse({"--web", "1", "--web-token", "a", "--web-token-file", file.path.c_str()}, cl, error));
    EXPECT_FALSE(parse({"--web", "1", "--web-token", ""}, cl, error));
    EXPECT_FALSE(parse({"--web", "1", "--web-token-file="}, cl, error));
}

TEST(OvCommandLineWeb, HelpNamesTheOptions)
{
    const std::string help = OvCommandLine::usage("orvane");
    for (const char *o : {"--web [ADDR:]PORT", "--web-token TEXT", "--web-token-file FILE", "0.0.0.0"})
        EXPECT_NE(help.find(o), std::string::npos) << o;
}
