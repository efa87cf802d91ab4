#pragma once
// The part of the DeckLink API that BmdRaster uses, declared here in the
// SDK's COM shapes. Behind it sits the simulated board (SimDeckLinkBoard); a
// real SDK can replace this layer behind the same names.
#include <cstdint>

using HRESULT = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using LPVOID = void *;
using BSTR = wchar_t *;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
inline constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline constexpr bool FAILED(HRESULT hr) { return hr < 0; }

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID &;
using REFCLSID = const CLSID &;

constexpr bool operator==(const GUID &a, const GUID &b)
{
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
        return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i])
            return false;
    return true;
}

inline constexpr CLSID CLSID_CDeckLinkIterator = {0x1F2E109A, 0x8F4F, 0x49E4, {0x92, 0x03, 0x13, 0x55, 0x95, 0xCB, 0x6F, 0xA5}};
inline constexpr IID IID_IDeckLinkIterator = {0x50FB36CD, 0x3063, 0x4B73, {0xBD, 0xBB, 0x95, 0x80, 0x87, 0xF2, 0xD8, 0xBA}};
inline constexpr IID IID_IDeckLinkOutput = {0xCC5C8A6E, 0x3F2F, 0x4B3A, {0x87, 0xEA, 0xFD, 0x78, 0xAF, 0x30, 0x05, 0x64}};
inline constexpr IID IID_IDeckLinkConfiguration = {0xCB71734A, 0xFE37, 0x4E8D, {0x8E, 0x13, 0x80, 0x21, 0x33, 0xA1, 0xC3, 0xF2}};
inline constexpr IID IID_IDeckLinkVideoFrameMetadataExtensions = {0xE232A5B7, 0x4DB4, 0x44C9, {0x91, 0x52, 0xF4, 0x7C, 0x12, 0xE5, 0xF0, 0x51}};
inline constexpr IID IID_IDeckLinkProfileAttributes = {0x17D4BF8E, 0x4911, 0x473A, {0x80, 0xA0, 0x73, 0x1C, 0xF6, 0xFF, 0x34, 0x5B}};
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

inline constexpr DWORD CLSCTX_ALL = 23;

using BMDDisplayMode = uint32_t;
using BMDPixelFormat = uint32_t;
using BMDVideoOutputFlags = uint32_t;
using BMDFrameFlags = uint32_t;
using BMDTimeValue = int64_t;
using BMDTimeScale = int64_t;
using BMDDisplayModeSupport = uint32_t;
using BMDDeckLinkConfigurationID = uint32_t;
using BMDOutputFrameCompletionResult = uint32_t;
using BMDDeckLinkFrameMetadataID = uint32_t;
using BMDDeckLinkAttributeID = uint32_t;
using BMDColorspace = uint32_t;

