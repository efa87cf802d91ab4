#include "OvWebServer.h"

#include "OvCore.h"
#include "QiLog.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <charconv>
#include <fstream>
#include <sstream>

namespace {

using Req = httplib::Request;
using Res = httplib::Response;

const char kCsp[] = "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' blob: data:; "
                    "connect-src 'self'; form-action 'none'; base-uri 'none'; frame-ancestors 'none'";

// Header values come from the generator's own texts; no line breaks.
std::string headerText(std::string s)
{
    for (char &c : s)
        if (c == '\r' || c == '\n' || static_cast<unsigned char>(c) < 0x20)
            c = ' ';
    return s;
}

const std::string *param(const Req &req, const char *name, std::string &holder)
{
    if (!req.has_param(name))
        return nullptr;
    holder = req.get_param_value(name);
    return &holder;
}

// A query number, or fallback when absent; false when present but not a
// whole number.
template <class T> bool number(const Req &req, const char *name, T fallback, T &out)
{
    out = fallback;
    if (!req.has_param(name))
        return true;
    const std::string v = req.get_param_value(name);
    const auto r = std::from_chars(v.data(), v.data() + v.size(), out);
    return r.ec == std::errc() && r.ptr == v.data() + v.size();
}

bool yes(const Req &req, const char *name, bool fallback)
{
    if (!req.has_param(name))
        return fallback;
    const std::string v = req.get_param_value(name);
    return v.empty() || v == "1" || v == "true" || v == "yes";
}

bool loopback(const std::string &address)
{
    if (address == "localhost" || address == "::1")
        return true;
    in_addr a{};
    return inet_pton(AF_INET, address.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127;
}

std::string hostName()
{
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0)
        return std::string();
    return host;
}

} // namespace

const char *const OvWebServer::kPageFiles[] = {"index.html", "orvane.css", "orvane.js", nullptr};

OvWebServer::OvWebServer(OvCore *engine, Options options)
    : m_engine(engine), m_options(std::move(options)), m_http(m_options.limits), m_live(engine),
      m_api(engine, m_options.info, [this] { return m_http.stopping(); }, [this] { return m_live.sequence(); })
{
}

OvWebServer::~OvWebServer() { shutdown(); }

void OvWebServer::loadPage()
{
    for (const char *const *f = kPageFiles; *f; ++f) {
        const std::string path = m_options.pageFolder + "/" + *f;
        std::ifstream in(path, std::ios::binary);
        std::string body;
        if (in) {
            body.resize(kMaxPageFileBytes + 1);
            in.read(body.data(), static_cast<std::streamsize>(body.size()));
            body.resize(static_cast<size_t>(in.gcount()));
        }
        if (!in.eof() || body.empty()) {
            qiLog(1, "%s: the page file %s is missing, unreadable or too large\n", "OvWebServer::start", path.c_str());
            continue;
        }
        const std::string name = *f;
        const std::string type = name.ends_with(".html")  ? "text/html; charset=utf-8"
                                 : name.ends_with(".css") ? "text/css; charset=utf-8"
                                                          : "text/javascript; charset=utf-8";
        m_files[name] = File{type, std::move(body)};
    }
}

bool OvWebServer::start(std::string &error)
{
    if (!m_engine) {
        error = "no engine";
        return false;
    }
    m_port = m_http.bind(m_options.address, m_options.port);
    if (m_port < 0) {
        error = "cannot listen on " + m_options.address + ":" + std::to_string(m_options.port);
        return false;
    }
    std::vector<std::string> names;
    if (const std::string h = hostName(); !h.empty())
        names.push_back(h);
    m_access = std::make_unique<OvWebAccess>(m_options.token, m_port, names, loopback(m_options.address));
    m_api.addProtocol({"web", m_options.address, m_port});
    loadPage();
    routes();
    m_thread = std::thread([this] { m_http.serve(); });
    const bool v6 = m_options.address.find(':') != std::string::npos;
    qiLog(2, "%s: serving http://%s%s%s:%d/ (%s)\n", "OvWebServer::start", v6 ? "[" : "",
          m_options.address.c_str(), v6 ? "]" : "", m_port,
          m_access->tokenRequired() ? "the access token is required" : "no access token");
    return true;
}

void OvWebServer::shutdown()
{
    m_http.stopAll();
    if (m_thread.joinable())
        m_thread.join();
}

void OvWebServer::send(Res &res, const OvWebApi::Reply &r)
{
    res.status = r.status;
    for (const auto &[k, v] : r.headers)
        res.set_header(k, headerText(v));
    res.set_content(r.body, r.type);
}

