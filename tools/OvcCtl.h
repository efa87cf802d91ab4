#pragma once
#include "XmlRpcValue.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

class XmlRpcClient;

// orvane-ctl: drives a generator over XML-RPC from the command line. run()
// takes the arguments after the program name and leaves what is to be
// printed in out() and err(); the result is the exit status.
class OvcCtl {
public:
    enum Status {
        kOk = 0,
        kFailed = 1,      // the generator refused or failed
        kUsage = 2,       // a bad command line
        kUnreachable = 3, // no answer from the generator
    };
    static constexpr const char *kDefaultHost = "127.0.0.1";
    static constexpr int kDefaultPort = 9022;
    static constexpr double kDefaultTimeout = 5.0;
    static constexpr double kDefaultDiscoverTime = 3.0;
    static constexpr double kDefaultWait = 10.0;
    // Aliases are stored under at most this many characters of their name.
    static constexpr size_t kAliasNameLength = 80;

    OvcCtl();
    ~OvcCtl();

    // env is the value of ORVANE_HOST (may be null).
    int run(const std::vector<std::string> &args, const char *envHost = nullptr);
    const std::string &out() const { return m_out; }
    const std::string &err() const { return m_err; }

    // The help text of a command, or the general one for an empty name.
    static std::string help(const std::string &command);
    // Names of the commands, in the order the help lists them.
    static std::vector<std::string> commands();
    // HOST[:PORT]; false for an empty host or a port outside 1-65535.
    static bool parseHost(const std::string &text, std::string &host, int &port);

    OvcCtl(const OvcCtl &) = delete;
    OvcCtl &operator=(const OvcCtl &) = delete;

private:
    struct Options;
    struct Pattern;
    struct Request;

    int dispatch(const std::string &command, std::vector<std::string> &args);
    int discover();
    int patterns();
    int options(const std::vector<std::string> &args);
    int generator();
    int set(const std::vector<std::string> &args);
    int alias(const std::vector<std::string> &args);
    int scan(const std::vector<std::string> &args);
    int edid();
    int version();
    int log(const std::vector<std::string> &args);
    int call(const std::vector<std::string> &args);

    // One call; throws on transport failures (unreachable) and faults.
    XmlRpcValue execute(const char *method, const XmlRpcValue &params);
    XmlRpcValue patternList();
    XmlRpcValue genOptions();
    bool resolvePattern(const std::string &name, Pattern &p);
    void buildRequest(const std::vector<std::string> &args, size_t first, bool allowPattern, Request &r);
    // Until the generator's current request shows r (or the wait is over).
    bool waitTaken(const Request &r, const XmlRpcValue &before);
    // Until transaction id, already taken, has been drawn and presented.
    bool waitShown(int32_t id, std::chrono::steady_clock::time_point end);
    void print(const XmlRpcValue &json);

    std::unique_ptr<Options> m_opt;
    std::unique_ptr<XmlRpcClient> m_client;
    std::string m_out, m_err;
};
