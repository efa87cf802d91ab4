#include "KonaRaster.h"

#include "CNTV2Card.h"
#include "KonaTables.h"
#include "QiLog.h"

#include <climits>
#include <cstdint>
#include <cstdio>

namespace {
// Application code under which a stream would have been acquired ('KQRD').
constexpr ULWord kAppCode = 0x4B515244;

// Bytes the packer writes per row at width w, before any row padding.
size_t packedRowBytes(const KonaPixelFormat &pf, int32_t width)
{
    if (pf.packing == KonaPacking::v210)
        return QiImageCoder::v210Stride(width);
    return static_cast<size_t>(pf.bytesPerPixel) * static_cast<size_t>(width);
}
} // namespace

KonaRaster::KonaRaster() : m_card(std::make_unique<CNTV2Card>())
{
    m_blackLevel = 16 << (m_bits - 8);
    m_whiteLevel = 235 << (m_bits - 8);
    m_colourEncoding = 2;
}

KonaRaster::~KonaRaster()
{
    m_card->ReleaseStreamForApplication(kAppCode, static_cast<int32_t>(AJAProcess::GetPid()));
    m_card->Close();
    m_card.reset();
}

bool KonaRaster::init()
{
    if (!m_card->Open(0))
        return false;
    // Free-running reference, channel 1 in display mode.
    m_card->SetReference(NTV2_REFERENCE_FREERUN, false);
    m_card->SetMode(NTV2_CHANNEL1, NTV2_MODE_DISPLAY, false);
    int32_t pixelFormat = kKonaNoPacking;
    uint32_t videoFormat = 0;
    readCardState(pixelFormat, videoFormat);
    return adopt(pixelFormat, videoFormat);
}

bool KonaRaster::readCardState(int32_t &pixelFormat, uint32_t &videoFormat)
{
    NTV2FrameBufferFormat fbf = NTV2_FBF_INVALID;
    NTV2VideoFormat vf = NTV2_FORMAT_UNKNOWN;
    bool ok = m_card->GetFrameBufferFormat(NTV2_CHANNEL1, fbf);
    ok = m_card->GetVideoFormat(vf, NTV2_CHANNEL1) && ok;
    pixelFormat = konaPixelFormatByFbf(fbf);
    videoFormat = vf;
    return ok;
}

bool KonaRaster::adopt(int32_t pixelFormat, uint32_t videoFormat)
{
    m_konaPixelFormat = pixelFormat;
    // Rows that share an NTV2 value differ only in link type; the active
    // row stays when it has the value, or a level B format just selected
    // would turn into its dual-link twin.
    if (kKonaVideoFormats[m_formatIndex].ntv2 != videoFormat) {
        int32_t row = konaFormatByNtv2(videoFormat);
        if (row >= 0)
            m_formatIndex = row;
    }
    m_colourEncoding = (videoFormat >= 32 && videoFormat <= 37) ? 0 : 2;
    NTV2FrameGeometry geometry = NTV2_FG_INVALID;
    m_card->GetFrameGeometry(geometry, NTV2_CHANNEL1);
    uint32_t width = GetNTV2FrameGeometryWidth(geometry);
    uint32_t height = GetNTV2FrameGeometryHeight(geometry);
    if (width == 0 || height == 0 || width > 16384 || height > 16384) {
        // A geometry the card cannot describe: keep the picture as it is
        // rather than size everything to nothing.
        qiLog(1, "KonaRaster::adopt: card reports no frame geometry for format %u\n", videoFormat);
        return false;
    }
    m_rowBytes = AJA_CalcRowBytesForFormat(
        static_cast<AJA_PixelFormat>(kKonaPixelFormats[m_konaPixelFormat].ajaPixelFormat), width);
    return resize(static_cast<int32_t>(width), static_cast<int32_t>(height));
}

bool KonaRaster::resize(int32_t width, int32_t height)
{
    // The same size keeps the pixels anyway; skip the fresh array.
    if (width != m_width || height != m_height || !m_data) {
        if (!QiImage::resize(width, height))
            return false;
    }
    return setBufferCount(m_bufferCount);
}

