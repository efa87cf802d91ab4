#include "OvcProtocols.h"

#include "OvcArgyllWebClient.h"
#include "OvcPGenerator.h"
#include "OvcResolveClient.h"
#include "QiLog.h"

#include <atomic>

namespace {
std::atomic<OvcProtocols *> g_protocols{nullptr};
} // namespace

OvcProtocols::OvcProtocols(OvCore *engine, const OvcProtocolConfig &config) : m_config(config)
{
    if (!config.resolveHost.empty())
        m_resolve = std::make_unique<OvcResolveClient>(engine, config.resolveHost, config.resolvePort);
    if (!config.argyllHost.empty())
        m_argyll = std::make_unique<OvcArgyllWebClient>(engine, config.argyllHost, config.argyllPort);
    if (config.pgenerator)
        m_pgen = std::make_unique<OvcPGenerator>(engine, config.pgeneratorPort, config.pgeneratorDiscoveryPort);
    g_protocols.store(this);
}

OvcProtocols::~OvcProtocols()
{
    stop();
    OvcProtocols *self = this;
    g_protocols.compare_exchange_strong(self, nullptr);
}

OvcProtocols *OvcProtocols::instance() { return g_protocols.load(); }

void OvcProtocols::start()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_started)
        return;
    m_started = true;
    if (m_pgen)
        m_pgen->start();
    if (m_resolve)
        m_resolve->start();
    if (m_argyll)
        m_argyll->start();
    if (m_resolve)
        qiLog(2, "OvcProtocols::start: Resolve-style client for %s:%d\n", m_config.resolveHost.c_str(),
              m_config.resolvePort);
    if (m_argyll)
        qiLog(2, "OvcProtocols::start: ArgyllCMS web-display client for %s:%d\n", m_config.argyllHost.c_str(),
              m_config.argyllPort);
}

void OvcProtocols::stop()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_started)
        return;
    m_started = false;
    if (m_resolve)
        m_resolve->stop();
    if (m_argyll)
        m_argyll->stop();
    if (m_pgen)
        m_pgen->shutdown();
}

std::vector<std::string> OvcProtocols::active() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<std::string> out;
    if (!m_started)
        return out;
    if (m_resolve)
        out.push_back("Resolve: connecting to " + m_config.resolveHost + ":" + std::to_string(m_config.resolvePort) +
                      (m_resolve->connected() ? " (connected)" : " (waiting for the program)"));
    if (m_argyll)
        out.push_back("ArgyllCMS web display: polling " + m_config.argyllHost + ":" +
                      std::to_string(m_config.argyllPort));
    if (m_pgen) {
        std::string line = "PGenerator: ";
        line += m_pgen->port() >= 0 ? "listening on TCP " + std::to_string(m_pgen->port())
                                    : "TCP " + std::to_string(m_config.pgeneratorPort) + " could not be bound";
        line += m_pgen->discoveryPort() >= 0 ? ", discovery on UDP " + std::to_string(m_pgen->discoveryPort())
                                             : ", no discovery";
        out.push_back(line);
    }
    return out;
}
