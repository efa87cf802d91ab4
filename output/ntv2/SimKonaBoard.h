#pragma once
#include "CNTV2Card.h"
#include "QiFrameBlock.h"
#include "SimFrame.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// The simulated Kona board behind CNTV2Card: its settings, the frame memory
// DMA writes land in, the payload identifier written and a log of every call.
// One per process. Thread-safe: the render thread drives it through the card
// while the monitor window reads the output frame.
//
// A DMA from a raster's frame block is not copied at once: the frame keeps
// a reference to the block's bytes, and the copy is made only when the
// block is about to change (the block tells the board first) or straight
// into whoever reads the frame. What any reader sees is exactly what was
// DMA'd; a still pattern presented again and again costs no copy at all.
// DMAs from any other memory are copied as they arrive.
class SimKonaBoard : private QiFrameBlock::Reader {
public:
    static constexpr uint32_t kChannels = 8;
    static constexpr uint32_t kFrames = 16;
    // Largest DMA transfer the board accepts (one 4K frame of 32-bit pixels fits).
    static constexpr uint32_t kFrameCapacity = 64u << 20;

    static SimKonaBoard &instance();

    // Present or absent, in the starting state a control panel leaves: video
    // format 25, frame-buffer format 0 on every channel, then ORVANE_SIM_KONA
    // ("videoformat=N,fbf=N") and the ORVANE_SIM_CAPTURE folder applied.
    // Clears the call log, the frame memory and the output sequence.
    void reset(bool present);

    bool present() const;
    // Frame geometry of an NTV2 video format the board can output, or
    // NTV2_FG_INVALID (0xFF).
    static uint32_t geometryOf(uint32_t videoFormat);
    static bool knownFrameBufferFormat(uint32_t fbf);

    // State, as tests and the card's own control panel see it. The setters
    // change the board underneath whoever has it open; they are not logged.
    uint32_t videoFormat() const;
    bool setVideoFormat(uint32_t videoFormat);
    uint32_t frameBufferFormat(uint32_t channel) const;
    bool setFrameBufferFormat(uint32_t channel, uint32_t fbf);
    void vpid(uint32_t &a, uint32_t &b) const;
    // The words of an SDI output (spigot from 0); false when never written.
    bool vpidOf(uint32_t spigot, uint32_t &a, uint32_t &b) const;
    // Payload identifier settings of a channel (kVpid... fields).
    enum VpidField { kVpidTransfer = 0, kVpidColorimetry, kVpidLuminance, kVpidRgbRange, kVpidFields };
    uint32_t vpidField(VpidField field, uint32_t channel) const;
    // The HDMI HDR infoframe's data and whether it is sent.
    HDRRegValues hdrData() const;
    bool hdmiHdr() const;
    uint32_t outputFrameOf(uint32_t channel) const;
    void setOutputFrame(uint32_t channel, uint32_t frame);
    // Makes reading the output frame of channel fail (fault injection).
    void setOutputFrameFails(uint32_t channel, bool fails);
    void setSerialNumber(const std::string &serial);
    std::string serialNumber() const;
    uint32_t openCount() const;

    // Every call made through the card, e.g. "SetVideoFormat(4,0,0,0)".
    std::vector<std::string> calls() const;
    void clearCalls();

    // Copy of the card memory of frame number frame; empty when never written.
    std::vector<uint8_t> frameMemory(uint32_t frame) const;
    // The frame channel 1 outputs, as last written; false before any write.
    bool outputFrame(SimFrame &frame) const;
    uint64_t sequence() const;
    // Called, under the board's lock, with the description and bytes of
    // every frame that reaches channel 1's output (tests); null stops it.
    using FrameObserver = std::function<void(const SimFrame &description, const std::vector<uint8_t> &bytes)>;
    void setFrameObserver(FrameObserver observer);
    void setCaptureFolder(const std::string &folder);

    // The card layer's entry points; each records the call.
    bool open();
    void record(const std::string &call);
    bool readFrameBufferFormat(uint32_t channel, uint32_t &fbf);
    bool writeFrameBufferFormat(uint32_t channel, uint32_t fbf);
    bool readVideoFormat(uint32_t channel, uint32_t &format);
    bool writeVideoFormat(uint32_t format);
    bool readGeometry(uint32_t channel, uint32_t &geometry);
    bool read3G(uint32_t channel, bool &enable);
    bool write3Gb(uint32_t channel, bool enable);
    bool writeVpid(uint32_t a, uint32_t b, uint32_t spigot);
    bool writeVpidField(VpidField field, uint32_t value, uint32_t channel);
    bool writeHdrData(const HDRRegValues &values);
    bool writeHdmiHdr(bool enable);
    bool writeHdmiConstantLuminance(bool enable);
    bool readOutputFrame(uint32_t channel, uint32_t &frame);
    bool dmaWrite(uint32_t frame, const void *bytes, uint32_t count);
    bool readSerial(std::string &serial);
    bool releaseStream(uint32_t appCode, int32_t pid);
    bool close();

private:
    // A frame's memory: its own bytes, or a reference to DMA'd bytes that
    // are still unchanged in a frame block.
    struct FrameMemory {
        std::vector<uint8_t> own;
        const uint8_t *ref = nullptr;
        size_t refBytes = 0;
        const uint8_t *bytes() const { return ref ? ref : own.data(); }
        size_t size() const { return ref ? refBytes : own.size(); }
    };

    SimKonaBoard();
    ~SimKonaBoard();
    void resetLocked(bool present);
    void recordLocked(const std::string &call);
    // The signal of the frame now on the output, from what the board was told.
    void describeSignalLocked(SimSignal &signal) const;
    void blockChanging(const uint8_t *begin, size_t bytes) override;

    mutable std::mutex m_mutex;
    bool m_present = false;
    uint32_t m_openCount = 0;
    uint32_t m_videoFormat = 25;
    uint32_t m_fbf[kChannels] = {};
    bool m_3g[kChannels] = {};
    bool m_3gb[kChannels] = {};
    uint32_t m_vpidA = 0, m_vpidB = 0;
    uint32_t m_spigotVpid[kChannels][2] = {};
    bool m_spigotWritten[kChannels] = {};
    uint32_t m_vpidFields[kVpidFields][kChannels] = {};
    HDRRegValues m_hdr;
    bool m_hdmiHdr = false;
    bool m_hdmiConstantLuminance = false;
    uint32_t m_outputFrame[kChannels] = {};
    bool m_outputFrameFails[kChannels] = {};
    std::string m_serial = "SIM-KONA-0001";
    std::vector<std::string> m_calls;
    std::vector<FrameMemory> m_memory;
    SimFrame m_output; // description of channel 1's last frame (bytes unused)
    bool m_haveOutput = false;
    uint64_t m_sequence = 0;
    FrameObserver m_observer;
    std::string m_captureFolder;
    std::string m_captureError; // the capture failure last logged
};
