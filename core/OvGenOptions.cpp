#include "OvGenOptions.h"

namespace {
const char *const kNoFormats[] = {nullptr};
const char *const kOutputColors[] = {"RGB_24", "YCC444_24", nullptr};
const char *const kEncodings[] = {"Rec601", "Rec601 (compressed)", "Rec709", "Rec709 (compressed)",
                                  "Rec2020", "Rec2020 (compressed)", nullptr};
// Generic pixel formats for "RGB_24" and "YCC444_24".
const int32_t kOutputPixelFormats[] = {0, 7};
} // namespace

QiOptRGB OvGenOptions::gatingColor("GatingColor", "RGB values to use when gating color components", 0, 0, 0,
                                   true, {0, 60, -1, -1});
QiOptBool OvGenOptions::gateRed("GateRed", "Set to gate the red color component", false, {160, 60, -1, -1});
QiOptBool OvGenOptions::gateGreen("GateGreen", "Set to gate the green color component", false,
                                  {160, 85, -1, -1});
QiOptBool OvGenOptions::gateBlue("GateBlue", "Set to gate the blue color component", false, {160, 110, -1, -1});
QiOptEnum OvGenOptions::videoFormat("VideoFormat", "The output resolution and timings to use", 0, kNoFormats,
                                    {0, 0, 200, 24});
QiOptBool OvGenOptions::outputTitling("OutputTitling", "Set Pattern Titling Options", false, {0, 30, -1, -1});
QiOptIntRo OvGenOptions::bitDepth("BitDepth", "The Bitdepth of the Generator", 10, {-1, -1, -1, -1});
QiOptIntRo OvGenOptions::blackLevel("BlackLevel", "The Black level", 64, {-1, -1, -1, -1});
QiOptIntRo OvGenOptions::whiteLevel("WhiteLevel", "The White level", 940, {-1, -1, -1, -1});
QiOptEnum OvGenOptions::outputColor("OutputColor", "The output colorspace and bit depth", 0, kOutputColors,
                                    {0, 140, -1, -1});
QiOptBool OvGenOptions::videoMute("VideoMute", "Mutes the video to a flat 25% grey raster", false,
                                  {0, 170, -1, -1});
QiOptEnum OvGenOptions::colorEncoding("ColorEncoding", "The RGB/YCC conversion matrix", 3, kEncodings,
                                      {200, 140, -1, -1});

QiOptionList OvGenOptions::list()
{
    static const QiOption *const kList[] = {&gatingColor, &gateRed,    &gateGreen,  &gateBlue,
                                            &videoFormat, &outputTitling, &bitDepth, &blackLevel,
                                            &whiteLevel,  &outputColor, &videoMute, &colorEncoding,
                                            nullptr};
    return kList;
}

int32_t OvGenOptions::pixelFormatFor(unsigned outputColor)
{
    return outputColor < 2 ? kOutputPixelFormats[outputColor] : 0;
}
