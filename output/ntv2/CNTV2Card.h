#pragma once
// The part of the AJA NTV2 interface that KonaRaster uses, declared here in
// the SDK's shapes. Behind it sits the simulated board (SimKonaBoard); a
// real SDK can replace this layer behind the same names.
#include <cstdint>
#include <string>

using ULWord = uint32_t;
using UWord = uint16_t;

enum NTV2Channel : uint32_t {
    NTV2_CHANNEL1 = 0,
    NTV2_CHANNEL2,
    NTV2_CHANNEL3,
    NTV2_CHANNEL4,
    NTV2_CHANNEL5,
    NTV2_CHANNEL6,
    NTV2_CHANNEL7,
    NTV2_CHANNEL8,
    NTV2_MAX_NUM_CHANNELS
};

// Values as the card uses them; only the ones named are known to the board.
enum NTV2VideoFormat : uint32_t { NTV2_FORMAT_UNKNOWN = 0 };
enum NTV2FrameBufferFormat : uint32_t {
    NTV2_FBF_10BIT_YCBCR = 0,
    NTV2_FBF_8BIT_YCBCR = 1,
    NTV2_FBF_ARGB = 2,
    NTV2_FBF_RGBA = 3,
    NTV2_FBF_10BIT_RGB = 4,
    NTV2_FBF_8BIT_YCBCR_YUY2 = 5,
    NTV2_FBF_ABGR = 6,
    NTV2_FBF_10BIT_DPX = 7,
    NTV2_FBF_24BIT_RGB = 12,
    NTV2_FBF_24BIT_BGR = 13,
    NTV2_FBF_10BIT_YCBCR_420PL2 = 26,
    NTV2_FBF_INVALID = 0xFF
};
enum NTV2FrameGeometry : uint32_t {
    NTV2_FG_1920x1080 = 0,
    NTV2_FG_1280x720 = 1,
    NTV2_FG_720x486 = 2,
    NTV2_FG_720x576 = 3,
    NTV2_FG_2048x1080 = 10,
    NTV2_FG_4x1920x1080 = 16,
    NTV2_FG_4x2048x1080 = 17,
    NTV2_FG_INVALID = 0xFF
};
enum NTV2ReferenceSource : uint32_t {
    NTV2_REFERENCE_EXTERNAL = 0,
    NTV2_REFERENCE_INPUT1 = 1,
    NTV2_REFERENCE_INPUT2 = 2,
    NTV2_REFERENCE_FREERUN = 3
};
enum NTV2Mode : uint32_t { NTV2_MODE_DISPLAY = 0, NTV2_MODE_CAPTURE = 1 };
// Pixel formats of the AJA base library (the frame-buffer format + 1 for
// most of them).
enum AJA_PixelFormat : uint32_t {
    AJA_PixelFormat_Unknown = 0,
    AJA_PixelFormat_YCbCr10 = 1,
    AJA_PixelFormat_YCbCr8 = 2,
    AJA_PixelFormat_ARGB8 = 3,
    AJA_PixelFormat_RGBA8 = 4,
    AJA_PixelFormat_RGB10 = 5,
    AJA_PixelFormat_YUY28 = 6,
    AJA_PixelFormat_ABGR8 = 7,
    AJA_PixelFormat_RGB_DPX = 8,
    AJA_PixelFormat_RGB8_PACK = 13,
    AJA_PixelFormat_BGR8_PACK = 14,
    AJA_PixelFormat_YCBCR10_420PL = 33
};

// Payload identifier fields the card fills in from its own settings.
enum NTV2VPIDTransferCharacteristics : uint32_t {
    NTV2_VPID_TC_SDR_TV = 0,
    NTV2_VPID_TC_HLG = 1,
    NTV2_VPID_TC_PQ = 2,
    NTV2_VPID_TC_Unspecified = 3
};
enum NTV2VPIDColorimetry : uint32_t {
    NTV2_VPID_Color_Rec709 = 0,
    NTV2_VPID_Color_VANC = 1,
    NTV2_VPID_Color_UHDTV = 2,
    NTV2_VPID_Color_Unknown = 3
};
enum NTV2VPIDLuminance : uint32_t { NTV2_VPID_Luminance_YCbCr = 0, NTV2_VPID_Luminance_ICtCp = 1 };
enum NTV2VPIDRGBRange : uint32_t { NTV2_VPID_Range_Narrow = 0, NTV2_VPID_Range_Full = 1 };