// Four-character codes, most significant character first.
constexpr uint32_t bmdFourCC(const char (&c)[5])
{
    return static_cast<uint32_t>(static_cast<uint8_t>(c[0])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(c[1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(c[2])) << 8 | static_cast<uint8_t>(c[3]);
}

inline constexpr BMDPixelFormat bmdFormat8BitYUV = bmdFourCC("2vuy");
inline constexpr BMDPixelFormat bmdFormat10BitYUV = bmdFourCC("v210");
inline constexpr BMDPixelFormat bmdFormat8BitARGB = 32;
inline constexpr BMDPixelFormat bmdFormat8BitBGRA = bmdFourCC("BGRA");
inline constexpr BMDPixelFormat bmdFormat10BitRGB = bmdFourCC("r210");

inline constexpr BMDDisplayModeSupport bmdDisplayModeNotSupported = 0;
inline constexpr BMDDisplayModeSupport bmdDisplayModeSupported = 1;
inline constexpr BMDDisplayModeSupport bmdDisplayModeSupportedWithConversion = 2;

inline constexpr BMDVideoOutputFlags bmdVideoOutputFlagDefault = 0;
inline constexpr BMDFrameFlags bmdFrameFlagDefault = 0;
inline constexpr BMDDeckLinkConfigurationID bmdDeckLinkConfigDefaultVideoOutputMode = bmdFourCC("dvom");

inline constexpr BMDOutputFrameCompletionResult bmdOutputFrameCompleted = 0;

// HDR: a frame that carries static metadata answers
// IDeckLinkVideoFrameMetadataExtensions with these items.
inline constexpr BMDFrameFlags bmdFrameContainsHDRMetadata = 1u << 1;
inline constexpr BMDDeckLinkFrameMetadataID bmdDeckLinkFrameMetadataHDRElectroOpticalTransferFunc = bmdFourCC("eotf");
inline constexpr BMDDeckLinkFrameMetadataID bmdDeckLinkFrameMetadataColorspace = bmdFourCC("cspc");
inline constexpr BMDDeckLinkFrameMetadataID bmdDeckLinkFrameMetadataHDRDisplayPrimariesRedX = bmdFourCC("hdrx");
inline constexpr BMDDeckLinkFrameMetadataID bmdDeckLinkFrameMetadataHDRDisplayPrimariesRedY = bmdFourCC("hdry");
inline constexpr BMDDeckLinkFrameMetadataID bmdDeckLinkFrameMetadataHDRDisplayPrimariesGreenX = bmdFourCC("hdgx");
inline constexpr BMDDeckLinkFrameMetadataID bmdDeckLinkFrameMetadataHDRDisplayPrimariesGreenY = bmdFourCC("hdgy");
inline constexpr BMDDeckLinkFrameMetadataID bmdDeckLinkFrameMetadataHDRDisplayPrimariesBlueX = bmdFourCC("hdbx");
inline constexpr BMDDeckLinkFrameMetadataID bmdDeckLinkFrameMetadataHDRDisplayPrimariesBlueY = bmdFourCC("hdby");
inline constexpr BMDDeckLinkFrameMetadataID bmdDeckLinkFrameMetadataHDRWhitePointX = bmdFourCC("hdwx");
inline constexpr BMDDeckLinkFrameMetadataID bmdDeckLinkFrameMetadataHDRWhitePointY = bmdFourCC("hdwy");
inline constexpr BMDDeckLinkFrameMetadataID bmdDeckLinkFrameMetadataHDRMaxDisplayMasteringLuminance = bmdFourCC("hdml");
inline constexpr BMDDeckLinkFrameMetadataID bmdDeckLinkFrameMetadataHDRMinDisplayMasteringLuminance = bmdFourCC("hmil");
inline constexpr BMDDeckLinkFrameMetadataID bmdDeckLinkFrameMetadataHDRMaximumContentLightLevel = bmdFourCC("mcll");
inline constexpr BMDDeckLinkFrameMetadataID bmdDeckLinkFrameMetadataHDRMaximumFrameAverageLightLevel = bmdFourCC("fall");
inline constexpr BMDColorspace bmdColorspaceRec601 = bmdFourCC("r601");
inline constexpr BMDColorspace bmdColorspaceRec709 = bmdFourCC("r709");
inline constexpr BMDColorspace bmdColorspaceRec2020 = bmdFourCC("2020");
inline constexpr BMDDeckLinkAttributeID BMDDeckLinkSupportsHDRMetadata = bmdFourCC("hdrm");
inline constexpr BMDDeckLinkAttributeID BMDDeckLinkSupportsColorspaceMetadata = bmdFourCC("cmet");

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID iid, LPVOID *object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

struct IDeckLinkDisplayMode : IUnknown {
    // The caller frees the name with SysFreeString.
    virtual HRESULT GetName(BSTR *name) = 0;
    virtual BMDDisplayMode GetDisplayMode() = 0;
    virtual long GetWidth() = 0;
    virtual long GetHeight() = 0;
    virtual HRESULT GetFrameRate(BMDTimeValue *frameDuration, BMDTimeScale *timeScale) = 0;
};

struct IDeckLinkDisplayModeIterator : IUnknown {
    // S_FALSE and no mode after the last one.
    virtual HRESULT Next(IDeckLinkDisplayMode **mode) = 0;
};

struct IDeckLinkVideoFrame : IUnknown {
    virtual long GetWidth() = 0;
    virtual long GetHeight() = 0;
    virtual long GetRowBytes() = 0;
    virtual BMDPixelFormat GetPixelFormat() = 0;
    virtual BMDFrameFlags GetFlags() = 0;
    virtual HRESULT GetBytes(void **buffer) = 0;
};

struct IDeckLinkMutableVideoFrame : IDeckLinkVideoFrame {
    virtual HRESULT SetFlags(BMDFrameFlags flags) = 0;
};

struct IDeckLinkVideoFrameMetadataExtensions : IUnknown {
    virtual HRESULT GetInt(BMDDeckLinkFrameMetadataID id, int64_t *value) = 0;
    virtual HRESULT GetFloat(BMDDeckLinkFrameMetadataID id, double *value) = 0;
    virtual HRESULT GetFlag(BMDDeckLinkFrameMetadataID id, bool *value) = 0;
};

struct IDeckLinkProfileAttributes : IUnknown {
    virtual HRESULT GetFlag(BMDDeckLinkAttributeID id, bool *value) = 0;
};

struct IDeckLinkVideoOutputCallback : IUnknown {
    virtual HRESULT ScheduledFrameCompleted(IDeckLinkVideoFrame *completedFrame,
                                            BMDOutputFrameCompletionResult result) = 0;
    virtual HRESULT ScheduledPlaybackHasStopped() = 0;
};

struct IDeckLinkOutput : IUnknown {
    virtual HRESULT DoesSupportVideoMode(BMDDisplayMode mode, BMDPixelFormat format, BMDVideoOutputFlags flags,
                                         BMDDisplayModeSupport *result, IDeckLinkDisplayMode **resultMode) = 0;
    virtual HRESULT GetDisplayModeIterator(IDeckLinkDisplayModeIterator **iterator) = 0;
    virtual HRESULT EnableVideoOutput(BMDDisplayMode mode, BMDVideoOutputFlags flags) = 0;
    virtual HRESULT DisableVideoOutput() = 0;
    virtual HRESULT CreateVideoFrame(int32_t width, int32_t height, int32_t rowBytes, BMDPixelFormat format,
                                     BMDFrameFlags flags, IDeckLinkMutableVideoFrame **frame) = 0;
    // The frame is on the output (and its memory free to change) on return.
    virtual HRESULT DisplayVideoFrameSync(IDeckLinkVideoFrame *frame) = 0;
    virtual HRESULT ScheduleVideoFrame(IDeckLinkVideoFrame *frame, BMDTimeValue displayTime,
                                       BMDTimeValue displayDuration, BMDTimeScale timeScale) = 0;
    virtual HRESULT SetScheduledFrameCompletionCallback(IDeckLinkVideoOutputCallback *callback) = 0;
};

struct IDeckLinkConfiguration : IUnknown {
    virtual HRESULT GetInt(BMDDeckLinkConfigurationID id, int64_t *value) = 0;
    virtual HRESULT SetInt(BMDDeckLinkConfigurationID id, int64_t value) = 0;
};

struct IDeckLink : IUnknown {
    virtual HRESULT GetModelName(BSTR *name) = 0;
};

struct IDeckLinkIterator : IUnknown {
    // S_FALSE and no device after the last one.
    virtual HRESULT Next(IDeckLink **device) = 0;
};

HRESULT CoInitializeEx(LPVOID reserved, DWORD flags);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown *outer, DWORD context, REFIID iid, LPVOID *object);
BSTR SysAllocString(const wchar_t *text);
void SysFreeString(BSTR text);
