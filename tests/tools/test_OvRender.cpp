#include "QiImageFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status;
    std::string out;
};

Outcome run(const std::string &args, const std::string &env = "")
{
    std::string cmd = env + " " ORVANE_RENDER " " + args + " 2>&1";
    FILE *p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int st = pclose(p);
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

struct TempDir {
    fs::path path;
    TempDir()
    {
        char tmpl[] = "/tmp/orvane-render-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
};

std::string slurp(const fs::path &p)
{
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(OvRender, WritesTheFrameWordsTheSnapshotAndTheBoardFrame)
{
    TempDir dir;
    fs::path ovi = dir.path / "bars.ovi", raw = dir.path / "bars.raw", png = dir.path / "bars.png";
    Outcome r = run("-o " + ovi.string() + " -o " + raw.string() + " -o " + png.string() +
                " Pattern=Colorbars 'VideoFormat=720p 59.94'");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Info: pattern rendered Colorbars in time "), std::string::npos) << r.out;

    auto img = loadImage((dir.path / "bars").string(), 10);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->width(), 1280);
    EXPECT_EQ(img->height(), 720);
    EXPECT_EQ(img->bits(), 10);
    EXPECT_EQ(img->pixel(0, 0), img->pack(721, 721, 721));
    EXPECT_EQ(img->pixel(1279, 0), img->pack(64, 64, 721));

    std::string json = slurp(dir.path / "bars.json");
    EXPECT_NE(json.find("\"width\": 1280"), std::string::npos) << json;
    EXPECT_NE(json.find("\"videoFormat\": \"720p 59.94\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"layout\": \"v210\""), std::string::npos) << json;
    EXPECT_EQ(fs::file_size(raw), 3456u * 720u) << "v210 rows of 1280 pixels are 3456 bytes";
    EXPECT_GT(fs::file_size(png), 1000u);
}

TEST(OvRender, RefusesUnknownPatternsAndFormats)
{
    Outcome a = run("Pattern=NoSuchPattern");
    EXPECT_EQ(a.status, 1);
    EXPECT_NE(a.out.find("unknown pattern 'NoSuchPattern'"), std::string::npos) << a.out;
    Outcome b = run("Pattern=Colorbars 'VideoFormat=1080p 61'");
    EXPECT_EQ(b.status, 1);
    EXPECT_NE(b.out.find("no video format '1080p 61'"), std::string::npos) << b.out;
    Outcome c = run("--help");
    EXPECT_EQ(c.status, 0);
    EXPECT_NE(c.out.find("--repeat"), std::string::npos);
    Outcome d = run("-o x.bmp Pattern=Colorbars");
    EXPECT_EQ(d.status, 2);
}

TEST(OvRender, BoardStartingStateFollowsTheEnvironmentAndRepeatRendersAgain)
{
    TempDir dir;
    fs::path raw = dir.path / "f.raw";
    // NTV2 format 4 is 720p 59.94; frame-buffer format 2 is 8-bit ARGB (BGRA bytes).
    Outcome r = run("--repeat 3 -o " + raw.string() + " Pattern=fullfield", "ORVANE_SIM_KONA=videoformat=4,fbf=2");
    ASSERT_EQ(r.status, 0) << r.out;
    size_t count = 0;
    for (size_t pos = r.out.find("pattern rendered"); pos != std::string::npos;
         pos = r.out.find("pattern rendered", pos + 1))
        ++count;
    EXPECT_EQ(count, 3u);
    std::string json = slurp(dir.path / "f.json");
    EXPECT_NE(json.find("\"layout\": \"bgra\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"sequence\": 3"), std::string::npos) << json;
    std::ifstream in(raw, std::ios::binary);
    unsigned char px[4];
    in.read(reinterpret_cast<char *>(px), 4);
    // 75% grey at 8 bits: 721 >> 2 = 180, written B, G, R, A.
    EXPECT_EQ(px[0], 180);
    EXPECT_EQ(px[1], 180);
    EXPECT_EQ(px[2], 180);
    EXPECT_EQ(px[3], 255);
}

TEST(OvRender, ARequestWithoutPatternIsAFailureNotAnEmptyFrame)
{
    TempDir dir;
    fs::path ovi = dir.path / "none.ovi";
    Outcome r = run("-o " + ovi.string() + " 'VideoFormat=720p 59.94' OutputTitling=true");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("orvane-render: the request names no pattern"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(ovi)) << "nothing is written";
    Outcome empty = run("");
    EXPECT_EQ(empty.status, 1) << empty.out;
}

TEST(OvRender, ToggleInAnyCaseStepsToTheNextFormat)
{
    TempDir dir;
    for (const char *toggle : {"toggle", "TOGGLE", "Toggle"}) {
        fs::path raw = dir.path / (std::string(toggle) + ".raw");
        Outcome r = run("-o " + raw.string() + " Pattern=Colorbars VideoFormat=" + toggle);
        ASSERT_EQ(r.status, 0) << toggle << "\n" << r.out;
        const std::string json = slurp(dir.path / (std::string(toggle) + ".json"));
        // The board starts at 1080p 60.00 level A; the next listed format.
        EXPECT_NE(json.find("\"videoFormat\": \"1080p 50.00 (SDI-3Gb)\""), std::string::npos) << toggle << json;
    }
    Outcome lower = run("Pattern=Colorbars 'VideoFormat=720P 59.94'");
    EXPECT_EQ(lower.status, 0) << "format names match ignoring case, as the engine matches them\n" << lower.out;
}

TEST(OvRender, TheImageFolderIsScannedOnceAtMost)
{
    TempDir dir;
    fs::create_directories(dir.path / "ImageFiles");
    {
        QiImage img(4, 2, 8);
        img.fill(img.pack(1, 2, 3));
        ASSERT_TRUE(img.savePng((dir.path / "ImageFiles" / "Probe-1080.png").c_str()));
    }
    const std::string data = " --data-dir " + dir.path.string();
    // Whether the image-file pattern (which scans the folder when it
    // registers) is there decides how many scans there may be.
    Outcome probe = run(data + " Pattern=ImageFile");
    const bool imagePattern = probe.out.find("unknown pattern 'ImageFile'") == std::string::npos;
    Outcome r = run(data + " Pattern=Colorbars");
    ASSERT_EQ(r.status, 0) << r.out;
    size_t scans = 0;
    for (size_t at = r.out.find("FolderScanner::processFile: Probe.1080.0 Probe-1080.png");
         at != std::string::npos; at = r.out.find("FolderScanner::processFile: Probe.1080.0", at + 1))
        ++scans;
    EXPECT_EQ(scans, imagePattern ? 1u : 0u) << r.out;
}

// orvane-render takes the user's locale as the program does; what the
// engine reads and writes stays as in the C locale.
TEST(OvRender, CommaDecimalAndTurkishLocalesChangeNothing)
{
    TempDir dir;
    fs::path ref = dir.path / "ref.ovi";
    Outcome base = run("-o " + ref.string() + " Pattern=Colorbars Style=fullfield Brightness=50", "LC_ALL=C");
    ASSERT_EQ(base.status, 0) << base.out;
    const std::string want = slurp(ref);
    for (const char *loc : {"de_DE.UTF-8", "tr_TR.UTF-8"}) {
        // The locale exists and has a decimal comma (scripts/setup-deps).
        std::string printed;
        {
            FILE *p = popen((std::string("LC_ALL=") + loc + " locale decimal_point 2>&1").c_str(), "r");
            char buf[256];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, p)) > 0)
                printed.append(buf, n);
            pclose(p);
        }
        ASSERT_EQ(printed, ",\n") << loc << " is missing: " << printed;

        fs::path got = dir.path / (std::string(loc) + ".ovi");
        Outcome r = run("-o " + got.string() + " Pattern=COLORBARS Style=FULLFIELD Brightness=50",
                        std::string("LC_ALL=") + loc);
        ASSERT_EQ(r.status, 0) << loc << "\n" << r.out;
        EXPECT_TRUE(slurp(got) == want) << loc << ": FULLFIELD and COLORBARS match as in the C locale";
        const std::string mark = "pattern rendered COLORBARS in time ";
        const size_t at = r.out.find(mark);
        ASSERT_NE(at, std::string::npos) << r.out;
        const std::string time = r.out.substr(at + mark.size(), r.out.find('\n', at) - at - mark.size());
        EXPECT_FALSE(time.empty());
        EXPECT_EQ(time.find_first_not_of("0123456789.e-"), std::string::npos) << loc << ": " << time;
    }
}

