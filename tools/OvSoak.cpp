// orvane-soak: drives a headless generator on a simulated board with many
// keep-alive clients for a long run and checks every answer, the way
// calibration software hammers a generator for days. Also opens and closes
// connections at a steady rate and counts the generator's descriptors.
#include "XmlRpcUtil.h"
#include "XmlRpcValue.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <set>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const char kUsage[] =
    "Usage: orvane-soak [OPTIONS]\n"
    "\n"
    "Starts `orvane --headless --simulate kona` on free ports and drives it with\n"
    "concurrent keep-alive XML-RPC clients: SetGen pattern changes over every\n"
    "built-in pattern and alias, option changes, GetGenOptions, PatternOption,\n"
    "SetAlias and MMCAlias define/flush. Every answer is checked; resident memory\n"
    "is sampled throughout; the last frame the board output must equal the one a\n"
    "fresh generator outputs for the same last request. Then connections are\n"
    "opened and closed at a steady rate and the generator's descriptors counted,\n"
    "and it must end cleanly on SIGTERM.\n"
    "\n"
    "Options:\n"
    "  --orvane PATH        the program (default: orvane beside this one)\n"
    "  --clients N          concurrent clients (default 8)\n"
    "  --calls N            calls per client (default 125000)\n"
    "  --connect-rate N     connections per second opened and closed (default 200)\n"
    "  --connect-seconds N  for this long (default 60; 0 skips)\n"
    "  --video-format N     the board's NTV2 video format (default 32, 720 x 486)\n"
    "  --timeout SECONDS    a call unanswered this long is lost (default 30)\n"
    "  --help               this text\n"
    "\n"
    "Exit status 0 when every call was answered correctly, memory stayed flat after\n"
    "warm-up, no descriptor leaked, the last frame matched and the generator ended\n"
    "with status 0; 1 otherwise; 2 for usage errors.\n";

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// ---- the generator process ------------------------------------------------

std::string programFolder()
{
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    std::string p(buf, static_cast<size_t>(n));
    return p.substr(0, p.rfind('/'));
}

int freePort()
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

struct Generator {
    pid_t pid = -1;
    int port = 0;
    std::string folder;

