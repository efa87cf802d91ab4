#include "XmlRpcServer.h"

#include "XmlRpcServerConnection.h"
#include "XmlRpcSocket.h"
#include "XmlRpcUtil.h"

#include <cerrno>

using namespace XmlRpcNames;

XmlRpcServerMethod::XmlRpcServerMethod(const std::string &name, XmlRpcServer *server)
    : m_name(name), m_server(server)
{
    if (m_server)
        m_server->addMethod(this);
}

XmlRpcServerMethod::~XmlRpcServerMethod()
{
    if (m_server)
        m_server->removeMethod(this);
}

namespace {

class ListMethods : public XmlRpcServerMethod {
public:
    explicit ListMethods(XmlRpcServer *s) : XmlRpcServerMethod(kListMethods, s) {}
    void execute(XmlRpcValue &, XmlRpcValue &result) override { m_server->listMethods(result); }
    std::string help() override { return "List all methods available on a server as an array of strings"; }
};

class MethodHelp : public XmlRpcServerMethod {
public:
    explicit MethodHelp(XmlRpcServer *s) : XmlRpcServerMethod(kMethodHelp, s) {}
    void execute(XmlRpcValue &params, XmlRpcValue &result) override
    {
        if (params[0].getType() != XmlRpcValue::TypeString)
            throw XmlRpcException(std::string(kMethodHelp) + ": Invalid argument type");
        XmlRpcServerMethod *m = m_server->findMethod(params[0].asString());
        if (!m)
            throw XmlRpcException(std::string(kMethodHelp) + ": Unknown method name");
        result = m->help();
    }
    std::string help() override { return "Retrieve the help string for a named method"; }
};

const char kResponse1[] = "<?xml version=\"1.0\"?>\r\n<methodResponse><params><param>\r\n\t";
const char kResponse2[] = "\r\n</param></params></methodResponse>\r\n";
const char kFault1[] = "<?xml version=\"1.0\"?>\r\n<methodResponse><fault>\r\n\t";
const char kFault2[] = "\r\n</fault></methodResponse>\r\n";
const char kTooLarge[] = "response too large";
const char kTooCostly[] = "request too costly to read";

// A nil parameter is an absent one: those at the end of the list are
// dropped, and a list of nothing but nils is no list (no parameters).
// Arrays read from XML hold invalid elements only where nil was sent.
void dropAbsentTail(XmlRpcValue &params)
{
    if (params.getType() != XmlRpcValue::TypeArray || params.size() == 0)
        return;
    int keep = params.size();
    while (keep > 0 && !params[keep - 1].valid())
        --keep;
    if (keep == params.size())
        return;
    if (keep == 0) {
        params.clear();
        return;
    }
    XmlRpcValue::ValueArray kept;
    for (int i = 0; i < keep; ++i)
        kept.push_back(std::move(params[i]));
    params = XmlRpcValue(std::move(kept));
}

} // namespace

XmlRpcServer::XmlRpcServer() = default;

XmlRpcServer::~XmlRpcServer()
{
    m_disp.removeSource(this);
    m_disp.clear();
    XmlRpcSource::close();
    // The introspection methods unregister themselves; others are not ours.
    m_listMethods.reset();
    m_methodHelp.reset();
}

void XmlRpcServer::enableIntrospection(bool enabled)
{
    if (m_introspectionEnabled == enabled)
        return;
    m_introspectionEnabled = enabled;
    if (enabled) {
        if (!m_listMethods) {
            m_listMethods = std::make_unique<ListMethods>(this);
            m_methodHelp = std::make_unique<MethodHelp>(this);
        } else {
            addMethod(m_listMethods.get());
            addMethod(m_methodHelp.get());
        }
    } else {
        removeMethod(kListMethods);
        removeMethod(kMethodHelp);
    }
}

void XmlRpcServer::addMethod(XmlRpcServerMethod *method) { m_methods[method->name()] = method; }

void XmlRpcServer::removeMethod(XmlRpcServerMethod *method)
{
    auto it = m_methods.find(method->name());
    if (it != m_methods.end() && it->second == method)
        m_methods.erase(it);
}

void XmlRpcServer::removeMethod(const std::string &name) { m_methods.erase(name); }

XmlRpcServerMethod *XmlRpcServer::findMethod(const std::string &name) const
{
    auto it = m_methods.find(name);
    return it == m_methods.end() ? nullptr : it->second;
}

