// What other XML-RPC libraries send: empty elements written short, blanks
// and line breaks in and between tags, <i8>, <nil/>. Read as the long form
// would be; unknown type tags and unreadable multicalls are faults.
#include "OvcXmlPrivates.h"
#include "RemoteTestEngine.h"
#include "RemoteTestUtil.h"
#include "XmlRpcServer.h"
#include "XmlRpcUtil.h"
#include "XmlRpcValue.h"

#include <gtest/gtest.h>

#include <charconv>
#include <chrono>
#include <climits>
#include <random>

using namespace remotetest;

namespace {

struct Read {
    bool ok;
    XmlRpcValue value;
    size_t end;
};

Read readAt(const std::string &xml, size_t from = 0)
{
    Read r{false, XmlRpcValue(), from};
    r.ok = r.value.fromXml(xml, &r.end);
    return r;
}

std::string repeat(const std::string &s, size_t times)
{
    std::string out;
    out.reserve(s.size() * times);
    for (size_t i = 0; i < times; ++i)
        out += s;
    return out;
}

} // namespace

// Each short or spaced form reads as the same value as its long form, and
// the position after it is the end of what was written.
TEST(XmlRpcInterop, ShortFormsReadAsTheirLongForms)
{
    struct Case {
        std::string shortForm, longForm;
    } cases[] = {
        {"<value/>", "<value></value>"},
        {"<value />", "<value></value>"},
        {"<value><string/></value>", "<value><string></string></value>"},
        {"<value><string \n/></value>", "<value></value>"},
        {"<value><base64/></value>", "<value><base64></base64></value>"},
        {"<value><array><data/></array></value>", "<value><array><data></data></array></value>"},
        {"<value><array><data /></array></value>", "<value><array><data></data></array></value>"},
        {"<value><struct/></value>", "<value><struct></struct></value>"},
        {"<value><struct><member><name/><value/></member></struct></value>",
         "<value><struct><member><name></name><value></value></member></struct></value>"},
        {"<value ><i4 >7</i4 ></value >", "<value><i4>7</i4></value>"},
        {"<value\n>\n  <array\t>\n    <data>\n      <value><string/></value>\n      <value >x</value >\n"
         "    </data >\n  </array>\n</value\r\n>",
         "<value><array><data><value></value><value>x</value></data></array></value>"},
        {"<value><struct>\n <member>\n  <name>a</name>\n  <value><string /></value>\n </member>\n"
         " <member><name>b</name><value><array><data/></array></value></member>\n</struct></value>",
         "<value><struct><member><name>a</name><value></value></member><member><name>b</name><value>"
         "<array><data></data></array></value></member></struct></value>"},
    };
    for (const Case &c : cases) {
        const Read s = readAt(c.shortForm + "<value>next</value>");
        const Read l = readAt(c.longForm);
        ASSERT_TRUE(l.ok) << c.longForm;
        EXPECT_TRUE(s.ok) << c.shortForm;
        EXPECT_EQ(s.value, l.value) << c.shortForm;
        EXPECT_TRUE(s.value.valid()) << c.shortForm;
        EXPECT_EQ(s.end, c.shortForm.size()) << c.shortForm;
    }

    // From a position after rewritten tags, in the middle of a text.
    const std::string text = "<value/><value ><string/></value ><value><i4>3</i4></value>";
    Read first = readAt(text);
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(first.end, 8u);
    Read second = readAt(text, first.end);
    EXPECT_EQ(second.value, XmlRpcValue(""));
    EXPECT_EQ(second.end, 34u);
    Read third = readAt(text, second.end);
    EXPECT_EQ(third.value, XmlRpcValue(3));
    EXPECT_EQ(third.end, text.size());

    // Not tags, or not empty ones: read as before.
    EXPECT_EQ(readAt("<value>a /> b</value>").value, XmlRpcValue("a /> b"));
    EXPECT_FALSE(readAt("<value><string x/></value>").ok) << "attributes are not taken";
    EXPECT_FALSE(readAt("<value></ string></value>").ok);
    EXPECT_FALSE(readAt("<value><array/></value>").ok) << "like <array></array>: <data> is required";
    EXPECT_FALSE(readAt("<value><i4/></value>").ok) << "like <i4></i4>: no digits";
    EXPECT_FALSE(readAt("<value><boolean /></value>").ok);
    // An unterminated short form at the end of the text.
    Read cut = readAt("<value><string/>");
    EXPECT_EQ(cut.value, XmlRpcValue(""));
    EXPECT_EQ(cut.end, 16u);
}

