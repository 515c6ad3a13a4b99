// Draws the application icon (a film frame with a play mark over a Flash-red
// tile) at the sizes desktops look for, into <out>/<N>x<N>/apps/quellmark.png.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

QImage DrawIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);

    // Tile.
    QLinearGradient tile(0, 0, 0, 256);
    tile.setColorAt(0, QColor(0xe8, 0x3a, 0x2c));
    tile.setColorAt(1, QColor(0x9c, 0x16, 0x12));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 44, 44);

    // Film frame with sprocket holes.
    p.setBrush(QColor(0x20, 0x20, 0x24));
    p.drawRoundedRect(QRectF(40, 64, 176, 128), 14, 14);
    p.setBrush(QColor(0xf4, 0xf4, 0xf4));
    for (int i = 0; i < 6; ++i) {
        p.drawRect(QRectF(56 + i * 26, 72, 14, 10));
        p.drawRect(QRectF(56 + i * 26, 174, 14, 10));
    }

    // Play mark.
    QPainterPath play;
    play.moveTo(108, 98);
    play.lineTo(164, 128);
    play.lineTo(108, 158);
    play.closeSubpath();
    p.setBrush(QColor(0xff, 0xd0, 0x40));
    p.drawPath(play);
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
        if (!QDir().mkpath(folder) || !DrawIcon(size).save(folder + QStringLiteral("/quellmark.png"))) {
            std::fprintf(stderr, "Cannot write the icon into %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
