#include "QiSignal.h"

#include <algorithm>
#include <cmath>

const char *qiEotfName(int32_t eotf)
{
    switch (eotf) {
    case kEotfPq: return "PQ";
    case kEotfHlg: return "HLG";
    default: return "SDR";
    }
}

const char *qiColorimetryName(int32_t colorimetry)
{
    return colorimetry == kColorimetry2020 ? "BT.2020" : "BT.709";
}

void qiPrimariesPreset(int32_t preset, QiSignal &signal)
{
    struct Preset {
        QiChromaticity r, g, b;
    };
    static const Preset kPresets[] = {
        {{0.708, 0.292}, {0.170, 0.797}, {0.131, 0.046}}, // BT.2020
        {{0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}}, // P3-D65
        {{0.640, 0.330}, {0.300, 0.600}, {0.150, 0.060}}, // BT.709
    };
    const Preset &p = kPresets[preset >= 0 && preset < 3 ? preset : 0];
    signal.red = p.r;
    signal.green = p.g;
    signal.blue = p.b;
    signal.white = {0.3127, 0.3290};
}

uint8_t qiCtaEotf(int32_t eotf)
{
    switch (eotf) {
    case kEotfPq: return 2;
    case kEotfHlg: return 3;
    default: return 0;
    }
}

uint32_t qiVpidTransfer(int32_t eotf)
{
    switch (eotf) {
    case kEotfPq: return 2;
    case kEotfHlg: return 1;
    default: return 0;
    }
}

uint32_t qiVpidColorimetry(int32_t colorimetry) { return colorimetry == kColorimetry2020 ? 2 : 0; }

namespace {
uint16_t field(double value, double unit)
{
    double v = std::round(value / unit);
    if (!(v > 0))
        return 0;
    return v >= 65535 ? 65535 : static_cast<uint16_t>(v);
}
} // namespace

QiHdrFields qiHdrFields(const QiSignal &signal)
{
    QiHdrFields f;
    f.eotf = qiCtaEotf(signal.eotf);
    if (signal.mastering) {
        const QiChromaticity *order[3] = {&signal.green, &signal.blue, &signal.red};
        for (int i = 0; i < 3; ++i) {
            f.primaries[i][0] = field(order[i]->x, 0.00002);
            f.primaries[i][1] = field(order[i]->y, 0.00002);
        }
        f.white[0] = field(signal.white.x, 0.00002);
        f.white[1] = field(signal.white.y, 0.00002);
        f.maxLuminance = field(signal.maxLuminance, 1);
        f.minLuminance = field(signal.minLuminance, 0.0001);
    }
    f.maxCll = field(signal.maxCll, 1);
    f.maxFall = field(signal.maxFall, 1);
    return f;
}

QiHdrInfoframe qiHdrInfoframe(const QiHdrFields &f)
{
    QiHdrInfoframe b{};
    b[0] = 0x87;
    b[1] = 0x01;
    b[2] = 26;
    b[4] = f.eotf;
    b[5] = 0; // static metadata descriptor 1
    size_t at = 6;
    auto put = [&](uint16_t v) {
        b[at++] = static_cast<uint8_t>(v & 0xFF);
        b[at++] = static_cast<uint8_t>(v >> 8);
    };
    for (const auto &p : f.primaries) {
        put(p[0]);
        put(p[1]);
    }
    put(f.white[0]);
    put(f.white[1]);
    put(f.maxLuminance);
    put(f.minLuminance);
    put(f.maxCll);
    put(f.maxFall);
    unsigned sum = 0;
    for (uint8_t v : b)
        sum += v;
    b[3] = static_cast<uint8_t>((256 - (sum & 0xFF)) & 0xFF);
    return b;
}

namespace {
constexpr double kM1 = 2610.0 / 16384.0;
constexpr double kM2 = 2523.0 / 4096.0 * 128.0;
constexpr double kC1 = 3424.0 / 4096.0;
constexpr double kC2 = 2413.0 / 4096.0 * 32.0;
constexpr double kC3 = 2392.0 / 4096.0 * 32.0;
} // namespace

double qiPqEncode(double luminance)
{
    double y = std::clamp(luminance, 0.0, 10000.0) / 10000.0;
    double p = std::pow(y, kM1);
    return std::pow((kC1 + kC2 * p) / (1.0 + kC3 * p), kM2);
}

double qiPqDecode(double signal)
{
    double e = std::pow(std::clamp(signal, 0.0, 1.0), 1.0 / kM2);
    double num = std::max(e - kC1, 0.0);
    return 10000.0 * std::pow(num / (kC2 - kC3 * e), 1.0 / kM1);
}

int32_t qiPqCode(double luminance, int32_t bits, bool fullRange)
{
    double e = qiPqEncode(luminance);
    if (fullRange)
        return static_cast<int32_t>(std::floor(e * ((1 << bits) - 1) + 0.5));
    double k = 16 << (bits - 8), w = 235 << (bits - 8);
    return static_cast<int32_t>(std::floor(k + (w - k) * e + 0.5));
}

double qiHlgEncode(double linear)
{
    constexpr double a = 0.17883277, b = 0.28466892, c = 0.55991073;
    double e = std::clamp(linear, 0.0, 1.0);
    return e <= 1.0 / 12.0 ? std::sqrt(3.0 * e) : a * std::log(12.0 * e - b) + c;
}
