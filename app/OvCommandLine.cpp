#include "OvCommandLine.h"

#include "OvWebAccess.h"

#include <arpa/inet.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <fstream>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// The executable path goes through a 256-byte buffer: 255 bytes are kept.
constexpr size_t kPathBytes = 256;

bool parsePort(const std::string &option, const std::string &text, int &out, std::string &error)
{
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || v < 1 || v > 65535) {
        error = option + " needs a port number from 1 to 65535, not '" + text + "'";
        return false;
    }
    out = static_cast<int>(v);
    return true;
}

// HOST, HOST:PORT or [IPv6]:PORT.
bool parseHostPort(const std::string &option, const std::string &text, std::string &host, int &port,
                   std::string &error)
{
    std::string rest;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close != std::string::npos) {
            host = text.substr(1, close - 1);
            rest = text.substr(close + 1);
        }
    } else {
        const size_t colon = text.find(':');
        if (colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
            host = text.substr(0, colon);
            rest = text.substr(colon);
        } else {
            host = text;
        }
    }
    if (host.empty() || (!rest.empty() && rest[0] != ':')) {
        error = option + " needs HOST or HOST:PORT, not '" + text + "'";
        return false;
    }
    return rest.empty() || parsePort(option, rest.substr(1), port, error);
}

} // namespace

bool OvCommandLine::parse(int argc, const char *const *argv, OvCommandLine &cl, std::string &error)
{
    cl = OvCommandLine();
    cl.qtArgs.emplace_back(argc > 0 && argv[0] ? argv[0] : "orvane");
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        if (arg.rfind("--", 0) == 0) {
            const size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg.resize(eq);
                hasValue = true;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            // Qt's own options (-platform, -display, ...) and their values.
            cl.qtArgs.push_back(arg);
            static const char *const kWithValue[] = {"-platform", "-platformpluginpath", "-platformtheme",
                                                     "-plugin", "-display", "-geometry", "-qwindowgeometry",
                                                     "-qwindowtitle", "-qwindowicon", "-style", "-stylesheet"};
            for (const char *o : kWithValue)
                if (arg == o && i + 1 < argc)
                    cl.qtArgs.emplace_back(argv[++i]);
            continue;
        } else {
            error = "unexpected argument '" + arg + "'";
            return false;
        }

        auto takeValue = [&](std::string &out) {
            if (hasValue) {
                out = value;
                return true;
            }
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        auto noValue = [&]() {
            if (hasValue)
                error = arg + " takes no value";
            return !hasValue;
        };

        if (arg == "--simulate") {
            std::string board;
            if (!takeValue(board))
                return false;
            if (board == "kona")
                cl.simulate = Board::kona;
            else if (board == "decklink")
                cl.simulate = Board::decklink;
            else {
                error = "--simulate takes kona or decklink, not '" + board + "'";
                return false;
            }
        } else if (arg == "--port" || arg == "--discovery-port" || arg == "--discovery-reply-port") {
            std::string text;
            int &port = arg == "--port"             ? cl.port
                        : arg == "--discovery-port" ? cl.discoveryPort
                                                    : cl.discoveryReplyPort;
            if (!takeValue(text) || !parsePort(arg, text, port, error))
                return false;
        } else if (arg == "--web") {
            std::string text;
            if (!takeValue(text) || !parseWeb(text, cl.webAddress, cl.webPort, error))
                return false;
            cl.web = true;
        } else if (arg == "--web-token") {
            if (!takeValue(cl.webToken))
                return false;
            if (cl.webToken.empty()) {
                error = "--web-token needs a token";
                return false;
            }
        } else if (arg == "--web-token-file") {
            if (!takeValue(cl.webTokenFile))
                return false;
            if (cl.webTokenFile.empty()) {
                error = "--web-token-file needs a file";
                return false;
            }
        } else if (arg == "--resolve" || arg == "--argyll-web") {
            std::string text;
            if (!takeValue(text))
                return false;
            if (arg == "--resolve" ? !parseHostPort(arg, text, cl.resolveHost, cl.resolvePort, error)
                                   : !parseHostPort(arg, text, cl.argyllHost, cl.argyllPort, error))
                return false;
        } else if (arg == "--pgenerator") {
            // The port is optional and only given with '='.
            cl.pgenerator = true;
            if (hasValue && !parsePort(arg, value, cl.pgeneratorPort, error))
                return false;
        } else if (arg == "--pgenerator-discovery-port") {
            std::string text;
            if (!takeValue(text) || !parsePort(arg, text, cl.pgeneratorDiscoveryPort, error))
                return false;
        } else if (arg == "--data-dir") {
            if (!takeValue(cl.dataDir))
                return false;
            if (cl.dataDir.empty()) {
                error = "--data-dir needs a folder";
                return false;
            }
        } else if (arg == "--headless") {
            if (!noValue())
                return false;
            cl.headless = true;
        } else if (arg == "--control-panel") {
            if (!noValue())
                return false;
            cl.controlPanel = true;
        } else if (arg == "--monitor") {
            if (!noValue())
                return false;
            cl.monitor = true;
        } else if (arg == "--allow-remote-plugins") {
            if (!noValue())
                return false;
            cl.allowRemotePlugins = true;
        } else if (arg == "--help") {
            if (!noValue())
                return false;
            cl.help = true;
        } else if (arg == "--version") {
            if (!noValue())
                return false;
            cl.version = true;
        } else {
            error = "unknown option '" + arg + "'";
            return false;
        }
    }
    if (!cl.webToken.empty() && !cl.webTokenFile.empty()) {
        error = "--web-token and --web-token-file cannot be used together";
        return false;
    }
    if ((!cl.webToken.empty() || !cl.webTokenFile.empty()) && !cl.web) {
        error = "an access token is for the web page: give --web as well";
        return false;
    }
    if (cl.headless && cl.monitor) {
        error = "--monitor opens a window and cannot be used with --headless";
        return false;
    }
    if (cl.headless && cl.controlPanel) {
        error = "--control-panel is a tray entry and cannot be used with --headless";
        return false;
    }
    return true;
}

