#include "XmlRpcServerConnection.h"

#include "XmlRpcDispatch.h"
#include "XmlRpcServer.h"
#include "XmlRpcSocket.h"
#include "XmlRpcUtil.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// Header names compare ignoring ASCII case whatever the process locale
// ("CONNECTION" must match under a Turkish one too).
bool sameNoCase(const char *a, const char *b, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

bool asciiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool asciiDigit(char c) { return c >= '0' && c <= '9'; }

// atoi's reading, clamped to int instead of overflowing.
int parseLength(const std::string &s, size_t pos)
{
    while (pos < s.size() && asciiSpace(s[pos]))
        ++pos;
    bool negative = false;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-'))
        negative = s[pos++] == '-';
    long long v = 0;
    for (; pos < s.size() && asciiDigit(s[pos]); ++pos) {
        v = v * 10 + (s[pos] - '0');
        if (v > INT_MAX)
            v = static_cast<long long>(INT_MAX) + 1; // keeps growing bounded
    }
    if (negative)
        v = -v;
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}

bool startsWithNoCase(const std::string &s, const char *prefix)
{
    size_t n = strlen(prefix);
    return s.size() >= n && sameNoCase(s.c_str(), prefix, n);
}

} // namespace

XmlRpcHeaderScan XmlRpcHeaderScan::scan(const std::string &header, bool endAtEnd)
{
    XmlRpcHeaderScan r;
    const char *h = header.data();
    size_t n = header.size();
    size_t lengthAt = std::string::npos, connectionAt = std::string::npos;
    for (size_t i = 0; i < n && !r.complete; ++i) {
        size_t left = n - i;
        size_t slack = endAtEnd ? 1 : 0;
        // Both names start with a C: most positions are settled by one byte.
        const bool c = (h[i] | 0x20) == 'c';
        if (c && left > 16 && sameNoCase(h + i, "Content-length: ", 16))
            lengthAt = i + 16;
        else if (c && left > 12 && sameNoCase(h + i, "Connection: ", 12))
            connectionAt = i + 12;
        else if (left + slack > 4 && memcmp(h + i, "\r\n\r\n", 4) == 0) {
            r.complete = true;
            r.bodyStart = i + 4;
        } else if (left + slack > 2 && memcmp(h + i, "\n\n", 2) == 0) {
            r.complete = true;
            r.bodyStart = i + 2;
        }
    }
    if (lengthAt != std::string::npos) {
        r.haveLength = true;
        r.contentLength = parseLength(header, lengthAt);
    }
    if (connectionAt != std::string::npos) {
        r.haveConnection = true;
        size_t end = header.find_first_of("\r\n", connectionAt);
        r.connection = header.substr(connectionAt, end == std::string::npos ? std::string::npos : end - connectionAt);
    }
    size_t headerEnd = r.complete ? r.bodyStart : n;
    size_t at = header.find("HTTP/1.0");
    r.http10 = at != std::string::npos && at < headerEnd;
    return r;
}

bool XmlRpcHeaderScan::keepAlive() const
{
    if (http10)
        return haveConnection && startsWithNoCase(connection, "keep-alive");
    return !(haveConnection && startsWithNoCase(connection, "close"));
}

XmlRpcServerConnection::XmlRpcServerConnection(int fd, XmlRpcServer *server, bool deleteOnClose)
    : XmlRpcSource(fd, deleteOnClose), m_server(server), m_lastActivity(std::chrono::steady_clock::now()),
      m_lastDone(m_lastActivity), m_requestStart(m_lastActivity)
{
    XmlRpcUtil::log(2, "XmlRpcServerConnection: new socket %d.", fd);
}

XmlRpcServerConnection::~XmlRpcServerConnection()
{
    XmlRpcUtil::log(4, "XmlRpcServerConnection dtor.");
    dropResponse();
    m_server->removeConnection(this);
}