TEST(OvRender, DescriptionCarriesTheSignal)
{
    TempDir dir;
    fs::path raw = dir.path / "hdr.raw";
    // 1080p 59.94 level A in v210: the published payload word for PQ/BT.2020.
    Outcome r = run("-o " + raw.string() + " Pattern=fullfield TransferFunction=PQ Colorimetry=BT.2020 MaxCLL=1000",
                    "ORVANE_SIM_KONA=videoformat=24,fbf=0");
    ASSERT_EQ(r.status, 0) << r.out;
    std::string json = slurp(dir.path / "hdr.json");
    for (const char *part : {"\"a\": \"0x89EAA001\"", "\"eotf\": \"PQ\", \"colorimetry\": \"BT.2020\"",
                             "\"bitDepth\": 10", "\"hdrMetadata\": {\"present\": true", "\"maxCLL\": 1000",
                             "\"hdmiInfoframe\": \"87 01 1A "})
        EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;

    Outcome sdr = run("-o " + raw.string() + " Pattern=fullfield", "ORVANE_SIM_KONA=videoformat=24,fbf=0");
    ASSERT_EQ(sdr.status, 0) << sdr.out;
    json = slurp(dir.path / "hdr.json");
    EXPECT_NE(json.find("\"signal\": {\"eotf\": \"SDR\", \"colorimetry\": \"BT.709\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"hdrMetadata\": {\"present\": false}"), std::string::npos) << json;
}
