// orvane-ctl's command line and its failures, run in-process against small
// stand-ins for a generator (the real one is in test_orvane_ctl.cpp).
#include "OvcCtl.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Outcome {
    int status;
    std::string out, err;
    double seconds;
};

Outcome ctl(const std::vector<std::string> &args, const char *envHost = nullptr)
{
    OvcCtl c;
    const auto t0 = Clock::now();
    const int status = c.run(args, envHost);
    return {status, c.out(), c.err(), std::chrono::duration<double>(Clock::now() - t0).count()};
}

int lines(const std::string &s)
{
    int n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

// A TCP listener on a port of the system's choosing. It answers each
// request with the canned response, or never when the response is empty
// (the connection is left in the backlog, unaccepted).
class StandIn {
public:
    explicit StandIn(std::string response) : m_response(std::move(response))
    {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len);
        m_port = ntohs(a.sin_port);
        listen(m_fd, 8);
        if (!m_response.empty())
            m_thread = std::thread([this] { serve(); });
    }
    ~StandIn()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        close(m_fd);
    }
    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }
    std::string request() const { return m_request; }

private:
    void serve()
    {
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 50) != 1)
                continue;
            const int c = accept(m_fd, nullptr, nullptr);
            std::string in;
            char buf[4096];
            // Read the header and the body its length announces.
            while (!m_stop) {
                pollfd q{c, POLLIN, 0};
                if (poll(&q, 1, 50) != 1)
                    continue;
                const ssize_t n = read(c, buf, sizeof buf);
                if (n <= 0)
                    break;
                in.append(buf, static_cast<size_t>(n));
                const size_t end = in.find("\r\n\r\n");
                const size_t len = in.find("Content-length: ");
                if (end != std::string::npos && len != std::string::npos &&
                    in.size() >= end + 4 + std::stoul(in.substr(len + 16)))
                    break;
            }
            m_request = in;
            (void)!write(c, m_response.data(), m_response.size());
            close(c);
        }
    }

    int m_fd = -1;
    int m_port = 0;
    std::string m_response, m_request;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// A port nobody listens on: bound for a moment, then released.
int closedPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

std::string httpResponse(const std::string &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

} // namespace

TEST(OvcCtl, UsageErrorsAreStatusTwoWithOneLineAndAHint)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"version", "--bogus"},
        {"--reset", "version"},
        {"set", "--current", "Colorbars"},
        {"discover", "--wait", "3"},
        {"version", "extra"},
        {"--host"},
        {"--host", "host:0", "version"},
        {"--host", "host:65536", "version"},
        {"--host", ":9022", "version"},
        {"--host", "a:b:c", "version"},
        {"--timeout", "0", "version"},
        {"--timeout", "soon", "version"},
        {"--json=yes", "version"},
        {"discover", "--discovery-port", "70000"},
        {"set"},
        {"set", "Colorbars", "Window"},
        {"set", "=5"},
        {"options"},
        {"alias"},
        {"alias", "rename", "x"},
        {"alias", "flush"},
        {"alias", "flush", "/"},
        {"scan"},
        {"log"},
        {"log", "--reset", "host"},
        {"call"},
        {"call", "SetGen", "{\"Pattern\": }"},
        {"call", "SetGen", "null"},
        {"help", "nothing"},
    };
    for (const auto &args : bad) {
        std::string joined;
        for (const auto &a : args)
            joined += a + " ";
        const Outcome r = ctl(args);
        EXPECT_EQ(r.status, OvcCtl::kUsage) << joined << r.err;
        EXPECT_EQ(r.out, "") << joined;
        EXPECT_EQ(lines(r.err), 1) << joined << r.err;
        EXPECT_EQ(r.err.rfind("orvane-ctl: ", 0), 0u) << joined << r.err;
        EXPECT_NE(r.err.find("--help')\n"), std::string::npos) << joined << r.err;
    }
    EXPECT_NE(ctl({"set", "--reset"}).err.find("(see 'orvane-ctl set --help')"), std::string::npos);
    EXPECT_NE(ctl({"call", "M", "[1,"}).err.find("parameter 1 is not JSON"), std::string::npos);
}