bool KonaRaster::setBufferCount(int32_t n)
{
    if (n < 1 || n == INT32_MAX)
        return false;
    // The buffers and the spare frame.
    size_t bytes = qiFrameBytes(m_rowBytes, m_height, n + 1);
    if (bytes == 0 && m_rowBytes != 0 && m_height != 0)
        return false;
    const bool kept = bytes == m_cardBuffers.size() && n == m_bufferCount && m_cardBuffers.data();
    if (!m_cardBuffers.prepare(bytes)) {
        qiLog(1, "KonaRaster::setBufferCount: couldn't allocate %zu bytes\n", bytes);
        return false;
    }
    // The same count at the same size keeps the buffers as they are.
    if (!kept || m_frameOf.size() != static_cast<size_t>(n)) {
        m_frameOf.resize(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; ++i)
            m_frameOf[static_cast<size_t>(i)] = i;
        m_spareFrame = n;
    }
    m_bufferCount = n;
    m_currentBuffer = 0;
    return true;
}

const uint8_t *KonaRaster::cardBuffer(int32_t index) const
{
    size_t frame = static_cast<size_t>(m_rowBytes) * static_cast<size_t>(m_height);
    if (index < 0 || index >= m_bufferCount || static_cast<size_t>(index) >= m_frameOf.size() ||
        !m_cardBuffers.data())
        return nullptr;
    const size_t at = static_cast<size_t>(m_frameOf[static_cast<size_t>(index)]);
    if ((at + 1) * frame > m_cardBuffers.size())
        return nullptr;
    return m_cardBuffers.data() + at * frame;
}

bool KonaRaster::render(int32_t index, bool exact)
{
    const KonaPixelFormat &pf = kKonaPixelFormats[m_konaPixelFormat];
    if (pf.packing == KonaPacking::none || !m_data)
        return false;
    // The packer must fit the card's rows (the image may have been resized
    // behind the card's back).
    if (packedRowBytes(pf, m_width) > m_rowBytes)
        return false;
    if (!cardBuffer(index))
        return false;
    // Packed into the spare frame; a board still reading the frame sent
    // before is told first by the block.
    const size_t frame = static_cast<size_t>(m_rowBytes) * static_cast<size_t>(m_height);
    const int32_t target = m_spareFrame;
    uint8_t *buffer = m_cardBuffers.writable(static_cast<size_t>(target) * frame, frame);
    if (!buffer)
        return false;
    size_t stride = m_rowBytes;
    bool packed = false;
    switch (pf.packing) {
    case KonaPacking::rgb32:
        packed = m_coder.encodeRgb32(buffer, pf.p[0], pf.p[1], pf.p[2], pf.p[3], stride);
        break;
    case KonaPacking::rgb24:
        packed = m_coder.encodeRgb24(buffer, pf.p[0], pf.p[1], pf.p[2], stride);
        break;
    case KonaPacking::rgb10Dpx:
        packed = m_coder.encodeRgb10(buffer, 0, 2, true, stride);
        break;
    case KonaPacking::yCbCr8: {
        const int order[4] = {pf.p[0], pf.p[1], pf.p[2], pf.p[3]};
        packed = m_coder.encodeYCbCr8(buffer, order, m_colourEncoding, stride);
        break;
    }
    case KonaPacking::v210:
        packed = m_coder.encodeV210(buffer, exact, m_colourEncoding, stride);
        break;
    case KonaPacking::none:
        break;
    }
    if (packed) {
        m_spareFrame = m_frameOf[static_cast<size_t>(index)];
        m_frameOf[static_cast<size_t>(index)] = target;
    }
    return packed;
}

bool KonaRaster::outputBuffer(int32_t index)
{
    const uint8_t *buffer = cardBuffer(index);
    if (!buffer)
        return false;
    ULWord bytes = m_rowBytes * static_cast<ULWord>(m_height);
    sendSignal();
    ULWord frame = 0;
    if (!m_card->GetOutputFrame(NTV2_CHANNEL1, frame))
        return false;
    const auto *words = reinterpret_cast<const ULWord *>(buffer);
    if (!m_card->DMAWriteFrame(frame, words, bytes))
        return false;
    if (!m_card->GetOutputFrame(NTV2_CHANNEL2, frame))
        return true;
    return m_card->DMAWriteFrame(frame, words, bytes);
}

