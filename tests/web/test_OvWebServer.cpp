// The web server through real sockets on loopback, driving the real engine
// on the simulated Kona board: every endpoint, what changes reach the
// output, the refusals, the token, other origins, the live view and the
// connection limits.
#include "WebTestKit.h"

#include "../common/CountingRaster.h"

#include "OvcJson.h"
#include "QiImage.h"
#include "QiImageFiles.h"

#include <atomic>
#include <future>
#include <set>

#include <sys/resource.h>
#include <sys/syscall.h>

using namespace webtest;

namespace {

XmlRpcValue parse(const Reply &r)
{
    XmlRpcValue v;
    std::string why;
    EXPECT_TRUE(OvcJson::parse(r.body, v, why)) << why << ": " << r.body;
    return v;
}

std::string member(const XmlRpcValue &v, const std::string &name)
{
    if (v.getType() != XmlRpcValue::TypeStruct)
        return "<not an object>";
    auto it = v.structMembers().find(name);
    if (it == v.structMembers().end())
        return "<absent>";
    if (it->second.getType() == XmlRpcValue::TypeString)
        return it->second.asString();
    return OvcJson::write(it->second, false);
}

std::string text(const QiParams &p, const char *key)
{
    const char *v = nullptr;
    return p.get(key, v) ? std::string(v) : std::string("<absent>");
}

// The id the engine gives the next request, found by posting nothing.
int32_t probeId(OvCore &core) { return core.post(QiParams()); }

struct Server {
    SimEngine engine;
    std::unique_ptr<OvWebServer> web;
    int port = -1;
    explicit Server(OvWebServer::Options o = options())
    {
        web = std::make_unique<OvWebServer>(&engine.core, std::move(o));
        std::string why;
        EXPECT_TRUE(web->start(why)) << why;
        port = web->port();
    }
    ~Server() { web->shutdown(); }
};

} // namespace

