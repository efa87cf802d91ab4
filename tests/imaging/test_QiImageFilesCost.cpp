// What a small file can cost a decoder: no file under 64 KiB may make one
// commit more than 256 MiB or take longer than a second. Each decode runs
// in a child process, which reports its wall time and how far its resident
// memory rose above what it started with.
#include "QiImage.h"
#include "QiImageFiles.h"
#include "QiLog.h"
#include "QiOutput.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <jpeglib.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kSmallFile = 64 * 1024;
constexpr double kMiB = 1024.0 * 1024.0;
// Processor time of the decode: the largest pictures take under half a
// second here, the old unbounded decodes tens of seconds. Generous for a
// loaded machine; the sanitizer builds run several times slower.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kSecondsAllowed = 8.0;
#else
constexpr double kSecondsAllowed = 2.0;
#endif

class Discard : public QiOutput {
public:
    bool write(const char *, size_t) override { return true; }
};

struct Cost {
    bool ran = false;
    bool decoded = false;
    int width = 0, height = 0;
    double seconds = 0;    // wall time
    double cpuSeconds = 0; // user and system time of the decode
    double peakMiB = 0;    // rise of the resident set over the decode
    double mappedMiB = 0;  // rise of the peak address space: what was asked for
};

long statusKiB(const char *field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(in, line))
        if (line.compare(0, n, field) == 0)
            return std::strtol(line.c_str() + n, nullptr, 10);
    return -1;
}

// Runs decode in a child: its peak resident memory starts at what it holds
// after the fork, so the rise is the decode's own.
Cost measure(const std::function<std::unique_ptr<QiImage>()> &decode)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        swapLogOutput(std::make_unique<Discard>());
        Cost c;
        c.ran = true;
        const long before = statusKiB("VmRSS:");
        const long mappedBefore = statusKiB("VmPeak:");
        auto cpu = [] {
            rusage u{};
            getrusage(RUSAGE_SELF, &u);
            return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                   static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
        };
        const double cpu0 = cpu();
        const auto t0 = std::chrono::steady_clock::now();
        std::unique_ptr<QiImage> image = decode();
        c.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        c.cpuSeconds = cpu() - cpu0;
        c.peakMiB = static_cast<double>(statusKiB("VmHWM:") - before) / 1024.0;
        c.mappedMiB = static_cast<double>(statusKiB("VmPeak:") - mappedBefore) / 1024.0;
        c.decoded = image && image->data();
        if (c.decoded) {
            c.width = image->width();
            c.height = image->height();
        }
        ssize_t wrote = write(fds[1], &c, sizeof c);
        _exit(wrote == static_cast<ssize_t>(sizeof c) ? 0 : 1);
    }
    close(fds[1]);
    Cost c;
    ssize_t got = read(fds[0], &c, sizeof c);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (got != static_cast<ssize_t>(sizeof c))
        return {};
    return c;
}

void putBe32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

void chunk(std::vector<uint8_t> &png, const char *type, const std::vector<uint8_t> &data)
{
    uint8_t head[8];
    putBe32(head, static_cast<uint32_t>(data.size()));
    std::memcpy(head + 4, type, 4);
    png.insert(png.end(), head, head + 8);
    png.insert(png.end(), data.begin(), data.end());
    uint32_t crc = static_cast<uint32_t>(crc32(0, head + 4, 4));
    crc = static_cast<uint32_t>(crc32(crc, data.data(), static_cast<uInt>(data.size())));
    uint8_t tail[4];
    putBe32(tail, crc);
    png.insert(png.end(), tail, tail + 4);
}

// An honest 1-bit grey PNG of a flat picture: every row is a filter byte
// and zeros, which deflate shrinks about a thousand times. padTo pads the
// file with a text chunk up to that size; noisy rows do not shrink at all.
std::vector<uint8_t> flatGreyPng(uint32_t width, uint32_t height, size_t padTo = 0, bool noisy = false)
{
    std::vector<uint8_t> png = {137, 'P', 'N', 'G', 13, 10, 26, 10};
    std::vector<uint8_t> ihdr(13, 0);
    putBe32(&ihdr[0], width);
    putBe32(&ihdr[4], height);
    ihdr[8] = 1; // bit depth
    ihdr[9] = 0; // grey
    chunk(png, "IHDR", ihdr);
    const size_t rowBytes = (width + 7) / 8 + 1;
    z_stream z{};
    deflateInit(&z, 9);
    std::vector<uint8_t> row(rowBytes, 0), out(1 << 16), idat;
    uint32_t seed = 12345;
    for (uint32_t y = 0; y < height; ++y) {
        if (noisy)
            for (size_t i = 1; i < rowBytes; ++i)
                row[i] = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
        z.next_in = row.data();
        z.avail_in = static_cast<uInt>(rowBytes);
        while (z.avail_in > 0) {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            deflate(&z, Z_NO_FLUSH);
            idat.insert(idat.end(), out.data(), out.data() + (out.size() - z.avail_out));
        }
    }
    int r;
    do {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        r = deflate(&z, Z_FINISH);
        idat.insert(idat.end(), out.data(), out.data() + (out.size() - z.avail_out));
    } while (r != Z_STREAM_END);
    deflateEnd(&z);
    if (padTo > png.size() + idat.size() + 12 + 12 + 12 + 8) {
        std::vector<uint8_t> text = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0};
        text.resize(padTo - png.size() - idat.size() - 12 - 12 - 12, 'x');
        chunk(png, "tEXt", text);
    }
    chunk(png, "IDAT", idat);
    chunk(png, "IEND", {});
    return png;
}

