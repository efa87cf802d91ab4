#pragma once
#include "XmlRpcDispatch.h"
#include "XmlRpcSource.h"
#include "XmlRpcValue.h"

#include <string>

// Blocking XML-RPC calls over HTTP to one server. The connection is kept
// between calls and reopened when needed. One thread at a time.
class XmlRpcClient : public XmlRpcSource {
public:
    enum ClientConnectionState {
        NO_CONNECTION = 0,
        CONNECTING = 1,
        WRITE_REQUEST = 2,
        READ_HEADER = 3,
        READ_RESPONSE = 4,
        IDLE = 5,
    };
    static constexpr double kDefaultTimeLimit = 10.0;
    // Responses larger than this are refused.
    static constexpr int kMaxContentLength = 64 * 1024 * 1024;
    // A response header that has not ended within this many bytes is refused.
    static constexpr size_t kMaxHeaderBytes = 64 * 1024 + 1;

    XmlRpcClient(const char *host, int port, const char *uri = nullptr);
    ~XmlRpcClient() override;

    // True when a response was received and parsed; result then holds the
    // value, or the fault struct when isFault().
    bool execute(const char *method, const XmlRpcValue &params, XmlRpcValue &result);
    bool isFault() const { return m_isFault; }
    void close() override;
    unsigned handleEvent(unsigned eventType) override;

    // Seconds a call may take, connection included (default 10).
    void setTimeLimit(double seconds) { m_timeLimit = seconds; }
    double timeLimit() const { return m_timeLimit; }
    ClientConnectionState state() const { return m_connectionState; }

protected:
    virtual bool doConnect();
    virtual bool setupConnection();
    virtual bool generateRequest(const char *method, const XmlRpcValue &params);
    virtual std::string generateHeader(const std::string &body);
    virtual bool writeRequest();
    virtual bool readHeader();
    virtual bool readResponse();
    virtual bool parseResponse(XmlRpcValue &result);

    ClientConnectionState m_connectionState = NO_CONNECTION;
    std::string m_host;
    int m_port;
    std::string m_uri;
    std::string m_request;
    std::string m_header;
    std::string m_response;
    int m_bytesWritten = 0;
    int m_sendAttempts = 0;
    int m_contentLength = 0;
    bool m_executing = false;
    bool m_isFault = false;
    bool m_eof = false;
    double m_timeLimit = kDefaultTimeLimit;
    double m_deadline = 0.0;
    XmlRpcDispatch m_disp;
};
