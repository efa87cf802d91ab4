// The test card alias through orvane-render: the engine's own scan of the
// data folder makes it, and the frame carries the card's samples.
#include "QiImageFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

int runRender(const std::string &args, std::string &out)
{
    const std::string cmd = std::string(ORVANE_RENDER) + " " + args + " 2>&1";
    FILE *p = popen(cmd.c_str(), "r");
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    const int st = pclose(p);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

} // namespace

TEST(OvRenderTestCard, TheCardAliasShowsThePreparedResolution)
{
    char tmpl[] = "/tmp/orvane-card-XXXXXX";
    const fs::path dir = mkdtemp(tmpl);
    const std::string cards = fs::path(ORVANE_RENDER).parent_path().string() + "/ovdata/ImageFiles/Nimbra-Test-Card-";
    struct {
        const char *format;
        int32_t w, h, card;
    } cases[] = {{"1080p 60.00 3Ga (HDMI, SDI-3Ga)", 1920, 1080, 1080}, {"4x2048x1080p 24.00", 4096, 2160, 2160}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.format);
        const fs::path ovi = dir / "card.ovi";
        std::string out;
        ASSERT_EQ(runRender("-o " + ovi.string() + " Pattern=Nimbra-Test-Card 'VideoFormat=" + c.format + "'", out), 0)
            << out;
        auto frame = loadImage(ovi.string(), 10);
        auto card = loadImage(cards + std::to_string(c.card), 10);
        ASSERT_NE(frame, nullptr);
        ASSERT_NE(card, nullptr);
        ASSERT_EQ(frame->width(), c.w);
        ASSERT_EQ(frame->height(), c.h);
        // Centred ("MC", as the folder scan sets it) on video black (64).
        const int32_t x0 = (c.w - card->width()) / 2, y0 = (c.h - card->height()) / 2;
        size_t differ = 0;
        for (int32_t y = 0; y < c.h; ++y)
            for (int32_t x = 0; x < c.w; ++x) {
                const bool in = x >= x0 && y >= y0 && x < x0 + card->width() && y < y0 + card->height();
                const uint64_t want = in ? card->pixel(x - x0, y - y0) : frame->pack(64, 64, 64);
                differ += frame->pixel(x, y) != want;
            }
        EXPECT_EQ(differ, 0u);
    }
    fs::remove_all(dir);
}
