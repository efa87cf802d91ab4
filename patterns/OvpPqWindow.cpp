#include "OvpPqWindow.h"

#include "OvPatternKit.h"
#include "QiOptDouble.h"
#include "QiOptInt.h"
#include "QiRaster.h"
#include "QiSignal.h"

#include <charconv>
#include <cstdio>

namespace {

const char *const kRanges[] = {"Narrow", "Full", nullptr};
QiOptDouble g_luminance("Luminance", "The window's luminance in cd/m2 (PQ)", 100, 0, 10000);
QiOptInt g_size("Size", "The window's share of the picture area in percent (100: the whole field)", 10, 1, 100);
QiOptEnum g_range("Range", "Narrow (64-940) or full (0-1023) code values", 0, kRanges);
const QiOption *const g_options[] = {&g_luminance, &g_size, &g_range, nullptr};

} // namespace

OvpPqWindow::OvpPqWindow() : OvPatternRenderer(g_options, "$Revision: 1.0 $") {}

bool OvpPqWindow::registerAliases(OvCore *engine)
{
    return ovRegisterAliases(engine, name(),
                             {{"PQField", {{"Size", "100"}}},
                              {"PQ100", {{"Size", "10"}, {"Luminance", "100"}}, true},
                              {"PQ1000", {{"Size", "10"}, {"Luminance", "1000"}}, true}});
}

bool OvpPqWindow::render(OvCore *engine, QiRaster *raster, const QiParams &params)
{
    QiRaster &r = *raster;
    const double luminance = g_luminance.read(params);
    const int32_t size = g_size.read(params);
    const bool full = ovEnum(g_range, params) == 1;
    const int32_t codeValue = qiPqCode(luminance, 10, full);
    ovBeginFrame(r);

    const int32_t W = r.width(), H = r.height();
    const int32_t black = full ? 0 : 64;
    r.fill(ovGrey(r, ovFixed10(r, black)));
    const int32_t w = size >= 100 ? W : ovWindowSide(W, size), h = size >= 100 ? H : ovWindowSide(H, size);
    r.fillRect(ovGrey(r, ovFixed10(r, codeValue)), (W - w) / 2, (H - h) / 2, w, h);

    char nits[32];
    auto res = std::to_chars(nits, nits + sizeof nits - 1, luminance);
    *res.ptr = '\0';
    char caption[80];
    std::snprintf(caption, sizeof caption, "%s cd/m2 = %d (%s)", nits, static_cast<int>(codeValue),
                  full ? "full" : "narrow");
    // A measurement patch: narrow range through the encoder's formula path,
    // as the other windows.
    ovFinishFrame(engine, r, name(), caption, 0, !full);
    return true;
}