bool XmlRpcServerConnection::idleExpired(std::chrono::steady_clock::time_point now) const
{
    double limit = m_server->idleTimeout();
    // Part of a request or an unsent response is memory held for the peer:
    // it must keep things moving.
    const bool holding = m_state != READ_HEADER || !m_header.empty() || !m_next.empty();
    if (holding)
        limit = std::min(limit, m_server->stallTimeout());
    bool expired = std::chrono::duration<double>(now - m_lastActivity).count() > limit;
    if (!m_response.empty() &&
        std::chrono::duration<double>(now - m_responseStart).count() > m_server->responseDeadline())
        expired = true;
    const bool requesting = (m_state == READ_HEADER && !m_header.empty()) || m_state == READ_REQUEST;
    if (requesting && std::chrono::duration<double>(now - m_requestStart).count() > m_server->requestDeadline())
        expired = true;
    if (expired && holding)
        XmlRpcUtil::log(2, "XmlRpcServerConnection: closing stalled socket %d (%d request bytes, %d response bytes "
                           "unsent).",
                        getfd(), static_cast<int>(m_header.size() + m_request.size()),
                        static_cast<int>(m_response.size()) - m_bytesWritten);
    return expired;
}

unsigned XmlRpcServerConnection::handleEvent(unsigned)
{
    m_lastActivity = std::chrono::steady_clock::now();
    for (int served = 0;;) {
        m_served = false;
        if (m_state == READ_HEADER && !readHeader())
            return 0;
        if (m_state == READ_REQUEST && !readRequest())
            return 0;
        if (m_state == WRITE_RESPONSE && !writeResponse())
            return 0;
        // Requests that came with the one just answered are already here:
        // poll would not report them again.
        if (!m_served || m_header.empty())
            break;
        if (++served == kRequestsPerEvent) {
            // Others get a turn; writable comes back at once (or when the
            // peer reads what it was sent).
            return XmlRpcDispatch::WritableEvent;
        }
    }
    return m_state == WRITE_RESPONSE ? XmlRpcDispatch::WritableEvent : XmlRpcDispatch::ReadableEvent;
}

bool XmlRpcServerConnection::readHeader()
{
    bool eof = false;
    const bool starting = m_header.empty();
    // Read a little past the header limit so an over-long header is seen.
    if (!XmlRpcSocket::nbRead(getfd(), m_header, &eof, XmlRpcServer::kMaxHeaderBytes + 1)) {
        // A connection that fails before sending anything is closed silently.
        if (!m_header.empty())
            XmlRpcUtil::error("XmlRpcServerConnection::readHeader: error while reading header (%s).",
                              XmlRpcSocket::getErrorMsg().c_str());
        return false;
    }
    XmlRpcUtil::log(4, "XmlRpcServerConnection::readHeader: read %d bytes.", static_cast<int>(m_header.size()));
    if (starting && !m_header.empty())
        m_requestStart = std::chrono::steady_clock::now();

    XmlRpcHeaderScan scan = XmlRpcHeaderScan::scan(m_header);
    if (!scan.complete) {
        if (eof) {
            XmlRpcUtil::log(4, "XmlRpcServerConnection::readHeader: EOF");
            if (!m_header.empty())
                XmlRpcUtil::error("XmlRpcServerConnection::readHeader: EOF while reading header");
            return false;
        }
        if (m_header.size() > XmlRpcServer::kMaxHeaderBytes) {
            XmlRpcUtil::error("XmlRpcServerConnection::readHeader: header too long (%d bytes).",
                              static_cast<int>(m_header.size()));
            return false;
        }
        return true; // wait for more
    }
    if (!scan.haveLength) {
        XmlRpcUtil::error("XmlRpcServerConnection::readHeader: No Content-length specified");
        return false;
    }
    m_contentLength = scan.contentLength;
    XmlRpcUtil::log(3, "XmlRpcServerConnection::readHeader: specified content length is %d.", m_contentLength);
    if (m_contentLength <= 0) {
        XmlRpcUtil::error("XmlRpcServerConnection::readHeader: Invalid Content-length specified (%d).",
                          m_contentLength);
        return false;
    }
    if (m_contentLength > XmlRpcServer::kMaxContentLength) {
        XmlRpcUtil::error("XmlRpcServerConnection::readHeader: Content-length too large (%d).", m_contentLength);
        return false;
    }

    // Bytes past this request's body belong to the next request.
    const size_t bodyEnd = scan.bodyStart + static_cast<size_t>(m_contentLength);
    if (m_header.size() > bodyEnd)
        m_next.assign(m_header, bodyEnd, std::string::npos);
    m_request.assign(m_header, scan.bodyStart, std::min(m_header.size(), bodyEnd) - scan.bodyStart);
    m_keepAlive = scan.keepAlive();
    XmlRpcUtil::log(3, "KeepAlive: %d", m_keepAlive ? 1 : 0);
    std::string().swap(m_header);
    m_state = READ_REQUEST;
    return true;
}