TEST(WebServer, EveryEndpointAnswersAsTheXmlRpcMethodsDo)
{
    Server s;
    const int port = s.port;
    ASSERT_GT(port, 0);

    // The pattern list: every pattern with its revision, every alias with
    // "Alias/" and its pattern.
    Reply r = call(port, "GET", "/api/patterns");
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(r.header("content-type"), "application/json");
    EXPECT_EQ(r.header("cache-control"), "no-store");
    EXPECT_EQ(r.header("x-content-type-options"), "nosniff");
    XmlRpcValue v = parse(r);
    QiParams list;
    s.engine.core.listPatterns(list);
    ASSERT_EQ(v.getType(), XmlRpcValue::TypeStruct);
    EXPECT_EQ(static_cast<size_t>(v.size()), list.size());
    for (const auto &[name, value] : list)
        EXPECT_EQ(member(v, name), value) << name;
    EXPECT_EQ(member(v, "Raster"), "Alias/Window");
    EXPECT_EQ(member(v, "Window").rfind("$Revision", 0), 0u);

    // A pattern's describe maps, every value a string, in table order; the
    // registry ignores case.
    r = call(port, "GET", "/api/pattern?name=window");
    ASSERT_EQ(r.status, 200) << r.body;
    v = parse(r);
    std::vector<QiParams> maps;
    ASSERT_TRUE(s.engine.core.getPatternOpts("Window", maps));
    ASSERT_EQ(v.getType(), XmlRpcValue::TypeArray);
    ASSERT_EQ(static_cast<size_t>(v.size()), maps.size());
    for (size_t i = 0; i < maps.size(); ++i)
        for (const auto &[k, val] : maps[i])
            EXPECT_EQ(member(v[static_cast<int>(i)], k), val) << i << " " << k;
    const XmlRpcValue &size = v[1];
    EXPECT_EQ(member(size, "Name"), "Size");
    EXPECT_EQ(member(size, "DataType"), "Integer");
    EXPECT_EQ(member(size, "MinValue"), "0");
    EXPECT_EQ(member(size, "MaxValue"), "100");
    EXPECT_EQ(member(size, "uiPredicatesOnField"), "Style");
    EXPECT_EQ(member(size, "uiPredicatesOnValue"), "Constant Size");
    EXPECT_EQ(member(size, "uiPredicateLogic"), "1");

    // The generator: twelve descriptors, the values, the current parameters.
    r = call(port, "GET", "/api/generator");
    ASSERT_EQ(r.status, 200);
    v = parse(r);
    std::vector<QiParams> gen;
    s.engine.core.getGenOptions(gen);
    ASSERT_EQ(v.size(), 14);
    ASSERT_EQ(gen.size(), 14u);
    for (size_t i = 0; i < gen.size(); ++i)
        for (const auto &[k, val] : gen[i])
            EXPECT_EQ(member(v[static_cast<int>(i)], k), val) << i << " " << k;
    EXPECT_EQ(member(v[4], "Name"), "VideoFormat");
    EXPECT_EQ(member(v[12], "VideoFormat"), "1080p 60.00 3Ga (HDMI, SDI-3Ga)");
    EXPECT_EQ(member(v[13], "Pattern"), "Colorbars");
    // With ?signal=1 the signal options join in: 12 + 17 descriptions, then
    // all values, then the current parameters.
    r = call(port, "GET", "/api/generator?signal=1");
    ASSERT_EQ(r.status, 200);
    v = parse(r);
    ASSERT_EQ(v.size(), 12 + 17 + 2);
    EXPECT_EQ(member(v[11], "Name"), "ColorEncoding");
    EXPECT_EQ(member(v[12], "Name"), "TransferFunction");
    EXPECT_EQ(member(v[28], "Name"), "MaxFALL");
    EXPECT_EQ(member(v[29], "VideoFormat"), "1080p 60.00 3Ga (HDMI, SDI-3Ga)");
    EXPECT_EQ(member(v[29], "TransferFunction"), "SDR");
    EXPECT_EQ(member(v[30], "Pattern"), "Colorbars");

    r = call(port, "GET", "/api/version");
    ASSERT_EQ(r.status, 200);
    v = parse(r);
    ASSERT_EQ(v.size(), 1);
    EXPECT_EQ(member(v[0], "Software"), "317");
    EXPECT_EQ(member(v[0], "OS"), "Windows [Unknown]");
    EXPECT_EQ(member(v[0], "Application"), "Application-Version");
    EXPECT_EQ(member(v[0], "Gateware"), s.engine.raster->gatewareVersion());

    r = call(port, "GET", "/api/status");
    ASSERT_EQ(r.status, 200);
    v = parse(r);
    EXPECT_EQ(member(v, "name"), "testhost");
    EXPECT_EQ(member(v, "version"), "9.9.9");
    EXPECT_EQ(member(v, "videoFormat"), "1080p 60.00 3Ga (HDMI, SDI-3Ga)");
    EXPECT_EQ(member(v, "output"), "simulated kona");
    EXPECT_EQ(member(v, "pattern"), "Colorbars");
    EXPECT_EQ(member(v, "black"), "64");
    EXPECT_EQ(member(v, "white"), "940");
    EXPECT_EQ(member(v, "bits"), "10");
    EXPECT_EQ(member(v, "protocols"), "[{\"address\":\"\",\"name\":\"XML-RPC\",\"port\":9022},{\"address\":\"127.0.0.1\","
                                      "\"name\":\"web\",\"port\":" + std::to_string(port) + "}]");

    // The window-control page's model, with the panel's level arithmetic.
    r = call(port, "GET", "/api/window");
    ASSERT_EQ(r.status, 200);
    v = parse(r);
    EXPECT_EQ(member(v, "levels"), "[64,118,173,228,283,337,392,447,502,556,611,666,721,775,830,885,940]");
    EXPECT_EQ(member(v, "checked"), "12");
    EXPECT_EQ(member(v, "sizes"), "[\"10%\",\"18%\",\"100%\"]");
    EXPECT_EQ(member(v, "steps"), "[\"11\",\"17\",\"21\",\"33\"]");
    EXPECT_EQ(member(v, "colors"), "[\"White\",\"Red\",\"Green\",\"Blue\",\"Cyan\",\"Magenta\",\"Yellow\"]");
    v = parse(call(port, "GET", "/api/window?steps=11"));
    EXPECT_EQ(member(v, "levels"), "[64,151,239,326,414,502,589,677,764,852,940]");
    EXPECT_EQ(member(v, "checked"), "8");
    for (const char *bad : {"0", "1025", "abc", "17x", ""})
        EXPECT_EQ(call(port, "GET", std::string("/api/window?steps=") + bad).status, 400) << bad;

    // The page itself, served from memory with a strict content policy.
    r = call(port, "GET", "/");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.header("content-type"), "text/html; charset=utf-8");
    EXPECT_NE(r.header("content-security-policy").find("default-src 'none'"), std::string::npos);
    EXPECT_EQ(r.header("x-frame-options"), "DENY");
    EXPECT_NE(r.body.find("orvane.js"), std::string::npos);
    EXPECT_EQ(call(port, "GET", "/index.html").body, r.body);
    EXPECT_EQ(call(port, "GET", "/orvane.js").header("content-type"), "text/javascript; charset=utf-8");
    EXPECT_EQ(call(port, "GET", "/orvane.css").header("content-type"), "text/css; charset=utf-8");
    Reply head = call(port, "HEAD", "/");
    EXPECT_EQ(head.status, 200);
    EXPECT_TRUE(head.body.empty());
    // Nothing else is served: no folder reads, no look-alike names.
    for (const char *path : {"/api/nothing", "/orvanexjs", "/../README.md", "/web/index.html", "/%2e%2e/CMakeLists.txt",
                             "/api/patterns/x", "/datafiles/eterna.ttf"}) {
        r = call(port, "GET", path);
        EXPECT_EQ(r.status, 404) << path;
        EXPECT_NE(r.body.find("\"error\""), std::string::npos) << path;
    }
}

