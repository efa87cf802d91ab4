#include "KelMonitor.h"
#include "QiImage.h"
#include "QiImageCoder.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

void ensureApp()
{
    static int argc = 1;
    static char name[] = "ui_tests";
    static char *argv[] = {name, nullptr};
    if (!QApplication::instance()) {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(argc, argv);
    }
}

// Columns of a known picture at narrow range: black, white, then the 75%
// bars grey, yellow, cyan, green, magenta, red, blue; 8-bit RGB expected back.
struct Column {
    int r, g, b; // percent of black-to-white
};
const Column kColumns[9] = {{0, 0, 0},   {100, 100, 100}, {75, 75, 75}, {75, 75, 0}, {0, 75, 75},
                            {0, 75, 0}, {75, 0, 75},      {75, 0, 0},   {0, 0, 75}};

void paint(QiImage &img)
{
    const int k = 16 << (img.bits() - 8), w = 235 << (img.bits() - 8);
    auto level = [&](int p) { return static_cast<uint32_t>(k + (w - k) * p / 100); };
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const Column &c = kColumns[x * 9 / img.width()];
            img.setPixel(x, y, img.pack(level(c.r), level(c.g), level(c.b)));
        }
}

void expectColumns(const QImage &out, int tolerance)
{
    for (int i = 0; i < 9; ++i) {
        // Centre of each column, away from the 4:2:2 chroma edges.
        const int x = (2 * i + 1) * out.width() / 18;
        const QRgb p = out.pixel(x, out.height() / 2);
        const int er = kColumns[i].r * 255 / 100, eg = kColumns[i].g * 255 / 100, eb = kColumns[i].b * 255 / 100;
        EXPECT_NEAR(qRed(p), er, tolerance) << "column " << i;
        EXPECT_NEAR(qGreen(p), eg, tolerance) << "column " << i;
        EXPECT_NEAR(qBlue(p), eb, tolerance) << "column " << i;
    }
}

} // namespace

TEST(KelMonitor, DecodesTheEncodersYCbCrOutputBackToTheBars)
{
    // HD width (BT.709 both ways), not a multiple of 48 nor of 6 at the tail.
    const int w = 1284, h = 4;
    QiImage ten(w, h, 10);
    paint(ten);
    QiImageCoder coder(&ten);
    SimFrame f;
    f.width = w;
    f.height = h;
    f.rowBytes = QiImageCoder::v210Stride(w);
    f.layout = "v210";
    f.bytes.assign(static_cast<size_t>(f.rowBytes) * h, 0);
    ASSERT_TRUE(coder.encodeV210(f.bytes.data(), true, 2));
    QImage out;
    ASSERT_TRUE(KelMonitor::decodeFrame(f, out));
    EXPECT_EQ(out.size(), QSize(w, h));
    expectColumns(out, 2);

    QiImage eight(w, h, 8);
    paint(eight);
    QiImageCoder coder8(&eight);
    for (const bool uyvy : {true, false}) {
        static const int kUyvy[4] = {0, 1, 2, 3}, kYuy2[4] = {1, 0, 3, 2};
        f.layout = uyvy ? "uyvy" : "yuy2";
        f.rowBytes = static_cast<uint32_t>(w) * 2;
        f.bytes.assign(static_cast<size_t>(f.rowBytes) * h, 0);
        ASSERT_TRUE(coder8.encodeYCbCr8(f.bytes.data(), uyvy ? kUyvy : kYuy2, 2));
        ASSERT_TRUE(KelMonitor::decodeFrame(f, out)) << f.layout;
        expectColumns(out, 3);
    }

    // Frames that do not hold what they claim are refused, the picture kept.
    const QImage kept = out;
    f.bytes.resize(f.bytes.size() - 1);
    EXPECT_FALSE(KelMonitor::decodeFrame(f, out));
    f.layout = "v210";
    f.rowBytes = 16; // shorter than a 1284-pixel row
    EXPECT_FALSE(KelMonitor::decodeFrame(f, out));
    f.layout = "none";
    EXPECT_FALSE(KelMonitor::decodeFrame(f, out));
    f.width = -1;
    f.layout = "bgra";
    EXPECT_FALSE(KelMonitor::decodeFrame(f, out));
    EXPECT_EQ(out, kept);
}

TEST(KelMonitor, DecodesEachNewFrameOnceAndNamesItInTheTitle)
{
    ensureApp();
    uint64_t seq = 0;
    int copies = 0;
    SimFrame source;
    source.width = 2;
    source.height = 1;
    source.rowBytes = 6;
    source.layout = "rgb24";
    source.videoFormat = "720p 59.94";
    source.bytes = {255, 0, 0, 0, 0, 255};
    KelMonitor monitor([&] { return seq; },
                       [&](SimFrame &f) {
                           ++copies;
                           if (!seq)
                               return false;
                           f = source;
                           f.sequence = seq;
                           return true;
                       });
    monitor.poll();
    EXPECT_EQ(copies, 0); // nothing output yet: not even a copy
    EXPECT_TRUE(monitor.picture().isNull());
    seq = 1;
    monitor.poll();
    monitor.poll();
    EXPECT_EQ(copies, 1);
    EXPECT_EQ(monitor.shownSequence(), 1u);
    EXPECT_EQ(monitor.picture().pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(monitor.picture().pixel(1, 0), qRgb(0, 0, 255));
    EXPECT_TRUE(monitor.windowTitle().contains(QStringLiteral("720p 59.94")));
    EXPECT_TRUE(monitor.windowTitle().contains(QStringLiteral("rgb24")));
    // The next flip of a blinking pattern is a new frame.
    seq = 2;
    source.bytes = {0, 255, 0, 0, 0, 0};
    monitor.poll();
    EXPECT_EQ(copies, 2);
    EXPECT_EQ(monitor.picture().pixel(0, 0), qRgb(0, 255, 0));
}
