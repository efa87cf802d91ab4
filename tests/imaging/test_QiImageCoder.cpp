#include "QiImage.h"
#include "QiImageCoder.h"
#include "QiYccSimd.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

// The stored matrices, copied from the definition: a b c | d e f | g h i.
const double kM[6][9] = {
    {0.299, 0.587, 0.114, -0.086294, -0.169414, 0.255708, 0.255708, -0.214123, -0.041584},
    {0.256788, 0.504129, 0.097906, -0.075803, -0.148818, 0.224622, 0.224622, -0.188093, -0.036529},
    {0.212649, 0.715169, 0.072182, -0.058606, -0.197101, 0.255708, 0.255708, -0.232265, -0.023443},
    {0.182628, 0.614204, 0.061992, -0.051482, -0.17314, 0.224622, 0.224622, -0.204029, -0.020593},
    {0.2627, 0.678, 0.0593, -0.0714089818, -0.184298781, 0.255707763, 0.255707763, -0.235141548, -0.020566215},
    {0.225612941, 0.582282353, 0.0509282353, -0.0627278899, -0.161893831, 0.224621721, 0.224621721, -0.206555712,
     -0.0180660085},
};

struct Overrides {
    uint8_t flags = 0;
    int c[3] = {0, 0, 0};
};

// One pixel's components after override, shifted to outBits.
void comps(const QiImage &img, int x, int y, const Overrides &o, int outBits, int v[3])
{
    const int n = img.bits();
    const uint64_t w = img.pixel(x, y), m = (1ull << n) - 1;
    for (int c = 0; c < 3; ++c) {
        int64_t val = static_cast<int64_t>((w >> ((2 - c) * n)) & m);
        // An override is an 8-bit level, scaled to the image's depth.
        if (o.flags & (1 << c))
            val = (n >= 8 ? static_cast<int64_t>(o.c[c] & 255) << (n - 8) : (o.c[c] & 255) >> (8 - n)) &
                  static_cast<int64_t>(m);
        v[c] = static_cast<int>(n >= outBits ? val >> (n - outBits) : val << (outBits - n));
    }
}

// The defined double arithmetic for one pair: Y0 Cb Y1 Cr.
void refPair(const int p0[3], const int p1[3], int enc, bool tenBit, bool exact, int out[4])
{
    if (enc < 0 || enc > 5)
        enc = 2;
    if (tenBit && exact && (enc == 0 || enc == 2 || enc == 4)) {
        const double K[3][5] = {{0.299, 0.587, 0.114, 0.564, 0.713},
                                {0.2126, 0.7152, 0.0722, 0.5389, 0.635},
                                {0.2627, 0.678, 0.0593, 0.5315, 0.6782}};
        const double *k = K[enc / 2];
        double r = (p0[0] - 64) / 876.0, g = (p0[1] - 64) / 876.0, b = (p0[2] - 64) / 876.0;
        double y = k[0] * r + k[1] * g + k[2] * b;
        double r1 = (p1[0] - 64) / 876.0, g1 = (p1[1] - 64) / 876.0, b1 = (p1[2] - 64) / 876.0;
        double y1 = k[0] * r1 + k[1] * g1 + k[2] * b1;
        double cb = (b - y) * k[3], cr = (r - y) * k[4];
        auto held = [](double v) { return std::min(std::max(static_cast<int>(v), 0), 1023); };
        out[0] = held(y * 876 + 64 + 0.5);
        out[1] = held(cb * 896 + 512 + 0.5);
        out[2] = held(y1 * 876 + 64 + 0.5);
        out[3] = held(cr * 896 + 512 + 0.5);
        return;
    }
    const double *m = kM[enc];
    const double v[6] = {double(p0[0] - 16), double(p0[1] - 16), double(p0[2] - 16),
                         double(p1[0] - 16), double(p1[1] - 16), double(p1[2] - 16)};
    const double M[4][6] = {{m[0], m[1], m[2], 0, 0, 0},
                            {m[3], m[4], m[5], m[3], m[4], m[5]},
                            {0, 0, 0, m[0], m[1], m[2]},
                            {m[6], m[7], m[8], m[6], m[7], m[8]}};
    const int hi = tenBit ? 1023 : 255;
    for (int r = 0; r < 4; ++r) {
        double s = 0;
        for (int i = 0; i < 6; ++i)
            s += M[r][i] * v[i];
        int q = static_cast<int>(s + 0.5) + (r % 2 ? (tenBit ? 512 : 128) : 16);
        out[r] = std::min(std::max(q, 0), hi);
    }
}

