// Golden frames: every pattern, alias and style through the real path
// (engine, KonaRaster, simulated board) at several sizes and two board
// pixel formats, compared by checksum of the frame buffer words and of the
// frame the board put out. ORVANE_REGEN_GOLDEN=1 rewrites the checksums of
// the listed lines; new lines are added by hand with "-" for both sums.
#include "KonaRaster.h"
#include "OvBuiltins.h"
#include "OvCore.h"
#include "QiLog.h"
#include "QiOptEnum.h"
#include "SimBoards.h"
#include "SimKonaBoard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct GoldenLine {
    std::string name, options, size, layout, frameSum, boardSum;
    std::string text; // comment lines are kept as they stand
    bool comment = false;
};

// Board formats and pixel formats the file may name.
const std::map<std::string, const char *> kFormats = {
    {"720x486", "525 59.94 (480i)"},
    {"1920x1080", "1080p 60.00 3Ga (HDMI, SDI-3Ga)"},
    {"3840x2160", "4x1920x1080p 23.98"},
    {"4096x2160", "4x2048x1080p 24.00"},
};
const std::map<std::string, uint32_t> kFrameBufferFormats = {{"v210", 0}, {"bgra", 2}, {"rgb24", 12}};

std::string trim(const std::string &s)
{
    size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

std::vector<GoldenLine> readGolden(const char *path)
{
    std::vector<GoldenLine> lines;
    std::ifstream in(path);
    std::string text;
    while (std::getline(in, text)) {
        GoldenLine g;
        g.text = text;
        if (trim(text).empty() || trim(text)[0] == '#') {
            g.comment = true;
            lines.push_back(g);
            continue;
        }
        std::vector<std::string> f;
        std::stringstream ss(text);
        std::string field;
        while (std::getline(ss, field, '|'))
            f.push_back(trim(field));
        EXPECT_EQ(f.size(), 6u) << "malformed golden line: " << text;
        if (f.size() != 6)
            continue;
        g.name = f[0], g.options = f[1], g.size = f[2], g.layout = f[3], g.frameSum = f[4], g.boardSum = f[5];
        lines.push_back(g);
    }
    return lines;
}

std::string lower(std::string s)
{
    for (char &c : s)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return s;
}

// "Key=Value;Key=Value" or "-".
QiParams requestOf(const GoldenLine &g)
{
    QiParams p;
    if (g.options != "-") {
        std::stringstream ss(g.options);
        std::string kv;
        while (std::getline(ss, kv, ';')) {
            size_t eq = kv.find('=');
            EXPECT_NE(eq, std::string::npos) << g.text;
            if (eq != std::string::npos)
                p.set(kv.substr(0, eq), kv.substr(eq + 1));
        }
    }
    p.set("Pattern", g.name);
    p.set("VideoFormat", kFormats.at(g.size));
    return p;
}

// FNV-1a over 64-bit words (the tail zero-padded).
std::string checksum(const void *data, size_t bytes)
{
    uint64_t h = 1469598103934665603ull;
    const auto *p = static_cast<const uint8_t *>(data);
    for (size_t i = 0; i < bytes; i += 8) {
        uint64_t w = 0;
        std::memcpy(&w, p + i, std::min<size_t>(8, bytes - i));
        h = (h ^ w) * 1099511628211ull;
    }
    char buf[17];
    snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

class QuietLog : public ::testing::Test {
protected:
    struct Silent : QiOutput {
        Silent() : QiOutput(-1) {}
        bool write(const char *, size_t) override { return true; }
    };
    void SetUp() override { old = swapLogOutput(std::make_unique<Silent>()); }
    void TearDown() override
    {
        SimBoards::selectNone();
        swapLogOutput(std::move(old));
    }
    std::unique_ptr<QiOutput> old;
};

// Renders every line of one board pixel format; fills the sums in place.
void renderLayout(const std::string &layout, std::vector<GoldenLine *> &lines)
{
    SimBoards::selectKona();
    for (uint32_t ch = 0; ch < SimKonaBoard::kChannels; ++ch)
        SimKonaBoard::instance().setFrameBufferFormat(ch, kFrameBufferFormats.at(layout));
    KonaRaster raster;
    ASSERT_TRUE(raster.init());
    OvCore core;
    core.start(&raster, ORVANE_DATA_DIR, ovBuiltinRenderers());
    // The first request adopts the board's own format (the engine starts at
    // the list's default); only later ones select formats.
    bool result;
    core.waitTransaction(core.postPattern("Colorbars"), result);
    for (GoldenLine *g : lines) {
        SCOPED_TRACE(g->text);
        // A multi-frame pattern may flip between the present and the
        // capture; such a capture is taken again (often, on a slow
        // sanitized build where a 4K draw takes most of a frame period).
        SimFrame frame;
        bool captured = false;
        for (int attempt = 0; attempt < 40 && !captured; ++attempt) {
            SimFrame before;
            const uint64_t seq = SimBoards::outputFrame(before) ? before.sequence : 0;
            core.waitTransaction(core.post(requestOf(*g)), result);
            captured = SimBoards::outputFrame(frame) && frame.sequence == seq + 1;
        }
        ASSERT_TRUE(captured) << "no single frame captured after the render";
        ASSERT_EQ(std::to_string(frame.width) + "x" + std::to_string(frame.height), g->size);
        ASSERT_EQ(frame.layout, layout);
        g->frameSum = checksum(raster.data(), static_cast<size_t>(raster.width()) * raster.height() * 8);
        g->boardSum = checksum(frame.bytes.data(), frame.bytes.size());
    }
    core.shutdown();
}

} // namespace

TEST_F(QuietLog, EveryLineMatchesItsChecksums)
{
    std::vector<GoldenLine> lines = readGolden(ORVANE_GOLDEN_FILE);
    ASSERT_FALSE(lines.empty()) << ORVANE_GOLDEN_FILE;
    std::vector<GoldenLine> expected = lines;
    std::map<std::string, std::vector<GoldenLine *>> byLayout;
    for (GoldenLine &g : lines) {
        if (g.comment)
            continue;
        ASSERT_TRUE(kFormats.count(g.size)) << "no board format of size " << g.size;
        ASSERT_TRUE(kFrameBufferFormats.count(g.layout)) << "no board pixel format " << g.layout;
        byLayout[g.layout].push_back(&g);
    }
    // Lines of one size together: a format change costs fresh frame memory.
    for (auto &kv : byLayout) {
        std::stable_sort(kv.second.begin(), kv.second.end(),
                         [](const GoldenLine *a, const GoldenLine *b) { return a->size < b->size; });
        renderLayout(kv.first, kv.second);
    }

    const char *regen = getenv("ORVANE_REGEN_GOLDEN");
    if (regen && strcmp(regen, "1") == 0 && !HasFailure()) {
        std::ofstream out(ORVANE_GOLDEN_FILE);
        for (const GoldenLine &g : lines)
            out << (g.comment ? g.text
                              : g.name + " | " + g.options + " | " + g.size + " | " + g.layout + " | " + g.frameSum +
                                    " | " + g.boardSum)
                << "\n";
        printf("ORVANE_REGEN_GOLDEN=1: rewrote %s\n", ORVANE_GOLDEN_FILE);
        return;
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].comment)
            continue;
        EXPECT_EQ(lines[i].frameSum, expected[i].frameSum) << "frame buffer of: " << expected[i].text;
        EXPECT_EQ(lines[i].boardSum, expected[i].boardSum) << "board frame of: " << expected[i].text;
    }
}

