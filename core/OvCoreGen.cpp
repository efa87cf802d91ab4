// Generator output options: applied by the render thread before each draw.
#include "OvCore.h"
#include "OvGenOptions.h"
#include "QiLog.h"
#include "QiRaster.h"

void OvCore::genStart()
{
    OvGenOptions::blackLevel.value = m_raster->blackLevel();
    OvGenOptions::whiteLevel.value = m_raster->whiteLevel();
    OvGenOptions::bitDepth.value = m_raster->bits();
    rescanFormats();
    m_gen.outputColor = static_cast<int32_t>(OvGenOptions::outputColor.defaultIndex());
    m_gen.gateColorRed = m_gen.gateColorGreen = m_gen.gateColorBlue = 0;
    m_gen.colorEncoding = static_cast<int32_t>(OvGenOptions::colorEncoding.defaultIndex());
    m_gen.titling = false;
    m_gen.gateRed = m_gen.gateGreen = m_gen.gateBlue = false;
    m_gen.mute = false;
    {
        std::lock_guard<std::mutex> signalGuard(m_signalLock);
        m_signalSettings = SignalSettings{};
        m_signal = m_raster->signal();
    }
    std::lock_guard<std::mutex> guard(m_formatNameLock);
    m_formatName = m_raster->currentFormat();
    m_frameWidth = m_raster->width();
    m_frameHeight = m_raster->height();
}

bool OvCore::rescanFormats()
{
    std::lock_guard<std::mutex> guard(m_formatsLock);
    m_raster->rescanFormats();
    std::vector<std::string> names;
    int32_t def = 0;
    m_raster->getFormatList(names, def);
    if (def < 0 || static_cast<size_t>(def) >= names.size())
        def = 0;
    QiOptEnum &vf = OvGenOptions::videoFormat;
    // Rescans mostly find what was there: keep the list readers already use.
    if (names != vf.values() || static_cast<unsigned>(def) != vf.defaultIndex())
        vf.setValues(names, static_cast<unsigned>(def));
    m_gen.videoFormat = def;
    return true;
}

