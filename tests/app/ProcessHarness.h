#pragma once
// Helpers for the tests that run the real orvane program as a process:
// spawning with a chosen environment, free ports, capture files, v210
// luma, Python's xmlrpc.client, and an X server with a tray host.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace harness {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline std::string readFile(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

inline bool fileExists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// A fresh folder under the build tree's temporary area, removed at the end.
struct TempDir {
    std::string path;
    TempDir()
    {
        char tmpl[] = "/tmp/orvane-test-XXXXXX";
        const char *p = mkdtemp(tmpl);
        path = p ? p : "/tmp";
    }
    ~TempDir()
    {
        if (path.rfind("/tmp/orvane-test-", 0) == 0)
            std::system(("rm -rf '" + path + "'").c_str());
    }
};

// Environment: the test's own, with changes.
struct Env {
    std::map<std::string, std::string> vars;
    Env()
    {
        for (char **e = environ; *e; ++e) {
            const char *eq = std::strchr(*e, '=');
            if (eq)
                vars[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
        }
    }
    Env &set(const std::string &k, const std::string &v)
    {
        vars[k] = v;
        return *this;
    }
    Env &unset(const std::string &k)
    {
        vars.erase(k);
        return *this;
    }
};

// A child process with its standard output and error in files.
class Process {
public:
    Process(const std::vector<std::string> &argv, const Env &env, const std::string &logBase)
        : m_out(logBase + ".out"), m_err(logBase + ".err")
    {
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&fa, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> envText;
        for (const auto &[k, v] : env.vars)
            envText.push_back(k + "=" + v);
        std::vector<char *> a, e;
        for (const auto &s : argv)
            a.push_back(const_cast<char *>(s.c_str()));
        a.push_back(nullptr);
        for (auto &s : envText)
            e.push_back(s.data());
        e.push_back(nullptr);
        if (posix_spawn(&m_pid, a[0], &fa, nullptr, a.data(), e.data()) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&fa);
    }
    // Asks politely first, so an X server removes its lock and socket.
    ~Process()
    {
        if (running()) {
            ::kill(m_pid, SIGTERM);
            if (!wait(3s)) {
                ::kill(m_pid, SIGKILL);
                wait(5s);
            }
        }
    }
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    pid_t pid() const { return m_pid; }
    bool running()
    {
        if (m_pid <= 0 || m_status)
            return false;
        int st = 0;
        if (waitpid(m_pid, &st, WNOHANG) == m_pid) {
            m_status = st;
            return false;
        }
        return true;
    }
    // Exit code, or -signal when killed, or nullopt on time-out.
    std::optional<int> wait(std::chrono::milliseconds limit)
    {
        const auto end = Clock::now() + limit;
        while (running() && Clock::now() < end)
            std::this_thread::sleep_for(20ms);
        if (running())
            return std::nullopt;
        if (!m_status)
            return std::nullopt;
        return WIFEXITED(*m_status) ? WEXITSTATUS(*m_status) : -WTERMSIG(*m_status);
    }
    void signal(int sig)
    {
        if (m_pid > 0)
            ::kill(m_pid, sig);
    }
    std::string out() const { return readFile(m_out); }
    std::string err() const { return readFile(m_err); }

private:
    pid_t m_pid = -1;
    std::optional<int> m_status;
    std::string m_out, m_err;
};

// A port nobody listens on now (TCP and UDP), chosen by the system.
inline int freePort()
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        int t = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(t, reinterpret_cast<sockaddr *>(&a), sizeof a);
        getsockname(t, reinterpret_cast<sockaddr *>(&a), &len);
        const int port = ntohs(a.sin_port);
        int u = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in b = a;
        b.sin_addr.s_addr = htonl(INADDR_ANY);
        const bool udpFree = bind(u, reinterpret_cast<sockaddr *>(&b), sizeof b) == 0;
        close(u);
        close(t);
        if (udpFree && port != 3530)
            return port;
    }
    return 0;
}

