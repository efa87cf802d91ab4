#include "QiOptBool.h"
#include "QiOptDouble.h"
#include "QiOptEnum.h"
#include "QiOptInt.h"
#include "QiOptIntRo.h"
#include "QiOptRGB.h"
#include "QiParams.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

TEST(QiParams, SetReplacesAndAddMissingNeverReplaces)
{
    QiParams p;
    p.set("Pattern", "A");
    p.set("Pattern", "B");
    const char *v = nullptr;
    ASSERT_TRUE(p.get("Pattern", v));
    EXPECT_STREQ(v, "B");
    EXPECT_FALSE(p.get("pattern", v)) << "keys are case-sensitive";

    QiParams other;
    other.set("Pattern", "C");
    other.set("Size", "10");
    p.addMissing(other);
    p.get("Pattern", v);
    EXPECT_STREQ(v, "B");
    p.get("Size", v);
    EXPECT_STREQ(v, "10");

    p.remove("Size");
    p.remove("Absent");
    EXPECT_EQ(p.size(), 1u);
}

TEST(QiParams, NumbersUseAutomaticBaseAndUntouchedOutputWhenAbsent)
{
    QiParams p;
    p.set("hex", "0x10");
    p.set("oct", "010");
    p.set("txt", "abc");
    p.set("neg", "-5");
    p.set("big", "0xFFFFFFFF");
    int32_t i = 99;
    EXPECT_TRUE(p.getInt("hex", i));
    EXPECT_EQ(i, 16);
    EXPECT_TRUE(p.getInt("oct", i));
    EXPECT_EQ(i, 8);
    EXPECT_TRUE(p.getInt("txt", i));
    EXPECT_EQ(i, 0);
    EXPECT_TRUE(p.getInt("neg", i));
    EXPECT_EQ(i, -5);
    i = 42;
    EXPECT_FALSE(p.getInt("none", i));
    EXPECT_EQ(i, 42);
    uint32_t u = 0;
    EXPECT_TRUE(p.getUInt("big", u));
    EXPECT_EQ(u, 0xFFFFFFFFu);

    p.setDouble("d", 0.5);
    const char *t;
    p.get("d", t);
    EXPECT_STREQ(t, "0.500000");
    double d = 7;
    EXPECT_TRUE(p.getDouble("d", d));
    EXPECT_DOUBLE_EQ(d, 0.5);
    EXPECT_TRUE(p.getDouble("txt", d));
    EXPECT_EQ(d, 0.0);

    // "%f" of a huge value is hundreds of characters long.
    p.setDouble("huge", 1e300);
    p.get("huge", t);
    EXPECT_EQ(std::strlen(t), 301u + 7u);
    EXPECT_EQ(std::string(t).substr(0, 2), "10");
    p.setInt("int", -2147483647 - 1);
    p.get("int", t);
    EXPECT_STREQ(t, "-2147483648");
}

TEST(QiParams, BooleansComparePrefixesAndToggleWritesBack)
{
    QiParams p;
    struct {
        const char *text;
        bool expect;
    } cases[] = {{"Yes", true}, {"TRUE!", true}, {"yesterday", true}, {"10", true}, {"1", true},
                 {"0", false},  {"no", false},   {"false", false},    {"", false},   {"toggle", false}};
    for (auto &c : cases) {
        p.set("b", c.text);
        bool b = !c.expect;
        EXPECT_TRUE(p.getBool("b", b));
        EXPECT_EQ(b, c.expect) << c.text;
    }

    p.set("t", "toggle");
    bool cur = false;
    EXPECT_TRUE(p.getBoolToggle("t", cur));
    EXPECT_TRUE(cur);
    const char *v;
    p.get("t", v);
    EXPECT_STREQ(v, "true");
    p.set("t", "TOGGLEme");
    EXPECT_TRUE(p.getBoolToggle("t", cur));
    EXPECT_FALSE(cur);
    p.get("t", v);
    EXPECT_STREQ(v, "false");
    // A plain value is not written back.
    p.set("t", "yes");
    EXPECT_TRUE(p.getBoolToggle("t", cur));
    p.get("t", v);
    EXPECT_STREQ(v, "yes");
}

