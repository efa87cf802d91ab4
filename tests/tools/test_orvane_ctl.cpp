// orvane-ctl as a process against the real generator, headless on a
// simulated Kona board on loopback. --json output is read back by Python's
// json module, an independent reader.
#include "ProcessHarness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace harness;

namespace {

const std::string kOrvane = ORVANE_BIN;
const std::string kCtl = ORVANE_CTL;

struct Result {
    int status = -1;
    std::string out, err;
    double seconds = 0;
};

class Generator {
public:
    Generator()
        : port(freePort()), discovery(freePort()),
          m_proc({kOrvane, "--simulate", "kona", "--headless", "--port", std::to_string(port), "--discovery-port",
                  std::to_string(discovery)},
                 env(), dir.path + "/gen")
    {
    }
    Env env() const
    {
        Env e;
        e.set("ORVANE_SIM_CAPTURE", dir.path).set("HOME", dir.path).unset("USERPROFILE");
        e.unset("ORVANE_SIM_KONA").unset("ORVANE_SIM_DECKLINK").unset("ORVANE_HOST");
        return e;
    }
    std::string host() const { return "127.0.0.1:" + std::to_string(port); }
    std::string log() { return m_proc.out(); }
    bool running() { return m_proc.running(); }

    TempDir dir;
    int port, discovery;

private:
    Process m_proc;
};

int g_runs = 0;

// The test's environment without ORVANE_HOST.
Env cleanEnv() { return Env().unset("ORVANE_HOST"); }

Result runCtl(const std::vector<std::string> &args, const Env &env = cleanEnv())
{
    TempDir dir;
    std::vector<std::string> argv{kCtl};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto t0 = Clock::now();
    Process p(argv, env, dir.path + "/ctl" + std::to_string(++g_runs));
    Result r;
    const auto st = p.wait(60s);
    r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    r.status = st ? *st : -999;
    r.out = p.out();
    r.err = p.err();
    return r;
}

// Each expression, evaluated by Python on d = the parsed JSON, as JSON.
std::vector<std::string> pyJson(const std::string &json, const std::vector<std::string> &exprs)
{
    TempDir dir;
    std::ofstream(dir.path + "/in.json") << json;
    std::string code = "import json,sys\nd=json.load(open(sys.argv[1]))\n";
    for (const auto &e : exprs)
        code += "print(json.dumps(" + e + "))\n";
    std::ofstream(dir.path + "/q.py") << code;
    int status = 0;
    // Debian's own interpreter starts fastest; any other will do.
    static const std::string python = fileExists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    const std::string out = shell(python + " '" + dir.path + "/q.py' '" + dir.path + "/in.json' 2>&1", &status);
    std::vector<std::string> lines;
    std::istringstream s(out);
    for (std::string l; std::getline(s, l);)
        lines.push_back(l);
    if (status != 0 || lines.size() != exprs.size())
        ADD_FAILURE() << "python could not read:\n" << json << "\n" << out;
    lines.resize(exprs.size());
    return lines;
}

std::string py1(const std::string &json, const std::string &expr) { return pyJson(json, {expr})[0]; }

// A failure: the status, nothing on stdout, one line on stderr.
void expectFailure(const Result &r, int status, const std::string &needle)
{
    EXPECT_EQ(r.status, status) << r.out << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("orvane-ctl: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(needle), std::string::npos) << r.err;
}

bool waitReady(Generator &g)
{
    const auto end = Clock::now() + 20s;
    while (Clock::now() < end && g.running()) {
        Capture c;
        if (readCapture(g.dir.path, "kona", c) && runCtl({"--host", g.host(), "version"}).status == 0)
            return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

} // namespace

TEST(OrvaneCtl, EveryCommandAgainstAHeadlessGenerator)
{
    Generator g;
    ASSERT_TRUE(waitReady(g)) << g.log();
    const std::vector<std::string> H{"--host", g.host()};
    const auto ctl = [&](std::vector<std::string> args) {
        args.insert(args.begin(), H.begin(), H.end());
        return runCtl(args);
    };

    // version: the generator's texts; ORVANE_HOST stands in for --host.
    {
        const Result r = runCtl({"version", "--json"}, cleanEnv().set("ORVANE_HOST", g.host()));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(pyJson(r.out, {"d['Software']", "d['OS']", "sorted(d)"}),
                  (std::vector<std::string>{"\"317\"", "\"Windows [Unknown]\"",
                                            "[\"Application\", \"Gateware\", \"OS\", \"Software\"]"}));
        const Result human = ctl({"version"});
        EXPECT_NE(human.out.find("Software     317\n"), std::string::npos) << human.out;
    }

    // patterns and aliases.
    {
        const Result r = ctl({"patterns", "--json"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(pyJson(r.out, {"[p['revision'][:11] for p in d['patterns'] if p['name']=='Colorbars']",
                                 "[a['pattern'] for a in d['aliases'] if a['name']=='fullfield']"}),
                  (std::vector<std::string>{"[\"$Revision: \"]", "[\"Colorbars\"]"}));
        EXPECT_NE(ctl({"patterns"}).out.find("Aliases:\n"), std::string::npos);
    }

    // options: types, ranges, defaults, and the current values of the
    // pattern on the output (the first one is Colorbars).
    {
        const Result r = ctl({"options", "colorbars", "--json"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(pyJson(r.out, {"d['pattern']", "d['shown']", "d['alias']",
                                 "[o for o in d['options'] if o['name']=='Style'][0]['values']",
                                 "[(o['min'],o['max'],o['default'],o['current']) for o in d['options'] if "
                                 "o['name']=='Brightness']"}),
                  (std::vector<std::string>{"\"Colorbars\"", "true", "null",
                                            "[\"smpte\", \"fullfield\", \"splitfield\", \"3split\"]",
                                            "[[0, 100, \"75\", \"75\"]]"}));
        const Result a = ctl({"options", "fullfield", "--json"});
        EXPECT_EQ(pyJson(a.out, {"d['alias']", "d['pattern']"}),
                  (std::vector<std::string>{"\"fullfield\"", "\"Colorbars\""}));
        EXPECT_NE(ctl({"options", "Colorbars"}).out.find("Brightness  Integer      0 to 100"), std::string::npos);
        expectFailure(ctl({"options", "Nope"}), 1, "no pattern or alias 'Nope'");
    }

    // generator: every output option, its settings and the request shown.
    Capture c;
    ASSERT_TRUE(readCapture(g.dir.path, "kona", c));
    {
        const Result r = ctl({"generator", "--json"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(pyJson(r.out, {"[o['name'] for o in d['options']][:12]", "d['settings']['VideoFormat']",
                                 "d['request']['Pattern']", "'720p 59.94' in [o for o in d['options'] if "
                                                            "o['name']=='VideoFormat'][0]['values']",
                                 "[o['current'] for o in d['options'] if o['name']=='WhiteLevel']"}),
                  (std::vector<std::string>{"[\"GatingColor\", \"GateRed\", \"GateGreen\", \"GateBlue\", "
                                            "\"VideoFormat\", \"OutputTitling\", \"BitDepth\", \"BlackLevel\", "
                                            "\"WhiteLevel\", \"OutputColor\", \"VideoMute\", \"ColorEncoding\"]",
                                            "\"" + c.videoFormat + "\"", "\"Colorbars\"", "true", "[\"940\"]"}));
    }

    // The signal options follow the output options; set like them, they
    // reach the board's description of the frame.
    {
        const Result r = ctl({"generator", "--json"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(pyJson(r.out, {"[o['name'] for o in d['options']][12:16]",
                                 "[o['current'] for o in d['options'] if o['name']=='TransferFunction']"}),
                  (std::vector<std::string>{"[\"TransferFunction\", \"Colorimetry\", \"SignalRange\", "
                                            "\"HdrMetadata\"]",
                                            "[\"SDR\"]"}));
        const Result s = ctl({"set", "transferfunction=pq", "Colorimetry=bt.2020", "MaxCLL=1000", "--json"});
        ASSERT_EQ(s.status, 0) << s.err;
        EXPECT_EQ(pyJson(s.out, {"d['taken']", "d['shown']", "d['request']"}),
                  (std::vector<std::string>{"true", "true",
                                            "{\"Colorimetry\": \"BT.2020\", \"MaxCLL\": \"1000\", "
                                            "\"TransferFunction\": \"PQ\"}"}));
        const std::string desc = readFile(g.dir.path + "/kona-out.json");
        EXPECT_EQ(pyJson(desc, {"d['signal']['eotf']", "d['signal']['colorimetry']", "d['hdrMetadata']['maxCLL']",
                                "d['sdiVpid'][0]['a'][:6]"}),
                  (std::vector<std::string>{"\"PQ\"", "\"BT.2020\"", "1000", "\"0x89EB\""}));
        EXPECT_EQ(py1(ctl({"generator", "--json"}).out, "d['settings']['TransferFunction']"), "\"PQ\"");
        expectFailure(ctl({"set", "TransferFunction=HDR10"}), 1, "TransferFunction");
        const Result back = ctl({"set", "TransferFunction=SDR", "Colorimetry=BT.709"});
        ASSERT_EQ(back.status, 0) << back.err;
        EXPECT_EQ(py1(readFile(g.dir.path + "/kona-out.json"), "d['hdrMetadata']['present']"), "false");
    }

    // set: waits for the request to be taken, then the board shows it.
    {
        const long long seq = c.sequence;
        const Result r = ctl({"set", "videoformat=720P 59.94", "--json"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(pyJson(r.out, {"d['taken']", "d['shown']", "d['request']", "type(d['transaction']).__name__"}),
                  (std::vector<std::string>{"true", "true", "{\"VideoFormat\": \"720p 59.94\"}", "\"int\""}));
        // On the output when set returns: the capture already shows it.
        ASSERT_TRUE(readCapture(g.dir.path, "kona", c));
        EXPECT_EQ(c.width, 1280);
        EXPECT_GT(c.sequence, seq);
        EXPECT_EQ(c.videoFormat, "720p 59.94");
        EXPECT_EQ(py1(ctl({"generator", "--json"}).out, "d['settings']['VideoFormat']"), "\"720p 59.94\"");

        const Result bars = ctl({"set", "Colorbars", "Style=FullField", "Brightness=75"});
        ASSERT_EQ(bars.status, 0) << bars.err;
        EXPECT_TRUE(std::regex_match(bars.out, std::regex("transaction -?\\d+: on the output\n"))) << bars.out;
        std::string why;
        ASSERT_TRUE(readCapture(g.dir.path, "kona", c));
        EXPECT_TRUE(c.width == 1280 && rowHasBars(c, c.height * 9 / 10, &why)) << why;
        const Result req = ctl({"generator", "--json"});
        // A request naming a pattern is the whole map on the output (the
        // wait marker set leaves is not shown).
        EXPECT_EQ(py1(req.out, "d['request']"),
                  "{\"Brightness\": \"75\", \"Pattern\": \"Colorbars\", \"Style\": \"fullfield\"}");

        // RGB as R,G,B; booleans; toggles; clamping is a warning only.
        ASSERT_EQ(ctl({"set", "GatingColor=1,2,0x10", "GateRed=yes", "OutputTitling=toggle"}).status, 0);
        EXPECT_EQ(pyJson(ctl({"generator", "--json"}).out,
                         {"[d['settings'][k] for k in ('GatingColor_Red','GatingColor_Green','GatingColor_Blue',"
                          "'GateRed','OutputTitling')]"})[0],
                  "[\"1\", \"2\", \"16\", \"1\", \"1\"]");
        ASSERT_EQ(ctl({"set", "GateRed=false", "OutputTitling=toggle"}).status, 0);
        EXPECT_EQ(py1(ctl({"generator", "--json"}).out, "[d['settings'][k] for k in ('GateRed','OutputTitling')]"),
                  "[\"0\", \"0\"]");
        const Result clamp = ctl({"set", "Brightness=500"});
        EXPECT_EQ(clamp.status, 0);
        EXPECT_NE(clamp.err.find("warning: Brightness=500 is outside 0 to 100"), std::string::npos) << clamp.err;
        const Result quick = ctl({"set", "Brightness=60", "--no-wait", "--json"});
        EXPECT_EQ(quick.status, 0);
        EXPECT_EQ(pyJson(quick.out, {"d['taken']", "d['shown']"}), (std::vector<std::string>{"false", "false"}));

        // Refused before anything is sent: status 1, one line.
        expectFailure(ctl({"set", "Nope"}), 1, "no pattern or alias 'Nope'");
        expectFailure(ctl({"set", "Colorbars", "Size=3"}), 1, "Colorbars has no option 'Size'");
        expectFailure(ctl({"set", "Style=plaid"}), 1, "Style has no value 'plaid' (it takes smpte, fullfield");
        expectFailure(ctl({"set", "VideoFormat=1080p 23.97"}), 1, "VideoFormat has no value");
        expectFailure(ctl({"set", "GatingColor=1,2"}), 1, "R,G,B");
        expectFailure(ctl({"set", "Brightness=bright"}), 1, "takes a whole number");
        expectFailure(ctl({"set", "GateRed=maybe"}), 1, "takes true or false");
        expectFailure(ctl({"set", "BitDepth=8"}), 1, "read-only");
        expectFailure(ctl({"set"}), 2, "set needs");
    }

    // alias define, from options and from the output; names cut to 80.
    {
        Result r = ctl({"alias", "define", "lab/grey", "Colorbars", "Style=splitfield", "--json"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(pyJson(r.out, {"d['alias']", "d['pattern']"}),
                  (std::vector<std::string>{"\"lab/grey\"", "\"Colorbars\""}));
        ASSERT_EQ(ctl({"set", "lab/grey"}).status, 0);
        EXPECT_EQ(py1(ctl({"generator", "--json"}).out, "[d['request'][k] for k in ('Pattern','Style')]"),
                  "[\"lab/grey\", \"splitfield\"]");
        ASSERT_EQ(ctl({"alias", "define", "lab/now", "--current"}).status, 0);
        const std::string longName(100, 'x');
        r = ctl({"alias", "define", longName, "Pattern=Colorbars"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "alias " + longName.substr(0, 80) + " -> Colorbars\n");
        EXPECT_NE(r.err.find("cut to 80 characters"), std::string::npos);
        expectFailure(ctl({"alias", "define", "x", "Nope"}), 1, "no pattern or alias 'Nope'");
        expectFailure(ctl({"alias", "define", "x", "fullfield"}), 1, "is an alias");
        expectFailure(ctl({"alias", "define", "x", "Style=smpte"}), 2, "needs the pattern");

        const std::string list = ctl({"patterns", "--json"}).out;
        EXPECT_EQ(py1(list, "sorted(a['name'] for a in d['aliases'] if a['name'].startswith('lab/'))"),
                  "[\"lab/grey\", \"lab/now\"]");
        r = ctl({"alias", "flush", "lab/", "--json"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(pyJson(r.out, {"d['answer']", "d['removed']"}),
                  (std::vector<std::string>{"\"flushed lab/ aliases\"", "2"}));
        EXPECT_EQ(py1(ctl({"patterns", "--json"}).out, "[a for a in d['aliases'] if a['name'].startswith('lab/')]"),
                  "[]");
    }

    // scan: the images of a folder become PREFIX/ aliases of ImageFile
    // when the generator has that pattern; "flush" is never a flush.
    {
        TempDir images;
        shell("cp '" + std::string(ORVANE_DATA_DIR) + "/ImageFiles/Nimbra-Test-Card-1080.png' '" + images.path +
              "/card-1080.png'");
        ASSERT_EQ(ctl({"alias", "define", "mmc/keep", "Colorbars"}).status, 0);
        const bool imageFile = py1(ctl({"patterns", "--json"}).out,
                                   "any(p['name']=='ImageFile' for p in d['patterns'])") == "true";
        Result r = ctl({"scan", images.path, "studio", "--json"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> expected =
            imageFile ? std::vector<std::string>{"\"studio/\"", "[\"studio/card\"]", "1"}
                      : std::vector<std::string>{"\"studio/\"", "[]", "0"};
        EXPECT_EQ(pyJson(r.out, {"d['prefix']", "d['aliases']", "d['added']"}), expected);
        r = ctl({"scan", "flush"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(py1(ctl({"patterns", "--json"}).out, "[a['name'] for a in d['aliases'] if a['name']=='mmc/keep']"),
                  "[\"mmc/keep\"]");
        EXPECT_EQ(ctl({"scan", images.path}).status, 0);
    }

    // edid: the simulated card's four bytes.
    {
        const Result r = ctl({"edid", "--json"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(pyJson(r.out, {"d['bytes']", "d['hex']"}), (std::vector<std::string>{"4", "\"04030201\""}));
        EXPECT_EQ(ctl({"edid"}).out, "04 03 02 01\n");
        TempDir d;
        EXPECT_EQ(ctl({"edid", "-o", d.path + "/edid.bin"}).status, 0);
        EXPECT_EQ(readFile(d.path + "/edid.bin"), std::string("\x04\x03\x02\x01", 4));
        expectFailure(ctl({"edid", "-o", d.path + "/no/such/dir/edid.bin"}), 1, "cannot write");
    }

    // log: the lines come as datagrams to port 5112 until --reset.
    {
        const int rx = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(5112);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool listening = bind(rx, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        timeval tv{0, 200000};
        setsockopt(rx, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        Result r = ctl({"log", "127.0.0.1"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "Redirected to Net\n");
        ASSERT_EQ(ctl({"set", "Colorbars"}).status, 0);
        std::string got;
        for (int i = 0; i < 25 && listening && got.find("Info: ") == std::string::npos; ++i) {
            char buf[2048];
            const ssize_t n = recv(rx, buf, sizeof buf, 0);
            if (n > 0)
                got.assign(buf, static_cast<size_t>(n));
        }
        close(rx);
        if (listening) {
            EXPECT_NE(got.find("Info: "), std::string::npos) << "no log datagram on port 5112";
        }
        r = ctl({"log", "--reset", "--json"});
        EXPECT_EQ(py1(r.out, "d['answer']"), "\"Redirected to local\"");
        EXPECT_EQ(ctl({"log", "--reset"}).out, "Not Redirected\n");
    }

    // call: anything, parameters and results as JSON; a fault is status 1.
    {
        Result r = ctl({"call", "system.listMethods"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(py1(r.out, "sorted(m for m in d if not m.startswith('system.'))"),
                  "[\"GetGenOptions\", \"GetOrvVersion\", \"MMCAlias\", \"PatternOption\", \"ReadEdid\", "
                  "\"RescanFormats\", \"SetAlias\", \"SetGen\"]");
        r = ctl({"call", "system.methodHelp", "\"GetOrvVersion\""});
        EXPECT_EQ(r.out, "\"Returns a list of generator options and their current settings\"\n");
        r = ctl({"call", "SetAlias", "{\"AliasName\": \"raw\", \"Pattern\": \"Colorbars\", \"Brightness\": 40}"});
        EXPECT_EQ(r.out, "\"raw\"\n");
        r = ctl({"call", "SetGen", "7"});
        EXPECT_EQ(r.out, "-1\n");
        r = ctl({"call", "ReadEdid"});
        EXPECT_EQ(r.out, "{ \"base64\": \"BAMCAQ==\" }\n");
        r = ctl({"call", "MMCAlias", "{\"Prefix\": \"\", \"Path\": \"x\"}"});
        EXPECT_EQ(r.out, "\"invalid arguments\"\n");
        expectFailure(ctl({"call", "SetGen", "{\"Log\": 5}"}), 1, "SetGen: the generator answered with fault");
        expectFailure(ctl({"call", "NoSuchMethod"}), 1, "fault");
    }
    EXPECT_TRUE(g.running()) << g.log();
}

TEST(OrvaneCtl, UnreachableGeneratorsAreStatusThreeWithinTheTimeOut)
{
    // Nobody on the port: refused at once.
    const int port = freePort();
    Result r = runCtl({"--host", "127.0.0.1:" + std::to_string(port), "patterns"});
    expectFailure(r, 3, "cannot reach the generator at 127.0.0.1:" + std::to_string(port));
    EXPECT_LT(r.seconds, 5.0);

    // A listener that never answers: the time-out decides.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    listen(fd, 4);
    const std::string silent = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    for (const char *cmd : {"version", "generator"}) {
        r = runCtl({"--host", silent, "--timeout", "1", cmd});
        expectFailure(r, 3, "no response within 1 seconds");
        EXPECT_GE(r.seconds, 0.9);
        EXPECT_LT(r.seconds, 4.0) << cmd;
    }
    // ORVANE_HOST names the generator when --host does not.
    r = runCtl({"--timeout", "0.5", "version"}, cleanEnv().set("ORVANE_HOST", silent));
    close(fd);
    expectFailure(r, 3, "cannot reach the generator at " + silent + ": no response within 0.5 seconds");
}

TEST(OrvaneCtl, DiscoveryOnAChosenPort)
{
    Generator g;
    ASSERT_TRUE(waitReady(g)) << g.log();
    const std::string disc = std::to_string(g.discovery);
    const Result r = runCtl({"discover", "--broadcast", "127.0.0.1", "--discovery-port", disc, "--timeout", "1",
                             "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_GE(r.seconds, 0.9);
    EXPECT_LT(r.seconds, 6.0);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::string name = std::string(host).substr(0, 23);
    EXPECT_EQ(pyJson(r.out, {"len(d)", "d[0]['name']", "d[0]['address']", "d[0]['port']", "d[0]['serviceCode']",
                             "d[0]['version']"}),
              (std::vector<std::string>{"1", "\"" + name + "\"", "\"127.0.0.1\"", std::to_string(g.port), "5113",
                                        "\"317\""}));
    const Result human = runCtl({"discover", "--broadcast", "127.0.0.1", "--discovery-port", disc, "--timeout", "1"});
    ASSERT_EQ(human.status, 0) << human.err;
    EXPECT_TRUE(std::regex_search(human.out, std::regex("^NAME +ADDRESS +PORT +VERSION\n")));
    EXPECT_TRUE(std::regex_search(human.out, std::regex("127\\.0\\.0\\.1 +" + std::to_string(g.port) + " +317\n")))
        << human.out;

    // A port nobody answers on: status 3 after the time given, and [] for scripts.
    const Result none = runCtl({"discover", "--broadcast", "127.0.0.1", "--discovery-port",
                                std::to_string(freePort()), "--timeout", "0.5", "--json"});
    EXPECT_EQ(none.status, 3);
    EXPECT_EQ(none.out, "[]\n");
    EXPECT_NE(none.err.find("no generator answered"), std::string::npos) << none.err;
    EXPECT_GE(none.seconds, 0.45);

    // The answer port held by another program: a refusal in one line.
    const int holder = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(3530);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(holder, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
        expectFailure(runCtl({"discover", "--broadcast", "127.0.0.1", "--discovery-port", disc, "--timeout", "0.5"}),
                      1, "cannot listen for answers on UDP port 3530: ");
    }
    close(holder);
}
