#include "OvcResolveClient.h"

#include "OvCore.h"
#include "OvGenOptions.h"
#include "QiLog.h"

#include <cerrno>
#include <cstring>
#include <expat.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char kWho[] = "OvcResolveClient";

// One colour element: the components and its own depth, if it gave one.
struct Colour {
    bool seen = false;
    long long c[3] = {0, 0, 0};
    int32_t bits = 0; // 0: none given
};
struct Geometry {
    bool seen = false;
    double x = 0.0, y = 0.0, cx = 1.0, cy = 1.0;
};
struct Rectangle {
    Colour color, colex;
    Geometry geometry;
};

struct ParseState {
    XML_Parser parser = nullptr;
    int depth = 0;
    std::string error;
    bool root = false;
    bool inShapes = false, inRect = false;
    int shapesDepth = 0;
    Colour color, background;
    Geometry geometry;
    bool shapes = false;
    int rectangles = 0;
    Rectangle rect[2];

    void fail(const std::string &why)
    {
        if (error.empty())
            error = why;
        XML_StopParser(parser, XML_FALSE);
    }
};

const char *attr(const XML_Char **atts, const char *name)
{
    for (; atts && atts[0]; atts += 2)
        if (std::strcmp(atts[0], name) == 0)
            return atts[1];
    return nullptr;
}

bool readColour(ParseState &s, const char *element, const XML_Char **atts, Colour &out)
{
    static const char *const kNames[3] = {"red", "green", "blue"};
    out.seen = true;
    for (int i = 0; i < 3; ++i) {
        const char *v = attr(atts, kNames[i]);
        if (!v) {
            s.fail(std::string("<") + element + "> has no " + kNames[i]);
            return false;
        }
        if (!OvcNet::parseInt(v, out.c[i])) {
            s.fail(std::string("<") + element + "> " + kNames[i] + " is not a whole number: '" + v + "'");
            return false;
        }
    }
    if (const char *b = attr(atts, "bits")) {
        long long bits = 0;
        if (!OvcNet::parseInt(b, bits) || (bits != 8 && bits != 10 && bits != 12)) {
            s.fail(std::string("<") + element + "> bits must be 8, 10 or 12, not '" + b + "'");
            return false;
        }
        out.bits = static_cast<int32_t>(bits);
    }
    return true;
}

bool readGeometry(ParseState &s, const XML_Char **atts, Geometry &g)
{
    static const char *const kNames[4] = {"x", "y", "cx", "cy"};
    double *fields[4] = {&g.x, &g.y, &g.cx, &g.cy};
    g.seen = true;
    for (int i = 0; i < 4; ++i) {
        const char *v = attr(atts, kNames[i]);
        if (!v)
            continue; // x, y: 0; cx, cy: the whole frame
        double d = 0.0;
        if (!OvcNet::parseReal(v, d)) {
            s.fail(std::string("<geometry> ") + kNames[i] + " is not a number: '" + v + "'");
            return false;
        }
        if (d < 0.0 || d > 1.0) {
            qiLog(1, "%s: geometry %s %s is outside 0 .. 1, clamped\n", kWho, kNames[i], v);
            d = d < 0.0 ? 0.0 : 1.0;
        }
        *fields[i] = d;
    }
    return true;
}

void XMLCALL startElement(void *data, const XML_Char *name, const XML_Char **atts)
{
    ParseState &s = *static_cast<ParseState *>(data);
    ++s.depth;
    if (s.depth > OvcResolveClient::kMaxDepth) {
        s.fail("elements nested too deeply");
        return;
    }
    if (s.depth == 1) {
        if (std::strcmp(name, "calibration") != 0)
            s.fail(std::string("the root is <") + name + ">, not <calibration>");
        s.root = true;
        return;
    }
    if (s.depth == 2) {
        if (std::strcmp(name, "color") == 0)
            readColour(s, name, atts, s.color);
        else if (std::strcmp(name, "background") == 0)
            readColour(s, name, atts, s.background);
        else if (std::strcmp(name, "geometry") == 0)
            readGeometry(s, atts, s.geometry);
        else if (std::strcmp(name, "shapes") == 0)
            s.shapes = s.inShapes = true;
        return;
    }
    if (s.depth == 3 && s.inShapes && std::strcmp(name, "rectangle") == 0) {
        s.inRect = true;
        ++s.rectangles;
        return;
    }
    if (s.depth == 4 && s.inRect && s.rectangles <= 2) {
        Rectangle &r = s.rect[s.rectangles - 1];
        if (std::strcmp(name, "color") == 0)
            readColour(s, name, atts, r.color);
        else if (std::strcmp(name, "colex") == 0)
            readColour(s, name, atts, r.colex);
        else if (std::strcmp(name, "geometry") == 0)
            readGeometry(s, atts, r.geometry);
    }
}

