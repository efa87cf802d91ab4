#pragma once
#include "QiFrameBlock.h"
#include "QiImage.h"
#include "QiImageCoder.h"
#include "QiRasterInterface.h"
#include "QiSignal.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Generic output pixel-format indices.
enum QiPixelFormat : int32_t {
    kPixRgb8 = 0,       // RGB 8 bits per component
    kPixRgb10 = 1,      // RGB 10 bits per component
    kPixYCbCr8 = 4,     // YCbCr 4:2:2 8 bits, Cb Y0 Cr Y1
    kPixYCbCr10 = 5,    // YCbCr 4:2:2 10 bits, v210
    kPixYCbCr444_8 = 7, // what "YCC444_24" asks for; no encoder
};

// The frame buffer joined to an output device. All operations run on the
// render thread except construction, initialisation and destruction.
class QiRaster : public QiImage {
public:
    QiRaster();
    ~QiRaster() override;

    // Encode the whole image into output buffer index; exact selects the
    // formula path of the 10-bit 4:2:2 encoder.
    virtual bool render(int32_t index, bool exact) = 0;
    // (Re)allocate n output buffers; currentBuffer becomes 0.
    virtual bool setBufferCount(int32_t n) = 0;
    // index -1: the buffer after the current one, wrapping.
    virtual bool present(int32_t index);
    // Stores the interface once; null clears it. A second one is refused.
    virtual bool setInterface(QiRasterInterface *iface);
    virtual bool setRasterFormat(const std::string &name);
    // The device's formats and the default index.
    virtual bool getFormatList(std::vector<std::string> &names, int32_t &defaultIndex);
    virtual std::string currentFormat();
    virtual bool rescanFormats();
    // Reserved slots; nothing calls them.
    virtual void reservedSlot16(void *);
    virtual void reservedSlot17(void *);
    virtual bool setOutputPixelFormat(int32_t index);
    virtual int32_t outputPixelFormat() const;
    virtual uint32_t supportedPixelFormats() const;
    virtual bool reservedSlot21();
    // Stereo hooks: neither card has a second-eye buffer.
    virtual void setEyeFilled(int32_t eye);
    virtual QiImage *firstEyeBuffer();
    virtual QiImage *secondEyeBuffer();
    virtual bool reservedSlot25(void *, void *);
    virtual bool reservedSlot26(uint8_t &first, uint8_t &second);
    virtual std::string gatewareVersion() = 0;
    virtual std::string serialNumber() = 0;
    // Fills the EDID bytes read from the display (the cards give 4, 3, 2, 1).
    virtual bool readEdid(std::vector<uint8_t> &edid);
    // True when the device changed format on its own and it was adopted.
    virtual bool rerenderP();
    // Sends output buffer index to the device.
    virtual bool outputBuffer(int32_t index) = 0;

    QiImageCoder &coder() { return m_coder; }
    QiRasterInterface *interface() const { return m_interface; }
    int32_t colourEncoding() const { return m_colourEncoding; }
    void setColourEncoding(int32_t e) { m_colourEncoding = e; }
    int32_t blackLevel() const { return m_blackLevel; }
    int32_t whiteLevel() const { return m_whiteLevel; }
    int32_t bufferCount() const { return m_bufferCount; }
    // The signal the next presented frames carry; the back-ends send it
    // with each frame they output.
    const QiSignal &signal() const { return m_signal; }
    void setSignal(const QiSignal &signal) { m_signal = signal; }
    // Full range reaches the signal only on an RGB output.
    bool signalFullRange() const
    {
        const int32_t g = outputPixelFormat();
        return m_signal.fullRange && (g == kPixRgb8 || g == kPixRgb10);
    }
    int32_t currentBuffer() const { return m_currentBuffer; }

protected:
    QiImageCoder m_coder;
    int32_t m_outputPixelFormat = 0;
    int32_t m_colourEncoding = 2;
    QiRasterInterface *m_interface = nullptr;
    int32_t m_blackLevel = 0;
    int32_t m_whiteLevel = 255;
    int32_t m_bufferCount = 1;
    int32_t m_currentBuffer = 0;
    QiSignal m_signal;
};
