#pragma once
#include "QiParams.h"

#include <cstdint>
#include <string>
#include <vector>

// The window-control page's arithmetic, shared by the control panel and the
// web page: the choices it offers, the levels between black and white for a
// number of steps, and the "Window" request the choices make.
class OvWindowLevels {
public:
    // The choices, in the order the pages show them (button ids 0, 1, ...).
    static const std::vector<std::string> &sizes();  // "10%", "18%", "100%"
    static const std::vector<std::string> &steps();  // "11", "17", "21", "33"
    static const std::vector<std::string> &colors(); // "Red" ... "Yellow"
    static constexpr int kInitialSize = 0;
    static constexpr int kInitialSteps = 17;
    static constexpr int kInitialColor = 0;
    // The colour id that stands for white (a page without colour choice).
    static constexpr int kWhite = 7;
    // Step counts outside 1..kMaxSteps are not offered (a level per button).
    static constexpr int kMaxSteps = 1024;

    // Level i of count: black + (i * (white - black)) / (count - 1), integer
    // division; just black for a count of 1, nothing for less.
    static std::vector<int32_t> levels(int32_t black, int32_t white, int count);
    // The level checked when a levels group is built: (3 * count) / 4.
    static int checkedLevel(int count) { return (3 * count) / 4; }
    // "Pattern" = "Window", "Size" = size, and the three colour components:
    // level where colour id color (0 Red, 1 Green, 2 Blue, 3 Cyan, 4 Magenta,
    // 5 Yellow, kWhite) has the component, black elsewhere.
    static QiParams request(const std::string &size, const std::string &level, int32_t black, int color);
};
