#include "BmdRaster.h"

#include "BmdOutput.h"
#include "QiLog.h"

#include <cstring>

namespace {

enum class BmdPacking { argb, r210, yuv8, v210 };

// Device pixel formats by generic output pixel-format index.
struct BmdPixelFormat {
    int32_t generic;
    BMDPixelFormat format;
    BmdPacking packing;
    uint32_t supportBit;
};

constexpr BmdPixelFormat kBmdPixelFormats[] = {
    {0, bmdFormat8BitARGB, BmdPacking::argb, 0x01},
    {1, bmdFormat10BitRGB, BmdPacking::r210, 0x02},
    {4, bmdFormat8BitYUV, BmdPacking::yuv8, 0x10},
    {5, bmdFormat10BitYUV, BmdPacking::v210, 0x20},
};

const BmdPixelFormat *pixelFormatOf(int32_t generic)
{
    for (const auto &row : kBmdPixelFormats)
        if (row.generic == generic)
            return &row;
    return nullptr;
}

int32_t rowBytesOf(BmdPacking packing, int32_t width)
{
    switch (packing) {
    case BmdPacking::argb: return 4 * width;
    case BmdPacking::r210: return (width + 63) / 64 * 256;
    case BmdPacking::yuv8: return 2 * width;
    case BmdPacking::v210: return (width + 47) / 48 * 128;
    }
    return 0;
}

} // namespace

BmdRaster::BmdRaster()
{
    m_outputPixelFormat = kPixYCbCr10;
    m_blackLevel = 16 << (m_bits - 8);
    m_whiteLevel = 235 << (m_bits - 8);
    m_colourEncoding = 2;
}

BmdRaster::~BmdRaster() = default;

bool BmdRaster::init()
{
    m_output = std::make_unique<BmdOutput>();
    if (!m_output->open()) {
        qiLog(3, "BmdRaster::init: error\n");
        m_output.reset();
        return false;
    }
    qiLog(3, "BmdRaster::init: (passive %d)\n", m_output->passive ? 1 : 0);
    return true;
}

bool BmdRaster::resize(int32_t width, int32_t height)
{
    BmdOutput *out = m_output.get();
    if (out)
        out->releaseFrame();
    const BmdPixelFormat *pf = pixelFormatOf(m_outputPixelFormat);
    int32_t rowBytes = 0;
    if (!pf)
        qiLog(3, "%s: pixel format %d not handled, expect problems\n", "BmdRaster::resize", m_outputPixelFormat);
    else if (width > 0 && width <= 65536)
        rowBytes = rowBytesOf(pf->packing, width);
    if (out)
        out->rowBytes = rowBytes;

    bool created = false;
    if (out && out->output && rowBytes != 0) {
        IDeckLinkMutableVideoFrame *frame = nullptr;
        if (out->output->CreateVideoFrame(width, height, rowBytes, pf->format, bmdFrameFlagDefault, &frame) == S_OK &&
            frame) {
            out->frame = frame;
            created = true;
        }
    }
    if (!created)
        qiLog(1, "Couldn't Create VideoFrame\n");

    if (out && out->frame) {
        void *bytes = nullptr;
        out->frame->GetBytes(&bytes);
        out->frameBytes = static_cast<uint8_t *>(bytes);
        if ((width != m_width || height != m_height || !m_data) && !resizeImage(width, height)) {
            // The image keeps its old size, which the new frame does not
            // have: drop the frame, as when it could not be created, so
            // nothing is packed or copied with the other frame's height.
            qiLog(1, "%s: no memory for a %dx%d image\n", "BmdRaster::resize", width, height);
            out->releaseFrame();
            out->rowBytes = 0;
            created = false;
        }
    }
    setBufferCount(m_bufferCount);
    return created;
}

