// The window-control arithmetic the panel and the web page share.
#include "OvWindowLevels.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

std::string text(const QiParams &p, const char *key)
{
    const char *v = nullptr;
    return p.get(key, v) ? std::string(v) : std::string("<absent>");
}

} // namespace

TEST(OvWindowLevels, LevelsBetweenBlackAndWhite)
{
    // 10-bit output, 17 steps: the labels the panel shows, 721 checked.
    EXPECT_EQ(OvWindowLevels::levels(64, 940, 17),
              (std::vector<int32_t>{64, 118, 173, 228, 283, 337, 392, 447, 502, 556, 611, 666, 721, 775, 830, 885, 940}));
    EXPECT_EQ(OvWindowLevels::checkedLevel(17), 12);
    // 8-bit narrow range, 11 steps: 191 checked.
    EXPECT_EQ(OvWindowLevels::levels(16, 235, 11),
              (std::vector<int32_t>{16, 37, 59, 81, 103, 125, 147, 169, 191, 213, 235}));
    EXPECT_EQ(OvWindowLevels::checkedLevel(11), 8);
    EXPECT_EQ(OvWindowLevels::levels(0, 1023, 4), (std::vector<int32_t>{0, 341, 682, 1023}));
    // Edges: one step is black alone, none is nothing; a range whose product
    // with the step index leaves 32 bits still divides exactly.
    EXPECT_EQ(OvWindowLevels::levels(64, 940, 1), (std::vector<int32_t>{64}));
    EXPECT_TRUE(OvWindowLevels::levels(64, 940, 0).empty());
    const auto wide = OvWindowLevels::levels(0, INT_MAX, 3);
    EXPECT_EQ(wide, (std::vector<int32_t>{0, INT_MAX / 2, INT_MAX}));
    EXPECT_EQ(OvWindowLevels::checkedLevel(33), 24);
}

TEST(OvWindowLevels, ChoicesAndTheRequestTheyMake)
{
    EXPECT_EQ(OvWindowLevels::sizes(), (std::vector<std::string>{"10%", "18%", "100%"}));
    EXPECT_EQ(OvWindowLevels::steps(), (std::vector<std::string>{"11", "17", "21", "33"}));
    EXPECT_EQ(OvWindowLevels::colors(),
              (std::vector<std::string>{"Red", "Green", "Blue", "Cyan", "Magenta", "Yellow"}));

    // Cyan: red at the black level, green and blue at the level.
    QiParams cyan = OvWindowLevels::request("18%", "721", 64, 3);
    EXPECT_EQ(text(cyan, "Pattern"), "Window");
    EXPECT_EQ(text(cyan, "Size"), "18%");
    EXPECT_EQ(text(cyan, "Color_Red"), "64");
    EXPECT_EQ(text(cyan, "Color_Green"), "721");
    EXPECT_EQ(text(cyan, "Color_Blue"), "721");
    EXPECT_EQ(cyan.size(), 5u);

    // Each colour id lights exactly its components; white lights all three.
    const char *const lit[] = {"100", "010", "001", "011", "101", "110"};
    for (int k = 0; k < 6; ++k) {
        QiParams p = OvWindowLevels::request("10%", "502", 64, k);
        const std::string got = std::string(text(p, "Color_Red") == "502" ? "1" : "0") +
                                (text(p, "Color_Green") == "502" ? "1" : "0") +
                                (text(p, "Color_Blue") == "502" ? "1" : "0");
        EXPECT_EQ(got, lit[k]) << "colour " << k;
    }
    QiParams white = OvWindowLevels::request("100%", "940", 64, OvWindowLevels::kWhite);
    EXPECT_EQ(text(white, "Color_Red"), "940");
    EXPECT_EQ(text(white, "Color_Green"), "940");
    EXPECT_EQ(text(white, "Color_Blue"), "940");
}
