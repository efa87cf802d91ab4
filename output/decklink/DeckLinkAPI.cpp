// The COM objects of the simulated DeckLink driver. Reference counts are
// real: each object deletes itself on its last Release.
#include "DeckLinkAPI.h"

#include "SimDeckLinkBoard.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

namespace {

SimDeckLinkBoard &board() { return SimDeckLinkBoard::instance(); }

template <class Interface> class SimObject : public Interface {
public:
    HRESULT QueryInterface(REFIID iid, LPVOID *object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown) {
            this->AddRef();
            *object = static_cast<IUnknown *>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override
    {
        ULONG left = --m_refs;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    ~SimObject() override = default;

private:
    std::atomic<ULONG> m_refs{1};
};

BSTR toBstr(const std::string &text)
{
    std::wstring wide(text.begin(), text.end());
    return SysAllocString(wide.c_str());
}

class SimDisplayMode final : public SimObject<IDeckLinkDisplayMode> {
public:
    explicit SimDisplayMode(const SimDeckLinkMode &mode) : m_mode(mode) {}
    HRESULT GetName(BSTR *name) override
    {
        if (!name)
            return E_POINTER;
        *name = nullptr;
        if (m_mode.name.empty())
            return E_FAIL;
        *name = toBstr(m_mode.name);
        return *name ? S_OK : E_OUTOFMEMORY;
    }
    BMDDisplayMode GetDisplayMode() override { return m_mode.code; }
    long GetWidth() override { return m_mode.width; }
    long GetHeight() override { return m_mode.height; }
    HRESULT GetFrameRate(BMDTimeValue *duration, BMDTimeScale *scale) override
    {
        if (!duration || !scale)
            return E_POINTER;
        *duration = m_mode.frameDuration;
        *scale = m_mode.timeScale;
        return S_OK;
    }

private:
    SimDeckLinkMode m_mode;
};

class SimDisplayModeIterator final : public SimObject<IDeckLinkDisplayModeIterator> {
public:
    explicit SimDisplayModeIterator(std::vector<SimDeckLinkMode> modes) : m_modes(std::move(modes)) {}
    HRESULT Next(IDeckLinkDisplayMode **mode) override
    {
        if (!mode)
            return E_POINTER;
        *mode = nullptr;
        if (m_next >= m_modes.size())
            return S_FALSE;
        *mode = new SimDisplayMode(m_modes[m_next++]);
        return S_OK;
    }

private:
    std::vector<SimDeckLinkMode> m_modes;
    size_t m_next = 0;
};

class SimVideoFrame final : public SimObject<IDeckLinkMutableVideoFrame> {
public:
    SimVideoFrame(int32_t width, int32_t height, int32_t rowBytes, BMDPixelFormat format, BMDFrameFlags flags)
        : m_width(width), m_height(height), m_rowBytes(rowBytes), m_format(format), m_flags(flags),
          m_bytes(static_cast<size_t>(rowBytes) * static_cast<size_t>(height))
    {
    }
    long GetWidth() override { return m_width; }
    long GetHeight() override { return m_height; }
    long GetRowBytes() override { return m_rowBytes; }
    BMDPixelFormat GetPixelFormat() override { return m_format; }
    BMDFrameFlags GetFlags() override { return m_flags; }
    HRESULT GetBytes(void **buffer) override
    {
        if (!buffer)
            return E_POINTER;
        *buffer = m_bytes.data();
        return S_OK;
    }
    HRESULT SetFlags(BMDFrameFlags flags) override
    {
        m_flags = flags;
        return S_OK;
    }
    const uint8_t *bytes() const { return m_bytes.data(); }
    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }
    int32_t rowBytes() const { return m_rowBytes; }

private:
    int32_t m_width, m_height, m_rowBytes;
    BMDPixelFormat m_format;
    BMDFrameFlags m_flags;
    std::vector<uint8_t> m_bytes;
};

// What the driver takes from a frame flagged with HDR metadata: the
// transfer function, colorspace and static metadata, turned into the fields
// its HDMI infoframe would carry.
void readFrameMetadata(IDeckLinkVideoFrame *frame, SimSignal &signal)
{
    if (!(frame->GetFlags() & bmdFrameContainsHDRMetadata))
        return;
    IDeckLinkVideoFrameMetadataExtensions *ext = nullptr;
    if (frame->QueryInterface(IID_IDeckLinkVideoFrameMetadataExtensions, reinterpret_cast<LPVOID *>(&ext)) != S_OK ||
        !ext) {
        board().record("DisplayVideoFrameSync: flagged frame without metadata");
        return;
    }
    int64_t eotf = 0, colorspace = 0;
    if (ext->GetInt(bmdDeckLinkFrameMetadataHDRElectroOpticalTransferFunc, &eotf) != S_OK)
        eotf = 0;
    if (ext->GetInt(bmdDeckLinkFrameMetadataColorspace, &colorspace) != S_OK)
        colorspace = bmdColorspaceRec709;
    auto item = [&](BMDDeckLinkFrameMetadataID id) {
        double v = 0;
        return ext->GetFloat(id, &v) == S_OK ? v : 0.0;
    };
    QiSignal s;
    s.mastering = true;
    s.red = {item(bmdDeckLinkFrameMetadataHDRDisplayPrimariesRedX), item(bmdDeckLinkFrameMetadataHDRDisplayPrimariesRedY)};
    s.green = {item(bmdDeckLinkFrameMetadataHDRDisplayPrimariesGreenX),
               item(bmdDeckLinkFrameMetadataHDRDisplayPrimariesGreenY)};
    s.blue = {item(bmdDeckLinkFrameMetadataHDRDisplayPrimariesBlueX),
              item(bmdDeckLinkFrameMetadataHDRDisplayPrimariesBlueY)};
    s.white = {item(bmdDeckLinkFrameMetadataHDRWhitePointX), item(bmdDeckLinkFrameMetadataHDRWhitePointY)};
    s.maxLuminance = item(bmdDeckLinkFrameMetadataHDRMaxDisplayMasteringLuminance);
    s.minLuminance = item(bmdDeckLinkFrameMetadataHDRMinDisplayMasteringLuminance);
    s.maxCll = static_cast<int32_t>(std::clamp(item(bmdDeckLinkFrameMetadataHDRMaximumContentLightLevel), 0.0, 65535.0));
    s.maxFall =
        static_cast<int32_t>(std::clamp(item(bmdDeckLinkFrameMetadataHDRMaximumFrameAverageLightLevel), 0.0, 65535.0));
    ext->Release();
    signal.hdr = qiHdrFields(s);
    signal.hdr.eotf = static_cast<uint8_t>(eotf >= 0 && eotf <= 3 ? eotf : 0);
    signal.hdrPresent = true;
    signal.eotf = eotf == 2 ? kEotfPq : eotf == 3 ? kEotfHlg : kEotfSdr;
    signal.colorimetry = colorspace == bmdColorspaceRec2020 ? kColorimetry2020 : kColorimetry709;
}

class SimAttributes final : public SimObject<IDeckLinkProfileAttributes> {
public:
    HRESULT QueryInterface(REFIID iid, LPVOID *object) override
    {
        if (object && iid == IID_IDeckLinkProfileAttributes) {
            AddRef();
            *object = static_cast<IDeckLinkProfileAttributes *>(this);
            return S_OK;
        }
        return SimObject::QueryInterface(iid, object);
    }
    HRESULT GetFlag(BMDDeckLinkAttributeID id, bool *value) override
    {
        if (!value)
            return E_POINTER;
        if (id == BMDDeckLinkSupportsHDRMetadata || id == BMDDeckLinkSupportsColorspaceMetadata) {
            *value = board().hdrSupported();
            return S_OK;
        }
        return E_INVALIDARG;
    }
};

class SimOutput final : public SimObject<IDeckLinkOutput> {
public:
    HRESULT QueryInterface(REFIID iid, LPVOID *object) override
    {
        if (object && iid == IID_IDeckLinkOutput) {
            AddRef();
            *object = static_cast<IDeckLinkOutput *>(this);
            return S_OK;
        }
        return SimObject::QueryInterface(iid, object);
    }
    HRESULT DoesSupportVideoMode(BMDDisplayMode mode, BMDPixelFormat format, BMDVideoOutputFlags,
                                 BMDDisplayModeSupport *result, IDeckLinkDisplayMode **resultMode) override
    {
        if (resultMode)
            *resultMode = nullptr;
        return board().supports(mode, format, result);
    }
    HRESULT GetDisplayModeIterator(IDeckLinkDisplayModeIterator **iterator) override
    {
        board().record("GetDisplayModeIterator()");
        if (!iterator)
            return E_POINTER;
        *iterator = nullptr;
        if (!board().present())
            return E_FAIL;
        *iterator = new SimDisplayModeIterator(board().modes());
        return S_OK;
    }
    HRESULT EnableVideoOutput(BMDDisplayMode mode, BMDVideoOutputFlags flags) override
    {
        return board().enable(mode, flags);
    }
    HRESULT DisableVideoOutput() override { return board().disable(); }
    HRESULT CreateVideoFrame(int32_t width, int32_t height, int32_t rowBytes, BMDPixelFormat format,
                             BMDFrameFlags flags, IDeckLinkMutableVideoFrame **frame) override
    {
        board().record("CreateVideoFrame(" + std::to_string(width) + "," + std::to_string(height) + "," +
                       std::to_string(rowBytes) + "," + bmdCodeText(format) + ")");
        if (!frame)
            return E_POINTER;
        *frame = nullptr;
        int64_t minimum = SimDeckLinkBoard::minimumRowBytes(format, width);
        if (!board().present() || height <= 0 || minimum == 0 || rowBytes < minimum ||
            int64_t{rowBytes} * height > (int64_t{64} << 20))
            return E_INVALIDARG;
        *frame = new (std::nothrow) SimVideoFrame(width, height, rowBytes, format, flags);
        return *frame ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT DisplayVideoFrameSync(IDeckLinkVideoFrame *frame) override
    {
        if (!frame) {
            board().record("DisplayVideoFrameSync(null)");
            return E_INVALIDARG;
        }
        // Any frame object will do, as with the driver: its memory is read
        // through the interface, its metadata through the extensions.
        void *bytes = nullptr;
        if (frame->GetBytes(&bytes) != S_OK)
            bytes = nullptr;
        SimSignal signal;
        readFrameMetadata(frame, signal);
        return board().display(static_cast<int32_t>(frame->GetWidth()), static_cast<int32_t>(frame->GetHeight()),
                               static_cast<int32_t>(frame->GetRowBytes()), frame->GetPixelFormat(),
                               static_cast<const uint8_t *>(bytes), signal);
    }
    HRESULT ScheduleVideoFrame(IDeckLinkVideoFrame *frame, BMDTimeValue time, BMDTimeValue duration,
                               BMDTimeScale scale) override
    {
        return board().schedule(frame != nullptr, time, duration, scale);
    }
    HRESULT SetScheduledFrameCompletionCallback(IDeckLinkVideoOutputCallback *callback) override
    {
        return board().acceptCallback(callback) ? S_OK : E_FAIL;
    }
};

class SimConfiguration final : public SimObject<IDeckLinkConfiguration> {
public:
    HRESULT QueryInterface(REFIID iid, LPVOID *object) override
    {
        if (object && iid == IID_IDeckLinkConfiguration) {
            AddRef();
            *object = static_cast<IDeckLinkConfiguration *>(this);
            return S_OK;
        }
        return SimObject::QueryInterface(iid, object);
    }
    HRESULT GetInt(BMDDeckLinkConfigurationID id, int64_t *value) override { return board().readInt(id, value); }
    HRESULT SetInt(BMDDeckLinkConfigurationID id, int64_t value) override { return board().writeInt(id, value); }
};

class SimDevice final : public SimObject<IDeckLink> {
public:
    HRESULT QueryInterface(REFIID iid, LPVOID *object) override
    {
        if (object && iid == IID_IDeckLinkOutput) {
            board().record("QueryInterface(IDeckLinkOutput)");
            *object = nullptr;
            if (!board().outputAvailable())
                return E_NOINTERFACE;
            *object = static_cast<IDeckLinkOutput *>(new SimOutput);
            return S_OK;
        }
        if (object && iid == IID_IDeckLinkProfileAttributes) {
            *object = static_cast<IDeckLinkProfileAttributes *>(new SimAttributes);
            return S_OK;
        }
        if (object && iid == IID_IDeckLinkConfiguration) {
            board().record("QueryInterface(IDeckLinkConfiguration)");
            *object = nullptr;
            if (!board().configurationAvailable())
                return E_NOINTERFACE;
            *object = static_cast<IDeckLinkConfiguration *>(new SimConfiguration);
            return S_OK;
        }
        return SimObject::QueryInterface(iid, object);
    }
    HRESULT GetModelName(BSTR *name) override
    {
        if (!name)
            return E_POINTER;
        *name = toBstr("DeckLink Simulated");
        return S_OK;
    }
};

class SimIterator final : public SimObject<IDeckLinkIterator> {
public:
    HRESULT QueryInterface(REFIID iid, LPVOID *object) override
    {
        if (object && iid == IID_IDeckLinkIterator) {
            AddRef();
            *object = static_cast<IDeckLinkIterator *>(this);
            return S_OK;
        }
        return SimObject::QueryInterface(iid, object);
    }
    HRESULT Next(IDeckLink **device) override
    {
        board().record("IDeckLinkIterator::Next()");
        if (!device)
            return E_POINTER;
        *device = nullptr;
        if (m_next >= board().deviceCount())
            return S_FALSE;
        ++m_next;
        *device = new SimDevice;
        return S_OK;
    }

private:
    int32_t m_next = 0;
};

} // namespace

HRESULT CoInitializeEx(LPVOID, DWORD)
{
    board().record("CoInitializeEx()");
    return S_OK;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown *outer, DWORD, REFIID iid, LPVOID *object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    bool installed = board().driverInstalled();
    if (!installed || !(clsid == CLSID_CDeckLinkIterator))
        return REGDB_E_CLASSNOTREG;
    if (outer)
        return static_cast<HRESULT>(0x80040110u); // CLASS_E_NOAGGREGATION
    auto *iterator = new SimIterator;
    HRESULT hr = iterator->QueryInterface(iid, object);
    iterator->Release();
    return hr;
}

BSTR SysAllocString(const wchar_t *text)
{
    if (!text)
        return nullptr;
    size_t length = std::wcslen(text);
    auto *copy = new (std::nothrow) wchar_t[length + 1];
    if (copy)
        std::wmemcpy(copy, text, length + 1);
    return copy;
}

void SysFreeString(BSTR text) { delete[] text; }