// A JPEG written by libjpeg: flat grey or colour, with optimised Huffman
// tables (two bits a block for a flat picture) and, when asked, one
// sequential scan per component.
std::vector<uint8_t> jpeg(int width, int height, int components, bool scanPerComponent)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char *mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &mem, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    cinfo.optimize_coding = TRUE;
    static jpeg_scan_info scans[3];
    if (scanPerComponent) {
        for (int c = 0; c < 3; ++c) {
            scans[c].comps_in_scan = 1;
            scans[c].component_index[0] = c;
            scans[c].Ss = 0;
            scans[c].Se = 63;
            scans[c].Ah = scans[c].Al = 0;
        }
        cinfo.scan_info = scans;
        cinfo.num_scans = 3;
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(width) * components, 128);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> out(mem, mem + size);
    jpeg_destroy_compress(&cinfo);
    std::free(mem);
    return out;
}

// The frame header's size made to claim width x height.
std::vector<uint8_t> claiming(std::vector<uint8_t> file, uint16_t width, uint16_t height)
{
    for (size_t i = 2; i + 9 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] == 0xC0) {
            file[i + 5] = static_cast<uint8_t>(height >> 8);
            file[i + 6] = static_cast<uint8_t>(height);
            file[i + 7] = static_cast<uint8_t>(width >> 8);
            file[i + 8] = static_cast<uint8_t>(width);
            return file;
        }
    ADD_FAILURE() << "no frame header";
    return file;
}

std::function<std::unique_ptr<QiImage>()> fromMemory(const std::vector<uint8_t> &file, const QiRawInfo *sidecar = nullptr)
{
    return [&file, sidecar] { return loadImageFromMemory(file.data(), file.size(), 10, sidecar); };
}

#define EXPECT_WITHIN_BOUNDS(cost, what)                                                                          \
    do {                                                                                                           \
        ASSERT_TRUE((cost).ran) << what;                                                                           \
        EXPECT_LT((cost).cpuSeconds, kSecondsAllowed) << what;                                                     \
        EXPECT_LT((cost).peakMiB, 256.0) << what;                                                                  \
        std::printf("  %-52s %s %5dx%-5d %6.3f s (cpu %6.3f s) %6.1f MiB\n", what,                               \
                    (cost).decoded ? "decoded" : "refused", (cost).width, (cost).height, (cost).seconds,           \
                    (cost).cpuSeconds, (cost).peakMiB);                                                            \
    } while (0)

} // namespace

// The measurement itself: a child that fills 64 MiB shows it.
TEST(QiImageFilesCost, TheMeasurementSeesWhatIsCommitted)
{
    Cost c = measure([] {
        auto img = std::make_unique<QiImage>(4096, 2048, 10);
        img->fill(1);
        return img;
    });
    ASSERT_TRUE(c.ran);
    EXPECT_TRUE(c.decoded);
    EXPECT_GT(c.peakMiB, 60.0);
    EXPECT_LT(c.peakMiB, 100.0);
}

// The reported attacks: each a file of a few hundred bytes claiming 16384 x
// 16384 (2 GiB of pixel words) that used to be allocated, and more.
TEST(QiImageFilesCost, TinyFilesClaimingHugePicturesAreRefusedCheaply)
{
    const std::vector<uint8_t> lyingJpeg = claiming(jpeg(16, 16, 3, false), 16384, 16384);
    const std::vector<uint8_t> scanPerComponent = claiming(jpeg(16, 16, 3, true), 16384, 16384);
    ASSERT_LT(lyingJpeg.size(), 1024u);
    ASSERT_LT(scanPerComponent.size(), 1024u);
    const std::vector<uint8_t> raw(16, 0x40);
    QiRawInfo sidecar;
    const char text[] = "[RawData]\nWidth=16384\nHeight=16384\nFourCC=RGB32\n";
    ASSERT_TRUE(parseRawSidecar(text, sizeof text - 1, sidecar));
    const std::vector<uint8_t> bilevel = flatGreyPng(16384, 16384);
    ASSERT_LT(bilevel.size(), 48u * 1024);

    Cost c = measure(fromMemory(lyingJpeg));
    EXPECT_FALSE(c.decoded);
    EXPECT_WITHIN_BOUNDS(c, "baseline JPEG claiming 16384x16384");
    EXPECT_LT(c.peakMiB, 16.0);
    c = measure(fromMemory(scanPerComponent));
    EXPECT_FALSE(c.decoded);
    EXPECT_WITHIN_BOUNDS(c, "JPEG with a scan per component claiming 16384x16384");
    EXPECT_LT(c.peakMiB, 16.0);
    c = measure(fromMemory(raw, &sidecar));
    EXPECT_FALSE(c.decoded);
    EXPECT_WITHIN_BOUNDS(c, "16-byte raw file, sidecar 16384x16384");
    EXPECT_LT(c.peakMiB, 16.0);
    c = measure(fromMemory(bilevel));
    EXPECT_FALSE(c.decoded);
    EXPECT_WITHIN_BOUNDS(c, "flat 1-bit PNG of 16384x16384");
    EXPECT_LT(c.peakMiB, 16.0);
}