std::string OvCommandLine::usage(const char *program)
{
    std::string p = program && *program ? program : "orvane";
    return "Usage: " + p + " [options]\n"
           "Software reference pattern generator for display calibration. Without options it\n"
           "lives in the system tray and drives the first AJA Kona or DeckLink card it finds.\n"
           "\n"
           "Options:\n"
           "  --simulate kona|decklink  drive a simulated board instead of a real card\n"
           "  --headless                no tray and no windows; runs until SIGINT or SIGTERM,\n"
           "                            then shuts down in order\n"
           "  --control-panel           add the \"Control Panel\" entry to the tray menu\n"
           "  --monitor                 open a window showing what the simulated board outputs\n"
           "  --port N                  XML-RPC port (default 9022)\n"
           "  --discovery-port N        UDP discovery port (default 3529); answers go to\n"
           "                            port 3530 of the asker\n"
           "  --discovery-reply-port N  the port discovery answers are sent to and the\n"
           "                            control panel listens on (default 3530)\n"
           "  --web [ADDR:]PORT         serve the web control page on PORT at ADDR (default\n"
           "                            127.0.0.1; 0.0.0.0 serves the network)\n"
           "  --web-token TEXT          the web page asks for this access token\n"
           "  --web-token-file FILE     the same, with the token in the first line of FILE\n"
           "  --data-dir DIR            data folder (default: ovdata beside the executable)\n"
           "  --resolve HOST[:PORT]     connect to a calibration program's Resolve-style patch\n"
           "                            server (default port 20002) and show its patches\n"
           "  --argyll-web HOST[:PORT]  play the browser of an ArgyllCMS web display (default\n"
           "                            port 8080) and show its patches\n"
           "  --pgenerator[=PORT]       listen for PGenerator clients such as HCFR (default TCP\n"
           "                            port 85) and answer their discovery on UDP\n"
           "  --pgenerator-discovery-port N\n"
           "                            UDP port of the PGenerator discovery (default 1977)\n"
           "  --allow-remote-plugins    let folders scanned on a remote client's request load\n"
           "                            .ovp pattern plug-ins (off: only images are taken)\n"
           "  --help                    show this text and exit\n"
           "  --version                 show the version and exit\n"
           "\n"
           "Environment: ORVANE_SIM_KONA, ORVANE_SIM_DECKLINK (simulated board set-up),\n"
           "ORVANE_SIM_CAPTURE (folder receiving each output frame). Qt options such as\n"
           "-platform are passed on to Qt.\n";
}