std::vector<uint8_t> refYcc8(const QiImage &img, const int order[4], int enc, const Overrides &o)
{
    const int w = img.width();
    std::vector<uint8_t> out(static_cast<size_t>(2 * w) * img.height(), 0xEE);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < w; x += 2) {
            int p0[3], p1[3], V[4];
            comps(img, x, y, o, 8, p0);
            comps(img, std::min(x + 1, w - 1), y, o, 8, p1);
            refPair(p0, p1, enc, false, false, V);
            uint8_t *d = &out[static_cast<size_t>(y) * 2 * w + 2 * x];
            d[0] = static_cast<uint8_t>(V[order[1]]);
            d[1] = static_cast<uint8_t>(V[order[0]]);
            if (x + 1 < w) {
                d[2] = static_cast<uint8_t>(V[order[3]]);
                d[3] = static_cast<uint8_t>(V[order[2]]);
            }
        }
    return out;
}

std::vector<uint8_t> refV210(const QiImage &img, bool exact, int enc, const Overrides &o)
{
    const int w = img.width();
    const size_t stride = (w + 47) / 48 * 128;
    std::vector<uint8_t> out(stride * img.height(), 0xEE);
    for (int y = 0; y < img.height(); ++y)
        for (int g = 0; 6 * g < w; ++g) {
            int V[3][4];
            for (int p = 0; p < 3; ++p) {
                int p0[3], p1[3];
                comps(img, std::min(6 * g + 2 * p, w - 1), y, o, 10, p0);
                comps(img, std::min(6 * g + 2 * p + 1, w - 1), y, o, 10, p1);
                refPair(p0, p1, enc, true, exact, V[p]);
            }
            const uint32_t words[4] = {
                uint32_t(V[0][3] << 20 | V[0][0] << 10 | V[0][1]), uint32_t(V[1][0] << 20 | V[1][1] << 10 | V[0][2]),
                uint32_t(V[2][1] << 20 | V[1][2] << 10 | V[1][3]), uint32_t(V[2][2] << 20 | V[2][3] << 10 | V[2][0])};
            for (int i = 0; i < 4; ++i)
                for (int b = 0; b < 4; ++b)
                    out[y * stride + 16 * g + 4 * i + b] = static_cast<uint8_t>(words[i] >> (8 * b));
        }
    return out;
}

void noise(QiImage &img, uint32_t seed)
{
    std::mt19937_64 rng(seed);
    const uint64_t m = (1ull << (3 * img.bits())) - 1;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            img.row(y)[x] = rng() & m;
}

std::vector<uint8_t> ycc8(QiImageCoder &coder, const int order[4], int enc)
{
    std::vector<uint8_t> out(static_cast<size_t>(2 * coder.image()->width()) * coder.image()->height(), 0xEE);
    EXPECT_TRUE(coder.encodeYCbCr8(out.data(), order, enc));
    return out;
}

std::vector<uint8_t> v210(QiImageCoder &coder, bool exact, int enc)
{
    std::vector<uint8_t> out(QiImageCoder::v210Stride(coder.image()->width()) * coder.image()->height(), 0xEE);
    EXPECT_TRUE(coder.encodeV210(out.data(), exact, enc));
    return out;
}

int v210Sample(const std::vector<uint8_t> &b, size_t group, int sampleInGroup)
{
    // Sample order within a group's 12 samples: Cb0 Y0 Cr0 Y1 Cb2 Y2 Cr2 Y3 Cb4 Y4 Cr4 Y5.
    uint32_t w;
    std::memcpy(&w, &b[16 * group + 4 * (sampleInGroup / 3)], 4);
    return static_cast<int>((w >> (10 * (sampleInGroup % 3))) & 1023);
}

const int kUyvy[4] = {0, 1, 2, 3};
const int kYuy2[4] = {1, 0, 3, 2};

} // namespace