TEST(WebServer, ChangesGoThroughPostAndReachTheOutput)
{
    Server s;
    const int port = s.port;
    OvCore &core = s.engine.core;

    // A pattern by name, then options of the pattern shown; consecutive ids,
    // each waited for until it was on the output.
    XmlRpcValue a = parse(call(port, "POST", "/api/set?wait=1", "\"Window\""));
    const int id1 = a["id"].asInt();
    EXPECT_TRUE(a["waited"].asBool());
    a = parse(call(port, "POST", "/api/set?wait=1",
                    R"({"Size": 10, "Color_Red": 940, "Color_Green": 940, "Color_Blue": 940})"));
    EXPECT_EQ(a["id"].asInt(), id1 + 1);
    EXPECT_TRUE(a["waited"].asBool());
    EXPECT_GE(a["frame"].asDouble(), 2.0);
    QiParams cur;
    core.currentParams(cur);
    EXPECT_EQ(text(cur, "Pattern"), "Window");
    EXPECT_EQ(text(cur, "Size"), "10");
    // A 10% window at 1920 x 1080 is 607 x 341 at (657, 370).
    Picture p = boardPicture(core);
    ASSERT_TRUE(p.valid());
    EXPECT_EQ(static_cast<double>(p.sequence), a["frame"].asDouble());
    EXPECT_EQ(p.at(960, 540), (std::vector<int>{940, 940, 940}));
    EXPECT_EQ(p.at(660, 540), (std::vector<int>{940, 940, 940}));
    EXPECT_EQ(p.at(652, 540), (std::vector<int>{64, 64, 64}));
    EXPECT_EQ(p.at(960, 366), (std::vector<int>{64, 64, 64}));

    // JSON types become texts as XML-RPC's do: ints "%d", doubles "%f",
    // booleans "true"/"false".
    parse(call(port, "POST", "/api/set?wait=1", R"({"Steps": 8, "Level": 0.5, "OutputTitling": false})"));
    core.currentParams(cur);
    EXPECT_EQ(text(cur, "Steps"), "8");
    EXPECT_EQ(text(cur, "Level"), "0.500000");
    EXPECT_EQ(text(cur, "OutputTitling"), "false");
    EXPECT_EQ(text(cur, "Size"), "10") << "options not named keep their values";

    // Without wait the answer comes at once, with the id alone.
    a = parse(call(port, "POST", "/api/set", R"({"Size": 100})"));
    EXPECT_EQ(member(a, "waited"), "<absent>");
    EXPECT_TRUE(core.waitProcessed(a["id"].asInt(), 10s));

    // The window control: 18%, a cyan window at the top level.
    a = parse(call(port, "POST", "/api/window", R"({"size": "18%", "steps": 17, "level": 16, "color": "Cyan"})"));
    EXPECT_TRUE(a["waited"].asBool());
    EXPECT_EQ(member(a, "level"), "940");
    EXPECT_EQ(member(a["request"], "Pattern"), "Window");
    EXPECT_EQ(member(a["request"], "Size"), "18%");
    EXPECT_EQ(member(a["request"], "Color_Red"), "64");
    EXPECT_EQ(member(a["request"], "Color_Green"), "940");
    EXPECT_EQ(member(a["request"], "Color_Blue"), "940");
    p = boardPicture(core);
    const auto cyan = p.at(960, 540);
    EXPECT_NEAR(cyan[0], 64, 2);
    EXPECT_NEAR(cyan[1], 940, 2);
    EXPECT_NEAR(cyan[2], 940, 2);
    // 18%: 814 wide from x = 553.
    EXPECT_NEAR(p.at(557, 540)[1], 940, 2);
    EXPECT_NEAR(p.at(549, 540)[1], 64, 2);

    // Defaults: 10%, 17 steps, the checked level (721), white.
    a = parse(call(port, "POST", "/api/window", "{}"));
    EXPECT_EQ(member(a, "level"), "721");
    EXPECT_EQ(boardPicture(core).at(960, 540), (std::vector<int>{721, 721, 721}));
    // A level stepped down, 11 steps, magenta.
    a = parse(call(port, "POST", "/api/window", R"({"steps": "11", "level": 7, "color": "magenta"})"));
    EXPECT_EQ(member(a, "level"), "677");
    const auto magenta = boardPicture(core).at(960, 540);
    EXPECT_NEAR(magenta[0], 677, 2);
    EXPECT_NEAR(magenta[1], 64, 2);
    EXPECT_NEAR(magenta[2], 677, 2);

    // Aliases: made from a map or from what is shown, listed, selectable.
    a = parse(call(port, "POST", "/api/alias", R"({"AliasName": "web/full", "Pattern": "Window", "Size": "100"})"));
    EXPECT_EQ(member(a, "alias"), "web/full");
    EXPECT_EQ(member(parse(call(port, "GET", "/api/patterns")), "web/full"), "Alias/Window");
    parse(call(port, "POST", "/api/set?wait=1", "\"web/full\""));
    core.currentParams(cur);
    EXPECT_EQ(text(cur, "Size"), "100");
    // An alias of what is shown (a pattern, not an alias).
    parse(call(port, "POST", "/api/set?wait=1", R"({"Pattern": "Window", "Size": 33})"));
    const std::string longName(100, 'n');
    a = parse(call(port, "POST", "/api/alias", "{\"AliasName\": \"" + longName + "\", \"AliasType\": \"Pattern\"}"));
    EXPECT_EQ(member(a, "alias"), std::string(80, 'n'));
    QiParams list;
    core.listPatterns(list);
    EXPECT_EQ(text(list, std::string(80, 'n').c_str()), "Alias/Window");
}