TEST(XmlRpcInterop, I8AndNilReadLeniently)
{
    // <i8> is an int, saturated at the 32-bit limits.
    EXPECT_EQ(readAt("<value><i8>42</i8></value>").value, XmlRpcValue(42));
    EXPECT_EQ(readAt("<value><i8>2147483647</i8></value>").value, XmlRpcValue(INT_MAX));
    EXPECT_EQ(readAt("<value><i8>2147483648</i8></value>").value, XmlRpcValue(INT_MAX));
    EXPECT_EQ(readAt("<value><i8>1099511627776</i8></value>").value, XmlRpcValue(INT_MAX));
    EXPECT_EQ(readAt("<value><i8>-2147483649</i8></value>").value, XmlRpcValue(INT_MIN));
    EXPECT_EQ(readAt("<value><i8>-9223372036854775808</i8></value>").value, XmlRpcValue(INT_MIN));
    EXPECT_EQ(readAt("<value><i8>99999999999999999999999</i8></value>").value, XmlRpcValue(INT_MAX));
    EXPECT_FALSE(readAt("<value><i8>x</i8></value>").ok);
    EXPECT_EQ(XmlRpcValue(INT_MAX).toXml(), "<value><i4>2147483647</i4></value>") << "written as ever";

    // <nil/> reads, as nothing: an absent value.
    for (const std::string nil : {"<value><nil/></value>", "<value><nil /></value>", "<value><nil></nil></value>"}) {
        Read r = readAt(nil + "<value>x</value>");
        EXPECT_TRUE(r.ok) << nil;
        EXPECT_FALSE(r.value.valid()) << nil;
        EXPECT_EQ(r.end, nil.size()) << nil;
        EXPECT_EQ(r.value.toXml(), "");
    }
    // A struct member holding nil is dropped (a later one of that name is
    // then the first); an array keeps the element's place.
    Read s = readAt("<value><struct><member><name>a</name><value><nil/></value></member>"
                    "<member><name>b</name><value><i4>1</i4></value></member>"
                    "<member><name>a</name><value><i4>2</i4></value></member></struct></value>");
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.value.size(), 2);
    EXPECT_EQ(s.value["a"], XmlRpcValue(2));
    Read a = readAt("<value><array><data><value><i4>1</i4></value><value><nil/></value>"
                    "<value><i4>3</i4></value></data></array></value>");
    ASSERT_TRUE(a.ok);
    ASSERT_EQ(a.value.size(), 3);
    EXPECT_FALSE(a.value[1].valid());
    EXPECT_EQ(a.value[2], XmlRpcValue(3));

    // Other type tags fail as they always did, and the scanner names the
    // first one met.
    for (const char *unknown : {"<value><i16>1</i16></value>", "<value><ex:nil/></value>", "<value><float>1</float></value>",
                                "<value><struct><member><name>m</name><value><bigint>1</bigint></value></member>"
                                "</struct></value>"}) {
        std::string text = unknown;
        XmlRpcScanner scanner(text);
        size_t at = 0;
        XmlRpcValue v;
        EXPECT_FALSE(v.fromXml(scanner, &at)) << unknown;
        EXPECT_EQ(at, 0u);
        EXPECT_FALSE(scanner.unknownTag().empty()) << unknown;
    }
    std::string text = "<value><i4>1</i4></value>";
    XmlRpcScanner known(text);
    size_t at = 0;
    XmlRpcValue v(known, &at);
    EXPECT_TRUE(known.unknownTag().empty());
    EXPECT_FALSE(known.cutShort());
    text = "<value><x/></value>";
    XmlRpcScanner x(text);
    at = 0;
    v.fromXml(x, &at);
    EXPECT_EQ(x.unknownTag(), "<x>");
}

namespace {

// Writes values the way other libraries do: type tags on strings, <int> or
// <i8>, empty elements short, blanks in tags, indentation and line breaks
// between elements. An independent writer, not the one under test.
class ForeignWriter {
public:
    explicit ForeignWriter(std::mt19937 &rng) : m_rng(rng) {}

