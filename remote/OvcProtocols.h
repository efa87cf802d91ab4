#pragma once
// The calibration programs' own protocols beside XML-RPC: which of them run
// and the objects that speak them. The app creates one from its command
// line; the control panel's generator page reads active() to show them.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class OvCore;
class OvcArgyllWebClient;
class OvcPGenerator;
class OvcResolveClient;

struct OvcProtocolConfig {
    // Empty host: that client is off.
    std::string resolveHost;
    int resolvePort = 20002;
    std::string argyllHost;
    int argyllPort = 8080;
    bool pgenerator = false;
    int pgeneratorPort = 85;
    int pgeneratorDiscoveryPort = 1977;
};

class OvcProtocols {
public:
    OvcProtocols(OvCore *engine, const OvcProtocolConfig &config);
    // Stops whatever runs.
    ~OvcProtocols();

    // Starts the configured clients and listener.
    void start();
    // Stops them; each closes its connections. Before the engine shuts down.
    void stop();

    // One line per protocol that runs, saying its direction and port, e.g.
    // "PGenerator: listening on TCP 85, discovery on UDP 1977".
    std::vector<std::string> active() const;

    // The protocols of this process, or null (any thread).
    static OvcProtocols *instance();

    OvcResolveClient *resolve() const { return m_resolve.get(); }
    OvcArgyllWebClient *argyll() const { return m_argyll.get(); }
    OvcPGenerator *pgenerator() const { return m_pgen.get(); }

    OvcProtocols(const OvcProtocols &) = delete;
    OvcProtocols &operator=(const OvcProtocols &) = delete;

private:
    OvcProtocolConfig m_config;
    std::unique_ptr<OvcResolveClient> m_resolve;
    std::unique_ptr<OvcArgyllWebClient> m_argyll;
    std::unique_ptr<OvcPGenerator> m_pgen;
    mutable std::mutex m_lock;
    bool m_started = false;
};