// Runs a shell command and returns its standard output.
inline std::string shell(const std::string &cmd, int *status = nullptr)
{
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    const int st = pclose(p);
    if (status)
        *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return out;
}

// An XML-RPC call made by Python's xmlrpc.client, the independent client.
inline std::string pyXmlRpc(int port, const std::string &call)
{
    const std::string code = "import xmlrpc.client as x\n"
                             "s = x.ServerProxy('http://127.0.0.1:" +
                             std::to_string(port) +
                             "/')\n"
                             "print(repr(s." +
                             call + "))\n";
    TempDir dir;
    std::ofstream(dir.path + "/call.py") << code;
    return shell("timeout 20 python3 '" + dir.path + "/call.py' 2>&1");
}

// The description a simulated board writes beside each captured frame.
struct Capture {
    int width = 0, height = 0, rowBytes = 0;
    long long sequence = 0;
    std::string layout, videoFormat;
    std::string bytes;
};

inline bool jsonInt(const std::string &j, const char *key, long long &out)
{
    std::smatch m;
    if (!std::regex_search(j, m, std::regex(std::string("\"") + key + "\"\\s*:\\s*(-?\\d+)")))
        return false;
    out = std::stoll(m[1]);
    return true;
}

inline bool jsonString(const std::string &j, const char *key, std::string &out)
{
    std::smatch m;
    if (!std::regex_search(j, m, std::regex(std::string("\"") + key + "\"\\s*:\\s*\"([^\"]*)\"")))
        return false;
    out = m[1];
    return true;
}

// Reads <folder>/<board>-out.json and .raw; false while absent or torn
// (a raw file that does not match its description).
inline bool readCapture(const std::string &folder, const std::string &board, Capture &c)
{
    const std::string j = readFile(folder + "/" + board + "-out.json");
    long long w, h, rb, seq;
    if (j.empty() || !jsonInt(j, "width", w) || !jsonInt(j, "height", h) || !jsonInt(j, "rowBytes", rb) ||
        !jsonInt(j, "sequence", seq) || !jsonString(j, "layout", c.layout) ||
        !jsonString(j, "videoFormat", c.videoFormat))
        return false;
    c.width = static_cast<int>(w);
    c.height = static_cast<int>(h);
    c.rowBytes = static_cast<int>(rb);
    c.sequence = seq;
    c.bytes = readFile(folder + "/" + board + "-out.raw");
    return c.bytes.size() >= static_cast<size_t>(rb) * static_cast<size_t>(h) && rb > 0;
}

