#pragma once
#include <cstdint>

// The 1024-entry sinusoid table shared by the sweep patterns: two periods of
// a raised cosine, 10-bit values 0..1022, starting at 511 and falling first.
// A shade uses T[i]/1023 as its interpolation fraction.
const uint16_t *qiSinusoidTable();

// Angle of (dx, dy) in 16.16 fixed-point degrees, -180 < angle <= 180, by
// CORDIC vectoring; (0, 0) gives 0. dy grows downward like image rows.
int32_t qiCordicAngle(int64_t dx, int64_t dy);

// The CORDIC kernel on a whole row: angles[k] for (dx[k], dy[k]), k < count.
void qiCordicAngles(const int64_t *dx, const int64_t *dy, int32_t *angles, int32_t count);