TEST(QiImageCoder, MatricesFollowFromTheirWeights)
{
    // Luma weights Kr, Kb per standard; Cb = (B - Y)/(2(1 - Kb)), Cr likewise,
    // halved and times 224/219; compressed: luma 219/255, chroma 224/255.
    const double K[3][2] = {{0.299, 0.114}, {0.2126, 0.0722}, {0.2627, 0.0593}};
    for (int s = 0; s < 3; ++s) {
        const double kr = K[s][0], kb = K[s][1], kg = 1 - kr - kb;
        const double luma[3] = {kr, kg, kb};
        const double cb[3] = {-kr / (2 * (1 - kb)), -kg / (2 * (1 - kb)), 0.5};
        const double cr[3] = {0.5, -kg / (2 * (1 - kr)), -kb / (2 * (1 - kr))};
        for (int compressed = 0; compressed < 2; ++compressed) {
            const double *m = QiImageCoder::matrixWeights(2 * s + compressed);
            const double ls = compressed ? 219.0 / 255 : 1.0, cs = (compressed ? 224.0 / 255 : 1.0) * 224.0 / 219 / 2;
            // BT.709's stored luma carries the weights of the 1993 revision.
            const double tol = s == 1 ? 2e-4 : 2e-6;
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(m[c], luma[c] * ls, tol) << s << compressed << c;
                EXPECT_NEAR(m[3 + c], cb[c] * cs, 2e-4) << s << compressed << c;
                EXPECT_NEAR(m[6 + c], cr[c] * cs, 2e-4) << s << compressed << c;
                EXPECT_EQ(m[c], kM[2 * s + compressed][c]);
                EXPECT_EQ(m[3 + c], kM[2 * s + compressed][3 + c]);
                EXPECT_EQ(m[6 + c], kM[2 * s + compressed][6 + c]);
            }
        }
    }
    EXPECT_EQ(QiImageCoder::matrixWeights(9), QiImageCoder::matrixWeights(2));
    EXPECT_EQ(QiImageCoder::matrixWeights(-1), QiImageCoder::matrixWeights(2));
}

TEST(QiImageCoder, DefinedLevelsAndLayouts)
{
    QiImage ten(1280, 2, 10);
    QiImageCoder coder(&ten);
    ten.fill(ten.pack(940, 940, 940));
    auto b = v210(coder, false, 2);
    EXPECT_EQ(b.size(), 3456u * 2);
    EXPECT_EQ(v210Sample(b, 0, 0), 512);
    EXPECT_EQ(v210Sample(b, 0, 1), 940);
    EXPECT_EQ(v210Sample(b, 0, 2), 512);
    ten.fill(ten.pack(64, 64, 64));
    b = v210(coder, false, 2);
    EXPECT_EQ(v210Sample(b, 5, 1), 64);
    EXPECT_EQ(v210Sample(b, 5, 0), 512);
    // Formula path on grey gives the same levels.
    ten.fill(ten.pack(940, 940, 940));
    b = v210(coder, true, 2);
    EXPECT_EQ(v210Sample(b, 0, 1), 940);
    EXPECT_EQ(v210Sample(b, 0, 0), 512);

    // Last group of a 1280-pixel row: positions 1280-1283 repeat pixel 1279.
    ten.fill(ten.pack(64, 64, 64));
    ten.setPixelRgb(1279, 0, 940, 940, 940);
    b = v210(coder, false, 2);
    const size_t last = 1278 / 6; // pixels 1278..1283
    EXPECT_EQ(v210Sample(b, last, 1), 64);   // Y 1278
    EXPECT_EQ(v210Sample(b, last, 3), 940);  // Y 1279
    EXPECT_EQ(v210Sample(b, last, 5), 940);  // Y 1280
    EXPECT_EQ(v210Sample(b, last, 11), 940); // Y 1283
    for (size_t i = 16 * (last + 1); i < 3456; ++i)
        ASSERT_EQ(b[i], 0xEE) << "bytes after the last group stay as they were";

    // Index 1, 8-bit grey 235: 16 + int(0.858823*219 + 0.5) = 204, chroma 128.
    QiImage eight(4, 1, 8);
    eight.fill(eight.pack(235, 235, 235));
    QiImageCoder c8(&eight);
    auto u = ycc8(c8, kUyvy, 1);
    EXPECT_EQ((std::vector<uint8_t>{128, 204, 128, 204, 128, 204, 128, 204}), u);
    auto y2 = ycc8(c8, kYuy2, 1);
    EXPECT_EQ((std::vector<uint8_t>{204, 128, 204, 128, 204, 128, 204, 128}), y2);

    // Negative chroma truncates toward zero: pure blue-free yellow at index
    // 0 gives Cb = int(-0.255708*2*219 + 0.5) = int(-111.5) = -111 -> 17.
    eight.fill(eight.pack(235, 235, 16));
    u = ycc8(c8, kUyvy, 0);
    double s = (-0.086294 * 219 + -0.169414 * 219) * 2 + 0.5;
    EXPECT_EQ(u[0], 128 + static_cast<int>(s));
    EXPECT_EQ(u[0], 128 - 111);
    // A product of -3.7 becomes -3, not -4: R0 = R1 = 16 + 21, G = B = 16.
    eight.fill(eight.pack(37, 16, 16));
    u = ycc8(c8, kUyvy, 2);
    EXPECT_NEAR(-0.058606 * 42, -2.46, 0.01);
    EXPECT_EQ(u[0], 128 + static_cast<int>(-0.058606 * 21 * 2 + 0.5)); // -1.96 -> -1
    EXPECT_EQ(u[0], 127);

    // Overrides 7 / 70: every pixel encodes R = G = B = 70 whatever it holds.
    noise(eight, 4);
    c8.setOverrides(7, 70, 70, 70);
    uint8_t fl, r, g, bl;
    c8.getOverrides(fl, r, g, bl);
    EXPECT_EQ(fl, 7);
    EXPECT_EQ(r, 70);
    std::vector<uint8_t> bgra(16);
    c8.encodeRgb32(bgra.data(), 2, 1, 0, 3);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(bgra[i], i % 4 == 3 ? 255 : 70);
    u = ycc8(c8, kUyvy, 2);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(u[i], i % 2 ? 70 : 128);
    c8.setOverrides(0x102, 300, 70 + 256, 5); // low 8 bits; flags 0x102 -> 2
    c8.getOverrides(fl, r, g, bl);
    EXPECT_EQ(fl, 2);
    EXPECT_EQ(g, 70);

    // DPX: R = 1023 writes FF C0 00 00; r210: red 20-29, bits 30-31 set.
    QiImage one(1, 1, 10);
    one.setPixelRgb(0, 0, 1023, 0, 0);
    QiImageCoder c1(&one);
    uint8_t w4[4];
    c1.encodeRgb10(w4, 0, 2, true);
    EXPECT_EQ((std::vector<uint8_t>(w4, w4 + 4)), (std::vector<uint8_t>{0xFF, 0xC0, 0x00, 0x00}));
    one.setPixelRgb(0, 0, 1023, 1, 2);
    c1.encodeRgb10(w4, 2, 0, false);
    EXPECT_EQ((std::vector<uint8_t>(w4, w4 + 4)), (std::vector<uint8_t>{0xFF, 0xF0, 0x04, 0x02}));
}

