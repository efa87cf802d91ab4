#include "OvcJson.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <ctime>

namespace {

XmlRpcValue parsed(const std::string &text)
{
    XmlRpcValue v;
    std::string error;
    EXPECT_TRUE(OvcJson::parse(text, v, error)) << text << ": " << error;
    return v;
}

std::string refusal(const std::string &text)
{
    XmlRpcValue v;
    std::string error;
    EXPECT_FALSE(OvcJson::parse(text, v, error)) << text;
    EXPECT_FALSE(v.valid()) << text;
    return error;
}

} // namespace

TEST(OvcJson, EveryTypeSurvivesTheRoundTripBothWays)
{
    std::tm t{};
    t.tm_year = 2024;
    t.tm_mon = 2;
    t.tm_mday = 9;
    t.tm_hour = 7;
    t.tm_min = 5;
    t.tm_sec = 59;
    t.tm_isdst = -1;
    const uint8_t bytes[] = {0, 0xff, 4, 3, 2};
    XmlRpcValue v;
    v["bool"] = true;
    v["int"] = -2147483647 - 1;
    v["double"] = 0.1;
    v["big"] = 1e300;
    v["text"] = std::string("quote \" backslash \\ tab\t line\n e\xc3\xa9 smile \xf0\x9f\x98\x80");
    v["when"] = XmlRpcValue(t);
    v["bytes"] = XmlRpcValue(bytes, sizeof bytes);
    v["list"][0] = 1;
    v["list"][1] = "two";
    v["list"][2] = XmlRpcValue(XmlRpcValue::ValueArray{});
    v["empty"] = XmlRpcValue(XmlRpcValue::ValueStruct{});
    v["whole"] = 3.0;

    for (bool pretty : {false, true}) {
        const std::string text = OvcJson::write(v, pretty);
        const XmlRpcValue back = parsed(text);
        EXPECT_EQ(back, v) << text;
        EXPECT_EQ(back.structMembers().at("whole").getType(), XmlRpcValue::TypeDouble) << "3.0 stays a double";
        EXPECT_EQ(OvcJson::write(back, pretty), text);
    }
    EXPECT_EQ(OvcJson::write(v["when"], false), "{\"dateTime.iso8601\":\"20240209T07:05:59\"}");
    EXPECT_EQ(OvcJson::write(v["bytes"], false), "{\"base64\":\"AP8EAwI=\"}");
    EXPECT_EQ(OvcJson::write(v["whole"], false), "3.0");
    EXPECT_EQ(OvcJson::write(XmlRpcValue(), false), "null");
}

TEST(OvcJson, PrettyOutputIsIndentedByTwoSpaces)
{
    XmlRpcValue v;
    v["b"][0] = 1;
    v["b"][1] = "x";
    v["a"] = XmlRpcValue(XmlRpcValue::ValueStruct{});
    EXPECT_EQ(OvcJson::write(v, true), "{\n  \"a\": {},\n  \"b\": [\n    1,\n    \"x\"\n  ]\n}");
    EXPECT_EQ(OvcJson::write(v, false), "{\"a\":{},\"b\":[1,\"x\"]}");
}

TEST(OvcJson, IntegersFillThirtyTwoBitsThenBecomeDoubles)
{
    EXPECT_EQ(parsed("2147483647"), XmlRpcValue(2147483647));
    EXPECT_EQ(parsed("-2147483648"), XmlRpcValue(-2147483647 - 1));
    EXPECT_EQ(parsed("2147483648").getType(), XmlRpcValue::TypeDouble);
    EXPECT_EQ(parsed("2147483648").asDouble(), 2147483648.0);
    EXPECT_EQ(parsed("-2147483649").asDouble(), -2147483649.0);
    EXPECT_EQ(parsed("1.5").asDouble(), 1.5);
    EXPECT_EQ(parsed("-0.25e2").asDouble(), -25.0);
    EXPECT_EQ(parsed("1E3").getType(), XmlRpcValue::TypeDouble);
    EXPECT_EQ(parsed(" \t\r\n7\n"), XmlRpcValue(7));
    for (const char *bad : {"01", "-", "1.", ".5", "1e", "1e+", "+1", "0x10", "1e400", "- 1", "NaN", "Infinity"})
        refusal(bad);
}

