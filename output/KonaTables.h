#pragma once
#include <cstdint>
#include <string_view>

// The KonaRaster's fixed tables: its video formats and the card pixel
// formats. Rows are in index order; each table asserts that row i has index i.

// Link types of a video format.
enum KonaLink : int32_t { kLinkSingle = 0, kLinkDual = 1, kLink3GA = 2, kLink3GB = 3 };

struct KonaVideoFormat {
    int32_t index;
    const char *name;  // exactly as listed and matched
    uint32_t ntv2;     // NTV2 video-format value
    int32_t link;      // KonaLink
    int32_t hdmi;      // 1 where the format can also go out over HDMI
};

inline constexpr KonaVideoFormat kKonaVideoFormats[] = {
    {0, "525 59.94 (480i)", 32, kLinkSingle, 1},
    {1, "625 50.00 (576i)", 33, kLinkSingle, 1},
    {2, "1080i 50.00", 1, kLinkSingle, 1},
    {3, "1080i 59.94", 2, kLinkSingle, 1},
    {4, "1080i 60.00", 3, kLinkSingle, 1},
    {5, "720p 50.00", 17, kLinkSingle, 1},
    {6, "720p 59.94", 4, kLinkSingle, 1},
    {7, "720p 60.00", 5, kLinkSingle, 1},
    {8, "1080p 23.98", 11, kLinkSingle, 1},
    {9, "1080p 24.00", 12, kLinkSingle, 1},
    {10, "1080p 25.00", 10, kLinkSingle, 1},
    {11, "1080p 29.97", 8, kLinkSingle, 1},
    {12, "1080p 30.00", 9, kLinkSingle, 1},
    {13, "1080p 50.00 (SDI-DL)", 18, kLinkDual, 0},
    {14, "1080p 59.94 (SDI-DL)", 19, kLinkDual, 0},
    {15, "1080p 60.00 (SDI-DL)", 20, kLinkDual, 0},
    {16, "1080p 50.00 3Ga (HDMI, SDI-3Ga)", 23, kLink3GA, 1},
    {17, "1080p 59.94 3Ga (HDMI, SDI-3Ga)", 24, kLink3GA, 1},
    {18, "1080p 60.00 3Ga (HDMI, SDI-3Ga)", 25, kLink3GA, 1},
    {19, "1080p 50.00 (SDI-3Gb)", 18, kLink3GB, 0},
    {20, "1080p 59.94 (SDI-3Gb)", 19, kLink3GB, 0},
    {21, "1080p 60.00 (SDI-3Gb)", 20, kLink3GB, 0},
    {22, "1080p2k 23.98 (SDI-DL)", 13, kLinkDual, 0},
    {23, "1080p2k 24.00 (SDI-DL)", 14, kLinkDual, 0},
    {24, "1080p2k 25.00 (SDI-DL)", 26, kLinkDual, 0},
    {25, "4x1920x1080p 23.98", 83, kLinkSingle, 0},
    {26, "4x1920x1080p 24.00", 84, kLinkSingle, 0},
    {27, "4x1920x1080p_25.00", 85, kLinkSingle, 0}, // spelled so, and matched so
    {28, "4x2048x1080p 23.98", 89, kLinkSingle, 0},
    {29, "4x2048x1080p 24.00", 90, kLinkSingle, 0},
    {30, "4x2048x1080p 25.00", 91, kLinkSingle, 0},
};
inline constexpr int32_t kKonaVideoFormatCount = 31;
inline constexpr int32_t kKonaDefaultFormat = 7; // "720p 60.00"

// How a card pixel format is packed.
enum class KonaPacking { rgb32, rgb24, rgb10Dpx, yCbCr8, v210, none };

struct KonaPixelFormat {
    int32_t index;
    uint32_t frameBufferFormat; // NTV2 frame-buffer format
    uint32_t ajaPixelFormat;    // for AJA_CalcRowBytesForFormat
    int32_t generic;            // generic output pixel-format index
    KonaPacking packing;
    // rgb32: byte positions of R, G, B, A; rgb24: offsets of R, G, B;
    // yCbCr8: the order table.
    int8_t p[4];
    uint32_t vpidDepth;
    uint32_t vpidSampling;
    uint32_t bytesPerPixel; // of the natural packed row (v210: see v210 stride)
};

