#include "RemoteTestUtil.h"
#include "XmlRpcServer.h"
#include "XmlRpcServerConnection.h"
#include "XmlRpcUtil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <sys/socket.h>
#include <vector>

using namespace remotetest;

namespace {

class TypeOf : public XmlRpcServerMethod {
public:
    explicit TypeOf(XmlRpcServer *s) : XmlRpcServerMethod("TypeOf", s) {}
    void execute(XmlRpcValue &params, XmlRpcValue &result) override
    {
        result[0] = static_cast<int>(params.getType());
        if (params.getType() == XmlRpcValue::TypeArray) {
            result[1] = params.size();
            result[2] = params.size() > 0 ? static_cast<int>(params[0].getType()) : -1;
        }
    }
    std::string help() override { return "Types of the parameters"; }
};

class Echo : public XmlRpcServerMethod {
public:
    explicit Echo(XmlRpcServer *s) : XmlRpcServerMethod("Echo", s) {}
    void execute(XmlRpcValue &params, XmlRpcValue &result) override { result = params[0]; }
};

class Nothing : public XmlRpcServerMethod {
public:
    explicit Nothing(XmlRpcServer *s) : XmlRpcServerMethod("Nothing", s) {}
    void execute(XmlRpcValue &, XmlRpcValue &) override {}
};

class Thrower : public XmlRpcServerMethod {
public:
    explicit Thrower(XmlRpcServer *s) : XmlRpcServerMethod("Thrower", s) {}
    void execute(XmlRpcValue &, XmlRpcValue &) override { throw XmlRpcException("custom", 42); }
};

struct TestServer {
    XmlRpcServer server;
    TypeOf typeOf{&server};
    Echo echo{&server};
    Nothing nothing{&server};
    Thrower thrower{&server};
    TestServer() { server.enableIntrospection(true); }
};

const char kOk1[] = "<?xml version=\"1.0\"?>\r\n<methodResponse><params><param>\r\n\t";
const char kOk2[] = "\r\n</param></params></methodResponse>\r\n";

std::string okBody(const std::string &valueXml) { return kOk1 + valueXml + kOk2; }

std::string faultBody(int code, const std::string &text)
{
    return "<?xml version=\"1.0\"?>\r\n<methodResponse><fault>\r\n\t<value><struct><member><name>faultCode</name>"
           "<value><i4>" +
           std::to_string(code) + "</i4></value></member><member><name>faultString</name><value>" + text +
           "</value></member></struct></value>\r\n</fault></methodResponse>\r\n";
}

std::string nonBlockingRead(int fd)
{
    std::string got;
    char buf[4096];
    ssize_t n;
    while ((n = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0)
        got.append(buf, static_cast<size_t>(n));
    return got;
}

// A connection on one end of a socket pair, driven one event at a time.
struct PairConnection {
    int peer = -1;
    XmlRpcServerConnection *conn = nullptr;
    explicit PairConnection(XmlRpcServer &server)
    {
        int sv[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
        fcntl(sv[0], F_SETFL, O_NONBLOCK);
        peer = sv[1];
        conn = new XmlRpcServerConnection(sv[0], &server, false);
    }
    ~PairConnection()
    {
        conn->close();
        delete conn;
        close(peer);
    }
    unsigned event() { return conn->handleEvent(XmlRpcDispatch::ReadableEvent); }
};

} // namespace

TEST(XmlRpcServer, ConnectionAnswersAWholeRequestInOneEvent)
{
    TestServer t;
    PairConnection p(t.server);
    std::string body = callBody("Echo", "<param><value><i4>7</i4></value></param>");
    ASSERT_TRUE(sendAll(p.peer, httpPost(body)));
    EXPECT_EQ(p.event(), unsigned(XmlRpcDispatch::ReadableEvent)) << "answered and kept for HTTP/1.1";
    std::string expectBody = okBody("<value><i4>7</i4></value>");
    EXPECT_EQ(nonBlockingRead(p.peer), "HTTP/1.1 200 OK\r\nServer: XMLRPC++ 0.7\r\nContent-Type: text/xml\r\n"
                                       "Content-length: " +
                                           std::to_string(expectBody.size()) + "\r\n\r\n" + expectBody);

    // A header ending exactly at the end of the bytes so far waits for more.
    std::string req = httpPost(body);
    size_t h = req.find("\r\n\r\n") + 4;
    ASSERT_TRUE(sendAll(p.peer, req.substr(0, h)));
    EXPECT_EQ(p.event(), unsigned(XmlRpcDispatch::ReadableEvent));
    EXPECT_EQ(p.conn->state(), XmlRpcServerConnection::READ_HEADER);
    ASSERT_TRUE(sendAll(p.peer, req.substr(h, 5)));
    p.event();
    EXPECT_EQ(p.conn->state(), XmlRpcServerConnection::READ_REQUEST);
    EXPECT_EQ(nonBlockingRead(p.peer), "");
    ASSERT_TRUE(sendAll(p.peer, req.substr(h + 5)));
    p.event();
    EXPECT_EQ(bodyOf(nonBlockingRead(p.peer)), expectBody);

    // "\n\n" also ends a header, and the length is found case-insensitively.
    ASSERT_TRUE(sendAll(p.peer, "POST / HTTP/1.1\nCONTENT-LENGTH: " + std::to_string(body.size()) + "\n\n" + body));
    p.event();
    EXPECT_EQ(bodyOf(nonBlockingRead(p.peer)), expectBody);
}

TEST(XmlRpcServer, HeaderRefusalsAndKeepAlive)
{
    TestServer t;
    std::string body = callBody("Nothing");
    struct Case {
        std::string request;
        unsigned after; // mask after the event: 0 closes
        const char *error;
    } cases[] = {
        {"POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\nx", 0,
         "XmlRpcServerConnection::readHeader: Invalid Content-length specified (0).\n"},
        {"POST / HTTP/1.1\r\nContent-length: -5\r\n\r\nx", 0,
         "XmlRpcServerConnection::readHeader: Invalid Content-length specified (-5).\n"},
        {"POST / HTTP/1.1\r\nHost: x\r\n\r\nx", 0, "XmlRpcServerConnection::readHeader: No Content-length specified\n"},
        {"POST / HTTP/1.1\r\nContent-length: 8388609\r\n\r\nx", 0,
         "XmlRpcServerConnection::readHeader: Content-length too large (8388609).\n"},
        {"POST / HTTP/1.1\r\nContent-length: 99999999999999999999\r\n\r\nx", 0,
         "XmlRpcServerConnection::readHeader: Content-length too large (2147483647).\n"},
        {httpPost(body, "HTTP/1.0"), 0, ""},
        {httpPost(body, "HTTP/1.0", "Connection: Keep-Alive\r\n"), XmlRpcDispatch::ReadableEvent, ""},
        {httpPost(body, "HTTP/1.1", "Connection: close\r\n"), 0, ""},
        {httpPost(body, "HTTP/1.1"), XmlRpcDispatch::ReadableEvent, ""},
    };
    for (const Case &c : cases) {
        PairConnection p(t.server);
        ASSERT_TRUE(sendAll(p.peer, c.request));
        testing::internal::CaptureStderr();
        unsigned mask = p.event();
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(mask, c.after) << c.request;
        EXPECT_EQ(err, c.error) << c.request;
        if (c.error[0] == '\0') {
            EXPECT_EQ(bodyOf(nonBlockingRead(p.peer)), okBody("<value></value>")) << c.request;
        }
    }

    // The largest allowed body is read; an endless header is refused.
    PairConnection big(t.server);
    ASSERT_TRUE(sendAll(big.peer, "POST / HTTP/1.1\r\nContent-length: 8388608\r\n\r\n<"));
    EXPECT_EQ(big.event(), unsigned(XmlRpcDispatch::ReadableEvent));
    EXPECT_EQ(big.conn->state(), XmlRpcServerConnection::READ_REQUEST);
    PairConnection endless(t.server);
    std::string junk(70000, 'a');
    ASSERT_TRUE(sendAll(endless.peer, junk));
    testing::internal::CaptureStderr();
    EXPECT_EQ(endless.event(), 0u);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("header too long"), std::string::npos);

    // End of file before a header: closed, with the error line only when
    // part of a header had come.
    PairConnection eof(t.server);
    ASSERT_TRUE(sendAll(eof.peer, "POST / HT"));
    shutdown(eof.peer, SHUT_WR);
    testing::internal::CaptureStderr();
    // A short read returns to poll, so the data and the end of file may take
    // two readable events.
    unsigned eofMask = eof.event();
    if (eofMask != 0)
        eofMask = eof.event();
    EXPECT_EQ(eofMask, 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "XmlRpcServerConnection::readHeader: EOF while reading header\n");
}

TEST(XmlRpcServer, ExecutesMethodsFaultsAndIntrospectionWithoutSockets)
{
    TestServer t;
    auto call = [&](const std::string &method, const std::string &params = "") {
        return bodyOf(t.server.executeRequest(callBody(method, params)));
    };
    EXPECT_EQ(call("foo"), faultBody(-1, "foo: unknown method name"));
    EXPECT_EQ(call("Nothing"), okBody("<value></value>"));
    EXPECT_EQ(call("Thrower"), faultBody(42, "custom"));
    EXPECT_EQ(call("Echo", "<param><value>a&amp;b</value></param>"), okBody("<value>a&amp;b</value>"));
    // Without <param> the parameters are invalid, not an empty array; an
    // unreadable parameter is stored invalid.
    EXPECT_EQ(call("TypeOf"), okBody("<value><array><data><value><i4>0</i4></value></data></array></value>"));
    EXPECT_EQ(call("TypeOf", "<param><value><boolean>9</boolean></value></param>"),
              okBody("<value><array><data><value><i4>7</i4></value><value><i4>1</i4></value>"
                     "<value><i4>0</i4></value></data></array></value>"));
    // Header of the whole response.
    std::string whole = t.server.executeRequest(callBody("Nothing"));
    EXPECT_EQ(whole.substr(0, whole.find("\r\n\r\n") + 4),
              "HTTP/1.1 200 OK\r\nServer: XMLRPC++ 0.7\r\nContent-Type: text/xml\r\nContent-length: " +
                  std::to_string(okBody("<value></value>").size()) + "\r\n\r\n");

    EXPECT_EQ(call("system.listMethods"),
              okBody("<value><array><data><value>Echo</value><value>Nothing</value><value>Thrower</value>"
                     "<value>TypeOf</value><value>system.listMethods</value><value>system.methodHelp</value>"
                     "<value>system.multicall</value></data></array></value>"));
    EXPECT_EQ(call("system.methodHelp", "<param><value>TypeOf</value></param>"),
              okBody("<value>Types of the parameters</value>"));
    EXPECT_EQ(call("system.methodHelp", "<param><value>system.listMethods</value></param>"),
              okBody("<value>List all methods available on a server as an array of strings</value>"));
    EXPECT_EQ(call("system.methodHelp", "<param><value>zzz</value></param>"),
              faultBody(-1, "system.methodHelp: Unknown method name"));
    EXPECT_EQ(call("system.methodHelp", "<param><value><i4>1</i4></value></param>"),
              faultBody(-1, "system.methodHelp: Invalid argument type"));
}

TEST(XmlRpcServer, Multicall)
{
    TestServer t;
    auto multicall = [&](const std::string &params) {
        size_t offset = 0;
        std::string body = bodyOf(t.server.executeRequest(callBody("system.multicall", params)));
        XmlRpcUtil::findTag("<param>", body, &offset);
        bool fault = body.find("<fault>") != std::string::npos;
        if (fault)
            XmlRpcUtil::findTag("<fault>", body, &offset);
        XmlRpcValue v(body, &offset);
        return std::make_pair(fault, v);
    };
    XmlRpcValue calls;
    calls[0]["methodName"] = "Echo";
    calls[0]["params"][0] = 5;
    calls[1]["methodName"] = "Echo"; // lacks params
    calls[2]["methodName"] = "foo";
    calls[2]["params"].setSize(0);
    calls[3]["methodName"] = "Thrower";
    calls[3]["params"].setSize(0);
    calls[4] = 17;
    // A nested multicall runs on its own entry's params.
    calls[5]["methodName"] = "system.multicall";
    calls[5]["params"][0][0]["methodName"] = "Echo";
    calls[5]["params"][0][0]["params"][0] = "inner";
    calls[6]["methodName"] = 3; // not a string: that entry's fault
    calls[6]["params"].setSize(0);

    auto [fault, r] = multicall("<param>" + calls.toXml() + "</param>");
    ASSERT_FALSE(fault);
    ASSERT_EQ(r.getType(), XmlRpcValue::TypeArray);
    ASSERT_EQ(r.size(), 7);
    XmlRpcValue first;
    first[0] = 5;
    EXPECT_EQ(r[0], first);
    const std::string bad = "system.multicall: Invalid argument (expected a struct with members methodName and params)";
    EXPECT_EQ(r[1]["faultCode"], XmlRpcValue(-1));
    EXPECT_EQ(r[1]["faultString"].asString(), bad);
    EXPECT_EQ(r[2]["faultString"].asString(), "foo: unknown method name");
    EXPECT_EQ(r[3]["faultCode"], XmlRpcValue(42));
    EXPECT_EQ(r[4]["faultString"].asString(), bad);
    EXPECT_EQ(r[5][0][0][0].asString(), "inner");
    EXPECT_EQ(r[6]["faultString"].asString(), "type error");

    auto [f1, noParams] = multicall("");
    EXPECT_TRUE(f1);
    EXPECT_EQ(noParams["faultString"].asString(), " type error");
    auto [f2, notArray] = multicall("<param><value><i4>1</i4></value></param>");
    EXPECT_TRUE(f2);
    EXPECT_EQ(notArray["faultString"].asString(), "system.multicall: Invalid argument (expected an array)");
}

TEST(XmlRpcServer, LoopbackKeepAliveRefusalsAndLimits)
{
    TestServer t;
    t.server.setIdleTimeout(0.3);
    ASSERT_TRUE(t.server.bindAndListen(0, "127.0.0.1"));
    int port = t.server.port();
    ASSERT_GT(port, 0);
    ServerThread thread(t.server);

    std::string echo7 = httpPost(callBody("Echo", "<param><value><i4>7</i4></value></param>"));
    std::string want7 = okBody("<value><i4>7</i4></value>");

    // HTTP/1.1: two requests on one connection. HTTP/1.0: closed after one.
    int a = connectTo(port);
    ASSERT_GE(a, 0);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(sendAll(a, echo7));
        EXPECT_EQ(bodyOf(readResponse(a)), want7);
    }
    int old = connectTo(port);
    ASSERT_TRUE(sendAll(old, httpPost(callBody("Nothing"), "HTTP/1.0")));
    bool closed = false;
    EXPECT_EQ(bodyOf(readResponse(old, &closed)), okBody("<value></value>"));
    EXPECT_TRUE(peerClosed(old));
    close(old);

