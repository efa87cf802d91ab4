#pragma once
#include <string>
#include <vector>

// The orvane command line. With no options the program behaves as the tray
// application always has; the options add what a Linux user needs.
struct OvCommandLine {
    enum class Board { none, kona, decklink };

    Board simulate = Board::none;
    bool headless = false;
    bool controlPanel = false;
    bool monitor = false;
    bool allowRemotePlugins = false;
    bool help = false;
    bool version = false;
    int port = 9022;
    int discoveryPort = 3529;
    int discoveryReplyPort = 3530; // answers go to this port of the asker
    // The web control page: off unless --web names a port.
    bool web = false;
    std::string webAddress = "127.0.0.1";
    int webPort = 0;
    std::string webToken;     // --web-token
    std::string webTokenFile; // --web-token-file
    std::string dataDir;            // empty: "ovdata" beside the executable
    // The calibration programs' protocols; an empty host leaves a client off.
    std::string resolveHost;
    int resolvePort = 20002;
    std::string argyllHost;
    int argyllPort = 8080;
    bool pgenerator = false;
    int pgeneratorPort = 85;
    int pgeneratorDiscoveryPort = 1977;
    std::vector<std::string> qtArgs; // argv[0] and single-dash options, for Qt

    // Fills cl from argv. On a bad command line returns false with the
    // reason in error (the caller prints it with the usage hint).
    static bool parse(int argc, const char *const *argv, OvCommandLine &cl, std::string &error);
    // The --help text, naming the program as invoked.
    static std::string usage(const char *program);
    // "[ADDR:]PORT" of --web: ADDR an IPv4 address, an IPv6 address in
    // brackets or "localhost" (default 127.0.0.1), PORT 1 to 65535.
    static bool parseWeb(const std::string &text, std::string &address, int &port, std::string &error);
    // The token: --web-token's text, or the first line of --web-token-file
    // without its line end and surrounding blanks. False with the reason
    // when the file cannot be read or the token has characters a header or
    // cookie cannot carry.
    bool webAccessToken(std::string &token, std::string &error) const;
};

// Folders derived from the executable's location.
struct OvFolders {
    // The executable path cut to 255 bytes, up to and including its last
    // '/'; "./" when it has none.
    static std::string programFolder(const char *exePath);
    // programFolder + "ovdata".
    static std::string dataFolder(const std::string &programFolder);
    static std::string userImageFolder(const std::string &dataFolder);
    // From USERPROFILE, else HOME; empty when neither is set (nothing to scan).
    static std::string userPatternFolder(const char *userProfile, const char *home);
    // The running executable's path (/proc/self/exe), cut to 255 bytes.
    static std::string executablePath();
};
