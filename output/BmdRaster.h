#pragma once
#include "QiRaster.h"

#include <memory>
#include <string>

class BmdOutput;

// The raster for Blackmagic DeckLink cards. Its video formats are the
// driver's display modes. A rendered frame is packed into a staging buffer;
// presenting copies that buffer into the device frame and shows it
// synchronously.
class BmdRaster : public QiRaster {
public:
    BmdRaster();
    ~BmdRaster() override;

    // Opens the first device and builds the mode list; no mode is enabled yet.
    bool init();

    bool resize(int32_t width, int32_t height) override;
    bool setBufferCount(int32_t n) override;
    bool render(int32_t index, bool exact) override;
    bool outputBuffer(int32_t index) override;
    bool setRasterFormat(const std::string &name) override;
    bool getFormatList(std::vector<std::string> &names, int32_t &defaultIndex) override;
    std::string currentFormat() override;
    bool setOutputPixelFormat(int32_t generic) override;
    uint32_t supportedPixelFormats() const override;
    std::string gatewareVersion() override;
    std::string serialNumber() override;
    bool reservedSlot26(uint8_t &first, uint8_t &second) override;
    bool rerenderP() override;

    // Null before init or after a failed one.
    BmdOutput *bmdOutput() const { return m_output.get(); }
    const uint8_t *stagingBuffer(int32_t index) const;

protected:
    // The image's own resize inside resize(); may fail for want of memory.
    virtual bool resizeImage(int32_t width, int32_t height) { return QiImage::resize(width, height); }

private:
    bool selectMode(int32_t index);

    std::unique_ptr<BmdOutput> m_output;
    QiFrameBlock m_staging;
};
