#include "RemoteTestUtil.h"
#include "XmlRpcUtil.h"
#include "XmlRpcValue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>

namespace {

XmlRpcValue readAll(const std::string &xml, size_t *end = nullptr)
{
    size_t offset = 0;
    XmlRpcValue v(xml, &offset);
    if (end)
        *end = offset;
    return v;
}

std::string raisedBy(const std::function<void()> &f)
{
    try {
        f();
    } catch (const XmlRpcException &e) {
        EXPECT_EQ(e.getCode(), -1);
        return e.getMessage();
    }
    return "<nothing raised>";
}

} // namespace

TEST(XmlRpcValue, StringsReadWithAndWithoutTypeTag)
{
    EXPECT_EQ(readAll("<value>abc</value>"), XmlRpcValue("abc"));
    EXPECT_EQ(readAll("<value><string>abc</string></value>"), XmlRpcValue("abc"));
    EXPECT_EQ(readAll("<value>  <string>abc</string></value>"), XmlRpcValue("abc"));
    EXPECT_EQ(readAll("<value>  abc</value>"), XmlRpcValue("  abc")) << "untagged text keeps its blanks";
    XmlRpcValue empty = readAll("<value></value>");
    ASSERT_EQ(empty.getType(), XmlRpcValue::TypeString);
    EXPECT_EQ(empty.asString(), "");
    // A string that contains '<' ends there; the rest is skipped up to </value>.
    size_t end = 0;
    XmlRpcValue cut = readAll("<value>ab<x>cd</value>tail", &end);
    EXPECT_EQ(cut, XmlRpcValue("ab"));
    EXPECT_EQ(end, std::string("<value>ab<x>cd</value>").size());
    // Entities: the five are decoded, other ampersands and numeric references stay.
    EXPECT_EQ(readAll("<value>&lt;&gt;&amp;&apos;&quot;&#65;&x</value>").asString(), "<>&'\"&#65;&x");
}

TEST(XmlRpcValue, ScalarsReadByTheirRules)
{
    EXPECT_FALSE(readAll("<value><boolean>2</boolean></value>").valid());
    EXPECT_FALSE(readAll("<value><boolean></boolean></value>").valid());
    EXPECT_EQ(readAll("<value><boolean>1</boolean></value>"), XmlRpcValue(true));
    EXPECT_EQ(readAll("<value><int>12abc</int></value>"), XmlRpcValue(12));
    EXPECT_EQ(readAll("<value><i4>-7</i4></value>"), XmlRpcValue(-7));
    EXPECT_FALSE(readAll("<value><i4>x</i4></value>").valid());
    EXPECT_EQ(readAll("<value><i4>99999999999</i4></value>"), XmlRpcValue(2147483647)) << "clamped, not wrapped";
    EXPECT_EQ(readAll("<value><i4>-99999999999</i4></value>"), XmlRpcValue(-2147483647 - 1));
    EXPECT_EQ(readAll("<value><double>0.25</double></value>"), XmlRpcValue(0.25));
    EXPECT_FALSE(readAll("<value><double>.</double></value>").valid());
    EXPECT_FALSE(readAll("<value><foo>1</foo></value>").valid());
    EXPECT_EQ(readAll("<value><i4>1</i4>"), XmlRpcValue(1)) << "a missing </value> is tolerated";
    XmlRpcValue t = readAll("<value><dateTime.iso8601>20240305T07:08:09</dateTime.iso8601></value>");
    ASSERT_EQ(t.getType(), XmlRpcValue::TypeDateTime);
    EXPECT_EQ(t.asTime().tm_year, 2024);
    EXPECT_EQ(t.asTime().tm_mon, 3);
    EXPECT_EQ(t.asTime().tm_mday, 5);
    EXPECT_EQ(t.asTime().tm_sec, 9);
    EXPECT_EQ(t.asTime().tm_isdst, -1);
    EXPECT_FALSE(readAll("<value><dateTime.iso8601>2024-03-05</dateTime.iso8601></value>").valid());
    // Base64: blanks and line breaks skipped, '=' ends the data.
    XmlRpcValue b = readAll("<value><base64>BA MC\nAQ==garbage</base64></value>");
    ASSERT_EQ(b.getType(), XmlRpcValue::TypeBase64);
    EXPECT_EQ(b.asBinary(), (XmlRpcValue::BinaryData{4, 3, 2, 1}));
}

