// Draws the brand mark shipped as data/brand/zedar_mark.png: a bold olive
// chevron "Z" on a dark rounded tile. Deterministic, so the committed file can
// be rebuilt and compared.
//
//   make-mark OUTPUT.png [SIZE]

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make-mark OUTPUT.png [SIZE]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int size = argc > 2 ? std::atoi(argv[2]) : 128;
    if (size < 16 || size > 2048) {
        std::fprintf(stderr, "make-mark: SIZE must be 16 to 2048\n");
        return 2;
    }

    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 128.0, size / 128.0);

    p.setPen(QPen(QColor(0xA9, 0xB8, 0x6B), 4));
    p.setBrush(QColor(0x14, 0x18, 0x1C));
    p.drawRoundedRect(QRectF(4, 4, 120, 120), 22, 22);

    // The "Z": two bars joined by a diagonal, with a notch cut like a blade.
    QPainterPath z;
    z.moveTo(30, 30);
    z.lineTo(98, 30);
    z.lineTo(98, 46);
    z.lineTo(56, 82);
    z.lineTo(98, 82);
    z.lineTo(98, 98);
    z.lineTo(30, 98);
    z.lineTo(30, 82);
    z.lineTo(72, 46);
    z.lineTo(30, 46);
    z.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x8C, 0x9A, 0x5B));
    p.drawPath(z);

    p.setBrush(QColor(0xE0, 0xB2, 0x4E));
    p.drawEllipse(QPointF(98, 64), 7, 7);
    p.end();

    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "make-mark: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
