#pragma once
#include "QiOption.h"

// Colour option: three integer code values under name_Red, name_Green,
// name_Blue. No clamping: values must suit the raster's bit depth.
class QiOptRGB : public QiOption {
public:
    QiOptRGB(const char *name, const char *description, int32_t red, int32_t green, int32_t blue,
             bool defaultIsRGB, const QiLayout &layout = {});
    bool describe(QiParams &out) const override;
    // Outputs start at the defaults; each present key replaces its component.
    // True only when all three keys were present.
    bool read(const QiParams &params, uint32_t &red, uint32_t &green, uint32_t &blue) const;

    int32_t defaultRed, defaultGreen, defaultBlue;
    bool defaultIsRGB;
};
