#pragma once
#include <string>
#include <string_view>
#include <vector>

// Who may use the web page and its endpoints: requests must name this
// server in their Host header (a page on another site cannot reach the
// generator by pointing one of its own names at it), must not come from
// another origin, and must carry the access token when one is set.
class OvWebAccess {
public:
    // What a request brought, headers as they came (empty when absent).
    struct Request {
        std::string host;          // Host
        std::string origin;        // Origin
        std::string fetchSite;     // Sec-Fetch-Site
        std::string authorization; // Authorization
        std::string tokenHeader;   // X-Orvane-Token
        std::string cookie;        // Cookie
        std::string tokenQuery;    // the token query parameter
        bool hasTokenQuery = false;
    };
    enum class Verdict { allowed, badHost, crossOrigin, noToken };

    // port: the port served. names: host names besides IP literals and
    // "localhost" that requests may use (the machine's name); with
    // loopbackOnly only the exact names, otherwise also any name whose first
    // label is one of them (a name from the local DNS).
    OvWebAccess(std::string token, int port, std::vector<std::string> names, bool loopbackOnly);

    Verdict check(const Request &r) const;
    // The reason a verdict gives, for the answer.
    static const char *reason(Verdict v);

    bool tokenRequired() const { return !m_token.empty(); }
    // The cookie that carries the token (named after the port, so two
    // generators on one machine keep theirs apart).
    const std::string &cookieName() const { return m_cookie; }
    // Token compared in time independent of where the texts differ.
    bool tokenMatches(std::string_view candidate) const;

    // Pieces, public for the tests.
    bool hostAllowed(std::string_view host) const;
    bool originAllowed(std::string_view origin, std::string_view host) const;
    // The value of cookie name in a Cookie header, or empty.
    static std::string cookieValue(std::string_view header, std::string_view name);
    // Tokens travel in headers, cookies and URLs: visible ASCII without
    // blank, quote, comma, semicolon or backslash, 1 to 1024 characters.
    static bool validToken(std::string_view token);

private:
    std::string m_token;
    int m_port;
    std::vector<std::string> m_names;
    bool m_loopbackOnly;
    std::string m_cookie;
};
