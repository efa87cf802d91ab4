// Every built-in pattern with default options: every pixel written, every
// component inside the raster's depth, the same frame twice.
#include "PatternHarness.h"

#include <set>
#include <vector>

namespace {

// Patterns that by definition may leave earlier content in place with
// their defaults.
const std::set<std::string> kKeepsPrevious = {
    // Without an image alias's keys no file is named: the gap is logged and
    // the frame buffer is left as it was, under the title.
    "ImageFile",
};

uint64_t checksum(const QiRaster &r)
{
    uint64_t h = 1469598103934665603ull;
    const size_t n = static_cast<size_t>(r.width()) * static_cast<size_t>(r.height());
    for (size_t i = 0; i < n; ++i)
        h = (h ^ r.data()[i]) * 1099511628211ull;
    return h;
}

void walk(int32_t w, int32_t h, int32_t bits)
{
    PatternHarness t(w, h, bits);
    const uint64_t limit = uint64_t{1} << (3 * bits);
    std::vector<OvPatternRenderer *> renderers = t.engine.renderers();
    ASSERT_EQ(renderers.size(), ovBuiltinRenderers().size());
    for (OvPatternRenderer *r : renderers) {
        SCOPED_TRACE(std::string(r->name()) + " at " + std::to_string(w) + "x" + std::to_string(h));
        uint64_t sums[2];
        for (uint64_t &sum : sums) {
            t.poison();
            ASSERT_EQ(t.render({{"Pattern", r->name()}}), r);
            size_t unwritten = 0, outside = 0;
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    const uint64_t p = t.raster.pixel(x, y);
                    unwritten += p == PatternHarness::kPoison;
                    outside += p >= limit;
                }
            if (!kKeepsPrevious.count(r->name())) {
                EXPECT_EQ(unwritten, 0u) << "pixels left from the previous frame";
            }
            EXPECT_EQ(outside, unwritten) << "components beyond the depth";
            sum = checksum(t.raster);
        }
        EXPECT_EQ(sums[0], sums[1]) << "two renders of one request differ";
    }
}

} // namespace

TEST(RegistryWalk, EveryPatternWritesEveryPixelInRangeAndRepeats)
{
    walk(1920, 1080, 10);
    walk(721, 487, 8);
}