    std::string write(const XmlRpcValue &v)
    {
        std::string x;
        element(v, x);
        return x;
    }

private:
    int pick(int n) { return static_cast<int>(m_rng() % static_cast<unsigned>(n)); }
    std::string gap()
    {
        static const char *gaps[] = {"", "", "\n", "\n  ", " ", "\r\n\t", "\n    "};
        return gaps[pick(7)];
    }
    // "<name>" with blanks before '>' now and then.
    std::string open(const char *name) { return std::string("<") + name + (pick(5) == 0 ? " >" : ">"); }
    std::string close(const char *name) { return std::string("</") + name + (pick(5) == 0 ? "\n>" : ">"); }
    std::string empty(const char *name) { return std::string("<") + name + (pick(2) ? "/>" : " />"); }

    void element(const XmlRpcValue &v, std::string &x)
    {
        if (v.getType() == XmlRpcValue::TypeString && v.asString().empty()) {
            static const char *forms[] = {"<value/>", "<value />", "<value></value>", "<value><string/></value>",
                                          "<value><string /></value>", "<value><string></string></value>"};
            x += forms[pick(6)];
            return;
        }
        x += open("value") + gap();
        switch (v.getType()) {
        case XmlRpcValue::TypeBoolean: x += open("boolean") + (v.asBool() ? "1" : "0") + close("boolean"); break;
        case XmlRpcValue::TypeInt: {
            static const char *tags[] = {"int", "i4", "i8"};
            const char *t = tags[pick(3)];
            x += open(t) + std::to_string(v.asInt()) + close(t);
            break;
        }
        case XmlRpcValue::TypeDouble: {
            // As C-locale libraries write it, whatever this run's locale.
            char buf[64];
            const auto res = std::to_chars(buf, buf + sizeof buf, v.asDouble(), std::chars_format::general, 17);
            x += open("double") + std::string(buf, res.ptr) + close("double");
            break;
        }
        case XmlRpcValue::TypeString: x += open("string") + XmlRpcUtil::xmlEncode(v.asString()) + close("string"); break;
        case XmlRpcValue::TypeDateTime: {
            const std::tm &t = v.asTime();
            char buf[64];
            snprintf(buf, sizeof buf, "%04d%02d%02dT%02d:%02d:%02d", t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour,
                     t.tm_min, t.tm_sec);
            x += open("dateTime.iso8601") + buf + close("dateTime.iso8601");
            break;
        }
        case XmlRpcValue::TypeBase64:
            if (v.asBinary().empty()) {
                x += empty("base64");
            } else {
                // The long form, read back through the reader's own base64.
                std::string mine = v.toXml();
                x += mine.substr(7, mine.size() - 15);
            }
            break;
        case XmlRpcValue::TypeArray:
            x += open("array") + gap();
            if (v.size() == 0) {
                x += empty("data");
            } else {
                x += open("data") + gap();
                for (const XmlRpcValue &e : v.array())
                    element(e, x), x += gap();
                x += close("data");
            }
            x += gap() + close("array");
            break;
        case XmlRpcValue::TypeStruct:
            if (v.size() == 0 && pick(2)) {
                x += empty("struct");
                break;
            }
            x += open("struct") + gap();
            for (const auto &[name, m] : v.structMembers()) {
                // Now and then a nil member first, which must vanish.
                if (pick(4) == 0)
                    x += "<member><name>" + name + "_nil</name><value><nil/></value></member>" + gap();
                x += open("member") + gap() + "<name>" + name + "</name>" + gap();
                element(m, x);
                x += gap() + close("member") + gap();
            }
            x += close("struct");
            break;
        default: break;
        }
        x += gap() + close("value");
    }

