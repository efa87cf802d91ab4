#pragma once
#include "XmlRpcDispatch.h"
#include "XmlRpcServerMethod.h"
#include "XmlRpcSource.h"
#include "XmlRpcValue.h"

#include <atomic>
#include <map>
#include <memory>
#include <string>

class XmlRpcServerConnection;

// HTTP POST XML-RPC server: one listening socket and its connections, all
// driven by one dispatcher on one thread. executeRequest turns request text
// into response text without any socket.
class XmlRpcServer : public XmlRpcSource {
public:
    // Connections beyond this wait in the listen backlog until one closes.
    static constexpr int kMaxConnections = 64;
    // Larger request bodies are refused and the connection closed.
    static constexpr int kMaxContentLength = 8 * 1024 * 1024;
    // A header that has not ended within this many bytes is refused.
    static constexpr size_t kMaxHeaderBytes = 64 * 1024;
    // Connections silent for longer are closed (seconds).
    static constexpr double kIdleTimeout = 300.0;

    XmlRpcServer();
    ~XmlRpcServer() override;

    void enableIntrospection(bool enabled = true);
    void addMethod(XmlRpcServerMethod *method);
    void removeMethod(XmlRpcServerMethod *method);
    void removeMethod(const std::string &name);
    XmlRpcServerMethod *findMethod(const std::string &name) const;
    // Method names in name order.
    void listMethods(XmlRpcValue &result) const;

    // Listens on port (0: one the system picks) at address (null: all).
    bool bindAndListen(int port, const char *address = nullptr, int backlog = 5);
    // The port actually bound, or -1.
    int port() const;

    void work(double timeout) { m_disp.work(timeout); }
    void exit() { m_disp.exit(); }
    // Closes every source (at the end of the round during work).
    void shutdown() { m_disp.clear(); }
    XmlRpcDispatch &dispatch() { return m_disp; }

    // One HTTP response (header and body) for one request body.
    std::string executeRequest(const std::string &request);
    // Runs a registered method; false when there is none of that name.
    bool executeMethod(const std::string &name, XmlRpcValue &params, XmlRpcValue &result);
    // system.multicall; false when name is not it.
    bool executeMulticall(const std::string &name, XmlRpcValue &params, XmlRpcValue &result);

    static std::string generateResponse(const std::string &resultXml);
    static std::string generateFaultResponse(const std::string &message, int code = -1);
    static std::string generateHeader(const std::string &body);

    void close() override;
    unsigned handleEvent(unsigned eventType) override;
    bool paused() const override { return m_connections >= m_maxConnections; }

    // Called by a connection being destroyed.
    virtual void removeConnection(XmlRpcServerConnection *connection);
    int connectionCount() const { return m_connections; }
    double idleTimeout() const { return m_idleTimeout.load(std::memory_order_relaxed); }
    // May be called from any thread.
    void setIdleTimeout(double seconds) { m_idleTimeout.store(seconds, std::memory_order_relaxed); }
    void setMaxConnections(int n) { m_maxConnections = n; }

protected:
    virtual void acceptConnection();
    virtual XmlRpcServerConnection *createConnection(int fd);

    bool m_introspectionEnabled = false;
    XmlRpcDispatch m_disp;
    std::map<std::string, XmlRpcServerMethod *> m_methods;
    std::unique_ptr<XmlRpcServerMethod> m_listMethods;
    std::unique_ptr<XmlRpcServerMethod> m_methodHelp;
    int m_connections = 0;
    int m_maxConnections = kMaxConnections;
    std::atomic<double> m_idleTimeout{kIdleTimeout};
};