TEST(QiOption, IntDoubleBoolReadsClampOnlyPresentValues)
{
    static QiOptInt level("Level", "level", 500, 1, 255);
    QiParams p;
    EXPECT_EQ(level.read(p), 500) << "absent value is the default, unclamped";
    p.set("Level", "0");
    EXPECT_EQ(level.read(p), 1);
    p.set("Level", "300");
    EXPECT_EQ(level.read(p), 255);
    p.set("Level", "abc");
    EXPECT_EQ(level.read(p), 1);
    p.set("Level", "0x3f");
    EXPECT_EQ(level.read(p), 63);

    static QiOptDouble gamma("Gamma", "gamma", 2.2, 0.5, 4.0);
    QiParams q;
    EXPECT_DOUBLE_EQ(gamma.read(q), 2.2);
    q.set("Gamma", "9");
    EXPECT_DOUBLE_EQ(gamma.read(q), 4.0);
    q.set("Gamma", "-1");
    EXPECT_DOUBLE_EQ(gamma.read(q), 0.5);

    static QiOptBool flag("Flag", "flag", true);
    QiParams r;
    EXPECT_TRUE(flag.read(r));
    r.set("Flag", "no");
    EXPECT_FALSE(flag.read(r));
}

TEST(QiOption, EnumReadMatchesIgnoringCaseAndToggleWraps)
{
    static const char *const kValues[] = {"Rec601", "Rec709", nullptr};
    static QiOptEnum enc("Enc", "encoding", 0, kValues);
    EXPECT_EQ(enc.count(), 2u);
    QiParams p;
    unsigned idx = 1;
    EXPECT_FALSE(enc.read(p, idx));
    EXPECT_EQ(idx, 0u);
    p.set("Enc", "rec709");
    EXPECT_TRUE(enc.read(p, idx));
    EXPECT_EQ(idx, 1u);
    idx = 1;
    p.set("Enc", "nothing");
    EXPECT_TRUE(enc.read(p, idx));
    EXPECT_EQ(idx, 1u) << "no match leaves the index as passed";

    const char *v;
    idx = 1;
    p.set("Enc", "TOGGLE");
    EXPECT_TRUE(enc.readToggle(p, idx));
    EXPECT_EQ(idx, 0u);
    p.get("Enc", v);
    EXPECT_STREQ(v, "Rec601");
    p.set("Enc", "toggle");
    EXPECT_TRUE(enc.readToggle(p, idx));
    EXPECT_EQ(idx, 1u);
    p.get("Enc", v);
    EXPECT_STREQ(v, "Rec709");
    // Only the whole word toggles.
    p.set("Enc", "togglex");
    EXPECT_TRUE(enc.readToggle(p, idx));
    EXPECT_EQ(idx, 1u);
    p.get("Enc", v);
    EXPECT_STREQ(v, "togglex");
    // Plain read does not toggle.
    p.set("Enc", "toggle");
    idx = 0;
    EXPECT_TRUE(enc.read(p, idx));
    EXPECT_EQ(idx, 0u);
}

TEST(QiOption, EnumValuesReplacedAtRunTime)
{
    static const char *const kNone[] = {nullptr};
    static QiOptEnum fmt("VideoFormat", "formats", 0, kNone);
    EXPECT_EQ(fmt.count(), 0u);
    fmt.setValues({"a", "b", "c"}, 2);
    EXPECT_EQ(fmt.count(), 3u);
    EXPECT_EQ(fmt.defaultIndex(), 2u);
    EXPECT_EQ(fmt.nameAt(1), "b");
    EXPECT_EQ(fmt.nameAt(7), "c") << "out of range names the default";
    QiParams d;
    fmt.describe(d);
    const char *v;
    d.get("nVal", v);
    EXPECT_STREQ(v, "3");
    d.get("VideoFormat2", v);
    EXPECT_STREQ(v, "c");
}

TEST(QiOption, RgbReadsEachPresentComponent)
{
    static QiOptRGB color("Color", "colour", 10, 20, 30, true);
    QiParams p;
    uint32_t r, g, b;
    EXPECT_FALSE(color.read(p, r, g, b));
    EXPECT_EQ(r, 10u);
    EXPECT_EQ(g, 20u);
    EXPECT_EQ(b, 30u);
    p.set("Color_Red", "0x3ff");
    p.set("Color_Blue", "5");
    EXPECT_FALSE(color.read(p, r, g, b));
    EXPECT_EQ(r, 1023u);
    EXPECT_EQ(g, 20u);
    EXPECT_EQ(b, 5u);
    p.set("Color_Green", "7");
    EXPECT_TRUE(color.read(p, r, g, b));
    EXPECT_EQ(g, 7u);

    EXPECT_TRUE(color.matchesKey("Color"));
    EXPECT_TRUE(color.matchesKey("Color_Red"));
    EXPECT_TRUE(color.matchesKey("ColorX"));
    EXPECT_FALSE(color.matchesKey("color_Red"));
    static QiOptInt size("Size", "size", 1, 0, 10);
    EXPECT_TRUE(size.matchesKey("Size"));
    EXPECT_FALSE(size.matchesKey("Size_Red")) << "only RGB descriptors match by prefix";
}