void XmlRpcServer::listMethods(XmlRpcValue &result) const
{
    result.setSize(static_cast<int>(m_methods.size()) + 1);
    int i = 0;
    for (const auto &kv : m_methods)
        result[i++] = kv.first;
    result[i] = kMulticall;
}

bool XmlRpcServer::bindAndListen(int port, const char *address, int backlog)
{
    int fd = XmlRpcSocket::socket();
    if (fd < 0) {
        XmlRpcUtil::error("XmlRpcServer::bindAndListen: Could not create socket (%s).",
                          XmlRpcSocket::getErrorMsg().c_str());
        return false;
    }
    setfd(fd);
    if (!XmlRpcSocket::setNonBlocking(fd)) {
        XmlRpcUtil::error("XmlRpcServer::bindAndListen: Could not set socket to non-blocking input mode (%s).",
                          XmlRpcSocket::getErrorMsg().c_str());
        close();
        return false;
    }
    if (!XmlRpcSocket::setReuseAddr(fd)) {
        XmlRpcUtil::error("XmlRpcServer::bindAndListen: Could not set SO_REUSEADDR socket option (%s).",
                          XmlRpcSocket::getErrorMsg().c_str());
        close();
        return false;
    }
    if (!XmlRpcSocket::bind(fd, port, address)) {
        XmlRpcUtil::error("XmlRpcServer::bindAndListen: Could not bind to specified port (%s).",
                          XmlRpcSocket::getErrorMsg().c_str());
        close();
        return false;
    }
    if (!XmlRpcSocket::listen(fd, backlog)) {
        XmlRpcUtil::error("XmlRpcServer::bindAndListen: Could not set socket in listening mode (%s).",
                          XmlRpcSocket::getErrorMsg().c_str());
        close();
        return false;
    }
    XmlRpcUtil::log(2, "XmlRpcServer::bindAndListen: server listening on port %d fd %d", port, fd);
    m_disp.addSource(this, XmlRpcDispatch::ReadableEvent);
    return true;
}

int XmlRpcServer::port() const { return getfd() < 0 ? -1 : XmlRpcSocket::getPort(getfd()); }

void XmlRpcServer::close()
{
    // The server is not delete-on-close; it only stops listening.
    XmlRpcSource::close();
}

unsigned XmlRpcServer::handleEvent(unsigned)
{
    acceptConnection();
    return XmlRpcDispatch::ReadableEvent;
}

bool XmlRpcServer::paused() const
{
    const auto now = std::chrono::steady_clock::now();
    if (m_connections >= m_maxConnections && !evictionCandidate(now))
        return true;
    return m_acceptFailing && now < m_acceptResume;
}

XmlRpcServerConnection *XmlRpcServer::evictionCandidate(std::chrono::steady_clock::time_point now) const
{
    XmlRpcServerConnection *oldest = nullptr;
    for (XmlRpcServerConnection *c : m_open)
        if (!oldest || c->lastDone() < oldest->lastDone())
            oldest = c;
    if (!oldest || std::chrono::duration<double>(now - oldest->lastDone()).count() < evictAfter())
        return nullptr;
    return oldest;
}

bool XmlRpcServer::evictOne()
{
    const auto now = std::chrono::steady_clock::now();
    XmlRpcServerConnection *victim = evictionCandidate(now);
    if (!victim)
        return false;
    XmlRpcUtil::log(2, "XmlRpcServer::acceptConnection: making room, closing socket %d (no request finished for %.1f s)",
                    victim->getfd(), std::chrono::duration<double>(now - victim->lastDone()).count());
    m_evictions.fetch_add(1, std::memory_order_relaxed);
    m_disp.removeSource(victim);
    victim->close(); // deletes it; it leaves m_open as it goes
    return true;
}

