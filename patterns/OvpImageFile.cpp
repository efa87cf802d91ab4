#include "OvpImageFile.h"

#include "OvCore.h"
#include "OvPatternKit.h"
#include "QiFont.h"
#include "QiLog.h"
#include "QiOptEnum.h"
#include "QiOptInt.h"
#include "QiRaster.h"
#include "QiWorkerPool.h"

#include <algorithm>
#include <climits>
#include <string>
#include <utility>
#include <vector>

namespace {

const char *const kAnchors[] = {"TL", "TC", "TR", "ML", "MC", "MR", "BL", "BC", "BR", nullptr};
enum Anchor { TL, TC, TR, ML, MC, MR, BL, BC, BR };

QiOptInt g_dxOff("dxOff", "X-Offset of the display", 0, -65535, 65536);
QiOptInt g_dyOff("dyOff", "Y-Offset of the display", 0, -65535, 65536);
QiOptInt g_sxOff("sxOff", "X-Offset of the source image", 0, -65535, 65536);
QiOptInt g_syOff("syOff", "Y-Offset of the source image", 0, -65535, 65536);
// The limits are 100, not the frame size; the default -1 means all that fits.
QiOptInt g_width("width", "width in pixels to display", -1, 0, 100);
QiOptInt g_height("height", "height in pixels to display", -1, 0, 100);
QiOptEnum g_anchor("Anchor", "The source anchor position for the given sxOff/syOff offsets", TL, kAnchors);
const QiOption *const g_options[] = {&g_dxOff, &g_dyOff, &g_sxOff, &g_syOff, &g_width, &g_height, &g_anchor, nullptr};

// A decimal index as "%d" writes it (no sign, no leading zero); -1 if not.
int64_t indexOf(const std::string &text)
{
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0'))
        return -1;
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

} // namespace

OvpImageFile::OvpImageFile() : OvPatternRenderer(g_options, "$Revision: 1.6 $") {}

bool OvpImageFile::registerAliases(OvCore *engine)
{
    const std::string folder = engine->dataFolder() + "/ImageFiles";
    engine->scanFolder(folder.c_str(), "", true);
    return true;
}

int32_t OvpImageFile::chooseResolution(const QiParams &params, int32_t height)
{
    int32_t count = 0;
    params.getInt("nVres", count);
    // A single prepared resolution is a choice too: its keys are written
    // under its own value, never under 0.
    if (count < 1)
        return 0;
    // The listed keys the map holds, in list order; walking the map rather
    // than 0 .. nVres-1 keeps a huge nVres from costing anything.
    std::vector<std::pair<int64_t, int32_t>> listed;
    const QiParams::Map &map = params.map();
    for (auto it = map.lower_bound("vres"); it != map.end() && it->first.compare(0, 4, "vres") == 0; ++it) {
        const int64_t i = indexOf(it->first.substr(4));
        if (i >= 0 && i < count)
            listed.emplace_back(i, QiParams::parseInt(it->second.c_str()));
    }
    std::sort(listed.begin(), listed.end());
    int32_t r = 0;
    bool taken = false;
    for (const auto &entry : listed) {
        if (entry.second <= height || !taken) {
            r = entry.second;
            taken = true;
        }
    }
    return r;
}

void OvpImageFile::drawImage(OvCore *engine, QiRaster &r, const std::string &path, const Placement &where)
{
    const int32_t W = r.width(), H = r.height();
    std::shared_ptr<const QiImage> image = m_cache.load(path, r.bits());
    if (!image) {
        // Drawn over what the frame buffer holds.
        const size_t slash = path.rfind('/');
        const std::string text =
            "Error Loading '" + (slash == std::string::npos ? path : path.substr(slash)) + "'";
        QiFont *font = engine ? engine->font(OvCore::kTitleFont) : nullptr;
        if (font) {
            int32_t tw = 0, th = 0;
            drawText(r, *font, text.c_str(), ovGrey(r, ovFixed8(r, 240)), W / 2, H / 2, tw, th, false, 4);
        }
        return;
    }
    const int32_t w = image->width(), h = image->height();
    // 64-bit: offsets near the limits must not wrap.
    int64_t a = where.dxOff, b = where.dyOff, c = where.sxOff, d = where.syOff;
    const int64_t mw = std::min<int64_t>(W - a, w - c), mh = std::min<int64_t>(H - b, h - d);
    const int64_t e = (where.width < 1 || where.width > mw) ? mw : where.width;
    const int64_t f = (where.height < 1 || where.height > mh) ? mh : where.height;
    auto centredX = [&] {
        if (w < W)
            a += (W - w) / 2;
        else
            c += (w - W) / 2;
    };
    auto centredY = [&] {
        if (h < H)
            b += (H - h) / 2;
        else
            d += (h - H) / 2;
    };
    auto right = [&] {
        a = W + a - e;
        c = w + c - e;
    };
    auto bottom = [&] {
        b = b + H - f;
        d = d + h - f;
    };
    switch (where.anchor) {
    case TC:
        centredX();
        break;
    case TR:
        right();
        break;
    case ML:
        centredY();
        break;
    case MC:
        centredX();
        centredY();
        break;
    case MR:
        right();
        centredY();
        break;
    case BL:
        bottom();
        break;
    case BC:
        centredX();
        bottom();
        break;
    case BR:
        right();
        bottom();
        break;
    default:
        break;
    }

    const uint64_t black = ovGrey(r, ovFixed8(r, 16));
    // Nothing to copy when the region is empty (a width of -1 would mean
    // the whole source to the copy) or lies beyond 32-bit positions.
    auto fits = [](int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; };
    if (!(e > 0 && f > 0 && fits(a) && fits(b) && fits(c) && fits(d))) {
        r.fill(black);
        return;
    }
    // The rectangle the copy writes after its cuts to both images: every
    // other pixel is video black. A frame mostly covered gets only its
    // borders filled, so its pixels are written once.
    const int64_t x1 = a + std::min<int64_t>({e, W - a, w - c}), y1 = b + std::min<int64_t>({f, H - b, h - d});
    const int64_t x0 = a + std::max<int64_t>({0, -c, -a}), y0 = b + std::max<int64_t>({0, -d, -b});
    const bool copies = x0 < x1 && y0 < y1;
    if (!copies || (x1 - x0) * (y1 - y0) * 2 < int64_t{W} * H) {
        r.fill(black);
    } else {
        r.fillRect(black, 0, 0, W, static_cast<int32_t>(y0));
        r.fillRect(black, 0, static_cast<int32_t>(y1), W, static_cast<int32_t>(H - y1));
        r.fillRect(black, 0, static_cast<int32_t>(y0), static_cast<int32_t>(x0), static_cast<int32_t>(y1 - y0));
        r.fillRect(black, static_cast<int32_t>(x1), static_cast<int32_t>(y0), static_cast<int32_t>(W - x1),
                   static_cast<int32_t>(y1 - y0));
    }
    if (!copies)
        return;
    // Bands of rows, each one copy of the same region cut to its rows; a
    // large picture is spread over the worker pool.
    const int32_t rows = static_cast<int32_t>(y1 - y0);
    auto copy = [&](int32_t begin, int32_t end) {
        r.blit(image.get(), static_cast<int32_t>(a), static_cast<int32_t>(y0 + begin), static_cast<int32_t>(c),
               static_cast<int32_t>(d + (y0 - b) + begin), static_cast<int32_t>(e), end - begin);
    };
    if ((x1 - x0) * rows < (int64_t{1} << 20))
        copy(0, rows);
    else
        QiWorkerPool::shared().run(rows, 16, copy);
}

bool OvpImageFile::render(OvCore *engine, QiRaster *raster, const QiParams &params)
{
    Placement where;
    where.dxOff = g_dxOff.read(params);
    where.dyOff = g_dyOff.read(params);
    where.sxOff = g_sxOff.read(params);
    where.syOff = g_syOff.read(params);
    where.width = g_width.read(params);
    where.height = g_height.read(params);
    where.anchor = ovEnum(g_anchor, params);
    const char *title = "ImageFile";
    params.get("Name", title);
    const char *folder = "";
    params.get("Folder", folder);

    QiRaster &r = *raster;
    const int32_t res = chooseResolution(params, r.height());
    int32_t frames = 1;
    params.getInt("nF" + std::to_string(res), frames);
    frames = std::clamp(frames, 1, kMaxFrames);
    // More frames than the output can hold are shown as a still of the first.
    if (!r.setBufferCount(frames)) {
        qiLog(1, "%s: couldn't prepare %d frames for '%s'; showing the first\n", "OvpImageFile::render", frames,
              title);
        frames = 1;
        r.setBufferCount(1);
    }
    framePeriod = frames == 1 ? 0 : kFramePeriodMs;

    for (int32_t f = 0; f < frames; ++f) {
        const std::string key = "r" + std::to_string(res) + "-f" + std::to_string(f);
        const char *file = nullptr;
        // The folder scan writes an empty name where a frame number is missing.
        if (params.get(key, file) && *file)
            drawImage(engine, r, std::string(folder) + "/" + file, where);
        else
            qiLog(1, "couldn't figure out file for '%s / %s'\n", title, key.c_str());
        ovFinishFrame(engine, r, title, nullptr, f);
    }
    return true;
}
