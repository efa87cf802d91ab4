#include "SimDeckLinkBoard.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string callText(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string callText(const char *format, ...)
{
    char text[200];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

constexpr BMDPixelFormat kPixelFormats[] = {bmdFormat8BitYUV, bmdFormat10BitYUV, bmdFormat8BitARGB, bmdFormat8BitBGRA,
                                            bmdFormat10BitRGB};
constexpr uint32_t kAllFormats = (1u << 5) - 1;

// Largest frame the simulated card accepts (a 4K DCI frame of r210 fits).
constexpr int64_t kFrameCapacity = int64_t{64} << 20;

} // namespace

std::string bmdCodeText(uint32_t code)
{
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
        text[i] = (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

std::vector<SimDeckLinkMode> SimDeckLinkBoard::standardModes()
{
    struct Rate {
        const char *suffix;
        const char *name;
        BMDTimeValue duration;
        BMDTimeScale scale;
    };
    std::vector<SimDeckLinkMode> modes = {
        {bmdFourCC("ntsc"), "NTSC", 720, 486, 1001, 30000, kAllFormats},
        {bmdFourCC("pal "), "PAL", 720, 576, 1000, 25000, kAllFormats},
        {bmdFourCC("hp50"), "HD 720p 50", 1280, 720, 1000, 50000, kAllFormats},
        {bmdFourCC("hp59"), "HD 720p 59.94", 1280, 720, 1001, 60000, kAllFormats},
        {bmdFourCC("hp60"), "HD 720p 60", 1280, 720, 1000, 60000, kAllFormats},
        {bmdFourCC("Hi50"), "HD 1080i 50", 1920, 1080, 1000, 25000, kAllFormats},
        {bmdFourCC("Hi59"), "HD 1080i 59.94", 1920, 1080, 1001, 30000, kAllFormats},
        {bmdFourCC("Hi60"), "HD 1080i 60", 1920, 1080, 1000, 30000, kAllFormats},
        {bmdFourCC("23ps"), "HD 1080p 23.98", 1920, 1080, 1001, 24000, kAllFormats},
        {bmdFourCC("24ps"), "HD 1080p 24", 1920, 1080, 1000, 24000, kAllFormats},
        {bmdFourCC("Hp25"), "HD 1080p 25", 1920, 1080, 1000, 25000, kAllFormats},
        {bmdFourCC("Hp29"), "HD 1080p 29.97", 1920, 1080, 1001, 30000, kAllFormats},
        {bmdFourCC("Hp30"), "HD 1080p 30", 1920, 1080, 1000, 30000, kAllFormats},
        {bmdFourCC("Hp50"), "HD 1080p 50", 1920, 1080, 1000, 50000, kAllFormats},
        {bmdFourCC("Hp59"), "HD 1080p 59.94", 1920, 1080, 1001, 60000, kAllFormats},
        {bmdFourCC("Hp60"), "HD 1080p 60", 1920, 1080, 1000, 60000, kAllFormats},
        {bmdFourCC("2k23"), "2K 23.98", 2048, 1556, 1001, 24000, kAllFormats},
        {bmdFourCC("2k24"), "2K 24", 2048, 1556, 1000, 24000, kAllFormats},
        {bmdFourCC("2k25"), "2K 25", 2048, 1556, 1000, 25000, kAllFormats},
        {bmdFourCC("2d23"), "2K DCI 23.98", 2048, 1080, 1001, 24000, kAllFormats},
        {bmdFourCC("2d24"), "2K DCI 24", 2048, 1080, 1000, 24000, kAllFormats},
        {bmdFourCC("2d25"), "2K DCI 25", 2048, 1080, 1000, 25000, kAllFormats},
    };
    const Rate rates[] = {{"23", "23.98", 1001, 24000}, {"24", "24", 1000, 24000}, {"25", "25", 1000, 25000},
                          {"29", "29.97", 1001, 30000}, {"30", "30", 1000, 30000}, {"50", "50", 1000, 50000},
                          {"59", "59.94", 1001, 60000}, {"60", "60", 1000, 60000}};
    for (const char *family : {"4k", "4d"}) {
        bool dci = family[1] == 'd';
        for (const Rate &r : rates) {
            char code[5] = {family[0], family[1], r.suffix[0], r.suffix[1], 0};
            modes.push_back({bmdFourCC(code), std::string(dci ? "4K DCI " : "4K ") + r.name, dci ? 4096 : 3840, 2160,
                             r.duration, r.scale, kAllFormats});
        }
    }
    return modes;
}

uint32_t SimDeckLinkBoard::pixelFormatBit(BMDPixelFormat format)
{
    for (uint32_t i = 0; i < 5; ++i)
        if (kPixelFormats[i] == format)
            return 1u << i;
    return 0;
}

int64_t SimDeckLinkBoard::minimumRowBytes(BMDPixelFormat format, int64_t width)
{
    if (width <= 0)
        return 0;
    switch (format) {
    case bmdFormat8BitYUV: return 2 * width;
    case bmdFormat10BitYUV: return (width + 47) / 48 * 128;
    case bmdFormat8BitARGB:
    case bmdFormat8BitBGRA: return 4 * width;
    case bmdFormat10BitRGB: return (width + 63) / 64 * 256;
    default: return 0;
    }
}

const char *SimDeckLinkBoard::layoutOf(BMDPixelFormat format)
{
    switch (format) {
    case bmdFormat8BitYUV: return "uyvy";
    case bmdFormat10BitYUV: return "v210";
    case bmdFormat8BitARGB: return "argb";
    case bmdFormat8BitBGRA: return "bgra";
    case bmdFormat10BitRGB: return "r210";
    default: return "none";
    }
}

SimDeckLinkBoard &SimDeckLinkBoard::instance()
{
    static SimDeckLinkBoard board;
    return board;
}

SimDeckLinkBoard::SimDeckLinkBoard() { resetLocked(false); }

void SimDeckLinkBoard::reset(bool present)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    resetLocked(present);
}

void SimDeckLinkBoard::resetLocked(bool present)
{
    m_present = present;
    m_deviceCount = 1;
    m_outputInterface = m_configurationInterface = true;
    m_callbackRefused = false;
    m_modes = standardModes();
    m_defaultMode = bmdFourCC("Hp60");
    m_defaultModeReadFails = false;
    m_enableFails = false;
    m_hdrSupported = true;
    m_enabled = 0;
    m_callback = nullptr;
    m_scheduled = 0;
    m_calls.clear();
    m_output = SimFrame{};
    m_haveOutput = false;
    m_sequence = 0;
    m_captureFolder = present ? simCaptureFolderFromEnvironment() : "";
    m_captureError.clear();
    const char *env = present ? std::getenv("ORVANE_SIM_DECKLINK") : nullptr;
    if (env && *env) {
        std::string text = env;
        bool used = false;
        if (text.size() == 9 && text.compare(0, 5, "mode=") == 0) {
            char code[5] = {text[5], text[6], text[7], text[8], 0};
            if (findLocked(bmdFourCC(code))) {
                m_defaultMode = bmdFourCC(code);
                used = true;
            }
        }
        if (!used)
            std::fprintf(stderr, "ORVANE_SIM_DECKLINK: ignoring '%s'\n", env);
    }
}

const SimDeckLinkMode *SimDeckLinkBoard::findLocked(BMDDisplayMode code) const
{
    for (const auto &mode : m_modes)
        if (mode.code == code)
            return &mode;
    return nullptr;
}

bool SimDeckLinkBoard::present() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_present;
}

