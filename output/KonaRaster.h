#pragma once
#include "QiRaster.h"

#include <memory>
#include <string>
#include <vector>

class CNTV2Card;

// The raster for AJA Kona cards. It works alongside the card's own control
// panel: it adopts the video format and frame-buffer format the card is set
// to, and changes them only when the generator asks. Frames are packed in
// host memory and copied by DMA into the frame channels 1 and 2 show.
// Host memory holds one frame more than the buffers: a buffer is packed
// into the spare frame, and the frame it had becomes the spare, so what was
// last sent to the card is not written over by the next frame packed.
class KonaRaster : public QiRaster {
public:
    KonaRaster();
    // Releases the card's stream for this process and closes the card.
    ~KonaRaster() override;

    // Opens board 0 and adopts its current state; false when no board opens.
    bool init();

    bool resize(int32_t width, int32_t height) override;
    bool setBufferCount(int32_t n) override;
    bool render(int32_t index, bool exact) override;
    bool outputBuffer(int32_t index) override;
    bool setRasterFormat(const std::string &name) override;
    bool getFormatList(std::vector<std::string> &names, int32_t &defaultIndex) override;
    std::string currentFormat() override;
    bool setOutputPixelFormat(int32_t generic) override;
    int32_t outputPixelFormat() const override;
    std::string gatewareVersion() override;
    std::string serialNumber() override;
    bool reservedSlot26(uint8_t &first, uint8_t &second) override;
    bool rerenderP() override;

    int32_t formatIndex() const { return m_formatIndex; }
    int32_t konaPixelFormat() const { return m_konaPixelFormat; }
    uint32_t rowBytes() const { return m_rowBytes; }
    // Output buffer index as the card receives it (tests, benchmarks).
    const uint8_t *cardBuffer(int32_t index) const;

private:
    // Reads channel 1's frame-buffer format (as a card pixel-format index)
    // and video format.
    bool readCardState(int32_t &pixelFormat, uint32_t &videoFormat);
    bool adopt(int32_t pixelFormat, uint32_t videoFormat);
    void setVideoFormat(int32_t pixelFormat, int32_t row);
    // The payload identifier pair for a card pixel format and format row:
    // as always until the signal is described, then with its fields.
    struct VpidPair {
        uint32_t a, b;
        bool matched;
    };
    VpidPair vpidFor(int32_t pixelFormat, int32_t row) const;
    // Sends the signal description (payload identifiers on the SDI outputs
    // the frame goes to, the HDMI infoframe) when it differs from what the
    // card was last given. Runs before every frame reaches the card.
    void sendSignal();

    std::unique_ptr<CNTV2Card> m_card;
    QiFrameBlock m_cardBuffers;
    std::vector<int32_t> m_frameOf; // host frame of each output buffer
    int32_t m_spareFrame = 0;
    int32_t m_formatIndex = 0;
    uint32_t m_rowBytes = 0;
    int32_t m_konaPixelFormat = 8;
    // What the card was last told about the signal.
    struct Sent {
        QiSignal signal;
        int32_t formatIndex = -1, pixelFormat = -1;
        bool operator==(const Sent &) const = default;
    } m_sent;
    std::string m_serial;
    bool m_haveSerial = false;
};