bool OvCore::setGenOpts(QiParams &params)
{
    bool rr = m_raster->rerenderP();
    bool dirty = false;
    QiImageCoder &coder = m_raster->coder();

    bool titling = m_gen.titling;
    if (params.getBoolToggle("OutputTitling", titling) && titling != m_gen.titling) {
        m_gen.titling = titling;
        rr = true;
    }

    bool mute = m_gen.mute;
    if (params.getBoolToggle("VideoMute", mute) && mute != m_gen.mute) {
        m_gen.mute = mute;
        if (mute) {
            if (coder.setOverrides(7, 70, 70, 70))
                rr = true;
        } else {
            dirty = true;
        }
    }

    struct Gate {
        const char *key;
        std::atomic<bool> &flag;
    } gates[] = {{"GateRed", m_gen.gateRed}, {"GateGreen", m_gen.gateGreen}, {"GateBlue", m_gen.gateBlue}};
    for (Gate &g : gates) {
        bool v = g.flag;
        if (params.getBoolToggle(g.key, v) && v != g.flag) {
            g.flag = v;
            dirty = true;
        }
    }

    uint32_t r, g, b;
    if (OvGenOptions::gatingColor.read(params, r, g, b)) {
        int32_t ri = static_cast<int32_t>(r), gi = static_cast<int32_t>(g), bi = static_cast<int32_t>(b);
        if (ri != m_gen.gateColorRed || gi != m_gen.gateColorGreen || bi != m_gen.gateColorBlue) {
            m_gen.gateColorRed = ri;
            m_gen.gateColorGreen = gi;
            m_gen.gateColorBlue = bi;
            if (m_gen.gateRed || m_gen.gateGreen || m_gen.gateBlue)
                dirty = true;
        }
    }

    if (dirty) {
        uint8_t mask = static_cast<uint8_t>((m_gen.gateRed ? 1 : 0) | (m_gen.gateGreen ? 2 : 0) |
                                            (m_gen.gateBlue ? 4 : 0));
        if (coder.setOverrides(mask, m_gen.gateColorRed & 0xFF, m_gen.gateColorGreen & 0xFF,
                               m_gen.gateColorBlue & 0xFF))
            rr = true;
    }

    // Video format: the device may have changed underneath us.
    const QiOptEnum &vf = OvGenOptions::videoFormat;
    std::string current = m_raster->currentFormat();
    std::string target;
    bool change = false;
    if (vf.nameAt(m_gen.videoFormat) != current) {
        params.remove("VideoFormat");
        params.remove("ColorEncoding");
        target = current;
        change = true;
    } else {
        unsigned idx = static_cast<unsigned>(m_gen.videoFormat.load());
        if (vf.readToggle(params, idx) && static_cast<int32_t>(idx) != m_gen.videoFormat) {
            target = vf.nameAt(idx);
            change = true;
        }
    }
    if (change) {
        if (m_raster->setRasterFormat(target))
            rr = true;
        int32_t enc = m_raster->colourEncoding();
        if (enc < 0 || enc > 5)
            enc = 2;
        m_gen.colorEncoding = enc;
        std::string encName = OvGenOptions::colorEncoding.nameAt(enc);
        params.set("ColorEncoding", encName);
        qiLog(3, "format changed, color coding is now %s\n", encName.c_str());
        std::vector<std::string> names = vf.values();
        for (size_t i = 0; i < names.size(); ++i) {
            if (names[i] == target) {
                m_gen.videoFormat = static_cast<int32_t>(i);
                break;
            }
        }
    }

    unsigned oc = static_cast<unsigned>(m_gen.outputColor.load());
    if (OvGenOptions::outputColor.readToggle(params, oc) && static_cast<int32_t>(oc) != m_gen.outputColor) {
        m_gen.outputColor = static_cast<int32_t>(oc);
        if (m_raster->setOutputPixelFormat(OvGenOptions::pixelFormatFor(oc)))
            rr = true;
    }

    {
        std::lock_guard<std::mutex> guard(m_formatNameLock);
        m_formatName = m_raster->currentFormat();
        m_frameWidth = m_raster->width();
        m_frameHeight = m_raster->height();
    }

    if (setSignalOpts(params))
        rr = true;

    unsigned ce = static_cast<unsigned>(m_gen.colorEncoding.load());
    if (OvGenOptions::colorEncoding.readToggle(params, ce) && static_cast<int32_t>(ce) != m_gen.colorEncoding) {
        m_gen.colorEncoding = static_cast<int32_t>(ce);
        m_raster->setColourEncoding(static_cast<int32_t>(ce));
        qiLog(3, "option processed, color matrix is now %s\n", OvGenOptions::colorEncoding.nameAt(ce).c_str());
        return true;
    }
    return rr;
}

void OvCore::frameSize(int32_t &width, int32_t &height)
{
    std::lock_guard<std::mutex> guard(m_formatNameLock);
    width = m_frameWidth;
    height = m_frameHeight;
}

bool OvCore::getGenValues(QiParams &out)
{
    out.set("OutputColor", OvGenOptions::outputColor.nameAt(m_gen.outputColor));
    out.setInt("GatingColor_Red", m_gen.gateColorRed);
    out.setInt("GatingColor_Green", m_gen.gateColorGreen);
    out.setInt("GatingColor_Blue", m_gen.gateColorBlue);
    out.setInt("GateRed", m_gen.gateRed ? 1 : 0);
    out.setInt("GateGreen", m_gen.gateGreen ? 1 : 0);
    out.setInt("GateBlue", m_gen.gateBlue ? 1 : 0);
    out.setInt("OutputTitling", m_gen.titling ? 1 : 0);
    {
        std::lock_guard<std::mutex> guard(m_formatNameLock);
        out.set("VideoFormat", m_formatName);
    }
    out.setInt("VideoMute", m_gen.mute ? 1 : 0);
    out.set("ColorEncoding", OvGenOptions::colorEncoding.nameAt(m_gen.colorEncoding));
    return true;
}