void XmlRpcServer::acceptConnection()
{
    if (m_connections >= m_maxConnections && !evictOne())
        return;
    int s = XmlRpcSocket::accept(getfd());
    XmlRpcUtil::log(2, "XmlRpcServer::acceptConnection: socket %d", s);
    if (s < 0) {
        if (XmlRpcSocket::nonFatalError())
            return;
        const int err = XmlRpcSocket::getError();
        // The pending connection stays readable: out of descriptors or memory,
        // retrying at once would only spin. One line per episode.
        if (!m_acceptFailing)
            XmlRpcUtil::error("XmlRpcServer::acceptConnection: Could not accept connection (%s).",
                              XmlRpcSocket::getErrorMsg(err).c_str());
        m_acceptFailing = true;
        // Out of descriptors: one held by a connection that is going nowhere
        // serves the next one better. The episode lasts while room has to
        // be made this way (one error line for all of it).
        if ((err == EMFILE || err == ENFILE) && evictOne())
            m_madeRoom = true;
        if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM)
            m_acceptResume = std::chrono::steady_clock::now() +
                             std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 std::chrono::duration<double>(kAcceptBackoff));
        return;
    }
    if (!m_madeRoom)
        m_acceptFailing = false;
    m_madeRoom = false;
    if (!XmlRpcSocket::setNonBlocking(s)) {
        XmlRpcSocket::close(s);
        XmlRpcUtil::error("XmlRpcServer::acceptConnection: Could not set socket to non-blocking input mode (%s).",
                          XmlRpcSocket::getErrorMsg().c_str());
        return;
    }
    XmlRpcUtil::log(2, "XmlRpcServer::acceptConnection: creating a connection");
    XmlRpcServerConnection *c = createConnection(s);
    ++m_connections;
    m_open.push_back(c);
    m_disp.addSource(c, XmlRpcDispatch::ReadableEvent);
}

XmlRpcServerConnection *XmlRpcServer::createConnection(int fd) { return new XmlRpcServerConnection(fd, this, true); }

bool XmlRpcServer::reserveResponse(size_t bytes, bool force)
{
    // Only the server thread changes the total; others just read it.
    size_t held = m_pendingResponseBytes.load(std::memory_order_relaxed);
    if (!force && held + bytes > maxPendingResponseBytes())
        return false;
    m_pendingResponseBytes.store(held + bytes, std::memory_order_relaxed);
    return true;
}

void XmlRpcServer::releaseResponse(size_t bytes)
{
    m_pendingResponseBytes.store(m_pendingResponseBytes.load(std::memory_order_relaxed) - bytes,
                                 std::memory_order_relaxed);
}

void XmlRpcServer::removeConnection(XmlRpcServerConnection *connection)
{
    // Connections made outside acceptConnection (tests) were never counted.
    for (auto it = m_open.begin(); it != m_open.end(); ++it) {
        if (*it == connection) {
            m_open.erase(it);
            --m_connections;
            break;
        }
    }
    m_disp.removeSource(connection);
}

bool XmlRpcServer::executeMethod(const std::string &name, XmlRpcValue &params, XmlRpcValue &result)
{
    XmlRpcServerMethod *method = findMethod(name);
    if (!method)
        return false;
    method->execute(params, result);
    if (!result.valid())
        result = std::string();
    return true;
}

bool XmlRpcServer::executeMulticall(const std::string &name, XmlRpcValue &params, XmlRpcValue &result)
{
    MulticallBudget budget;
    return runMulticall(name, params, result, budget);
}

bool XmlRpcServer::runMulticall(const std::string &name, XmlRpcValue &params, XmlRpcValue &result,
                                MulticallBudget &budget)
{
    if (name != kMulticall)
        return false;
    if (params.size() != 1 || params[0].getType() != XmlRpcValue::TypeArray)
        throw XmlRpcException(std::string(kMulticall) + ": Invalid argument (expected an array)");

    XmlRpcValue &calls = params[0];
    int n = calls.size();
    // The calls of nested multicalls count too: one request, one budget.
    budget.calls += n;
    if (budget.calls > kMaxMulticallCalls)
        throw LimitExceeded(std::string(kMulticall) + ": too many calls (at most " +
                            std::to_string(kMaxMulticallCalls) + ")");
    result.setSize(n);
    std::string scratch;
    for (int i = 0; i < n; ++i) {
        XmlRpcValue &call = calls[i];
        bool nested = false;
        if (!call.hasMember(kMethodName) || !call.hasMember(kParams)) {
            result[i][kFaultCode] = -1;
            result[i][kFaultString] = std::string(kMulticall) +
                                      ": Invalid argument (expected a struct with members methodName and params)";
        } else {
            try {
                const std::string methodName = call[kMethodName].asString();
                XmlRpcValue &methodParams = call[kParams];
                dropAbsentTail(methodParams);
                XmlRpcValue value;
                value.setSize(1);
                // A nested multicall works on its own entry's params.
                nested = methodName == kMulticall && !findMethod(methodName);
                if (!executeMethod(methodName, methodParams, value[0]) &&
                    !runMulticall(methodName, methodParams, value[0], budget)) {
                    result[i][kFaultCode] = -1;
                    result[i][kFaultString] = methodName + ": unknown method name";
                } else {
                    result[i] = std::move(value);
                }
            } catch (const LimitExceeded &) {
                throw;
            } catch (const XmlRpcException &fault) {
                XmlRpcValue f;
                f[kFaultCode] = fault.getCode();
                f[kFaultString] = fault.getMessage();
                result[i] = std::move(f);
            }
        }
        // Stop as soon as the answer is known to be too large, before the
        // remaining calls run. A nested multicall has counted its own calls.
        if (!nested) {
            scratch.clear();
            result[i].appendXml(scratch);
            budget.bytes += scratch.size();
            if (budget.bytes > kMaxResponseBytes)
                throw LimitExceeded(std::string(kMulticall) + ": " + kTooLarge);
        }
    }
    return true;
}