    std::mt19937 &m_rng;
};

XmlRpcValue randomValue(std::mt19937 &rng, int depth)
{
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto text = [&] {
        const char alphabet[] = "ab <>&'\"xyz#1";
        std::string s;
        for (int n = pick(3) == 0 ? 0 : pick(10); n > 0; --n)
            s += alphabet[pick(sizeof alphabet - 1)];
        return s;
    };
    switch (pick(depth > 3 ? 6 : 8)) {
    case 0: return XmlRpcValue(pick(2) == 0);
    case 1: return XmlRpcValue(static_cast<int>(rng()));
    case 2: return XmlRpcValue((pick(2000001) - 1000000) / 64.0);
    case 3: return XmlRpcValue(text());
    case 4: {
        std::tm t{};
        t.tm_year = 1900 + pick(200);
        t.tm_mon = 1 + pick(12);
        t.tm_mday = 1 + pick(28);
        t.tm_hour = pick(24);
        t.tm_min = pick(60);
        t.tm_sec = pick(60);
        t.tm_isdst = -1;
        return XmlRpcValue(t);
    }
    case 5: {
        std::vector<uint8_t> b(static_cast<size_t>(pick(3) == 0 ? 0 : pick(90)));
        for (auto &c : b)
            c = static_cast<uint8_t>(rng());
        return XmlRpcValue(b.data(), b.size());
    }
    case 6: {
        XmlRpcValue a{XmlRpcValue::ValueArray{}};
        for (int k = 0, n = pick(3) == 0 ? 0 : pick(5); k < n; ++k)
            a[k] = randomValue(rng, depth + 1);
        return a;
    }
    default: {
        XmlRpcValue s{XmlRpcValue::ValueStruct{}};
        for (int k = 0, n = pick(3) == 0 ? 0 : pick(5); k < n; ++k)
            s["m" + std::to_string(pick(100))] = randomValue(rng, depth + 1);
        return s;
    }
    }
}

} // namespace

// Values as other libraries write them read back equal, ending where they
// end.
TEST(XmlRpcInterop, ForeignlyWrittenValuesReadBackEqual)
{
    std::mt19937 rng(2024);
    ForeignWriter writer(rng);
    int rewritten = 0;
    for (int i = 0; i < 3000; ++i) {
        const XmlRpcValue v = randomValue(rng, 0);
        const std::string xml = writer.write(v);
        rewritten += xml.find("/>") != std::string::npos || xml.find(" >") != std::string::npos;
        Read r = readAt(xml + "<value><i4>9</i4></value>");
        ASSERT_TRUE(r.ok) << xml;
        ASSERT_EQ(r.value, v) << xml;
        ASSERT_EQ(r.end, xml.size()) << xml;
    }
    EXPECT_GT(rewritten, 1000) << "the writer must use the short forms";
}

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kSlow = 4.0; // time bounds stretch under the sanitizers
#else
constexpr double kSlow = 1.0;
#endif

} // namespace

// Rewriting the short forms costs one pass; what they read as stays within
// the reader's work budget, and hostile near-tags cost no more than text.
TEST(XmlRpcInterop, ShortFormsKeepReadingLinear)
{
    const size_t kBytes = 2 << 20;
    struct Shape {
        const char *what;
        std::string head, unit;
        bool wellFormed;
    } shapes[] = {
        {"empty values", "<value><array><data>", "<value/>", true},
        {"spaced empty strings", "<value><array><data>", "<value ><string /></value >", true},
        {"nils", "<value><array><data>", "<value><nil/></value>", true},
        {"empty arrays", "<value><array><data>", "<value><array><data/></array></value>", true},
        {"nameless empty members", "<value><struct>", "<member><name/><value/></member>", true},
        {"nested spaced openers", "", "<value ><array ><data >", false},
        {"tags never closed", "<value><array><data>", "<value ", false},
        {"names without ends", "<value><array><data><value>", "<abc", false},
        {"slashes without ends", "<value><array><data><value>", "<a /", false},
        {"unknown short tags", "<value><array><data>", "<value><x/></value>", false},
    };
    for (const Shape &s : shapes) {
        const std::string xml = s.head + repeat(s.unit, (kBytes - s.head.size()) / s.unit.size());
        const double t0 = remotetest::threadSeconds();
        XmlRpcScanner scanner(xml);
        size_t at = 0;
        XmlRpcValue v(scanner, &at);
        const double took = remotetest::threadSeconds() - t0;
        EXPECT_LT(took, 2.0 * kSlow) << s.what << ": " << xml.size() << " bytes in " << took << " s";
        if (s.wellFormed) {
            EXPECT_FALSE(scanner.exhausted()) << s.what;
            EXPECT_LT(scanner.work(), 8 * scanner.size()) << s.what;
            EXPECT_TRUE(v.valid()) << s.what;
        }
    }
    // The empty values all arrived.
    const std::string empties = "<value><array><data>" + repeat("<value/>", 100000) + "</data></array></value>";
    Read r = readAt(empties);
    ASSERT_EQ(r.value.size(), 100000);
    EXPECT_EQ(r.value[99999], XmlRpcValue(""));
    EXPECT_EQ(r.end, empties.size());
}