void KonaRaster::setVideoFormat(int32_t pixelFormat, int32_t row)
{
    const KonaVideoFormat &vf = kKonaVideoFormats[row];
    const KonaPixelFormat &pf = kKonaPixelFormats[pixelFormat];
    m_card->SetVideoFormat(static_cast<NTV2VideoFormat>(vf.ntv2), false, false, NTV2_CHANNEL1);
    for (NTV2Channel c : {NTV2_CHANNEL1, NTV2_CHANNEL2, NTV2_CHANNEL3, NTV2_CHANNEL4})
        m_card->SetFrameBufferFormat(c, static_cast<NTV2FrameBufferFormat>(pf.frameBufferFormat), false);
    bool threeG = false;
    m_card->GetSDIOut3GEnable(NTV2_CHANNEL1, threeG);
    m_card->SetSDIOut3GbEnable(NTV2_CHANNEL1, !threeG);
    (void)pf;
    VpidPair words = vpidFor(pixelFormat, row);
    if (!words.matched)
        qiLog(3, "Warning: Unmatched format '%d'\n", static_cast<int>(vf.ntv2));
    m_card->SetSDIOutVPID(words.a, words.b, NTV2_CHANNEL1);
}

KonaRaster::VpidPair KonaRaster::vpidFor(int32_t pixelFormat, int32_t row) const
{
    const KonaVideoFormat &vf = kKonaVideoFormats[row];
    const KonaPixelFormat &pf = kKonaPixelFormats[pixelFormat];
    if (!m_signal.described) {
        KonaVpidWords w = konaVpidWords(vf.ntv2, vf.link, pf.vpidDepth, pf.vpidSampling);
        return {w.a, w.b, w.matched};
    }
    // Described: RGB goes out as 4:4:4 GBR, everything else as 4:2:2; 8-bit
    // frame buffers travel as 10-bit words on the wire.
    const bool rgb = pf.generic == kPixRgb8 || pf.generic == kPixRgb10;
    const bool full = rgb && m_signal.fullRange;
    KonaVpidWords w = konaVpidWords(vf.ntv2, vf.link, 0, rgb ? 2 : 0);
    const bool wide = ((w.a >> 24) & 0x7F) != 1; // all but 525/625
    const uint32_t transfer = qiVpidTransfer(m_signal.eotf);
    const uint32_t colorimetry = qiVpidColorimetry(m_signal.colorimetry);
    const uint32_t depth = full ? 0 : 1;
    return {konaSignalWord(w.a, transfer, colorimetry, depth, wide),
            konaSignalWord(w.b, transfer, colorimetry, depth, wide), w.matched};
}

