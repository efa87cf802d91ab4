#pragma once
#include <cstdint>

class QiImage;

// Per component s + (e - s)*t in double precision, truncated toward zero and
// masked to bits; t = 0 gives from, t = 1 gives to. A t that leaves the
// result outside +-2^62 (or NaN) gives 0 for that component.
uint64_t interpolateColor(int32_t bits, double t, uint64_t from, uint64_t to);
uint64_t interpolateColor(const QiImage *image, double t, uint64_t from, uint64_t to);
// As interpolateColor, but at 10 bits each component loses its two low bits
// so a 10-bit ramp steps at 8-bit positions.
uint64_t interpolateColor8(int32_t bits, double t, uint64_t from, uint64_t to);
uint64_t interpolateColor8(const QiImage *image, double t, uint64_t from, uint64_t to);
