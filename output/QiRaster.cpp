#include "QiRaster.h"

QiRaster::QiRaster() : QiImage(1280, 720, 10), m_coder(this) {}

QiRaster::~QiRaster() = default;

bool QiRaster::present(int32_t index)
{
    if (index == -1)
        index = m_bufferCount > 0 ? (m_currentBuffer + 1) % m_bufferCount : 0;
    m_currentBuffer = index;
    outputBuffer(index);
    return true;
}

bool QiRaster::setInterface(QiRasterInterface *iface)
{
    if (!iface) {
        m_interface = nullptr;
        return true;
    }
    if (m_interface)
        return false;
    m_interface = iface;
    return true;
}

bool QiRaster::setRasterFormat(const std::string &) { return false; }

bool QiRaster::getFormatList(std::vector<std::string> &names, int32_t &defaultIndex)
{
    names.assign(1, "default");
    defaultIndex = 0;
    return true;
}

std::string QiRaster::currentFormat() { return "default"; }
bool QiRaster::rescanFormats() { return false; }
void QiRaster::reservedSlot16(void *) {}
void QiRaster::reservedSlot17(void *) {}
bool QiRaster::reservedSlot21() { return false; }
bool QiRaster::reservedSlot25(void *, void *) { return false; }
bool QiRaster::reservedSlot26(uint8_t &, uint8_t &) { return false; }

bool QiRaster::setOutputPixelFormat(int32_t index)
{
    m_outputPixelFormat = index;
    return true;
}

int32_t QiRaster::outputPixelFormat() const { return m_outputPixelFormat; }
uint32_t QiRaster::supportedPixelFormats() const { return 1; }
void QiRaster::setEyeFilled(int32_t) {}
QiImage *QiRaster::firstEyeBuffer() { return this; }
QiImage *QiRaster::secondEyeBuffer() { return nullptr; }

bool QiRaster::readEdid(std::vector<uint8_t> &edid)
{
    // A 256-byte block of which the first four bytes are meaningful.
    edid.assign(256, 0);
    edid[0] = 4;
    edid[1] = 3;
    edid[2] = 2;
    edid[3] = 1;
    edid.resize(4);
    return true;
}

bool QiRaster::rerenderP() { return false; }