void SimDeckLinkBoard::setDeviceCount(int32_t count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_deviceCount = count < 0 ? 0 : count;
}

void SimDeckLinkBoard::setInterfaces(bool output, bool configuration)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outputInterface = output;
    m_configurationInterface = configuration;
}

void SimDeckLinkBoard::setCallbackRefused(bool refused)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_callbackRefused = refused;
}

std::vector<SimDeckLinkMode> SimDeckLinkBoard::modes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_modes;
}

void SimDeckLinkBoard::setModes(const std::vector<SimDeckLinkMode> &modes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_modes = modes;
}

bool SimDeckLinkBoard::setModeSupport(BMDDisplayMode code, const std::vector<BMDPixelFormat> &formats)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto &mode : m_modes)
        if (mode.code == code) {
            mode.support = 0;
            for (BMDPixelFormat f : formats)
                mode.support |= pixelFormatBit(f);
            return true;
        }
    return false;
}

BMDDisplayMode SimDeckLinkBoard::defaultMode() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_defaultMode;
}

void SimDeckLinkBoard::setDefaultMode(BMDDisplayMode code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_defaultMode = code;
}

void SimDeckLinkBoard::setDefaultModeReadFails(bool fails)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_defaultModeReadFails = fails;
}

void SimDeckLinkBoard::setEnableFails(bool fails)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_enableFails = fails;
}

BMDDisplayMode SimDeckLinkBoard::enabledMode() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_enabled;
}

int64_t SimDeckLinkBoard::scheduledFrames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_scheduled;
}

IDeckLinkVideoOutputCallback *SimDeckLinkBoard::callback() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_callback;
}

std::vector<std::string> SimDeckLinkBoard::calls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

void SimDeckLinkBoard::clearCalls()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.clear();
}

bool SimDeckLinkBoard::outputFrame(SimFrame &frame) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_haveOutput)
        return false;
    frame = m_output;
    return true;
}

uint64_t SimDeckLinkBoard::sequence() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sequence;
}

void SimDeckLinkBoard::setCaptureFolder(const std::string &folder)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_captureFolder = folder;
    m_captureError.clear();
}

void SimDeckLinkBoard::record(const std::string &call)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(call);
}

void SimDeckLinkBoard::recordLocked(const std::string &call)
{
    if (m_calls.size() >= 100000)
        m_calls.erase(m_calls.begin(), m_calls.begin() + 50000);
    m_calls.push_back(call);
}

bool SimDeckLinkBoard::driverInstalled()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked("CoCreateInstance(CDeckLinkIterator)");
    return m_present;
}

