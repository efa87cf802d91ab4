#include "SimKonaBoard.h"

#include "CNTV2Card.h"
#include "KonaTables.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string callText(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string callText(const char *format, ...)
{
    char text[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

const char *layoutOf(uint32_t fbf)
{
    switch (fbf) {
    case NTV2_FBF_10BIT_YCBCR: return "v210";
    case NTV2_FBF_8BIT_YCBCR: return "uyvy";
    case NTV2_FBF_8BIT_YCBCR_YUY2: return "yuy2";
    case NTV2_FBF_ARGB: return "bgra"; // the card's "ARGB" words are B, G, R, A in memory
    case NTV2_FBF_RGBA: return "argb";
    case NTV2_FBF_ABGR: return "rgba";
    case NTV2_FBF_24BIT_RGB: return "rgb24";
    case NTV2_FBF_24BIT_BGR: return "bgr24";
    case NTV2_FBF_10BIT_DPX: return "dpx10";
    default: return "none";
    }
}

AJA_PixelFormat ajaPixelFormatOf(uint32_t fbf)
{
    switch (fbf) {
    case NTV2_FBF_10BIT_DPX: return AJA_PixelFormat_RGB_DPX;
    case NTV2_FBF_10BIT_YCBCR_420PL2: return AJA_PixelFormat_YCBCR10_420PL;
    default: return fbf < 16 ? static_cast<AJA_PixelFormat>(fbf + 1) : AJA_PixelFormat_Unknown;
    }
}

// Parses "videoformat=N,fbf=N" (either part optional) onto the two values;
// anything it cannot use is reported and left at the starting state.
void applyEnvironment(uint32_t &videoFormat, uint32_t &fbf)
{
    const char *text = std::getenv("ORVANE_SIM_KONA");
    if (!text || !*text)
        return;
    std::string all = text;
    size_t pos = 0;
    while (pos <= all.size()) {
        size_t end = all.find(',', pos);
        if (end == std::string::npos)
            end = all.size();
        std::string item = all.substr(pos, end - pos);
        pos = end + 1;
        if (item.empty())
            continue;
        size_t eq = item.find('=');
        std::string key = item.substr(0, eq);
        const char *value = eq == std::string::npos ? "" : item.c_str() + eq + 1;
        char *stop = nullptr;
        unsigned long n = std::strtoul(value, &stop, 10);
        bool number = *value && stop && *stop == 0 && n < 0x10000;
        if (key == "videoformat" && number && SimKonaBoard::geometryOf(static_cast<uint32_t>(n)) != NTV2_FG_INVALID)
            videoFormat = static_cast<uint32_t>(n);
        else if (key == "fbf" && number && SimKonaBoard::knownFrameBufferFormat(static_cast<uint32_t>(n)))
            fbf = static_cast<uint32_t>(n);
        else
            std::fprintf(stderr, "ORVANE_SIM_KONA: ignoring '%s'\n", item.c_str());
    }
}

} // namespace

SimKonaBoard &SimKonaBoard::instance()
{
    static SimKonaBoard board;
    return board;
}

SimKonaBoard::SimKonaBoard() { resetLocked(false); }

SimKonaBoard::~SimKonaBoard() { QiFrameBlock::forget(this); }

void SimKonaBoard::reset(bool present)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    resetLocked(present);
}

void SimKonaBoard::resetLocked(bool present)
{
    m_present = present;
    m_openCount = 0;
    m_videoFormat = 25;
    uint32_t fbf = 0;
    if (present)
        applyEnvironment(m_videoFormat, fbf);
    for (uint32_t c = 0; c < kChannels; ++c) {
        m_fbf[c] = fbf;
        m_3g[c] = true;
        m_3gb[c] = false;
        // Two frames per channel, channel 1 showing frame 0.
        m_outputFrame[c] = 2 * c;
        m_outputFrameFails[c] = false;
    }
    m_vpidA = m_vpidB = 0;
    for (uint32_t c = 0; c < kChannels; ++c) {
        m_spigotVpid[c][0] = m_spigotVpid[c][1] = 0;
        m_spigotWritten[c] = false;
        for (auto &field : m_vpidFields)
            field[c] = 0;
    }
    m_hdr = HDRRegValues{};
    m_hdmiHdr = false;
    m_hdmiConstantLuminance = false;
    m_serial = "SIM-KONA-0001";
    m_calls.clear();
    m_memory.assign(kFrames, {});
    m_output = SimFrame{};
    m_haveOutput = false;
    m_sequence = 0;
    m_captureFolder = present ? simCaptureFolderFromEnvironment() : "";
    m_captureError.clear();
    m_observer = nullptr;
}

bool SimKonaBoard::present() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_present;
}