bool OvCommandLine::parseWeb(const std::string &text, std::string &address, int &port, std::string &error)
{
    std::string addr = "127.0.0.1", portText = text;
    const size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        addr = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (addr.size() >= 2 && addr.front() == '[' && addr.back() == ']')
            addr = addr.substr(1, addr.size() - 2);
        else if (addr.find(':') != std::string::npos)
            addr.clear(); // an IPv6 address needs its brackets
    }
    int p = 0;
    const auto r = std::from_chars(portText.data(), portText.data() + portText.size(), p);
    if (portText.empty() || r.ec != std::errc() || r.ptr != portText.data() + portText.size() || p < 1 || p > 65535) {
        error = "--web needs [ADDR:]PORT with a port from 1 to 65535, not '" + text + "'";
        return false;
    }
    unsigned char buf[16];
    const bool v6 = addr.find(':') != std::string::npos;
    if (addr != "localhost" && inet_pton(v6 ? AF_INET6 : AF_INET, addr.c_str(), buf) != 1) {
        error = "--web needs an IP address (or [IPv6 address], or localhost) before the port, not '" + text + "'";
        return false;
    }
    address = addr;
    port = p;
    return true;
}

bool OvCommandLine::webAccessToken(std::string &token, std::string &error) const
{
    token = webToken;
    if (!webTokenFile.empty()) {
        std::ifstream f(webTokenFile, std::ios::binary);
        if (!f) {
            error = "cannot read the web token file '" + webTokenFile + "'";
            return false;
        }
        // One line is all that is read, however large the file.
        char buf[4096];
        f.getline(buf, sizeof buf);
        token.assign(buf, static_cast<size_t>(std::strlen(buf)));
        while (!token.empty() && (token.back() == '\r' || token.back() == ' ' || token.back() == '\t'))
            token.pop_back();
        size_t lead = 0;
        while (lead < token.size() && (token[lead] == ' ' || token[lead] == '\t'))
            ++lead;
        token.erase(0, lead);
        if (token.empty()) {
            error = "the web token file '" + webTokenFile + "' holds no token in its first line";
            return false;
        }
    }
    if (token.empty())
        return true;
    if (!OvWebAccess::validToken(token)) {
        error = "the web access token must be 1 to 1024 visible ASCII characters without quotes, commas, "
                "semicolons or backslashes";
        return false;
    }
    return true;
}

std::string OvFolders::programFolder(const char *exePath)
{
    std::string path = exePath ? exePath : "";
    if (path.size() > kPathBytes - 1)
        path.resize(kPathBytes - 1);
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return "./";
    return path.substr(0, slash + 1);
}

std::string OvFolders::dataFolder(const std::string &programFolder)
{
    return programFolder + "ovdata";
}

std::string OvFolders::userImageFolder(const std::string &dataFolder)
{
    return dataFolder + "/ImageFiles/UserImages";
}

std::string OvFolders::userPatternFolder(const char *userProfile, const char *home)
{
    const char *base = userProfile && *userProfile ? userProfile : home && *home ? home : nullptr;
    if (!base)
        return {};
    return std::string(base) + "/Documents/Corvent/Patterns";
}

std::string OvFolders::executablePath()
{
    char buf[PATH_MAX + 1];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    std::string path(buf, static_cast<size_t>(n));
    if (path.size() > kPathBytes - 1)
        path.resize(kPathBytes - 1);
    return path;
}
