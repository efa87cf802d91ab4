#pragma once
#include "DeckLinkAPI.h"
#include "QiSignal.h"

#include <cstdint>
#include <string>
#include <vector>

// The device frame as shown with HDR static metadata: it answers
// IDeckLinkVideoFrameMetadataExtensions from the signal in force and adds
// bmdFrameContainsHDRMetadata to the device frame's flags.
class BmdHdrFrame final : public IDeckLinkVideoFrame, public IDeckLinkVideoFrameMetadataExtensions {
public:
    explicit BmdHdrFrame(IDeckLinkVideoFrame *inner);
    IDeckLinkVideoFrame *inner() const { return m_inner; }
    void setSignal(const QiSignal &signal) { m_signal = signal; }

    HRESULT QueryInterface(REFIID iid, LPVOID *object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    long GetWidth() override { return m_inner->GetWidth(); }
    long GetHeight() override { return m_inner->GetHeight(); }
    long GetRowBytes() override { return m_inner->GetRowBytes(); }
    BMDPixelFormat GetPixelFormat() override { return m_inner->GetPixelFormat(); }
    BMDFrameFlags GetFlags() override { return m_inner->GetFlags() | bmdFrameContainsHDRMetadata; }
    HRESULT GetBytes(void **buffer) override { return m_inner->GetBytes(buffer); }
    HRESULT GetInt(BMDDeckLinkFrameMetadataID id, int64_t *value) override;
    HRESULT GetFloat(BMDDeckLinkFrameMetadataID id, double *value) override;
    HRESULT GetFlag(BMDDeckLinkFrameMetadataID id, bool *value) override;

private:
    ~BmdHdrFrame() override;
    IDeckLinkVideoFrame *m_inner;
    QiSignal m_signal;
    ULONG m_refs = 1;
};

// BmdRaster's companion: the DeckLink interfaces, the display-mode list and
// the one device frame. It is also the scheduled-frame callback registered
// with the output; as such it is not reference counted (the raster owns it).
class BmdOutput : public IDeckLinkVideoOutputCallback {
public:
    BmdOutput() = default;
    // Unregisters the callback and releases every interface and mode.
    ~BmdOutput() override;

    // Device set-up with its messages; false on the first failure.
    bool open();
    // Reads the default output mode and keeps every display mode in driver order.
    bool buildModeList();
    // The default output mode ('dvom'); false when the driver cannot say.
    bool readDefaultMode(int64_t &mode);
    // The name of mode i as the generator lists it ("HD 720p 60" is "720p 59.94").
    std::string listedName(int32_t index) const;

    HRESULT QueryInterface(REFIID iid, LPVOID *object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT ScheduledFrameCompleted(IDeckLinkVideoFrame *completedFrame, BMDOutputFrameCompletionResult result) override;
    HRESULT ScheduledPlaybackHasStopped() override;

    bool passive = true;
    IDeckLink *device = nullptr;
    IDeckLinkOutput *output = nullptr;
    std::vector<IDeckLinkDisplayMode *> modes; // owned references, driver order
    std::vector<std::string> names;            // driver names, read once
    IDeckLinkConfiguration *configuration = nullptr;
    int32_t modeCount = 0;
    int32_t defaultIndex = 0;
    int32_t currentIndex = 0;
    // The default output mode as last read from the driver (none before the
    // first successful read), and whether a mode has been enabled since.
    int64_t lastDefaultMode = kNoMode;
    bool modeEnabled = false;
    static constexpr int64_t kNoMode = -1;
    BMDTimeValue frameDuration = 0;
    BMDTimeScale timescale = 0;
    IDeckLinkMutableVideoFrame *frame = nullptr;
    // The device frame wrapped for frames with HDR metadata (made on demand).
    BmdHdrFrame *hdrFrame = nullptr;
    // The device says it takes HDR and colorspace metadata.
    bool hdrMetadata = false, colorspaceMetadata = false;
    // The frame to display for a signal: the device frame, or its wrapper.
    IDeckLinkVideoFrame *frameFor(const QiSignal &signal);
    void releaseFrame();
    int64_t scheduledCount = 0;
    uint8_t *frameBytes = nullptr;
    int32_t rowBytes = 0;

private:
    bool m_callbackSet = false;
};

// Narrow copy of a driver name; characters outside ASCII become '?'.
std::string bmdNarrow(const wchar_t *text);