namespace {

// Counts its runs; answers the shape of its parameters.
class Shape : public XmlRpcServerMethod {
public:
    explicit Shape(XmlRpcServer *s) : XmlRpcServerMethod("Shape", s) {}
    void execute(XmlRpcValue &params, XmlRpcValue &result) override
    {
        ++runs;
        result[0] = static_cast<int>(params.getType());
        if (params.getType() == XmlRpcValue::TypeArray) {
            result[1] = params.size();
            for (int i = 0; i < params.size(); ++i)
                result[2 + i] = static_cast<int>(params[i].getType());
        }
    }
    int runs = 0;
};

struct ShapeServer {
    XmlRpcServer server;
    Shape shape{&server};
};

// The value of a response (the fault struct for a fault).
XmlRpcValue answerOf(const std::string &response, bool &fault)
{
    const std::string body = bodyOf(response);
    size_t offset = 0;
    fault = XmlRpcUtil::findTag("<fault>", body, &offset);
    if (!fault) {
        offset = 0;
        XmlRpcUtil::findTag("<param>", body, &offset);
    }
    return XmlRpcValue(body, &offset);
}

XmlRpcValue ints(std::initializer_list<int> list)
{
    XmlRpcValue a{XmlRpcValue::ValueArray{}};
    int i = 0;
    for (int v : list)
        a[i++] = v;
    return a;
}

} // namespace

// A call runs with everything that was sent or not at all: unknown type tags
// and multicalls with unreadable entries are faults, and nothing runs.
TEST(XmlRpcInterop, UnreadableCallsAreFaultsAndNilParametersAreAbsent)
{
    ShapeServer t;
    bool fault = false;
    auto call = [&](const std::string &body) { return answerOf(t.server.executeRequest(body), fault); };
    auto entry = [](const std::string &method, const std::string &paramsXml) {
        return "<value><struct><member><name>methodName</name><value>" + method +
               "</value></member><member><name>params</name>" + paramsXml + "</member></struct></value>";
    };
    auto multicall = [&](const std::string &entries) {
        return callBody("system.multicall", "<param><value><array><data>" + entries + "</data></array></value></param>");
    };

    // Unknown type tags, at any depth.
    XmlRpcValue f = call(callBody("Shape", "<param><value><i16>1</i16></value></param>"));
    EXPECT_TRUE(fault);
    EXPECT_EQ(f["faultString"], XmlRpcValue("Shape: unknown type tag <i16>"));
    EXPECT_EQ(f["faultCode"], XmlRpcValue(-1));
    f = call(callBody("Shape", "<param><value><array><data><value><i4>1</i4></value><value><struct><member><name>m"
                               "</name><value><float>2</float></value></member></struct></value></data></array>"
                               "</value></param>"));
    EXPECT_TRUE(fault);
    EXPECT_EQ(f["faultString"], XmlRpcValue("Shape: unknown type tag <float>"));
    f = call(multicall(entry("Shape", "<value><array><data/></array></value>") +
                       entry("Shape", "<value><array><data><value><ex:i8>1</ex:i8></value></data></array></value>")));
    EXPECT_TRUE(fault);
    EXPECT_EQ(f["faultString"], XmlRpcValue("system.multicall: unknown type tag <ex:i8>"));
    // A multicall whose entries cannot all be read runs none of them.
    f = call(multicall(entry("Shape", "<value><array><data/></array></value>") +
                       entry("Shape", "<value><array><data><value><boolean>9</boolean></value></data></array></value>") +
                       entry("Shape", "<value><array><data/></array></value>")));
    EXPECT_TRUE(fault);
    EXPECT_EQ(f["faultString"], XmlRpcValue("system.multicall: calls that cannot be read (none was run)"));
    EXPECT_EQ(t.shape.runs, 0);

    // Written short, every entry runs.
    XmlRpcValue r = call(multicall(entry("Shape", "<value><array><data/></array></value>") +
                                   entry("Shape", "<value><array><data /></array></value>") +
                                   entry("Shape", "<value><array><data><value/></data></array></value>")));
    ASSERT_FALSE(fault) << r.toXml();
    ASSERT_EQ(r.size(), 3);
    EXPECT_EQ(r[0][0], ints({7, 0}));
    EXPECT_EQ(r[1][0], ints({7, 0}));
    EXPECT_EQ(r[2][0], ints({7, 1, 4}));
    EXPECT_EQ(t.shape.runs, 3);

    // Nil parameters: absent at the end of the list, kept in place before a
    // present one; nothing but nils is no parameters at all.
    const std::string nil = "<param><value><nil/></value></param>";
    const std::string str = "<param><value>a</value></param>";
    EXPECT_EQ(call(callBody("Shape", nil)), ints({0}));
    EXPECT_EQ(call(callBody("Shape", nil + nil)), ints({0}));
    EXPECT_EQ(call(callBody("Shape", str + nil)), ints({7, 1, 4}));
    EXPECT_EQ(call(callBody("Shape", nil + str)), ints({7, 2, 0, 4}));
    EXPECT_EQ(call(callBody("Shape", "<param><value><boolean>9</boolean></value></param>" + nil)), ints({7, 1, 0}))
        << "an unreadable parameter is still one";
    r = call(multicall(entry("Shape", "<value><array><data><value><nil/></value></data></array></value>") +
                       entry("Shape", "<value><array><data><value>a</value><value><nil/></value></data></array>"
                                      "</value>")));
    ASSERT_FALSE(fault);
    EXPECT_EQ(r[0][0], ints({0}));
    EXPECT_EQ(r[1][0], ints({7, 1, 4}));
    // <params/> is <params></params>: no parameters.
    EXPECT_EQ(call("<?xml version=\"1.0\"?><methodCall><methodName>Shape</methodName><params/></methodCall>"),
              ints({0}));
    EXPECT_EQ(call("<methodCall >\n <methodName >Shape</methodName >\n <params >\n  <param >\n   <value ><i8 >5</i8 >"
                   "</value >\n  </param >\n </params >\n</methodCall >"),
              ints({7, 1, 2}));
}