bool XmlRpcServerConnection::readRequest()
{
    const size_t length = static_cast<size_t>(m_contentLength);
    if (m_request.size() < length) {
        bool eof = false;
        if (!XmlRpcSocket::nbRead(getfd(), m_request, &eof, length)) {
            XmlRpcUtil::error("XmlRpcServerConnection::readRequest: read error (%s).",
                              XmlRpcSocket::getErrorMsg().c_str());
            return false;
        }
        if (m_request.size() < length) {
            if (eof) {
                XmlRpcUtil::error("XmlRpcServerConnection::readRequest: EOF while reading request");
                return false;
            }
            return true;
        }
        // A read may run past the body into a pipelined request.
        if (m_request.size() > length) {
            m_next.assign(m_request, length, std::string::npos);
            m_request.resize(length);
        }
    }
    XmlRpcUtil::log(3, "XmlRpcServerConnection::readRequest read %d bytes.", static_cast<int>(m_request.size()));
    m_state = WRITE_RESPONSE;
    return true;
}

void XmlRpcServerConnection::executeRequest() { m_response = m_server->executeRequest(m_request); }

void XmlRpcServerConnection::dropResponse()
{
    if (m_held) {
        m_server->releaseResponse(m_held);
        m_held = 0;
    }
    // clear() would keep the capacity: an idle connection must not sit on
    // the memory of its last request and answer.
    std::string().swap(m_response);
    std::string().swap(m_request);
    m_bytesWritten = 0;
}

bool XmlRpcServerConnection::writeResponse()
{
    if (m_response.empty()) {
        executeRequest();
        std::string().swap(m_request);
        m_bytesWritten = 0;
        if (m_response.empty()) {
            XmlRpcUtil::error("XmlRpcServerConnection::writeResponse: empty response.");
            return false;
        }
        if (!m_server->reserveResponse(m_response.size())) {
            XmlRpcUtil::error("XmlRpcServerConnection::writeResponse: unread responses hold %d bytes, a response "
                              "of %d bytes is answered with a fault.",
                              static_cast<int>(m_server->pendingResponseBytes()),
                              static_cast<int>(m_response.size()));
            m_response = XmlRpcServer::generateFaultResponse(XmlRpcServer::kBusyFault);
            // A fault is small: it is held even beyond the total.
            m_server->reserveResponse(m_response.size(), true);
        }
        m_held = m_response.size();
        m_responseStart = std::chrono::steady_clock::now();
    }
    if (!XmlRpcSocket::nbWrite(getfd(), m_response, &m_bytesWritten)) {
        XmlRpcUtil::error("XmlRpcServerConnection::writeResponse: write error (%s).",
                          XmlRpcSocket::getErrorMsg().c_str());
        return false;
    }
    XmlRpcUtil::log(3, "XmlRpcServerConnection::writeResponse: wrote %d of %d bytes.", m_bytesWritten,
                    static_cast<int>(m_response.size()));
    if (m_bytesWritten == static_cast<int>(m_response.size())) {
        dropResponse();
        m_header.swap(m_next);
        std::string().swap(m_next);
        m_lastDone = m_requestStart = std::chrono::steady_clock::now();
        m_state = READ_HEADER;
        m_served = true;
        return m_keepAlive;
    }
    return true;
}