TEST(WebServer, BadRequestsAreRefusedAndPostNothing)
{
    Server s;
    const int port = s.port;
    OvCore &core = s.engine.core;
    const int32_t before = probeId(core);

    struct Case {
        const char *path;
        std::string body;
        int status;
        const char *says;
    };
    const Case cases[] = {
        {"/api/set", "{\"Size\": ", 400, "not JSON"},
        {"/api/set", "{\"Size\": 10} trailing", 400, "not JSON"},
        {"/api/set", "", 400, "not JSON"},
        {"/api/set", "[1, 2]", 400, "JSON object"},
        {"/api/set", "42", 400, "JSON object"},
        {"/api/set", "null", 400, "not JSON"},
        {"/api/set", R"({"Size": [10]})", 400, "'Size' is an array"},
        {"/api/set", R"({"Color": {"Red": 1}})", 400, "'Color' is an object"},
        {"/api/set", R"({"Size": null})", 400, "not JSON"},
        {"/api/set", R"({"Pattern": "NoSuchPattern"})", 404, "no pattern or alias named 'NoSuchPattern'"},
        {"/api/set", "\"NoSuchPattern\"", 404, "NoSuchPattern"},
        {"/api/set", R"({"Pattern": "raster"})", 404, "raster"}, // aliases match exactly
        {"/api/set", R"({"Log": "127.0.0.1"})", 400, "XML-RPC only"},
        {"/api/set", std::string(70, '[') + std::string(70, ']'), 400, "not JSON"},
        {"/api/alias", R"({"Pattern": "Window"})", 400, "no name for alias"},
        {"/api/alias", R"({"AliasName": "x", "Pattern": "Nope"})", 404, "Nope"},
        {"/api/alias", R"({"AliasName": "x"})", 400, R"(needs \"Pattern\")"},
        {"/api/alias", R"({"AliasName": 5, "Pattern": "Window"})", 400, "without control"},
        {"/api/alias", "{\"AliasName\": \"a\\u0001b\", \"Pattern\": \"Window\"}", 400, "without control"},
        {"/api/window", R"({"size": "50%"})", 400, "not offered"},
        {"/api/window", R"({"steps": 0})", 400, "steps"},
        {"/api/window", R"({"steps": 17, "level": 17})", 400, "level"},
        {"/api/window", R"({"level": -1})", 400, "level"},
        {"/api/window", R"({"color": "Purple"})", 400, "not offered"},
        {"/api/window", R"({"size": 10})", 400, "size"},
        {"/api/window", "[]", 400, "JSON object"},
    };
    for (const Case &c : cases) {
        const Reply r = call(port, "POST", c.path, c.body);
        EXPECT_EQ(r.status, c.status) << c.path << " " << c.body << " -> " << r.body;
        EXPECT_NE(r.body.find(c.says), std::string::npos) << c.path << " " << c.body << " -> " << r.body;
        EXPECT_EQ(r.header("content-type"), "application/json") << c.body;
    }
    EXPECT_EQ(call(port, "GET", "/api/pattern?name=NoSuchPattern").status, 404);
    EXPECT_EQ(call(port, "GET", "/api/pattern").status, 400);
    EXPECT_EQ(call(port, "GET", "/api/set").status, 404) << "changes are POSTed";

    // Methods other than GET, HEAD and POST.
    for (const char *m : {"PUT", "DELETE", "OPTIONS", "PATCH", "TRACE"}) {
        const Reply r = call(port, m, "/api/set", "{}");
        EXPECT_EQ(r.status, 405) << m;
        EXPECT_EQ(r.header("allow"), "GET, HEAD, POST") << m;
    }

    // Bodies: too large (refused before it is read, connection closed),
    // chunked, compressed.
    {
        Conn c(port);
        ASSERT_TRUE(c.send("POST /api/set HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                           "\r\nContent-Type: application/json\r\nContent-Length: 5000000\r\n\r\n{\"Size\":"));
        const Reply r = c.read();
        EXPECT_EQ(r.status, 413) << r.body;
        EXPECT_TRUE(c.closedWithin(5s));
    }
    // The limit itself: 64 KiB of body is read, one byte more is not.
    {
        std::string body = R"({"Pattern": "NoSuchPattern"})";
        body.resize(64 * 1024, ' ');
        EXPECT_EQ(call(port, "POST", "/api/set", body).status, 404) << "read and judged";
        body += ' ';
        EXPECT_EQ(call(port, "POST", "/api/set", body).status, 413);
    }
    {
        Conn c(port);
        ASSERT_TRUE(c.send("POST /api/set HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                           "\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n"));
        EXPECT_EQ(c.read().status, 411);
        EXPECT_TRUE(c.closedWithin(5s));
    }
    EXPECT_EQ(call(port, "POST", "/api/set", "{}", "Content-Encoding: gzip\r\n").status, 415);
    EXPECT_EQ(call(port, "POST", "/api/set", "{}", "Content-Encoding: br\r\n").status, 415);

    // Not one of these reached the engine.
    EXPECT_EQ(probeId(core), before + 1);
}

TEST(WebServer, TheTokenIsRequiredOnEveryRequest)
{
    Server s(options("s3cret-T0ken"));
    const int port = s.port;
    const std::string cookie = "orvane_token_" + std::to_string(port);
    for (const char *path : {"/", "/orvane.js", "/api/patterns", "/api/status", "/api/live", "/api/snapshot"}) {
        EXPECT_EQ(call(port, "GET", path).status, 401) << path;
        EXPECT_EQ(call(port, "GET", path, "", "Authorization: Bearer s3cret-T0ken\r\n").status == 401, false) << path;
    }
    const int32_t before = probeId(s.engine.core);
    Reply r = call(port, "POST", "/api/set", R"({"Size": 5})");
    EXPECT_EQ(r.status, 401);
    EXPECT_EQ(r.header("www-authenticate"), "Bearer realm=\"orvane\"");
    EXPECT_EQ(call(port, "POST", "/api/set", R"({"Size": 5})", "X-Orvane-Token: s3cret-T0ken2\r\n").status, 401);
    EXPECT_EQ(call(port, "POST", "/api/set", R"({"Size": 5})", "X-Orvane-Token: s3cret-T0ke\r\n").status, 401);
    EXPECT_EQ(call(port, "POST", "/api/set", R"({"Size": 5})", "Authorization: Basic s3cret-T0ken\r\n").status, 401);
    EXPECT_EQ(call(port, "POST", "/api/set", R"({"Size": 5})", "Cookie: orvane_token=s3cret-T0ken\r\n").status, 401)
        << "another port's cookie";
    EXPECT_EQ(probeId(s.engine.core), before + 1) << "refused requests post nothing";

    // Each way of carrying it: header, bearer, cookie, query.
    EXPECT_EQ(call(port, "POST", "/api/set", R"({"Size": 5})", "X-Orvane-Token: s3cret-T0ken\r\n").status, 200);
    EXPECT_EQ(call(port, "POST", "/api/set", R"({"Size": 5})", "Authorization: Bearer s3cret-T0ken\r\n").status, 200);
    EXPECT_EQ(call(port, "POST", "/api/set", R"({"Size": 5})", "Cookie: a=b; " + cookie + "=s3cret-T0ken\r\n").status,
              200);
    EXPECT_EQ(call(port, "GET", "/api/status?token=s3cret-T0ken").status, 200);
    EXPECT_EQ(call(port, "GET", "/api/status?token=wrong").status, 401);

    // A browser opening /?token=... gets the cookie and a clean address.
    r = call(port, "GET", "/?token=s3cret-T0ken");
    EXPECT_EQ(r.status, 303);
    EXPECT_EQ(r.header("location"), "/");
    EXPECT_EQ(r.header("set-cookie"), cookie + "=s3cret-T0ken; Path=/; HttpOnly; SameSite=Strict");
    // Without it, a page that says how to get in.
    r = call(port, "GET", "/");
    EXPECT_EQ(r.status, 401);
    EXPECT_NE(r.body.find("?token="), std::string::npos);
    EXPECT_EQ(r.header("content-type"), "text/html; charset=utf-8");
}

TEST(WebServer, OtherOriginsAndForeignHostNamesAreRefused)
{
    Server s(options("tok"));
    const int port = s.port;
    const std::string host = "127.0.0.1:" + std::to_string(port);
    const std::string auth = "X-Orvane-Token: tok\r\n";
    const int32_t before = probeId(s.engine.core);

    // Another page in the browser, even with the token (a cookie would ride
    // along): refused, and nothing is posted.
    for (const std::string &origin : std::vector<std::string>{"http://evil.example", "http://127.0.0.1:1", "https://" + host, "null",
                                     "http://" + host + ".evil.example", "http://localhost:" + std::to_string(port)}) {
        const Reply r = call(port, "POST", "/api/set", R"({"Pattern": "Window"})", auth + "Origin: " + origin + "\r\n");
        EXPECT_EQ(r.status, 403) << origin;
        EXPECT_NE(r.body.find("other web pages"), std::string::npos) << origin;
    }
    EXPECT_EQ(call(port, "GET", "/api/snapshot", "", auth + "Sec-Fetch-Site: cross-site\r\n").status, 403);
    EXPECT_EQ(call(port, "GET", "/api/live", "", auth + "Sec-Fetch-Site: same-site\r\n").status, 403);
    EXPECT_EQ(probeId(s.engine.core), before + 1);

    // The page's own requests pass.
    EXPECT_EQ(call(port, "POST", "/api/set", R"({"Size": 7})", auth + "Origin: http://" + host + "\r\n").status, 200);
    EXPECT_EQ(call(port, "GET", "/api/status", "", auth + "Sec-Fetch-Site: same-origin\r\n").status, 200);
    EXPECT_EQ(call(port, "GET", "/", "", auth + "Sec-Fetch-Site: none\r\n").status, 200);

    // A name pointed at this machine by someone else's DNS is not this
    // server's name; neither is a wrong port.
    auto withHost = [&](const std::string &h) {
        Conn c(port);
        c.send("GET /api/status HTTP/1.1\r\nHost: " + h + "\r\n" + auth + "\r\n");
        return c.read().status;
    };
    EXPECT_EQ(withHost("evil.example:" + std::to_string(port)), 403);
    EXPECT_EQ(withHost("127.0.0.1:" + std::to_string(port + 1)), 403);
    EXPECT_EQ(withHost("127.0.0.1"), port == 80 ? 200 : 403);
    EXPECT_EQ(withHost("testhost.evil.example:" + std::to_string(port)), 403);
    EXPECT_EQ(withHost(""), 403);
    EXPECT_EQ(withHost("localhost:" + std::to_string(port)), 200);
    EXPECT_EQ(withHost("[::1]:" + std::to_string(port)), 200);
    EXPECT_EQ(withHost("LOCALHOST:" + std::to_string(port)), 200);
    {
        Conn c(port);
        c.send("GET /api/status HTTP/1.1\r\n" + auth + "\r\n");
        EXPECT_EQ(c.read().status, 403) << "no Host at all";
    }
}

TEST(WebServer, AccessRulesForNamesAndTokens)
{
    // Loopback only: IP literals, localhost and the machine's exact name.
    OvWebAccess local("", 8080, {"rack7"}, true);
    EXPECT_TRUE(local.hostAllowed("rack7:8080"));
    EXPECT_TRUE(local.hostAllowed("RACK7:8080"));
    EXPECT_FALSE(local.hostAllowed("rack7.studio.lan:8080"));
    EXPECT_TRUE(local.hostAllowed("10.0.0.5:8080"));
    EXPECT_FALSE(local.hostAllowed("10.0.0.5:80"));
    EXPECT_FALSE(local.hostAllowed("10.0.0.5:8080x"));
    EXPECT_FALSE(local.hostAllowed("10.0.0.5:"));
    EXPECT_FALSE(local.hostAllowed("[::1:8080"));
    EXPECT_FALSE(local.hostAllowed("[nonsense]:8080"));
    EXPECT_FALSE(local.hostAllowed(":8080"));
    // Serving the network: a name from the local DNS whose first label is
    // the machine's.
    OvWebAccess net("", 80, {"rack7"}, false);
    EXPECT_TRUE(net.hostAllowed("rack7.studio.lan"));
    EXPECT_TRUE(net.hostAllowed("rack7"));
    EXPECT_FALSE(net.hostAllowed("rack77.studio.lan"));
    EXPECT_FALSE(net.hostAllowed("xrack7.studio.lan"));

    EXPECT_TRUE(OvWebAccess::validToken("a-Z_0.9~+/="));
    for (const char *bad : {"", "has space", "quo\"te", "com,ma", "semi;colon", "back\\slash", "tab\t", "\x7f"})
        EXPECT_FALSE(OvWebAccess::validToken(bad)) << bad;
    EXPECT_FALSE(OvWebAccess::validToken(std::string(1025, 'a')));
    EXPECT_EQ(OvWebAccess::cookieValue("a=1; orvane_token_80=\"x y\"; b=2", "orvane_token_80"), "x y");
    EXPECT_EQ(OvWebAccess::cookieValue("orvane_token_8080=z", "orvane_token_80"), "");
}

TEST(WebServer, TheLiveViewFollowsTheOutput)
{
    Server s;
    const int port = s.port;
    OvCore &core = s.engine.core;

    // The picture now on the output: a PNG of the frame at 640 x 360.
    Reply r = call(port, "GET", "/api/live");
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(r.header("content-type"), "image/png");
    EXPECT_EQ(r.header("x-orvane-format"), "1080p 60.00 3Ga (HDMI, SDI-3Ga)");
    EXPECT_EQ(r.header("x-orvane-source"), "1920x1080 v210");
    const uint64_t first = std::stoull(r.header("x-orvane-frame"));
    EXPECT_EQ(first, SimBoards::outputSequence());
    auto img = loadImageFromMemory(reinterpret_cast<const uint8_t *>(r.body.data()), r.body.size(), 8, nullptr);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->width(), 640);
    EXPECT_EQ(img->height(), 360);
    // Other sizes on request, within limits.
    const Reply square = call(port, "GET", "/api/live?w=320&h=320");
    img = loadImageFromMemory(reinterpret_cast<const uint8_t *>(square.body.data()), square.body.size(), 8, nullptr);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->width(), 320);
    EXPECT_EQ(img->height(), 180);
    EXPECT_EQ(call(port, "GET", "/api/live?w=big").status, 400);

    // Nothing new: the long poll ends empty when its wait is over.
    const auto t0 = Clock::now();
    r = call(port, "GET", "/api/live?after=" + std::to_string(first) + "&wait=300");
    EXPECT_EQ(r.status, 204);
    EXPECT_GE(Clock::now() - t0, 300ms);
    EXPECT_LT(Clock::now() - t0, 3s);

    // A change while a page waits: the new picture comes within a second.
    auto waiting = std::async(std::launch::async, [&] {
        const auto start = Clock::now();
        Reply got = call(port, "GET", "/api/live?after=" + std::to_string(first) + "&wait=10000&w=192&h=108");
        return std::make_pair(got, Clock::now() - start);
    });
    std::this_thread::sleep_for(100ms);
    const auto changed = Clock::now();
    QiParams p;
    p.set("Pattern", "Window");
    p.set("Size", "100");
    p.setInt("Color_Red", 940);
    p.setInt("Color_Green", 64);
    p.setInt("Color_Blue", 64);
    const int32_t id = core.post(p);
    auto [live, took] = waiting.get();
    const auto latency = Clock::now() - changed;
    ASSERT_EQ(live.status, 200);
    EXPECT_LT(latency, 1s) << "change to live view";
    EXPECT_TRUE(core.waitProcessed(id, 5s));
    EXPECT_GT(std::stoull(live.header("x-orvane-frame")), first);
    img = loadImageFromMemory(reinterpret_cast<const uint8_t *>(live.body.data()), live.body.size(), 8, nullptr);
    ASSERT_TRUE(img);
    ASSERT_EQ(img->width(), 192);
    // A full-field red window: video levels shown as full range.
    const uint64_t w = img->pixel(96, 54);
    EXPECT_NEAR(img->red(w), 255, 2);
    EXPECT_NEAR(img->green(w), 0, 2);
    EXPECT_NEAR(img->blue(w), 0, 2);
    std::printf("[ figures ] change to live view %.1f ms (the poll itself %.1f ms)\n",
                std::chrono::duration<double, std::milli>(latency).count(),
                std::chrono::duration<double, std::milli>(took).count());

    // Pages that ask for the same frame share one picture.
    const uint64_t made = s.web->live().made();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(call(port, "GET", "/api/live?w=192&h=108").status, 200);
    EXPECT_EQ(s.web->live().made(), made);
}

namespace {

// A card without a simulated board behind it: the live view reads the
// frame buffer.
class PlainRaster : public CountingRaster {
public:
    PlainRaster()
    {
        QiImage::resize(384, 216);
        m_blackLevel = 64;
        m_whiteLevel = 940;
    }
};

} // namespace

TEST(WebServer, WithoutABoardTheLiveViewIsTheFrameBuffer)
{
    SimBoards::selectNone();
    PlainRaster raster;
    OvCore core;
    core.start(&raster, ORVANE_DATA_DIR, ovBuiltinRenderers());
    {
        OvWebServer web(&core, options());
        std::string why;
        ASSERT_TRUE(web.start(why)) << why;
        const int port = web.port();
        // Nothing drawn yet: no picture, and no error either.
        EXPECT_EQ(call(port, "GET", "/api/live").status, 204);

        // A white 10% window on black: 940 shows as 255, 64 as 0, at the
        // frame's own size halved (the box asks for 192 x 108).
        const Reply set = call(port, "POST", "/api/set?wait=1",
                               R"({"Pattern": "Window", "Size": 10, "Color_Red": 940, "Color_Green": 940,)"
                               R"( "Color_Blue": 940, "BgColor_Red": 64, "BgColor_Green": 64, "BgColor_Blue": 64})");
        ASSERT_EQ(set.status, 200) << set.body;
        const Reply r = call(port, "GET", "/api/live?w=192&h=108");
        ASSERT_EQ(r.status, 200) << r.body;
        EXPECT_EQ(r.header("x-orvane-source"), "384x216 framebuffer");
        EXPECT_EQ(std::stoull(r.header("x-orvane-frame")), core.framesPresented());
        auto img = loadImageFromMemory(reinterpret_cast<const uint8_t *>(r.body.data()), r.body.size(), 8, nullptr);
        ASSERT_TRUE(img);
        ASSERT_EQ(img->width(), 192);
        ASSERT_EQ(img->height(), 108);
        const uint64_t centre = img->pixel(96, 54), corner = img->pixel(2, 2);
        EXPECT_EQ(img->red(centre), 255);
        EXPECT_EQ(img->blue(centre), 255);
        EXPECT_EQ(img->green(corner), 0);

        // The next frame is announced to a waiting page.
        const uint64_t frame = std::stoull(r.header("x-orvane-frame"));
        auto waiting = std::async(std::launch::async, [&] {
            return call(port, "GET", "/api/live?w=192&h=108&wait=5000&after=" + std::to_string(frame));
        });
        std::this_thread::sleep_for(50ms);
        ASSERT_EQ(call(port, "POST", "/api/set", R"({"Color_Green": 64})").status, 200);
        const Reply next = waiting.get();
        ASSERT_EQ(next.status, 200);
        EXPECT_GT(std::stoull(next.header("x-orvane-frame")), frame);
        img = loadImageFromMemory(reinterpret_cast<const uint8_t *>(next.body.data()), next.body.size(), 8, nullptr);
        ASSERT_TRUE(img);
        EXPECT_EQ(img->green(img->pixel(96, 54)), 0) << "a magenta window now";
        EXPECT_EQ(img->red(img->pixel(96, 54)), 255);
        web.shutdown();
    }
    core.shutdown();
}

TEST(WebServer, PicturesOfAFastChangingOutputAreRateLimited)
{
    Server s;
    const int port = s.port;
    OvCore &core = s.engine.core;
    std::atomic<bool> run{true};
    // The output changes as fast as the engine draws.
    std::thread changer([&] {
        int n = 0;
        while (run) {
            QiParams p;
            p.set("Pattern", "Window");
            p.setInt("Size", 10 + (n++ % 50));
            core.waitProcessed(core.post(p), 5s);
        }
    });
    const uint64_t made0 = s.web->live().made();
    const auto t0 = Clock::now();
    uint64_t after = 0;
    int answers = 0;
    // At least 1.5 s and three pictures (a loaded machine under the
    // sanitizers may take longer for them).
    while ((Clock::now() - t0 < 1500ms || answers < 3) && Clock::now() - t0 < 15s) {
        const Reply r = call(port, "GET", "/api/live?after=" + std::to_string(after) + "&wait=1000&w=160&h=90");
        if (r.status == 200) {
            ++answers;
            after = std::stoull(r.header("x-orvane-frame"));
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    run = false;
    changer.join();
    const uint64_t made = s.web->live().made() - made0;
    EXPECT_GE(answers, 3);
    // At most one picture per 100 ms, whatever the rate of frames.
    EXPECT_LE(static_cast<double>(made), seconds * 10 + 2) << made << " pictures in " << seconds << " s";
}

TEST(WebServer, SnapshotIsTheFrameBufferAsPng)
{
    Server s;
    const Reply r = call(s.port, "GET", "/api/snapshot");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.header("content-type"), "image/png");
    EXPECT_NE(r.header("content-disposition").find("attachment; filename=\"orvane-snapshot-"), std::string::npos);
    auto img = loadImageFromMemory(reinterpret_cast<const uint8_t *>(r.body.data()), r.body.size(), 8, nullptr);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->width(), 1920);
    EXPECT_EQ(img->height(), 1080);
    // The same bytes as the panel's snapshot file of the same frame.
    std::vector<uint8_t> png;
    ASSERT_TRUE(s.engine.core.encodeImageAsPng(png));
    EXPECT_EQ(std::string(png.begin(), png.end()), r.body);
}

TEST(WebServer, WaitsWorkWhileAnotherCallerWaitsToo)
{
    Server s;
    OvCore &core = s.engine.core;
    // Another client (the panel, XML-RPC) holds the engine's one
    // waitTransaction place while the web page waits for its own request.
    std::atomic<bool> run{true};
    std::thread other([&] {
        while (run) {
            QiParams p;
            p.set("Pattern", "Window");
            bool r;
            core.waitTransaction(core.post(p), r);
        }
    });
    for (int i = 0; i < 5; ++i) {
        XmlRpcValue a = parse(call(s.port, "POST", "/api/set?wait=1", R"({"Pattern": "Colorbars"})"));
        EXPECT_TRUE(a["waited"].asBool());
    }
    run = false;
    other.join();
}

TEST(WebServer, PartialContentIsNeverServed)
{
    Server s;
    std::string ranges = "Range: bytes=0-1";
    for (int i = 0; i < 500; ++i)
        ranges += ",0-1";
    const Reply whole = call(s.port, "GET", "/orvane.js");
    const Reply r = call(s.port, "GET", "/orvane.js", "", ranges + "\r\n");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, whole.body);
}