TEST(QiImageCoder, RowBytesAndRefusals)
{
    // r210 rows at a DeckLink stride: ((width + 63) / 64) * 256 bytes.
    QiImage img(70, 3, 10);
    noise(img, 1);
    QiImageCoder coder(&img);
    const size_t stride = (70 + 63) / 64 * 256;
    std::vector<uint8_t> padded(stride * 3, 0xAB), packed(70 * 4 * 3);
    ASSERT_TRUE(coder.encodeRgb10(padded.data(), 2, 0, false, stride));
    ASSERT_TRUE(coder.encodeRgb10(packed.data(), 2, 0, false));
    for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(0, std::memcmp(&padded[y * stride], &packed[y * 280], 280));
        for (size_t i = 280; i < stride; ++i)
            ASSERT_EQ(padded[y * stride + i], 0xAB);
    }
    std::vector<uint8_t> small(70 * 4 * 3, 0xAB);
    EXPECT_FALSE(coder.encodeRgb32(small.data(), 0, 1, 2, 3, 279)); // shorter than a row
    EXPECT_EQ(small[0], 0xAB);
    QiImageCoder none;
    EXPECT_FALSE(none.encodeV210(small.data(), false, 2));
    QiImage odd(3, 1, 40); // no depth the packers know
    QiImageCoder oddCoder(&odd);
    EXPECT_FALSE(oddCoder.encodeRgb24(small.data(), 0, 1, 2));

    // An odd width: the last pixel pairs with itself and writes two bytes.
    QiImage three(3, 2, 8);
    noise(three, 2);
    QiImageCoder c3(&three);
    std::vector<uint8_t> out(6 * 2 + 1, 0xEE);
    ASSERT_TRUE(c3.encodeYCbCr8(out.data(), kUyvy, 0));
    auto ref = refYcc8(three, kUyvy, 0, Overrides{});
    EXPECT_EQ(0, std::memcmp(out.data(), ref.data(), 12));
    EXPECT_EQ(out[12], 0xEE);
}

