#include "CNTV2Card.h"

#include "SimKonaBoard.h"

#include <cstdio>
#include <unistd.h>

namespace {
SimKonaBoard &board() { return SimKonaBoard::instance(); }

// A card that is not open reaches no board; the call is still logged.
bool refused(const char *call)
{
    board().record(std::string(call) + "(closed)");
    return false;
}
}

ULWord GetNTV2FrameGeometryWidth(NTV2FrameGeometry geometry)
{
    switch (geometry) {
    case NTV2_FG_1920x1080: return 1920;
    case NTV2_FG_1280x720: return 1280;
    case NTV2_FG_720x486: return 720;
    case NTV2_FG_720x576: return 720;
    case NTV2_FG_2048x1080: return 2048;
    case NTV2_FG_4x1920x1080: return 3840;
    case NTV2_FG_4x2048x1080: return 4096;
    default: return 0;
    }
}

ULWord GetNTV2FrameGeometryHeight(NTV2FrameGeometry geometry)
{
    switch (geometry) {
    case NTV2_FG_1920x1080: return 1080;
    case NTV2_FG_1280x720: return 720;
    case NTV2_FG_720x486: return 486;
    case NTV2_FG_720x576: return 576;
    case NTV2_FG_2048x1080: return 1080;
    case NTV2_FG_4x1920x1080: return 2160;
    case NTV2_FG_4x2048x1080: return 2160;
    default: return 0;
    }
}

uint32_t AJA_CalcRowBytesForFormat(AJA_PixelFormat format, uint32_t width)
{
    if (width > 65536)
        return 0;
    switch (format) {
    case AJA_PixelFormat_YCbCr10: return (width + 47) / 48 * 128;
    case AJA_PixelFormat_YCbCr8:
    case AJA_PixelFormat_YUY28: return 2 * width;
    case AJA_PixelFormat_ARGB8:
    case AJA_PixelFormat_RGBA8:
    case AJA_PixelFormat_ABGR8:
    case AJA_PixelFormat_RGB10:
    case AJA_PixelFormat_RGB_DPX: return 4 * width;
    case AJA_PixelFormat_RGB8_PACK:
    case AJA_PixelFormat_BGR8_PACK: return 3 * width;
    // Luma plane: three 10-bit samples per 32-bit word.
    case AJA_PixelFormat_YCBCR10_420PL: return (width + 2) / 3 * 4;
    default: return 0;
    }
}

uint64_t AJAProcess::GetPid() { return static_cast<uint64_t>(::getpid()); }

bool CNTV2WinDriverInterface::Open(UWord deviceIndex)
{
    if (m_open)
        return true;
    if (deviceIndex != 0) {
        char call[32];
        std::snprintf(call, sizeof call, "Open(%u)", deviceIndex);
        board().record(call);
        return false;
    }
    m_open = board().open();
    return m_open;
}

bool CNTV2WinDriverInterface::Close()
{
    if (!m_open) {
        board().record("Close()");
        return false;
    }
    m_open = false;
    return board().close();
}

bool CNTV2WinDriverInterface::ReleaseStreamForApplication(ULWord appCode, int32_t pid)
{
    if (!m_open)
        return refused("ReleaseStreamForApplication");
    return board().releaseStream(appCode, pid);
}

CNTV2Card::~CNTV2Card()
{
    if (m_open)
        Close();
}

bool CNTV2Card::SetReference(NTV2ReferenceSource source, bool ajaRetail)
{
    char call[48];
    std::snprintf(call, sizeof call, "SetReference(%u,%d)", static_cast<unsigned>(source), ajaRetail ? 1 : 0);
    board().record(call);
    return m_open;
}

bool CNTV2Card::SetMode(NTV2Channel channel, NTV2Mode mode, bool ajaRetail)
{
    char call[48];
    std::snprintf(call, sizeof call, "SetMode(%u,%u,%d)", static_cast<unsigned>(channel), static_cast<unsigned>(mode),
                  ajaRetail ? 1 : 0);
    board().record(call);
    return m_open;
}

bool CNTV2Card::GetFrameBufferFormat(NTV2Channel channel, NTV2FrameBufferFormat &format)
{
    if (!m_open)
        return refused("GetFrameBufferFormat");
    uint32_t value = 0;
    if (!board().readFrameBufferFormat(channel, value))
        return false;
    format = static_cast<NTV2FrameBufferFormat>(value);
    return true;
}

