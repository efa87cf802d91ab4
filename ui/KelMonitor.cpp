#include "KelMonitor.h"

#include "QiSignalDecoder.h"

#include "SimBoards.h"
#include "SimDeckLinkBoard.h"
#include "SimKonaBoard.h"

#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cmath>

KelMonitor::KelMonitor(std::function<uint64_t()> sequence, std::function<bool(SimFrame &)> frame, QWidget *parent)
    : QWidget(parent), m_sequence(std::move(sequence)), m_frame(std::move(frame)), m_timer(new QTimer(this))
{
    setWindowTitle(tr("Orvane monitor: no signal"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(960, 540);
    connect(m_timer, &QTimer::timeout, this, &KelMonitor::poll);
    m_timer->start(20);
}

std::unique_ptr<KelMonitor> KelMonitor::forSimulatedBoard()
{
    switch (SimBoards::selected()) {
    case SimBoards::Board::kona:
        return std::make_unique<KelMonitor>([] { return SimKonaBoard::instance().sequence(); },
                                            [](SimFrame &f) { return SimKonaBoard::instance().outputFrame(f); });
    case SimBoards::Board::deckLink:
        return std::make_unique<KelMonitor>([] { return SimDeckLinkBoard::instance().sequence(); },
                                            [](SimFrame &f) { return SimDeckLinkBoard::instance().outputFrame(f); });
    default:
        return nullptr;
    }
}

void KelMonitor::poll()
{
    const uint64_t seq = m_sequence();
    if (seq == m_shown || !m_frame(m_buffer))
        return;
    m_shown = m_buffer.sequence;
    QString title = tr("Orvane monitor: %1, %2 %3 x %4")
                        .arg(QString::fromStdString(m_buffer.videoFormat), QString::fromStdString(m_buffer.layout))
                        .arg(m_buffer.width)
                        .arg(m_buffer.height);
    if (!decodeFrame(m_buffer, m_picture)) {
        m_picture = QImage();
        title += tr(" (no decoder)");
    }
    setWindowTitle(title);
    update();
}

void KelMonitor::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (m_picture.isNull())
        return;
    // Letterboxed, aspect kept; smooth only when shrinking.
    QSize fit = m_picture.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - fit.width()) / 2, (height() - fit.height()) / 2), fit);
    p.setRenderHint(QPainter::SmoothPixmapTransform, fit.width() < m_picture.width());
    p.drawImage(target, m_picture);
}

bool KelMonitor::decodeFrame(const SimFrame &frame, QImage &out)
{
    QiSignalLayout layout;
    if (!qiSignalLayoutFromName(frame.layout, layout))
        return false;
    // Kept between frames so a steady stream reuses its buffers.
    thread_local QiDecodedSignal decoded, rgb;
    if (!qiDecodeSignal(layout, frame.bytes.data(), frame.bytes.size(), frame.width, frame.height, frame.rowBytes,
                        decoded))
        return false;
    // The generator encodes HD and larger with BT.709, standard definition with BT.601.
    if (!qiSignalToRgb(decoded, frame.width > 720 ? 2 : 0, rgb))
        return false;
    const int w = rgb.width, h = rgb.height;
    if (out.width() != w || out.height() != h || out.format() != QImage::Format_RGB32)
        out = QImage(w, h, QImage::Format_RGB32);

    // YCbCr comes back at narrow range (black 16, white 235 at 8 bits),
    // shown stretched to the screen's full range; RGB layouts are shown as sent.
    const int shift = rgb.bits - 8;
    uint8_t lut[1024];
    const int top = 1 << rgb.bits;
    for (int v = 0; v < top; ++v) {
        if (decoded.ycbcr) {
            const int k = 16 << shift, span = 219 << shift;
            const int s = ((v - k) * 255 + span / 2) / span;
            lut[v] = static_cast<uint8_t>(std::clamp(s, 0, 255));
        } else {
            lut[v] = static_cast<uint8_t>(v >> shift);
        }
    }
    for (int y = 0; y < h; ++y) {
        const size_t row = static_cast<size_t>(y) * static_cast<size_t>(w);
        const uint16_t *r = rgb.c0.data() + row, *g = rgb.c1.data() + row, *b = rgb.c2.data() + row;
        auto *dst = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < w; ++x)
            dst[x] = qRgb(lut[r[x] & (top - 1)], lut[g[x] & (top - 1)], lut[b[x] & (top - 1)]);
    }
    return true;
}