bool BmdRaster::setBufferCount(int32_t n)
{
    if (n < 1)
        return false;
    size_t rowBytes = m_output ? static_cast<size_t>(m_output->rowBytes) : 0;
    size_t bytes = qiFrameBytes(rowBytes, m_height, n);
    if (bytes == 0 && rowBytes != 0 && m_height != 0)
        return false;
    if (!m_staging.prepare(bytes)) {
        qiLog(1, "BmdRaster::setBufferCount: couldn't allocate %zu bytes\n", bytes);
        return false;
    }
    // Presenting cycles through these buffers.
    m_bufferCount = n;
    m_currentBuffer = 0;
    return true;
}

const uint8_t *BmdRaster::stagingBuffer(int32_t index) const
{
    if (!m_output || index < 0 || index >= m_bufferCount || !m_staging.data())
        return nullptr;
    size_t frame = static_cast<size_t>(m_output->rowBytes) * static_cast<size_t>(m_height);
    if (frame == 0 || (static_cast<size_t>(index) + 1) * frame > m_staging.size())
        return nullptr;
    return m_staging.data() + static_cast<size_t>(index) * frame;
}

bool BmdRaster::render(int32_t index, bool exact)
{
    // Nothing to pack for before a mode is enabled or when the frame could
    // not be created.
    if (!m_output || !m_output->frame || !m_data)
        return false;
    const BmdPixelFormat *pf = pixelFormatOf(m_outputPixelFormat);
    if (!pf) {
        qiLog(3, "%s: pixel format %d not handled, not rendering\n", "BmdRaster::render", m_outputPixelFormat);
        return true;
    }
    size_t stride = static_cast<size_t>(m_output->rowBytes);
    if (static_cast<size_t>(rowBytesOf(pf->packing, m_width)) > stride)
        return false;
    if (!stagingBuffer(index))
        return false;
    const size_t frame = stride * static_cast<size_t>(m_height);
    uint8_t *buffer = m_staging.writable(static_cast<size_t>(index) * frame, frame);
    if (!buffer)
        return false;
    switch (pf->packing) {
    case BmdPacking::argb:
        return m_coder.encodeRgb32(buffer, 1, 2, 3, 0, stride);
    case BmdPacking::r210:
        return m_coder.encodeRgb10(buffer, 2, 0, false, stride);
    case BmdPacking::yuv8: {
        static const int order[4] = {0, 1, 2, 3};
        return m_coder.encodeYCbCr8(buffer, order, m_colourEncoding, stride);
    }
    case BmdPacking::v210:
        return m_coder.encodeV210(buffer, exact, m_colourEncoding, stride);
    }
    return true;
}

bool BmdRaster::outputBuffer(int32_t index)
{
    const uint8_t *buffer = stagingBuffer(index);
    if (!buffer || !m_output->frame || !m_output->frameBytes || !m_output->output)
        return false;
    // The copy is rowBytes x height of the image: the frame must be as large.
    if (m_output->frame->GetHeight() != m_height || m_output->frame->GetRowBytes() != m_output->rowBytes)
        return false;
    std::memcpy(m_output->frameBytes, buffer, static_cast<size_t>(m_output->rowBytes) * static_cast<size_t>(m_height));
    return m_output->output->DisplayVideoFrameSync(m_output->frameFor(m_signal)) == S_OK;
}

bool BmdRaster::selectMode(int32_t index)
{
    BmdOutput *out = m_output.get();
    IDeckLinkDisplayMode *mode = out->modes[static_cast<size_t>(index)];
    out->output->DisableVideoOutput();
    qiLog(3, "%s: new format is (%d)[%p][%s]\n", "BmdRaster::setRasterFormat", index, static_cast<void *>(mode),
          out->names[static_cast<size_t>(index)].c_str());
    BMDTimeValue duration = 0;
    BMDTimeScale scale = 0;
    if (mode->GetFrameRate(&duration, &scale) == S_OK) {
        out->frameDuration = duration;
        out->timescale = scale;
    }
    long width = mode->GetWidth();
    long height = mode->GetHeight();
    resize(static_cast<int32_t>(width), static_cast<int32_t>(height));
    // Standard definition is Rec601. The driver's NTSC mode has 486 lines,
    // which a test for 480 alone would leave at Rec709.
    m_colourEncoding = (height == 480 || height == 486 || height == 576) ? 0 : 2;
    if (out->output->EnableVideoOutput(mode->GetDisplayMode(), bmdVideoOutputFlagDefault) != S_OK) {
        qiLog(1, "Failed to enable video output\n");
        return false;
    }
    out->currentIndex = index;
    out->modeEnabled = true;
    return true;
}