    bool start(const std::string &program, int videoFormat)
    {
        char tmpl[] = "/tmp/orvane-soak-XXXXXX";
        if (!mkdtemp(tmpl))
            return false;
        folder = tmpl;
        port = freePort();
        const std::string disc = std::to_string(freePort());
        std::vector<std::string> args{program, "--headless", "--simulate", "kona", "--port", std::to_string(port),
                                      "--discovery-port", disc};
        std::vector<std::string> env;
        for (char **e = environ; *e; ++e) {
            const std::string v = *e;
            if (v.rfind("ORVANE_SIM_", 0) != 0 && v.rfind("HOME=", 0) != 0 && v.rfind("USERPROFILE=", 0) != 0)
                env.push_back(v);
        }
        env.push_back("ORVANE_SIM_CAPTURE=" + folder);
        env.push_back("ORVANE_SIM_KONA=videoformat=" + std::to_string(videoFormat));
        env.push_back("HOME=" + folder);
        std::vector<char *> a, e;
        for (auto &s : args)
            a.push_back(s.data());
        a.push_back(nullptr);
        for (auto &s : env)
            e.push_back(s.data());
        e.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, (folder + "/orvane.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&fa, 2, (folder + "/orvane.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int rc = posix_spawn(&pid, a[0], &fa, nullptr, a.data(), e.data());
        posix_spawn_file_actions_destroy(&fa);
        return rc == 0;
    }

    // Exit status after SIGTERM, or -1 when it did not end within limit.
    int stop(std::chrono::seconds limit, double *took)
    {
        if (pid <= 0)
            return -1;
        const auto t0 = Clock::now();
        kill(pid, SIGTERM);
        int st = 0;
        while (Clock::now() - t0 < limit) {
            if (waitpid(pid, &st, WNOHANG) == pid) {
                pid = -1;
                *took = seconds(Clock::now() - t0);
                return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            }
            std::this_thread::sleep_for(10ms);
        }
        kill(pid, SIGKILL);
        waitpid(pid, &st, 0);
        pid = -1;
        return -1;
    }

    ~Generator()
    {
        double t;
        if (pid > 0)
            stop(5s, &t);
        if (folder.rfind("/tmp/orvane-soak-", 0) == 0)
            std::system(("rm -rf '" + folder + "'").c_str());
    }

    long residentKb() const
    {
        std::ifstream in("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("VmRSS:", 0) == 0)
                return std::atol(line.c_str() + 6);
        return -1;
    }
    int descriptors() const
    {
        DIR *d = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
        if (!d)
            return -1;
        int n = 0;
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        closedir(d);
        return n;
    }
};

// ---- a keep-alive XML-RPC client with a time limit ---------------------------

class Client {
public:
    explicit Client(int port) : m_port(port) {}
    ~Client() { disconnect(); }

    // False with why set when the call got no proper answer in time.
    bool call(const std::string &method, const XmlRpcValue &params, XmlRpcValue &result, bool &fault,
              double timeout, std::string &why)
    {
        std::string body = "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>" + method + "</methodName>\r\n";
        if (params.valid()) {
            body += "<params>";
            for (int i = 0; i < params.size(); ++i)
                body += "<param>" + params[i].toXml() + "</param>";
            body += "</params>";
        }
        body += "</methodCall>\r\n";
        const std::string request = "POST /RPC2 HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml\r\n"
                                    "Content-length: " +
                                    std::to_string(body.size()) + "\r\n\r\n" + body;
        // A server may close an idle keep-alive connection: one new try.
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (m_fd < 0 && !connectNow(why))
                return false;
            std::string response;
            bool sentNothingBack = false;
            if (!sendAll(request, why) || !readResponse(response, timeout, sentNothingBack, why)) {
                disconnect();
                if (sentNothingBack && attempt == 0)
                    continue;
                return false;
            }
            return parse(response, result, fault, why);
        }
        return false;
    }

private:
    bool connectNow(std::string &why)
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(m_port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd < 0 || connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            why = std::string("connect: ") + std::strerror(errno);
            disconnect();
            return false;
        }
        int one = 1;
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return true;
    }
    void disconnect()
    {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
        m_buffer.clear();
    }
    bool sendAll(const std::string &s, std::string &why)
    {
        size_t done = 0;
        while (done < s.size()) {
            const ssize_t n = send(m_fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                why = std::string("send: ") + std::strerror(errno);
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }
    bool readResponse(std::string &out, double timeout, bool &closedEarly, std::string &why)
    {
        const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
        for (;;) {
            const size_t h = m_buffer.find("\r\n\r\n");
            if (h != std::string::npos) {
                const size_t l = m_buffer.find("Content-length: ");
                if (l == std::string::npos || l > h) {
                    why = "answer without Content-length";
                    return false;
                }
                size_t length = 0;
                std::from_chars(m_buffer.data() + l + 16, m_buffer.data() + h, length);
                if (m_buffer.size() >= h + 4 + length) {
                    out = m_buffer.substr(0, h + 4 + length);
                    m_buffer.erase(0, h + 4 + length);
                    return true;
                }
            }
            const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
            if (left <= 0) {
                why = "no answer within the time-out";
                return false;
            }
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, left) <= 0)
                continue;
            char buf[65536];
            const ssize_t n = recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0) {
                closedEarly = m_buffer.empty();
                why = n == 0 ? "connection closed before the answer" : std::string("recv: ") + std::strerror(errno);
                return false;
            }
            m_buffer.append(buf, static_cast<size_t>(n));
        }
    }
    static bool parse(const std::string &response, XmlRpcValue &result, bool &fault, std::string &why)
    {
        size_t at = response.find("<methodResponse>");
        if (response.rfind("HTTP/1.1 200 OK\r\n", 0) != 0 || at == std::string::npos) {
            why = "not an XML-RPC answer";
            return false;
        }
        at += 16;
        const size_t start = at;
        fault = false;
        if (!XmlRpcUtil::nextTagIs("<params>", response, &at) || !XmlRpcUtil::nextTagIs("<param>", response, &at)) {
            at = start;
            fault = XmlRpcUtil::nextTagIs("<fault>", response, &at);
            if (!fault) {
                why = "answer without param or fault";
                return false;
            }
        }
        result = XmlRpcValue();
        if (!result.fromXml(response, &at)) {
            why = "answer value unreadable";
            return false;
        }
        return true;
    }

    int m_port;
    int m_fd = -1;
    std::string m_buffer;
};