inline constexpr KonaPixelFormat kKonaPixelFormats[] = {
    {0, 2, 3, 0, KonaPacking::rgb32, {2, 1, 0, 3}, 0, 6, 4},     // bytes B, G, R, A
    {1, 3, 4, 0, KonaPacking::rgb32, {1, 2, 3, 0}, 1, 2, 4},     // bytes A, R, G, B
    {2, 6, 7, 0, KonaPacking::rgb32, {0, 1, 2, 3}, 0, 0, 4},     // bytes R, G, B, A
    {3, 12, 13, 0, KonaPacking::rgb24, {0, 1, 2, 0}, 1, 0, 3},   // bytes R, G, B
    {4, 13, 14, 0, KonaPacking::rgb24, {2, 1, 0, 0}, 0, 2, 3},   // bytes B, G, R
    {5, 7, 5, 1, KonaPacking::rgb10Dpx, {0, 0, 0, 0}, 2, 6, 4},  // 10-bit DPX
    {6, 1, 2, 4, KonaPacking::yCbCr8, {0, 1, 2, 3}, 0, 0, 2},    // Cb Y0 Cr Y1
    {7, 5, 6, 4, KonaPacking::yCbCr8, {1, 0, 3, 2}, 0, 0, 2},    // Y0 Cb Y1 Cr
    {8, 0, 1, 5, KonaPacking::v210, {0, 0, 0, 0}, 0, 0, 0},      // v210
    {9, 26, 33, 11, KonaPacking::none, {0, 0, 0, 0}, 1, 4, 0},   // not rendered
};
inline constexpr int32_t kKonaPixelFormatCount = 10;
inline constexpr int32_t kKonaNoPacking = 9;

constexpr bool konaTablesInOrder()
{
    for (int32_t i = 0; i < kKonaVideoFormatCount; ++i)
        if (kKonaVideoFormats[i].index != i)
            return false;
    for (int32_t i = 0; i < kKonaPixelFormatCount; ++i)
        if (kKonaPixelFormats[i].index != i)
            return false;
    return true;
}
static_assert(sizeof kKonaVideoFormats / sizeof kKonaVideoFormats[0] == kKonaVideoFormatCount);
static_assert(sizeof kKonaPixelFormats / sizeof kKonaPixelFormats[0] == kKonaPixelFormatCount);
static_assert(konaTablesInOrder(), "table row i must have index i");

// Row whose name equals name byte for byte, or -1.
constexpr int32_t konaFormatByName(std::string_view name)
{
    for (const auto &row : kKonaVideoFormats)
        if (name == row.name)
            return row.index;
    return -1;
}

// First row with this NTV2 video-format value, or -1.
constexpr int32_t konaFormatByNtv2(uint32_t ntv2)
{
    for (const auto &row : kKonaVideoFormats)
        if (row.ntv2 == ntv2)
            return row.index;
    return -1;
}

// First card pixel format with this frame-buffer format; 9 when none has it.
constexpr int32_t konaPixelFormatByFbf(uint32_t fbf)
{
    for (const auto &row : kKonaPixelFormats)
        if (row.frameBufferFormat == fbf)
            return row.index;
    return kKonaNoPacking;
}

// Card pixel format chosen for a generic output pixel-format index.
constexpr int32_t konaPixelFormatForGeneric(int32_t generic)
{
    switch (generic) {
    case 0: return 0;
    case 1: return 5;
    case 4: return 6;
    case 5: return 8;
    default: return kKonaNoPacking;
    }
}

// ST 352 payload-identifier fields of an NTV2 video format.
struct KonaVpidFields {
    uint32_t ntv2;
    int32_t payload; // -1: 7 on a dual link, 5 otherwise
    uint32_t transportProgressive, pictureProgressive, rate, is2048, quad;
};

