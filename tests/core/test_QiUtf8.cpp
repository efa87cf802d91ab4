#include "QiUtf8.h"

#include <gtest/gtest.h>

#include <string>

TEST(QiUtf8, CleanNamesAreWellFormedUtf8WithoutControls)
{
    for (const char *good : {"", "Colorbars", "user/A-1080", "Gr\xC3\xB6\xC3\x9F" "e", "\xE2\x82\xAC",
                             "\xF0\x9D\x84\x9E", "\xEF\xBF\xBD", "\xED\x9F\xBF", "\xEE\x80\x80", "\xF4\x8F\xBF\xBF",
                             "\xC2\xA0"})
        EXPECT_TRUE(QiUtf8::isCleanName(good)) << good;
    const std::string bad[] = {
        "a\x01",          "\t",                "\n",           "\x1F",         "\x7F",
        "\xC2\x80",       "\xC2\x9F",          "\x80",         "\xBF",         "\xC0\xAF",
        "\xC1\xBF",       "\xE0\x9F\xBF",      "\xED\xA0\x80", "\xED\xBF\xBF", "\xEF\xBF\xBE",
        "\xEF\xBF\xBF",   "\xF0\x8F\xBF\xBF",  "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF",
        "\xE2\x82",       "\xC3",              std::string("a\0b", 3)};
    for (const std::string &b : bad)
        EXPECT_FALSE(QiUtf8::isCleanName(b)) << b;
}

TEST(QiUtf8, CutEndsWhereACharacterBegins)
{
    EXPECT_EQ(QiUtf8::cut("abcdef", 4), "abcd");
    EXPECT_EQ(QiUtf8::cut("abc", 80), "abc");
    const std::string e = "\xC3\xA9"; // two bytes
    EXPECT_EQ(QiUtf8::cut("ab" + e + "c", 3), "ab");
    EXPECT_EQ(QiUtf8::cut("ab" + e + "c", 4), "ab" + e);
    const std::string clef = "\xF0\x9D\x84\x9E"; // four bytes
    for (size_t n = 1; n <= 4; ++n)
        EXPECT_EQ(QiUtf8::cut("x" + clef, n), n == 4 ? "x" : "x") << n;
    EXPECT_EQ(QiUtf8::cut("x" + clef, 5), "x" + clef);
    EXPECT_EQ(QiUtf8::cut(std::string(79, 'a') + e, 80), std::string(79, 'a'));
}