TEST(OvcCtl, EveryCommandHasItsHelpAndTheGeneralHelpNamesThemAll)
{
    const Outcome general = ctl({"--help"});
    EXPECT_EQ(general.status, 0);
    EXPECT_EQ(general.out, OvcCtl::help(""));
    EXPECT_EQ(ctl({"help"}).out, general.out);
    for (const std::string &c : OvcCtl::commands()) {
        EXPECT_NE(general.out.find("\n  " + c + " "), std::string::npos) << c;
        for (const auto &args : {std::vector<std::string>{c, "--help"}, std::vector<std::string>{"help", c},
                                 std::vector<std::string>{"-h", c}}) {
            const Outcome r = ctl(args);
            EXPECT_EQ(r.status, 0) << c;
            EXPECT_EQ(r.out.rfind("Usage: orvane-ctl " + c, 0), 0u) << r.out;
            EXPECT_EQ(r.out, OvcCtl::help(c));
        }
    }
    const Outcome v = ctl({"--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out, std::string("orvane-ctl ") + ORVANE_VERSION + "\n");
    // Every line fits a terminal.
    for (const std::string &c : OvcCtl::commands()) {
        const std::string h = OvcCtl::help(c) + general.out;
        size_t start = 0;
        for (size_t nl; (nl = h.find('\n', start)) != std::string::npos; start = nl + 1)
            EXPECT_LE(nl - start, 80u) << h.substr(start, nl - start);
    }
}

TEST(OvcCtl, HostTextsAndTheirDefaults)
{
    std::string host;
    int port = 0;
    EXPECT_TRUE(OvcCtl::parseHost("gen1", host, port));
    EXPECT_EQ(host, "gen1");
    EXPECT_EQ(port, 9022);
    EXPECT_TRUE(OvcCtl::parseHost("10.0.0.5:1", host, port));
    EXPECT_EQ(host, "10.0.0.5");
    EXPECT_EQ(port, 1);
    EXPECT_TRUE(OvcCtl::parseHost("h:65535", host, port));
    EXPECT_EQ(port, 65535);
    for (const char *bad : {"", "h:", "h:0", "h:65536", "h:-1", "h:9x", ":1", "a:b:1", "h: 1"})
        EXPECT_FALSE(OvcCtl::parseHost(bad, host, port)) << bad;

    // ORVANE_HOST when --host is not given; --host wins over it. A closed
    // port answers at once: status 3, and the message names where.
    const std::string where = "127.0.0.1:" + std::to_string(closedPort());
    Outcome r = ctl({"version"}, where.c_str());
    EXPECT_EQ(r.status, OvcCtl::kUnreachable) << r.err;
    EXPECT_NE(r.err.find("cannot reach the generator at " + where + ": "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("refused"), std::string::npos) << r.err;
    EXPECT_EQ(lines(r.err), 1) << r.err;
    r = ctl({"--host", where, "version"}, "elsewhere:1");
    EXPECT_NE(r.err.find(where), std::string::npos) << r.err;
    r = ctl({"version"}, "bad:host:1");
    EXPECT_EQ(r.status, OvcCtl::kUsage);
    EXPECT_NE(r.err.find("ORVANE_HOST"), std::string::npos) << r.err;
    r = ctl({"--host", "no-such-host.invalid", "version"});
    EXPECT_EQ(r.status, OvcCtl::kUnreachable);
    EXPECT_NE(r.err.find("unknown host"), std::string::npos) << r.err;
}

TEST(OvcCtl, SilentGeneratorIsUnreachableWithinTheTimeOut)
{
    StandIn silent(""); // accepts into the backlog, never answers
    for (double limit : {0.5, 1.5}) {
        const Outcome r = ctl({"--host", silent.host(), "--timeout", std::to_string(limit), "version"});
        EXPECT_EQ(r.status, OvcCtl::kUnreachable) << r.err;
        EXPECT_EQ(lines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find("no response within"), std::string::npos) << r.err;
        EXPECT_GE(r.seconds, limit * 0.9);
        EXPECT_LT(r.seconds, limit + 2.0);
    }
}

TEST(OvcCtl, FaultsAreRefusalsAndOddAnswersAreReported)
{
    {
        StandIn faulty(httpResponse("<?xml version=\"1.0\"?><methodResponse><fault><value><struct>"
                                    "<member><name>faultCode</name><value><int>-1</int></value></member>"
                                    "<member><name>faultString</name><value>type error</value></member>"
                                    "</struct></value></fault></methodResponse>"));
        const Outcome r = ctl({"--host", faulty.host(), "call", "SetGen", "{\"Log\": 5}"});
        EXPECT_EQ(r.status, OvcCtl::kFailed);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "orvane-ctl: SetGen: the generator answered with fault -1: type error\n");
        // What went out: the method and the struct, as XML-RPC.
        EXPECT_NE(faulty.request().find("<methodName>SetGen</methodName>"), std::string::npos);
        EXPECT_NE(faulty.request().find("<name>Log</name><value><i4>5</i4></value>"), std::string::npos)
            << faulty.request();
    }
    {
        // Not a generator at all: no method response in what came back.
        StandIn web(httpResponse("<html>hello</html>"));
        const Outcome r = ctl({"--host", web.host(), "version"});
        EXPECT_EQ(r.status, OvcCtl::kUnreachable);
        EXPECT_NE(r.err.find("no methodResponse"), std::string::npos) << r.err;
        EXPECT_EQ(lines(r.err), 1) << r.err;
    }
    {
        // A generator without engine answers "no result" with an empty string.
        StandIn empty(httpResponse("<methodResponse><params><param><value></value></param></params>"
                                   "</methodResponse>"));
        const Outcome r = ctl({"--host", empty.host(), "--json", "version"});
        EXPECT_EQ(r.status, OvcCtl::kFailed);
        EXPECT_NE(r.err.find("GetOrvVersion: no version texts"), std::string::npos) << r.err;
        const Outcome c = ctl({"--host", empty.host(), "call", "MMCAlias"});
        EXPECT_EQ(c.status, 0) << c.err;
        EXPECT_EQ(c.out, "\"\"\n");
    }
}

TEST(OvcCtl, OddAnswersNeverCrashAndStayCheap)
{
    const std::string enumeration =
        "<value><struct><member><name>Name</name><value>X</value></member>"
        "<member><name>DataType</name><value>Enumeration</value></member>"
        "<member><name>nVal</name><value>2147483647</value></member></struct></value>";
    const std::vector<std::string> answers = {
        "<value><int>5</int></value>",
        "<value><array><data><value>a</value><value><int>1</int></value></data></array></value>",
        "<value><array><data>" + enumeration + enumeration + enumeration + "</data></array></value>",
        "<value><struct><member><name>X</name><value><int>1</int></value></member>"
        "<member><name>Y</name><value>Alias/</value></member></struct></value>",
        "<value><base64>AAEC</base64></value>",
    };
    const std::vector<std::vector<std::string>> commands = {
        {"patterns"}, {"options", "X"}, {"generator"}, {"set", "X=1", "--wait", "0.2"}, {"set", "Y", "X=1"},
        {"alias", "define", "a", "X", "k=v"}, {"alias", "define", "a", "--current"}, {"alias", "flush", "p"},
        {"scan", "/x"}, {"edid"}, {"version"}, {"log", "h"}, {"call", "M"},
    };
    for (const std::string &value : answers) {
        StandIn odd(httpResponse("<methodResponse><params><param>" + value + "</param></params></methodResponse>"));
        for (auto args : commands) {
            args.insert(args.begin(), {"--host", odd.host(), "--json"});
            const Outcome r = ctl(args);
            EXPECT_TRUE(r.status == 0 || r.status == OvcCtl::kFailed) << args[3] << " " << value << ": " << r.err;
            EXPECT_LT(r.seconds, 5.0) << args[3] << " " << value;
            EXPECT_LE(lines(r.err), 2) << r.err;
        }
    }
}