TEST(WebServer, ConnectionsAreCappedAndTimedOut)
{
    OvWebServer::Options o = options();
    o.limits.workers = 2;
    o.limits.maxConnections = 4;
    o.limits.idle = 400ms;
    o.limits.requestTime = 800ms;
    o.limits.requestsPerConnection = 3;
    Server s(o);
    const int port = s.port;

    // Idle connections past the cap are answered 503 at once.
    {
        std::vector<std::unique_ptr<Conn>> idle;
        for (int i = 0; i < 4; ++i)
            idle.push_back(std::make_unique<Conn>(port));
        std::this_thread::sleep_for(100ms);
        Conn extra(port);
        extra.send(request(port, "GET", "/api/status"));
        const Reply r = extra.read(2s);
        EXPECT_EQ(r.status, 503);
        EXPECT_EQ(r.body, "too many connections");
        EXPECT_GE(s.web->http().refusedConnections(), 1u);
        // The idle ones are closed after their idle time, freeing the room.
        for (auto &c : idle)
            EXPECT_TRUE(c->closedWithin(3s));
    }
    for (int i = 0; i < 100 && s.web->http().openConnections() > 0; ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(call(port, "GET", "/api/status").status, 200);

    // A request that never ends (headers trickling in) is cut off.
    {
        Conn slow(port);
        const auto t0 = Clock::now();
        slow.send("GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n");
        bool closed = false;
        for (int i = 0; i < 40 && !closed; ++i) {
            slow.send("X-Slow: " + std::to_string(i) + "\r\n");
            closed = slow.closedWithin(100ms);
        }
        EXPECT_TRUE(closed || slow.closedWithin(2s));
        EXPECT_LT(Clock::now() - t0, 3s);
    }
    // Endless headers sent at once stop at the request's byte budget.
    {
        Conn flood(port);
        std::string junk = "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n";
        std::string line = "X-Flood: " + std::string(100, 'f') + "\r\n";
        while (junk.size() < 4 * 1024 * 1024)
            junk += line;
        std::thread sender([&] { flood.send(junk); });
        EXPECT_TRUE(flood.closedWithin(5s));
        ::shutdown(flood.fd(), SHUT_RDWR);
        sender.join();
    }
    // Keep-alive: three requests, then the connection closes.
    {
        Conn c(port);
        for (int i = 0; i < 3; ++i) {
            c.send(request(port, "GET", "/api/status"));
            const Reply r = c.read(2s);
            EXPECT_EQ(r.status, 200) << i;
            if (i == 2) {
                EXPECT_EQ(r.header("connection"), "close");
            }
        }
        EXPECT_TRUE(c.closedWithin(2s));
    }
}

TEST(WebServer, ShutdownEndsEveryConnectionAtOnce)
{
    Server s;
    const int port = s.port;
    // An idle keep-alive connection, a long poll and a half-sent request.
    Conn idle(port);
    idle.send(request(port, "GET", "/api/status"));
    EXPECT_EQ(idle.read().status, 200);
    Conn poll(port);
    poll.send(request(port, "GET", "/api/live?after=" + std::to_string(SimBoards::outputSequence()) + "&wait=10000"));
    Conn half(port);
    half.send("POST /api/set HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nContent-Length: 100\r\n\r\n{");
    std::this_thread::sleep_for(200ms);
    const auto t0 = Clock::now();
    s.web->shutdown();
    EXPECT_LT(Clock::now() - t0, 1s);
    EXPECT_TRUE(idle.closedWithin(1s));
    EXPECT_TRUE(poll.closedWithin(1s));
    EXPECT_TRUE(half.closedWithin(1s));
    EXPECT_FALSE(Conn(port).ok()) << "nothing listens any more";
    s.web->shutdown(); // again: nothing happens
}

TEST(WebServer, APortInUseIsReported)
{
    SimEngine e;
    OvWebServer first(&e.core, options());
    std::string why;
    ASSERT_TRUE(first.start(why));
    OvWebServer::Options o = options();
    o.port = first.port();
    OvWebServer second(&e.core, o);
    EXPECT_FALSE(second.start(why));
    EXPECT_NE(why.find(std::to_string(first.port())), std::string::npos) << why;
    second.shutdown();
    // The first still serves.
    EXPECT_EQ(call(first.port(), "GET", "/api/status").status, 200);
}

TEST(WebServer, WorkersRunNicerThanTheProgram)
{
    OvWebHttp http(OvWebHttp::Limits{});
    http.Get("/nice", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(std::to_string(::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)))),
                        "text/plain");
    });
    const int port = http.bind("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    std::thread serving([&] { http.serve(); });
    const int program = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
    const Reply r = call(port, "GET", "/nice");
    http.stopAll();
    serving.join();
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(std::stoi(r.body), std::min(program + OvWebHttp::kWorkerNiceness, 19));
    EXPECT_EQ(::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid))), program)
        << "the caller's own priority is left alone";
}
