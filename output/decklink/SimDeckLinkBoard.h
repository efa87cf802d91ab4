#pragma once
#include "DeckLinkAPI.h"
#include "SimFrame.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// One display mode of the simulated driver.
struct SimDeckLinkMode {
    BMDDisplayMode code;
    std::string name; // empty: the driver cannot give its name
    int32_t width;
    int32_t height;
    BMDTimeValue frameDuration;
    BMDTimeScale timeScale;
    // Pixel formats the mode supports, as bits of SimDeckLinkBoard::pixelFormatBit.
    uint32_t support;
};

// The simulated DeckLink driver and card behind the COM layer: the device
// count, the display modes with their pixel-format support, the default output
// mode ('dvom'), the enabled mode, the frame on the output and a log of the
// calls. One per process; thread-safe (the monitor window reads the output
// frame while the render thread displays frames).
class SimDeckLinkBoard {
public:
    static SimDeckLinkBoard &instance();

    // Present (driver installed, one card) or absent (no driver), in the
    // starting state: the realistic mode list, every mode supporting every
    // pixel format, default output mode 'Hp60', then ORVANE_SIM_DECKLINK
    // ("mode=CODE") and the ORVANE_SIM_CAPTURE folder applied.
    void reset(bool present);
    bool present() const;

    // The driver's mode list in its order.
    static std::vector<SimDeckLinkMode> standardModes();
    // Bit of a pixel format in SimDeckLinkMode::support; 0 for unknown formats.
    static uint32_t pixelFormatBit(BMDPixelFormat format);
    // Bytes per row the driver needs at least for width pixels; 0 for unknown formats.
    static int64_t minimumRowBytes(BMDPixelFormat format, int64_t width);
    // Layout name of a pixel format in the capture description.
    static const char *layoutOf(BMDPixelFormat format);

    // Set-up, as tests and the driver's control panel see it (not logged).
    void setDeviceCount(int32_t count);
    void setInterfaces(bool output, bool configuration);
    void setCallbackRefused(bool refused);
    std::vector<SimDeckLinkMode> modes() const;
    void setModes(const std::vector<SimDeckLinkMode> &modes);
    // False when no mode has this code.
    bool setModeSupport(BMDDisplayMode code, const std::vector<BMDPixelFormat> &formats);
    BMDDisplayMode defaultMode() const;
    void setDefaultMode(BMDDisplayMode code);
    void setDefaultModeReadFails(bool fails);
    void setEnableFails(bool fails);
    // The enabled mode, 0 when output is disabled.
    BMDDisplayMode enabledMode() const;
    int64_t scheduledFrames() const;
    // The callback object registered with the output, or null.
    IDeckLinkVideoOutputCallback *callback() const;

    // Every call made through the COM layer, e.g. "EnableVideoOutput(hp60,0)".
    std::vector<std::string> calls() const;
    void clearCalls();

    // The frame now on the output; false before the first frame.
    bool outputFrame(SimFrame &frame) const;
    uint64_t sequence() const;
    void setCaptureFolder(const std::string &folder);

    // The COM layer's entry points; each records the call.
    void record(const std::string &call);
    bool driverInstalled();
    int32_t deviceCount() const;
    bool outputAvailable() const;
    bool configurationAvailable() const;
    bool acceptCallback(IDeckLinkVideoOutputCallback *callback);
    HRESULT readInt(BMDDeckLinkConfigurationID id, int64_t *value);
    HRESULT writeInt(BMDDeckLinkConfigurationID id, int64_t value);
    HRESULT supports(BMDDisplayMode mode, BMDPixelFormat format, BMDDisplayModeSupport *result);
    HRESULT enable(BMDDisplayMode mode, BMDVideoOutputFlags flags);
    HRESULT disable();
    HRESULT display(int32_t width, int32_t height, int32_t rowBytes, BMDPixelFormat format, const uint8_t *bytes,
                    const SimSignal &signal = {});
    // The device's answer to BMDDeckLinkSupportsHDRMetadata and
    // ...ColorspaceMetadata (true unless a test says otherwise).
    bool hdrSupported() const;
    void setHdrSupported(bool supported);
    HRESULT schedule(bool frame, BMDTimeValue time, BMDTimeValue duration, BMDTimeScale scale);

private:
    SimDeckLinkBoard();
    void resetLocked(bool present);
    void recordLocked(const std::string &call);
    const SimDeckLinkMode *findLocked(BMDDisplayMode code) const;

    mutable std::mutex m_mutex;
    bool m_present = false;
    int32_t m_deviceCount = 1;
    bool m_outputInterface = true;
    bool m_configurationInterface = true;
    bool m_callbackRefused = false;
    std::vector<SimDeckLinkMode> m_modes;
    BMDDisplayMode m_defaultMode = 0;
    bool m_defaultModeReadFails = false;
    bool m_enableFails = false;
    bool m_hdrSupported = true;
    BMDDisplayMode m_enabled = 0;
    IDeckLinkVideoOutputCallback *m_callback = nullptr;
    int64_t m_scheduled = 0;
    std::vector<std::string> m_calls;
    SimFrame m_output;
    bool m_haveOutput = false;
    uint64_t m_sequence = 0;
    std::string m_captureFolder;
    std::string m_captureError; // the capture failure last logged
};

// Four-character text of a code, most significant first ("Hp60").
std::string bmdCodeText(uint32_t code);