httplib::Server::HandlerResponse OvWebServer::screen(const Req &req, Res &res)
{
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Cache-Control", "no-store");
    // Partial answers would let one request ask for the same bytes many
    // times over; every answer here is whole.
    const_cast<Req &>(req).ranges.clear();

    const bool body = req.has_header("Content-Length") || req.has_header("Transfer-Encoding");
    auto refuse = [&](int status, const std::string &why) {
        send(res, OvWebApi::error(status, why));
        // An unread body must not be taken for the next request.
        if (body) {
            res.set_header("Connection", "close");
            OvWebHttp::closeAfterAnswer();
        }
        return httplib::Server::HandlerResponse::Handled;
    };
    if (req.method != "GET" && req.method != "HEAD" && req.method != "POST") {
        res.set_header("Allow", "GET, HEAD, POST");
        return refuse(405, "method " + req.method + " is not served");
    }
    if (req.has_header("Content-Encoding") && req.get_header_value("Content-Encoding") != "identity")
        return refuse(415, "compressed request bodies are not accepted");
    if (req.has_header("Transfer-Encoding"))
        return refuse(411, "send the body with a Content-Length");
    if (body) {
        // Refused before a byte of it is read.
        const std::string length = req.get_header_value("Content-Length");
        uint64_t n = 0;
        const auto r = std::from_chars(length.data(), length.data() + length.size(), n);
        if (r.ec != std::errc() || r.ptr != length.data() + length.size())
            return refuse(400, "the Content-Length is not a number");
        if (n > m_options.limits.maxBodyBytes)
            return refuse(413, "the request body is larger than " + std::to_string(m_options.limits.maxBodyBytes) +
                                   " bytes");
    }

    OvWebAccess::Request a;
    a.host = req.get_header_value("Host");
    a.origin = req.get_header_value("Origin");
    a.fetchSite = req.get_header_value("Sec-Fetch-Site");
    a.authorization = req.get_header_value("Authorization");
    a.tokenHeader = req.get_header_value("X-Orvane-Token");
    a.cookie = req.get_header_value("Cookie");
    a.hasTokenQuery = req.has_param("token");
    if (a.hasTokenQuery)
        a.tokenQuery = req.get_param_value("token");
    const OvWebAccess::Verdict v = m_access->check(a);
    switch (v) {
    case OvWebAccess::Verdict::allowed: return httplib::Server::HandlerResponse::Unhandled;
    case OvWebAccess::Verdict::badHost: return refuse(403, OvWebAccess::reason(v));
    case OvWebAccess::Verdict::crossOrigin: return refuse(403, OvWebAccess::reason(v));
    case OvWebAccess::Verdict::noToken: break;
    }
    res.set_header("WWW-Authenticate", "Bearer realm=\"orvane\"");
    if (req.method == "GET" && (req.path == "/" || req.path == "/index.html")) {
        // A person at a browser: say how to get in.
        refuse(401, OvWebAccess::reason(v));
        res.set_content("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Orvane</title></head><body>"
                        "<h1>Orvane</h1><p>This generator asks for its access token. Open this page as "
                        "<code>/?token=</code> followed by the token (given to <code>orvane --web-token</code> "
                        "or kept in the file given to <code>--web-token-file</code>).</p></body></html>\n",
                        "text/html; charset=utf-8");
        return httplib::Server::HandlerResponse::Handled;
    }
    return refuse(401, OvWebAccess::reason(v));
}

void OvWebServer::page(const Req &req, Res &res, const std::string &name)
{
    // The token in the address bar becomes a cookie the page's own requests
    // carry (and other sites' requests do not), and leaves the address bar.
    if (name == "index.html" && m_access->tokenRequired() && req.has_param("token") &&
        m_access->tokenMatches(req.get_param_value("token"))) {
        res.status = 303;
        res.set_header("Set-Cookie",
                       m_access->cookieName() + "=" + req.get_param_value("token") + "; Path=/; HttpOnly; SameSite=Strict");
        res.set_header("Location", "/");
        return;
    }
    auto f = m_files.find(name);
    if (f == m_files.end()) {
        send(res, OvWebApi::error(404, "the page file " + name + " is missing from " + m_options.pageFolder));
        return;
    }
    res.set_header("Cache-Control", "no-cache");
    if (name == "index.html")
        res.set_header("Content-Security-Policy", kCsp);
    res.set_content(f->second.body, f->second.type);
}

