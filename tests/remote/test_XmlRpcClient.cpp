#include "RemoteTestUtil.h"
#include "XmlRpcClient.h"
#include "XmlRpcServer.h"
#include "XmlRpcServerConnection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

using namespace remotetest;

namespace {

class CountingServer : public XmlRpcServer {
public:
    std::atomic<int> accepted{0};

protected:
    XmlRpcServerConnection *createConnection(int fd) override
    {
        ++accepted;
        return XmlRpcServer::createConnection(fd);
    }
};

class Add : public XmlRpcServerMethod {
public:
    explicit Add(XmlRpcServer *s) : XmlRpcServerMethod("Add", s) {}
    void execute(XmlRpcValue &params, XmlRpcValue &result) override
    {
        result = params[0].asInt() + params[1].asInt();
    }
};

class Fails : public XmlRpcServerMethod {
public:
    explicit Fails(XmlRpcServer *s) : XmlRpcServerMethod("Fails", s) {}
    void execute(XmlRpcValue &, XmlRpcValue &) override { throw XmlRpcException("bad & worse", 42); }
};

// Accepts one connection, hands the request text to reply and sends back
// what it returns (nothing: keeps silent until closed).
class OneShotServer {
public:
    explicit OneShotServer(std::function<std::string(const std::string &)> reply) : m_reply(std::move(reply))
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        listen(m_fd, 1);
        socklen_t len = sizeof sa;
        getsockname(m_fd, reinterpret_cast<sockaddr *>(&sa), &len);
        port = ntohs(sa.sin_port);
        m_thread = std::thread([this] {
            int c = accept(m_fd, nullptr, nullptr);
            if (c < 0)
                return;
            std::string got;
            char buf[4096];
            while (got.find("</methodCall>\r\n") == std::string::npos) {
                ssize_t n = recv(c, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                got.append(buf, static_cast<size_t>(n));
            }
            request = got;
            std::string answer = m_reply(got);
            if (!answer.empty())
                sendAll(c, answer);
            // Hold the connection until the client goes.
            while (recv(c, buf, sizeof buf, 0) > 0) {
            }
            close(c);
        });
    }
    ~OneShotServer()
    {
        shutdown(m_fd, SHUT_RDWR);
        m_thread.join();
        close(m_fd);
    }
    int port = 0;
    std::string request; // read after the client is done

private:
    std::function<std::string(const std::string &)> m_reply;
    int m_fd;
    std::thread m_thread;
};

XmlRpcValue pair(int a, int b)
{
    XmlRpcValue p;
    p[0] = a;
    p[1] = b;
    return p;
}

} // namespace

TEST(XmlRpcClient, KeepAliveReuseReconnectAndFaults)
{
    CountingServer server;
    Add add(&server);
    Fails fails(&server);
    ASSERT_TRUE(server.bindAndListen(0, "127.0.0.1"));
    int port = server.port();
    ServerThread thread(server);

    XmlRpcClient client("127.0.0.1", port);
    XmlRpcValue result;
    ASSERT_TRUE(client.execute("Add", pair(2, 3), result));
    EXPECT_EQ(result, XmlRpcValue(5));
    EXPECT_FALSE(client.isFault());
    ASSERT_TRUE(client.execute("Add", pair(-2, 3), result));
    EXPECT_EQ(result, XmlRpcValue(1));
    EXPECT_EQ(server.accepted.load(), 1) << "two calls on one connection";

    // A fault is a successful call with the fault flag and struct.
    ASSERT_TRUE(client.execute("Fails", XmlRpcValue(), result));
    EXPECT_TRUE(client.isFault());
    EXPECT_EQ(result["faultCode"], XmlRpcValue(42));
    EXPECT_EQ(result["faultString"], XmlRpcValue("bad & worse"));
    ASSERT_TRUE(client.execute("Add", pair(1, 1), result));
    EXPECT_FALSE(client.isFault()) << "the flag is per call";

    // The server drops the idle connection; the next call reconnects once.
    server.setIdleTimeout(0.2);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    server.setIdleTimeout(XmlRpcServer::kIdleTimeout);
    ASSERT_TRUE(client.execute("Add", pair(4, 4), result));
    EXPECT_EQ(result, XmlRpcValue(8));
    EXPECT_EQ(server.accepted.load(), 2);
    ASSERT_TRUE(client.execute("Add", pair(4, 5), result));
    EXPECT_EQ(server.accepted.load(), 2);
}

