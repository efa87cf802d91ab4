// A minimal plug-in pattern: a full field of one grey level. It uses only the
// renderer's virtual interface and inline image accessors, so it needs no
// symbols from the program that loads it.
#include "OvPatternRenderer.h"
#include "QiRaster.h"

#include <algorithm>

namespace {

class OvpSolidPlugin : public OvPatternRenderer {
public:
    OvpSolidPlugin() : OvPatternRenderer(nullptr, "$Revision: 1.0 $") {}
    const char *name() const override { return "SolidPlugin"; }
    bool render(OvCore *, QiRaster *raster, const QiParams &) override
    {
        raster->setBufferCount(1);
        const uint32_t level = static_cast<uint32_t>(raster->whiteLevel());
        const uint64_t word = raster->pack(level / 2, level / 2, level / 2);
        if (raster->data())
            std::fill_n(raster->data(), static_cast<size_t>(raster->width()) * static_cast<size_t>(raster->height()),
                        word);
        raster->render(0, false);
        return true;
    }
};

} // namespace

extern "C" __attribute__((visibility("default"))) OvPatternRenderer *OvpMain() { return new OvpSolidPlugin; }