// The largest pictures files under 64 KiB may still describe: decoded,
// within the bounds. A flat PNG padded to just under 64 KiB with as many
// pixels as its length allows (a flat frame of 4096 x 2304 or less is
// decoded whatever its length), a flat JPEG at two bits a block, and a
// truncated PNG whose rows stop early (nothing kept, little committed).
TEST(QiImageFilesCost, TheLargestPicturesSmallFilesMayHoldStayWithinBounds)
{
    const std::vector<uint8_t> frame = flatGreyPng(4096, 2304);
    ASSERT_LT(frame.size(), 4096u);
    Cost c = measure(fromMemory(frame));
    EXPECT_TRUE(c.decoded);
    EXPECT_WITHIN_BOUNDS(c, "flat 1-bit PNG of 4096x2304, unpadded");
    const std::vector<uint8_t> png = flatGreyPng(4220, 4220, kSmallFile - 64);
    ASSERT_LT(png.size(), kSmallFile);
    c = measure(fromMemory(png));
    EXPECT_TRUE(c.decoded);
    EXPECT_EQ(c.width, 4220);
    EXPECT_WITHIN_BOUNDS(c, "flat 1-bit PNG of 4220x4220 padded to 64 KiB");
    // Just beyond what the padded length allows: refused.
    const std::vector<uint8_t> over = flatGreyPng(4220, 4300, kSmallFile - 64);
    c = measure(fromMemory(over));
    EXPECT_FALSE(c.decoded);
    EXPECT_WITHIN_BOUNDS(c, "flat 1-bit PNG of 4220x4300 padded to 64 KiB");

    const std::vector<uint8_t> flat = jpeg(3968, 3968, 1, false);
    ASSERT_LT(flat.size(), kSmallFile);
    c = measure(fromMemory(flat));
    EXPECT_TRUE(c.decoded);
    EXPECT_EQ(c.width, 3968);
    EXPECT_WITHIN_BOUNDS(c, "flat grey JPEG of 3968x3968");
    // The same data claiming a little more than they can describe.
    const std::vector<uint8_t> more = claiming(flat, 4096, 4096);
    c = measure(fromMemory(more));
    EXPECT_FALSE(c.decoded);
    EXPECT_WITHIN_BOUNDS(c, "flat grey JPEG claiming 4096x4096");

    // A picture whose data stop a tenth of the way: nothing is kept, and
    // only the rows that arrived were committed, not the whole picture.
    const std::vector<uint8_t> noise = flatGreyPng(4096, 2304, 0, true);
    ASSERT_GT(noise.size(), 1000000u);
    const std::vector<uint8_t> cut(noise.begin(), noise.begin() + static_cast<long>(noise.size() / 10));
    c = measure(fromMemory(cut));
    EXPECT_FALSE(c.decoded);
    EXPECT_WITHIN_BOUNDS(c, "noisy 1-bit PNG of 4096x2304 cut at a tenth");
    EXPECT_LT(c.peakMiB, 24.0) << "72 MiB of pixel words for the whole picture";
}

// Memory asked for counts as well as memory touched: the image-file fuzzer
// found a 950-byte PNG whose tEXt chunk claims 2 GB, for which libpng asked
// for 2 GB (not committed, so the resident set never showed it).
TEST(QiImageFilesCost, ChunksClaimingMoreThanTheFileHoldsAreNotAllocated)
{
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<uint8_t> ihdr(13, 0);
    putBe32(ihdr.data(), 3);
    putBe32(ihdr.data() + 4, 2);
    ihdr[8] = 8; // depth
    ihdr[9] = 2; // RGB
    chunk(png, "IHDR", ihdr);
    for (const char *type : {"tEXt", "zTXt", "iCCP", "prVt"}) {
        std::vector<uint8_t> file = png;
        // The header of a huge chunk, then a little of its data.
        uint8_t head[8];
        putBe32(head, 0x7D000000u);
        std::memcpy(head + 4, type, 4);
        file.insert(file.end(), head, head + 8);
        file.insert(file.end(), 100, 'x');
        const Cost c = measure([&] { return loadImageFromMemory(file.data(), file.size(), 10, nullptr); });
        ASSERT_TRUE(c.ran) << type;
        EXPECT_FALSE(c.decoded) << type;
        EXPECT_LT(c.mappedMiB, 256.0) << type << ": address space asked for";
        EXPECT_LT(c.cpuSeconds, kSecondsAllowed) << type;
    }
}