XmlRpcValue params() { return XmlRpcValue(XmlRpcValue::ValueArray{}); }
XmlRpcValue params(const XmlRpcValue &a)
{
    XmlRpcValue p{XmlRpcValue::ValueArray{}};
    p[0] = a;
    return p;
}

// ---- what the generator offers -----------------------------------------------

struct Option {
    std::string name, type;
    int min = 0, max = 0;
    double dmin = 0, dmax = 0;
    std::vector<std::string> values;
};

struct Catalogue {
    std::vector<std::string> patterns, aliases;
    std::map<std::string, std::vector<Option>> options;
    // Descriptors published per pattern, read-only ones included.
    std::map<std::string, size_t> descriptors;
};

std::string member(const XmlRpcValue &s, const char *name)
{
    if (s.getType() != XmlRpcValue::TypeStruct || !s.hasMember(name))
        return std::string();
    const XmlRpcValue &v = s.structMembers().at(name);
    return v.getType() == XmlRpcValue::TypeString ? v.asString() : std::string();
}

bool readCatalogue(Client &c, Catalogue &cat, std::string &why)
{
    XmlRpcValue list;
    bool fault = false;
    if (!c.call("PatternOption", params(), list, fault, 30, why) || fault ||
        list.getType() != XmlRpcValue::TypeStruct) {
        why = "PatternOption listing: " + why;
        return false;
    }
    for (const auto &[name, v] : list.structMembers()) {
        if (v.getType() != XmlRpcValue::TypeString)
            continue;
        if (v.asString().rfind("Alias/", 0) == 0)
            cat.aliases.push_back(name);
        else
            cat.patterns.push_back(name);
    }
    for (const std::string &p : cat.patterns) {
        XmlRpcValue opts;
        if (!c.call("PatternOption", params(XmlRpcValue(p)), opts, fault, 30, why) || fault ||
            opts.getType() != XmlRpcValue::TypeArray)
            return false;
        std::vector<Option> &out = cat.options[p];
        cat.descriptors[p] = static_cast<size_t>(opts.size());
        for (int i = 0; i < opts.size(); ++i) {
            const XmlRpcValue &d = opts[i];
            Option o;
            o.name = member(d, "Name");
            o.type = member(d, "DataType");
            if (o.type == "Integer") {
                o.min = std::atoi(member(d, "MinValue").c_str());
                o.max = std::atoi(member(d, "MaxValue").c_str());
            } else if (o.type == "Double") {
                o.dmin = std::strtod(member(d, "MinValue").c_str(), nullptr);
                o.dmax = std::strtod(member(d, "MaxValue").c_str(), nullptr);
            } else if (o.type == "Enumeration") {
                const int n = std::atoi(member(d, "nVal").c_str());
                for (int k = 0; k < n; ++k)
                    o.values.push_back(member(d, (o.name + std::to_string(k)).c_str()));
            }
            if (!o.name.empty() && o.type != "RoInteger")
                out.push_back(o);
        }
    }
    return !cat.patterns.empty();
}

