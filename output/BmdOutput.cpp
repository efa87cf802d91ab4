#include "BmdOutput.h"

#include "QiLog.h"

#include <cstdio>

std::string bmdNarrow(const wchar_t *text)
{
    std::string out;
    if (!text)
        return out;
    for (; *text; ++text)
        out += (*text >= 0x20 && *text < 0x7F) ? static_cast<char>(*text) : '?';
    return out;
}

BmdHdrFrame::BmdHdrFrame(IDeckLinkVideoFrame *inner) : m_inner(inner) { m_inner->AddRef(); }

BmdHdrFrame::~BmdHdrFrame() { m_inner->Release(); }

HRESULT BmdHdrFrame::QueryInterface(REFIID iid, LPVOID *object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid == IID_IDeckLinkVideoFrameMetadataExtensions) {
        *object = static_cast<IDeckLinkVideoFrameMetadataExtensions *>(this);
    } else if (iid == IID_IUnknown) {
        *object = static_cast<IDeckLinkVideoFrame *>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG BmdHdrFrame::AddRef() { return ++m_refs; }

ULONG BmdHdrFrame::Release()
{
    ULONG left = --m_refs;
    if (left == 0)
        delete this;
    return left;
}

HRESULT BmdHdrFrame::GetInt(BMDDeckLinkFrameMetadataID id, int64_t *value)
{
    if (!value)
        return E_POINTER;
    if (id == bmdDeckLinkFrameMetadataHDRElectroOpticalTransferFunc)
        *value = qiCtaEotf(m_signal.eotf);
    else if (id == bmdDeckLinkFrameMetadataColorspace)
        *value = m_signal.colorimetry == kColorimetry2020 ? bmdColorspaceRec2020 : bmdColorspaceRec709;
    else
        return E_INVALIDARG;
    return S_OK;
}

HRESULT BmdHdrFrame::GetFloat(BMDDeckLinkFrameMetadataID id, double *value)
{
    if (!value)
        return E_POINTER;
    // Without the mastering display (HLG by habit) its items read as 0, as
    // they go out in the infoframe.
    const bool m = m_signal.mastering;
    switch (id) {
    case bmdDeckLinkFrameMetadataHDRDisplayPrimariesRedX: *value = m ? m_signal.red.x : 0; break;
    case bmdDeckLinkFrameMetadataHDRDisplayPrimariesRedY: *value = m ? m_signal.red.y : 0; break;
    case bmdDeckLinkFrameMetadataHDRDisplayPrimariesGreenX: *value = m ? m_signal.green.x : 0; break;
    case bmdDeckLinkFrameMetadataHDRDisplayPrimariesGreenY: *value = m ? m_signal.green.y : 0; break;
    case bmdDeckLinkFrameMetadataHDRDisplayPrimariesBlueX: *value = m ? m_signal.blue.x : 0; break;
    case bmdDeckLinkFrameMetadataHDRDisplayPrimariesBlueY: *value = m ? m_signal.blue.y : 0; break;
    case bmdDeckLinkFrameMetadataHDRWhitePointX: *value = m ? m_signal.white.x : 0; break;
    case bmdDeckLinkFrameMetadataHDRWhitePointY: *value = m ? m_signal.white.y : 0; break;
    case bmdDeckLinkFrameMetadataHDRMaxDisplayMasteringLuminance: *value = m ? m_signal.maxLuminance : 0; break;
    case bmdDeckLinkFrameMetadataHDRMinDisplayMasteringLuminance: *value = m ? m_signal.minLuminance : 0; break;
    case bmdDeckLinkFrameMetadataHDRMaximumContentLightLevel: *value = m_signal.maxCll; break;
    case bmdDeckLinkFrameMetadataHDRMaximumFrameAverageLightLevel: *value = m_signal.maxFall; break;
    default: return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT BmdHdrFrame::GetFlag(BMDDeckLinkFrameMetadataID, bool *value)
{
    if (!value)
        return E_POINTER;
    return E_INVALIDARG;
}

IDeckLinkVideoFrame *BmdOutput::frameFor(const QiSignal &signal)
{
    if (!frame || !signal.metadata || !hdrMetadata)
        return frame;
    if (hdrFrame && hdrFrame->inner() != frame) {
        hdrFrame->Release();
        hdrFrame = nullptr;
    }
    if (!hdrFrame)
        hdrFrame = new BmdHdrFrame(frame);
    hdrFrame->setSignal(signal);
    return hdrFrame;
}

void BmdOutput::releaseFrame()
{
    if (hdrFrame)
        hdrFrame->Release();
    hdrFrame = nullptr;
    if (frame)
        frame->Release();
    frame = nullptr;
    frameBytes = nullptr;
}

BmdOutput::~BmdOutput()
{
    if (hdrFrame)
        hdrFrame->Release();
    if (frame)
        frame->Release();
    for (IDeckLinkDisplayMode *mode : modes)
        mode->Release();
    if (output) {
        if (m_callbackSet)
            output->SetScheduledFrameCompletionCallback(nullptr);
        output->Release();
    }
    if (configuration)
        configuration->Release();
    if (device)
        device->Release();
}

bool BmdOutput::open()
{
    std::fprintf(stderr, "%s: creating deckLinkIterator\n", "BmdRaster::init");
    CoInitializeEx(nullptr, 0);
    IDeckLinkIterator *iterator = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_CDeckLinkIterator, nullptr, CLSCTX_ALL, IID_IDeckLinkIterator,
                                  reinterpret_cast<LPVOID *>(&iterator));
    if (FAILED(hr) || !iterator) {
        qiLog(3, "This application requires the DeckLink drivers installed.\n");
        return false;
    }
    std::fprintf(stderr, "deckLinkIterator: %p\n", static_cast<void *>(iterator));

    bool ok = false;
    if (iterator->Next(&device) != S_OK || !device) {
        device = nullptr;
        qiLog(3, "No DeckLink PCI cards found\n");
    } else if (device->QueryInterface(IID_IDeckLinkOutput, reinterpret_cast<LPVOID *>(&output)) != S_OK ||
               !output) {
        output = nullptr;
        qiLog(3, "Could not get the IDeckLinkOutput interface\n");
    } else if (device->QueryInterface(IID_IDeckLinkConfiguration, reinterpret_cast<LPVOID *>(&configuration)) !=
                   S_OK ||
               !configuration) {
        configuration = nullptr;
        qiLog(3, "Could not get the IDeckLinkConfiguration interface\n");
    } else {
        IDeckLinkProfileAttributes *attributes = nullptr;
        if (device->QueryInterface(IID_IDeckLinkProfileAttributes, reinterpret_cast<LPVOID *>(&attributes)) == S_OK &&
            attributes) {
            bool flag = false;
            hdrMetadata = attributes->GetFlag(BMDDeckLinkSupportsHDRMetadata, &flag) == S_OK && flag;
            flag = false;
            colorspaceMetadata = attributes->GetFlag(BMDDeckLinkSupportsColorspaceMetadata, &flag) == S_OK && flag;
            attributes->Release();
        }
        m_callbackSet = output->SetScheduledFrameCompletionCallback(this) == S_OK;
        if (!m_callbackSet)
            qiLog(3, "Couldn't set scheduled frame callback to this\n");
        ok = buildModeList();
    }
    iterator->Release();
    return ok;
}

bool BmdOutput::readDefaultMode(int64_t &mode)
{
    mode = 0;
    return configuration && configuration->GetInt(bmdDeckLinkConfigDefaultVideoOutputMode, &mode) == S_OK;
}

bool BmdOutput::buildModeList()
{
    int64_t defMode = 0;
    if (!readDefaultMode(defMode))
        qiLog(3, "\n\n%s: getDefMode failed (wtf)\n\n", "BmdOutput::buildModeList");
    else
        lastDefaultMode = defMode;
    qiLog(3, "%s: defMode is %c%c%c%c\n", "BmdOutput::buildModeList", static_cast<char>((defMode >> 24) & 0xFF),
          static_cast<char>((defMode >> 16) & 0xFF), static_cast<char>((defMode >> 8) & 0xFF),
          static_cast<char>(defMode & 0xFF));

    if (!output)
        return false;
    // A fresh list replaces any earlier one.
    for (IDeckLinkDisplayMode *mode : modes)
        mode->Release();
    modes.clear();
    names.clear();
    modeCount = 0;
    defaultIndex = 0;

    IDeckLinkDisplayModeIterator *iterator = nullptr;
    if (output->GetDisplayModeIterator(&iterator) != S_OK || !iterator)
        return false;
    int32_t count = 0;
    IDeckLinkDisplayMode *mode = nullptr;
    while (iterator->Next(&mode) == S_OK && mode) {
        ++count;
        mode->Release();
    }
    iterator->Release();

    iterator = nullptr;
    if (output->GetDisplayModeIterator(&iterator) != S_OK || !iterator)
        return false;
    modes.reserve(static_cast<size_t>(count));
    bool defaultFound = false;
    // Never more than the first pass counted, should the driver's list grow.
    while (static_cast<int32_t>(modes.size()) < count && iterator->Next(&mode) == S_OK && mode) {
        if (!defaultFound && static_cast<int64_t>(mode->GetDisplayMode()) == defMode) {
            defaultIndex = static_cast<int32_t>(modes.size());
            defaultFound = true;
        }
        BSTR name = nullptr;
        if (mode->GetName(&name) == S_OK && name) {
            names.push_back(bmdNarrow(name));
            SysFreeString(name);
        } else {
            // A mode without a readable name still needs a distinct entry.
            BMDDisplayMode code = mode->GetDisplayMode();
            char text[32];
            std::snprintf(text, sizeof text, "Mode %c%c%c%c", static_cast<char>((code >> 24) & 0xFF),
                          static_cast<char>((code >> 16) & 0xFF), static_cast<char>((code >> 8) & 0xFF),
                          static_cast<char>(code & 0xFF));
            names.push_back(text);
        }
        modes.push_back(mode);
    }
    iterator->Release();
    modeCount = static_cast<int32_t>(modes.size());
    return true;
}

std::string BmdOutput::listedName(int32_t index) const
{
    if (index < 0 || index >= modeCount)
        return "";
    // The safe mode asks for "720p 59.94" on both cards.
    return names[static_cast<size_t>(index)] == "HD 720p 60" ? "720p 59.94" : names[static_cast<size_t>(index)];
}

HRESULT BmdOutput::QueryInterface(REFIID, LPVOID *object)
{
    if (object)
        *object = nullptr;
    return E_NOINTERFACE;
}

ULONG BmdOutput::AddRef() { return 1; }
ULONG BmdOutput::Release() { return 1; }

HRESULT BmdOutput::ScheduledFrameCompleted(IDeckLinkVideoFrame *, BMDOutputFrameCompletionResult)
{
    if (output && frame &&
        output->ScheduleVideoFrame(frame, scheduledCount * frameDuration, frameDuration, timescale) == S_OK)
        ++scheduledCount;
    return S_OK;
}

HRESULT BmdOutput::ScheduledPlaybackHasStopped() { return S_OK; }
