#include "QiImageCoder.h"

#include "QiImage.h"

bool QiImageCoder::setOverrides(uint8_t flags, int32_t red, int32_t green, int32_t blue)
{
    m_flags = flags;
    m_constRed = red & 0xFF;
    m_constGreen = green & 0xFF;
    m_constBlue = blue & 0xFF;
    return true;
}

bool QiImageCoder::getOverrides(uint8_t &flags, uint8_t &red, uint8_t &green, uint8_t &blue) const
{
    flags = m_flags;
    red = static_cast<uint8_t>(m_constRed);
    green = static_cast<uint8_t>(m_constGreen);
    blue = static_cast<uint8_t>(m_constBlue);
    return true;
}
