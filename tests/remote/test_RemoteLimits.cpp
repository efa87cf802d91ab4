// What one peer can cost the generator: parse time, render thread, memory
// for responses, the request queue, well-formed answers, the format list,
// the descriptor limit. Everything through the real server on loopback.
#include "OvGenOptions.h"
#include "OvcXmlPrivates.h"
#include "QiLog.h"
#include "RemoteTestEngine.h"
#include "RemoteTestUtil.h"
#include "XmlRpcUtil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace remotetest;

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

std::string repeat(const std::string &s, size_t times)
{
    std::string out;
    out.reserve(s.size() * times);
    for (size_t i = 0; i < times; ++i)
        out += s;
    return out;
}

// Peak resident memory of this process since the last reset (kB).
long peakKb()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}
long residentKb()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}
void resetPeak()
{
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
// Time bounds stretch under the sanitizers.
constexpr double kSlow = kSanitized ? 4.0 : 1.0;

// Reports the shape of its first parameter: type, size, type of element 0.
class Shape : public XmlRpcServerMethod {
public:
    explicit Shape(XmlRpcServer *s) : XmlRpcServerMethod("Shape", s) {}
    void execute(XmlRpcValue &params, XmlRpcValue &result) override
    {
        const XmlRpcValue &p = params[0];
        result[0] = static_cast<int>(p.getType());
        result[1] = p.getType() == XmlRpcValue::TypeArray || p.getType() == XmlRpcValue::TypeStruct ? p.size() : -1;
        // The first element, when it is a string.
        const XmlRpcValue *first = nullptr;
        if (p.getType() == XmlRpcValue::TypeArray && p.size() > 0)
            first = &p[0];
        if (p.getType() == XmlRpcValue::TypeStruct && p.hasMember(""))
            first = &p.structMembers().at("");
        if (first && first->getType() == XmlRpcValue::TypeString)
            result[2] = *first;
    }
};

class Echo : public XmlRpcServerMethod {
public:
    explicit Echo(XmlRpcServer *s) : XmlRpcServerMethod("Echo", s) {}
    void execute(XmlRpcValue &params, XmlRpcValue &result) override { result = params[0]; }
};

struct PlainServer {
    XmlRpcServer server;
    Shape shape{&server};
    Echo echo{&server};
    PlainServer() { server.enableIntrospection(true); }
};

// The generator's methods on a test engine, served on a port of its own.
struct Generator {
    TestEngine engine;
    OvcXmlPrivates holder{&engine.core};
    int port = -1;
    Generator()
    {
        EXPECT_TRUE(holder.start(0, "127.0.0.1"));
        port = holder.port();
    }
};

// A connection whose receive window stays small, so that what the server
// sends piles up on its side instead of in this socket.
int connectNarrow(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int small = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// One call on a fresh connection: the whole response, or what came in time.
std::string post(int port, const std::string &body, int timeoutMs = 10000)
{
    int fd = connectTo(port);
    if (fd < 0)
        return std::string();
    sendAll(fd, httpPost(body));
    std::string r = readResponse(fd, nullptr, timeoutMs);
    close(fd);
    return r;
}

// The value of a response body (the fault struct for a fault).
XmlRpcValue valueOf(const std::string &response, bool *fault = nullptr)
{
    std::string body = bodyOf(response);
    size_t offset = 0;
    bool isFault = XmlRpcUtil::findTag("<fault>", body, &offset);
    if (!isFault) {
        offset = 0;
        XmlRpcUtil::findTag("<param>", body, &offset);
    }
    if (fault)
        *fault = isFault;
    return XmlRpcValue(body, &offset);
}

std::string call(const std::string &method, const XmlRpcValue &param)
{
    return callBody(method, "<param>" + param.toXml() + "</param>");
}

XmlRpcValue multicallOf(const char *method, int n, const XmlRpcValue &params = XmlRpcValue(XmlRpcValue::ValueArray{}))
{
    XmlRpcValue calls{XmlRpcValue::ValueArray{}};
    for (int i = 0; i < n; ++i) {
        calls[i]["methodName"] = method;
        calls[i]["params"] = params;
    }
    return calls;
}

// Every byte of text is a character XML 1.0 allows, in well-formed UTF-8.
bool onlyXmlCharacters(const std::string &text, std::string *why = nullptr)
{
    const auto *s = reinterpret_cast<const unsigned char *>(text.data());
    for (size_t i = 0; i < text.size();) {
        unsigned b = s[i];
        size_t len = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
        uint32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = len > 0 && i + len <= text.size();
        for (size_t k = 1; ok && k < len; ++k) {
            ok = (s[i + k] & 0xC0) == 0x80;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        ok = ok && cp >= least[len] && cp <= 0x10FFFF;
        ok = ok && (cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
                    (cp >= 0xE000 && cp <= 0xFFFD) || cp >= 0x10000);
        if (!ok) {
            if (why)
                *why = "byte " + std::to_string(b) + " at " + std::to_string(i);
            return false;
        }
        i += len;
    }
    return true;
}

struct LogCapture : QiOutput {
    bool write(const char *b, size_t n) override
    {
        std::lock_guard<std::mutex> g(lock);
        text.append(b, n);
        return true;
    }
    std::string get()
    {
        std::lock_guard<std::mutex> g(lock);
        return text;
    }
    std::mutex lock;
    std::string text;
};

// Reads responses one at a time from a connection that may deliver several
// in one piece.
struct ResponseReader {
    int fd;
    std::string buffered;
    std::string next(int timeoutMs)
    {
        auto t0 = Clock::now();
        for (;;) {
            size_t h = buffered.find("\r\n\r\n");
            size_t l = buffered.find("Content-length: ");
            if (h != std::string::npos && l != std::string::npos && l < h) {
                size_t end = h + 4 + std::stoul(buffered.substr(l + 16, 24));
                if (buffered.size() >= end) {
                    std::string r = buffered.substr(0, end);
                    buffered.erase(0, end);
                    return r;
                }
            }
            int left = timeoutMs - static_cast<int>(since(t0) * 1000);
            pollfd p{fd, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, left) <= 0)
                return std::string();
            char buf[65536];
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return std::string();
            buffered.append(buf, static_cast<size_t>(n));
        }
    }
};

// A struct written by hand, so that bytes reach the server as they are.
std::string rawStruct(const std::vector<std::pair<std::string, std::string>> &members)
{
    std::string x = "<value><struct>";
    for (const auto &[name, value] : members)
        x += "<member><name>" + name + "</name><value>" + value + "</value></member>";
    return x + "</struct></value>";
}

size_t count(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

} // namespace

// Missing end tags sent every search to the end of the body: the three
// bodies below took 6.7 s, 22.8 s and 26.5 s, and 8 MiB would take tens of
// minutes while nobody else was served. Each is now answered at once, with
// the meaning the reading rules give it.
TEST(RemoteLimits, ParsingTimeIsLinearInTheBody)
{
    PlainServer t;
    ASSERT_TRUE(t.server.bindAndListen(0, "127.0.0.1"));
    ServerThread thread(t.server);
    const int port = t.server.port();

    struct Case {
        const char *what;
        std::string param;
        int type, size;
        XmlRpcValue first;
    } cases[] = {
        {"40 000 unterminated values", "<value><array><data>" + repeat("<value>a", 40000), 7, 40000, "a"},
        {"40 000 nested array openers", repeat("<value><array><data>", 40000), 7, 1, XmlRpcValue()},
        {"40 000 members without names", "<value><struct>" + repeat("<member><value>a</value></member>", 40000), 8, 1,
         "a"},
    };
    for (const Case &c : cases) {
        auto t0 = Clock::now();
        std::string r = post(port, callBody("Shape", "<param>" + c.param + "</param>"));
        double took = since(t0);
        ASSERT_LT(took, 3.0 * kSlow) << c.what << ": " << c.param.size() << " bytes took " << took << " s";
        XmlRpcValue v = valueOf(r);
        ASSERT_EQ(v.getType(), XmlRpcValue::TypeArray) << c.what << ": " << r.substr(0, 300);
        EXPECT_EQ(v[0], XmlRpcValue(c.type)) << c.what;
        EXPECT_EQ(v[1], XmlRpcValue(c.size)) << c.what;
        if (c.first.valid()) {
            EXPECT_EQ(v[2], c.first) << c.what;
        }
    }

    // The largest body allowed, of each shape.
    const size_t big = XmlRpcServer::kMaxContentLength - 200;
    for (const std::string &unit : {std::string("<value>a"), std::string("<value><array><data>"),
                                    std::string("<member><value>a</value></member>"), std::string(" ")}) {
        std::string param = (unit[1] == 'm' ? "<value><struct>" : unit == " " ? "<value><array><data>" : "") +
                            repeat(unit, big / unit.size());
        std::string body = callBody("Shape", "<param>" + param + "</param>");
        ASSERT_LE(body.size(), size_t(XmlRpcServer::kMaxContentLength));
        auto t0 = Clock::now();
        XmlRpcValue v = valueOf(post(port, body));
        double took = since(t0);
        EXPECT_LT(took, 5.0 * kSlow) << unit << ": " << body.size() << " bytes took " << took << " s";
        EXPECT_EQ(v.getType(), XmlRpcValue::TypeArray) << unit;
    }
}

// "CyanidePill" ended the render thread from SetGen, system.multicall and a
// stored alias; later calls still got ids. The stop message is now the
// engine's own: from outside the key is an unknown option.
TEST(RemoteLimits, NoCallerOutsideTheEngineCanStopTheRenderThread)
{
    Generator g;
    TestRaster &raster = g.engine.raster;
    auto renderedWithin = [&](int before, int ms = 3000) {
        auto t0 = Clock::now();
        while (raster.renders.load() <= before && since(t0) * 1000 < ms)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return raster.renders.load() > before;
    };
    auto setGen = [&](const XmlRpcValue &param) { return valueOf(post(g.port, call("SetGen", param))); };

    XmlRpcValue pill;
    pill["Pattern"] = "TestBars";
    pill["CyanidePill"] = 1;
    int before = raster.renders.load();
    XmlRpcValue id = setGen(pill);
    ASSERT_EQ(id.getType(), XmlRpcValue::TypeInt);
    ASSERT_NE(id.asInt(), -1);
    ASSERT_TRUE(renderedWithin(before)) << "the request is drawn like any other";
    before = raster.renders.load();
    setGen("Plain");
    ASSERT_TRUE(renderedWithin(before)) << "the render thread is still there";

    XmlRpcValue stringPill;
    stringPill["CyanidePill"] = "0x1";
    XmlRpcValue calls;
    calls[0]["methodName"] = "SetGen";
    calls[0]["params"][0] = stringPill;
    calls[1]["methodName"] = "SetGen";
    calls[1]["params"][0] = "TestBars";
    before = raster.renders.load();
    XmlRpcValue answers = valueOf(post(g.port, call("system.multicall", calls)));
    ASSERT_EQ(answers.size(), 2);
    EXPECT_EQ(answers[1][0].asInt(), answers[0][0].asInt() + 1);
    ASSERT_TRUE(renderedWithin(before));

    XmlRpcValue alias;
    alias["AliasName"] = "pill";
    alias["Pattern"] = "TestBars";
    alias["CyanidePill"] = "7";
    EXPECT_EQ(valueOf(post(g.port, call("SetAlias", alias))), XmlRpcValue("pill"));
    before = raster.renders.load();
    setGen("pill");
    ASSERT_TRUE(renderedWithin(before)) << "the alias is drawn";
    before = raster.renders.load();
    setGen("Plain");
    ASSERT_TRUE(renderedWithin(before)) << "and the render thread goes on";

    // Once the engine has shut down no id is handed out.
    g.engine.core.shutdown();
    EXPECT_EQ(setGen("TestBars"), XmlRpcValue(-1));
    EXPECT_EQ(setGen(pill), XmlRpcValue(-1));
}

// A multicall of GetGenOptions grew 68 times: 8 MiB made 571 MB and took
// 1.5 GB at its peak. The number of calls and the size of the answer are
// bounded, and crossing either makes the call a fault before the work is done.
TEST(RemoteLimits, MulticallWorkAndResponseSizeAreBounded)
{
    Generator g;
    const std::string one = bodyOf(post(g.port, callBody("GetGenOptions")));
    ASSERT_GT(one.size(), 1000u);

    struct Case {
        const char *what;
        std::string body;
        const char *fault;
    };
    // As many entries as 8 MiB holds.
    XmlRpcValue entry = multicallOf("GetGenOptions", 1);
    const size_t entryBytes = entry[0].toXml().size();
    const int fill = static_cast<int>((XmlRpcServer::kMaxContentLength - 400) / entryBytes);
    // Within the call limit, but past the response limit.
    const int wide = static_cast<int>(std::min<size_t>(XmlRpcServer::kMaxMulticallCalls,
                                                       2 * XmlRpcServer::kMaxResponseBytes / one.size()));
    ASSERT_GT(static_cast<size_t>(wide) * one.size(), XmlRpcServer::kMaxResponseBytes)
        << "GetGenOptions answers must be large enough to cross the limit";
    XmlRpcValue nested{XmlRpcValue::ValueArray{}};
    for (int i = 0; i < 2; ++i) {
        nested[i]["methodName"] = "system.multicall";
        nested[i]["params"][0] = multicallOf("GetOrvVersion", XmlRpcServer::kMaxMulticallCalls / 2);
    }
    Case cases[] = {
        {"8 MiB of calls", call("system.multicall", multicallOf("GetGenOptions", fill)),
         "system.multicall: too many calls (at most 4096)"},
        {"answers past the response limit", call("system.multicall", multicallOf("GetGenOptions", wide)),
         "system.multicall: response too large"},
        {"nested calls count too", call("system.multicall", nested), "system.multicall: too many calls (at most 4096)"},
    };
    for (const Case &c : cases) {
        ASSERT_LE(bodyOf(httpPost(c.body)).size(), size_t(XmlRpcServer::kMaxContentLength)) << c.what;
        resetPeak();
        const long base = residentKb();
        auto t0 = Clock::now();
        std::string r = post(g.port, c.body, 30000);
        double took = since(t0);
        long grew = (peakKb() - base) / 1024;
        bool fault = false;
        XmlRpcValue v = valueOf(r, &fault);
        EXPECT_TRUE(fault) << c.what << ": " << r.size() << " bytes";
        EXPECT_EQ(v["faultString"], XmlRpcValue(c.fault)) << c.what;
        EXPECT_LT(r.size(), 1000u) << c.what;
        EXPECT_LT(took, 5.0 * kSlow) << c.what;
        EXPECT_LT(grew, kSanitized ? 1200 : 400) << c.what << ": peak memory grew by " << grew << " MB";
    }

    // Within both limits a multicall is answered in full.
    XmlRpcValue fine = valueOf(post(g.port, call("system.multicall", multicallOf("GetOrvVersion", 1000))));
    ASSERT_EQ(fine.size(), 1000);
    EXPECT_EQ(fine[999][0][0]["Software"], XmlRpcValue("317"));
}

// Connections that never read held 3.15 GB until their idle close 300 s
// later. Unsent answers now have a total (64 MiB; a smaller one here for
// speed); one that does not fit is a short fault; a reader that stops, or
// reads too slowly, is dropped.
TEST(RemoteLimits, UnreadResponsesAreBoundedAndDropped)
{
    Generator g;
    XmlRpcServer &server = g.holder.server();
    EXPECT_EQ(server.maxPendingResponseBytes(), XmlRpcServer::kMaxPendingResponseBytes);
    const size_t one = bodyOf(post(g.port, callBody("GetGenOptions"))).size();
    auto askFor = [&](size_t bytes) {
        return call("system.multicall", multicallOf("GetGenOptions", static_cast<int>(bytes / one)));
    };
    // A total of 16 MB and answers of about 7 MB, more than the system
    // buffers for a socket: two fit, not four.
    const size_t limit = 16'000'000;
    server.setMaxPendingResponseBytes(limit);
    const std::string large = askFor(7'000'000);

    std::vector<int> idle;
    for (int i = 0; i < 4; ++i) {
        int fd = connectNarrow(g.port);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(sendAll(fd, httpPost(large)));
        idle.push_back(fd);
        // Each answered before the next asks, so the order is known.
        pollfd p{fd, POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 10000), 1) << i;
        EXPECT_LE(server.pendingResponseBytes(), limit + 4 * 1024) << i;
    }
    EXPECT_GT(server.pendingResponseBytes(), limit / 2);
    int full = 0, busy = 0;
    size_t fullSize = 0;
    for (int fd : idle) {
        bool fault = false;
        std::string r = readResponse(fd, nullptr, 10000);
        XmlRpcValue v = valueOf(r, &fault);
        if (fault) {
            EXPECT_EQ(v["faultString"], XmlRpcValue(XmlRpcServer::kBusyFault));
            ++busy;
        } else {
            EXPECT_EQ(v.size(), static_cast<int>(7'000'000 / one));
            EXPECT_EQ(busy, 0) << "the first answers fit, the later ones do not";
            fullSize = r.size();
            ++full;
        }
    }
    ASSERT_GT(fullSize, 0u);
    EXPECT_EQ(full, static_cast<int>(limit / fullSize));
    EXPECT_EQ(busy, 4 - full);
    for (int fd : idle)
        close(fd);
    EXPECT_EQ(server.pendingResponseBytes(), 0u);
    server.setMaxPendingResponseBytes(XmlRpcServer::kMaxPendingResponseBytes);

    // A reader that stops is dropped once it has not moved for the stall time.
    server.setStallTimeout(0.3);
    std::vector<int> stalled;
    for (int i = 0; i < 3; ++i) {
        int fd = connectNarrow(g.port);
        ASSERT_TRUE(sendAll(fd, httpPost(large)));
        stalled.push_back(fd);
    }
    auto t0 = Clock::now();
    while (server.pendingResponseBytes() == 0 && since(t0) < 10 * kSlow)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GT(server.pendingResponseBytes(), 0u);
    // The three answers are made one after another: nothing pending may
    // only mean the next is still being made. Done once every stalled
    // reader is gone.
    while ((server.pendingResponseBytes() > 0 || server.connectionCount() > 0) && since(t0) < 20 * kSlow)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(server.connectionCount(), 0) << "stalled readers still connected";
    EXPECT_EQ(server.pendingResponseBytes(), 0u) << "stalled readers still hold their answers";
    EXPECT_LT(since(t0), 8.0 * kSlow);
    for (int fd : stalled) {
        bool closed = false;
        std::string got = readResponse(fd, &closed, 20000);
        EXPECT_TRUE(closed);
        EXPECT_LT(got.size(), 6'000'000u) << "dropped before the whole answer was sent";
        close(fd);
    }

    // A reader that keeps reading, but too slowly, is dropped at the deadline.
    server.setStallTimeout(XmlRpcServer::kStallTimeout);
    server.setResponseDeadline(1.0);
    int slow = connectNarrow(g.port);
    ASSERT_TRUE(sendAll(slow, httpPost(large)));
    size_t got = 0;
    t0 = Clock::now();
    // Reading on, 200 kB/s: the whole answer would take a minute.
    while (since(t0) < 20 * kSlow && (got < 1000 || server.pendingResponseBytes() > 0)) {
        char buf[2048];
        pollfd p{slow, POLLIN, 0};
        if (poll(&p, 1, 100) == 1) {
            ssize_t n = recv(slow, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(server.pendingResponseBytes(), 0u);
    EXPECT_LT(since(t0), 5.0 * kSlow) << "dropped at the deadline";
    // What the system had already taken still arrives, then the end.
    bool closed = false;
    got += readResponse(slow, &closed, 5000).size();
    EXPECT_TRUE(closed);
    EXPECT_LT(got, 6'000'000u);
    close(slow);
}

// 500 SetGen calls in one multicall queued minutes of rendering ahead of
// everyone. The queue holds 256; beyond that SetGen answers -1 and the
// engine logs it; every id handed out is drawn.
TEST(RemoteLimits, RequestQueueIsBounded)
{
    Generator g;
    auto *log = new LogCapture;
    std::unique_ptr<QiOutput> oldLog = swapLogOutput(std::unique_ptr<QiOutput>(log));
    TestRaster &raster = g.engine.raster;
    struct Reopen {
        TestRaster &r;
        ~Reopen() { r.openGate(); } // the engine's shutdown must get through
    } reopen{raster};

    raster.closeGate();
    XmlRpcValue first = valueOf(post(g.port, call("SetGen", "TestBars")));
    raster.waitAtGate(); // taken by the render thread: the queue is empty
    const int before = raster.renders.load();
    XmlRpcValue ids = valueOf(post(g.port, call("system.multicall", multicallOf("SetGen", 500, [] {
                                                    XmlRpcValue p;
                                                    p[0] = "TestBars";
                                                    return p;
                                                }()))));
    ASSERT_EQ(ids.size(), 500);
    const int queued = static_cast<int>(OvCore::kMaxQueuedRequests);
    for (int i = 0; i < 500; ++i) {
        if (i < queued)
            ASSERT_EQ(ids[i][0].asInt(), first.asInt() + 1 + i) << i;
        else
            ASSERT_EQ(ids[i][0], XmlRpcValue(-1)) << i;
    }
    EXPECT_EQ(count(log->get(), "request queue full (256 requests"), 1u) << log->get();

    raster.openGate();
    auto t0 = Clock::now();
    while (raster.renders.load() < before + 1 + queued && since(t0) < 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(raster.renders.load(), before + 1 + queued) << "every id handed out is drawn";
    XmlRpcValue after = valueOf(post(g.port, call("SetGen", "TestBars")));
    EXPECT_EQ(after.asInt(), first.asInt() + 1 + queued);
    EXPECT_NE(log->get().find("request queue has room again; 244 requests were refused"), std::string::npos);
    swapLogOutput(std::move(oldLog));
}

// An alias name with a control byte or broken UTF-8 made every later
// PatternOption answer ill-formed until restart. Such names are refused,
// and any text from outside is written so that every answer is well-formed.
TEST(RemoteLimits, AnswersAreAlwaysWellFormedXml)
{
    Generator g;
    auto setAlias = [&](const std::string &name) {
        return valueOf(post(g.port, callBody("SetAlias", "<param>" +
                                                             rawStruct({{"AliasName", name}, {"Pattern", "TestBars"}}) +
                                                             "</param>")));
    };
    for (const std::string &bad : {std::string("bell\x07"), std::string("nul\0x", 5), std::string("\xFF\xFE"),
                                   std::string("\xC0\xAF"), std::string("del\x7F"), std::string("c1\xC2\x85"),
                                   std::string("cut\xE2\x82")})
        EXPECT_EQ(setAlias(bad), XmlRpcValue("invalid arguments")) << bad;
    EXPECT_EQ(setAlias("Gr\xC3\xB6\xC3\x9F" "e"), XmlRpcValue("Gr\xC3\xB6\xC3\x9F" "e"));
    // Cut to 80 bytes where a character begins.
    EXPECT_EQ(setAlias(std::string(79, 'a') + "\xC3\xA9z"), XmlRpcValue(std::string(79, 'a')));

    const std::string dirty = rawStruct(
        {{"Pattern", "TestBars"}, {"Note", std::string("bell\x07 nul\0 ff\xFF", 14)}, {"key\x01", "v"}});
    ASSERT_EQ(valueOf(post(g.port, callBody("SetGen", "<param>" + dirty + "</param>"))).getType(),
              XmlRpcValue::TypeInt);
    bool ok = false;
    for (int i = 0; i < 300 && !ok; ++i) {
        QiParams current;
        g.engine.core.currentParams(current);
        ok = current.has("Note");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(ok);
    for (const std::string &body : {callBody("GetGenOptions"), callBody("PatternOption"),
                                    callBody(std::string("no\x02such\xFF"))}) {
        std::string r = bodyOf(post(g.port, body));
        std::string why;
        EXPECT_FALSE(r.empty());
        EXPECT_TRUE(onlyXmlCharacters(r, &why)) << why << " in the answer to " << body.substr(0, 120);
    }
    XmlRpcValue list = valueOf(post(g.port, callBody("PatternOption")));
    EXPECT_TRUE(list.hasMember("Gr\xC3\xB6\xC3\x9F" "e"));
    EXPECT_EQ(list.size(), 2 + 2) << "two patterns, two aliases";
}

// Every RescanFormats leaked the replaced list (34 000 calls: 51 MB to
// 119 MB). An unchanged list is kept; replaced ones are freed.
TEST(RemoteLimits, RescanFormatsKeepsMemoryFlat)
{
    Generator g;
    const std::string body = call("system.multicall", multicallOf("RescanFormats", 4000));
    valueOf(post(g.port, body));
    const long base = residentKb();
    for (int i = 0; i < 10; ++i) {
        XmlRpcValue r = valueOf(post(g.port, body));
        ASSERT_EQ(r.size(), 4000);
        ASSERT_EQ(r[3999][0], XmlRpcValue("Ok"));
    }
    EXPECT_EQ(OvGenOptions::videoFormat.snapshotsHeld(), 1);
    if (!kSanitized) {
        EXPECT_LT(residentKb() - base, 4096) << "40 000 rescans";
    }
}

// After EMFILE the listening socket stays readable: the dispatcher spun at
// full speed and printed a line per round. It now rests, prints one line
// per episode and serves again once descriptors are free.
TEST(RemoteLimits, AcceptBacksOffAtTheDescriptorLimit)
{
    PlainServer t;
    ASSERT_TRUE(t.server.bindAndListen(0, "127.0.0.1"));
    ServerThread thread(t.server);
    const int port = t.server.port();
    const std::string echo = httpPost(callBody("Echo", "<param><value><i4>5</i4></value></param>"));

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    auto episode = [&](int clients) {
        // Sockets made before the limit bites; connected once no descriptor
        // is left for the server to accept them with.
        std::vector<int> socks;
        for (int i = 0; i < clients; ++i)
            socks.push_back(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        int highest = 0;
        for (int fd = 0; fd < 65536; ++fd)
            if (fcntl(fd, F_GETFD) != -1)
                highest = fd;
        testing::internal::CaptureStderr();
        rlimit low = saved;
        low.rlim_cur = static_cast<rlim_t>(highest + 8);
        EXPECT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
        std::vector<int> filler;
        for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            filler.push_back(fd);
        EXPECT_EQ(errno, EMFILE);

        rusage r0{}, r1{};
        getrusage(RUSAGE_SELF, &r0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<uint16_t>(port));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int s : socks) {
            EXPECT_EQ(connect(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
            sendAll(s, echo);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        getrusage(RUSAGE_SELF, &r1);
        auto secs = [](const timeval &tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
        double cpu = secs(r1.ru_utime) - secs(r0.ru_utime) + secs(r1.ru_stime) - secs(r0.ru_stime);

        for (int fd : filler)
            close(fd);
        EXPECT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
        for (int s : socks)
            EXPECT_EQ(bodyOf(readResponse(s)), bodyOf(t.server.executeRequest(
                                                   callBody("Echo", "<param><value><i4>5</i4></value></param>"))))
                << "served once descriptors are free";
        for (int s : socks)
            close(s);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_LT(cpu, 0.3) << "the server spun for " << cpu << " s of CPU in one second";
        EXPECT_EQ(count(err, "XmlRpcServer::acceptConnection: Could not accept connection (error 24)."), 1u) << err;
    };
    episode(3);
    episode(1); // a new episode, a new line
}

// Two requests in one packet: the second was thrown away and its client
// waited for the idle close. Both are answered, in order.
TEST(RemoteLimits, PipelinedRequestsAreServedInOrder)
{
    PlainServer t;
    ASSERT_TRUE(t.server.bindAndListen(0, "127.0.0.1"));
    ServerThread thread(t.server);
    auto echo = [](int i) {
        return httpPost(callBody("Echo", "<param><value><i4>" + std::to_string(i) + "</i4></value></param>"));
    };
    int fd = connectTo(t.server.port());
    ResponseReader in{fd, {}};
    ASSERT_TRUE(sendAll(fd, echo(1) + echo(2) + echo(3).substr(0, 30)));
    EXPECT_EQ(valueOf(in.next(1000)), XmlRpcValue(1));
    EXPECT_EQ(valueOf(in.next(1000)), XmlRpcValue(2));
    EXPECT_EQ(in.next(100), "") << "the third is not whole yet";
    ASSERT_TRUE(sendAll(fd, echo(3).substr(30)));
    EXPECT_EQ(valueOf(in.next(1000)), XmlRpcValue(3));

    // More at once than one event serves: all answered, in order.
    std::string burst;
    for (int i = 0; i < 100; ++i)
        burst += echo(100 + i);
    ASSERT_TRUE(sendAll(fd, burst));
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(valueOf(in.next(2000)), XmlRpcValue(100 + i)) << i;

    // HTTP/1.0 without keep-alive: answered, then closed; what follows is dropped.
    int old = connectTo(t.server.port());
    ResponseReader oldIn{old, {}};
    ASSERT_TRUE(sendAll(old, httpPost(callBody("Echo", "<param><value><i4>7</i4></value></param>"), "HTTP/1.0") +
                                 echo(8)));
    EXPECT_EQ(valueOf(oldIn.next(1000)), XmlRpcValue(7));
    EXPECT_TRUE(peerClosed(old, 2000));
    close(old);
    close(fd);
}