TEST(QiImageCoder, RgbPackersMatchDefinition)
{
    for (int bits : {8, 10, 12, 6}) {
        QiImage img(37, 5, bits);
        noise(img, bits);
        QiImageCoder coder(&img);
        Overrides o;
        if (bits == 12) {
            o.flags = 5;
            o.c[0] = 200;
            o.c[2] = 17;
            coder.setOverrides(5, 200, 0, 17);
        }
        std::vector<uint8_t> b32(37 * 4 * 5), b24(37 * 3 * 5), b10(37 * 4 * 5), dpx(37 * 4 * 5);
        ASSERT_TRUE(coder.encodeRgb32(b32.data(), 1, 2, 3, 0)); // A R G B
        ASSERT_TRUE(coder.encodeRgb24(b24.data(), 2, 1, 0));    // B G R
        ASSERT_TRUE(coder.encodeRgb10(b10.data(), 2, 0, false));
        ASSERT_TRUE(coder.encodeRgb10(dpx.data(), 0, 2, true));
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 37; ++x) {
                int v8[3], v10[3];
                comps(img, x, y, o, 8, v8);
                comps(img, x, y, o, 10, v10);
                const size_t i = static_cast<size_t>(y) * 37 + x;
                ASSERT_EQ(b32[4 * i], 255);
                ASSERT_EQ(b32[4 * i + 1], v8[0]);
                ASSERT_EQ(b32[4 * i + 2], v8[1]);
                ASSERT_EQ(b32[4 * i + 3], v8[2]);
                ASSERT_EQ(b24[3 * i], v8[2]);
                ASSERT_EQ(b24[3 * i + 1], v8[1]);
                ASSERT_EQ(b24[3 * i + 2], v8[0]);
                uint32_t r210 = uint32_t(b10[4 * i]) << 24 | b10[4 * i + 1] << 16 | b10[4 * i + 2] << 8 | b10[4 * i + 3];
                ASSERT_EQ(r210, 0xC0000000u | uint32_t(v10[0]) << 20 | v10[1] << 10 | v10[2]);
                uint32_t d = uint32_t(dpx[4 * i]) << 24 | dpx[4 * i + 1] << 16 | dpx[4 * i + 2] << 8 | dpx[4 * i + 3];
                ASSERT_EQ(d, uint32_t(v10[0]) << 22 | v10[1] << 12 | v10[2] << 2);
            }
    }
}

// Every 8-bit colour through every matrix: each pixel of the 4096x4096
// colour cube shows up as the first and the second pixel of a pair.
TEST(QiImageCoder, YCbCr8MatchesDoubleArithmeticForEveryColour)
{
    QiImage img(4096, 256, 8);
    QiImageCoder coder(&img);
    std::mt19937 rng(8);
    for (int enc = 0; enc < 6; ++enc) {
        for (int band = 0; band < 16; ++band) {
            for (int y = 0; y < 256; ++y)
                for (int x = 0; x < 4096; ++x) {
                    uint32_t c = static_cast<uint32_t>(band * 256 + y) * 4096 + x;
                    // Odd bands swap the pair order so every colour is both.
                    uint32_t col = band % 2 ? (c ^ 1) : c;
                    img.row(y)[x] = img.pack(col >> 16, (col >> 8) & 255, col & 255);
                }
            if (band % 4 == 3) // and random neighbours for the chroma sums
                for (int y = 0; y < 256; ++y)
                    for (int x = 1; x < 4096; x += 2)
                        img.row(y)[x] = rng() & 0xFFFFFF;
            auto got = ycc8(coder, kUyvy, enc);
            auto want = refYcc8(img, kUyvy, enc, Overrides{});
            ASSERT_EQ(got, want) << "encoding " << enc << " band " << band;
        }
    }
}

TEST(QiImageCoder, V210MatchesDoubleArithmetic)
{
    // Boundary codes crossed with each other, then random pixels; both
    // paths, every encoding (and one outside the range).
    const int edges[] = {0, 1, 15, 16, 17, 63, 64, 65, 511, 512, 513, 939, 940, 941, 1022, 1023};
    std::vector<uint64_t> colours;
    for (int r : edges)
        for (int g : edges)
            for (int b : edges)
                colours.push_back(uint64_t(r) << 20 | uint64_t(g) << 10 | uint64_t(b));
    QiImage img(1000, 260, 10);
    std::mt19937_64 rng(10);
    for (int y = 0; y < 260; ++y)
        for (int x = 0; x < 1000; ++x)
            img.row(y)[x] = y < 200 ? colours[(static_cast<size_t>(y) * 1000 + x) % colours.size()] ^
                                          (y >= 100 ? colours[(x * 7 + y * 13) % colours.size()] & 0 : 0)
                                    : rng() & 0x3FFFFFFF;
    // Rows 100..199 pair each boundary colour with a shuffled one.
    for (int y = 100; y < 200; ++y)
        for (int x = 1; x < 1000; x += 2)
            img.row(y)[x] = colours[(x * 7919 + y * 104729) % colours.size()];
    QiImageCoder coder(&img);
    for (int enc : {0, 1, 2, 3, 4, 5, 7})
        for (bool exact : {false, true}) {
            auto got = v210(coder, exact, enc);
            auto want = refV210(img, exact, enc, Overrides{});
            ASSERT_EQ(got, want) << "encoding " << enc << " exact " << exact;
        }
    // Random 10-bit pairs in bulk.
    QiImage big(1918, 540, 10);
    noise(big, 12);
    QiImageCoder cb(&big);
    for (int enc = 0; enc < 6; ++enc) {
        ASSERT_EQ(v210(cb, false, enc), refV210(big, false, enc, Overrides{})) << enc;
        ASSERT_EQ(v210(cb, true, enc), refV210(big, true, enc, Overrides{})) << enc;
    }
    // Depths other than 10 and overrides go through the same arithmetic.
    for (int bits : {8, 12, 16}) {
        QiImage d(61, 7, bits);
        noise(d, bits);
        QiImageCoder cd(&d);
        Overrides o;
        o.flags = 2;
        o.c[1] = 200;
        cd.setOverrides(2, 0, 200, 0);
        ASSERT_EQ(v210(cd, false, 4), refV210(d, false, 4, o)) << bits;
        ASSERT_EQ(v210(cd, true, 0), refV210(d, true, 0, o)) << bits;
        ASSERT_EQ(ycc8(cd, kYuy2, 3), refYcc8(d, kYuy2, 3, o)) << bits;
    }
}

