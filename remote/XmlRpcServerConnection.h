#pragma once
#include "XmlRpcSource.h"

#include <chrono>
#include <string>

class XmlRpcServer;

// What a scan of an HTTP header found.
struct XmlRpcHeaderScan {
    bool complete = false;          // an end of header was found
    size_t bodyStart = 0;           // offset of the first body byte
    bool haveLength = false;
    int contentLength = 0;          // clamped to the int range
    bool haveConnection = false;
    std::string connection;         // the text after "Connection: " up to the line end
    bool http10 = false;            // "HTTP/1.0" occurs in the header

    // Scans header from its start. Each pattern is checked only when more
    // bytes than its length remain, so a header ending exactly at the end of
    // the bytes so far is found only once more bytes arrive, unless endAtEnd
    // (the client: a response may rightly have nothing after its header).
    static XmlRpcHeaderScan scan(const std::string &header, bool endAtEnd = false);
    // Whether a server keeps the connection open after the response.
    bool keepAlive() const;
};

// One accepted connection: read header, read request, write response.
class XmlRpcServerConnection : public XmlRpcSource {
public:
    enum State { READ_HEADER = 0, READ_REQUEST = 1, WRITE_RESPONSE = 2 };

    XmlRpcServerConnection(int fd, XmlRpcServer *server, bool deleteOnClose = true);
    ~XmlRpcServerConnection() override;

    unsigned handleEvent(unsigned eventType) override;
    bool idleExpired(std::chrono::steady_clock::time_point now) const override;

    State state() const { return m_state; }
    // When the connection was accepted or last finished a response.
    std::chrono::steady_clock::time_point lastDone() const { return m_lastDone; }
    bool keepAlive() const { return m_keepAlive; }

    // Pipelined requests served in one event before others get a turn.
    static constexpr int kRequestsPerEvent = 32;

protected:
    bool readHeader();
    bool readRequest();
    bool writeResponse();
    virtual void executeRequest();
    // Gives back the response's share of the server's total and its memory.
    void dropResponse();

    XmlRpcServer *m_server;
    State m_state = READ_HEADER;
    std::string m_header;
    int m_contentLength = 0;
    std::string m_request;
    std::string m_response;
    int m_bytesWritten = 0;
    bool m_keepAlive = true;
    // Bytes that came after the current request: the next one(s).
    std::string m_next;
    // What the response holds of the server's total of unsent bytes.
    size_t m_held = 0;
    bool m_served = false; // a response was finished in this event
    std::chrono::steady_clock::time_point m_lastActivity;
    std::chrono::steady_clock::time_point m_responseStart;
    std::chrono::steady_clock::time_point m_lastDone;
    // The first byte of the request being read arrived then.
    std::chrono::steady_clock::time_point m_requestStart;
};
