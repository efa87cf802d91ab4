#include "XmlRpcUtil.h"
#include "XmlRpcValue.h"

#include <gtest/gtest.h>

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
