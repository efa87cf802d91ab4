// The signal helpers: infoframe bytes, payload identifier codes, PQ code values.
#include "QiSignal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {
std::vector<uint8_t> bytes(const QiHdrInfoframe &f) { return {f.begin(), f.end()}; }
} // namespace

TEST(QiSignal, InfoframeForPqCarriesTheMasteringDisplay)
{
    QiSignal s;
    s.eotf = kEotfPq;
    s.colorimetry = kColorimetry2020;
    s.metadata = s.mastering = true;
    qiPrimariesPreset(0, s);
    s.maxLuminance = 1000;
    s.minLuminance = 0.005;
    s.maxCll = 1000;
    s.maxFall = 400;
    // G (0.170, 0.797) = 8500, 39850; B (0.131, 0.046) = 6550, 2300;
    // R (0.708, 0.292) = 35400, 14600; D65 (0.3127, 0.3290) = 15635, 16450
    // in 0.00002 steps; 1000 cd/m2; 0.005 cd/m2 = 50 x 0.0001; 1000; 400.
    const std::vector<uint8_t> want = {0x87, 0x01, 0x1A, 0x91, 0x02, 0x00, 0x34, 0x21, 0xAA, 0x9B,
                                       0x96, 0x19, 0xFC, 0x08, 0x48, 0x8A, 0x08, 0x39, 0x13, 0x3D,
                                       0x42, 0x40, 0xE8, 0x03, 0x32, 0x00, 0xE8, 0x03, 0x90, 0x01};
    QiHdrInfoframe f = qiHdrInfoframe(qiHdrFields(s));
    EXPECT_EQ(bytes(f), want);
    unsigned sum = 0;
    for (uint8_t b : f)
        sum += b;
    EXPECT_EQ(sum % 256, 0u) << "the checksum makes the packet sum to zero";
}

TEST(QiSignal, InfoframeForHlgHasNoMasteringDisplay)
{
    QiSignal s;
    s.eotf = kEotfHlg;
    s.colorimetry = kColorimetry2020;
    s.metadata = true;
    s.mastering = false;
    qiPrimariesPreset(0, s);
    std::vector<uint8_t> want(30, 0);
    want[0] = 0x87;
    want[1] = 0x01;
    want[2] = 0x1A;
    want[3] = 0x5B;
    want[4] = 0x03; // HLG
    EXPECT_EQ(bytes(qiHdrInfoframe(qiHdrFields(s))), want);
    QiHdrFields f = qiHdrFields(s);
    EXPECT_EQ(f.primaries[2][0], 0) << "primaries left out";
    EXPECT_EQ(f.maxLuminance, 0);
}

TEST(QiSignal, TransferAndColorimetryCodesOfTheTwoNumberings)
{
    // Payload identifier: SDR-TV 0, HLG 1, PQ 2; infoframe/DeckLink: SDR 0, PQ 2, HLG 3.
    EXPECT_EQ(qiVpidTransfer(kEotfSdr), 0u);
    EXPECT_EQ(qiVpidTransfer(kEotfHlg), 1u);
    EXPECT_EQ(qiVpidTransfer(kEotfPq), 2u);
    EXPECT_EQ(qiCtaEotf(kEotfSdr), 0);
    EXPECT_EQ(qiCtaEotf(kEotfPq), 2);
    EXPECT_EQ(qiCtaEotf(kEotfHlg), 3);
    EXPECT_EQ(qiVpidColorimetry(kColorimetry709), 0u);
    EXPECT_EQ(qiVpidColorimetry(kColorimetry2020), 2u);
    EXPECT_STREQ(qiEotfName(kEotfHlg), "HLG");
    EXPECT_STREQ(qiColorimetryName(kColorimetry2020), "BT.2020");
}

// The published 10-bit code values, narrow / full, rounded to nearest.
TEST(QiSignal, PqCodeValuesMatchThePublishedTable)
{
    struct Row {
        double nits;
        int narrow, full;
    } rows[] = {{0.005, 77, 15},   {0.1, 119, 64},    {1, 195, 153},     {10, 327, 307},     {100, 509, 520},
                {203, 573, 594},   {1000, 723, 769},  {4000, 855, 923},  {10000, 940, 1023}};
    for (const Row &r : rows) {
        EXPECT_EQ(qiPqCode(r.nits, 10, false), r.narrow) << r.nits;
        EXPECT_EQ(qiPqCode(r.nits, 10, true), r.full) << r.nits;
    }
    EXPECT_EQ(qiPqCode(0, 10, false), 64);
    EXPECT_EQ(qiPqCode(0, 10, true), 0);
    EXPECT_EQ(qiPqCode(20000, 10, false), 940) << "clamped to 10000 cd/m2";
    EXPECT_EQ(qiPqCode(-1, 10, false), 64);
    // The curve and its inverse agree.
    for (double nits : {0.01, 1.0, 48.0, 203.0, 1000.0, 9000.0})
        EXPECT_NEAR(qiPqDecode(qiPqEncode(nits)), nits, nits * 1e-9);
    EXPECT_NEAR(qiHlgEncode(1.0 / 12.0), 0.5, 1e-12) << "the two HLG segments meet at 0.5";
    EXPECT_NEAR(qiHlgEncode(1.0), 1.0, 1e-6);
}
