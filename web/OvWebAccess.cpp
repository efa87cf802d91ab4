#include "OvWebAccess.h"

#include "QiAscii.h"

#include <arpa/inet.h>

#include <charconv>

namespace {

// Splits "name[:port]" or "[v6][:port]"; false when malformed.
bool splitHost(std::string_view text, std::string_view &name, int &port)
{
    port = -1;
    std::string_view rest;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos)
            return false;
        name = text.substr(0, close + 1);
        rest = text.substr(close + 1);
    } else {
        const size_t colon = text.find(':');
        name = text.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon);
    }
    if (name.empty())
        return false;
    if (rest.empty())
        return true;
    if (rest.front() != ':' || rest.size() < 2 || rest.size() > 6)
        return false;
    int p = 0;
    const auto r = std::from_chars(rest.data() + 1, rest.data() + rest.size(), p);
    if (r.ec != std::errc() || r.ptr != rest.data() + rest.size() || p < 1 || p > 65535)
        return false;
    port = p;
    return true;
}

bool ipLiteral(std::string_view name)
{
    unsigned char buf[16];
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
        const std::string v6(name.substr(1, name.size() - 2));
        return inet_pton(AF_INET6, v6.c_str(), buf) == 1;
    }
    const std::string v4(name);
    return inet_pton(AF_INET, v4.c_str(), buf) == 1;
}

} // namespace

OvWebAccess::OvWebAccess(std::string token, int port, std::vector<std::string> names, bool loopbackOnly)
    : m_token(std::move(token)), m_port(port), m_names(std::move(names)), m_loopbackOnly(loopbackOnly),
      m_cookie("orvane_token_" + std::to_string(port))
{
}

bool OvWebAccess::validToken(std::string_view token)
{
    if (token.empty() || token.size() > 1024)
        return false;
    for (char c : token)
        if (c <= 0x20 || c >= 0x7F || c == '"' || c == ',' || c == ';' || c == '\\')
            return false;
    return true;
}

bool OvWebAccess::tokenMatches(std::string_view candidate) const
{
    if (m_token.empty() || candidate.size() != m_token.size())
        return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < m_token.size(); ++i)
        diff |= static_cast<unsigned char>(m_token[i] ^ candidate[i]);
    return diff == 0;
}

bool OvWebAccess::hostAllowed(std::string_view host) const
{
    std::string_view name;
    int port = -1;
    if (!splitHost(host, name, port))
        return false;
    // Without a port the browser means the scheme's default.
    if ((port < 0 ? 80 : port) != m_port)
        return false;
    if (ipLiteral(name) || qiEqualsIgnoreCase(name, "localhost"))
        return true;
    for (const std::string &n : m_names) {
        if (n.empty())
            continue;
        if (qiEqualsIgnoreCase(name, n))
            return true;
        if (!m_loopbackOnly && name.size() > n.size() + 1 && name[n.size()] == '.' &&
            qiEqualsIgnoreCase(name.substr(0, n.size()), n))
            return true;
    }
    return false;
}

bool OvWebAccess::originAllowed(std::string_view origin, std::string_view host) const
{
    // Same origin: this server's scheme and the very host the request names.
    constexpr std::string_view scheme = "http://";
    return qiStartsWithIgnoreCase(origin, scheme) && qiEqualsIgnoreCase(origin.substr(scheme.size()), host);
}

std::string OvWebAccess::cookieValue(std::string_view header, std::string_view name)
{
    size_t pos = 0;
    while (pos < header.size()) {
        size_t end = header.find(';', pos);
        if (end == std::string_view::npos)
            end = header.size();
        std::string_view pair = header.substr(pos, end - pos);
        while (!pair.empty() && pair.front() == ' ')
            pair.remove_prefix(1);
        const size_t eq = pair.find('=');
        if (eq != std::string_view::npos && pair.substr(0, eq) == name) {
            std::string_view v = pair.substr(eq + 1);
            while (!v.empty() && v.back() == ' ')
                v.remove_suffix(1);
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
                v = v.substr(1, v.size() - 2);
            return std::string(v);
        }
        pos = end + 1;
    }
    return std::string();
}

OvWebAccess::Verdict OvWebAccess::check(const Request &r) const
{
    if (!hostAllowed(r.host))
        return Verdict::badHost;
    // Browsers say where a request comes from: any other site, or another
    // port of this one, is refused whatever it asks for.
    if (!r.origin.empty() && !originAllowed(r.origin, r.host))
        return Verdict::crossOrigin;
    if (!r.fetchSite.empty() && r.fetchSite != "same-origin" && r.fetchSite != "none")
        return Verdict::crossOrigin;
    if (m_token.empty())
        return Verdict::allowed;
    constexpr std::string_view bearer = "Bearer ";
    if (qiStartsWithIgnoreCase(r.authorization, bearer) &&
        tokenMatches(std::string_view(r.authorization).substr(bearer.size())))
        return Verdict::allowed;
    if (tokenMatches(r.tokenHeader) || (r.hasTokenQuery && tokenMatches(r.tokenQuery)) ||
        tokenMatches(cookieValue(r.cookie, m_cookie)))
        return Verdict::allowed;
    return Verdict::noToken;
}

const char *OvWebAccess::reason(Verdict v)
{
    switch (v) {
    case Verdict::allowed: return "allowed";
    case Verdict::badHost: return "the Host header does not name this generator";
    case Verdict::crossOrigin: return "requests from other web pages are refused";
    case Verdict::noToken: return "the access token is missing or wrong";
    }
    return "refused";
}
