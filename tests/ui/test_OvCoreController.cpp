#include "OvCoreController.h"
#include "PanelTestKit.h"

#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace paneltest;

namespace {

// The seven bars at 75% across a row of the decoded picture (8-bit, full
// range): grey, yellow, cyan, green, magenta, red, blue.
void expectBars(const QImage &pic, int y, int percent)
{
    ASSERT_FALSE(pic.isNull());
    const int l = percent * 255 / 100;
    const int bars[7][3] = {{l, l, l}, {l, l, 0}, {0, l, l}, {0, l, 0}, {l, 0, l}, {l, 0, 0}, {0, 0, l}};
    for (int i = 0; i < 7; ++i) {
        const QRgb p = pic.pixel((2 * i + 1) * pic.width() / 14, y);
        EXPECT_NEAR(qRed(p), bars[i][0], 3) << "bar " << i;
        EXPECT_NEAR(qGreen(p), bars[i][1], 3) << "bar " << i;
        EXPECT_NEAR(qBlue(p), bars[i][2], 3) << "bar " << i;
    }
}

} // namespace

TEST(OvCoreController, PostAndWaitPutTheBarsOnTheBoard)
{
    SimEngine sim;
    OvCoreController c(&sim.core);
    EXPECT_EQ(c.engine(), &sim.core);

    const int32_t id = c.post(params({{"Pattern", "Colorbars"}}));
    EXPECT_TRUE(c.waitTransaction(id));
    // Once the wait is over the bars are what the board outputs.
    QImage pic = boardPicture();
    EXPECT_EQ(pic.size(), QSize(1920, 1080));
    expectBars(pic, 300, 75);

    // Ids come from the engine and follow each other; an option alone
    // redraws the pattern shown.
    const int32_t next = c.post(params({{"Brightness", "100"}}));
    EXPECT_EQ(next, static_cast<int32_t>(static_cast<uint32_t>(id) + 1u));
    EXPECT_TRUE(c.waitTransaction(next));
    expectBars(boardPicture(), 300, 100);
    // A request no longer queued: nothing to wait for, it has been drawn.
    EXPECT_TRUE(c.waitTransaction(next));

    QiParams current = params({{"stale", "1"}});
    ASSERT_TRUE(c.currentParams(current));
    EXPECT_FALSE(current.has("stale"));
    const char *n = nullptr;
    EXPECT_TRUE(current.get("Pattern", n) && std::string(n) == "Colorbars");
    EXPECT_TRUE(current.get("Brightness", n) && std::string(n) == "100");

    QiParams patterns;
    ASSERT_TRUE(c.listPatterns(patterns));
    for (const char *name : {"Colorbars", "Chromaticity", "ImageFile", "fullfield", "SMPTEBars"})
        EXPECT_TRUE(patterns.has(name)) << name;
    std::vector<QiParams> opts;
    ASSERT_TRUE(c.getPatternOpts("Colorbars", opts));
    ASSERT_EQ(opts.size(), 2u);
    EXPECT_TRUE(opts[1].get("Name", n) && std::string(n) == "Brightness");
    EXPECT_FALSE(c.getPatternOpts("NoSuchPattern", opts));

    std::vector<QiParams> gen;
    ASSERT_TRUE(c.getGenOptions(gen));
    // Twelve descriptions and the seventeen of the signal, the values, the request.
    EXPECT_EQ(gen.size(), 31u);
    QiParams values;
    ASSERT_TRUE(c.getGenValues(values));
    EXPECT_TRUE(values.get("VideoFormat", n) && std::string(n).rfind("1080p 60.00", 0) == 0) << n;

    // 10-bit narrow range on the Kona board.
    EXPECT_EQ(c.blackLevel(), 64);
    EXPECT_EQ(c.whiteLevel(), 940);
    EXPECT_EQ(c.bitDepth(), 10);
    EXPECT_EQ(c.target(), "this computer");
}

TEST(OvCoreController, SnapshotIsTheFrameOnTheBoard)
{
    SimEngine sim;
    OvCoreController c(&sim.core);
    std::string problem;
    c.setStatusSink([&](bool ok, const std::string &m) {
        if (!ok)
            problem = m;
    });
    // Posted without waiting: the snapshot still shows the finished bars.
    c.post(params({{"Pattern", "Colorbars"}, {"Brightness", "100"}}));
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("snap.png")).toStdString();
    ASSERT_TRUE(c.saveImageAsPng(path));
    QImage png(QString::fromStdString(path));
    ASSERT_EQ(png.size(), QSize(1920, 1080));
    // The frame buffer holds narrow-range 10-bit codes; the PNG is 8-bit.
    const QRgb white = png.pixel(1920 / 14, 300), blue = png.pixel(13 * 1920 / 14, 300);
    EXPECT_EQ(qRed(white), qGreen(white));
    EXPECT_GT(qRed(white), 200);
    EXPECT_LT(qRed(blue), 40);
    EXPECT_GT(qBlue(blue), 200);
    EXPECT_TRUE(problem.empty()) << problem;

    EXPECT_FALSE(c.saveImageAsPng(dir.filePath(QStringLiteral("missing/snap.png")).toStdString()));
    EXPECT_NE(problem.find("Could not save"), std::string::npos) << problem;
}

TEST(OvCoreController, WithoutAnEngineEverythingFails)
{
    OvCoreController c(nullptr);
    QiParams p = params({{"kept", "1"}});
    std::vector<QiParams> v;
    EXPECT_FALSE(c.listPatterns(p));
    EXPECT_FALSE(c.getPatternOpts("Colorbars", v));
    EXPECT_FALSE(c.getGenOptions(v));
    EXPECT_FALSE(c.getGenValues(p));
    EXPECT_FALSE(c.currentParams(p));
    EXPECT_EQ(p.map(), (QiParams::Map{{"kept", "1"}}));
    EXPECT_TRUE(v.empty());
    EXPECT_EQ(c.post(p), 0);
    EXPECT_FALSE(c.waitTransaction(1));
    EXPECT_FALSE(c.saveImageAsPng("x.png"));
    EXPECT_EQ(c.blackLevel(), 0);
    EXPECT_EQ(c.whiteLevel(), 0);
    EXPECT_EQ(c.bitDepth(), 0);
}