uint32_t SimKonaBoard::geometryOf(uint32_t videoFormat)
{
    switch (videoFormat) {
    case 1: case 2: case 3:
    case 8: case 9: case 10: case 11: case 12:
    case 18: case 19: case 20: case 23: case 24: case 25:
        return NTV2_FG_1920x1080;
    case 4: case 5: case 17:
        return NTV2_FG_1280x720;
    case 13: case 14: case 26:
        return NTV2_FG_2048x1080;
    case 32: return NTV2_FG_720x486;
    case 33: return NTV2_FG_720x576;
    case 83: case 84: case 85: return NTV2_FG_4x1920x1080;
    case 89: case 90: case 91: return NTV2_FG_4x2048x1080;
    default: return NTV2_FG_INVALID;
    }
}

bool SimKonaBoard::knownFrameBufferFormat(uint32_t fbf)
{
    switch (fbf) {
    case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 12: case 13: case 26:
        return true;
    default:
        return false;
    }
}

uint32_t SimKonaBoard::videoFormat() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_videoFormat;
}

bool SimKonaBoard::setVideoFormat(uint32_t videoFormat)
{
    if (geometryOf(videoFormat) == NTV2_FG_INVALID)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_videoFormat = videoFormat;
    return true;
}

uint32_t SimKonaBoard::frameBufferFormat(uint32_t channel) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return channel < kChannels ? m_fbf[channel] : NTV2_FBF_INVALID;
}

bool SimKonaBoard::setFrameBufferFormat(uint32_t channel, uint32_t fbf)
{
    if (channel >= kChannels || !knownFrameBufferFormat(fbf))
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fbf[channel] = fbf;
    return true;
}

void SimKonaBoard::vpid(uint32_t &a, uint32_t &b) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    a = m_vpidA;
    b = m_vpidB;
}

bool SimKonaBoard::vpidOf(uint32_t spigot, uint32_t &a, uint32_t &b) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (spigot >= kChannels || !m_spigotWritten[spigot])
        return false;
    a = m_spigotVpid[spigot][0];
    b = m_spigotVpid[spigot][1];
    return true;
}

uint32_t SimKonaBoard::vpidField(VpidField field, uint32_t channel) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return field < kVpidFields && channel < kChannels ? m_vpidFields[field][channel] : 0;
}

HDRRegValues SimKonaBoard::hdrData() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hdr;
}

bool SimKonaBoard::hdmiHdr() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hdmiHdr;
}

uint32_t SimKonaBoard::outputFrameOf(uint32_t channel) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return channel < kChannels ? m_outputFrame[channel] : 0;
}

void SimKonaBoard::setOutputFrame(uint32_t channel, uint32_t frame)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (channel < kChannels && frame < kFrames)
        m_outputFrame[channel] = frame;
}

void SimKonaBoard::setOutputFrameFails(uint32_t channel, bool fails)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (channel < kChannels)
        m_outputFrameFails[channel] = fails;
}

void SimKonaBoard::setSerialNumber(const std::string &serial)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_serial = serial;
}

std::string SimKonaBoard::serialNumber() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_serial;
}

uint32_t SimKonaBoard::openCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_openCount;
}

std::vector<std::string> SimKonaBoard::calls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

void SimKonaBoard::clearCalls()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.clear();
}

std::vector<uint8_t> SimKonaBoard::frameMemory(uint32_t frame) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (frame >= m_memory.size())
        return {};
    const FrameMemory &m = m_memory[frame];
    return std::vector<uint8_t>(m.bytes(), m.bytes() + m.size());
}

bool SimKonaBoard::outputFrame(SimFrame &frame) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_haveOutput)
        return false;
    frame.width = m_output.width;
    frame.height = m_output.height;
    frame.rowBytes = m_output.rowBytes;
    frame.layout = m_output.layout;
    frame.videoFormat = m_output.videoFormat;
    frame.sequence = m_output.sequence;
    frame.signal = m_output.signal;
    const FrameMemory &m = m_memory[m_outputFrame[NTV2_CHANNEL1]];
    frame.bytes.assign(m.bytes(), m.bytes() + m.size());
    return true;
}

uint64_t SimKonaBoard::sequence() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sequence;
}

void SimKonaBoard::setFrameObserver(FrameObserver observer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observer = std::move(observer);
}

void SimKonaBoard::setCaptureFolder(const std::string &folder)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_captureFolder = folder;
    m_captureError.clear();
}

void SimKonaBoard::record(const std::string &call)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(call);
}

void SimKonaBoard::recordLocked(const std::string &call)
{
    // A long-running program keeps only the recent calls.
    if (m_calls.size() >= 100000)
        m_calls.erase(m_calls.begin(), m_calls.begin() + 50000);
    m_calls.push_back(call);
}

bool SimKonaBoard::open()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked("Open(0)");
    if (!m_present)
        return false;
    ++m_openCount;
    return true;
}

