#pragma once
#include "QiSignal.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The payload identifier words an SDI output carries (output counts from 1).
struct SimVpid {
    uint32_t output = 1;
    uint32_t a = 0, b = 0;
};

// What the signal of a frame said it carried, as the board was told.
struct SimSignal {
    std::vector<SimVpid> sdiVpid;
    int32_t eotf = kEotfSdr;
    int32_t colorimetry = kColorimetry709;
    bool fullRange = false;
    int32_t bitDepth = 0;
    // HDR static metadata went out with the frame (infoframe or frame metadata).
    bool hdrPresent = false;
    QiHdrFields hdr;
    // The HDMI infoframe was sent (Kona's HDMI output).
    bool infoframe = false;
};

// A frame as it left a simulated board's output, with the description the
// monitor window and the capture files give it.
struct SimFrame {
    std::vector<uint8_t> bytes;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t rowBytes = 0;
    // One of v210, uyvy, yuy2, bgra, argb, rgba, rgb24, bgr24, dpx10, r210, none.
    std::string layout = "none";
    // The format name as the generator lists it.
    std::string videoFormat;
    // Frames output so far, counting from 1.
    uint64_t sequence = 0;
    SimSignal signal;
};

// The description as one JSON object (no trailing newline).
std::string simFrameJson(const SimFrame &frame);

// Writes <folder>/<board>-out.raw and <board>-out.json, each through a
// temporary file and a rename, so a reader never sees half a frame.
// False (nothing renamed) when a file cannot be written; error then says
// which file and why.
bool writeSimCapture(const std::string &folder, const char *board, const SimFrame &frame,
                     std::string *error = nullptr);
// The same with the frame's bytes given apart (frame.bytes is not used).
bool writeSimCapture(const std::string &folder, const char *board, const SimFrame &frame, const uint8_t *bytes,
                     size_t size, std::string *error = nullptr);

// writeSimCapture for a board that writes after every frame: a failure (the
// folder missing, the disk full) is logged once at level 1, and again only
// when it changes or after a write has succeeded. lastError is the board's
// record of the failure last logged.
bool writeSimCaptureLogged(const std::string &folder, const char *board, const SimFrame &frame,
                           std::string &lastError);
bool writeSimCaptureLogged(const std::string &folder, const char *board, const SimFrame &frame,
                           const uint8_t *bytes, size_t size, std::string &lastError);

// The ORVANE_SIM_CAPTURE folder, or "" when unset.
std::string simCaptureFolderFromEnvironment();