void XMLCALL endElement(void *data, const XML_Char *)
{
    ParseState &s = *static_cast<ParseState *>(data);
    if (s.depth == 3)
        s.inRect = false;
    if (s.depth == 2)
        s.inShapes = false;
    --s.depth;
}

void XMLCALL doctype(void *data, const XML_Char *, const XML_Char *, const XML_Char *, int)
{
    static_cast<ParseState *>(data)->fail("document type declarations are not accepted");
}

void XMLCALL entityDecl(void *data, const XML_Char *, int, const XML_Char *, int, const XML_Char *,
                        const XML_Char *, const XML_Char *, const XML_Char *)
{
    static_cast<ParseState *>(data)->fail("entity declarations are not accepted");
}

// Components clamped into the depth, the clamp logged.
void clampColour(const Colour &c, int32_t bits, uint32_t out[3])
{
    const long long top = (1ll << bits) - 1;
    for (int i = 0; i < 3; ++i) {
        long long v = c.c[i];
        if (v < 0 || v > top) {
            qiLog(1, "%s: code value %lld is outside 0 .. %lld at %d bits, clamped\n", kWho, v, top, bits);
            v = v < 0 ? 0 : top;
        }
        out[i] = static_cast<uint32_t>(v);
    }
}

} // namespace

OvcResolveClient::OvcResolveClient(OvCore *engine, const std::string &host, int port)
    : m_sink(engine, kWho), m_host(host), m_port(port)
{
}

OvcResolveClient::~OvcResolveClient() { stop(); }

void OvcResolveClient::start()
{
    if (m_thread.joinable())
        return;
    m_running.store(true);
    m_thread = std::thread(&OvcResolveClient::run, this);
}

void OvcResolveClient::stop()
{
    if (!m_thread.joinable())
        return;
    m_running.store(false);
    m_wake.fire();
    m_thread.join();
}

bool OvcResolveClient::parse(const std::string &xml, OvcPatch &patch, std::string &error, uint32_t black,
                             int32_t blackBits)
{
    ParseState s;
    XML_Parser p = XML_ParserCreate("UTF-8");
    if (!p) {
        error = "no memory for the XML parser";
        return false;
    }
    s.parser = p;
    XML_SetUserData(p, &s);
    XML_SetElementHandler(p, startElement, endElement);
    XML_SetStartDoctypeDeclHandler(p, doctype);
    XML_SetEntityDeclHandler(p, entityDecl);
    XML_SetParamEntityParsing(p, XML_PARAM_ENTITY_PARSING_NEVER);
    const bool ok = XML_Parse(p, xml.data(), static_cast<int>(xml.size()), XML_TRUE) == XML_STATUS_OK;
    if (!ok && s.error.empty())
        s.error = std::string("not well-formed XML (") + XML_ErrorString(XML_GetErrorCode(p)) + " at line " +
                  std::to_string(XML_GetCurrentLineNumber(p)) + ")";
    XML_ParserFree(p);
    if (!s.error.empty()) {
        error = s.error;
        return false;
    }
    if (!s.root) {
        error = "no <calibration> element";
        return false;
    }

    OvcPatch out;
    if (s.shapes) {
        if (s.rectangles == 0) {
            error = "<shapes> holds no <rectangle>";
            return false;
        }
        // The exact triple of colex wins over the 8-bit color.
        auto colourOf = [&](const Rectangle &r, uint32_t c[3], int32_t &bits) {
            if (r.colex.seen) {
                bits = r.colex.bits ? r.colex.bits : 8;
                clampColour(r.colex, bits, c);
                return true;
            }
            if (r.color.seen) {
                bits = 8;
                clampColour(r.color, 8, c);
                return true;
            }
            return false;
        };
        const Rectangle &patchRect = s.rect[s.rectangles >= 2 ? 1 : 0];
        if (!colourOf(patchRect, out.fg, out.fgBits)) {
            error = "the patch <rectangle> has no <color>";
            return false;
        }
        if (s.rectangles >= 2) {
            if (!colourOf(s.rect[0], out.bg, out.bgBits)) {
                error = "the background <rectangle> has no <color>";
                return false;
            }
        } else {
            out.bg[0] = out.bg[1] = out.bg[2] = black;
            out.bgBits = blackBits;
        }
        out.x = patchRect.geometry.x;
        out.y = patchRect.geometry.y;
        out.cx = patchRect.geometry.cx;
        out.cy = patchRect.geometry.cy;
    } else {
        if (!s.color.seen) {
            error = "no <color> element";
            return false;
        }
        out.fgBits = s.color.bits ? s.color.bits : 8;
        clampColour(s.color, out.fgBits, out.fg);
        if (s.background.seen) {
            out.bgBits = s.background.bits ? s.background.bits : out.fgBits;
            clampColour(s.background, out.bgBits, out.bg);
        } else {
            out.bg[0] = out.bg[1] = out.bg[2] = black;
            out.bgBits = blackBits;
        }
        out.x = s.geometry.x;
        out.y = s.geometry.y;
        out.cx = s.geometry.cx;
        out.cy = s.geometry.cy;
    }
    patch = out;
    return true;
}

