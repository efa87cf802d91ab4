#include "XmlRpcClient.h"

#include "XmlRpcServerConnection.h"
#include "XmlRpcSocket.h"
#include "XmlRpcUtil.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

namespace {
struct ClearOnExit {
    bool &flag;
    ~ClearOnExit() { flag = false; }
};
} // namespace

XmlRpcClient::XmlRpcClient(const char *host, int port, const char *uri)
    : m_host(host ? host : ""), m_port(port), m_uri(uri ? uri : "/RPC2")
{
    XmlRpcUtil::log(1, "XmlRpcClient new client: host %s, port %d.", m_host.c_str(), port);
    // Our own dispatcher must not close the connection between calls.
    setKeepOpen(true);
}

XmlRpcClient::~XmlRpcClient()
{
    m_disp.removeSource(this);
    m_disp.clear();
    if (getfd() >= 0)
        XmlRpcSource::close();
}

void XmlRpcClient::close()
{
    XmlRpcUtil::log(4, "XmlRpcClient::close: fd %d.", getfd());
    m_connectionState = NO_CONNECTION;
    m_disp.removeSource(this);
    XmlRpcSource::close();
}

bool XmlRpcClient::execute(const char *method, const XmlRpcValue &params, XmlRpcValue &result)
{
    XmlRpcUtil::log(1, "XmlRpcClient::execute: method %s (_connectionState %d).", method,
                    static_cast<int>(m_connectionState));
    if (m_executing)
        return false;
    m_executing = true;
    ClearOnExit guard{m_executing};

    m_sendAttempts = 0;
    m_isFault = false;
    m_deadline = XmlRpcDispatch::getTime() + m_timeLimit;

    if (!setupConnection())
        return false;
    if (!generateRequest(method, params))
        return false;

    result.clear();
    // A connected socket is as good as always writable: send now rather
    // than after a poll round.
    unsigned mask = handleEvent(XmlRpcDispatch::WritableEvent);
    if (mask == 0)
        m_disp.removeSource(this);
    else
        m_disp.setSourceEvents(this, mask);
    double left = m_deadline - XmlRpcDispatch::getTime();
    if (left > 0.0 && m_disp.hasSource(this))
        m_disp.work(left);

    if (m_disp.hasSource(this)) {
        // Still waiting when the time ran out: drop the connection.
        XmlRpcUtil::error("Error in XmlRpcClient::execute: no response within %g seconds.", m_timeLimit);
        close();
        return false;
    }
    if (m_connectionState != IDLE || !parseResponse(result))
        return false;
    XmlRpcUtil::log(1, "XmlRpcClient::execute: method %s completed.", method);
    m_response.clear();
    return true;
}

bool XmlRpcClient::setupConnection()
{
    if ((m_connectionState != NO_CONNECTION && m_connectionState != IDLE) || m_eof)
        close();
    m_eof = false;
    if (m_connectionState == NO_CONNECTION && !doConnect())
        return false;
    m_connectionState = WRITE_REQUEST;
    m_bytesWritten = 0;
    m_disp.addSource(this, XmlRpcDispatch::WritableEvent | XmlRpcDispatch::Exception);
    return true;
}

bool XmlRpcClient::doConnect()
{
    int fd = XmlRpcSocket::socket();
    if (fd < 0) {
        XmlRpcUtil::error("Error in XmlRpcClient::doConnect: Could not create socket (%s).",
                          XmlRpcSocket::getErrorMsg().c_str());
        return false;
    }
    XmlRpcUtil::log(3, "XmlRpcClient::doConnect: fd %d.", fd);
    setfd(fd);

    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(m_port));
    if (inet_pton(AF_INET, m_host.c_str(), &sa.sin_addr) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *res = nullptr;
        if (getaddrinfo(m_host.c_str(), nullptr, &hints, &res) != 0 || !res) {
            XmlRpcUtil::error("Error in XmlRpcClient::doConnect: Could not connect to server (unknown host %s).",
                              m_host.c_str());
            close();
            return false;
        }
        sa.sin_addr = reinterpret_cast<sockaddr_in *>(res->ai_addr)->sin_addr;
        freeaddrinfo(res);
    }

    // Connect without blocking so the call's time limit covers it too.
    XmlRpcSocket::setNonBlocking(fd);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    int rc = ::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    int err = rc == 0 ? 0 : errno;
    if (rc != 0 && (err == EINPROGRESS || err == EINTR)) {
        pollfd p{fd, POLLOUT, 0};
        double left = m_deadline - XmlRpcDispatch::getTime();
        int ms = left <= 0.0 ? 0 : static_cast<int>(std::ceil(left * 1000.0));
        int n;
        do {
            n = ::poll(&p, 1, ms);
        } while (n < 0 && errno == EINTR);
        if (n == 1) {
            socklen_t len = sizeof err;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                err = errno;
        } else {
            err = n == 0 ? ETIMEDOUT : errno;
        }
    }
    if (err != 0) {
        XmlRpcUtil::error("Error in XmlRpcClient::doConnect: Could not connect to server (%s).",
                          XmlRpcSocket::getErrorMsg(err).c_str());
        close();
        return false;
    }
    return true;
}

