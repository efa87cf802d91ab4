#include "QiColor.h"

#include "QiImage.h"

namespace {

uint64_t interpolate(int32_t bits, double t, uint64_t from, uint64_t to, uint64_t extraMask)
{
    if (bits <= 0 || bits > 21)
        return 0;
    const uint64_t mask = (uint64_t{1} << bits) - 1;
    uint64_t out = 0;
    for (int c = 2; c >= 0; --c) {
        const int shift = c * bits;
        int64_t s = static_cast<int64_t>((from >> shift) & mask);
        int64_t e = static_cast<int64_t>((to >> shift) & mask);
        double v = static_cast<double>(s) + static_cast<double>(e - s) * t;
        // Conversion of an out-of-range double is undefined; such a t is
        // no colour anyway.
        int64_t r = (v > -4.6e18 && v < 4.6e18) ? static_cast<int64_t>(v) : 0;
        out |= (static_cast<uint64_t>(r) & mask & extraMask) << shift;
    }
    return out;
}

} // namespace

uint64_t interpolateColor(int32_t bits, double t, uint64_t from, uint64_t to)
{
    return interpolate(bits, t, from, to, ~uint64_t{0});
}

uint64_t interpolateColor(const QiImage *image, double t, uint64_t from, uint64_t to)
{
    return interpolateColor(image ? image->bits() : 10, t, from, to);
}

uint64_t interpolateColor8(int32_t bits, double t, uint64_t from, uint64_t to)
{
    return interpolate(bits, t, from, to, bits == 10 ? 0x3FC : ~uint64_t{0});
}

uint64_t interpolateColor8(const QiImage *image, double t, uint64_t from, uint64_t to)
{
    return interpolateColor8(image ? image->bits() : 10, t, from, to);
}