void OvWebServer::liveView(const Req &req, Res &res)
{
    uint64_t after = 0;
    long wait = 0;
    int32_t w = 640, h = 360;
    if (!number<uint64_t>(req, "after", 0, after) || !number<long>(req, "wait", 0, wait) ||
        !number<int32_t>(req, "w", 640, w) || !number<int32_t>(req, "h", 360, h)) {
        send(res, OvWebApi::error(400, "after, wait, w and h are whole numbers"));
        return;
    }
    const auto limit = std::chrono::milliseconds(std::clamp<long>(wait, 0, kMaxLiveWait.count()));
    const auto end = std::chrono::steady_clock::now() + limit;
    // Long poll: the answer goes out when a frame other than the one the
    // page shows is on the output.
    if (req.has_param("after")) {
        while (m_live.sequence() == after) {
            if (std::chrono::steady_clock::now() >= end) {
                res.status = 204;
                res.set_header("X-Orvane-Frame", std::to_string(after));
                return;
            }
            if (!m_http.pause(std::chrono::milliseconds(5))) {
                send(res, OvWebApi::error(503, "the generator is stopping"));
                return;
            }
        }
    }
    auto pic = m_live.picture(w, h, [this](std::chrono::milliseconds d) { return m_http.pause(d); });
    if (!pic) {
        if (m_live.sequence() == 0) {
            res.status = 204;
            res.set_header("X-Orvane-Frame", "0");
        } else {
            send(res, OvWebApi::error(503, "the output cannot be shown"));
        }
        return;
    }
    res.set_header("X-Orvane-Frame", std::to_string(pic->sequence));
    res.set_header("X-Orvane-Format", headerText(pic->videoFormat));
    res.set_header("X-Orvane-Source", headerText(std::to_string(pic->frameWidth) + "x" +
                                                 std::to_string(pic->frameHeight) + " " + pic->layout));
    char ms[32];
    const auto r = std::to_chars(ms, ms + sizeof ms, pic->makeMs, std::chars_format::fixed, 1);
    res.set_header("X-Orvane-Make-Ms", std::string(ms, r.ptr));
    res.set_content(reinterpret_cast<const char *>(pic->png.data()), pic->png.size(), "image/png");
}

void OvWebServer::routes()
{
    m_http.set_pre_routing_handler([this](const Req &req, Res &res) { return screen(req, res); });
    m_http.set_error_handler(httplib::Server::HandlerWithResponse([](const Req &, Res &res) {
        if (!res.body.empty())
            return httplib::Server::HandlerResponse::Unhandled;
        const char *what = res.status == 404   ? "nothing is served at this address"
                           : res.status == 413 ? "the request body is too large"
                           : res.status == 414 ? "the request line is too long"
                                               : "the request could not be read";
        res.set_content(OvWebApi::error(res.status, what).body, "application/json");
        return httplib::Server::HandlerResponse::Handled;
    }));
    m_http.set_exception_handler([](const Req &, Res &res, std::exception_ptr) {
        res.status = 500;
        res.set_content(OvWebApi::error(500, "the request failed").body, "application/json");
    });

    m_http.Get("/", [this](const Req &req, Res &res) { page(req, res, "index.html"); });
    for (const char *const *f = kPageFiles; *f; ++f) {
        const std::string name = *f;
        std::string pattern = "/";
        for (char c : name) {
            if (c == '.')
                pattern += '\\';
            pattern += c;
        }
        m_http.Get(pattern, [this, name](const Req &req, Res &res) { page(req, res, name); });
    }

    m_http.Get("/api/patterns", [this](const Req &, Res &res) { send(res, m_api.patterns()); });
    m_http.Get("/api/pattern", [this](const Req &req, Res &res) {
        std::string name;
        send(res, m_api.pattern(param(req, "name", name)));
    });
    m_http.Get("/api/generator",
               [this](const Req &req, Res &res) { send(res, m_api.generator(yes(req, "signal", false))); });
    m_http.Get("/api/version", [this](const Req &, Res &res) { send(res, m_api.version()); });
    m_http.Get("/api/status", [this](const Req &, Res &res) { send(res, m_api.status(m_live.sequence())); });
    m_http.Get("/api/window", [this](const Req &req, Res &res) {
        std::string steps;
        send(res, m_api.windowModel(param(req, "steps", steps)));
    });
    m_http.Post("/api/set", [this](const Req &req, Res &res) { send(res, m_api.set(req.body, yes(req, "wait", false))); });
    m_http.Post("/api/alias", [this](const Req &req, Res &res) { send(res, m_api.alias(req.body)); });
    m_http.Post("/api/window",
                [this](const Req &req, Res &res) { send(res, m_api.window(req.body, yes(req, "wait", true))); });
    m_http.Get("/api/live", [this](const Req &req, Res &res) { liveView(req, res); });
    m_http.Get("/api/snapshot", [this](const Req &, Res &res) { send(res, m_api.snapshot(m_live.sequence())); });
}