int32_t SimDeckLinkBoard::deviceCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_present ? m_deviceCount : 0;
}

bool SimDeckLinkBoard::outputAvailable() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_present && m_outputInterface;
}

bool SimDeckLinkBoard::configurationAvailable() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_present && m_configurationInterface;
}

bool SimDeckLinkBoard::acceptCallback(IDeckLinkVideoOutputCallback *callback)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(callback ? "SetScheduledFrameCompletionCallback(object)" : "SetScheduledFrameCompletionCallback(null)");
    if (callback && m_callbackRefused)
        return false;
    m_callback = callback;
    return true;
}

HRESULT SimDeckLinkBoard::readInt(BMDDeckLinkConfigurationID id, int64_t *value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked("GetInt(" + bmdCodeText(id) + ")");
    if (!value)
        return E_POINTER;
    if (!m_present || id != bmdDeckLinkConfigDefaultVideoOutputMode || m_defaultModeReadFails)
        return E_INVALIDARG;
    *value = static_cast<int64_t>(m_defaultMode);
    return S_OK;
}

HRESULT SimDeckLinkBoard::writeInt(BMDDeckLinkConfigurationID id, int64_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(callText("SetInt(%s,%lld)", bmdCodeText(id).c_str(), static_cast<long long>(value)));
    if (!m_present || id != bmdDeckLinkConfigDefaultVideoOutputMode || value < 0 || value > 0xFFFFFFFFll)
        return E_INVALIDARG;
    m_defaultMode = static_cast<BMDDisplayMode>(value);
    return S_OK;
}

HRESULT SimDeckLinkBoard::supports(BMDDisplayMode mode, BMDPixelFormat format, BMDDisplayModeSupport *result)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked("DoesSupportVideoMode(" + bmdCodeText(mode) + "," + bmdCodeText(format) + ")");
    if (!result)
        return E_POINTER;
    *result = bmdDisplayModeNotSupported;
    if (!m_present)
        return E_FAIL;
    const SimDeckLinkMode *m = findLocked(mode);
    if (!m)
        return E_INVALIDARG;
    if (m->support & pixelFormatBit(format))
        *result = bmdDisplayModeSupported;
    return S_OK;
}

HRESULT SimDeckLinkBoard::enable(BMDDisplayMode mode, BMDVideoOutputFlags flags)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(callText("EnableVideoOutput(%s,%u)", bmdCodeText(mode).c_str(), flags));
    if (!m_present || m_enableFails || !findLocked(mode))
        return E_FAIL;
    // The driver refuses to switch an enabled output to another mode.
    if (m_enabled != 0)
        return E_ACCESSDENIED;
    m_enabled = mode;
    return S_OK;
}

HRESULT SimDeckLinkBoard::disable()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked("DisableVideoOutput()");
    if (!m_present)
        return E_FAIL;
    m_enabled = 0;
    return S_OK;
}

bool SimDeckLinkBoard::hdrSupported() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hdrSupported;
}

void SimDeckLinkBoard::setHdrSupported(bool supported)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hdrSupported = supported;
}

HRESULT SimDeckLinkBoard::display(int32_t width, int32_t height, int32_t rowBytes, BMDPixelFormat format,
                                  const uint8_t *bytes, const SimSignal &signal)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(callText("DisplayVideoFrameSync(%dx%d,%d,%s)", width, height, rowBytes, bmdCodeText(format).c_str()));
    if (!m_present || !bytes)
        return E_FAIL;
    const SimDeckLinkMode *mode = findLocked(m_enabled);
    // Output must be enabled, and the frame must have the mode's size.
    if (!mode)
        return E_ACCESSDENIED;
    if (mode->width != width || mode->height != height || !(mode->support & pixelFormatBit(format)))
        return E_INVALIDARG;
    m_output.bytes.assign(bytes, bytes + static_cast<size_t>(rowBytes) * static_cast<size_t>(height));
    m_output.width = width;
    m_output.height = height;
    m_output.rowBytes = static_cast<uint32_t>(rowBytes);
    m_output.layout = layoutOf(format);
    // Listed as the generator lists it.
    m_output.videoFormat = mode->name == "HD 720p 60" ? "720p 59.94" : mode->name;
    m_output.sequence = ++m_sequence;
    m_output.signal = signal;
    m_output.signal.bitDepth = (format == bmdFormat10BitYUV || format == bmdFormat10BitRGB) ? 10 : 8;
    m_haveOutput = true;
    if (!m_captureFolder.empty())
        writeSimCaptureLogged(m_captureFolder, "decklink", m_output, m_captureError);
    return S_OK;
}

HRESULT SimDeckLinkBoard::schedule(bool frame, BMDTimeValue time, BMDTimeValue duration, BMDTimeScale scale)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordLocked(callText("ScheduleVideoFrame(%lld,%lld,%lld)", static_cast<long long>(time),
                          static_cast<long long>(duration), static_cast<long long>(scale)));
    if (!m_present || !frame || m_enabled == 0 || duration <= 0 || scale <= 0)
        return E_FAIL;
    ++m_scheduled;
    return S_OK;
}
