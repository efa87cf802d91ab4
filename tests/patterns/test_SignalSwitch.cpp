// Signalling travels with the frame: on a running generator switched
// SDR -> PQ -> SDR, every frame that reaches the board carries the signal of
// the request that drew it.
#include "KonaRaster.h"
#include "OvBuiltins.h"
#include "OvCore.h"
#include "SimBoards.h"
#include "SimKonaBoard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

// Largest luma sample of a row through the pattern's first band of cells
// (rows 7 to 10 of 27), which holds the grey cell in some column.
uint32_t maxLumaCellRow(const SimFrame &d, const std::vector<uint8_t> &bytes)
{
    const size_t row = static_cast<size_t>(d.height * 8 / 27) * d.rowBytes;
    uint32_t best = 0;
    for (size_t at = row; at + 16 <= row + d.rowBytes && at + 16 <= bytes.size(); at += 16) {
        uint32_t w[4];
        for (int i = 0; i < 4; ++i)
            w[i] = static_cast<uint32_t>(bytes[at + 4 * i]) | static_cast<uint32_t>(bytes[at + 4 * i + 1]) << 8 |
                   static_cast<uint32_t>(bytes[at + 4 * i + 2]) << 16 |
                   static_cast<uint32_t>(bytes[at + 4 * i + 3]) << 24;
        for (uint32_t y : {w[0] >> 10, w[1], w[1] >> 20, w[2] >> 10, w[3], w[3] >> 20})
            best = std::max(best, y & 0x3FF);
    }
    return best;
}

struct Seen {
    uint32_t luma;
    int32_t eotf;
    uint32_t vpidA;
};

} // namespace

TEST(SignalSwitch, EveryFrameCarriesTheSignalItWasDrawnWith)
{
    SimBoards::selectKona(); // 1080p 60 level A, v210
    SimKonaBoard &board = SimKonaBoard::instance();
    std::mutex lock;
    std::vector<Seen> seen;
    board.setFrameObserver([&](const SimFrame &d, const std::vector<uint8_t> &bytes) {
        std::lock_guard<std::mutex> g(lock);
        uint32_t a = d.signal.sdiVpid.empty() ? 0 : d.signal.sdiVpid[0].a;
        seen.push_back({maxLumaCellRow(d, bytes), d.signal.eotf, a});
    });
    {
        KonaRaster raster;
        ASSERT_TRUE(raster.init());
        OvCore core;
        core.start(&raster, nullptr, ovBuiltinRenderers());
        // Grey at 10..30 % is drawn under SDR, at 60..80 % under PQ: a frame
        // with the other pixels and the old signal would show up below.
        const int sdr[] = {10, 20, 30}, pq[] = {60, 70, 80};
        int32_t last = 0;
        for (int round = 0; round < 5; ++round) { // SDR, PQ, SDR, PQ, SDR
            const bool hdr = round % 2 == 1;
            for (int b : hdr ? pq : sdr) {
                QiParams p;
                p.set("Pattern", "Color");
                p.setInt("Brightness", b);
                p.set("TransferFunction", hdr ? "PQ" : "SDR");
                last = core.post(p);
                ASSERT_NE(last, OvCore::kRefused);
            }
        }
        ASSERT_TRUE(core.waitProcessed(last, std::chrono::seconds(60)));
        core.shutdown();
        std::lock_guard<std::mutex> g(lock);
        ASSERT_EQ(seen.size(), core.framesPresented());
    }
    board.setFrameObserver(nullptr);
    ASSERT_GE(seen.size(), 4u) << "at least one frame per switch";
    int pqFrames = 0, sdrFrames = 0;
    for (size_t i = 0; i < seen.size(); ++i) {
        const bool drawnHdr = seen[i].luma > 458; // between 30 % and 60 % grey
        EXPECT_EQ(seen[i].eotf, drawnHdr ? kEotfPq : kEotfSdr) << "frame " << i << " luma " << seen[i].luma;
        EXPECT_EQ((seen[i].vpidA >> 20) & 3, drawnHdr ? 2u : 0u) << "frame " << i;
        (drawnHdr ? pqFrames : sdrFrames)++;
    }
    EXPECT_GE(pqFrames, 1);
    EXPECT_GE(sdrFrames, 2);
    EXPECT_EQ(seen.back().eotf, kEotfSdr) << "the last request was SDR";
}