inline constexpr int32_t kPayloadByLink = -1;

inline constexpr KonaVpidFields kKonaVpid[] = {
    {1, kPayloadByLink, 0, 0, 5, 0, 0},  {2, kPayloadByLink, 0, 0, 6, 0, 0},  {3, kPayloadByLink, 0, 0, 7, 0, 0},
    {4, 4, 0, 1, 10, 0, 0},              {5, 4, 0, 1, 11, 0, 0},
    {6, kPayloadByLink, 0, 1, 2, 0, 0},  {7, kPayloadByLink, 0, 1, 3, 0, 0},
    {8, kPayloadByLink, 1, 1, 6, 0, 0},  {9, kPayloadByLink, 1, 1, 7, 0, 0},  {10, kPayloadByLink, 1, 1, 5, 0, 0},
    {11, kPayloadByLink, 1, 1, 2, 0, 0}, {12, kPayloadByLink, 1, 1, 3, 0, 0},
    {13, kPayloadByLink, 1, 1, 2, 1, 0}, {66, kPayloadByLink, 1, 1, 2, 1, 0},
    {14, kPayloadByLink, 1, 1, 3, 1, 0}, {67, kPayloadByLink, 1, 1, 3, 1, 0},
    {15, kPayloadByLink, 0, 1, 2, 1, 0}, {16, kPayloadByLink, 0, 1, 3, 1, 0},
    {17, 4, 0, 1, 9, 0, 0},
    {18, 7, 0, 1, 9, 0, 0},              {19, 7, 0, 1, 10, 0, 0},             {20, 7, 0, 1, 11, 0, 0},
    {23, 9, 1, 1, 9, 0, 0},              {24, 9, 1, 1, 10, 0, 0},             {25, 9, 1, 1, 11, 0, 0},
    {26, kPayloadByLink, 0, 0, 5, 1, 0},
    {27, kPayloadByLink, 0, 1, 5, 1, 0},
    {28, kPayloadByLink, 0, 1, 5, 0, 0}, {29, kPayloadByLink, 0, 1, 6, 0, 0}, {30, kPayloadByLink, 0, 1, 7, 0, 0},
    {32, 1, 0, 0, 6, 0, 0},              {33, 1, 0, 0, 5, 0, 0},
    {36, 1, 0, 1, 6, 0, 0},              {37, 1, 0, 1, 5, 0, 0},
    {64, kPayloadByLink, 1, 1, 0, 1, 0}, {65, kPayloadByLink, 1, 1, 0, 1, 0},
    {68, kPayloadByLink, 1, 1, 5, 1, 0},
    {80, kPayloadByLink, 0, 1, 2, 0, 1}, {81, kPayloadByLink, 0, 1, 3, 0, 1}, {82, kPayloadByLink, 0, 1, 5, 0, 1},
    {83, kPayloadByLink, 1, 1, 2, 0, 1}, {84, kPayloadByLink, 1, 1, 3, 0, 1}, {85, kPayloadByLink, 1, 1, 5, 0, 1},
    {86, kPayloadByLink, 0, 1, 2, 1, 1}, {87, kPayloadByLink, 0, 1, 3, 1, 1}, {88, kPayloadByLink, 0, 1, 5, 1, 1},
    {89, kPayloadByLink, 1, 1, 2, 1, 1}, {90, kPayloadByLink, 1, 1, 3, 1, 1}, {91, kPayloadByLink, 1, 1, 5, 1, 1},
    {110, kPayloadByLink, 0, 0, 11, 1, 0}, {111, kPayloadByLink, 0, 0, 10, 1, 0},
};

// The pair of VPID words set on SDI output 1.
struct KonaVpidWords {
    uint32_t a = 0;
    uint32_t b = 0;
    bool matched = false; // false: the format is not in the lookup, fields are zero
};