// Waits until a capture satisfies pred.
template <class Pred>
bool waitCapture(const std::string &folder, const std::string &board, Capture &c, Pred pred,
                 std::chrono::milliseconds limit = 15s)
{
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if (readCapture(folder, board, c) && pred(c))
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

// Luma and colour difference of pixel x of row y of a v210 frame (written
// out here from the v210 word layout, independent of the program's packers).
struct Ycc {
    int y, cb, cr;
};
inline Ycc v210Pixel(const Capture &c, int x, int yRow)
{
    const auto *row = reinterpret_cast<const unsigned char *>(c.bytes.data()) + static_cast<size_t>(yRow) * c.rowBytes;
    const int g = x / 6, k = x % 6;
    uint32_t w[4];
    for (int i = 0; i < 4; ++i) {
        const unsigned char *p = row + g * 16 + i * 4;
        w[i] = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
    }
    auto f = [&](int word, int field) { return static_cast<int>((w[word] >> (10 * field)) & 0x3ff); };
    static const int yPos[6][2] = {{0, 1}, {1, 0}, {1, 2}, {2, 1}, {3, 0}, {3, 2}};
    static const int cbPos[3][2] = {{0, 0}, {1, 1}, {2, 2}};
    static const int crPos[3][2] = {{0, 2}, {2, 0}, {3, 1}};
    const int pair = k / 2;
    return {f(yPos[k][0], yPos[k][1]), f(cbPos[pair][0], cbPos[pair][1]), f(crPos[pair][0], crPos[pair][1])};
}

// True when row y shows the seven bars: grey, yellow, cyan, green, magenta,
// red, blue have strictly falling luma, and the grey bar has no colour.
inline bool rowHasBars(const Capture &c, int y, std::string *why = nullptr)
{
    if (c.layout != "v210") {
        if (why)
            *why = "layout " + c.layout;
        return false;
    }
    int prev = 1 << 20;
    std::string seen;
    bool ok = true;
    for (int i = 0; i < 7; ++i) {
        const int x = (2 * i + 1) * c.width / 14;
        const Ycc p = v210Pixel(c, x, y);
        seen += std::to_string(p.y) + "/" + std::to_string(p.cb) + "/" + std::to_string(p.cr) + " ";
        if (p.y >= prev)
            ok = false;
        if (i == 0 && (std::abs(p.cb - 512) > 4 || std::abs(p.cr - 512) > 4 || p.y < 400))
            ok = false;
        prev = p.y;
    }
    if (why)
        *why = seen;
    return ok;
}

// An X server on a display it chooses itself (no fixed numbers), optionally
// with a tray host; both end with the object.
class XSession {
public:
    XSession(const std::string &dir, bool withTray) : m_dir(dir)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        Env env;
        m_xvfb = std::make_unique<Process>(
            std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                                     "1024x768x24", "-nolisten", "tcp"},
            env, dir + "/xvfb");
        close(fds[1]);
        // Xvfb writes the display number when it is ready.
        std::string num;
        fcntl(fds[0], F_SETFL, O_NONBLOCK);
        const auto end = Clock::now() + 20s;
        while (Clock::now() < end && num.find('\n') == std::string::npos) {
            char buf[16];
            const ssize_t n = read(fds[0], buf, sizeof buf);
            if (n > 0)
                num.append(buf, static_cast<size_t>(n));
            else
                std::this_thread::sleep_for(20ms);
        }
        close(fds[0]);
        if (num.empty())
            return;
        display = ":" + std::string(num.begin(), num.begin() + static_cast<long>(num.find('\n')));
        if (withTray) {
            Env tenv;
            tenv.set("DISPLAY", display);
            m_trayer = std::make_unique<Process>(
                std::vector<std::string>{"/usr/bin/trayer", "--edge", "top", "--align", "left", "--widthtype",
                                         "pixel", "--width", "120", "--height", "32", "--SetDockType", "false",
                                         "--transparent", "false", "--tint", "0x404040"},
                tenv, dir + "/trayer");
            // Ready when the tray selection has an owner.
            const auto tend = Clock::now() + 20s;
            while (Clock::now() < tend && !trayOwned())
                std::this_thread::sleep_for(100ms);
        }
    }
    bool ok() const { return !display.empty(); }
    bool trayOwned() { return x("xdotool search --classname trayer 2>/dev/null").size() > 0; }
    // Runs a command against this display.
    std::string x(const std::string &cmd, int *status = nullptr)
    {
        return shell("DISPLAY=" + display + " " + cmd, status);
    }
    std::string findWindow(const std::string &name)
    {
        std::string out = x("xdotool search --onlyvisible --name '" + name + "' 2>/dev/null");
        const size_t nl = out.find('\n');
        return nl == std::string::npos ? out : out.substr(0, nl);
    }
    std::string waitWindow(const std::string &name, std::chrono::milliseconds limit = 15s)
    {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            std::string w = findWindow(name);
            if (!w.empty())
                return w;
            std::this_thread::sleep_for(100ms);
        }
        return {};
    }
    bool screenshot(const std::string &path, const std::string &window = "root")
    {
        int st = 1;
        x("import -window " + window + " '" + path + "' 2>/dev/null", &st);
        return st == 0 && fileExists(path);
    }

    std::string display;

private:
    std::string m_dir;
    std::unique_ptr<Process> m_xvfb;
    std::unique_ptr<Process> m_trayer;
};

} // namespace harness