std::string XmlRpcServer::generateHeader(const std::string &body)
{
    std::string header = "HTTP/1.1 200 OK\r\nServer: XMLRPC++ 0.7\r\nContent-Type: text/xml\r\nContent-length: ";
    header += std::to_string(body.size());
    header += "\r\n\r\n";
    return header;
}

std::string XmlRpcServer::generateResponse(const std::string &resultXml)
{
    std::string body;
    body.reserve(sizeof kResponse1 + resultXml.size() + sizeof kResponse2);
    body += kResponse1;
    body += resultXml;
    body += kResponse2;
    std::string response = generateHeader(body) + body;
    XmlRpcUtil::log(5, "XmlRpcServerConnection::generateResponse:\n%s\n", response.c_str());
    return response;
}

std::string XmlRpcServer::generateFaultResponse(const std::string &message, int code)
{
    XmlRpcValue fault;
    fault[kFaultCode] = code;
    fault[kFaultString] = message;
    std::string body = kFault1 + fault.toXml() + kFault2;
    return generateHeader(body) + body;
}

std::string XmlRpcServer::executeRequest(const std::string &request)
{
    XmlRpcValue params, result;
    size_t offset = 0;
    // One scanner for the whole body: every search ahead is paid for once.
    XmlRpcScanner text(request);
    // The name is taken raw; without one, or with nothing after it, there
    // are no parameters.
    std::string methodName = XmlRpcUtil::parseTag("<methodName>", text, &offset);
    if (!methodName.empty() && XmlRpcUtil::findTag("<params>", text, &offset)) {
        XmlRpcValue::ValueArray list;
        size_t present = 0; // parameters up to the last one that is not nil
        while (XmlRpcUtil::nextTagIs("<param>", text, &offset)) {
            XmlRpcValue v;
            // An unreadable value is kept as invalid; a nil reads as invalid too.
            if (!v.fromXml(text, &offset) || v.valid())
                present = list.size() + 1;
            list.push_back(std::move(v));
            XmlRpcUtil::nextTagIs("</param>", text, &offset);
        }
        XmlRpcUtil::nextTagIs("</params>", text, &offset);
        list.resize(present);
        if (!list.empty())
            params = XmlRpcValue(std::move(list));
    }

    // A call is run with all that was sent, or not at all.
    std::string unread;
    if (text.exhausted()) {
        XmlRpcUtil::error("XmlRpcServerConnection::executeRequest: request too costly to read (%d bytes).",
                          static_cast<int>(request.size()));
        unread = kTooCostly;
    } else if (!text.unknownTag().empty()) {
        unread = methodName + ": unknown type tag " + text.unknownTag();
    } else if (text.cutShort() && methodName == kMulticall && !findMethod(methodName)) {
        unread = std::string(kMulticall) + ": calls that cannot be read (none was run)";
    }

    XmlRpcUtil::log(2, "XmlRpcServerConnection::executeRequest: server calling method '%s'", methodName.c_str());
    try {
        if (!unread.empty())
            throw XmlRpcException(unread);
        if (!executeMethod(methodName, params, result) && !executeMulticall(methodName, params, result))
            return generateFaultResponse(methodName + ": unknown method name");
    } catch (const XmlRpcException &fault) {
        XmlRpcUtil::log(2, "XmlRpcServerConnection::executeRequest: fault %s.", fault.getMessage().c_str());
        return generateFaultResponse(fault.getMessage(), fault.getCode());
    }
    std::string xml;
    result.appendXml(xml);
    if (xml.size() > kMaxResponseBytes) {
        XmlRpcUtil::error("XmlRpcServerConnection::executeRequest: response too large (%zu bytes).", xml.size());
        return generateFaultResponse(kTooLarge);
    }
    return generateResponse(xml);
}