bool XmlRpcClient::generateRequest(const char *method, const XmlRpcValue &params)
{
    std::string body = "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>";
    body += method;
    body += "</methodName>\r\n";
    if (params.valid()) {
        body += "<params>";
        if (params.getType() == XmlRpcValue::TypeArray) {
            for (const XmlRpcValue &p : params.array()) {
                body += "<param>";
                p.appendXml(body);
                body += "</param>";
            }
        } else {
            body += "<param>";
            params.appendXml(body);
            body += "</param>";
        }
        body += "</params>";
    }
    body += "</methodCall>\r\n";

    std::string header = generateHeader(body);
    XmlRpcUtil::log(4, "XmlRpcClient::generateRequest: header is %d bytes, content-length is %d.",
                    static_cast<int>(header.size()), static_cast<int>(body.size()));
    m_request = header + body;
    return true;
}

std::string XmlRpcClient::generateHeader(const std::string &body)
{
    std::string header = "POST " + m_uri + " HTTP/1.1\r\nUser-Agent: XMLRPC++ 0.7\r\nHost: " + m_host + ":" +
                         std::to_string(m_port) + "\r\n";
    header += "Content-Type: text/xml\r\nContent-length: " + std::to_string(body.size()) + "\r\n\r\n";
    return header;
}

unsigned XmlRpcClient::handleEvent(unsigned eventType)
{
    if (eventType == XmlRpcDispatch::Exception) {
        if (m_connectionState == WRITE_REQUEST && m_bytesWritten == 0)
            XmlRpcUtil::error("Error in XmlRpcClient::handleEvent: could not connect to server (%s).",
                              XmlRpcSocket::getErrorMsg().c_str());
        else
            XmlRpcUtil::error("Error in XmlRpcClient::handleEvent (state %d): %s.",
                              static_cast<int>(m_connectionState), XmlRpcSocket::getErrorMsg().c_str());
        return 0;
    }
    if (m_connectionState == WRITE_REQUEST && !writeRequest())
        return 0;
    if (m_connectionState == READ_HEADER && !readHeader())
        return 0;
    if (m_connectionState == READ_RESPONSE && !readResponse())
        return 0;
    return m_connectionState == WRITE_REQUEST ? XmlRpcDispatch::WritableEvent : XmlRpcDispatch::ReadableEvent;
}

bool XmlRpcClient::writeRequest()
{
    if (m_bytesWritten == 0)
        XmlRpcUtil::log(5, "XmlRpcClient::writeRequest (attempt %d):\n%s\n", m_sendAttempts + 1, m_request.c_str());
    if (!XmlRpcSocket::nbWrite(getfd(), m_request, &m_bytesWritten)) {
        XmlRpcUtil::error("Error in XmlRpcClient::writeRequest: write error (%s).",
                          XmlRpcSocket::getErrorMsg().c_str());
        return false;
    }
    XmlRpcUtil::log(3, "XmlRpcClient::writeRequest: wrote %d of %d bytes.", m_bytesWritten,
                    static_cast<int>(m_request.size()));
    if (m_bytesWritten == static_cast<int>(m_request.size())) {
        m_header.clear();
        m_response.clear();
        m_connectionState = READ_HEADER;
    }
    return true;
}

