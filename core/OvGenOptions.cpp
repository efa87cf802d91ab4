#include "OvGenOptions.h"

namespace {
const char *const kNoFormats[] = {nullptr};
const char *const kOutputColors[] = {"RGB_24", "YCC444_24", nullptr};
const char *const kEncodings[] = {"Rec601", "Rec601 (compressed)", "Rec709", "Rec709 (compressed)",
                                  "Rec2020", "Rec2020 (compressed)", nullptr};
const char *const kTransfers[] = {"SDR", "PQ", "HLG", nullptr};
const char *const kColorimetries[] = {"BT.709", "BT.2020", nullptr};
const char *const kRanges[] = {"Narrow", "Full", nullptr};
const char *const kMetadata[] = {"Auto", "On", "Off", nullptr};
const char *const kPrimaries[] = {"BT.2020", "P3-D65", "BT.709", "Custom", nullptr};
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

QiOptEnum OvGenOptions::transferFunction("TransferFunction", "The transfer function the signal says it carries", 0,
                                         kTransfers, {0, 200, -1, -1});
QiOptEnum OvGenOptions::colorimetry("Colorimetry",
                                    "The colorimetry the signal says it carries (also picks the matching matrix)", 0,
                                    kColorimetries, {200, 200, -1, -1});
QiOptEnum OvGenOptions::signalRange("SignalRange", "The signal range; full range needs an RGB output", 0, kRanges,
                                    {0, 230, -1, -1});
QiOptEnum OvGenOptions::hdrMetadata("HdrMetadata",
                                    "HDR static metadata: Auto sends it for PQ, and for HLG without the mastering "
                                    "display",
                                    0, kMetadata, {200, 230, -1, -1});
QiOptEnum OvGenOptions::masteringPrimaries("MasteringPrimaries", "The mastering display's primaries and white point",
                                           0, kPrimaries, {0, 260, -1, -1});
QiOptDouble OvGenOptions::masteringRedX("MasteringRedX", "Custom mastering red x", 0.708, 0, 1, {0, 290, -1, -1});
QiOptDouble OvGenOptions::masteringRedY("MasteringRedY", "Custom mastering red y", 0.292, 0, 1, {100, 290, -1, -1});
QiOptDouble OvGenOptions::masteringGreenX("MasteringGreenX", "Custom mastering green x", 0.170, 0, 1,
                                          {200, 290, -1, -1});
QiOptDouble OvGenOptions::masteringGreenY("MasteringGreenY", "Custom mastering green y", 0.797, 0, 1,
                                          {300, 290, -1, -1});
QiOptDouble OvGenOptions::masteringBlueX("MasteringBlueX", "Custom mastering blue x", 0.131, 0, 1, {0, 320, -1, -1});
QiOptDouble OvGenOptions::masteringBlueY("MasteringBlueY", "Custom mastering blue y", 0.046, 0, 1,
                                         {100, 320, -1, -1});
QiOptDouble OvGenOptions::masteringWhiteX("MasteringWhiteX", "Custom mastering white point x", 0.3127, 0, 1,
                                          {200, 320, -1, -1});
QiOptDouble OvGenOptions::masteringWhiteY("MasteringWhiteY", "Custom mastering white point y", 0.3290, 0, 1,
                                          {300, 320, -1, -1});
QiOptDouble OvGenOptions::masteringMaxLuminance("MasteringMaxLuminance",
                                                "Maximum luminance of the mastering display in cd/m2", 1000, 1,
                                                65535, {0, 350, -1, -1});
QiOptDouble OvGenOptions::masteringMinLuminance("MasteringMinLuminance",
                                                "Minimum luminance of the mastering display in cd/m2", 0.005, 0,
                                                6.5535, {200, 350, -1, -1});
QiOptInt OvGenOptions::maxCll("MaxCLL", "Maximum content light level in cd/m2 (0: unknown)", 0, 0, 65535,
                              {0, 380, -1, -1});
QiOptInt OvGenOptions::maxFall("MaxFALL", "Maximum frame-average light level in cd/m2 (0: unknown)", 0, 0, 65535,
                               {200, 380, -1, -1});

QiOptionList OvGenOptions::signalList()
{
    static const QiOption *const kList[] = {&transferFunction,
                                            &colorimetry,
                                            &signalRange,
                                            &hdrMetadata,
                                            &masteringPrimaries,
                                            &masteringRedX,
                                            &masteringRedY,
                                            &masteringGreenX,
                                            &masteringGreenY,
                                            &masteringBlueX,
                                            &masteringBlueY,
                                            &masteringWhiteX,
                                            &masteringWhiteY,
                                            &masteringMaxLuminance,
                                            &masteringMinLuminance,
                                            &maxCll,
                                            &maxFall,
                                            nullptr};
    return kList;
}
