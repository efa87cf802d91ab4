#include "OvcXmlPrivates.h"

#include "OvcXmlMethods.h"
#include "QiLog.h"
#include "XmlRpcUtil.h"

#include <chrono>

OvcXmlMethod::OvcXmlMethod(const char *name, OvcXmlPrivates *holder)
    : XmlRpcServerMethod(name, &holder->server()), m_holder(holder)
{
}

OvcXmlPrivates::OvcXmlPrivates(OvCore *engine, bool allowRemotePlugins, uint16_t logPort)
    : m_engine(engine), m_allowRemotePlugins(allowRemotePlugins), m_logPort(logPort)
{
    m_methods.push_back(std::make_unique<SetGen>(this));
    m_methods.push_back(std::make_unique<PatternOption>(this));
    m_methods.push_back(std::make_unique<GetGenOptions>(this));
    m_methods.push_back(std::make_unique<SetAlias>(this));
    m_methods.push_back(std::make_unique<MMCAlias>(this));
    m_methods.push_back(std::make_unique<GetOrvVersion>(this));
    m_methods.push_back(std::make_unique<ReadEdid>(this));
    m_methods.push_back(std::make_unique<RescanFormats>(this));
}

OvcXmlPrivates::~OvcXmlPrivates()
{
    shutdown();
    // Each method unregisters itself as it goes.
    m_methods.clear();
}

bool OvcXmlPrivates::start(int port, const char *address)
{
    if (m_thread.joinable())
        return m_boundPort >= 0;
    m_port = port;
    bool ok = m_server.bindAndListen(port, address);
    if (ok) {
        m_boundPort = m_server.port();
        qiLog(2, "XmlRpc: listening on port %d\n", m_boundPort);
    }
    // Before the thread starts: the method table is the server thread's
    // alone from then on.
    m_server.enableIntrospection(true);
    // Calibration software sends call after call; staying awake briefly
    // between them answers each one without a wake-up's delay.
    m_server.dispatch().setSpin(kSpinMicros);
    m_running.store(true);
    m_thread = std::thread(&OvcXmlPrivates::run, this);
    return ok;
}

void OvcXmlPrivates::run()
{
    while (m_running.load()) {
        XmlRpcUtil::log(2, "XmlRpcServer::work: waiting for a connection");
        if (m_server.dispatch().sourceCount() == 0) {
            // Nothing to watch (the bind failed): do not spin.
            std::this_thread::sleep_for(std::chrono::duration<double>(kRoundSeconds));
            continue;
        }
        m_server.work(kRoundSeconds);
    }
    // Connections are closed on this thread, which owns them.
    m_server.shutdown();
}

void OvcXmlPrivates::shutdown()
{
    if (!m_thread.joinable())
        return;
    m_running.store(false);
    m_server.exit();
    m_thread.join();
}