TEST(XmlRpcValue, FailedReadRestoresPositionAndLeavesInvalid)
{
    std::string xml = "  <value><struct><member><name>a</name><value><boolean>7</boolean></value></member>"
                      "</struct></value>";
    size_t offset = 1;
    XmlRpcValue v(xml, &offset);
    EXPECT_FALSE(v.valid());
    EXPECT_EQ(offset, 1u);
    offset = 0;
    EXPECT_FALSE(XmlRpcValue("<notvalue>", &offset).valid());
    EXPECT_EQ(offset, 0u);
    offset = 99;
    EXPECT_FALSE(XmlRpcValue("<value>", &offset).valid()) << "beyond the end fails harmlessly";
    EXPECT_EQ(offset, 99u);
    // A value that was valid before a failed read is invalid afterwards.
    XmlRpcValue w(5);
    offset = 0;
    EXPECT_FALSE(w.fromXml("<value><x/></value>", &offset));
    EXPECT_FALSE(w.valid());
}

TEST(XmlRpcValue, ArraysAndStructsReadByTheirRules)
{
    // Elements are read until one fails; the array itself still reads.
    XmlRpcValue a = readAll("<value><array><data><value><i4>1</i4></value><value><boolean>5</boolean></value>"
                            "<value><i4>3</i4></value></data></array></value>");
    ASSERT_EQ(a.getType(), XmlRpcValue::TypeArray);
    ASSERT_EQ(a.size(), 1);
    EXPECT_EQ(a[0], XmlRpcValue(1));
    XmlRpcValue none = readAll("<value><array><data><value><foo/></value></data></array></value>");
    ASSERT_EQ(none.getType(), XmlRpcValue::TypeArray);
    EXPECT_EQ(none.size(), 0);
    EXPECT_FALSE(readAll("<value><array><i4>1</i4></array></value>").valid()) << "<data> is required";

    // Duplicate members: the first stays. Names are raw, string values decoded.
    XmlRpcValue s = readAll("<value><struct><member><name>x</name><value><i4>1</i4></value></member>"
                            "<member><name>x</name><value><i4>2</i4></value></member>"
                            "<member><name>a&amp;b</name><value>a&amp;b</value></member></struct></value>");
    ASSERT_EQ(s.getType(), XmlRpcValue::TypeStruct);
    EXPECT_EQ(s.size(), 2);
    EXPECT_EQ(s["x"], XmlRpcValue(1));
    ASSERT_TRUE(s.hasMember("a&amp;b"));
    EXPECT_EQ(s["a&amp;b"].asString(), "a&b");
    // One unreadable member fails the whole struct.
    EXPECT_FALSE(readAll("<value><struct><member><name>x</name><value><foo/></value></member></struct></value>")
                     .valid());
}

TEST(XmlRpcValue, NestingDeeperThanTheLimitFailsToRead)
{
    auto nested = [](int depth) {
        std::string xml;
        for (int i = 0; i < depth - 1; ++i)
            xml += "<value><array><data>";
        xml += "<value><i4>1</i4></value>";
        for (int i = 0; i < depth - 1; ++i)
            xml += "</data></array></value>";
        return xml;
    };
    XmlRpcValue ok = readAll(nested(XmlRpcValue::kMaxDepth));
    EXPECT_TRUE(ok.valid());
    EXPECT_EQ(ok.toXml(), nested(XmlRpcValue::kMaxDepth));
    // One level more: the innermost array cannot hold its element, so it
    // fails; a deep struct fails as a whole.
    XmlRpcValue deep = readAll(nested(XmlRpcValue::kMaxDepth + 1));
    EXPECT_NE(deep.toXml(), nested(XmlRpcValue::kMaxDepth + 1));
    std::string st;
    for (int i = 0; i < 100000; ++i)
        st += "<value><struct><member><name>n</name>";
    size_t offset = 0;
    EXPECT_FALSE(XmlRpcValue(st, &offset).valid()) << "no stack exhaustion on hostile depth";
    EXPECT_EQ(offset, 0u);
}

