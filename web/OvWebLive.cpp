#include "OvWebLive.h"

#include "OvCore.h"
#include "QiImage.h"
#include "QiImageFiles.h"
#include "QiRaster.h"
#include "SimBoards.h"

#include <algorithm>

using Clock = std::chrono::steady_clock;

OvWebLive::OvWebLive(OvCore *engine) : m_engine(engine) {}

uint64_t OvWebLive::sequence() const
{
    if (SimBoards::selected() != SimBoards::Board::none)
        return SimBoards::outputSequence();
    return m_engine ? m_engine->framesPresented() : 0;
}

uint64_t OvWebLive::made() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_made;
}

bool OvWebLive::makeFromBoard(Picture &p)
{
    // The encoding is read around the copy: a request that changed it in
    // between has drawn a new frame, so try that one.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int32_t before = m_engine ? m_engine->outputEncoding() : 2;
        if (!SimBoards::outputFrame(m_frame))
            return false;
        const int32_t after = m_engine ? m_engine->outputEncoding() : 2;
        if (before != after && attempt < 2)
            continue;
        QiSignalLayout layout;
        if (!qiSignalLayoutFromName(m_frame.layout, layout))
            return false;
        if (!m_preview.fromSignal(layout, m_frame.bytes.data(), m_frame.bytes.size(), m_frame.width, m_frame.height,
                                  m_frame.rowBytes, after, p.maxWidth, p.maxHeight))
            return false;
        p.sequence = m_frame.sequence;
        p.frameWidth = m_frame.width;
        p.frameHeight = m_frame.height;
        p.videoFormat = m_frame.videoFormat;
        p.layout = m_frame.layout;
        return true;
    }
    return false;
}

bool OvWebLive::makeFromFrameBuffer(Picture &p)
{
    if (!m_engine || !m_engine->raster())
        return false;
    QiRaster *raster = m_engine->raster();
    const int32_t black = raster->blackLevel(), white = raster->whiteLevel();
    bool ok = false;
    // Shrunk while the render thread waits: reading the frame once costs
    // less than copying it first.
    p.sequence = m_engine->framesPresented();
    m_engine->readFrameBuffer([&](const QiImage &image) {
        p.frameWidth = image.width();
        p.frameHeight = image.height();
        ok = m_preview.fromImage(image, black, white, p.maxWidth, p.maxHeight);
    });
    if (!ok || p.sequence == 0)
        return false;
    QiParams values;
    m_engine->getGenValues(values);
    const char *format = nullptr;
    p.videoFormat = values.get("VideoFormat", format) ? format : "";
    p.layout = "framebuffer";
    return true;
}

std::shared_ptr<const OvWebLive::Picture>
OvWebLive::picture(int32_t maxWidth, int32_t maxHeight, const std::function<bool(std::chrono::milliseconds)> &pause)
{
    maxWidth = std::clamp(maxWidth, kMinSide, kMaxSide);
    maxHeight = std::clamp(maxHeight, kMinSide, kMaxSide);
    std::unique_lock<std::mutex> lock(m_lock);
    const uint64_t now = sequence();
    if (m_last && m_last->sequence == now && m_last->maxWidth == maxWidth && m_last->maxHeight == maxHeight)
        return m_last;
    // Frames that change faster than this are shown at this rate.
    const auto gap = std::max<Clock::duration>(kMinInterval, m_lastCost * (kDuty - 1));
    const auto wait = m_lastMade + gap - Clock::now();
    if (wait > Clock::duration::zero()) {
        lock.unlock();
        if (!pause(std::chrono::duration_cast<std::chrono::milliseconds>(wait) + std::chrono::milliseconds(1)))
            return nullptr;
        lock.lock();
    }
    const uint64_t current = sequence();
    if (m_last && m_last->sequence == current && m_last->maxWidth == maxWidth && m_last->maxHeight == maxHeight)
        return m_last;

    const auto t0 = Clock::now();
    auto p = std::make_shared<Picture>();
    p->maxWidth = maxWidth;
    p->maxHeight = maxHeight;
    const bool board = SimBoards::selected() != SimBoards::Board::none;
    if (!(board ? makeFromBoard(*p) : makeFromFrameBuffer(*p)))
        return nullptr;
    p->width = m_preview.width();
    p->height = m_preview.height();
    if (!qiEncodePngRgb8(m_preview.rgb().data(), p->width, p->height, p->png, 2))
        return nullptr;
    p->made = Clock::now();
    p->makeMs = std::chrono::duration<double, std::milli>(p->made - t0).count();
    m_lastMade = p->made;
    m_lastCost = p->made - t0;
    ++m_made;
    m_last = p;
    return m_last;
}