TEST(QiImageCoder, ThreadedOutputEqualsSingleThreaded)
{
    for (auto [w, h] : {std::pair{1920, 1080}, std::pair{4096, 37}, std::pair{101, 2000}}) {
        QiImage img(w, h, 10);
        noise(img, static_cast<uint32_t>(w));
        QiImageCoder one(&img), many(&img);
        one.setThreaded(false);
        one.setOverrides(1, 40, 0, 0);
        many.setOverrides(1, 40, 0, 0);
        const size_t stride = QiImageCoder::v210Stride(w);
        const size_t bytes = std::max<size_t>(stride, 4 * static_cast<size_t>(w)) * h;
        std::vector<uint8_t> a(bytes, 1), b(bytes, 2);
        ASSERT_TRUE(one.encodeV210(a.data(), false, 3, stride));
        ASSERT_TRUE(many.encodeV210(b.data(), false, 3, stride));
        std::fill(a.begin(), a.end(), 0);
        std::fill(b.begin(), b.end(), 0);
        one.encodeV210(a.data(), true, 4);
        many.encodeV210(b.data(), true, 4);
        ASSERT_EQ(a, b);
        one.encodeYCbCr8(a.data(), kYuy2, 5);
        many.encodeYCbCr8(b.data(), kYuy2, 5);
        ASSERT_EQ(a, b);
        one.encodeRgb32(a.data(), 0, 1, 2, 3);
        many.encodeRgb32(b.data(), 0, 1, 2, 3);
        ASSERT_EQ(a, b);
        one.encodeRgb24(a.data(), 0, 1, 2);
        many.encodeRgb24(b.data(), 0, 1, 2);
        ASSERT_EQ(a, b);
        one.encodeRgb10(a.data(), 0, 2, true);
        many.encodeRgb10(b.data(), 0, 2, true);
        ASSERT_EQ(a, b);
    }
}

