// Numbers and names read and written the same whatever the process locale
// is. Run plainly and, through CTest, under de_DE.UTF-8 and tr_TR.UTF-8
// (tests/common/TestLocale.cpp switches the process locale).
#include "FakeRaster.h"
#include "OvCore.h"
#include "QiAscii.h"
#include "QiLog.h"
#include "QiOptBool.h"
#include "QiOptDouble.h"
#include "QiOptEnum.h"
#include "QiOptInt.h"
#include "QiOptRGB.h"
#include "QiParams.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::string value(const QiParams &p, const std::string &key)
{
    const char *v = nullptr;
    return p.get(key, v) ? std::string(v) : std::string("<absent>");
}

class Lines : public QiOutput {
public:
    Lines() : QiOutput(6) {}
    bool write(const char *bytes, size_t length) override
    {
        std::lock_guard<std::mutex> g(lock);
        text.append(bytes, length);
        return true;
    }
    std::mutex lock;
    std::string text;
};

class Named : public OvPatternRenderer {
public:
    explicit Named(const char *n) : OvPatternRenderer(nullptr, "$Revision: 1.0 $"), m_name(n) {}
    const char *name() const override { return m_name; }
    bool render(OvCore *, QiRaster *, const QiParams &) override { return true; }

private:
    const char *m_name;
};
OvPatternRenderer *makeImageFile() { return new Named("ImageFile"); }
OvPatternRenderer *makeIdms() { return new Named("IDMS"); }

} // namespace