void OvcResolveClient::handle(const std::string &xml)
{
    const uint64_t n = ++m_messages;
    OvcPatch patch;
    std::string error;
    const int32_t bits = OvGenOptions::bitDepth.value.load();
    const int32_t black = OvGenOptions::blackLevel.value.load();
    if (!parse(xml, patch, error, static_cast<uint32_t>(black < 0 ? 0 : black),
               bits == 10 || bits == 12 ? bits : 8)) {
        ++m_skipped;
        qiLog(1, "%s: message %llu skipped: %s\n", kWho, static_cast<unsigned long long>(n),
              error.c_str());
        return;
    }
    if (m_sink.show(patch, &m_running))
        ++m_shown;
}

void OvcResolveClient::serve(int fd, std::string &why)
{
    std::string buf;
    size_t at = 0; // start of the next message in buf
    char chunk[16384];
    for (;;) {
        // Every whole message in hand first, each shown before the next.
        while (buf.size() - at >= 4) {
            const auto *b = reinterpret_cast<const unsigned char *>(buf.data() + at);
            const uint32_t len = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
            if (len == 0 || len > kMaxMessage) {
                why = "message length " + std::to_string(len) + " is outside 1 .. " + std::to_string(kMaxMessage);
                return;
            }
            if (buf.size() - at - 4 < len)
                break;
            handle(buf.substr(at + 4, len));
            at += 4 + len;
            if (!m_running.load()) {
                why = "stopping";
                return;
            }
        }
        if (at > 0) {
            buf.erase(0, at);
            at = 0;
        }
        if (!OvcNet::waitFor(fd, false, m_wake.fd())) {
            why = "stopping";
            return;
        }
        // Never more than one message and its length ahead.
        const size_t room = kMaxMessage + 4 + sizeof chunk - buf.size();
        const ssize_t got = ::recv(fd, chunk, std::min(sizeof chunk, room), 0);
        if (got == 0) {
            why = buf.empty() ? "closed by the program" : "closed by the program in the middle of a message";
            return;
        }
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            why = strerror(errno);
            return;
        }
        buf.append(chunk, static_cast<size_t>(got));
    }
}

void OvcResolveClient::run()
{
    auto backoff = kFirstBackoff;
    while (m_running.load()) {
        std::string error;
        const int fd = OvcNet::connectTo(m_host, m_port, kConnectLimit, m_wake.fd(), error);
        if (!m_running.load()) {
            if (fd >= 0)
                ::close(fd);
            break;
        }
        if (fd < 0) {
            qiLog(2, "%s: cannot connect to %s:%d (%s); trying again in %d ms\n", kWho, m_host.c_str(), m_port,
                  error.c_str(), static_cast<int>(backoff.count()));
            OvcNet::pause(backoff, m_wake.fd());
            backoff = std::min(backoff * 2, kMaxBackoff);
            continue;
        }
        ++m_connections;
        m_connected.store(true);
        qiLog(2, "%s: connected to %s:%d\n", kWho, m_host.c_str(), m_port);
        backoff = kFirstBackoff;
        std::string why;
        serve(fd, why);
        m_connected.store(false);
        // A reset: the program learns of the drop at its next send.
        OvcNet::closeWithReset(fd);
        if (!m_running.load())
            break;
        qiLog(1, "%s: connection to %s:%d lost (%s); reconnecting in %d ms\n", kWho, m_host.c_str(),
              m_port, why.c_str(), static_cast<int>(backoff.count()));
        OvcNet::pause(backoff, m_wake.fd());
        backoff = std::min(backoff * 2, kMaxBackoff);
    }
}