// The HDMI HDR infoframe's static metadata as register values (0.00002 for
// chromaticities, 1 cd/m2 max, 0.0001 cd/m2 min mastering luminance).
struct HDRRegValues {
    uint16_t greenPrimaryX = 0, greenPrimaryY = 0;
    uint16_t bluePrimaryX = 0, bluePrimaryY = 0;
    uint16_t redPrimaryX = 0, redPrimaryY = 0;
    uint16_t whitePointX = 0, whitePointY = 0;
    uint16_t maxMasteringLuminance = 0, minMasteringLuminance = 0;
    uint16_t maxContentLightLevel = 0, maxFrameAverageLightLevel = 0;
    uint8_t electroOpticalTransferFunction = 0;
    uint8_t staticMetadataDescriptorID = 0;
};

ULWord GetNTV2FrameGeometryWidth(NTV2FrameGeometry geometry);
ULWord GetNTV2FrameGeometryHeight(NTV2FrameGeometry geometry);
uint32_t AJA_CalcRowBytesForFormat(AJA_PixelFormat format, uint32_t width);

class AJAProcess {
public:
    static uint64_t GetPid();
};

// Driver-level calls shared by every card class.
class CNTV2WinDriverInterface {
public:
    virtual ~CNTV2WinDriverInterface() = default;
    virtual bool Open(UWord deviceIndex = 0);
    virtual bool Close();
    bool IsOpen() const { return m_open; }
    // Gives up a stream acquired by application appCode in process pid.
    virtual bool ReleaseStreamForApplication(ULWord appCode, int32_t pid);

protected:
    bool m_open = false;
};

class CNTV2Card : public CNTV2WinDriverInterface {
public:
    CNTV2Card() = default;
    ~CNTV2Card() override;

    bool SetReference(NTV2ReferenceSource source, bool ajaRetail = true);
    bool SetMode(NTV2Channel channel, NTV2Mode mode, bool ajaRetail = true);

    bool GetFrameBufferFormat(NTV2Channel channel, NTV2FrameBufferFormat &format);
    bool SetFrameBufferFormat(NTV2Channel channel, NTV2FrameBufferFormat format, bool isRetail = true);
    bool GetVideoFormat(NTV2VideoFormat &format, NTV2Channel channel = NTV2_CHANNEL1);
    bool SetVideoFormat(NTV2VideoFormat format, bool isRetail = true, bool keepVanc = false,
                        NTV2Channel channel = NTV2_CHANNEL1);
    bool GetFrameGeometry(NTV2FrameGeometry &geometry, NTV2Channel channel = NTV2_CHANNEL1);

    // 3G output settings of an SDI spigot.
    bool GetSDIOut3GEnable(NTV2Channel channel, bool &enable);
    bool SetSDIOut3GbEnable(NTV2Channel channel, bool enable);

    bool SetSDIOutVPID(ULWord a, ULWord b, UWord spigot = NTV2_CHANNEL1);
    bool SetVPIDTransferCharacteristics(NTV2VPIDTransferCharacteristics value, NTV2Channel channel);
    bool SetVPIDColorimetry(NTV2VPIDColorimetry value, NTV2Channel channel);
    bool SetVPIDLuminance(NTV2VPIDLuminance value, NTV2Channel channel);
    bool SetVPIDRGBRange(NTV2VPIDRGBRange value, NTV2Channel channel);
    // HDMI HDR infoframe: the static metadata, and whether it is sent.
    bool SetHDRData(const HDRRegValues &values);
    bool EnableHDMIHDR(bool enable);
    bool SetHDMIHDRConstantLuminance(bool enable);
    bool GetOutputFrame(NTV2Channel channel, ULWord &frame);
    // Synchronous: the bytes are in card memory when it returns.
    bool DMAWriteFrame(ULWord frame, const ULWord *buffer, ULWord bytes);
    bool GetSerialNumberString(std::string &serial);
};