TEST(XmlRpcValue, WritesExactlyAsTabled)
{
    EXPECT_EQ(XmlRpcValue(7).toXml(), "<value><i4>7</i4></value>");
    EXPECT_EQ(XmlRpcValue("a<b").toXml(), "<value>a&lt;b</value>");
    EXPECT_EQ(XmlRpcValue("<>&'\"").toXml(), "<value>&lt;&gt;&amp;&apos;&quot;</value>");
    EXPECT_EQ(XmlRpcValue(0.25).toXml(), "<value><double>0.250000</double></value>");
    EXPECT_EQ(XmlRpcValue(true).toXml(), "<value><boolean>1</boolean></value>");
    EXPECT_EQ(XmlRpcValue().toXml(), "");
    // "%f" of a huge double is long; it is written whole, not cut.
    std::string big = XmlRpcValue(1e300).toXml();
    EXPECT_EQ(big.size(), std::string("<value><double></double></value>").size() + 301 + 7);
    size_t offset = 0;
    EXPECT_EQ(XmlRpcValue(big, &offset).asDouble(), 1e300);

    std::tm t{};
    t.tm_year = 2024;
    t.tm_mon = 1;
    t.tm_mday = 2;
    t.tm_hour = 3;
    t.tm_min = 4;
    t.tm_sec = 5;
    EXPECT_EQ(XmlRpcValue(t).toXml(), "<value><dateTime.iso8601>20240102T03:04:05</dateTime.iso8601></value>");

    std::vector<uint8_t> bytes(60, 0xAB);
    std::string b64 = XmlRpcValue(bytes.data(), bytes.size()).toXml();
    std::string text = b64.substr(15, b64.size() - 15 - 17);
    ASSERT_EQ(text.size(), 81u) << "80 characters and one line feed";
    EXPECT_EQ(text[72], '\n');
    EXPECT_EQ(text.find('\n'), 72u);
    EXPECT_EQ(text.substr(77), "q6ur");
    std::vector<uint8_t> two{0xAB, 0xAB};
    EXPECT_EQ(XmlRpcValue(two.data(), two.size()).toXml(), "<value><base64>q6s=</base64></value>");
    std::vector<uint8_t> b54(54, 1);
    std::string t54 = XmlRpcValue(b54.data(), b54.size()).toXml();
    EXPECT_EQ(t54.substr(15 + 72), "\n</base64></value>") << "a feed after exactly 72 characters";

    XmlRpcValue arr;
    arr[0] = 1;
    arr[2] = "x"; // element 1 stays invalid and writes nothing
    EXPECT_EQ(arr.toXml(), "<value><array><data><value><i4>1</i4></value><value>x</value></data></array></value>");
    XmlRpcValue st;
    st["b"] = 2;
    st["a&"] = "";
    EXPECT_EQ(st.toXml(), "<value><struct><member><name>a&amp;</name><value></value></member>"
                          "<member><name>b</name><value><i4>2</i4></value></member></struct></value>");
}

