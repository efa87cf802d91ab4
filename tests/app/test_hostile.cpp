// The real headless generator on a simulated board, under what a hostile or
// careless peer on the studio network (or a hostile file in a pattern
// folder) can send it. Throughout, a well-behaved client keeps getting
// answers within its time-out, and the process ends cleanly on SIGTERM.
// Built in the sanitizer builds too, where the generator itself runs under
// the sanitizers (any report fails its exit status or shows on its error
// output).
#include "ProcessHarness.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>

#include <atomic>
#include <filesystem>
#include <random>

using namespace harness;
namespace fs = std::filesystem;

namespace {

const std::string kOrvane = ORVANE_BIN;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kSlow = 4;
#else
constexpr int kSlow = 1;
#endif
// What a well-behaved client waits for an answer.
constexpr int kClientTimeoutMs = 10000 * kSlow;

int connectTo(int port, int timeoutMs = 5000)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
        close(fd);
        return -1;
    }
    pollfd p{fd, POLLOUT, 0};
    int err = 0;
    socklen_t len = sizeof err;
    if (poll(&p, 1, timeoutMs) != 1 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool sendAll(int fd, const std::string &s)
{
    for (size_t done = 0; done < s.size();) {
        const ssize_t n = send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string body(const std::string &method, const std::string &params = "")
{
    std::string b = "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>" + method + "</methodName>\r\n";
    if (!params.empty())
        b += "<params>" + params + "</params>";
    return b + "</methodCall>\r\n";
}

std::string post(const std::string &b, const std::string &length = "")
{
    return "POST /RPC2 HTTP/1.1\r\nHost: x\r\nContent-Type: text/xml\r\nContent-length: " +
           (length.empty() ? std::to_string(b.size()) : length) + "\r\n\r\n" + b;
}

// One whole response (header and Content-length bytes), or what came before
// the time ran out or the peer closed.
std::string readResponse(int fd, int timeoutMs, bool *closed = nullptr)
{
    std::string got;
    if (closed)
        *closed = false;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t h = got.find("\r\n\r\n"), l = got.find("Content-length: ");
        if (h != std::string::npos && l != std::string::npos && l < h &&
            got.size() >= h + 4 + std::stoul(got.substr(l + 16, 20)))
            return got;
        const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) <= 0)
            return got;
        char buf[65536];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            if (closed)
                *closed = true;
            return got;
        }
        got.append(buf, static_cast<size_t>(n));
    }
}

bool closedWithin(int fd, int timeoutMs)
{
    bool closed = false;
    readResponse(fd, timeoutMs, &closed);
    return closed;
}

// A well-behaved client: one call on a new connection, answered in time.
bool answers(int port, const std::string &method = "GetOrvVersion", const std::string &params = "",
             std::string *response = nullptr)
{
    const auto t0 = Clock::now();
    int fd = connectTo(port, kClientTimeoutMs);
    if (fd < 0)
        return false;
    sendAll(fd, post(body(method, params)));
    const int left = kClientTimeoutMs -
                     static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
    const std::string r = readResponse(fd, std::max(left, 1));
    close(fd);
    if (response)
        *response = r;
    return r.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 && r.find("</methodResponse>") != std::string::npos;
}