bool SimKonaBoard::readFrameBufferFormat(uint32_t channel, uint32_t &fbf)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(callText("GetFrameBufferFormat(%u)", channel));
    if (!m_present || channel >= kChannels)
        return false;
    fbf = m_fbf[channel];
    return true;
}

bool SimKonaBoard::writeFrameBufferFormat(uint32_t channel, uint32_t fbf)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(callText("SetFrameBufferFormat(%u,%u)", channel, fbf));
    if (!m_present || channel >= kChannels || !knownFrameBufferFormat(fbf))
        return false;
    m_fbf[channel] = fbf;
    return true;
}

bool SimKonaBoard::readVideoFormat(uint32_t channel, uint32_t &format)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(callText("GetVideoFormat(%u)", channel));
    if (!m_present || channel >= kChannels)
        return false;
    format = m_videoFormat;
    return true;
}

bool SimKonaBoard::writeVideoFormat(uint32_t format)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(callText("SetVideoFormat(%u)", format));
    if (!m_present || geometryOf(format) == NTV2_FG_INVALID)
        return false;
    m_videoFormat = format;
    return true;
}

bool SimKonaBoard::readGeometry(uint32_t channel, uint32_t &geometry)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(callText("GetFrameGeometry(%u)", channel));
    if (!m_present || channel >= kChannels)
        return false;
    geometry = geometryOf(m_videoFormat);
    return geometry != NTV2_FG_INVALID;
}

bool SimKonaBoard::read3G(uint32_t channel, bool &enable)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(callText("GetSDIOut3GEnable(%u)", channel));
    if (!m_present || channel >= kChannels)
        return false;
    enable = m_3g[channel];
    return true;
}

bool SimKonaBoard::write3Gb(uint32_t channel, bool enable)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(callText("SetSDIOut3GbEnable(%u,%d)", channel, enable ? 1 : 0));
    if (!m_present || channel >= kChannels)
        return false;
    m_3gb[channel] = enable;
    return true;
}

bool SimKonaBoard::writeVpid(uint32_t a, uint32_t b, uint32_t spigot)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(callText("SetSDIOutVPID(0x%08X,0x%08X,%u)", a, b, spigot));
    if (!m_present || spigot >= kChannels)
        return false;
    if (spigot == NTV2_CHANNEL1) {
        m_vpidA = a;
        m_vpidB = b;
    }
    m_spigotVpid[spigot][0] = a;
    m_spigotVpid[spigot][1] = b;
    m_spigotWritten[spigot] = true;
    return true;
}

bool SimKonaBoard::writeVpidField(VpidField field, uint32_t value, uint32_t channel)
{
    static const char *const kNames[] = {"SetVPIDTransferCharacteristics", "SetVPIDColorimetry", "SetVPIDLuminance",
                                         "SetVPIDRGBRange"};
    std::lock_guard<std::mutex> lock(m_mutex);
    if (field >= kVpidFields)
        return false;
    recordLocked(callText("%s(%u,%u)", kNames[field], value, channel));
    if (!m_present || channel >= kChannels)
        return false;
    m_vpidFields[field][channel] = value;
    return true;
}

bool SimKonaBoard::writeHdrData(const HDRRegValues &v)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(callText("SetHDRData(eotf %u)", static_cast<unsigned>(v.electroOpticalTransferFunction)));
    if (!m_present)
        return false;
    m_hdr = v;
    return true;
}

bool SimKonaBoard::writeHdmiHdr(bool enable)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(callText("EnableHDMIHDR(%d)", enable ? 1 : 0));
    if (!m_present)
        return false;
    m_hdmiHdr = enable;
    return true;
}

bool SimKonaBoard::writeHdmiConstantLuminance(bool enable)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(callText("SetHDMIHDRConstantLuminance(%d)", enable ? 1 : 0));
    if (!m_present)
        return false;
    m_hdmiConstantLuminance = enable;
    return true;
}

bool SimKonaBoard::readOutputFrame(uint32_t channel, uint32_t &frame)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(callText("GetOutputFrame(%u)", channel));
    if (!m_present || channel >= kChannels || m_outputFrameFails[channel])
        return false;
    frame = m_outputFrame[channel];
    return true;
}