bool XmlRpcClient::readHeader()
{
    bool ok = XmlRpcSocket::nbRead(getfd(), m_header, &m_eof, kMaxHeaderBytes);
    if (!ok || (m_eof && m_header.empty())) {
        // The server may have closed the idle connection: reconnect and
        // resend once.
        if (getKeepOpen() && m_header.empty() && m_sendAttempts++ == 0) {
            XmlRpcUtil::log(4, "XmlRpcClient::readHeader: re-trying connection");
            XmlRpcSource::close();
            m_connectionState = NO_CONNECTION;
            m_eof = false;
            return setupConnection();
        }
        XmlRpcUtil::error("Error in XmlRpcClient::readHeader: error while reading header (%s) on fd %d.",
                          XmlRpcSocket::getErrorMsg().c_str(), getfd());
        return false;
    }
    XmlRpcUtil::log(4, "XmlRpcClient::readHeader: client has read %d bytes", static_cast<int>(m_header.size()));

    // A header may end right at the end of what came: "Content-length: 0"
    // is then refused at once instead of waiting for bytes that never come.
    XmlRpcHeaderScan scan = XmlRpcHeaderScan::scan(m_header, true);
    if (!scan.complete) {
        if (m_eof) {
            XmlRpcUtil::error("Error in XmlRpcClient::readHeader: EOF while reading header");
            return false;
        }
        if (m_header.size() > kMaxHeaderBytes - 1) {
            XmlRpcUtil::error("Error in XmlRpcClient::readHeader: header too long (%d bytes).",
                              static_cast<int>(m_header.size()));
            return false;
        }
        return true;
    }
    if (!scan.haveLength) {
        XmlRpcUtil::error("Error XmlRpcClient::readHeader: No Content-length specified");
        return false;
    }
    m_contentLength = scan.contentLength;
    if (m_contentLength <= 0) {
        XmlRpcUtil::error("Error in XmlRpcClient::readHeader: Invalid Content-length specified (%d).",
                          m_contentLength);
        return false;
    }
    if (m_contentLength > kMaxContentLength) {
        XmlRpcUtil::error("Error in XmlRpcClient::readHeader: Content-length too large (%d).", m_contentLength);
        return false;
    }
    XmlRpcUtil::log(4, "client read content length: %d", m_contentLength);
    m_response.assign(m_header, scan.bodyStart, std::string::npos);
    m_header.clear();
    m_connectionState = READ_RESPONSE;
    return true;
}

bool XmlRpcClient::readResponse()
{
    if (static_cast<int>(m_response.size()) < m_contentLength) {
        if (!XmlRpcSocket::nbRead(getfd(), m_response, &m_eof, static_cast<size_t>(m_contentLength))) {
            XmlRpcUtil::error("Error in XmlRpcClient::readResponse: read error (%s).",
                              XmlRpcSocket::getErrorMsg().c_str());
            return false;
        }
        if (static_cast<int>(m_response.size()) < m_contentLength) {
            if (m_eof) {
                XmlRpcUtil::error("Error in XmlRpcClient::readResponse: EOF while reading response");
                return false;
            }
            return true;
        }
    }
    XmlRpcUtil::log(3, "XmlRpcClient::readResponse (read %d bytes)", static_cast<int>(m_response.size()));
    XmlRpcUtil::log(5, "response:\n%s", m_response.c_str());
    m_connectionState = IDLE;
    return false; // done: stop watching, keep the socket
}

bool XmlRpcClient::parseResponse(XmlRpcValue &result)
{
    size_t offset = 0;
    if (!XmlRpcUtil::findTag("<methodResponse>", m_response, &offset)) {
        XmlRpcUtil::error("Error in XmlRpcClient::parseResponse: Invalid response - no methodResponse. Response:\n%s",
                          m_response.c_str());
        return false;
    }
    bool isParam = XmlRpcUtil::nextTagIs("<params>", m_response, &offset) &&
                   XmlRpcUtil::nextTagIs("<param>", m_response, &offset);
    if (!isParam) {
        if (XmlRpcUtil::nextTagIs("<fault>", m_response, &offset)) {
            m_isFault = true;
        } else {
            XmlRpcUtil::error(
                "Error in XmlRpcClient::parseResponse: Invalid response - no param or fault tag. Response:\n%s",
                m_response.c_str());
            m_response.clear();
            return false;
        }
    }
    if (!result.fromXml(m_response, &offset)) {
        XmlRpcUtil::error("Error in XmlRpcClient::parseResponse: Invalid response value. Response:\n%s",
                          m_response.c_str());
        m_response.clear();
        return false;
    }
    m_response.clear();
    return result.valid();
}
