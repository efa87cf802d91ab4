#include "QiImage.h"

#include "QiLog.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

uint64_t *QiImage::allocatePixels(int32_t width, int32_t height)
{
    // The byte count the log line reports; an overflowing product asks for an
    // impossible size so the allocation fails like any other.
    uint64_t bytes = 0;
    bool overflow = width < 0 || height < 0 ||
                    __builtin_mul_overflow(static_cast<uint64_t>(width < 0 ? 0 : width),
                                           static_cast<uint64_t>(height < 0 ? 0 : height), &bytes) ||
                    __builtin_mul_overflow(bytes, uint64_t{8}, &bytes);
    if (overflow || bytes > std::numeric_limits<size_t>::max() / 2) {
        qiLog(2, "Couldn't allocate %d bytes for m_data\n",
              static_cast<int>(static_cast<int64_t>(width) * height * 8));
        return nullptr;
    }
    size_t count = static_cast<size_t>(bytes / 8);
    uint64_t *p = new (std::nothrow) uint64_t[count ? count : 1];
    if (!p)
        qiLog(2, "Couldn't allocate %d bytes for m_data\n", static_cast<int>(bytes));
    return p;
}

QiImage::QiImage(int32_t width, int32_t height, int32_t bits)
    : m_bits(bits), m_width(width), m_height(height)
{
    m_data = allocatePixels(width, height);
    if (m_data)
        std::memset(m_data, 0, static_cast<size_t>(width) * static_cast<size_t>(height) * sizeof(uint64_t));
}

QiImage::~QiImage() { delete[] m_data; }

bool QiImage::resize(int32_t width, int32_t height)
{
    uint64_t *fresh = allocatePixels(width, height);
    if (!fresh)
        return false;
    size_t oldCount = m_data ? static_cast<size_t>(m_width) * static_cast<size_t>(m_height) : 0;
    size_t newCount = static_cast<size_t>(width) * static_cast<size_t>(height);
    size_t keep = std::min(oldCount, newCount);
    if (keep)
        std::memcpy(fresh, m_data, keep * sizeof(uint64_t));
    if (newCount > keep)
        std::memset(fresh + keep, 0, (newCount - keep) * sizeof(uint64_t));
    delete[] m_data;
    m_data = fresh;
    m_width = width;
    m_height = height;
    return true;
}

bool QiImage::setPixelRgb(int32_t x, int32_t y, uint32_t red, uint32_t green, uint32_t blue)
{
    return setPixel(x, y, pack(red, green, blue));
}

bool QiImage::setPixel(int32_t x, int32_t y, uint64_t word)
{
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return false;
    m_data[static_cast<size_t>(y) * static_cast<size_t>(m_width) + static_cast<size_t>(x)] = word;
    return true;
}

void QiImage::fill(uint64_t word)
{
    if (!m_data)
        return;
    std::fill_n(m_data, static_cast<size_t>(m_width) * static_cast<size_t>(m_height), word);
}

bool QiImage::fillRect(uint64_t word, int32_t x, int32_t y, int32_t w, int32_t h)
{
    // Placeholder per-pixel definition; the row-at-a-time version replaces it.
    if (w == -1)
        w = m_width - x;
    if (h == -1)
        h = m_height - y;
    for (int32_t j = 0; j < h; ++j)
        for (int32_t i = 0; i < w; ++i)
            setPixel(x + i, y + j, word);
    return true;
}

