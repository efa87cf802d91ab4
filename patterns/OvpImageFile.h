#pragma once
#include "OvPatternRenderer.h"
#include "QiImageCache.h"

#include <string>

class QiImage;

// Still images and image sequences from pattern folders: the prepared
// resolution that suits the output height, copied in with an anchor and
// offsets on video black; a sequence is flipped every 750 ms.
class OvpImageFile : public OvPatternRenderer {
public:
    OvpImageFile();
    const char *name() const override { return "ImageFile"; }
    // Makes the data folder's "ImageFiles" a pattern folder.
    bool registerAliases(OvCore *engine) override;
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;

    // The resolution index the request selects for an output of height
    // lines: the last listed "vres%d" not above it, else the first listed.
    static int32_t chooseResolution(const QiParams &params, int32_t height);

    // Decoded images, kept across renders of this renderer.
    QiImageCache &cache() { return m_cache; }

    static constexpr int32_t kFramePeriodMs = 750;
    // Frames of one sequence at most (as many as a folder scan records).
    static constexpr int32_t kMaxFrames = 10000;

private:
    struct Placement {
        int32_t dxOff, dyOff, sxOff, syOff, width, height;
        unsigned anchor;
    };
    void drawImage(OvCore *engine, QiRaster &raster, const std::string &path, const Placement &where);

    QiImageCache m_cache;
};