bool BmdRaster::setRasterFormat(const std::string &name)
{
    if (!m_output || !m_output->output)
        return false;
    const std::string wanted = name == "720p 59.94" ? "HD 720p 60" : name;
    for (int32_t i = 0; i < m_output->modeCount; ++i)
        if (m_output->names[static_cast<size_t>(i)] == wanted)
            return selectMode(i);
    return false;
}

bool BmdRaster::getFormatList(std::vector<std::string> &names, int32_t &defaultIndex)
{
    names.clear();
    defaultIndex = 0;
    if (!m_output)
        return false;
    names.reserve(static_cast<size_t>(m_output->modeCount));
    for (int32_t i = 0; i < m_output->modeCount; ++i)
        names.push_back(m_output->listedName(i));
    defaultIndex = m_output->defaultIndex;
    return true;
}

std::string BmdRaster::currentFormat() { return m_output ? m_output->listedName(m_output->currentIndex) : ""; }

bool BmdRaster::setOutputPixelFormat(int32_t generic)
{
    int32_t previous = m_outputPixelFormat;
    m_outputPixelFormat = generic;
    resize(m_width, m_height);
    return generic != previous;
}

uint32_t BmdRaster::supportedPixelFormats() const
{
    if (!m_output || !m_output->output || m_output->modeCount == 0)
        return 0;
    BMDDisplayMode mode = m_output->modes[static_cast<size_t>(m_output->currentIndex)]->GetDisplayMode();
    uint32_t mask = 0;
    // Tested in the driver's preferred order.
    for (int32_t generic : {4, 5, 0, 1}) {
        const BmdPixelFormat *pf = pixelFormatOf(generic);
        BMDDisplayModeSupport support = bmdDisplayModeNotSupported;
        if (m_output->output->DoesSupportVideoMode(mode, pf->format, bmdVideoOutputFlagDefault, &support, nullptr) ==
                S_OK &&
            support != bmdDisplayModeNotSupported)
            mask |= pf->supportBit;
    }
    return mask;
}

std::string BmdRaster::gatewareVersion() { return "10.8.3"; }
std::string BmdRaster::serialNumber() { return "serial number"; }

bool BmdRaster::reservedSlot26(uint8_t &, uint8_t &) { return false; }

bool BmdRaster::rerenderP()
{
    if (!m_output)
        return false;
    int64_t defMode = 0;
    bool ok = m_output->readDefaultMode(defMode);
    qiLog(3, "%s: newDefMode is %c%c%c%c\n", "BmdRaster::rerenderP", static_cast<char>((defMode >> 24) & 0xFF),
          static_cast<char>((defMode >> 16) & 0xFF), static_cast<char>((defMode >> 8) & 0xFF),
          static_cast<char>(defMode & 0xFF));
    if (!ok) {
        qiLog(3, "%s: getDefMode failed (wtf)\n", "BmdRaster::rerenderP");
        return false;
    }
    if (m_output->modeCount == 0 || !m_output->output)
        return false;
    // The driver's default decides the format until the generator selects
    // another, and again whenever the driver's default changes (someone
    // picked one in the card's control panel). Compared with the engine's
    // selection on every request it would undo each selection at once.
    // Before any mode is enabled the default is adopted wherever it stands
    // in the list, index 0 included: until then nothing is on the output.
    const bool changed = defMode != m_output->lastDefaultMode;
    m_output->lastDefaultMode = defMode;
    if (!changed && m_output->modeEnabled)
        return false;
    for (int32_t i = 0; i < m_output->modeCount; ++i)
        if (static_cast<int64_t>(m_output->modes[static_cast<size_t>(i)]->GetDisplayMode()) == defMode) {
            if (m_output->modeEnabled && i == m_output->currentIndex)
                return false;
            selectMode(i);
            return true;
        }
    return false;
}
