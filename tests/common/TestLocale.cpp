// Linked into the suites that must hold whatever the user's locale is. The
// process takes its locale from the environment before any test runs, as
// the Qt application does, so running a suite with LC_ALL=de_DE.UTF-8 (a
// decimal comma) or LC_ALL=tr_TR.UTF-8 (dotted and dotless i) puts every
// number and name the suite checks under that locale's C library rules.
#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char *const g_fromEnvironment = std::setlocale(LC_ALL, "");

} // namespace

// With ORVANE_TEST_LOCALE set (the locale runs registered with CTest), the
// switch must really have happened: a missing locale would otherwise turn
// those runs into plain ones that prove nothing.
TEST(ProcessLocale, IsTheOneTheRunAsksFor)
{
    const char *want = std::getenv("ORVANE_TEST_LOCALE");
    if (!want || !*want)
        GTEST_SKIP() << "ORVANE_TEST_LOCALE not set: running under " << std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(g_fromEnvironment, nullptr) << want << " is not available (scripts/setup-deps generates it)";
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), want);
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), want);
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", 2.5);
    const std::string name = want;
    if (name.rfind("de_DE", 0) == 0 || name.rfind("tr_TR", 0) == 0) {
        EXPECT_STREQ(text, "2,5") << "the C library writes this locale's decimal comma";
    }
    if (name.rfind("tr_TR", 0) == 0) {
        EXPECT_NE(std::tolower('I'), 'i') << "the C library's Turkish case rules leave I alone";
    }
}
