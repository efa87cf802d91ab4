#include "FakeRaster.h"
#include "FolderScanner.h"
#include "OvCore.h"
#include "QiImage.h"
#include "QiLog.h"
#include "StdioOutput.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class ImageFileDouble : public OvPatternRenderer {
public:
    ImageFileDouble() : OvPatternRenderer(nullptr, "$Revision: 1.6 $") {}
    const char *name() const override { return "ImageFile"; }
    bool render(OvCore *, QiRaster *, const QiParams &) override { return true; }
};
OvPatternRenderer *makeImageFile() { return new ImageFileDouble; }

std::string value(const QiParams &p, const std::string &key)
{
    const char *v = nullptr;
    return p.get(key, v) ? std::string(v) : std::string("<absent>");
}

struct TempDir {
    fs::path path;
    TempDir()
    {
        char tmpl[] = "/tmp/orvane-scan-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
};

void writePng(const fs::path &p)
{
    QiImage img(4, 2, 8);
    img.fill(img.pack(10, 20, 30));
    ASSERT_TRUE(img.savePng(p.c_str())) << p;
}

} // namespace

TEST(FolderScanner, FileNamesSplitIntoBaseResolutionAndFrame)
{
    struct {
        const char *file, *base;
        uint32_t vres, frame;
    } cases[] = {
        {"Gamma22.png", "Gamma22", 0, 0},     {"Gamma22-2160.png", "Gamma22", 2160, 0},
        {"Sweep-1080~3.png", "Sweep", 1080, 3}, {"Test-100.png", "Test", 0, 0},
        {"Test-abc.png", "Test-abc", 0, 0},   {"a-b-720.jpg", "a-b", 720, 0},
        {"noext", "noext", 0, 0},             {"x~y.png", "x", 0, 0},
        {"clip-480~12.ovi", "clip", 480, 12}, {"v-479.png", "v", 0, 0},
    };
    for (auto &c : cases) {
        std::string base;
        uint32_t vres = 99, frame = 99;
        FolderScanner::parseName(c.file, base, vres, frame);
        EXPECT_EQ(base, c.base) << c.file;
        EXPECT_EQ(vres, c.vres) << c.file;
        EXPECT_EQ(frame, c.frame) << c.file;
    }
}

TEST(FolderScanner, ScanMakesOneAliasPerBaseName)
{
    auto old = swapLogOutput(std::make_unique<StdioOutput>(stdout, false, 1));
    TempDir dir;
    for (const char *f : {"A.png", "A-1080.png", "A-1080~1.png", "A-2160.png", "Test-100.png", "Test-abc.png",
                          "Gap-720~2.png"})
        writePng(dir.path / f);
    std::ofstream(dir.path / "Plugin.OVP") << "not a module";
    std::ofstream(dir.path / "notes.txt") << "hello";
    fs::create_directory(dir.path / "sub.png");

    FakeRaster raster;
    OvCore core;
    core.start(&raster, nullptr, {makeImageFile});
    core.scanFolder(dir.path.c_str(), "user/", false);

    QiParams list;
    core.listPatterns(list);
    EXPECT_EQ(value(list, "user/A"), "Alias/ImageFile");
    EXPECT_EQ(value(list, "user/Test"), "Alias/ImageFile");
    EXPECT_EQ(value(list, "user/Test-abc"), "Alias/ImageFile");
    EXPECT_EQ(value(list, "user/Gap"), "Alias/ImageFile");
    EXPECT_FALSE(list.has("user/Plugin"));
    EXPECT_FALSE(list.has("user/notes"));
    EXPECT_FALSE(list.has("user/sub"));
    EXPECT_EQ(list.size(), 5u);

    // The alias's stored parameters reach the renderer's request.
    FolderScanner scanner(&core, dir.path.string(), "user/");
    scanner.scan(false);
    QiParams a = scanner.aliasParams("A");
    EXPECT_EQ(value(a, "Pattern"), "ImageFile");
    EXPECT_EQ(value(a, "Name"), "A");
    EXPECT_EQ(value(a, "Folder"), dir.path.string());
    EXPECT_EQ(value(a, "Anchor"), "MC");
    EXPECT_EQ(value(a, "nVres"), "3");
    EXPECT_EQ(value(a, "vres0"), "0");
    EXPECT_EQ(value(a, "vres1"), "1080");
    EXPECT_EQ(value(a, "vres2"), "2160");
    EXPECT_EQ(value(a, "nF0"), "1");
    EXPECT_EQ(value(a, "nF1080"), "2");
    EXPECT_EQ(value(a, "nF2160"), "1");
    EXPECT_EQ(value(a, "r0-f0"), "A.png");
    EXPECT_EQ(value(a, "r1080-f0"), "A-1080.png");
    EXPECT_EQ(value(a, "r1080-f1"), "A-1080~1.png");
    EXPECT_EQ(value(a, "r2160-f0"), "A-2160.png");
    EXPECT_EQ(a.size(), 4u + 1 + 3 + 3 + 4);

    QiParams gap = scanner.aliasParams("Gap");
    EXPECT_EQ(value(gap, "nF720"), "3");
    EXPECT_EQ(value(gap, "r720-f0"), "") << "missing frames are empty";
    EXPECT_EQ(value(gap, "r720-f2"), "Gap-720~2.png");

    core.removeAliases("user/");
    QiParams none;
    core.listPatterns(none);
    EXPECT_EQ(none.size(), 1u);
    core.shutdown();
    swapLogOutput(std::move(old));
}