// Words for NTV2 video format ntv2 on link type link, with the depth and
// sampling codes of the card pixel format.
constexpr KonaVpidWords konaVpidWords(uint32_t ntv2, int32_t link, uint32_t depth, uint32_t sampling)
{
    KonaVpidFields f{ntv2, 0, 0, 0, 0, 0, 0};
    bool matched = false;
    for (const auto &row : kKonaVpid)
        if (row.ntv2 == ntv2) {
            f = row;
            matched = true;
            break;
        }
    uint32_t payload = 0;
    if (matched) {
        payload = f.payload == kPayloadByLink ? (link == kLinkDual ? 7u : 5u) : static_cast<uint32_t>(f.payload);
        if (link == kLink3GB) {
            // 3G level B carries its own payload codes.
            switch (payload) {
            case 4: payload = 11; break;
            case 5: payload = 12; break;
            case 6: payload = 13; break;
            case 7: payload = 10; break;
            default: break;
            }
        }
    }
    auto word = [&](uint32_t k) {
        return 0x80000000u | payload << 24 | f.transportProgressive << 23 | f.pictureProgressive << 22 |
               f.rate << 16 | f.is2048 << 14 | sampling << 8 | k << 6 | depth;
    };
    KonaVpidWords w;
    w.matched = matched;
    if (link == kLink3GB) {
        w.a = word(0);
        w.b = word(1);
    } else if (f.quad && link != kLink3GA) {
        w.a = word(2);
    } else {
        w.a = word(0);
    }
    return w;
}

static_assert(konaVpidWords(4, kLinkSingle, 0, 0).a == 0x844A0000u);

// Payload codes (1080-line HD single link, dual link, 3G level B dual
// stream) whose colorimetry is split over byte 3 bit 7 (MSB) and bit 4
// (LSB); their 16:9 flag is byte 3 bit 5.
constexpr bool konaVpidSplitColorimetry(uint32_t word)
{
    const uint32_t p = (word >> 24) & 0x7F;
    return p == 5 || p == 7 || p == 10;
}

// A payload identifier word that describes the signal: transfer
// characteristic (byte 2 bits 5-4), colorimetry (byte 3 bits 5-4, or split),
// the 16:9 flag when wide, luminance Y'C'bC'r (byte 4 bit 4 clear) and the
// bit depth code (byte 4 bits 1-0: 0 10-bit full range, 1 10-bit). A zero
// word (no second link) stays zero.
constexpr uint32_t konaSignalWord(uint32_t word, uint32_t transfer, uint32_t colorimetry, uint32_t depthCode,
                                  bool wide)
{
    if (word == 0)
        return 0;
    word &= ~(3u << 20 | 0xB000u | 0x13u);
    word |= (transfer & 3) << 20 | (depthCode & 3);
    if (konaVpidSplitColorimetry(word))
        word |= ((colorimetry >> 1) & 1) << 15 | (colorimetry & 1) << 12 | (wide ? 1u << 13 : 0u);
    else
        word |= (colorimetry & 3) << 12 | (wide ? 1u << 15 : 0u);
    return word;
}

// The transfer characteristic and colorimetry codes a word carries.
constexpr uint32_t konaWordTransfer(uint32_t word) { return (word >> 20) & 3; }
constexpr uint32_t konaWordColorimetry(uint32_t word)
{
    if (konaVpidSplitColorimetry(word))
        return ((word >> 15) & 1) << 1 | ((word >> 12) & 1);
    return (word >> 12) & 3;
}

// The name a board running NTV2 format ntv2 with VPID word a shows as:
// formats 18 to 20 are the dual-link rows unless the payload says 3G level B.
constexpr const char *konaFormatNameForBoard(uint32_t ntv2, uint32_t vpidA)
{
    int32_t row = konaFormatByNtv2(ntv2);
    if (row < 0)
        return nullptr;
    if (kKonaVideoFormats[row].link == kLinkDual && ntv2 >= 18 && ntv2 <= 20 && ((vpidA >> 24) & 0x7F) == 10)
        row += 6;
    return kKonaVideoFormats[row].name;
}
