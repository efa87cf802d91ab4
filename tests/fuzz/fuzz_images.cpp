// libFuzzer entry for the image-file decoders: decoding by content, the
// header probe and the raw sidecar parser, all from memory.
//
// Input: one control byte (bit 0: a sidecar text follows, up to the first
// NUL byte; bits 1-4: requested depth 8 + n), then the file bytes.
#include "QiImageFiles.h"
#include "QiLog.h"
#include "QiOutput.h"

#include <cstring>
#include <memory>

namespace {
class Discard : public QiOutput {
public:
    bool write(const char *, size_t) override { return true; }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool quiet = (swapLogOutput(std::make_unique<Discard>()), true);
    (void)quiet;
    if (size < 1)
        return 0;
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
        // Keep fuzzed raw sizes small enough to run fast.
        if (side && (static_cast<int64_t>(sidecar.width) * sidecar.height > 1 << 20))
            side = nullptr;
    }
    const int32_t bits = 8 + ((control >> 1) & 15) % 14;
    int32_t width = 0, height = 0;
    bool ycbcr = false;
    imageInfoFromMemory(data, size, side, width, height, ycbcr);
    auto image = loadImageFromMemory(data, size, bits, side);
    if (image && image->data())
        (void)image->pixel(image->width() - 1, image->height() - 1);
    return 0;
}
