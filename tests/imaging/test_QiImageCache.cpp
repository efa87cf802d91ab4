// Decoded images kept between renders: keyed by file, time stamp and depth,
// bounded in bytes.
#include "QiImageCache.h"
#include "QiImageFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir()
    {
        char tmpl[] = "/tmp/orvane-cache-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
};

void writePng(const fs::path &p, int32_t w, int32_t h, uint32_t red)
{
    QiImage img(w, h, 8);
    img.fill(img.pack(red, 1, 2));
    ASSERT_TRUE(img.savePng(p.c_str()));
}

// Moves the file's modification time one second on: a rewrite within the
// file system's time granularity must still count as a change.
void touchLater(const fs::path &p)
{
    struct stat st;
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    timespec times[2] = {st.st_atim, st.st_mtim};
    times[1].tv_sec += 1;
    ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

} // namespace

TEST(QiImageCache, DecodesOncePerFileAndDepthUntilTheFileChanges)
{
    TempDir dir;
    writePng(dir.path / "a.png", 16, 8, 10);
    QiImageCache cache;
    const std::string base = (dir.path / "a").string();
    auto first = cache.load(base, 10);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->red(first->pixel(0, 0)), 40u);
    EXPECT_EQ(cache.load(base, 10), first);
    EXPECT_EQ(cache.decodes(), 1u);
    // The full name finds the same file under another base path.
    EXPECT_NE(cache.load(base + ".png", 10), nullptr);
    EXPECT_EQ(cache.decodes(), 2u);
    // Another depth is another picture.
    auto eight = cache.load(base, 8);
    ASSERT_NE(eight, nullptr);
    EXPECT_EQ(eight->red(eight->pixel(0, 0)), 10u);
    EXPECT_EQ(cache.decodes(), 3u);
    EXPECT_EQ(cache.entries(), 3u);
    EXPECT_EQ(cache.bytes(), 3u * 16 * 8 * 8);

    // Rewritten: decoded again, the old pixels dropped.
    writePng(dir.path / "a.png", 16, 8, 20);
    touchLater(dir.path / "a.png");
    auto second = cache.load(base, 10);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->red(second->pixel(0, 0)), 80u);
    EXPECT_EQ(cache.decodes(), 4u);
    EXPECT_EQ(cache.entries(), 3u);
    // The earlier image stays valid for whoever still holds it.
    EXPECT_EQ(first->red(first->pixel(0, 0)), 40u);

    // A file that appears in front in the suffix order takes over.
    QiImage ovi(4, 4, 10);
    ovi.fill(ovi.pack(7, 7, 7));
    ASSERT_TRUE(ovi.saveOvi((dir.path / "a.ovi").c_str()));
    auto third = cache.load(base, 10);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->width(), 4);

    // Nothing there: no image, no decode.
    const uint64_t decodes = cache.decodes();
    EXPECT_EQ(cache.load((dir.path / "missing").string(), 10), nullptr);
    EXPECT_EQ(cache.decodes(), decodes);
    cache.clear();
    EXPECT_EQ(cache.entries(), 0u);
    EXPECT_EQ(cache.bytes(), 0u);
}

TEST(QiImageCache, StaysUnderItsByteLimit)
{
    TempDir dir;
    for (int i = 0; i < 4; ++i)
        writePng(dir.path / ("f" + std::to_string(i) + ".png"), 32, 32, static_cast<uint32_t>(i));
    writePng(dir.path / "big.png", 64, 64, 9);
    const size_t one = 32 * 32 * 8;
    QiImageCache cache(3 * one);
    auto path = [&](int i) { return (dir.path / ("f" + std::to_string(i))).string(); };
    for (int i = 0; i < 4; ++i)
        ASSERT_NE(cache.load(path(i), 8), nullptr);
    EXPECT_EQ(cache.entries(), 3u);
    EXPECT_LE(cache.bytes(), 3 * one);
    // The least recently used (f0) went; f1 is used and so kept over f2.
    EXPECT_EQ(cache.decodes(), 4u);
    cache.load(path(1), 8);
    EXPECT_EQ(cache.decodes(), 4u);
    cache.load(path(0), 8);
    EXPECT_EQ(cache.decodes(), 5u);
    cache.load(path(1), 8);
    EXPECT_EQ(cache.decodes(), 5u);
    cache.load(path(2), 8);
    EXPECT_EQ(cache.decodes(), 6u);
    // Larger than the whole limit: shown, not kept, nothing evicted for it.
    auto big = cache.load((dir.path / "big").string(), 8);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(big->width(), 64);
    EXPECT_EQ(cache.entries(), 3u);
    cache.load((dir.path / "big").string(), 8);
    EXPECT_EQ(cache.decodes(), 8u);
}

TEST(QiImageCache, ARawFilesSidecarIsPartOfTheKey)
{
    TempDir dir;
    {
        std::ofstream raw(dir.path / "r.raw", std::ios::binary);
        const char bytes[] = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
        raw.write(bytes, sizeof bytes);
        std::ofstream side(dir.path / "r.raw_data");
        side << "[RawData]\nWidth=2\nHeight=2\nFourCC=RGB24\n";
    }
    QiImageCache cache;
    const std::string base = (dir.path / "r").string();
    auto a = cache.load(base, 8);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->width(), 2);
    {
        std::ofstream side(dir.path / "r.raw_data");
        side << "[RawData]\nWidth=4\nHeight=1\nFourCC=RGB24\n";
    }
    touchLater(dir.path / "r.raw_data");
    auto b = cache.load(base, 8);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->width(), 4);
    EXPECT_EQ(cache.decodes(), 2u);
}