// A row equal to the one above it takes a copy of that row's output: every
// encoder's rows must still be what the row alone encodes to, for runs of
// equal rows, rows that differ from the one above only in their first or
// last pixel (or in a bit of one component), and the bytes of a row past
// its pixels must stay as they were.
TEST(QiImageCoder, RepeatedRowsEncodeAsTheRowAlone)
{
    for (auto [w, h] : {std::pair{1280, 240}, std::pair{1001, 97}}) {
        QiImage img(w, h, 10);
        noise(img, 5);
        std::mt19937 rng(static_cast<uint32_t>(w));
        for (int32_t y = 1; y < h; ++y) {
            const uint32_t kind = rng() % 6;
            if (kind == 0)
                continue; // a fresh row
            std::memcpy(img.row(y), img.row(y - 1), static_cast<size_t>(w) * 8);
            if (kind == 3)
                img.row(y)[w - 1] ^= 1; // last pixel, lowest bit of blue
            else if (kind == 4)
                img.row(y)[0] ^= uint64_t{1} << 29; // first pixel, top bit of red
            else if (kind == 5)
                img.row(y)[w / 2] ^= uint64_t{1} << 10;
        }
        const size_t pad = 64;
        // written: the bytes of a row the encoder writes; natural: its row.
        auto check = [&](const char *what, size_t written, size_t natural, auto encode) {
            const size_t stride = natural + pad;
            for (bool threaded : {false, true}) {
                QiImageCoder coder(&img);
                coder.setThreaded(threaded);
                std::vector<uint8_t> out(stride * static_cast<size_t>(h), 0xEE);
                ASSERT_TRUE(encode(coder, out.data(), stride)) << what;
                QiImage one(w, 1, 10);
                QiImageCoder alone(&one);
                std::vector<uint8_t> row(natural);
                for (int32_t y = 0; y < h; ++y) {
                    std::memcpy(one.row(0), img.row(y), static_cast<size_t>(w) * 8);
                    ASSERT_TRUE(encode(alone, row.data(), natural));
                    const uint8_t *got = out.data() + static_cast<size_t>(y) * stride;
                    ASSERT_EQ(std::memcmp(got, row.data(), written), 0) << what << " row " << y << " of " << w;
                    for (size_t i = written; i < stride; ++i)
                        ASSERT_EQ(got[i], 0xEE) << what << " row " << y << " byte " << i;
                }
            }
        };
        const size_t groups = (static_cast<size_t>(w) + 5) / 6;
        const size_t v210 = QiImageCoder::v210Stride(w);
        check("v210", 16 * groups, v210, [](QiImageCoder &c, uint8_t *b, size_t s) { return c.encodeV210(b, false, 2, s); });
        check("v210 exact", 16 * groups, v210,
              [](QiImageCoder &c, uint8_t *b, size_t s) { return c.encodeV210(b, true, 0, s); });
        check("uyvy", 2 * static_cast<size_t>(w), 2 * static_cast<size_t>(w),
              [](QiImageCoder &c, uint8_t *b, size_t s) { return c.encodeYCbCr8(b, kUyvy, 2, s); });
        check("rgb32", 4 * static_cast<size_t>(w), 4 * static_cast<size_t>(w),
              [](QiImageCoder &c, uint8_t *b, size_t s) { return c.encodeRgb32(b, 2, 1, 0, 3, s); });
        check("rgb24", 3 * static_cast<size_t>(w), 3 * static_cast<size_t>(w),
              [](QiImageCoder &c, uint8_t *b, size_t s) { return c.encodeRgb24(b, 0, 1, 2, s); });
        check("dpx", 4 * static_cast<size_t>(w), 4 * static_cast<size_t>(w),
              [](QiImageCoder &c, uint8_t *b, size_t s) { return c.encodeRgb10(b, 0, 2, true, s); });
    }
}

// The vector kernels (each level this processor runs) against the
// definition: both depths they take, overrides on and off, every matrix and
// the formula path,
// widths that leave no rest, a rest, or too few pixels for one block.
// Noise puts a few sums of every frame inside the fixed-point margin, so
// the double-precision recomputation runs too.
TEST(QiImageCoder, VectorKernelsMatchDefinitionAtEveryLevel)
{
    const int best = qiYccSimdLevel();
    for (int level = 0; level <= best; ++level) {
        qiYccSimdLimit(level);
        for (int bits : {8, 10})
            for (int w : {5, 24, 53, 96, 1000}) {
                QiImage img(w, 9, bits);
                noise(img, static_cast<uint32_t>(w * 16 + bits));
                // A flat row of mid grey and a row of full-scale primaries:
                // sums that land exactly on a truncation step.
                for (int x = 0; x < w; ++x) {
                    img.row(0)[x] = img.pack(512 >> (10 - bits), 512 >> (10 - bits), 512 >> (10 - bits));
                    const int m = (1 << bits) - 1;
                    img.row(1)[x] = x % 3 == 0 ? img.pack(m, 0, 0) : x % 3 == 1 ? img.pack(0, m, 0) : img.pack(0, 0, m);
                }
                QiImageCoder coder(&img);
                for (bool over : {false, true}) {
                    Overrides o;
                    if (over) {
                        o.flags = 5;
                        o.c[0] = 235;
                        o.c[2] = 16;
                    }
                    coder.setOverrides(o.flags, o.c[0], o.c[1], o.c[2]);
                    for (int enc = 0; enc < 6; ++enc) {
                        for (bool exact : {false, true})
                            ASSERT_EQ(v210(coder, exact, enc), refV210(img, exact, enc, o))
                                << "level " << level << " bits " << bits << " width " << w << " enc " << enc
                                << " exact " << exact;
                        ASSERT_EQ(ycc8(coder, kUyvy, enc), refYcc8(img, kUyvy, enc, o))
                            << "level " << level << " bits " << bits << " width " << w << " enc " << enc;
                    }
                    ASSERT_EQ(ycc8(coder, kYuy2, 2), refYcc8(img, kYuy2, 2, o)) << level;
                }
            }
    }
    qiYccSimdLimit(2);
}

