#include "OvpChromaticity.h"

#include "OvPatternKit.h"
#include "QiLog.h"
#include "QiOptDouble.h"
#include "QiOptEnum.h"
#include "QiRaster.h"
#include "QiTargetClones.h"
#include "QiWorkerPool.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace {

const char *const kStyles[] = {"shaded", "constrained", "full", nullptr};
enum Style { Shaded, Constrained, Full };
const char *const kSpaces[] = {"Rec709", "Rec601", "Custom", nullptr};
enum Space { Rec709, Rec601, Custom };
const char *const kWhitepoints[] = {"D65", "D50", "Custom", nullptr};
enum Whitepoint { D65, D50, CustomWhite };

// The custom space's options are not published; a client form shows them
// only for RgbSpace "Custom" (the white point's for Whitepoint "Custom").
const QiLayout kForCustom{-1, -1, -1, -1, "RgbSpace", "Custom", true};
const QiLayout kForCustomWhite{-1, -1, -1, -1, "Whitepoint", "Custom", true};

QiOptEnum g_style("Style", "The style to draw the gamut in", Shaded, kStyles);
QiOptEnum g_space("RgbSpace", "The RGB colorspace to render the diagram in", Rec709, kSpaces);
const QiOption *const g_options[] = {&g_style, &g_space, nullptr};

QiOptDouble g_redX("Red_x", "CIE x coordinate of the red primary", 0.64, 0, 1, kForCustom);
QiOptDouble g_redY("Red_y", "CIE y coordinate of the red primary", 0.33, 0, 1, kForCustom);
QiOptDouble g_redYY("Red_yy", "CIE Y coordinate of the red primary", 0.212656, 0, 1, kForCustom);
QiOptDouble g_greenX("Green_x", "CIE x coordinate of the green primary", 0.3, 0, 1, kForCustom);
QiOptDouble g_greenY("Green_y", "CIE y coordinate of the green primary", 0.6, 0, 1, kForCustom);
QiOptDouble g_greenYY("Green_yy", "CIE Y coordinate of the green primary", 0.715158, 0, 1, kForCustom);
QiOptDouble g_blueX("Blue_x", "CIE x coordinate of the blue primary", 0.15, 0, 1, kForCustom);
QiOptDouble g_blueY("Blue_y", "CIE y coordinate of the blue primary", 0.06, 0, 1, kForCustom);
QiOptDouble g_blueYY("Blue_yy", "CIE Y coordinate of the blue primary", 0.072186, 0, 1, kForCustom);
QiOptEnum g_whitepoint("Whitepoint", "The whitepoint to use for the diagram", D65, kWhitepoints, kForCustom);
QiOptDouble g_whiteX("White_x", "CIE x coordinate of the white point", 0.313, 0, 1, kForCustomWhite);
QiOptDouble g_whiteY("White_y", "CIE y coordinate of the white point", 0.329, 0, 1, kForCustomWhite);
QiOptDouble g_whiteYY("White_yy", "CIE Y coordinate of the white point", 1.0, 0, 1, kForCustomWhite);
QiOptDouble g_gamma("Gamma", "The RGB colorspace gamma", 2.2, 0.2, 3.5, kForCustom);

constexpr Fixed kD65[3] = {Fixed::fromRaw(20493), Fixed::fromRaw(21561), Fixed::fromRaw(65536)};
constexpr Fixed kD50[3] = {Fixed::fromRaw(22653), Fixed::fromRaw(23494), Fixed::fromRaw(65536)};
// 0.1 in 16.16: the grey of the "constrained" style outside the gamut.
constexpr int32_t kConstrainedGrey = 6553;

Fixed fx(double v) { return Fixed::fromDouble(v); }

// Nearest 16.16 value, saturating.
Fixed nearestFixed(double v)
{
    const double scaled = std::nearbyint(v * 65536.0);
    if (!(scaled > -2147483648.0))
        return Fixed::fromRaw(std::numeric_limits<int32_t>::min());
    if (scaled >= 2147483647.0)
        return Fixed::fromRaw(std::numeric_limits<int32_t>::max());
    return Fixed::fromRaw(static_cast<int32_t>(scaled));
}