TEST(TextRules, IntegersBeyond32BitsSaturateAndOptionsThenClamp)
{
    EXPECT_EQ(QiParams::parseInt("3000000000"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(QiParams::parseInt("4294967396"), std::numeric_limits<int32_t>::max()) << "not 100";
    EXPECT_EQ(QiParams::parseInt("-3000000000"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(QiParams::parseInt("99999999999999999999999"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(QiParams::parseInt("0x1FFFFFFFF"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(QiParams::parseInt("2147483647"), 2147483647);
    EXPECT_EQ(QiParams::parseInt("-2147483648"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(QiParams::parseInt("-2147483649"), std::numeric_limits<int32_t>::min());
    // The ordinary readings stay: blanks, sign, base prefixes, trailing text.
    EXPECT_EQ(QiParams::parseInt(" \t+42"), 42);
    EXPECT_EQ(QiParams::parseInt("-0x10"), -16);
    EXPECT_EQ(QiParams::parseInt("0x"), 0);
    EXPECT_EQ(QiParams::parseInt("0xg"), 0);
    EXPECT_EQ(QiParams::parseInt("019"), 1) << "octal stops at 9";
    EXPECT_EQ(QiParams::parseInt("12px"), 12);
    EXPECT_EQ(QiParams::parseInt("1e3"), 1);
    EXPECT_EQ(QiParams::parseInt("--1"), 0);
    EXPECT_EQ(QiParams::parseInt(""), 0);

    EXPECT_EQ(QiParams::parseUInt("4294967295"), 4294967295u);
    EXPECT_EQ(QiParams::parseUInt("4294967296"), 4294967295u);
    EXPECT_EQ(QiParams::parseUInt("4294967396"), 4294967295u) << "not 100";
    EXPECT_EQ(QiParams::parseUInt("-1"), 4294967295u) << "a minus negates within 32 bits";
    EXPECT_EQ(QiParams::parseUInt("-5"), 4294967291u);
    EXPECT_EQ(QiParams::parseUInt("-4294967296"), 4294967295u);

    QiOptInt level("Level", "1 to 255", 128, 1, 255);
    QiOptInt percent("Percent", "0 to 100", 75, 0, 100);
    QiParams p;
    p.set("Level", "3000000000");
    EXPECT_EQ(level.read(p), 255) << "a huge number is the largest, not 1";
    p.set("Level", "-3000000000");
    EXPECT_EQ(level.read(p), 1);
    p.set("Percent", "-4294967196");
    EXPECT_EQ(percent.read(p), 0) << "wrapping would give 100";
    p.set("Percent", "4294967396");
    EXPECT_EQ(percent.read(p), 100);

    QiOptRGB colour("Color", "colour", 1, 2, 3, true);
    p.set("Color_Red", "4294967396");
    p.set("Color_Green", "-1");
    p.set("Color_Blue", "7");
    uint32_t r = 0, g = 0, b = 0;
    EXPECT_TRUE(colour.read(p, r, g, b));
    EXPECT_EQ(r, 4294967295u);
    EXPECT_EQ(g, 4294967295u);
    EXPECT_EQ(b, 7u);
}

TEST(TextRules, RealNanTakesTheDefaultAndInfinitiesClamp)
{
    QiOptDouble gamma("Gamma", "gamma", 2.2, 0.1, 10.0);
    QiParams p;
    for (const char *nan : {"nan", "NaN", "-nan", "  nan(123)", "+NAN"}) {
        p.set("Gamma", nan);
        const double v = gamma.read(p);
        EXPECT_FALSE(std::isnan(v)) << nan;
        EXPECT_EQ(v, 2.2) << nan;
    }
    p.set("Gamma", "inf");
    EXPECT_EQ(gamma.read(p), 10.0);
    p.set("Gamma", "-Infinity");
    EXPECT_EQ(gamma.read(p), 0.1);
    p.set("Gamma", "1e999");
    EXPECT_EQ(gamma.read(p), 10.0);
    p.set("Gamma", "-1e999");
    EXPECT_EQ(gamma.read(p), 0.1);
    p.set("Gamma", "1e-999");
    EXPECT_EQ(gamma.read(p), 0.1) << "too small to tell from 0, then clamped";
    p.set("Gamma", "2.5");
    EXPECT_EQ(gamma.read(p), 2.5);
}

TEST(TextRules, RealNumbersAreWrittenAndReadWithAPoint)
{
    EXPECT_EQ(formatDouble(2.2), "2.200000");
    EXPECT_EQ(formatDouble(-0.5), "-0.500000");
    EXPECT_EQ(formatDouble(0.0000004), "0.000000");
    EXPECT_EQ(formatDouble(0.0000015), "0.000002") << "rounded like %f";
    EXPECT_EQ(formatDouble(1e20), "100000000000000000000.000000");
    EXPECT_EQ(formatDouble(1e300).size(), 308u) << "301 digits, a point and six decimals";
    EXPECT_EQ(formatDouble(-1.7976931348623157e308).size(), 317u);
    EXPECT_EQ(formatDouble(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(formatDouble(std::numeric_limits<double>::quiet_NaN()), "nan");

    EXPECT_EQ(QiParams::parseDouble("2.5"), 2.5);
    EXPECT_EQ(QiParams::parseDouble("2,5"), 2.0) << "a comma ends the number";
    EXPECT_EQ(QiParams::parseDouble("  -1.25e2xyz"), -125.0);
    EXPECT_EQ(QiParams::parseDouble("+.5"), 0.5);
    EXPECT_EQ(QiParams::parseDouble("0x1.8p1"), 3.0);
    EXPECT_EQ(QiParams::parseDouble("0x10"), 16.0);
    EXPECT_EQ(QiParams::parseDouble("abc"), 0.0);
    EXPECT_EQ(QiParams::parseDouble("-"), 0.0);
    EXPECT_EQ(QiParams::parseDouble("1e"), 1.0);

    QiParams p;
    p.setDouble("Gamma", 2.2);
    EXPECT_EQ(value(p, "Gamma"), "2.200000");
    double d = 0;
    ASSERT_TRUE(p.getDouble("Gamma", d));
    EXPECT_EQ(d, 2.2);

    QiOptDouble gamma("Gamma", "gamma", 2.2, -1.5, 10.0);
    QiParams described;
    gamma.describe(described);
    EXPECT_EQ(value(described, "DefaultValue"), "2.200000");
    EXPECT_EQ(value(described, "MinValue"), "-1.500000");
    EXPECT_EQ(value(described, "MaxValue"), "10.000000");
    QiParams back;
    back.set("Gamma", value(described, "DefaultValue"));
    EXPECT_EQ(gamma.read(back), 2.2) << "a published default reads back as itself";
}

TEST(TextRules, NamesCompareIgnoringAsciiCase)
{
    EXPECT_TRUE(qiEqualsIgnoreCase("imagefile", "ImageFile"));
    EXPECT_TRUE(qiEqualsIgnoreCase("SPLITFIELD", "splitfield"));
    EXPECT_FALSE(qiEqualsIgnoreCase("i", "\xC4\xB0")) << "only ASCII letters fold";
    EXPECT_LT(qiCompareIgnoreCase("abc", "ABD"), 0);
    EXPECT_GT(qiCompareIgnoreCase("b", "A"), 0);
    EXPECT_LT(qiCompareIgnoreCase("ab", "ABC"), 0);
    EXPECT_GT(qiCompareIgnoreCase("Z", "_"), 0) << "letters fold to lower case before comparing, as strcasecmp";
    EXPECT_TRUE(qiStartsWithIgnoreCase("TRUE!", "true"));

    static const char *const styles[] = {"Normal", "SplitField", "FullField", "Iris", nullptr};
    QiOptEnum style("Style", "style", 0, styles);
    QiParams p;
    unsigned idx = 0;
    for (const char *text : {"SPLITFIELD", "splitfield", "sPLITfIELD"}) {
        p.set("Style", text);
        idx = 0;
        EXPECT_TRUE(style.read(p, idx));
        EXPECT_EQ(idx, 1u) << text;
    }
    p.set("Style", "IRIS");
    EXPECT_TRUE(style.read(p, idx));
    EXPECT_EQ(idx, 3u);
    p.set("Style", "TOGGLE");
    EXPECT_TRUE(style.readToggle(p, idx));
    EXPECT_EQ(idx, 0u);
    EXPECT_EQ(value(p, "Style"), "Normal");

    QiOptBool titling("OutputTitling", "titling", false);
    for (const char *yes : {"TRUE", "Yes", "yesterday", "1"}) {
        p.set("OutputTitling", yes);
        EXPECT_TRUE(titling.read(p)) << yes;
    }
    bool on = false;
    p.set("OutputTitling", "ToGgLe");
    EXPECT_TRUE(p.getBoolToggle("OutputTitling", on));
    EXPECT_TRUE(on);
    EXPECT_EQ(value(p, "OutputTitling"), "true");

    // The renderer registry ignores case the same way.
    auto old = swapLogOutput(std::make_unique<Lines>());
    FakeRaster raster;
    OvCore core;
    core.start(&raster, nullptr, {makeImageFile, makeIdms});
    for (const char *n : {"imagefile", "IMAGEFILE", "ImageFile", "iMAGEfILE"}) {
        OvPatternRenderer *r = core.findRenderer(n);
        ASSERT_NE(r, nullptr) << n;
        EXPECT_STREQ(r->name(), "ImageFile");
    }
    ASSERT_NE(core.findRenderer("idms"), nullptr);
    EXPECT_STREQ(core.findRenderer("idms")->name(), "IDMS");
    EXPECT_EQ(core.findRenderer("imagefil"), nullptr);
    core.shutdown();
    swapLogOutput(std::move(old));
}

TEST(TextRules, LogLinesWriteNumbersWithAPoint)
{
    auto lines = std::make_unique<Lines>();
    Lines *seen = lines.get();
    auto old = swapLogOutput(std::move(lines));
    qiLog(2, "pattern rendered %s in time %g\n", "Colorbars", 0.0125);
    qiLog(3, "%f|%.2f|%e|%d\n", 2.5, 1.0 / 3, 1500.0, 1234567);
    auto mine = swapLogOutput(std::move(old));
    EXPECT_EQ(seen->text, "Info: pattern rendered Colorbars in time 0.0125\n"
                          "Minutiae: 2.500000|0.33|1.500000e+03|1234567\n");
}
