#include "OvCommandLine.h"

#include <cerrno>
#include <climits>
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
           "  --data-dir DIR            data folder (default: ovdata beside the executable)\n"
           "  --allow-remote-plugins    let folders scanned on a remote client's request load\n"
           "                            .ovp pattern plug-ins (off: only images are taken)\n"
           "  --help                    show this text and exit\n"
           "  --version                 show the version and exit\n"
           "\n"
           "Environment: ORVANE_SIM_KONA, ORVANE_SIM_DECKLINK (simulated board set-up),\n"
           "ORVANE_SIM_CAPTURE (folder receiving each output frame). Qt options such as\n"
           "-platform are passed on to Qt.\n";
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
