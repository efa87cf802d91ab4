#pragma once
#include <array>
#include <cstdint>
#include <string>

// What the output signal says it carries: transfer function, colorimetry,
// range and the HDR static metadata. The generator options fill it, the
// raster holds the one in force, and the back-ends send it with every frame.

enum QiEotf : int32_t { kEotfSdr = 0, kEotfPq = 1, kEotfHlg = 2 };
enum QiColorimetry : int32_t { kColorimetry709 = 0, kColorimetry2020 = 1 };

struct QiChromaticity {
    double x = 0, y = 0;
    bool operator==(const QiChromaticity &) const = default;
};

struct QiSignal {
    int32_t eotf = kEotfSdr;
    int32_t colorimetry = kColorimetry709;
    // Full range asked for; only RGB outputs can carry it (the raster decides).
    bool fullRange = false;
    // False until a request names a signal option: until then the payload
    // identifier stays exactly as the generator has always written it.
    bool described = false;
    // HDR static metadata goes out (HDMI infoframe, DeckLink frame metadata).
    bool metadata = false;
    // With metadata: the mastering display is given (off for HLG by habit:
    // primaries, white point and mastering luminances then go out as 0).
    bool mastering = false;
    QiChromaticity red, green, blue, white;
    double maxLuminance = 1000;  // cd/m2
    double minLuminance = 0.005; // cd/m2
    int32_t maxCll = 0, maxFall = 0;

    bool operator==(const QiSignal &) const = default;
};

// Names as the options, the capture description and the tools use them.
const char *qiEotfName(int32_t eotf);               // "SDR", "PQ", "HLG"
const char *qiColorimetryName(int32_t colorimetry); // "BT.709", "BT.2020"

// Primaries presets: 0 BT.2020, 1 P3-D65, 2 BT.709 (all with the D65 white).
void qiPrimariesPreset(int32_t preset, QiSignal &signal);

// The EOTF code of the HDMI infoframe and of DeckLink frame metadata:
// 0 SDR gamma, 2 PQ, 3 HLG (the payload identifier numbers them otherwise).
uint8_t qiCtaEotf(int32_t eotf);
// The payload identifier's transfer characteristic: 0 SDR-TV, 1 HLG, 2 PQ.
uint32_t qiVpidTransfer(int32_t eotf);
// The payload identifier's colorimetry: 0 Rec.709, 2 UHDTV.
uint32_t qiVpidColorimetry(int32_t colorimetry);

// The static metadata as the 16-bit fields of the infoframe, in its order:
// green, blue, red primaries and white point (x, y each, 0.00002 units),
// max mastering luminance (1 cd/m2), min (0.0001 cd/m2), MaxCLL, MaxFALL.
// Zeros for what the signal does not give.
struct QiHdrFields {
    uint16_t primaries[3][2] = {}; // green, blue, red
    uint16_t white[2] = {};
    uint16_t maxLuminance = 0, minLuminance = 0, maxCll = 0, maxFall = 0;
    uint8_t eotf = 0;
    bool operator==(const QiHdrFields &) const = default;
};
QiHdrFields qiHdrFields(const QiSignal &signal);

// The Dynamic Range and Mastering infoframe as sent: packet type 0x87
// (infoframe type 7), version 1, length 26, checksum, then the 26 data bytes
// (EOTF, descriptor 0, the fields above little-endian). The bytes sum to 0.
using QiHdrInfoframe = std::array<uint8_t, 30>;
QiHdrInfoframe qiHdrInfoframe(const QiHdrFields &fields);

// PQ: the signal value (0..1) for an absolute luminance in cd/m2, clamped to
// 0..10000, and the code value of it at a bit depth, rounded to nearest:
// narrow range K + (W - K) * E' with K = 16, W = 235 shifted to the depth,
// full range (2^bits - 1) * E'.
double qiPqEncode(double luminance);
double qiPqDecode(double signal);
int32_t qiPqCode(double luminance, int32_t bits, bool fullRange);
// HLG: the signal value for a scene-linear value 0..1 (OETF).
double qiHlgEncode(double linear);
