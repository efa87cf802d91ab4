#pragma once
#include <cstdint>

// Signed 16.16 fixed-point number: value = raw / 65536 (2.2 is 0x23333).
// Used by the colour-science code that works in fixed point.
struct Fixed {
    int32_t raw = 0;

    static constexpr Fixed fromRaw(int32_t raw) { return Fixed{raw}; }
    // Truncates toward zero; out-of-range values saturate, NaN gives 0.
    static Fixed fromDouble(double value);
    double toDouble() const { return raw / 65536.0; }

    friend constexpr bool operator==(Fixed a, Fixed b) { return a.raw == b.raw; }
    friend constexpr bool operator<(Fixed a, Fixed b) { return a.raw < b.raw; }
};
