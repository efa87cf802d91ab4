// Draws the tray icon and the About artwork. Run at build time; the PNGs are
// compiled into the program as Qt resources.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

// 75% colour bars, left to right: white, yellow, cyan, green, magenta, red, blue.
const QColor kBars[7] = {QColor(191, 191, 191), QColor(191, 191, 0), QColor(0, 191, 191), QColor(0, 191, 0),
                         QColor(191, 0, 191),   QColor(191, 0, 0),   QColor(0, 0, 191)};

QImage drawIcon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QPainterPath frame;
    frame.addRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.18, s * 0.18);
    p.fillPath(frame, QColor(24, 26, 32));
    p.setClipPath(frame);
    // A monitor face showing bars, with a pluge strip under it.
    const QRectF face(s * 0.12, s * 0.14, s * 0.76, s * 0.56);
    const qreal bw = face.width() / 7.0;
    for (int i = 0; i < 7; ++i)
        p.fillRect(QRectF(face.left() + i * bw, face.top(), bw + 0.5, face.height()), kBars[i]);
    const qreal stripY = face.bottom();
    const QColor strip[4] = {QColor(0, 33, 76), QColor(235, 235, 235), QColor(50, 0, 106), QColor(16, 16, 16)};
    for (int i = 0; i < 4; ++i)
        p.fillRect(QRectF(face.left() + i * face.width() / 4, stripY, face.width() / 4 + 0.5, s * 0.08), strip[i]);
    p.setClipping(false);
    p.setPen(QPen(QColor(230, 230, 230), std::max(1.0, s / 32.0)));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(face.left(), face.top(), face.width(), face.height() + s * 0.08));
    // Stand.
    p.fillRect(QRectF(s * 0.44, s * 0.80, s * 0.12, s * 0.08), QColor(200, 200, 200));
    return img;
}

QImage drawAbout()
{
    const int w = 480, h = 200;
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient bg(0, 0, 0, h);
    bg.setColorAt(0, QColor(34, 38, 48));
    bg.setColorAt(1, QColor(12, 13, 17));
    p.fillRect(img.rect(), bg);

    // Bars along the bottom, then a grey step wedge above them.
    const int barTop = h - 36;
    const qreal bw = w / 7.0;
    for (int i = 0; i < 7; ++i)
        p.fillRect(QRectF(i * bw, barTop, bw + 0.5, 36), kBars[i]);
    const int steps = 11;
    const qreal sw = static_cast<qreal>(w) / steps;
    for (int i = 0; i < steps; ++i) {
        const int v = 16 + (235 - 16) * i / (steps - 1);
        p.fillRect(QRectF(i * sw, barTop - 10, sw + 0.5, 10), QColor(v, v, v));
    }

    // Logo: the icon, large, on the left.
    p.drawImage(QPoint(28, 30), drawIcon(96));

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(54);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(240, 240, 240));
    p.drawText(QRect(142, 26, w - 150, 66), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Orvane"));
    QFont sub(QStringLiteral("DejaVu Sans"));
    sub.setPixelSize(16);
    p.setFont(sub);
    p.setPen(QColor(170, 178, 196));
    p.drawText(QRect(146, 92, w - 150, 24), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Reference pattern generator"));
    p.drawText(QRect(146, 114, w - 150, 24), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("for display calibration"));
    return img;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    QGuiApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out + QStringLiteral("/Artwork/Orvane.iconset"));
    if (!drawIcon(32).save(out + QStringLiteral("/Artwork/Orvane.iconset/icon_16x16@2x.png")) ||
        !drawAbout().save(out + QStringLiteral("/Artwork/Orvane-About.png"))) {
        std::fprintf(stderr, "%s: cannot write the artwork into %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