TEST(FolderScanner, ResolutionsBeyondTheSignedRangeAreRefused)
{
    auto old = swapLogOutput(std::make_unique<StdioOutput>(stdout, false, 1));
    TempDir dir;
    for (const char *f : {"Max-2147483647.png", "Big-2147483648.png", "Huge-99999999999.png", "Ok-1080.png"})
        writePng(dir.path / f);
    FakeRaster raster;
    OvCore core;
    core.start(&raster, nullptr, {makeImageFile});
    FolderScanner scanner(&core, dir.path.string(), "");
    scanner.scan(false);

    // The largest signed resolution is written alike in every key.
    QiParams max = scanner.aliasParams("Max");
    EXPECT_EQ(value(max, "vres0"), "2147483647");
    EXPECT_EQ(value(max, "nF2147483647"), "1");
    EXPECT_EQ(value(max, "r2147483647-f0"), "Max-2147483647.png");
    // Beyond it the file is skipped rather than written as -2147483648 in
    // one key and 2147483648 in another.
    EXPECT_TRUE(scanner.aliasParams("Big").empty());
    EXPECT_TRUE(scanner.aliasParams("Huge").empty());
    EXPECT_EQ(value(scanner.aliasParams("Ok"), "vres0"), "1080");
    for (const std::string base : {"Max", "Ok"}) {
        QiParams a = scanner.aliasParams(base);
        int32_t vres = 0;
        ASSERT_TRUE(a.getInt("vres0", vres));
        EXPECT_TRUE(a.has("nF" + std::to_string(vres))) << base;
        EXPECT_TRUE(a.has("r" + std::to_string(vres) + "-f0")) << base;
    }
    core.shutdown();
    swapLogOutput(std::move(old));
}

// File names are bytes: one that is not clean text becomes no alias, so no
// listing of the catalogue can turn ill-formed.
TEST(FolderScanner, NamesThatAreNotCleanTextMakeNoAlias)
{
    auto old = swapLogOutput(std::make_unique<StdioOutput>(stdout, false, 1));
    TempDir dir;
    for (const char *f : {"Gr\xC3\xB6\xC3\x9F" "e.png", "bad\xFF.png", "bell\x07.png", "ok.png"})
        writePng(dir.path / f);
    FakeRaster raster;
    OvCore core;
    core.start(&raster, nullptr, {makeImageFile});
    core.scanFolder(dir.path.c_str(), "user/", false);
    QiParams list;
    core.listPatterns(list);
    EXPECT_TRUE(list.has("user/Gr\xC3\xB6\xC3\x9F" "e"));
    EXPECT_TRUE(list.has("user/ok"));
    EXPECT_EQ(list.size(), 3u) << "ImageFile and the two clean names";
    core.shutdown();
    swapLogOutput(std::move(old));
}

// A frame number is a position in a list: a few tiny files named x~9999.png
// once made a scan hold and write ten thousand empty frame keys per file
// (300 such files: 25 s, 420 MB, 68 MB of log). Missing frames are bounded
// per scan, lists taken in name order; sequences, even read last frame
// first, are not affected.
TEST(FolderScanner, FrameNumbersCannotMakeTheAliasesOutgrowTheFolder)
{
    auto old = swapLogOutput(std::make_unique<StdioOutput>(stdout, false, 0));
    FolderScanner scanner(nullptr, "/folder", "mmc/");
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 300; ++i)
        scanner.processFile("a" + std::to_string(i) + "~9999.png");
    // A real sequence of 200 frames, last frame first, and one with a gap.
    for (int f = 199; f >= 0; --f)
        scanner.processFile("Seq-1080~" + std::to_string(f) + ".png");
    scanner.processFile("Gap~0.png");
    scanner.processFile("Gap~5.png");

    size_t keys = 0;
    for (int i = 0; i < 300; ++i)
        keys += scanner.aliasParams("a" + std::to_string(i)).size();
    EXPECT_LE(keys, 10000u + 300u * 7u);
    // "Gap" comes first and takes 4 of the allowance: no 9999-frame list fits.
    EXPECT_TRUE(scanner.aliasParams("a0").empty());
    EXPECT_TRUE(scanner.aliasParams("a299").empty());

    // On its own, one such list fits in full.
    FolderScanner single(nullptr, "/folder", "");
    single.processFile("x~9999.png");
    EXPECT_EQ(value(single.aliasParams("x"), "nF0"), "10000");
    EXPECT_EQ(value(single.aliasParams("x"), "r0-f9998"), "");
    EXPECT_EQ(value(single.aliasParams("x"), "r0-f9999"), "x~9999.png");

    const QiParams seq = scanner.aliasParams("Seq");
    EXPECT_EQ(value(seq, "nF1080"), "200");
    EXPECT_EQ(value(seq, "r1080-f0"), "Seq-1080~0.png");
    EXPECT_EQ(value(seq, "r1080-f199"), "Seq-1080~199.png");
    const QiParams gap = scanner.aliasParams("Gap");
    EXPECT_EQ(value(gap, "nF0"), "6");
    EXPECT_EQ(value(gap, "r0-f3"), "");
    EXPECT_EQ(value(gap, "r0-f5"), "Gap~5.png");
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 2.0);
    swapLogOutput(std::move(old));
}