// A value inside an option's limits, written as the clients of the
// generator write them.
XmlRpcValue optionValue(const Option &o, std::mt19937 &rng)
{
    if (o.type == "Integer")
        return XmlRpcValue(static_cast<int>(o.min + static_cast<int64_t>(rng() % (static_cast<uint64_t>(o.max - o.min) + 1))));
    if (o.type == "Double")
        return XmlRpcValue(o.dmin + (o.dmax - o.dmin) * static_cast<double>(rng() % 1001) / 1000.0);
    if (o.type == "Boolean")
        return XmlRpcValue((rng() & 1) != 0);
    if (o.type == "Enumeration" && !o.values.empty())
        return XmlRpcValue(o.values[rng() % o.values.size()]);
    return XmlRpcValue(static_cast<int>(rng() % 1024));
}

// ---- the run -------------------------------------------------------------------

struct Tally {
    uint64_t calls = 0, failed = 0, lost = 0, refusals = 0;
    std::map<std::string, uint64_t> byMethod;
    std::vector<std::string> failures; // the first few
    std::vector<double> latency;
    std::vector<int32_t> ids;
};

class Soak {
public:
    Soak(int port, const Catalogue &cat, double timeout) : m_port(port), m_cat(cat), m_timeout(timeout) {}

    void client(int index, uint64_t calls, Tally &t, std::atomic<uint64_t> &progress)
    {
        Client c(m_port);
        std::mt19937 rng(1000u + static_cast<unsigned>(index));
        const std::string prefix = "soak" + std::to_string(index);
        std::vector<std::string> everything = m_cat.patterns;
        everything.insert(everything.end(), m_cat.aliases.begin(), m_cat.aliases.end());
        std::set<std::string> defined;
        size_t nextName = static_cast<size_t>(index);
        t.latency.reserve(calls);
        for (uint64_t i = 0; i < calls; ++i) {
            const unsigned pick = rng() % 100;
            std::string method;
            XmlRpcValue p;
            enum Expect { Id, GenOptions, OptionList, Listing, Name, Flushed } expect;
            std::string expectedText;
            if (pick < 35) {
                // Every pattern and alias in turn, by name or in a struct.
                const std::string &name = everything[nextName++ % everything.size()];
                method = "SetGen";
                if (rng() & 1) {
                    p = params(XmlRpcValue(name));
                } else {
                    XmlRpcValue s;
                    s["Pattern"] = name;
                    p = params(s);
                }
                expect = Id;
            } else if (pick < 50) {
                const std::string &pattern = m_cat.patterns[rng() % m_cat.patterns.size()];
                XmlRpcValue s;
                s["Pattern"] = pattern;
                const auto &opts = m_cat.options.at(pattern);
                for (int k = 0; k < 3 && !opts.empty(); ++k) {
                    const Option &o = opts[rng() % opts.size()];
                    if (o.type == "RGB") {
                        for (const char *c : {"_Red", "_Green", "_Blue"})
                            s[o.name + c] = static_cast<int>(rng() % 1024);
                    } else {
                        s[o.name] = optionValue(o, rng);
                    }
                }
                method = "SetGen";
                p = params(s);
                expect = Id;
            } else if (pick < 68) {
                method = "GetGenOptions";
                p = params();
                expect = GenOptions;
            } else if (pick < 86) {
                method = "PatternOption";
                if (pick < 84) {
                    expectedText = m_cat.patterns[rng() % m_cat.patterns.size()];
                    p = params(XmlRpcValue(expectedText));
                    expect = OptionList;
                } else {
                    p = params();
                    expect = Listing;
                }
            } else if (pick < 96) {
                method = "SetAlias";
                XmlRpcValue s;
                expectedText = prefix + "/a" + std::to_string(rng() % 16);
                s["AliasName"] = expectedText;
                s["Pattern"] = m_cat.patterns[rng() % m_cat.patterns.size()];
                p = params(s);
                expect = Name;
                defined.insert(expectedText);
            } else {
                method = "MMCAlias";
                XmlRpcValue s;
                s["Prefix"] = prefix;
                s["Path"] = "flush";
                p = params(s);
                expect = Flushed;
                expectedText = "flushed " + prefix + "/ aliases";
                defined.clear();
            }

            XmlRpcValue result;
            bool fault = false;
            std::string why;
            bool ok = false;
            const auto t0 = Clock::now();
            for (;;) {
                ok = c.call(method, p, result, fault, m_timeout, why);
                // A full queue answers -1: the client waits a moment and asks
                // again, as it would for a busy generator.
                if (ok && !fault && expect == Id && result.getType() == XmlRpcValue::TypeInt && result.asInt() == -1 &&
                    seconds(Clock::now() - t0) < m_timeout) {
                    ++t.refusals;
                    std::this_thread::sleep_for(2ms);
                    continue;
                }
                break;
            }
            t.latency.push_back(seconds(Clock::now() - t0));
            ++t.calls;
            ++t.byMethod[method];
            progress.fetch_add(1, std::memory_order_relaxed);
            if (!ok) {
                ++t.lost;
                note(t, method + ": " + why);
                continue;
            }
            if (fault) {
                ++t.failed;
                note(t, method + ": fault " + result.toXml());
                continue;
            }
            std::string wrong;
            switch (expect) {
            case Id:
                if (result.getType() != XmlRpcValue::TypeInt || result.asInt() == 0 || result.asInt() == -1)
                    wrong = "no transaction id";
                else
                    t.ids.push_back(result.asInt());
                break;
            case GenOptions:
                if (result.getType() != XmlRpcValue::TypeArray || result.size() < 3 ||
                    member(result[result.size() - 2], "VideoMute").empty())
                    wrong = "not the generator's options, settings and pattern";
                break;
            case OptionList:
                if (result.getType() != XmlRpcValue::TypeArray ||
                    static_cast<size_t>(result.size()) != m_cat.descriptors.at(expectedText))
                    wrong = "not the options of " + expectedText;
                break;
            case Listing:
                if (result.getType() != XmlRpcValue::TypeStruct)
                    wrong = "not a listing";
                else
                    for (const std::string &n : m_cat.patterns)
                        if (!result.hasMember(n))
                            wrong = "listing without " + n;
                for (const std::string &n : defined)
                    if (wrong.empty() && !result.hasMember(n))
                        wrong = "listing without the alias " + n;
                break;
            case Name:
            case Flushed:
                if (result.getType() != XmlRpcValue::TypeString || result.asString() != expectedText)
                    wrong = "expected '" + expectedText + "'";
                break;
            }
            if (!wrong.empty()) {
                ++t.failed;
                note(t, method + ": " + wrong + ", got " + result.toXml().substr(0, 200));
            }
        }
    }

private:
    static void note(Tally &t, const std::string &what)
    {
        if (t.failures.size() < 10)
            t.failures.push_back(what);
    }

