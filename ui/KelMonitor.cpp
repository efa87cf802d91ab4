#include "KelMonitor.h"

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

namespace {

// Y'CbCr at narrow range to 8-bit R'G'B', with the HD (BT.709) matrix above
// standard definition and the BT.601 one at it.
struct YccToRgb {
    double kr, kb, yScale, cScale;
    int yOff, cOff;
    YccToRgb(int width, int bits)
        : kr(width > 720 ? 0.2126 : 0.299), kb(width > 720 ? 0.0722 : 0.114),
          yScale(1.0 / (219 << (bits - 8))), cScale(1.0 / (224 << (bits - 8))), yOff(16 << (bits - 8)),
          cOff(128 << (bits - 8))
    {
    }
    QRgb operator()(int y, int cb, int cr) const
    {
        const double Y = (y - yOff) * yScale, Cb = (cb - cOff) * cScale, Cr = (cr - cOff) * cScale;
        const double r = Y + 2 * (1 - kr) * Cr;
        const double b = Y + 2 * (1 - kb) * Cb;
        const double g = (Y - kr * r - kb * b) / (1 - kr - kb);
        auto q = [](double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
        return qRgb(q(r), q(g), q(b));
    }
};

uint32_t le32(const uint8_t *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void v210Row(const uint8_t *src, int width, const YccToRgb &m, QRgb *dst)
{
    // Six pixels in four little-endian words: Cb0 Y0 Cr0 | Y1 Cb2 Y2 | Cr2 Y3 Cb4 | Y4 Cr4 Y5.
    for (int x = 0; x < width; x += 6, src += 16) {
        int v[12];
        for (int i = 0; i < 4; ++i) {
            const uint32_t w = le32(src + 4 * i);
            v[3 * i] = w & 0x3ff;
            v[3 * i + 1] = (w >> 10) & 0x3ff;
            v[3 * i + 2] = (w >> 20) & 0x3ff;
        }
        const int ys[6] = {v[1], v[3], v[5], v[7], v[9], v[11]};
        const int cbs[3] = {v[0], v[4], v[8]};
        const int crs[3] = {v[2], v[6], v[10]};
        for (int k = 0; k < 6 && x + k < width; ++k)
            dst[x + k] = m(ys[k], cbs[k / 2], crs[k / 2]);
    }
}

// 8-bit 4:2:2: byte offsets of Y0, Y1, Cb, Cr within each pixel pair.
void yuv422Row(const uint8_t *src, int width, const YccToRgb &m, const int order[4], QRgb *dst)
{
    for (int x = 0; x + 1 < width; x += 2, src += 4) {
        dst[x] = m(src[order[0]], src[order[2]], src[order[3]]);
        dst[x + 1] = m(src[order[1]], src[order[2]], src[order[3]]);
    }
}

} // namespace

bool KelMonitor::decodeFrame(const SimFrame &frame, QImage &out)
{
    const int w = frame.width, h = frame.height;
    if (w <= 0 || h <= 0 || w > 8192 || h > 4320)
        return false;
    const std::string &l = frame.layout;
    uint32_t minRow = 0;
    if (l == "v210")
        minRow = static_cast<uint32_t>((w + 5) / 6) * 16;
    else if (l == "uyvy" || l == "yuy2")
        minRow = static_cast<uint32_t>(w) * 2;
    else if (l == "rgb24" || l == "bgr24")
        minRow = static_cast<uint32_t>(w) * 3;
    else if (l == "bgra" || l == "argb" || l == "rgba")
        minRow = static_cast<uint32_t>(w) * 4;
    else
        return false;
    if (frame.rowBytes < minRow || frame.bytes.size() < static_cast<size_t>(frame.rowBytes) * static_cast<size_t>(h))
        return false;
    if (out.width() != w || out.height() != h || out.format() != QImage::Format_RGB32)
        out = QImage(w, h, QImage::Format_RGB32);

    const YccToRgb m10(w, 10), m8(w, 8);
    static const int kUyvy[4] = {1, 3, 0, 2}, kYuy2[4] = {0, 2, 1, 3};
    // Byte offsets of R, G, B for the 3- and 4-byte layouts.
    int rgbOff[3] = {0, 1, 2};
    int step = 3;
    if (l == "bgr24")
        rgbOff[0] = 2, rgbOff[2] = 0;
    else if (l == "bgra")
        rgbOff[0] = 2, rgbOff[2] = 0, step = 4;
    else if (l == "argb")
        rgbOff[0] = 1, rgbOff[1] = 2, rgbOff[2] = 3, step = 4;
    else if (l == "rgba")
        step = 4;

    for (int y = 0; y < h; ++y) {
        const uint8_t *src = frame.bytes.data() + static_cast<size_t>(y) * frame.rowBytes;
        auto *dst = reinterpret_cast<QRgb *>(out.scanLine(y));
        if (l == "v210") {
            v210Row(src, w, m10, dst);
        } else if (l == "uyvy" || l == "yuy2") {
            yuv422Row(src, w, m8, l == "uyvy" ? kUyvy : kYuy2, dst);
        } else {
            for (int x = 0; x < w; ++x, src += step)
                dst[x] = qRgb(src[rgbOff[0]], src[rgbOff[1]], src[rgbOff[2]]);
        }
    }
    return true;
}