long residentKb(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

double cpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(s.substr(s.rfind(')') + 2));
    std::string f;
    long long utime = 0, stime = 0;
    for (int i = 3; fields >> f; ++i) {
        if (i == 14)
            utime = std::stoll(f);
        if (i == 15) {
            stime = std::stoll(f);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

size_t count(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
        ++n;
    return n;
}

// The generator on free ports, quiet about the simulated board's frames.
struct Generator {
    TempDir dir;
    int port = freePort(), discovery = freePort();
    std::unique_ptr<Process> process;

    explicit Generator(const std::function<void(Env &)> &adjust = {})
    {
        Env env;
        env.set("ORVANE_SIM_KONA", "videoformat=32").set("HOME", dir.path).unset("USERPROFILE");
        env.unset("ORVANE_SIM_CAPTURE").unset("ORVANE_SIM_DECKLINK");
        if (adjust)
            adjust(env);
        process = std::make_unique<Process>(std::vector<std::string>{kOrvane, "--simulate", "kona", "--headless",
                                                                     "--port", std::to_string(port),
                                                                     "--discovery-port", std::to_string(discovery)},
                                            env, dir.path + "/gen");
        const auto end = Clock::now() + std::chrono::seconds(30 * kSlow);
        while (Clock::now() < end && process->running() && !answers(port))
            std::this_thread::sleep_for(100ms);
    }
    pid_t pid() const { return process->pid(); }

    // SIGTERM ends it cleanly: status 0, and no sanitizer said anything.
    void stopCleanly()
    {
        ASSERT_TRUE(process->running()) << process->err();
        process->signal(SIGTERM);
        const auto status = process->wait(std::chrono::seconds(20 * kSlow));
        ASSERT_TRUE(status.has_value()) << "no exit within the time after SIGTERM";
        EXPECT_EQ(*status, 0) << process->err().substr(0, 4000);
        const std::string err = process->err();
        EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err.substr(0, 6000);
        EXPECT_EQ(err.find("runtime error"), std::string::npos) << err.substr(0, 6000);
    }
};

// Runs a Python script with xmlrpc.client against the port; its output.
std::string python(int port, const std::string &script)
{
    TempDir d;
    std::ofstream(d.path + "/s.py") << "import xmlrpc.client as x, sys\n"
                                       "s = x.ServerProxy('http://127.0.0.1:"
                                    << port << "/', allow_none=True)\n"
                                    << script;
    return shell("timeout " + std::to_string(120 * kSlow) + " python3 '" + d.path + "/s.py' 2>&1");
}

} // namespace

TEST(Hostile, LyingLengthsSlowHeadersAndAFullServer)
{
    Generator gen;
    ASSERT_TRUE(answers(gen.port)) << gen.process->err();
    const std::string call = body("GetOrvVersion");

    // Oversize and nonsense lengths: refused, the connection closed.
    for (const char *length : {"8388609", "2147483648", "99999999999999999999", "-1", "0", "abc"}) {
        int fd = connectTo(gen.port);
        sendAll(fd, post(call, length));
        EXPECT_TRUE(closedWithin(fd, 5000 * kSlow)) << "Content-length " << length;
        close(fd);
    }
    // A length longer than what is sent: the connection waits, others do not.
    int liar = connectTo(gen.port);
    sendAll(liar, post(call, "100000"));
    // A length shorter than the body: the rest is read as the next request,
    // which is not one (no Content-length); the first is answered, then the
    // connection closes.
    int shortLength = connectTo(gen.port);
    sendAll(shortLength, post(call, std::to_string(call.size() - 10)) + "garbage\r\n\r\nx");
    bool closed = false;
    const std::string first = readResponse(shortLength, 5000 * kSlow, &closed);
    EXPECT_EQ(first.rfind("HTTP/1.1 200 OK", 0), 0u) << first;
    EXPECT_TRUE(closed || closedWithin(shortLength, 5000 * kSlow));
    close(shortLength);

    // Headers one byte per second on eight connections, for a few seconds:
    // calls from a well-behaved client are answered meanwhile, promptly.
    std::vector<int> slow;
    for (int i = 0; i < 8; ++i)
        slow.push_back(connectTo(gen.port));
    const std::string slowRequest = post(call);
    double worst = 0;
    for (size_t i = 0; i < 4; ++i) {
        for (int fd : slow)
            sendAll(fd, slowRequest.substr(i, 1));
        const auto t0 = Clock::now();
        EXPECT_TRUE(answers(gen.port)) << "while slow clients send byte " << i;
        worst = std::max(worst, std::chrono::duration<double>(Clock::now() - t0).count());
        std::this_thread::sleep_for(1s);
    }
    // A server held by a slow header would keep the call waiting for the
    // whole header (seconds) or its 30 s limit; 3 s leaves room for a
    // loaded machine.
    EXPECT_LT(worst, 3.0 * kSlow) << "a call took this long next to slow clients";
    for (int fd : slow)
        close(fd);
    close(liar);

    // The connection limit reached by peers that send nothing, then a
    // thousand more attempts that connect and give up: a well-behaved client
    // still gets in and is answered within its time-out.
    std::vector<int> hogs;
    for (int i = 0; i < 64; ++i) {
        int fd = connectTo(gen.port);
        if (fd >= 0)
            hogs.push_back(fd);
    }
    std::this_thread::sleep_for(1500ms);
    int refused = 0;
    for (int i = 0; i < 1000; ++i) {
        int fd = connectTo(gen.port, 20);
        if (fd < 0) {
            ++refused;
            continue;
        }
        if (i % 2)
            sendAll(fd, "POST /RPC2 HTTP/1.1\r\n");
        close(fd);
    }
    const auto t0 = Clock::now();
    EXPECT_TRUE(answers(gen.port)) << "after the limit and 1000 attempts";
    const double took = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("[ hostile ] 64 idle connections, 1000 attempts (%d not accepted in 20 ms); a call then took %.3f s\n",
                refused, took);
    for (int fd : hogs)
        close(fd);
    EXPECT_TRUE(answers(gen.port));
    gen.stopCleanly();
}

TEST(Hostile, ValuesNamesAndEveryWrongCall)
{
    Generator gen;
    ASSERT_TRUE(answers(gen.port)) << gen.process->err();
    const long rss0 = residentKb(gen.pid());

    // Nesting far past the reader's depth limit, 1.6 MB of it.
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<value><array><data>";
    auto t0 = Clock::now();
    std::string r;
    EXPECT_TRUE(answers(gen.port, "SetGen", "<param>" + deep + "</param>", &r)) << r.substr(0, 300);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - t0).count(), 5.0 * kSlow);

    // 6 MB of base64 in a struct member: not a parameter type SetGen knows.
    std::string b64(6 << 20, 'A');
    for (size_t i = 72; i < b64.size(); i += 73)
        b64[i] = '\n';
    t0 = Clock::now();
    EXPECT_TRUE(answers(gen.port, "SetGen",
                        "<param><value><struct><member><name>Pattern</name><value>Window</value></member><member>"
                        "<name>Blob</name><value><base64>" +
                            b64 + "</base64></value></member></struct></value></param>",
                        &r))
        << r.substr(0, 300);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - t0).count(), 10.0 * kSlow);

    // Names and strings with NUL bytes, invalid UTF-8 and control bytes: the
    // requests are answered, and every later answer stays XML that Python's
    // parser takes.
    const std::string nasty[] = {std::string("a\0b", 3), "\xff\xfe", "\xc0\xaf", "bell\x07", "\xed\xa0\x80",
                                 "ok\xef\xbf\xbf"};
    for (const std::string &n : nasty) {
        std::string s = "<param><value><struct><member><name>" + n + "</name><value>" + n +
                        "</value></member><member><name>Pattern</name><value>Window</value></member></struct>"
                        "</value></param>";
        EXPECT_TRUE(answers(gen.port, "SetGen", s, &r));
        std::string alias = "<param><value><struct><member><name>AliasName</name><value>" + n +
                            "</value></member><member><name>Pattern</name><value>Window</value></member></struct>"
                            "</value></param>";
        EXPECT_TRUE(answers(gen.port, "SetAlias", alias, &r));
        EXPECT_NE(r.find("invalid arguments"), std::string::npos) << r;
        EXPECT_TRUE(answers(gen.port, "PatternOption", "<param><value>" + n + "</value></param>", &r));
    }
    const std::string parsed = python(gen.port, "g = s.GetGenOptions()\n"
                                                "p = s.PatternOption()\n"
                                                "print('parsed', len(g), len(p))\n");
    EXPECT_EQ(parsed.rfind("parsed ", 0), 0u) << parsed;

    // Every method with every wrong parameter type and count: each is
    // answered with a value or a fault, never a broken answer.
    const std::string table = python(gen.port, R"PY(
import datetime
methods = ['SetGen', 'PatternOption', 'GetGenOptions', 'SetAlias', 'MMCAlias', 'GetOrvVersion', 'ReadEdid',
           'RescanFormats', 'system.listMethods', 'system.methodHelp', 'system.multicall', 'NoSuchMethod']
shapes = [(), (0,), (-1,), (True,), (2.5,), ('',), ('x',), (x.DateTime(datetime.datetime(2020, 1, 2)),),
          (x.Binary(b'\0\1\2'),), ([],), ([1, 'a'],), ({},), ({'Pattern': 5},), ({'Pattern': ['Window']},),
          ({'AliasName': 7, 'Prefix': [], 'Path': {}},), ({'methodName': 'SetGen', 'params': 3},),
          ([{'methodName': 'SetGen'}, {'methodName': 5, 'params': []}, 'x'],), (None,), (1, 'two'),
          ('Window', {'Size': 10}, [1])]
faults = values = 0
for m in methods:
    for args in shapes:
        try:
            v = getattr(s, m)(*args)
            values += 1
            print('%-20s %-60.60s -> %.60r' % (m, repr(args), v))
        except x.Fault as f:
            faults += 1
            print('%-20s %-60.60s -> fault %.60r' % (m, repr(args), f.faultString))
print('answered', values, 'faults', faults)
)PY");
    EXPECT_NE(table.find("answered"), std::string::npos) << table;
    EXPECT_EQ(table.find("Traceback"), std::string::npos) << table;
    EXPECT_EQ(table.find("ExpatError"), std::string::npos) << table;
    EXPECT_EQ(table.find("ProtocolError"), std::string::npos) << table;
    std::printf("%s", table.c_str());

    EXPECT_TRUE(answers(gen.port));
    const long rss1 = residentKb(gen.pid());
    std::printf("[ hostile ] resident memory %ld kB before, %ld kB after\n", rss0, rss1);
    EXPECT_LT(rss1 - rss0, 300 * 1024L);
    gen.stopCleanly();
}