    int m_port;
    const Catalogue &m_cat;
    double m_timeout;
};

// The frame the board last output, once no new one has come for a while.
bool settledCapture(const std::string &folder, std::string &bytes, std::string &json, long long afterSequence)
{
    std::string last;
    auto stableSince = Clock::now();
    const auto end = Clock::now() + 60s;
    while (Clock::now() < end) {
        std::ifstream j(folder + "/kona-out.json");
        std::stringstream js;
        js << j.rdbuf();
        const std::string now = js.str();
        const size_t at = now.find("\"sequence\":");
        const long long seq = at == std::string::npos ? -1 : std::atoll(now.c_str() + at + 11);
        if (now != last) {
            last = now;
            stableSince = Clock::now();
        } else if (seq > afterSequence && Clock::now() - stableSince > 1500ms) {
            std::ifstream r(folder + "/kona-out.raw", std::ios::binary);
            std::stringstream rs;
            rs << r.rdbuf();
            bytes = rs.str();
            json = now;
            return true;
        }
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

long long captureSequence(const std::string &folder)
{
    std::ifstream j(folder + "/kona-out.json");
    std::stringstream js;
    js << j.rdbuf();
    const std::string s = js.str();
    const size_t at = s.find("\"sequence\":");
    return at == std::string::npos ? 0 : std::atoll(s.c_str() + at + 11);
}

bool waitReady(int port)
{
    const auto end = Clock::now() + 30s;
    while (Clock::now() < end) {
        Client c(port);
        XmlRpcValue r;
        bool fault = false;
        std::string why;
        if (c.call("GetOrvVersion", params(), r, fault, 5, why))
            return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

// The request that ends the run, the same for the soaked and a fresh generator.
XmlRpcValue lastRequest()
{
    XmlRpcValue s;
    s["Pattern"] = "Window";
    s["Size"] = 37;
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    std::string program = programFolder() + "/orvane";
    long clients = 8, calls = 125000, rate = 200, connectSeconds = 60, videoFormat = 32;
    double timeout = 30;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto number = [&](long &out) {
            if (i + 1 >= argc)
                return false;
            const char *t = argv[++i];
            auto r = std::from_chars(t, t + std::strlen(t), out);
            return r.ec == std::errc() && *r.ptr == '\0' && out >= 0;
        };
        bool ok = true;
        if (a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--orvane" && i + 1 < argc) {
            program = argv[++i];
        } else if (a == "--clients") {
            ok = number(clients) && clients > 0;
        } else if (a == "--calls") {
            ok = number(calls);
        } else if (a == "--connect-rate") {
            ok = number(rate);
        } else if (a == "--connect-seconds") {
            ok = number(connectSeconds);
        } else if (a == "--video-format") {
            ok = number(videoFormat);
        } else if (a == "--timeout" && i + 1 < argc) {
            long t = 0;
            ok = number(t) && t > 0;
            timeout = static_cast<double>(t);
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "orvane-soak: bad argument '%s'\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    XmlRpcUtil::setVerbosity(0);
    signal(SIGPIPE, SIG_IGN);

    Generator gen;
    if (!gen.start(program, static_cast<int>(videoFormat)) || !waitReady(gen.port)) {
        std::fprintf(stderr, "orvane-soak: %s did not start and answer\n", program.c_str());
        return 1;
    }
    Catalogue cat;
    std::string why;
    {
        Client c(gen.port);
        if (!readCatalogue(c, cat, why)) {
            std::fprintf(stderr, "orvane-soak: %s\n", why.c_str());
            return 1;
        }
    }
    std::printf("generator pid %d, port %d; %zu patterns, %zu aliases\n", static_cast<int>(gen.pid), gen.port,
                cat.patterns.size(), cat.aliases.size());
    const int fdsStart = gen.descriptors();
    const long rssFirst = gen.residentKb();

    // Resident memory through the run, every half second.
    std::vector<std::pair<double, long>> rss;
    std::mutex rssLock;
    std::atomic<bool> sampling{true};
    const auto runStart = Clock::now();
    std::thread sampler([&] {
        while (sampling.load()) {
            const long kb = gen.residentKb();
            {
                std::lock_guard<std::mutex> g(rssLock);
                rss.emplace_back(seconds(Clock::now() - runStart), kb);
            }
            std::this_thread::sleep_for(500ms);
        }
    });

    Soak soak(gen.port, cat, timeout);
    std::vector<Tally> tallies(static_cast<size_t>(clients));
    std::atomic<uint64_t> progress{0};
    const uint64_t total = static_cast<uint64_t>(clients) * static_cast<uint64_t>(calls);
    const uint64_t warmCalls = std::min<uint64_t>(total / 2, std::max<uint64_t>(total / 20, 2000));
    std::vector<std::thread> threads;
    const auto t0 = Clock::now();
    for (long i = 0; i < clients; ++i)
        threads.emplace_back([&, i] { soak.client(static_cast<int>(i), static_cast<uint64_t>(calls), tallies[i], progress); });
    // Warm-up: the first 5 % of the calls; resident memory is counted from then.
    long rssStart = -1;
    double warmAt = 0;
    uint64_t lastShown = 0;
    while (progress.load() < total) {
        std::this_thread::sleep_for(200ms);
        const uint64_t done = progress.load();
        if (rssStart < 0 && done >= warmCalls) {
            rssStart = gen.residentKb();
            warmAt = seconds(Clock::now() - runStart);
        }
        if (done - lastShown >= total / 10 && done < total) {
            lastShown = done;
            std::printf("  %llu of %llu calls, %.0f s, resident %ld kB\n", static_cast<unsigned long long>(done),
                        static_cast<unsigned long long>(total), seconds(Clock::now() - t0), gen.residentKb());
            std::fflush(stdout);
        }
    }
    for (auto &t : threads)
        t.join();
    const double elapsed = seconds(Clock::now() - t0);
    if (rssStart < 0) {
        rssStart = gen.residentKb();
        warmAt = seconds(Clock::now() - runStart);
    }

    // The last request, once everything before it has been drawn.
    bool frameMatches = false;
    std::string frameWhy;
    {
        Client c(gen.port);
        XmlRpcValue r;
        bool fault = false;
        const long long before = captureSequence(gen.folder);
        std::string soakBytes, soakJson, freshBytes, freshJson;
        if (!c.call("SetGen", params(lastRequest()), r, fault, timeout, why) || fault) {
            frameWhy = "the last request was not answered";
        } else if (!settledCapture(gen.folder, soakBytes, soakJson, before)) {
            frameWhy = "no settled frame after the last request";
        } else {
            Generator fresh;
            XmlRpcValue r2;
            if (!fresh.start(program, static_cast<int>(videoFormat)) || !waitReady(fresh.port)) {
                frameWhy = "the fresh generator did not start";
            } else {
                const long long freshBefore = captureSequence(fresh.folder);
                Client c2(fresh.port);
                if (!c2.call("SetGen", params(lastRequest()), r2, fault, timeout, why) || fault ||
                    !settledCapture(fresh.folder, freshBytes, freshJson, freshBefore))
                    frameWhy = "the fresh generator did not draw the request";
                else if (freshBytes != soakBytes || freshBytes.empty())
                    frameWhy = "the frames differ";
                else
                    frameMatches = true;
            }
        }
    }
    std::this_thread::sleep_for(1s);
    const long rssEnd = gen.residentKb();
    sampling.store(false);
    sampler.join();
    long rssPeak = 0;
    for (const auto &[t, kb] : rss)
        if (t >= warmAt)
            rssPeak = std::max(rssPeak, kb);
    rssPeak = std::max({rssPeak, rssStart, rssEnd});
    const int fdsAfterSoak = gen.descriptors();

    // Connections opened and closed at a steady rate; half make a call first.
    uint64_t opened = 0, churnFailed = 0;
    int fdsChurnBefore = gen.descriptors(), fdsChurnAfter = fdsChurnBefore;
    if (rate > 0 && connectSeconds > 0) {
        const auto start = Clock::now();
        const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / static_cast<double>(rate)));
        const uint64_t count = static_cast<uint64_t>(rate) * static_cast<uint64_t>(connectSeconds);
        for (uint64_t k = 0; k < count; ++k) {
            std::this_thread::sleep_until(start + period * static_cast<long>(k));
            if (k % 2 == 0) {
                Client c(gen.port);
                XmlRpcValue r;
                bool fault = false;
                if (!c.call("GetOrvVersion", params(), r, fault, timeout, why) || fault)
                    ++churnFailed;
            } else {
                int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_in a{};
                a.sin_family = AF_INET;
                a.sin_port = htons(static_cast<uint16_t>(gen.port));
                a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                if (connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
                    ++churnFailed;
                close(s);
            }
            ++opened;
        }
        const double churnSeconds = seconds(Clock::now() - start);
        std::this_thread::sleep_for(2s);
        fdsChurnAfter = gen.descriptors();
        std::printf("connections: %llu opened and closed in %.1f s (%.0f/s), %llu failed; descriptors %d before, %d "
                    "after\n",
                    static_cast<unsigned long long>(opened), churnSeconds, static_cast<double>(opened) / churnSeconds,
                    static_cast<unsigned long long>(churnFailed), fdsChurnBefore, fdsChurnAfter);
    }

    double stopTook = 0;
    const int status = gen.stop(15s, &stopTook);

    // Figures.
    Tally all;
    std::set<int32_t> ids;
    uint64_t duplicateIds = 0;
    for (Tally &t : tallies) {
        all.calls += t.calls;
        all.failed += t.failed;
        all.lost += t.lost;
        all.refusals += t.refusals;
        for (const auto &[m, n] : t.byMethod)
            all.byMethod[m] += n;
        all.latency.insert(all.latency.end(), t.latency.begin(), t.latency.end());
        for (int32_t id : t.ids)
            duplicateIds += ids.insert(id).second ? 0 : 1;
        for (const std::string &f : t.failures)
            if (all.failures.size() < 10)
                all.failures.push_back(f);
    }
    std::sort(all.latency.begin(), all.latency.end());
    auto pct = [&](double q) {
        return all.latency.empty() ? 0.0 : all.latency[std::min(all.latency.size() - 1, static_cast<size_t>(q * static_cast<double>(all.latency.size())))];
    };
    std::printf("calls: %llu by %ld clients in %.1f s (%.0f calls/s); failed %llu, lost %llu; queue-full answers %llu "
                "(asked again)\n",
                static_cast<unsigned long long>(all.calls), clients, elapsed, static_cast<double>(all.calls) / elapsed,
                static_cast<unsigned long long>(all.failed), static_cast<unsigned long long>(all.lost),
                static_cast<unsigned long long>(all.refusals));
    std::printf("mix:");
    for (const auto &[m, n] : all.byMethod)
        std::printf(" %s %llu", m.c_str(), static_cast<unsigned long long>(n));
    std::printf("\ntransactions: %zu ids, %llu duplicates\n", ids.size(), static_cast<unsigned long long>(duplicateIds));
    std::printf("latency: p50 %.3f ms, p99 %.3f ms, max %.3f ms\n", pct(0.5) * 1e3, pct(0.99) * 1e3,
                all.latency.empty() ? 0.0 : all.latency.back() * 1e3);
    std::printf("resident memory: %ld kB at start, %ld kB after warm-up (%.1f s), peak %ld kB, end %ld kB\n", rssFirst,
                rssStart, warmAt, rssPeak, rssEnd);
    std::printf("descriptors: %d before, %d after the calls, %d after the connections\n", fdsStart, fdsAfterSoak,
                fdsChurnAfter);
    std::printf("last frame: %s\n", frameMatches ? "matches the last request" : frameWhy.c_str());
    std::printf("SIGTERM: %s after %.2f s\n", status == 0 ? "exit status 0" : ("status " + std::to_string(status)).c_str(),
                stopTook);
    for (const std::string &f : all.failures)
        std::printf("  failure: %s\n", f.c_str());

    // Flat: the end within 16 MiB or 10 % of the warm start.
    const bool flat = rssEnd - rssStart <= std::max(16 * 1024L, rssStart / 10);
    const bool pass = all.failed == 0 && all.lost == 0 && duplicateIds == 0 && flat && frameMatches &&
                      fdsAfterSoak <= fdsStart && fdsChurnAfter <= fdsChurnBefore && churnFailed == 0 && status == 0;
    std::printf("%s\n", pass ? "PASS" : "FAIL");
    return pass ? 0 : 1;
}