void KonaRaster::sendSignal()
{
    if (!m_signal.described)
        return;
    Sent now{m_signal, m_formatIndex, m_konaPixelFormat};
    if (now == m_sent)
        return;
    const bool full = signalFullRange();
    VpidPair words = vpidFor(m_konaPixelFormat, m_formatIndex);
    // Channels 1 and 2 carry the frame (outputBuffer), so both SDI outputs
    // say what it is.
    for (NTV2Channel c : {NTV2_CHANNEL1, NTV2_CHANNEL2}) {
        m_card->SetVPIDTransferCharacteristics(static_cast<NTV2VPIDTransferCharacteristics>(qiVpidTransfer(m_signal.eotf)),
                                               c);
        m_card->SetVPIDColorimetry(static_cast<NTV2VPIDColorimetry>(qiVpidColorimetry(m_signal.colorimetry)), c);
        m_card->SetVPIDLuminance(NTV2_VPID_Luminance_YCbCr, c);
        m_card->SetVPIDRGBRange(full ? NTV2_VPID_Range_Full : NTV2_VPID_Range_Narrow, c);
        m_card->SetSDIOutVPID(words.a, words.b, static_cast<UWord>(c));
    }
    if (kKonaVideoFormats[m_formatIndex].hdmi) {
        if (m_signal.metadata) {
            QiHdrFields f = qiHdrFields(m_signal);
            HDRRegValues r;
            r.greenPrimaryX = f.primaries[0][0];
            r.greenPrimaryY = f.primaries[0][1];
            r.bluePrimaryX = f.primaries[1][0];
            r.bluePrimaryY = f.primaries[1][1];
            r.redPrimaryX = f.primaries[2][0];
            r.redPrimaryY = f.primaries[2][1];
            r.whitePointX = f.white[0];
            r.whitePointY = f.white[1];
            r.maxMasteringLuminance = f.maxLuminance;
            r.minMasteringLuminance = f.minLuminance;
            r.maxContentLightLevel = f.maxCll;
            r.maxFrameAverageLightLevel = f.maxFall;
            r.electroOpticalTransferFunction = f.eotf;
            r.staticMetadataDescriptorID = 0;
            m_card->SetHDRData(r);
            m_card->SetHDMIHDRConstantLuminance(false);
            m_card->EnableHDMIHDR(true);
        } else {
            m_card->EnableHDMIHDR(false);
        }
    }
    m_sent = now;
}

bool KonaRaster::setRasterFormat(const std::string &name)
{
    int32_t row = konaFormatByName(name);
    if (row < 0)
        return false;
    if (row == m_formatIndex)
        return true;
    m_formatIndex = row;
    setVideoFormat(m_konaPixelFormat, row);
    return adopt(m_konaPixelFormat, kKonaVideoFormats[row].ntv2);
}

bool KonaRaster::getFormatList(std::vector<std::string> &names, int32_t &defaultIndex)
{
    names.clear();
    names.reserve(kKonaVideoFormatCount);
    for (const auto &row : kKonaVideoFormats)
        names.emplace_back(row.name);
    defaultIndex = kKonaDefaultFormat;
    return true;
}

std::string KonaRaster::currentFormat()
{
    int32_t pixelFormat = kKonaNoPacking;
    uint32_t videoFormat = 0;
    if (readCardState(pixelFormat, videoFormat) &&
        (pixelFormat != m_konaPixelFormat || videoFormat != kKonaVideoFormats[m_formatIndex].ntv2))
        adopt(pixelFormat, videoFormat);
    return kKonaVideoFormats[m_formatIndex].name;
}

bool KonaRaster::rerenderP()
{
    int32_t pixelFormat = kKonaNoPacking;
    uint32_t videoFormat = 0;
    if (!readCardState(pixelFormat, videoFormat) || pixelFormat == m_konaPixelFormat)
        return false;
    adopt(pixelFormat, videoFormat);
    return true;
}

bool KonaRaster::setOutputPixelFormat(int32_t generic)
{
    m_outputPixelFormat = generic;
    m_konaPixelFormat = konaPixelFormatForGeneric(generic);
    setVideoFormat(m_konaPixelFormat, m_formatIndex);
    bool ok = adopt(m_konaPixelFormat, kKonaVideoFormats[m_formatIndex].ntv2);
    std::fprintf(stderr, "\n%s new pixel format is %d\n", "KonaRaster::setOutputPixelFormat", m_konaPixelFormat);
    return ok;
}

int32_t KonaRaster::outputPixelFormat() const { return kKonaPixelFormats[m_konaPixelFormat].generic; }

std::string KonaRaster::gatewareVersion() { return "1234"; }

std::string KonaRaster::serialNumber()
{
    if (!m_haveSerial) {
        std::string serial;
        // Kept once read; a card that cannot say is asked again next time.
        if (m_card->GetSerialNumberString(serial)) {
            m_serial = serial;
            m_haveSerial = true;
        }
    }
    return m_serial;
}

bool KonaRaster::reservedSlot26(uint8_t &first, uint8_t &second)
{
    first = 0;
    second = 0;
    return false;
}