TEST(OvcJson, NumbersIgnoreTheUsersLocale)
{
    const char *previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    const char *found = nullptr;
    for (const char *name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE.utf8", "ru_RU.UTF-8"})
        if ((found = std::setlocale(LC_ALL, name)))
            break;
    if (!found)
        GTEST_SKIP() << "no comma-decimal locale installed";
    EXPECT_EQ(OvcJson::write(XmlRpcValue(2.5), false), "2.5");
    EXPECT_EQ(parsed("2.5").asDouble(), 2.5);
    refusal("2,5");
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(OvcJson, StringsAreReadStrictlyAndWrittenAsValidUtf8)
{
    EXPECT_EQ(parsed("\"a\\u00e9\\n\\\"\\\\\\/\\b\\f\\r\\t\"").asString(), "a\xc3\xa9\n\"\\/\b\f\r\t");
    EXPECT_EQ(parsed("\"\\ud83d\\ude00\"").asString(), "\xf0\x9f\x98\x80");
    EXPECT_EQ(parsed("\"\\u20AC\"").asString(), "\xe2\x82\xac");
    EXPECT_NE(refusal("\"\\ud83d\"").find("surrogate"), std::string::npos);
    refusal("\"\\ude00\"");
    refusal("\"\\ud83d\\u0041\"");
    refusal("\"\\u12\"");
    refusal("\"\\x41\"");
    refusal("\"raw\ttab\"");
    refusal("\"open");

    // Stray bytes, control and delete characters on the way out.
    std::string odd = "a\x01\x7f\xff\xc3";
    odd += '\0';
    odd += "\xe0\x80\x80z\xed\xa0\x80";
    EXPECT_EQ(OvcJson::write(XmlRpcValue(odd), false),
              "\"a\\u0001\\u007f\\ufffd\\ufffd\\u0000\\ufffd\\ufffd\\ufffdz\\ufffd\\ufffd\\ufffd\"");
}

TEST(OvcJson, MalformedDocumentsAreRefusedWithTheirPlace)
{
    EXPECT_NE(refusal("null").find("null"), std::string::npos);
    EXPECT_NE(refusal("[1, 2,]").find("at byte 6"), std::string::npos);
    for (const char *bad : {"", "   ", "[", "[1 2]", "{\"a\" 1}", "{\"a\":}", "{a:1}", "{\"a\":1,}", "[1]]", "tru",
                            "true false", "{\"a\":1}x", "[null]", "{\"base64\":\"@@@\"}",
                            "{\"dateTime.iso8601\":\"2024-03-09\"}"})
        refusal(bad);
    // Two members, one of them "base64": an ordinary struct.
    const XmlRpcValue s = parsed("{\"base64\":\"AAAA\",\"x\":1}");
    EXPECT_EQ(s.getType(), XmlRpcValue::TypeStruct);
    EXPECT_EQ(parsed("{\"a\":1,\"a\":2}")["a"], XmlRpcValue(2)) << "the last of a repeated name wins";
}

TEST(OvcJson, NestingIsBoundedAndLongInputsParseInLinearTime)
{
    const auto nested = [](int depth) { return std::string(static_cast<size_t>(depth), '[') + std::string(static_cast<size_t>(depth), ']'); };
    parsed(nested(OvcJson::kMaxDepth + 1));
    EXPECT_NE(refusal(nested(OvcJson::kMaxDepth + 2)).find("deeply"), std::string::npos);

    // A megabyte of openers is refused at the limit, not by the stack.
    const auto t0 = std::chrono::steady_clock::now();
    refusal(std::string(1 << 20, '['));
    refusal(std::string(1 << 19, '{'));
    // 100 000 members, 200 000 elements in one document.
    std::string big = "{";
    for (int i = 0; i < 100000; ++i)
        big += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":[" + std::to_string(i) + ",\"v\"]";
    big += "}";
    const XmlRpcValue v = parsed(big);
    EXPECT_EQ(v.size(), 100000);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(seconds, 10.0) << "about 3 MB of JSON takes about half a second";
}