bool OvCore::getGenOptions(std::vector<QiParams> &out)
{
    for (QiOptionList o = OvGenOptions::list(); *o; ++o) {
        QiParams p;
        (*o)->describe(p);
        out.push_back(std::move(p));
    }
    QiParams values;
    getGenValues(values);
    out.push_back(std::move(values));
    QiParams current;
    currentParams(current);
    out.push_back(std::move(current));
    return true;
}

namespace {
// The custom mastering display's red, green, blue and white x, y, in the
// order of SignalSettings::custom.
const QiOptDouble *const *customCoordinates()
{
    static const QiOptDouble *const kCoords[8] = {
        &OvGenOptions::masteringRedX,   &OvGenOptions::masteringRedY,   &OvGenOptions::masteringGreenX,
        &OvGenOptions::masteringGreenY, &OvGenOptions::masteringBlueX,  &OvGenOptions::masteringBlueY,
        &OvGenOptions::masteringWhiteX, &OvGenOptions::masteringWhiteY};
    return kCoords;
}
} // namespace

bool OvCore::setSignalOpts(QiParams &params)
{
    SignalSettings s = m_signalSettings;
    bool named = false;
    auto readEnum = [&](const QiOptEnum &o, uint32_t &value) {
        unsigned v = value;
        if (o.readToggle(params, v)) {
            value = v;
            named = true;
        }
    };
    readEnum(OvGenOptions::transferFunction, s.transfer);
    const uint32_t colorimetryBefore = s.colorimetry;
    readEnum(OvGenOptions::colorimetry, s.colorimetry);
    readEnum(OvGenOptions::signalRange, s.range);
    readEnum(OvGenOptions::hdrMetadata, s.metadata);
    readEnum(OvGenOptions::masteringPrimaries, s.primaries);
    // A number option named in the request.
    auto readNumber = [&](const auto &o, auto &value) {
        if (params.has(o.name)) {
            value = o.read(params);
            named = true;
        }
    };
    const QiOptDouble *const *coords = customCoordinates();
    for (int i = 0; i < 8; ++i)
        readNumber(*coords[i], s.custom[i]);
    readNumber(OvGenOptions::masteringMaxLuminance, s.maxLuminance);
    readNumber(OvGenOptions::masteringMinLuminance, s.minLuminance);
    readNumber(OvGenOptions::maxCll, s.maxCll);
    readNumber(OvGenOptions::maxFall, s.maxFall);
    if (!named)
        return false;
    s.described = true;

    // A change of colorimetry picks the matching matrix, keeping its range.
    // It wins over a "ColorEncoding" in the same request: requests without a
    // pattern carry the current one along, which would otherwise keep the
    // old matrix under the new colorimetry.
    if (s.colorimetry != colorimetryBefore) {
        int32_t ce = m_gen.colorEncoding.load();
        int32_t compressed = (ce >= 0 && ce <= 5) ? (ce & 1) : 1;
        int32_t matrix = (s.colorimetry == kColorimetry2020 ? 4 : 2) + compressed;
        params.set("ColorEncoding", OvGenOptions::colorEncoding.nameAt(matrix));
    }

    QiSignal sig;
    sig.described = true;
    sig.eotf = static_cast<int32_t>(s.transfer);
    sig.colorimetry = static_cast<int32_t>(s.colorimetry);
    sig.fullRange = s.range == 1;
    switch (s.metadata) {
    case OvGenOptions::kMetadataOn:
        sig.metadata = sig.mastering = true;
        break;
    case OvGenOptions::kMetadataOff:
        break;
    default:
        sig.metadata = sig.eotf != kEotfSdr;
        sig.mastering = sig.eotf == kEotfPq;
        break;
    }
    if (static_cast<int32_t>(s.primaries) == OvGenOptions::kPrimariesCustom) {
        sig.red = {s.custom[0], s.custom[1]};
        sig.green = {s.custom[2], s.custom[3]};
        sig.blue = {s.custom[4], s.custom[5]};
        sig.white = {s.custom[6], s.custom[7]};
    } else {
        qiPrimariesPreset(static_cast<int32_t>(s.primaries), sig);
    }
    sig.maxLuminance = s.maxLuminance;
    sig.minLuminance = s.minLuminance;
    sig.maxCll = s.maxCll;
    sig.maxFall = s.maxFall;

    const bool changed = !(sig == m_raster->signal());
    {
        std::lock_guard<std::mutex> guard(m_signalLock);
        m_signalSettings = s;
        m_signal = sig;
    }
    if (changed) {
        m_raster->setSignal(sig);
        qiLog(3, "signal is now %s %s\n", qiEotfName(sig.eotf), qiColorimetryName(sig.colorimetry));
    }
    return changed;
}