TEST(QiOption, DescribeWritesExactKeys)
{
    static const char *const kStyles[] = {"Normal", "RGBCMYK", nullptr};
    static QiOptEnum style("Style", "The style", 1, kStyles, {1, 2, 3, 4});
    QiParams d;
    style.describe(d);
    QiParams expect;
    expect.set("Name", "Style");
    expect.set("DataType", "Enumeration");
    expect.set("Description", "The style");
    expect.set("uiX", "1");
    expect.set("uiY", "2");
    expect.set("uiW", "3");
    expect.set("uiH", "4");
    expect.set("DefaultValue", "RGBCMYK");
    expect.set("Style0", "Normal");
    expect.set("Style1", "RGBCMYK");
    expect.set("nVal", "2");
    EXPECT_EQ(d, expect) << "no predicate keys without predicate texts";

    static QiOptInt level("Level", "lvl", 5, 0, 9, {-1, -1, 0, 0, "Style", "Custom", true});
    QiParams li;
    level.describe(li);
    const char *v;
    ASSERT_TRUE(li.get("uiPredicatesOnField", v));
    EXPECT_STREQ(v, "Style");
    li.get("uiPredicatesOnValue", v);
    EXPECT_STREQ(v, "Custom");
    li.get("uiPredicateLogic", v);
    EXPECT_STREQ(v, "1");
    li.get("MaxValue", v);
    EXPECT_STREQ(v, "9");
    li.get("MinValue", v);
    EXPECT_STREQ(v, "0");
    li.get("DefaultValue", v);
    EXPECT_STREQ(v, "5");
    li.get("DataType", v);
    EXPECT_STREQ(v, "Integer");

    static QiOptDouble dbl("G", "g", 2.2, 0.5, 4, {});
    QiParams dd;
    dbl.describe(dd);
    dd.get("DefaultValue", v);
    EXPECT_STREQ(v, "2.200000");
    dd.get("DataType", v);
    EXPECT_STREQ(v, "Double");

    static QiOptRGB rgb("C", "c", 1, 2, 3, false);
    QiParams rd;
    rgb.describe(rd);
    rd.get("DefaultValueG", v);
    EXPECT_STREQ(v, "2");
    rd.get("DefaultIsRGB", v);
    EXPECT_STREQ(v, "false");
    rd.get("DataType", v);
    EXPECT_STREQ(v, "RGB");

    static QiOptIntRo ro("BitDepth", "bits", 10);
    QiParams rr;
    ro.describe(rr);
    rr.get("Value", v);
    EXPECT_STREQ(v, "10");
    rr.get("DataType", v);
    EXPECT_STREQ(v, "RoInteger");
    EXPECT_FALSE(rr.has("DefaultValue"));

    static QiOptBool b("B", "b", true);
    QiParams bd;
    b.describe(bd);
    bd.get("DefaultValue", v);
    EXPECT_STREQ(v, "true");
    bd.get("DataType", v);
    EXPECT_STREQ(v, "Boolean");
}

// Reals read as the C library reads them in the C locale; the option value
// fuzzer compares the two. "0x-1" once read as -1 and "0xnan" as a NaN: the
// number reader took a sign and "nan" after "0x".
TEST(QiParams, RealsAfterAHexPrefixReadAsTheCLibraryHasThem)
{
    struct {
        const char *text;
        double value;
        bool negative;
    } cases[] = {{"0x-1", 0.0, false}, {"-0x-1", 0.0, true}, {"-0x", 0.0, true},   {"0x", 0.0, false},
                 {"-abc", 0.0, false}, {"--5", 0.0, false},  {"0x1p-2", 0.25, false}, {"-0x10", -16.0, true},
                 {"0x+1", 0.0, false}, {" -0x.8", -0.5, true}, {"0xnan", 0.0, false}, {"-0xinf", 0.0, true},
                 {"0x.", 0.0, false}, {"0xg", 0.0, false}};
    for (const auto &c : cases) {
        const double d = QiParams::parseDouble(c.text);
        EXPECT_EQ(d, c.value) << c.text;
        EXPECT_EQ(std::signbit(d), c.negative) << c.text;
    }
}