bool SimKonaBoard::dmaWrite(uint32_t frame, const void *bytes, uint32_t count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(callText("DMAWriteFrame(%u,%u)", frame, count));
    if (!m_present || frame >= kFrames || !bytes || count == 0 || count > kFrameCapacity)
        return false;
    const uint8_t *from = static_cast<const uint8_t *>(bytes);
    FrameMemory &m = m_memory[frame];
    if (QiFrameBlock::watch(from, count, this)) {
        // The block tells us before these bytes change.
        m.ref = from;
        m.refBytes = count;
        m.own.clear();
    } else {
        m.ref = nullptr;
        m.own.assign(from, from + count);
    }
    if (frame != m_outputFrame[NTV2_CHANNEL1])
        return true;

    // The frame channel 1 shows: describe it as the board outputs it.
    uint32_t fbf = m_fbf[NTV2_CHANNEL1];
    uint32_t geometry = geometryOf(m_videoFormat);
    m_output.width = static_cast<int32_t>(GetNTV2FrameGeometryWidth(static_cast<NTV2FrameGeometry>(geometry)));
    m_output.height = static_cast<int32_t>(GetNTV2FrameGeometryHeight(static_cast<NTV2FrameGeometry>(geometry)));
    m_output.rowBytes = AJA_CalcRowBytesForFormat(ajaPixelFormatOf(fbf), static_cast<uint32_t>(m_output.width));
    m_output.layout = layoutOf(fbf);
    const char *name = konaFormatNameForBoard(m_videoFormat, m_vpidA);
    m_output.videoFormat = name ? name : callText("NTV2 format %u", m_videoFormat);
    m_output.sequence = ++m_sequence;
    describeSignalLocked(m_output.signal);
    m_haveOutput = true;
    if (m_observer)
        m_observer(m_output, std::vector<uint8_t>(m.bytes(), m.bytes() + m.size()));
    if (!m_captureFolder.empty())
        writeSimCaptureLogged(m_captureFolder, "kona", m_output, m.bytes(), m.size(), m_captureError);
    return true;
}

void SimKonaBoard::blockChanging(const uint8_t *begin, size_t bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const uintptr_t lo = reinterpret_cast<uintptr_t>(begin), hi = lo + bytes;
    for (FrameMemory &m : m_memory) {
        const uintptr_t at = reinterpret_cast<uintptr_t>(m.ref);
        if (m.ref && at < hi && lo < at + m.refBytes) {
            // Still what was DMA'd: take the copy now.
            m.own.assign(m.ref, m.ref + m.refBytes);
            m.ref = nullptr;
        }
    }
}

bool SimKonaBoard::readSerial(std::string &serial)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked("GetSerialNumberString()");
    if (!m_present)
        return false;
    serial = m_serial;
    return true;
}

bool SimKonaBoard::releaseStream(uint32_t appCode, int32_t pid)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(callText("ReleaseStreamForApplication(0x%08X,%d)", appCode, pid));
    return m_present;
}

bool SimKonaBoard::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked("Close()");
    if (!m_present || m_openCount == 0)
        return false;
    --m_openCount;
    return true;
}

void SimKonaBoard::describeSignalLocked(SimSignal &s) const
{
    s = SimSignal{};
    for (uint32_t c = 0; c < kChannels; ++c)
        if (m_spigotWritten[c])
            s.sdiVpid.push_back({c + 1, m_spigotVpid[c][0], m_spigotVpid[c][1]});
    // As a receiver reads SDI output 1's payload identifier.
    const uint32_t transfer = konaWordTransfer(m_vpidA);
    s.eotf = transfer == 1 ? kEotfHlg : transfer == 2 ? kEotfPq : kEotfSdr;
    s.colorimetry = konaWordColorimetry(m_vpidA) == 2 ? kColorimetry2020 : kColorimetry709;
    s.fullRange = m_vpidFields[kVpidRgbRange][NTV2_CHANNEL1] == NTV2_VPID_Range_Full;
    const std::string &layout = m_output.layout;
    s.bitDepth = (layout == "v210" || layout == "dpx10" || layout == "r210") ? 10 : layout == "none" ? 0 : 8;
    const int32_t row = konaFormatByNtv2(m_videoFormat);
    if (m_hdmiHdr && row >= 0 && kKonaVideoFormats[row].hdmi) {
        s.hdrPresent = s.infoframe = true;
        QiHdrFields &f = s.hdr;
        f.primaries[0][0] = m_hdr.greenPrimaryX;
        f.primaries[0][1] = m_hdr.greenPrimaryY;
        f.primaries[1][0] = m_hdr.bluePrimaryX;
        f.primaries[1][1] = m_hdr.bluePrimaryY;
        f.primaries[2][0] = m_hdr.redPrimaryX;
        f.primaries[2][1] = m_hdr.redPrimaryY;
        f.white[0] = m_hdr.whitePointX;
        f.white[1] = m_hdr.whitePointY;
        f.maxLuminance = m_hdr.maxMasteringLuminance;
        f.minLuminance = m_hdr.minMasteringLuminance;
        f.maxCll = m_hdr.maxContentLightLevel;
        f.maxFall = m_hdr.maxFrameAverageLightLevel;
        f.eotf = m_hdr.electroOpticalTransferFunction;
    }
}