// Every built-in pattern and alias has a line, every value of a "Style"
// option appears (given directly or through an alias), and each is shown
// at every size and pixel format the file uses.
TEST_F(QuietLog, CoversEveryPatternAliasAndStyle)
{
    std::vector<GoldenLine> lines = readGolden(ORVANE_GOLDEN_FILE);
    SimBoards::selectKona();
    KonaRaster raster;
    ASSERT_TRUE(raster.init());
    OvCore core;
    core.start(&raster, ORVANE_DATA_DIR, ovBuiltinRenderers());

    std::set<std::string> sizes, layouts;
    std::map<std::string, std::set<std::string>> shownAt; // name -> size/layout
    std::map<std::string, std::set<std::string>> styles;  // pattern -> style values (lower case)
    for (const GoldenLine &g : lines) {
        if (g.comment)
            continue;
        sizes.insert(g.size);
        layouts.insert(g.layout);
        shownAt[g.name].insert(g.size + "/" + g.layout);
        QiParams p = requestOf(g);
        OvPatternRenderer *r = core.resolvePattern(g.name.c_str(), p);
        ASSERT_NE(r, nullptr) << "not a pattern or alias: " << g.name;
        for (const auto &kv : p)
            if (lower(kv.first) == "style")
                styles[r->name()].insert(lower(kv.second));
    }
    QiParams known;
    core.listPatterns(known);
    for (const auto &kv : known) {
        EXPECT_EQ(shownAt[kv.first].size(), sizes.size() * layouts.size())
            << kv.first << " is not shown at every size and pixel format";
    }
    for (OvPatternRenderer *r : core.renderers()) {
        for (QiOptionList o = r->options; o && *o; ++o) {
            auto *e = dynamic_cast<const QiOptEnum *>(*o);
            if (!e || lower(e->name) != "style")
                continue;
            std::set<std::string> seen = styles[r->name()];
            // A line that does not give the option shows the default.
            for (const GoldenLine &g : lines)
                if (!g.comment && g.name == r->name() && lower(g.options).find("style=") == std::string::npos)
                    seen.insert(lower(e->nameAt(e->defaultIndex())));
            for (const std::string &v : e->values())
                EXPECT_TRUE(seen.count(lower(v))) << r->name() << " style " << v << " has no golden line";
        }
    }
    core.shutdown();
}
