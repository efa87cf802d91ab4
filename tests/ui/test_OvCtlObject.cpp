#include "OvCoreController.h"
#include "OvCtlObject.h"
#include "OvcColorGamut.h"
#include "OvcGreyscale.h"
#include "PanelTestKit.h"

#include <gtest/gtest.h>

#include <clocale>
#include <typeinfo>

using paneltest::params;

namespace {

std::string red(const OvCtlObject &o)
{
    const char *t = "";
    o.params().get("Color_Red", t);
    return t;
}

} // namespace

TEST(OvCtlObject, EightPresetsInOrderWithTheirRequests)
{
    OvCoreController c(nullptr);
    const auto &p = c.presets();
    ASSERT_EQ(p.size(), 8u);
    const char *patterns[] = {"Brightness", "Contrast",     "Color",    "Window",
                              "Window",     "Checkerboard", "Geometry", "Nimbra-Test-Card"};
    for (size_t i = 0; i < 8; ++i) {
        const char *t = nullptr;
        ASSERT_TRUE(p[i]->params().get("Pattern", t)) << i;
        EXPECT_STREQ(t, patterns[i]) << i;
    }
    EXPECT_EQ(typeid(*p[3]), typeid(OvcGreyscale));
    EXPECT_EQ(typeid(*p[4]), typeid(OvcColorGamut));
    EXPECT_EQ(p[3]->params().map(),
              (QiParams::Map{{"Color_Blue", "76"}, {"Color_Green", "76"}, {"Color_Red", "76"}, {"Pattern", "Window"},
                             {"Size", "10"}}));
    EXPECT_EQ(p[4]->params().map(),
              (QiParams::Map{{"Color_Blue", "0"}, {"Color_Green", "0"}, {"Color_Red", "0xff"}, {"Pattern", "Window"},
                             {"Size", "10"}}));
    for (size_t i : {0u, 1u, 2u, 5u, 6u, 7u})
        EXPECT_EQ(p[i]->params().size(), 1u) << i;
}

TEST(OvCtlObject, MatchesGreyAndColourWindows)
{
    OvcGreyscale grey;
    OvcColorGamut gamut;
    OvcBrightness brightness;
    const QiParams greyWindow =
        params({{"Pattern", "Window"}, {"Color_Red", "128"}, {"Color_Green", "128"}, {"Color_Blue", "128"}});
    const QiParams redWindow =
        params({{"Pattern", "Window"}, {"Color_Red", "255"}, {"Color_Green", "0"}, {"Color_Blue", "0"}});
    EXPECT_TRUE(grey.matches(greyWindow));
    EXPECT_FALSE(grey.matches(redWindow));
    EXPECT_FALSE(gamut.matches(greyWindow));
    EXPECT_TRUE(gamut.matches(redWindow));

    // The pattern text must be exactly the preset's; colours alone do not do.
    QiParams lower = greyWindow;
    lower.set("Pattern", "window");
    EXPECT_FALSE(grey.matches(lower));
    QiParams noPattern = greyWindow;
    noPattern.remove("Pattern");
    EXPECT_FALSE(grey.matches(noPattern));
    // Absent colours are empty texts: all equal, so grey.
    EXPECT_TRUE(grey.matches(params({{"Pattern", "Window"}})));
    EXPECT_FALSE(gamut.matches(params({{"Pattern", "Window"}})));
    // Equal numbers written differently are different texts.
    EXPECT_TRUE(gamut.matches(
        params({{"Pattern", "Window"}, {"Color_Red", "0x80"}, {"Color_Green", "128"}, {"Color_Blue", "128"}})));

    EXPECT_TRUE(brightness.matches(params({{"Pattern", "Brightness"}, {"Color_Red", "1"}})));
    EXPECT_FALSE(brightness.matches(params({{"Pattern", "Contrast"}})));
    EXPECT_TRUE(OvCtlObject("Pattern", "").matches(QiParams()));
}

TEST(OvcGreyscale, StepsRoundToTheNearestStepAndWrap)
{
    struct Case {
        const char *from;
        int direction;
        int32_t expect;
        const char *line;
    } cases[] = {
        {"16", +1, 26, "gv(10.428571) => 16 => 0 => 1 => 26.928571 => 26\n"},
        {"16", -1, 235, "gv(10.428571) => 16 => 0 => -1 => 6.071429 => 235\n"},
        {"235", +1, 16, "gv(10.428571) => 235 => 21 => 22 => 245.928571 => 16\n"},
        {"235", -1, 225, "gv(10.428571) => 235 => 21 => 20 => 225.071429 => 225\n"},
        {"76", +1, 89, "gv(10.428571) => 76 => 6 => 7 => 89.500000 => 89\n"},
        {"76", -1, 68, "gv(10.428571) => 76 => 6 => 5 => 68.642857 => 68\n"},
        // Read with automatic base: 0x4c is 76.
        {"0x4c", +1, 89, "gv(10.428571) => 76 => 6 => 7 => 89.500000 => 89\n"},
        // Not a number: 0, which rounds to step -1 (truncation toward zero
        // of -1.03), so the next step is 16 itself.
        {"grey", +1, 16, "gv(10.428571) => 0 => -1 => 0 => 16.500000 => 16\n"},
        // Far outside the range: wraps without overflowing.
        {"2147483647", +1, 16, nullptr},
        {"-2147483648", -1, 235, nullptr},
    };
    for (const Case &c : cases) {
        std::string line;
        EXPECT_EQ(OvcGreyscale::step(params({{"Color_Red", c.from}}), c.direction, &line), c.expect) << c.from;
        if (c.line) {
            EXPECT_EQ(line, c.line) << c.from;
        }
    }

    // next/prev print the line and set all three components of the preset.
    OvcGreyscale grey;
    testing::internal::CaptureStdout();
    grey.next(params({{"Color_Red", "76"}}));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "gv(10.428571) => 76 => 6 => 7 => 89.500000 => 89\n");
    EXPECT_EQ(grey.params().map(),
              (QiParams::Map{{"Color_Blue", "89"}, {"Color_Green", "89"}, {"Color_Red", "89"}, {"Pattern", "Window"},
                             {"Size", "10"}}));
    grey.prev(grey.params());
    EXPECT_EQ(red(grey), "79"); // 89 is step 7; step 6 is trunc(6 * 10.43 + 16.5)
}

TEST(OvcGreyscale, TheTraceLineIgnoresTheUsersLocale)
{
    // A locale with a decimal comma, when the machine has one.
    const char *old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma installed";
    std::string line;
    OvcGreyscale::step(params({{"Color_Red", "76"}}), 1, &line);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(line, "gv(10.428571) => 76 => 6 => 7 => 89.500000 => 89\n");
}

TEST(OvCtlObject, StepsThatChangeNothingSaySo)
{
    OvcBrightness brightness;
    OvcColorGamut gamut;
    const QiParams before = gamut.params();
    testing::internal::CaptureStdout();
    brightness.next(QiParams());
    brightness.prev(QiParams());
    gamut.next(params({{"Color_Red", "5"}}));
    gamut.prev(params({{"Color_Red", "5"}}));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "OvCtlObject::next ()\nOvCtlObject::prev ()\nGamutNext => Current ()\nGamutPrev => Current ()\n");
    EXPECT_EQ(gamut.params(), before);
    EXPECT_EQ(brightness.params().map(), (QiParams::Map{{"Pattern", "Brightness"}}));
}
