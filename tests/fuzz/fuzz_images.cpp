// The image-file decoders on arbitrary bytes: decoding by content, the
// header probe and the raw sidecar parser, all from memory.
//
// Input: one control byte (bit 0: a sidecar text follows, up to the first
// NUL byte; bits 1-4: requested depth 8 + n), then the file bytes.
//
// Besides memory errors: a probe and a decode that both succeed agree on
// the size, and no input costs more CPU time than a few seconds plus a time
// per byte far above what decoding takes. scripts/fuzz runs this target with a 256 MiB
// allocation limit, so a small file that makes a decoder commit more is a
// finding too.
#include "FuzzClock.h"
#include "QiImageFiles.h"
#include "QiLog.h"
#include "QiOutput.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

class Discard : public QiOutput {
public:
    bool write(const char *, size_t) override { return true; }
};

// Generous for an instrumented build on a loaded machine.
constexpr double kFixedSeconds = 3.0;
constexpr double kSecondsPerByte = 50e-6;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool quiet = (swapLogOutput(std::make_unique<Discard>()), true);
    (void)quiet;
    if (size < 1)
        return 0;
    const double t0 = fuzzclock::now();
    const size_t total = size;
    const uint8_t control = data[0];
    ++data;
    --size;
    QiRawInfo sidecar;
    const QiRawInfo *side = nullptr;
    if (control & 1) {
        const void *nul = std::memchr(data, 0, size);
        size_t textLength = nul ? static_cast<size_t>(static_cast<const uint8_t *>(nul) - data) : size;
        if (parseRawSidecar(reinterpret_cast<const char *>(data), textLength, sidecar))
            side = &sidecar;
        size_t skip = nul ? textLength + 1 : size;
        data += skip;
        size -= skip;
    }
    const int32_t bits = 8 + ((control >> 1) & 15) % 14;
    int32_t width = 0, height = 0;
    bool ycbcr = false;
    const bool probed = imageInfoFromMemory(data, size, side, width, height, ycbcr);
    auto image = loadImageFromMemory(data, size, bits, side);
    if (image && image->data()) {
        (void)image->pixel(image->width() - 1, image->height() - 1);
        if (probed && (image->width() != width || image->height() != height)) {
            std::fprintf(stderr, "probe says %dx%d, decoder made %dx%d\n", width, height, image->width(),
                         image->height());
            std::abort();
        }
    }
    const double took = fuzzclock::now() - t0;
    if (took > kFixedSeconds + kSecondsPerByte * static_cast<double>(total)) {
        std::fprintf(stderr, "an input of %zu bytes took %.3f s\n", total, took);
        std::abort();
    }
    return 0;
}