// Mute and gating constants are 8-bit levels: on a 10-bit image the mute's
// 70 is 280 (25 % video grey, 70 again on 8-bit output), and a gating 255
// is full scale, not 63 on 8-bit output.
TEST(QiImageCoder, OverrideLevelsScaleToTheImageDepth)
{
    const int best = qiYccSimdLevel();
    for (int level = 0; level <= best; ++level) {
        qiYccSimdLimit(level);
        for (int bits : {8, 10, 12}) {
            QiImage img(96, 2, bits);
            noise(img, 77);
            QiImageCoder coder(&img);
            coder.setOverrides(7, 70, 70, 70);
            const int grey10 = 70 << 2;
            std::vector<uint8_t> argb(96 * 4 * 2), r210(96 * 4 * 2);
            ASSERT_TRUE(coder.encodeRgb32(argb.data(), 1, 2, 3, 0));
            ASSERT_TRUE(coder.encodeRgb10(r210.data(), 2, 0, false));
            for (size_t i = 0; i < argb.size(); ++i)
                ASSERT_EQ(argb[i], i % 4 == 0 ? 255 : 70) << "bits " << bits << " byte " << i;
            const uint32_t w = uint32_t(r210[0]) << 24 | r210[1] << 16 | r210[2] << 8 | r210[3];
            EXPECT_EQ(w, 0xC0000000u | uint32_t(grey10) << 20 | grey10 << 10 | grey10) << bits;
            for (bool exact : {false, true}) {
                auto b = v210(coder, exact, 2);
                for (size_t group = 0; group < 16; ++group)
                    for (int s = 0; s < 12; ++s)
                        ASSERT_EQ(v210Sample(b, group, s), s % 2 ? grey10 : 512)
                            << "level " << level << " bits " << bits << " exact " << exact << " sample " << s;
            }
            auto u = ycc8(coder, kUyvy, 2);
            for (size_t i = 0; i < u.size(); ++i)
                ASSERT_EQ(u[i], i % 2 ? 70 : 128) << "level " << level << " bits " << bits;

            // Gating red at 255, the rest of the picture black.
            img.fill(0);
            coder.setOverrides(1, 255, 0, 0);
            ASSERT_TRUE(coder.encodeRgb32(argb.data(), 1, 2, 3, 0));
            EXPECT_EQ(argb[1], 255) << bits;
            EXPECT_EQ(argb[2], 0) << bits;
            ASSERT_TRUE(coder.encodeRgb10(r210.data(), 2, 0, false));
            EXPECT_EQ(r210[0], 0xC0 | 0x3F) << "red field 1020 at 10 bits: " << bits;
        }
    }
    qiYccSimdLimit(2);
}

// The formula path holds its codes to 0..1023 as the matrix path does:
// super-white yellow has a chroma below 0, not a wrapped 1014.
TEST(QiImageCoder, ExactV210ClampsOutOfRangeChroma)
{
    const int best = qiYccSimdLevel();
    for (int level = 0; level <= best; ++level) {
        qiYccSimdLimit(level);
        QiImage img(96, 2, 10);
        img.fill(img.pack(1023, 1023, 0));
        img.row(1)[0] = img.row(1)[1] = img.pack(0, 1023, 1023); // cyan: Cr below 0
        img.row(1)[2] = img.row(1)[3] = img.pack(0, 0, 1023);    // blue: Cb above 1023
        QiImageCoder coder(&img);
        for (int enc : {0, 2, 4}) {
            auto exact = v210(coder, true, enc), matrix = v210(coder, false, enc);
            EXPECT_EQ(v210Sample(exact, 0, 0), 0) << "Cb, level " << level << " enc " << enc;
            EXPECT_EQ(v210Sample(matrix, 0, 0), 0) << "Cb, level " << level << " enc " << enc;
            for (int s : {0, 4, 8})
                ASSERT_EQ(v210Sample(exact, 5, s), 0) << "Cb of every pair, level " << level << " enc " << enc;
            const size_t row1 = QiImageCoder::v210Stride(96) / 16;
            EXPECT_EQ(v210Sample(exact, row1, 2), 0) << "Cr of cyan, level " << level << " enc " << enc;
            EXPECT_EQ(v210Sample(exact, row1, 4), 1023) << "Cb of blue, level " << level << " enc " << enc;
            EXPECT_EQ(v210Sample(matrix, row1, 4), 1023) << "Cb of blue, level " << level << " enc " << enc;
        }
    }
    qiYccSimdLimit(2);
}