bool CNTV2Card::SetFrameBufferFormat(NTV2Channel channel, NTV2FrameBufferFormat format, bool)
{
    if (!m_open)
        return refused("SetFrameBufferFormat");
    return board().writeFrameBufferFormat(channel, format);
}

bool CNTV2Card::GetVideoFormat(NTV2VideoFormat &format, NTV2Channel channel)
{
    if (!m_open)
        return refused("GetVideoFormat");
    uint32_t value = 0;
    if (!board().readVideoFormat(channel, value))
        return false;
    format = static_cast<NTV2VideoFormat>(value);
    return true;
}

bool CNTV2Card::SetVideoFormat(NTV2VideoFormat format, bool, bool, NTV2Channel)
{
    if (!m_open)
        return refused("SetVideoFormat");
    return board().writeVideoFormat(format);
}

bool CNTV2Card::GetFrameGeometry(NTV2FrameGeometry &geometry, NTV2Channel channel)
{
    if (!m_open)
        return refused("GetFrameGeometry");
    uint32_t value = NTV2_FG_INVALID;
    bool ok = board().readGeometry(channel, value);
    geometry = static_cast<NTV2FrameGeometry>(ok ? value : NTV2_FG_INVALID);
    return ok;
}

bool CNTV2Card::GetSDIOut3GEnable(NTV2Channel channel, bool &enable)
{
    if (!m_open)
        return refused("GetSDIOut3GEnable");
    return board().read3G(channel, enable);
}

bool CNTV2Card::SetSDIOut3GbEnable(NTV2Channel channel, bool enable)
{
    if (!m_open)
        return refused("SetSDIOut3GbEnable");
    return board().write3Gb(channel, enable);
}

bool CNTV2Card::SetSDIOutVPID(ULWord a, ULWord b, UWord spigot)
{
    if (!m_open)
        return refused("SetSDIOutVPID");
    return board().writeVpid(a, b, spigot);
}

bool CNTV2Card::SetVPIDTransferCharacteristics(NTV2VPIDTransferCharacteristics value, NTV2Channel channel)
{
    if (!m_open)
        return refused("SetVPIDTransferCharacteristics");
    return board().writeVpidField(SimKonaBoard::kVpidTransfer, value, channel);
}

bool CNTV2Card::SetVPIDColorimetry(NTV2VPIDColorimetry value, NTV2Channel channel)
{
    if (!m_open)
        return refused("SetVPIDColorimetry");
    return board().writeVpidField(SimKonaBoard::kVpidColorimetry, value, channel);
}

bool CNTV2Card::SetVPIDLuminance(NTV2VPIDLuminance value, NTV2Channel channel)
{
    if (!m_open)
        return refused("SetVPIDLuminance");
    return board().writeVpidField(SimKonaBoard::kVpidLuminance, value, channel);
}

bool CNTV2Card::SetVPIDRGBRange(NTV2VPIDRGBRange value, NTV2Channel channel)
{
    if (!m_open)
        return refused("SetVPIDRGBRange");
    return board().writeVpidField(SimKonaBoard::kVpidRgbRange, value, channel);
}

bool CNTV2Card::SetHDRData(const HDRRegValues &values)
{
    if (!m_open)
        return refused("SetHDRData");
    return board().writeHdrData(values);
}

bool CNTV2Card::EnableHDMIHDR(bool enable)
{
    if (!m_open)
        return refused("EnableHDMIHDR");
    return board().writeHdmiHdr(enable);
}

bool CNTV2Card::SetHDMIHDRConstantLuminance(bool enable)
{
    if (!m_open)
        return refused("SetHDMIHDRConstantLuminance");
    return board().writeHdmiConstantLuminance(enable);
}

bool CNTV2Card::GetOutputFrame(NTV2Channel channel, ULWord &frame)
{
    if (!m_open)
        return refused("GetOutputFrame");
    uint32_t value = 0;
    if (!board().readOutputFrame(channel, value))
        return false;
    frame = value;
    return true;
}

bool CNTV2Card::DMAWriteFrame(ULWord frame, const ULWord *buffer, ULWord bytes)
{
    if (!m_open)
        return refused("DMAWriteFrame");
    return board().dmaWrite(frame, buffer, bytes);
}

bool CNTV2Card::GetSerialNumberString(std::string &serial)
{
    if (!m_open)
        return refused("GetSerialNumberString");
    return board().readSerial(serial);
}