TEST(XmlRpcValue, TypedAccessAndErrorTexts)
{
    XmlRpcValue v;
    v[3];
    ASSERT_EQ(v.getType(), XmlRpcValue::TypeArray);
    EXPECT_EQ(v.size(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(v[i].valid());

    XmlRpcValue i(5);
    EXPECT_EQ(raisedBy([&] { (void)i.size(); }), " type error");
    EXPECT_EQ(raisedBy([&] { i.asString(); }), "type error");
    EXPECT_EQ(raisedBy([&] { i[0]; }), "type error: expected an array");
    EXPECT_EQ(raisedBy([&] { i["x"]; }), "type error: expected a struct");
    EXPECT_EQ(i, XmlRpcValue(5)) << "misuse leaves the value unchanged";
    const XmlRpcValue &ci = v;
    EXPECT_EQ(raisedBy([&] { (void)ci[4]; }), "range error: array index too large");
    EXPECT_FALSE(i.hasMember("x"));

    XmlRpcValue z;
    EXPECT_EQ(z.asInt(), 0);
    EXPECT_EQ(z.getType(), XmlRpcValue::TypeInt);
    XmlRpcValue s;
    s.setSize(2);
    EXPECT_EQ(s.size(), 2);

    // Deep copies; assigning a part of a value to the value itself.
    XmlRpcValue outer;
    outer["in"][0] = "deep";
    XmlRpcValue copy = outer;
    copy["in"][0] = "changed";
    EXPECT_EQ(outer["in"][0].asString(), "deep");
    outer = outer["in"];
    ASSERT_EQ(outer.getType(), XmlRpcValue::TypeArray);
    EXPECT_EQ(outer[0].asString(), "deep");
    outer = outer;
    EXPECT_EQ(outer[0].asString(), "deep");
}

TEST(XmlRpcValue, TagScanning)
{
    size_t p = 0;
    std::string x = "  <a>text</a><b>";
    EXPECT_TRUE(XmlRpcUtil::nextTagIs("<a>", x, &p));
    EXPECT_EQ(p, 5u);
    EXPECT_FALSE(XmlRpcUtil::nextTagIs("<b>", x, &p));
    p = 0;
    EXPECT_EQ(XmlRpcUtil::parseTag("<a>", x, &p), "text");
    EXPECT_EQ(p, 13u);
    EXPECT_EQ(XmlRpcUtil::getNextTag(x, &p), "<b>");
    EXPECT_EQ(p, x.size());
    EXPECT_EQ(XmlRpcUtil::getNextTag(x, &p), "");
    p = 0;
    EXPECT_EQ(XmlRpcUtil::parseTag("<c>", x, &p), "");
    EXPECT_EQ(p, 0u);
    p = 100;
    EXPECT_FALSE(XmlRpcUtil::findTag("<a>", x, &p));
    EXPECT_EQ(p, 100u);
}

namespace {

XmlRpcValue randomValue(std::mt19937 &rng, int depth)
{
    std::uniform_int_distribution<int> type(1, depth > 3 ? 6 : 8);
    std::uniform_int_distribution<int> byte(0, 255);
    auto randomText = [&] {
        std::string s;
        int n = byte(rng) % 12;
        const char alphabet[] = "ab <>&'\"\t\n;xyz#1";
        for (int k = 0; k < n; ++k)
            s += alphabet[byte(rng) % (sizeof alphabet - 1)];
        return s;
    };
    switch (type(rng)) {
    case 1: return XmlRpcValue(byte(rng) % 2 == 0);
    case 2: return XmlRpcValue(static_cast<int>(rng()));
    case 3: return XmlRpcValue((static_cast<int>(rng() % 2000001) - 1000000) / 64.0);
    case 4: {
        // A string of only blanks would read back with its blanks: fine.
        return XmlRpcValue(randomText());
    }
    case 5: {
        std::tm t{};
        t.tm_year = 1000 + byte(rng) * 30;
        t.tm_mon = 1 + byte(rng) % 12;
        t.tm_mday = 1 + byte(rng) % 28;
        t.tm_hour = byte(rng) % 24;
        t.tm_min = byte(rng) % 60;
        t.tm_sec = byte(rng) % 60;
        t.tm_isdst = -1;
        return XmlRpcValue(t);
    }
    case 6: {
        std::vector<uint8_t> b(static_cast<size_t>(byte(rng)));
        for (auto &c : b)
            c = static_cast<uint8_t>(byte(rng));
        return XmlRpcValue(b.data(), b.size());
    }
    case 7: {
        XmlRpcValue a;
        a.setSize(0);
        int n = byte(rng) % 5;
        for (int k = 0; k < n; ++k)
            a[k] = randomValue(rng, depth + 1);
        return a;
    }
    default: {
        XmlRpcValue s;
        s["fixed"] = 1;
        int n = byte(rng) % 5;
        for (int k = 0; k < n; ++k) {
            // Names without the five escapable characters read back equal.
            std::string name = "m" + std::to_string(byte(rng));
            s[name] = randomValue(rng, depth + 1);
        }
        return s;
    }
    }
}

} // namespace

TEST(XmlRpcValue, RandomRoundTrips)
{
    std::mt19937 rng(1234);
    for (int i = 0; i < 3000; ++i) {
        XmlRpcValue v = randomValue(rng, 0);
        std::string xml = v.toXml();
        size_t offset = 0;
        XmlRpcValue back(xml + "<value><i4>9</i4></value>", &offset);
        ASSERT_EQ(back, v) << xml;
        ASSERT_EQ(offset, xml.size()) << xml;
        ASSERT_EQ(back.toXml(), xml);
    }
}

namespace {

// The reading rules done the plain way: every search runs to wherever it
// ends. Slow on hostile text, but what the reader has to answer.
class PlainReader {
public:
    explicit PlainReader(const std::string &xml) : x(xml) {}

    bool read(XmlRpcValue &v, size_t &p, int depth)
    {
        size_t start = p;
        if (depth >= XmlRpcValue::kMaxDepth || !nextTagIs("<value>", p)) {
            p = start;
            return false;
        }
        size_t afterValue = p;
        std::string tag = nextTag(p), t;
        bool ok = false;
        if (tag == "<boolean>") {
            int i = 0;
            ok = text(p, t) && number(t, i) && (i == 0 || i == 1);
            if (ok)
                v = XmlRpcValue(i == 1);
        } else if (tag == "<i4>" || tag == "<int>") {
            int i = 0;
            ok = text(p, t) && number(t, i);
            if (ok)
                v = XmlRpcValue(i);
        } else if (tag == "<string>") {
            ok = text(p, t);
            if (ok)
                v = XmlRpcValue(XmlRpcUtil::xmlDecode(t));
        } else if (tag.empty() || tag == "</value>") {
            p = afterValue;
            ok = text(p, t);
            if (ok)
                v = XmlRpcValue(XmlRpcUtil::xmlDecode(t));
        } else if (tag == "<array>") {
            if (nextTagIs("<data>", p)) {
                XmlRpcValue a{XmlRpcValue::ValueArray{}};
                for (int n = 0;; ++n) {
                    XmlRpcValue e;
                    if (!read(e, p, depth + 1))
                        break;
                    a[n] = e;
                }
                nextTagIs("</data>", p);
                v = a;
                ok = true;
            }
        } else if (tag == "<struct>") {
            XmlRpcValue s{XmlRpcValue::ValueStruct{}};
            ok = true;
            while (nextTagIs("<member>", p)) {
                std::string name = parseTag("<name>", p);
                XmlRpcValue m;
                if (!read(m, p, depth + 1)) {
                    ok = false;
                    break;
                }
                if (!s.hasMember(name))
                    s[name] = m;
                findTag("</member>", p);
            }
            if (ok)
                v = s;
        }
        if (!ok) {
            v.clear();
            p = start;
            return false;
        }
        findTag("</value>", p);
        return true;
    }

private:
    static bool blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
    bool nextTagIs(const char *tag, size_t &p)
    {
        size_t q = p;
        while (q < x.size() && blank(x[q]))
            ++q;
        size_t n = strlen(tag);
        if (q >= x.size() || x.compare(q, n, tag) != 0)
            return false;
        p = q + n;
        return true;
    }
    bool findTag(const char *tag, size_t &p)
    {
        size_t at = p < x.size() ? x.find(tag, p) : std::string::npos;
        if (at == std::string::npos)
            return false;
        p = at + strlen(tag);
        return true;
    }
    std::string parseTag(const char *tag, size_t &p)
    {
        size_t s = p < x.size() ? x.find(tag, p) : std::string::npos;
        if (s == std::string::npos)
            return "";
        s += strlen(tag);
        std::string etag = std::string("</") + (tag + 1);
        size_t e = x.find(etag, s);
        if (e == std::string::npos)
            return "";
        p = e + etag.size();
        return x.substr(s, e - s);
    }
    std::string nextTag(size_t &p)
    {
        size_t q = p;
        while (q < x.size() && blank(x[q]))
            ++q;
        if (q >= x.size() || x[q] != '<')
            return "";
        size_t e = x.find('>', q);
        if (e == std::string::npos)
            return "";
        p = e + 1;
        return x.substr(q, e + 1 - q);
    }
    bool text(size_t &p, std::string &out)
    {
        size_t e = x.find('<', p);
        if (e == std::string::npos)
            return false;
        out = x.substr(p, e - p);
        p = e;
        return true;
    }
    static bool number(const std::string &t, int &out)
    {
        char *end = nullptr;
        long long v = strtoll(t.c_str(), &end, 10);
        if (end == t.c_str())
            return false;
        out = static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
        return true;
    }

    const std::string &x;
};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kSlow = 4.0; // time bounds stretch under the sanitizers
#else
constexpr double kSlow = 1.0;
#endif

double secondsToRead(const std::string &xml, XmlRpcValue &v, size_t &offset)
{
    const double t0 = remotetest::threadSeconds();
    offset = 0;
    v = XmlRpcValue(xml, &offset);
    return remotetest::threadSeconds() - t0;
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

// Malformed text of every kind reads exactly as the rules say, value and
// end position, however the reader finds its way.
TEST(XmlRpcValue, MalformedTextReadsByTheRules)
{
    const char *pieces[] = {"<value>", "</value>", "<array>", "<data>",    "</data>",  "</array>", "<struct>",
                            "<member>", "</member>", "<name>", "</name>", "</struct>", "<i4>",    "</i4>",
                            "<boolean>", "</boolean>", "<string>", "</string>", "a",   "1",       "2",
                            " ",        "&amp;",    "<",       ">",       "<foo>",    "n",       "\n"};
    const size_t kinds = sizeof pieces / sizeof pieces[0];
    std::mt19937 rng(77);
    int valid = 0;
    for (int i = 0; i < 40000; ++i) {
        std::string xml = "<value>";
        size_t n = rng() % 48;
        for (size_t k = 0; k < n; ++k)
            xml += pieces[rng() % kinds];
        for (size_t start : {size_t(0), size_t(rng() % (xml.size() + 1))}) {
            XmlRpcValue want, got;
            size_t wantEnd = start, gotEnd = start;
            bool wantOk = PlainReader(xml).read(want, wantEnd, 0);
            got = XmlRpcValue(xml, &gotEnd);
            ASSERT_EQ(got.valid(), wantOk) << xml << " from " << start;
            ASSERT_EQ(got, want) << xml << " from " << start;
            ASSERT_EQ(gotEnd, wantEnd) << xml << " from " << start;
            valid += wantOk;
        }
    }
    EXPECT_GT(valid, 10000) << "the pieces must make readable values too";

    // The shapes below, small enough for the plain reader, read the same.
    for (const std::string &xml :
         {"<value><array><data>" + repeat("<value>a", 300),
          repeat("<value><array><data>", 200) + "<value>x</value>",
          "<value><struct>" + repeat("<member><value>a</value></member>", 300) + "</struct></value>",
          "<value><struct>" + repeat("<member><name>n</name><value>b</value>", 300),
          "<value><array><data>" + repeat("<value><struct><member><name>m</name><value><array><data><value>1"
                                          "</value><value>2</value></data></array></value></member><member>"
                                          "<value><boolean>5</boolean></value></member></struct></value>",
                                          100)}) {
        XmlRpcValue want;
        size_t wantEnd = 0, gotEnd = 0;
        bool wantOk = PlainReader(xml).read(want, wantEnd, 0);
        XmlRpcValue got(xml, &gotEnd);
        EXPECT_EQ(got.valid(), wantOk) << xml.substr(0, 80);
        EXPECT_EQ(got, want) << xml.substr(0, 80);
        EXPECT_EQ(gotEnd, wantEnd) << xml.substr(0, 80);
    }
}

// Missing end tags used to send a search to the end of the text for every
// element: 40 000 unterminated values took seconds, 8 MiB minutes. Every
// shape now reads in time linear in its size.
TEST(XmlRpcValue, ReadingTimeIsLinearInTheText)
{
    const size_t kBytes = 4 << 20;
    struct Shape {
        const char *what;
        std::string head, unit, tail;
    } shapes[] = {
        {"unterminated values", "<value><array><data>", "<value>a", ""},
        {"nested array openers", "", "<value><array><data>", ""},
        {"members without names", "<value><struct>", "<member><value>a</value></member>", ""},
        {"members without ends", "<value><struct>", "<member><name>n</name><value>b</value>", ""},
        {"nameless unterminated members", "<value><struct>", "<member><value>a", ""},
        {"blanks under deep nesting", repeat("<value><array><data>", 60), " ", ""},
        {"open angles without a close", repeat("<value><array><data>", 60) + "<value>", "<", ""},
        {"failing structs in arrays", repeat("<value><array><data>", 30),
         "<value><struct><member><name>m</name><value><array><data><value>1</value></data></array></value>"
         "</member><member><value><boolean>5</boolean></value></member></struct></value>",
         ""},
        {"untagged texts", "<value><array><data>", "<value>abcdefgh", "</value>"},
    };
    for (const Shape &s : shapes) {
        std::string xml = s.head + repeat(s.unit, (kBytes - s.head.size()) / s.unit.size()) + s.tail;
        XmlRpcValue v;
        size_t end = 0;
        double took = secondsToRead(xml, v, end);
        EXPECT_LT(took, 2.0 * kSlow) << s.what << ": " << xml.size() << " bytes in " << took << " s";
    }

    // A well-formed text of that size is read in full, not cut short.
    std::string ints = "<value><array><data>" + repeat("<value><i4>7</i4></value>", kBytes / 25) +
                       "</data></array></value>";
    XmlRpcValue v;
    size_t end = 0;
    EXPECT_LT(secondsToRead(ints, v, end), 2.0 * kSlow);
    ASSERT_EQ(v.getType(), XmlRpcValue::TypeArray);
    EXPECT_EQ(v.size(), static_cast<int>(kBytes / 25));
    EXPECT_EQ(end, ints.size());
    // The flat unterminated shape keeps its meaning: one "a" per value but
    // the last, which has no '<' after its text.
    std::string flat = "<value><array><data>" + repeat("<value>a", 40000);
    secondsToRead(flat, v, end);
    ASSERT_EQ(v.size(), 39999);
    EXPECT_EQ(v[39998], XmlRpcValue("a"));
}

// Work past the budget makes reads give up instead of running on.
TEST(XmlRpcValue, ScannerBudgetStopsReading)
{
    std::string xml = "<value><i4>5</i4></value>";
    XmlRpcScanner fresh(xml);
    size_t offset = 0;
    EXPECT_EQ(XmlRpcValue(fresh, &offset), XmlRpcValue(5));
    EXPECT_FALSE(fresh.exhausted());

    XmlRpcScanner spent(xml);
    EXPECT_FALSE(spent.charge(XmlRpcScanner::kWorkPerByte * xml.size() + XmlRpcScanner::kWorkBase + 1));
    EXPECT_TRUE(spent.exhausted());
    offset = 0;
    EXPECT_FALSE(XmlRpcValue(spent, &offset).valid());
    EXPECT_EQ(offset, 0u);

    // Searches through a scanner answer as the plain ones do.
    std::string text = "ab<name>x</name>" + std::string(1000, ' ') + "<name>y</name><q>";
    XmlRpcScanner sc(text);
    for (size_t from : {size_t(0), size_t(3), size_t(17), size_t(500), size_t(1016), size_t(1030), text.size()}) {
        size_t a = from, b = from;
        EXPECT_EQ(XmlRpcUtil::parseTag("<name>", sc, &a), XmlRpcUtil::parseTag("<name>", text, &b)) << from;
        EXPECT_EQ(a, b) << from;
        a = b = from;
        EXPECT_EQ(XmlRpcUtil::findTag("</name>", sc, &a), XmlRpcUtil::findTag("</name>", text, &b)) << from;
        EXPECT_EQ(a, b) << from;
        a = b = from;
        EXPECT_EQ(XmlRpcUtil::getNextTag(sc, &a), XmlRpcUtil::getNextTag(text, &b)) << from;
        EXPECT_EQ(a, b) << from;
        a = b = from;
        EXPECT_EQ(XmlRpcUtil::nextTagIs("<name>", sc, &a), XmlRpcUtil::nextTagIs("<name>", text, &b)) << from;
        EXPECT_EQ(a, b) << from;
    }
}

// Text from outside may hold bytes XML 1.0 cannot carry: they are written
// as U+FFFD, so no answer is ever ill-formed. Tab, line feed and carriage
// return stay, as does every well-formed character.
TEST(XmlRpcValue, WritesOnlyCharactersXmlCanCarry)
{
    const std::string fffd = "\xEF\xBF\xBD";
    struct Case {
        std::string raw, written;
    } cases[] = {
        {"a\x01" "b", "a" + fffd + "b"},
        {std::string("nul\0in", 6), "nul" + fffd + "in"},
        {"\t\n\r\x7F", "\t\n\r\x7F"},
        {"\xFF\xFE", fffd + fffd},
        {"\xC0\xAF", fffd + fffd},                   // overlong '/'
        {"\xED\xA0\x80", fffd + fffd + fffd},         // a surrogate
        {"\xEF\xBF\xBE|\xEF\xBF\xBF", fffd + fffd + fffd + "|" + fffd + fffd + fffd}, // U+FFFE, U+FFFF
        {"\xE2\x82", fffd + fffd},                    // cut short
        {"Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC \xF0\x9D\x84\x9E \xEF\xBF\xBD", "Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC "
                                                                          "\xF0\x9D\x84\x9E \xEF\xBF\xBD"},
        {"<&>\x02", "&lt;&amp;&gt;" + fffd},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(XmlRpcValue(c.raw).toXml(), "<value>" + c.written + "</value>") << c.raw;
        XmlRpcValue s;
        s[c.raw] = 1;
        EXPECT_EQ(s.toXml(), "<value><struct><member><name>" + c.written +
                                 "</name><value><i4>1</i4></value></member></struct></value>")
            << c.raw;
    }
}