namespace {

// The generator's methods on a test engine, called with raw bodies.
struct Generator {
    TestEngine engine;
    OvcXmlPrivates holder{&engine.core};
    int port = -1;
    Generator()
    {
        EXPECT_TRUE(holder.start(0, "127.0.0.1"));
        port = holder.port();
    }
    XmlRpcValue call(const std::string &body, bool *isFault = nullptr)
    {
        int fd = connectTo(port);
        EXPECT_GE(fd, 0);
        sendAll(fd, httpPost(body));
        std::string response = readResponse(fd, nullptr, 10000);
        close(fd);
        bool fault = false;
        XmlRpcValue v = answerOf(response, fault);
        if (isFault)
            *isFault = fault;
        else
            EXPECT_FALSE(fault) << v.toXml();
        return v;
    }
    // Maps TestBars has drawn so far.
    size_t drawnCount()
    {
        std::lock_guard<std::mutex> lock(g_testBars->lock);
        return g_testBars->seen.size();
    }
    // The next map TestBars draws after the first `before`.
    QiParams drawnAfter(size_t before)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (drawnCount() <= before && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::lock_guard<std::mutex> lock(g_testBars->lock);
        EXPECT_GT(g_testBars->seen.size(), before) << "nothing drawn";
        return g_testBars->seen.size() > before ? g_testBars->seen[before] : QiParams();
    }
};

} // namespace