TEST(Hostile, FolderScansOfHostileFilesAndFoldersElsewhere)
{
    TempDir files;
    const fs::path userFolder = fs::path(files.path) / "home/Documents/Corvent/Patterns";
    fs::create_directories(userFolder);
    const fs::path hostile = fs::path(files.path) / "hostile";
    fs::create_directories(hostile);
    // A good 2 x 2 PNG; everything else lies, loops, blocks or is not there.
    static const unsigned char png[] = {
        0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
        0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x02, 0x00, 0x00, 0x00, 0xfd, 0xd4, 0x9a, 0x73, 0x00, 0x00, 0x00,
        0x0e, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0x68, 0x00, 0x03, 0x06, 0x08, 0x05, 0x00, 0x2a, 0x0e, 0x06,
        0x01, 0x15, 0x9e, 0x42, 0xd7, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
    auto write = [](const fs::path &p, const std::string &bytes) { std::ofstream(p, std::ios::binary) << bytes; };
    const std::string good(reinterpret_cast<const char *>(png), sizeof png);
    for (const fs::path &dir : {userFolder, hostile}) {
        write(dir / "Good-1080.png", good);
        std::string huge = good;
        huge[16] = huge[17] = '\x7f'; // width and height far past any limit
        huge[20] = huge[21] = '\x7f';
        write(dir / "Huge.png", huge);
        write(dir / "Truncated.png", good.substr(0, 30));
        write(dir / "Garbage.jpg", std::string("\xff\xd8\xff\xc0\x00\x11\x08\xff\xff\xff\xff", 11) + std::string(64, 'J'));
        write(dir / "Liar.raw", std::string(16, '\x80'));
        write(dir / "Liar.raw_data", "[RawData]\nWidth=16384\nHeight=16384\nFourCC=UYVY\n");
        write(dir / "Empty.png", "");
        write(dir / "Plugin.ovp", "not a shared library");
        for (int i = 0; i < 200; ++i)
            write(dir / ("Frames" + std::to_string(i) + "~9999.png"), good);
        write(dir / "Bad\xff\xfeName.png", good);
        fs::create_directory(dir / "Folder.png");
        ASSERT_EQ(mkfifo((dir / "Fifo.png").c_str(), 0644), 0);
        fs::create_symlink("Loop.png", dir / "Loop.png");
        fs::create_symlink("Missing.png", dir / "Dangling.png");
        fs::create_symlink("/dev/zero", dir / "Zero.png");
        write(dir / "Unreadable.png", good);
        fs::permissions(dir / "Unreadable.png", fs::perms::none);
    }

    // The start-up scan of the user's folder: the generator comes up and
    // serves as usual.
    const auto t0 = Clock::now();
    Generator gen([&](Env &env) { env.set("HOME", files.path + "/home"); });
    const double startup = std::chrono::duration<double>(Clock::now() - t0).count();
    ASSERT_TRUE(answers(gen.port)) << gen.process->err();
    std::printf("[ hostile ] start-up with the hostile user folder: answering after %.2f s\n", startup);
    const long rss0 = residentKb(gen.pid());
    std::string listing;
    ASSERT_TRUE(answers(gen.port, "PatternOption", "", &listing));
    EXPECT_NE(listing.find("<name>user/Good</name>"), std::string::npos);
    EXPECT_EQ(listing.find("user/Huge"), std::string::npos);
    EXPECT_EQ(listing.find("user/Fifo"), std::string::npos);

    // The same folder named by a network client: answered promptly, no
    // plug-in loaded, the images that are images listed.
    auto scan = [&](const std::string &path, const std::string &prefix) {
        const auto s0 = Clock::now();
        std::string r;
        const bool ok = answers(gen.port, "MMCAlias",
                                "<param><value><struct><member><name>Prefix</name><value>" + prefix +
                                    "</value></member><member><name>Path</name><value>" + path +
                                    "</value></member></struct></value></param>",
                                &r);
        const double took = std::chrono::duration<double>(Clock::now() - s0).count();
        std::printf("[ hostile ] MMCAlias %s: %s in %.3f s\n", path.c_str(), ok ? "answered" : "NOT answered", took);
        return ok && took < 10.0 * kSlow;
    };
    EXPECT_TRUE(scan(hostile.string(), "net"));
    ASSERT_TRUE(answers(gen.port, "PatternOption", "", &listing));
    EXPECT_NE(listing.find("<name>net/Good</name>"), std::string::npos);
    EXPECT_EQ(listing.find("net/Plugin"), std::string::npos);
    // Folders outside the user's: scanned for images only, never blocking,
    // never loading code; the real plug-in of the build is refused too.
    const std::string plugins = fs::path(kOrvane).parent_path().string() + "/plugins";
    for (const std::string &path : {std::string("/"), std::string("/proc"), std::string("/proc/self/fd"),
                                   std::string("/dev"), std::string("/etc"), std::string("/sys/kernel"), plugins,
                                   std::string("/nonexistent"), std::string("../../../../etc")})
        EXPECT_TRUE(scan(path, "far")) << path;
    ASSERT_TRUE(answers(gen.port, "PatternOption", "", &listing));
    EXPECT_EQ(listing.find("SolidPlugin"), std::string::npos) << "a plug-in was loaded for a network client";
    EXPECT_NE(gen.process->out().find("plug-ins from this folder are not allowed"), std::string::npos);
    const long rss1 = residentKb(gen.pid());
    std::printf("[ hostile ] resident memory %ld kB after start-up, %ld kB after the scans\n", rss0, rss1);
    EXPECT_LT(rss1 - rss0, 100 * 1024L);
    EXPECT_TRUE(answers(gen.port));
    gen.stopCleanly();
}

TEST(Hostile, DiscoveryFloodAndMalformedDatagrams)
{
    Generator gen;
    ASSERT_TRUE(answers(gen.port)) << gen.process->err();
    // Answers go to port 3530 of the asker: listen there on an address of
    // our own, so the flood's answers (to another address) stay apart.
    int listener = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in me{};
    me.sin_family = AF_INET;
    me.sin_port = htons(3530);
    inet_pton(AF_INET, "127.0.0.3", &me.sin_addr);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&me), sizeof me), 0) << std::strerror(errno);
    int flooder = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.2", &from.sin_addr);
    ASSERT_EQ(bind(flooder, reinterpret_cast<sockaddr *>(&from), sizeof from), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(gen.discovery));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    // Malformed and oversized datagrams and a flood of them, while a
    // well-behaved client makes calls.
    std::atomic<bool> flooding{true};
    std::atomic<int> calls{0}, failed{0};
    std::thread client([&] {
        while (flooding.load()) {
            (answers(gen.port) ? calls : failed)++;
            std::this_thread::sleep_for(50ms);
        }
    });
    std::mt19937 rng(18);
    std::string junk(65507, '\0');
    for (char &c : junk)
        c = static_cast<char>(rng());
    const size_t sizes[] = {0, 1, 27, 28, 29, 255, 256, 257, 1500, 65507};
    const auto end = Clock::now() + 4s;
    int sent = 0;
    while (Clock::now() < end) {
        const size_t n = sizes[static_cast<size_t>(sent) % 10];
        if (sendto(flooder, junk.data(), n, 0, reinterpret_cast<sockaddr *>(&to), sizeof to) >= 0)
            ++sent;
        if (sent % 1000 == 0)
            std::this_thread::sleep_for(1ms);
    }
    flooding.store(false);
    client.join();
    EXPECT_EQ(failed.load(), 0) << "of " << calls.load() << " calls during the flood";
    EXPECT_GT(calls.load(), 5);

    // A proper request afterwards is answered with the one record.
    std::this_thread::sleep_for(500ms);
    int asker = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in askFrom = me;
    askFrom.sin_port = 0;
    ASSERT_EQ(bind(asker, reinterpret_cast<sockaddr *>(&askFrom), sizeof askFrom), 0);
    char buf[512];
    while (recv(listener, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
    sendto(asker, "Orvane discovery request", 24, 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    pollfd p{listener, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000 * kSlow), 1) << "no answer after the flood";
    const ssize_t n = recv(listener, buf, sizeof buf, 0);
    EXPECT_EQ(n, 28);
    EXPECT_EQ(static_cast<unsigned char>(buf[24]) | static_cast<unsigned char>(buf[25]) << 8, 5113);
    EXPECT_EQ(static_cast<unsigned char>(buf[26]) | static_cast<unsigned char>(buf[27]) << 8, gen.port);
    close(asker);
    close(flooder);
    close(listener);

    const std::string out = gen.process->out();
    const size_t lines = count(out, "[127.0.0.2]");
    std::printf("[ hostile ] %d datagrams in 4 s: %d calls answered meanwhile, %zu datagram log lines\n", sent,
                calls.load(), lines);
    EXPECT_LT(lines, 200u);
    gen.stopCleanly();
}

TEST(Hostile, AtItsDescriptorLimitTheGeneratorBacksOff)
{
    // The generator gets few descriptors (inherited through the spawn).
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 40;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    Generator gen;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    ASSERT_TRUE(answers(gen.port)) << gen.process->err();

    // More idle connections than it has descriptors for.
    std::vector<int> hogs;
    for (int i = 0; i < 60; ++i) {
        int fd = connectTo(gen.port, 200);
        if (fd >= 0)
            hogs.push_back(fd);
    }
    std::this_thread::sleep_for(500ms);
    const double cpu0 = cpuSeconds(gen.pid());
    std::this_thread::sleep_for(2s);
    const double cpu = cpuSeconds(gen.pid()) - cpu0;
    // Still served: the idle connections give way, oldest first.
    const auto t0 = Clock::now();
    EXPECT_TRUE(answers(gen.port));
    const double took = std::chrono::duration<double>(Clock::now() - t0).count();
    for (int fd : hogs)
        close(fd);
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(answers(gen.port));
    const std::string err = gen.process->err();
    const size_t lines = count(err, "Could not accept connection");
    std::printf("[ hostile ] %zu connections at a limit of 40 descriptors: %.3f s CPU in 2 s, %zu accept error "
                "lines, a call took %.3f s\n",
                hogs.size(), cpu, lines, took);
    EXPECT_LT(cpu, 0.5 * kSlow) << "the generator spun at its descriptor limit";
    EXPECT_GE(lines, 1u);
    EXPECT_LE(lines, 3u) << err.substr(0, 3000);
    gen.stopCleanly();
}