    // An oversize request is refused and closed; an over-deep one reads as
    // an invalid parameter; the server goes on serving.
    int big = connectTo(port);
    ASSERT_TRUE(sendAll(big, "POST / HTTP/1.1\r\nContent-length: 9000000\r\n\r\n<?xml"));
    EXPECT_TRUE(peerClosed(big));
    close(big);
    std::string deep;
    for (int i = 0; i < 200; ++i)
        deep += "<value><struct><member><name>n</name>";
    int d = connectTo(port);
    ASSERT_TRUE(sendAll(d, httpPost(callBody("TypeOf", "<param>" + deep + "</param>"))));
    EXPECT_EQ(bodyOf(readResponse(d)), okBody("<value><array><data><value><i4>7</i4></value><value><i4>1</i4></value>"
                                              "<value><i4>0</i4></value></data></array></value>"));
    ASSERT_TRUE(sendAll(d, echo7));
    EXPECT_EQ(bodyOf(readResponse(d)), want7);
    close(d);

    // The first connection has sat idle since its calls: it is closed.
    EXPECT_TRUE(peerClosed(a, 3000));
    close(a);
    t.server.setIdleTimeout(XmlRpcServer::kIdleTimeout);

    // At most 64 connections are served; the next waits until one closes.
    std::vector<int> held;
    for (int i = 0; i < XmlRpcServer::kMaxConnections; ++i) {
        int fd = connectTo(port);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(sendAll(fd, echo7));
        ASSERT_EQ(bodyOf(readResponse(fd)), want7) << i;
        held.push_back(fd);
    }
    int extra = connectTo(port);
    ASSERT_GE(extra, 0);
    ASSERT_TRUE(sendAll(extra, echo7));
    EXPECT_EQ(readResponse(extra, nullptr, 150), "") << "not accepted while 64 are open";
    close(held.back());
    held.pop_back();
    EXPECT_EQ(bodyOf(readResponse(extra)), want7);
    close(extra);
    for (int fd : held)
        close(fd);
}