TEST(XmlRpcClient, RequestTextAndBadResponses)
{
    {
        OneShotServer fake([](const std::string &) { return "HTTP/1.1 200 OK\r\nContent-length: 0\r\n\r\n"; });
        XmlRpcClient client("127.0.0.1", fake.port);
        XmlRpcValue result;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(client.execute("Probe", XmlRpcValue(), result));
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Error in XmlRpcClient::readHeader: Invalid Content-length specified (0).\n");
        client.close();
        std::string body = "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>Probe</methodName>\r\n</methodCall>\r\n";
        EXPECT_EQ(fake.request, "POST /RPC2 HTTP/1.1\r\nUser-Agent: XMLRPC++ 0.7\r\nHost: 127.0.0.1:" +
                                    std::to_string(fake.port) +
                                    "\r\nContent-Type: text/xml\r\nContent-length: " + std::to_string(body.size()) +
                                    "\r\n\r\n" + body)
            << "invalid params send no <params> at all";
    }
    {
        // A non-array parameter travels as one <param>.
        std::string reply = "<?xml version=\"1.0\"?>\r\n<methodResponse><params><param>\r\n\t<value><i4>3</i4></value>"
                            "\r\n</param></params></methodResponse>\r\n";
        OneShotServer fake([&](const std::string &) {
            return "HTTP/1.1 200 OK\r\nContent-length: " + std::to_string(reply.size()) + "\r\n\r\n" + reply;
        });
        XmlRpcClient client("127.0.0.1", fake.port);
        XmlRpcValue result;
        EXPECT_TRUE(client.execute("One", XmlRpcValue("x"), result));
        EXPECT_EQ(result, XmlRpcValue(3));
        client.close();
        EXPECT_NE(fake.request.find("<params><param><value>x</value></param></params></methodCall>"),
                  std::string::npos);
    }
    {
        OneShotServer fake([](const std::string &) {
            return "HTTP/1.1 200 OK\r\nContent-length: 20\r\n\r\n<methodResponse>zzz ";
        });
        XmlRpcClient client("127.0.0.1", fake.port);
        XmlRpcValue result;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(client.execute("X", XmlRpcValue(), result));
        EXPECT_NE(testing::internal::GetCapturedStderr().find("Invalid response - no param or fault tag"),
                  std::string::npos);
        client.close();
    }
    {
        // A server that never answers: the call ends at its time limit.
        OneShotServer silent([](const std::string &) { return std::string(); });
        XmlRpcClient client("127.0.0.1", silent.port);
        client.setTimeLimit(0.3);
        XmlRpcValue result;
        auto t0 = std::chrono::steady_clock::now();
        testing::internal::CaptureStderr();
        EXPECT_FALSE(client.execute("X", XmlRpcValue(), result));
        testing::internal::GetCapturedStderr();
        double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_GE(took, 0.25);
        EXPECT_LT(took, 2.0);
        EXPECT_EQ(client.state(), XmlRpcClient::NO_CONNECTION);
    }
    {
        // Nobody listening.
        OneShotServer gone([](const std::string &) { return std::string(); });
        int port = gone.port;
        XmlRpcClient client("127.0.0.1", 1);
        XmlRpcValue result;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(client.execute("X", XmlRpcValue(), result));
        EXPECT_NE(testing::internal::GetCapturedStderr().find("Could not connect to server"), std::string::npos);
        (void)port;
    }
}
