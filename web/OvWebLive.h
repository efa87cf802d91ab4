#pragma once
#include "QiPreview.h"
#include "SimFrame.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class OvCore;

// The live view: what is on the output as a small sRGB PNG. With a
// simulated board that is the board's output decoded back to RGB (gating
// and mute included); with a real card, the frame buffer. One picture is
// kept and shared by every page that asks for the same frame and size, and
// new ones are made at most every kMinInterval, and never more often than
// keeps their making under 1/kDuty of one core: open pages cost the render
// thread at most a frame copy that often, however fast patterns change.
class OvWebLive {
public:
    static constexpr std::chrono::milliseconds kMinInterval{100};
    static constexpr int kDuty = 10;
    static constexpr int32_t kMaxSide = 1920;
    static constexpr int32_t kMinSide = 16;

    struct Picture {
        uint64_t sequence = 0;          // the frame it shows
        int32_t width = 0, height = 0;  // of the PNG
        int32_t frameWidth = 0, frameHeight = 0;
        int32_t maxWidth = 0, maxHeight = 0; // what it was made for
        std::string videoFormat, layout;
        std::vector<uint8_t> png;
        std::chrono::steady_clock::time_point made;
        double makeMs = 0; // copy, decode and encode
    };

    explicit OvWebLive(OvCore *engine);

    // Frames output so far (0 before the first).
    uint64_t sequence() const;
    // The picture of the frame now on the output, fitted into maxWidth x
    // maxHeight (clamped to kMinSide..kMaxSide). Null when nothing has been
    // output or it cannot be decoded. pause is how to wait (false: give up).
    std::shared_ptr<const Picture> picture(int32_t maxWidth, int32_t maxHeight,
                                           const std::function<bool(std::chrono::milliseconds)> &pause);
    // Pictures made so far (the tests count them).
    uint64_t made() const;

private:
    bool makeFromBoard(Picture &p);
    bool makeFromFrameBuffer(Picture &p);

    OvCore *m_engine;
    mutable std::mutex m_lock;
    std::shared_ptr<const Picture> m_last;
    std::chrono::steady_clock::time_point m_lastMade{};
    std::chrono::steady_clock::duration m_lastCost{};
    uint64_t m_made = 0;
    SimFrame m_frame;
    QiPreview m_preview;
};