TEST(XmlRpcServer, TraceLinesFollowTheVerbosity)
{
    TestServer t;
    std::string request = httpPost(callBody("Nothing"));
    auto traced = [&](int level) {
        XmlRpcUtil::setVerbosity(level);
        PairConnection p(t.server);
        sendAll(p.peer, request);
        testing::internal::CaptureStdout();
        p.event();
        std::string out = testing::internal::GetCapturedStdout();
        XmlRpcUtil::setVerbosity(0);
        return out;
    };
    EXPECT_EQ(traced(0), "");
    std::string two = traced(2);
    EXPECT_NE(two.find("XmlRpcServerConnection::executeRequest: server calling method 'Nothing'\n"), std::string::npos);
    EXPECT_EQ(two.find("KeepAlive"), std::string::npos) << "level 3 lines stay out at 2";
    std::string three = traced(3);
    EXPECT_NE(three.find("XmlRpcServerConnection::readHeader: specified content length is "), std::string::npos);
    EXPECT_NE(three.find("KeepAlive: 1\n"), std::string::npos);
    std::string five = traced(5);
    EXPECT_NE(five.find("XmlRpcServerConnection::generateResponse:\nHTTP/1.1 200 OK"), std::string::npos);
}

// A dispatcher that stays awake after each event still answers every call,
// and its spinning never outlasts the time work() was given.
TEST(XmlRpcServer, SpinningDispatcherServesAndKeepsItsTimeLimit)
{
    TestServer t;
    ASSERT_TRUE(t.server.bindAndListen(0, "127.0.0.1"));
    // Far longer than the round below: the round's limit must win.
    t.server.dispatch().setSpin(400000);
    int a = connectTo(t.server.port());
    ASSERT_GE(a, 0);
    std::string echo = httpPost(callBody("Echo", "<param><value><i4>9</i4></value></param>"));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(sendAll(a, echo));
        auto t0 = std::chrono::steady_clock::now();
        t.server.work(0.05);
        double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_EQ(bodyOf(readResponse(a)), okBody("<value><i4>9</i4></value>")) << i;
        EXPECT_LT(took, 0.3) << "a 0.05 s round spun on for " << took << " s";
    }
    close(a);
    t.server.dispatch().setSpin(-5);
    EXPECT_EQ(t.server.dispatch().spin(), 0);
}