// Inverse of m by cofactors; false when m is (nearly) singular.
bool invert(const double m[3][3], double out[3][3])
{
    const double c00 = m[1][1] * m[2][2] - m[1][2] * m[2][1];
    const double c01 = m[1][2] * m[2][0] - m[1][0] * m[2][2];
    const double c02 = m[1][0] * m[2][1] - m[1][1] * m[2][0];
    const double det = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
    double scale = 0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            scale = std::max(scale, std::fabs(m[i][j]));
    if (!std::isfinite(det) || scale == 0 || std::fabs(det) <= 1e-12 * scale * scale * scale)
        return false;
    out[0][0] = c00 / det;
    out[1][0] = c01 / det;
    out[2][0] = c02 / det;
    out[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det;
    out[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det;
    out[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det;
    out[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det;
    out[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det;
    out[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det;
    return true;
}

// xyY (16.16) to XYZ; false for y = 0.
bool xyYToXyz(const Fixed xyY[3], double xyz[3])
{
    const double x = xyY[0].toDouble(), y = xyY[1].toDouble(), Y = xyY[2].toDouble();
    if (xyY[1].raw == 0)
        return false;
    xyz[0] = x * Y / y;
    xyz[1] = Y;
    xyz[2] = (1 - x - y) * Y / y;
    return true;
}

struct CmfRow {
    int nm;
    double x, y, z;
};
const CmfRow kObserver[] = {
#include "cie1931_2deg_xyz_1nm.inc"
};
constexpr int kFirstNm = 360, kLastNm = 830;
static_assert(sizeof(kObserver) / sizeof(kObserver[0]) == kLastNm - kFirstNm + 1, "one row per nanometre");

// x as a linear function of y through the given wavelengths' chromaticities,
// ordered by y. From about 700 nm on the table holds one chromaticity; the
// spline library refuses abscissae that close, and they mark one point, so a
// point within 1e-9 in y of the one kept before it is left out.
void buildBranch(QiLinearSpline &spline, const std::vector<int> &nms)
{
    std::vector<std::pair<double, double>> points; // y, x
    for (int nm : nms) {
        double x, y;
        if (OvpChromaticity::locusPoint(nm, x, y))
            points.emplace_back(y, x);
    }
    std::stable_sort(points.begin(), points.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<double> ys, xs;
    for (const auto &p : points) {
        if (!ys.empty() && p.first - ys.back() < 1e-9)
            continue;
        ys.push_back(p.first);
        xs.push_back(p.second);
    }
    spline.build(ys.data(), xs.data(), ys.size());
}

// One row of the diagram: pixel k has chromaticity x = xs[k] / 65536 and the
// row's y; its linear RGB is a + b * xs[k] (the XYZ->RGB product with
// X = x/y, Y = 1, Z = (1 - x - y)/y folded into per-row terms). Normalised,
// held as 16.16 and rounded to code values of bits bits.
QI_TARGET_CLONES
void diagramRow(uint64_t *out, const int32_t *xs, int32_t count, const double a[3], const double b[3], int style,
                int bits)
{
    // Single precision, eight pixels a step: the terms are a few hundred at
    // most, so the normalised values stay far inside one 16.16 step of the
    // double computation. Written without branches so that it vectorises.
    const float outsideScale = style == Shaded ? 1.33f : 1.0f;
    const int32_t greyMask = style == Constrained ? -1 : 0;
    const int32_t top = (1 << bits) - 1;
    const float a0 = static_cast<float>(a[0]), a1 = static_cast<float>(a[1]), a2 = static_cast<float>(a[2]);
    const float b0 = static_cast<float>(b[0]), b1 = static_cast<float>(b[1]), b2 = static_cast<float>(b[2]);
    for (int32_t k = 0; k < count; ++k) {
        const float x = static_cast<float>(xs[k]);
        const float c0 = a0 + b0 * x, c1 = a1 + b1 * x, c2 = a2 + b2 * x;
        const float lo = std::min(std::min(c0, c1), c2), hi = std::max(std::max(c0, c1), c2);
        // Inside the gamut (lo >= 0) each is divided by hi; outside, lo is
        // taken off and the span hi - lo (scaled by the style) divides.
        const float offset = std::max(-lo, 0.0f);
        const float inside = lo >= 0 ? 1.0f : 0.0f;
        const float den = std::max(inside * hi + (1.0f - inside) * (hi - lo) * outsideScale, 1e-30f);
        const float s = 65536.0f / den;
        const int32_t grey = greyMask & -static_cast<int32_t>(lo < 0);
        int32_t q0 = static_cast<int32_t>(std::min(std::max((c0 + offset) * s, 0.0f), 65536.0f));
        int32_t q1 = static_cast<int32_t>(std::min(std::max((c1 + offset) * s, 0.0f), 65536.0f));
        int32_t q2 = static_cast<int32_t>(std::min(std::max((c2 + offset) * s, 0.0f), 65536.0f));
        q0 = (q0 & ~grey) | (kConstrainedGrey & grey);
        q1 = (q1 & ~grey) | (kConstrainedGrey & grey);
        q2 = (q2 & ~grey) | (kConstrainedGrey & grey);
        const uint64_t r = static_cast<uint32_t>((q0 * top + 32768) >> 16);
        const uint64_t g = static_cast<uint32_t>((q1 * top + 32768) >> 16);
        const uint64_t bl = static_cast<uint32_t>((q2 * top + 32768) >> 16);
        out[k] = (r << (2 * bits)) | (g << bits) | bl;
    }
}

struct RowSpan {
    int32_t xl = 0, xr = 0, yRaw = 0;
    bool drawn = false;
};

} // namespace

OvRgbSpace::OvRgbSpace(const char *name, const Fixed primaries[3][3], const Fixed white[3], Fixed gamma)
    : m_name(name), m_gamma(gamma)
{
    for (int i = 0; i < 3; ++i) {
        m_white[i] = white[i];
        for (int j = 0; j < 3; ++j)
            m_primaries[i][j] = primaries[i][j];
    }
    double p[3][3], w[3], pInverse[3][3];
    for (int i = 0; i < 3; ++i) {
        double xyz[3];
        if (!xyYToXyz(m_primaries[i], xyz))
            return;
        for (int row = 0; row < 3; ++row)
            p[row][i] = xyz[row];
    }
    if (!xyYToXyz(m_white, w) || !invert(p, pInverse))
        return;
    double m[3][3], mInverse[3][3];
    for (int column = 0; column < 3; ++column) {
        const double s = pInverse[column][0] * w[0] + pInverse[column][1] * w[1] + pInverse[column][2] * w[2];
        for (int row = 0; row < 3; ++row)
            m[row][column] = p[row][column] * s;
    }
    if (!invert(m, mInverse))
        return;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            m_rgbToXyz[i][j] = nearestFixed(m[i][j]);
            m_xyzToRgb[i][j] = nearestFixed(mInverse[i][j]);
        }
    m_valid = true;
}

namespace {
const Fixed kRec709Primaries[3][3] = {{fx(0.64), fx(0.33), fx(0.212656)},
                                      {fx(0.30), fx(0.60), fx(0.715158)},
                                      {fx(0.15), fx(0.06), fx(0.072186)}};
const Fixed kRec601Primaries[3][3] = {{fx(0.63), fx(0.34), fx(0.212395)},
                                      {fx(0.31), fx(0.595), fx(0.701049)},
                                      {fx(0.155), fx(0.07), fx(0.086556)}};
const OvRgbSpace g_rec709("FRec709", kRec709Primaries, kD65, fx(2.2));
const OvRgbSpace g_rec601("FRec601", kRec601Primaries, kD65, fx(2.2));
} // namespace

const OvRgbSpace &OvRgbSpace::rec709() { return g_rec709; }
const OvRgbSpace &OvRgbSpace::rec601() { return g_rec601; }

OvpChromaticity::OvpChromaticity() : OvPatternRenderer(g_options, "$Revision: 1.11 $") {}

bool OvpChromaticity::locusPoint(int nm, double &x, double &y)
{
    if (nm < kFirstNm || nm > kLastNm)
        return false;
    const CmfRow &c = kObserver[nm - kFirstNm];
    const double sum = c.x + c.y + c.z;
    x = c.x / sum;
    y = c.y / sum;
    return true;
}

bool OvpChromaticity::registerAliases(OvCore *)
{
    std::vector<int> shortBranch, longBranch;
    for (int nm = 361; nm <= 521; ++nm)
        shortBranch.push_back(nm);
    shortBranch.push_back(522);
    for (int nm = 522; nm <= 830; ++nm)
        longBranch.push_back(nm);
    longBranch.push_back(361); // closes the line of purples
    try {
        buildBranch(m_left, shortBranch);
        buildBranch(m_right, longBranch);
        m_built = true;
    } catch (...) {
        qiLog(1, "%s: couldn't build the spectral locus\n", "OvpChromaticity::registerAliases");
        m_built = false;
    }
    return true;
}

bool OvpChromaticity::render(OvCore *engine, QiRaster *raster, const QiParams &params)
{
    const unsigned space = ovEnum(g_space, params);
    const unsigned style = ovEnum(g_style, params);
    std::unique_ptr<OvRgbSpace> custom;
    const OvRgbSpace *rgb = space == Rec601 ? &OvRgbSpace::rec601() : &OvRgbSpace::rec709();
    if (space == Custom) {
        const Fixed primaries[3][3] = {
            {fx(g_redX.read(params)), fx(g_redY.read(params)), fx(g_redYY.read(params))},
            {fx(g_greenX.read(params)), fx(g_greenY.read(params)), fx(g_greenYY.read(params))},
            {fx(g_blueX.read(params)), fx(g_blueY.read(params)), fx(g_blueYY.read(params))}};
        Fixed white[3] = {kD65[0], kD65[1], kD65[2]};
        const unsigned wp = ovEnum(g_whitepoint, params);
        if (wp == D50) {
            white[0] = kD50[0], white[1] = kD50[1], white[2] = kD50[2];
        } else if (wp == CustomWhite) {
            white[0] = fx(g_whiteX.read(params)), white[1] = fx(g_whiteY.read(params)),
            white[2] = fx(g_whiteYY.read(params));
        }
        custom = std::make_unique<OvRgbSpace>("custom-xyY", primaries, white, fx(g_gamma.read(params)));
        rgb = custom.get();
        if (!custom->valid()) {
            // A zero y or primaries on one line leave nothing to invert.
            qiLog(1, "%s: the custom primaries and white point give no colour space; drawing Rec709\n",
                  "OvpChromaticity::render");
            rgb = &OvRgbSpace::rec709();
        }
    }

    QiRaster &r = *raster;
    const int32_t w = r.width(), h = r.height();
    const int32_t mx = w / 5, my = h / 10;
    const int bits = r.bits();
    ovBeginFrame(r);
    const uint64_t black = ovGrey(r, static_cast<uint32_t>(r.blackLevel()));
    if (!r.data() || w <= 0 || h <= 0) {
        ovFinishFrame(engine, r, name());
        return true;
    }

    // Chromaticity x of each column as 16.16.
    std::vector<int32_t> xs(static_cast<size_t>(w));
    for (int32_t j = 0; j < w; ++j)
        xs[static_cast<size_t>(j)] = static_cast<int32_t>(static_cast<double>(j) / w * 65536.0);
    // The locus rows: row g has y = g/H, drawn from xl to xr - 1.
    std::vector<RowSpan> spans(static_cast<size_t>(h));
    for (int32_t g = 1; m_built && g < h; ++g) {
        const double y = static_cast<double>(g) / h;
        const double l = w * left(y), rr = w * right(y);
        RowSpan &s = spans[static_cast<size_t>(g)];
        if (!(l > 0 && l < w && rr > 0 && rr < w))
            continue;
        s.xl = static_cast<int32_t>(l);
        s.xr = static_cast<int32_t>(rr);
        s.yRaw = static_cast<int32_t>(y * 65536.0);
        s.drawn = s.xl > 0 && s.xl < s.xr && s.yRaw > 0;
    }
    double m[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            m[i][j] = rgb->xyzToRgb(i, j).toDouble();

    auto rows = [&](int32_t begin, int32_t end) {
        for (int32_t ry = begin; ry < end; ++ry) {
            uint64_t *row = r.row(ry);
            const int32_t g = h - my - ry;
            if (g < 0 || g >= h || !spans[static_cast<size_t>(g)].drawn) {
                std::fill(row, row + w, black);
                continue;
            }
            const RowSpan &s = spans[static_cast<size_t>(g)];
            const double yr = s.yRaw;
            double a[3], b[3];
            for (int i = 0; i < 3; ++i) {
                a[i] = m[i][1] + m[i][2] * (65536.0 - yr) / yr;
                b[i] = (m[i][0] - m[i][2]) / yr;
            }
            // Columns j + mx beyond the frame are not drawn; black around
            // the span, each pixel written once.
            const int32_t last = std::max(std::min(s.xr, w - mx), s.xl);
            std::fill(row, row + std::min(s.xl + mx, w), black);
            std::fill(row + std::min(last + mx, w), row + w, black);
            if (last > s.xl)
                diagramRow(row + s.xl + mx, xs.data() + s.xl, last - s.xl, a, b, static_cast<int>(style), bits);
        }
    };
    QiWorkerPool::shared().run(h, 8, rows);

    ovFinishFrame(engine, r, name());
    return true;
}