// Each request written the way Node's, Perl's or Python's library writes it
// has the effect of its long form: the next transaction, the same map drawn,
// the same alias stored, every multicall entry run.
TEST(XmlRpcInterop, GeneratorCallsWrittenShortActAsTheirLongForms)
{
    Generator g;
    auto setGen = [](const std::string &structXml) {
        return callBody("SetGen", "<param><value><struct>" + structXml + "</struct></value></param>");
    };
    auto member = [](const std::string &name, const std::string &value) {
        return "<member><name>" + name + "</name><value>" + value + "</value></member>";
    };
    const std::string longForm = member("Pattern", "<string>TestBars</string>") + member("Note", "<string></string>") +
                                 member("Steps", "<int>8</int>");
    // Node: <string/> for the empty text and a nil member.
    const std::string node = member("Pattern", "<string>TestBars</string>") + member("Note", "<string/>") +
                             member("Gone", "<nil/>") + member("Steps", "<int>8</int>");
    // Perl: <i8> where a number is past 32 bits, here for a small one.
    const std::string perl = member("Pattern", "<string>TestBars</string>") + member("Note", "<string></string>") +
                             member("Steps", "<i8>8</i8>");
    const std::string spaced = "\n <member >\n  <name>Pattern</name>\n  <value ><string >TestBars</string ></value >\n"
                               " </member>\n <member><name>Note</name><value /></member>\n"
                               " <member><name>Steps</name><value>\n<i4 >8</i4>\n</value></member>\n";

    size_t drawn = g.drawnCount();
    const XmlRpcValue first = g.call(setGen(longForm));
    ASSERT_EQ(first.getType(), XmlRpcValue::TypeInt);
    const QiParams want = g.drawnAfter(drawn++);
    const char *note = nullptr;
    ASSERT_TRUE(want.get("Note", note));
    EXPECT_STREQ(note, "");
    int id = first.asInt();
    for (const std::string &form : {node, perl, spaced}) {
        ASSERT_EQ(g.call(setGen(form)), XmlRpcValue(++id)) << form;
        EXPECT_EQ(g.drawnAfter(drawn++), want) << form;
    }

    // SetAlias with an empty option: stored, then drawn as the long form's.
    const std::string alias = member("AliasName", "<string>short/a</string>") +
                              member("Pattern", "<string>TestBars</string>") + member("Note", "<string/>") +
                              member("Steps", "<int>8</int>");
    EXPECT_EQ(g.call(callBody("SetAlias", "<param><value><struct>" + alias + "</struct></value></param>")),
              XmlRpcValue("short/a"));
    ASSERT_EQ(g.call(callBody("SetGen", "<param><value><string>short/a</string></value></param>")),
              XmlRpcValue(++id));
    // Drawn under the alias's name, with the options of the long form.
    QiParams viaAlias = g.drawnAfter(drawn++), options = want;
    viaAlias.remove("Pattern");
    options.remove("Pattern");
    EXPECT_EQ(viaAlias, options);

    // <params/> and <params></params> answer alike.
    EXPECT_EQ(g.call("<methodCall><methodName>PatternOption</methodName><params/></methodCall>"),
              g.call("<methodCall><methodName>PatternOption</methodName><params></params></methodCall>"));
    EXPECT_EQ(g.call("<methodCall><methodName>SetGen</methodName><params/></methodCall>"),
              XmlRpcValue("bad parameters"));

    // Node's multicall: empty params as <data/>; every entry runs.
    auto entry = [&](const std::string &method, const std::string &params) {
        return "<value><struct>" + member("methodName", "<string>" + method + "</string>") +
               member("params", "<array>" + params + "</array>") + "</struct></value>";
    };
    const int rescans = g.engine.raster.rescans.load();
    XmlRpcValue answers = g.call(callBody(
        "system.multicall",
        "<param><value><array><data>" + entry("RescanFormats", "<data/>") + entry("GetOrvVersion", "<data/>") +
            entry("SetGen", "<data><value><struct>" + node + "</struct></value></data>") +
            entry("SetGen", "<data><value><string>TestBars</string></value></data>") + "</data></array></value></param>"));
    ASSERT_EQ(answers.size(), 4) << answers.toXml();
    EXPECT_EQ(answers[0][0], XmlRpcValue("Ok"));
    EXPECT_EQ(answers[1][0][0]["Software"], XmlRpcValue("317"));
    EXPECT_EQ(answers[2][0], XmlRpcValue(++id));
    EXPECT_EQ(answers[3][0], XmlRpcValue(++id));
    EXPECT_EQ(g.engine.raster.rescans.load(), rescans + 1);

    // Unknown type tags: a fault, and no transaction is spent.
    bool fault = false;
    XmlRpcValue refused = g.call(setGen(longForm + member("Extra", "<i16>3</i16>")), &fault);
    EXPECT_TRUE(fault);
    EXPECT_EQ(refused["faultString"], XmlRpcValue("SetGen: unknown type tag <i16>"));
    EXPECT_EQ(g.call(setGen(longForm)), XmlRpcValue(++id)) << "the refused call posted nothing";
}
