#pragma once
#include "XmlRpcDispatch.h"
#include "XmlRpcServerMethod.h"
#include "XmlRpcSource.h"
#include "XmlRpcValue.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>

class XmlRpcServerConnection;

// HTTP POST XML-RPC server: one listening socket and its connections, all
// driven by one dispatcher on one thread. executeRequest turns request text
// into response text without any socket.
class XmlRpcServer : public XmlRpcSource {
public:
    // Connections open at once. At the limit a new one takes the place of
    // the connection that has gone longest without finishing a request
    // (idle, trickling or not reading its answer), once that is older than
    // kEvictAfter; while none is, new ones wait in the listen backlog.
    static constexpr int kMaxConnections = 64;
    static constexpr double kEvictAfter = 1.0;
    // Larger request bodies are refused and the connection closed.
    static constexpr int kMaxContentLength = 8 * 1024 * 1024;
    // A header that has not ended within this many bytes is refused.
    static constexpr size_t kMaxHeaderBytes = 64 * 1024;
    // Connections silent for longer are closed (seconds).
    static constexpr double kIdleTimeout = 300.0;
    // At most this many calls in one request's system.multicall, nested
    // ones included; more make the whole call a fault.
    static constexpr int kMaxMulticallCalls = 4096;
    // A larger response body is answered with a fault instead; a multicall
    // stops at the call that crosses it.
    static constexpr size_t kMaxResponseBytes = 16 * 1024 * 1024;
    // Unsent responses held for all connections together; one that does not
    // fit is replaced by a short fault.
    static constexpr size_t kMaxPendingResponseBytes = 64 * 1024 * 1024;
    // A connection holding part of a request or an unsent response is closed
    // after this long without progress (seconds)...
    static constexpr double kStallTimeout = 20.0;
    // ...and one whose response has not all been taken after this long...
    static constexpr double kResponseDeadline = 60.0;
    // ...and one whose request has not all arrived this long after its first
    // byte (a byte now and then is progress, but not enough).
    static constexpr double kRequestDeadline = 30.0;
    // After a failed accept for want of descriptors or memory the listening
    // socket is left alone this long (seconds), not polled in a loop.
    static constexpr double kAcceptBackoff = 0.1;
    // The fault that answers a request whose response does not fit.
    static constexpr const char *kBusyFault = "server busy: too many unread responses";

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
    bool paused() const override;

    // Called by a connection being destroyed.
    virtual void removeConnection(XmlRpcServerConnection *connection);
    int connectionCount() const { return m_connections.load(std::memory_order_relaxed); }
    double idleTimeout() const { return m_idleTimeout.load(std::memory_order_relaxed); }
    // May be called from any thread.
    void setIdleTimeout(double seconds) { m_idleTimeout.store(seconds, std::memory_order_relaxed); }
    void setMaxConnections(int n) { m_maxConnections = n; }

    double stallTimeout() const { return m_stallTimeout.load(std::memory_order_relaxed); }
    double responseDeadline() const { return m_responseDeadline.load(std::memory_order_relaxed); }
    // May be called from any thread.
    void setStallTimeout(double seconds) { m_stallTimeout.store(seconds, std::memory_order_relaxed); }
    void setResponseDeadline(double seconds) { m_responseDeadline.store(seconds, std::memory_order_relaxed); }
    double requestDeadline() const { return m_requestDeadline.load(std::memory_order_relaxed); }
    void setRequestDeadline(double seconds) { m_requestDeadline.store(seconds, std::memory_order_relaxed); }
    double evictAfter() const { return m_evictAfter.load(std::memory_order_relaxed); }
    void setEvictAfter(double seconds) { m_evictAfter.store(seconds, std::memory_order_relaxed); }
    // Connections closed to make room for new ones (any thread may read).
    uint64_t evictions() const { return m_evictions.load(std::memory_order_relaxed); }

    // Unsent response bytes held by all connections (any thread may read).
    size_t pendingResponseBytes() const { return m_pendingResponseBytes.load(std::memory_order_relaxed); }
    size_t maxPendingResponseBytes() const { return m_maxPending.load(std::memory_order_relaxed); }
    // May be called from any thread.
    void setMaxPendingResponseBytes(size_t bytes) { m_maxPending.store(bytes, std::memory_order_relaxed); }
    // A connection asks to hold a response of this size; false when it would
    // not fit the total (unless forced). releaseResponse gives the bytes back.
    bool reserveResponse(size_t bytes, bool force = false);
    void releaseResponse(size_t bytes);

protected:
    struct MulticallBudget {
        int calls = 0;
        size_t bytes = 0;
    };
    // A limit of the whole request: the multicall is a fault, not one entry.
    class LimitExceeded : public XmlRpcException {
    public:
        using XmlRpcException::XmlRpcException;
    };
    bool runMulticall(const std::string &name, XmlRpcValue &params, XmlRpcValue &result, MulticallBudget &budget);

    virtual void acceptConnection();
    virtual XmlRpcServerConnection *createConnection(int fd);
    // The connection to close for a new one, or null (see kMaxConnections).
    XmlRpcServerConnection *evictionCandidate(std::chrono::steady_clock::time_point now) const;
    // Closes it (it removes itself); true when there was one.
    bool evictOne();

    bool m_introspectionEnabled = false;
    XmlRpcDispatch m_disp;
    std::map<std::string, XmlRpcServerMethod *> m_methods;
    std::unique_ptr<XmlRpcServerMethod> m_listMethods;
    std::unique_ptr<XmlRpcServerMethod> m_methodHelp;
    // Changed by the dispatching thread, read from any (tests, status).
    std::atomic<int> m_connections{0};
    std::list<XmlRpcServerConnection *> m_open;
    std::atomic<int> m_maxConnections{kMaxConnections};
    std::atomic<double> m_idleTimeout{kIdleTimeout};
    std::atomic<double> m_stallTimeout{kStallTimeout};
    std::atomic<double> m_responseDeadline{kResponseDeadline};
    std::atomic<double> m_requestDeadline{kRequestDeadline};
    std::atomic<double> m_evictAfter{kEvictAfter};
    std::atomic<uint64_t> m_evictions{0};
    std::atomic<size_t> m_pendingResponseBytes{0};
    std::atomic<size_t> m_maxPending{kMaxPendingResponseBytes};
    // Accept failures: the listener rests until then; one error line each.
    std::chrono::steady_clock::time_point m_acceptResume{};
    bool m_acceptFailing = false;
    bool m_madeRoom = false; // a connection was closed for the next accept
};