QiSignal OvCore::signal()
{
    std::lock_guard<std::mutex> guard(m_signalLock);
    return m_signal;
}

bool OvCore::getSignalValues(QiParams &out)
{
    SignalSettings s;
    {
        std::lock_guard<std::mutex> guard(m_signalLock);
        s = m_signalSettings;
    }
    out.set(OvGenOptions::transferFunction.name, OvGenOptions::transferFunction.nameAt(s.transfer));
    out.set(OvGenOptions::colorimetry.name, OvGenOptions::colorimetry.nameAt(s.colorimetry));
    out.set(OvGenOptions::signalRange.name, OvGenOptions::signalRange.nameAt(s.range));
    out.set(OvGenOptions::hdrMetadata.name, OvGenOptions::hdrMetadata.nameAt(s.metadata));
    out.set(OvGenOptions::masteringPrimaries.name, OvGenOptions::masteringPrimaries.nameAt(s.primaries));
    const QiOptDouble *const *coords = customCoordinates();
    for (int i = 0; i < 8; ++i)
        out.setDouble(coords[i]->name, s.custom[i]);
    out.setDouble(OvGenOptions::masteringMaxLuminance.name, s.maxLuminance);
    out.setDouble(OvGenOptions::masteringMinLuminance.name, s.minLuminance);
    out.setInt(OvGenOptions::maxCll.name, s.maxCll);
    out.setInt(OvGenOptions::maxFall.name, s.maxFall);
    return true;
}

bool OvCore::getGenOptions(std::vector<QiParams> &out, bool withSignal)
{
    getGenOptions(out);
    if (!withSignal)
        return true;
    for (QiOptionList o = OvGenOptions::signalList(); *o; ++o) {
        QiParams p;
        (*o)->describe(p);
        out.push_back(std::move(p));
    }
    QiParams values;
    getSignalValues(values);
    out.push_back(std::move(values));
    return true;
}

void ovJoinSignalMaps(std::vector<QiParams> &maps)
{
    size_t values = 0;
    while (values < maps.size() && maps[values].has("Name") && maps[values].has("DataType"))
        ++values;
    if (values + 2 >= maps.size())
        return;
    std::vector<QiParams> out;
    out.reserve(maps.size() - 1);
    for (size_t i = 0; i < values; ++i)
        out.push_back(std::move(maps[i]));
    for (size_t i = values + 2; i + 1 < maps.size(); ++i)
        out.push_back(std::move(maps[i]));
    QiParams joined = std::move(maps[values]);
    for (const auto &[k, v] : maps.back())
        joined.set(k, v);
    out.push_back(std::move(joined));
    out.push_back(std::move(maps[values + 1]));
    maps = std::move(out);
}
