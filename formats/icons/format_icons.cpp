// Draws the format and group pictures of the catalogue at build time:
//   format_icons FORMAT.DAT GROUP.DAT OUTPUT_FOLDER
// Every format picture is a 64x64 tile in its group's colour with the group's emblem and a short
// caption; every group picture is a 20x20 tile with the emblem alone. The picker's item
// backgrounds and group arrow are drawn here too. Reading the catalogue
// itself keeps the pictures and the entries in step: a new entry gets its picture by itself.
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cstdio>

namespace {

enum class Emblem { Film, Note, HD, Globe, Phone, Console, TV, Player, Clock, Person };

struct GroupStyle {
    QColor colour;
    Emblem emblem;
};

GroupStyle styleOfGroup(int order) {
    switch (order) {
        case 1: return {QColor(47, 111, 176), Emblem::Film};
        case 2: return {QColor(224, 122, 32), Emblem::Note};
        case 3: return {QColor(96, 58, 150), Emblem::HD};
        case 4: return {QColor(46, 142, 84), Emblem::Globe};
        case 5: return {QColor(90, 104, 120), Emblem::Clock};
        case 6: return {QColor(26, 64, 100), Emblem::Person};
        case 7: return {QColor(20, 140, 150), Emblem::Phone};
        case 8: return {QColor(190, 50, 50), Emblem::Console};
        case 9: return {QColor(140, 92, 52), Emblem::TV};
        case 10: return {QColor(60, 80, 110), Emblem::Player};
        default: return {QColor(110, 110, 110), Emblem::Film};
    }
}

// Short captions where the picture name alone would not read well.
QString captionOf(const QString& icon) {
    static const QHash<QString, QString> captions = {
        {"mpeg1", "MPEG-1"}, {"mpeg2", "MPEG-2"},   {"hd720", "720p"},     {"hd1080", "1080p"},
        {"hdmkv", "MKV"},    {"hdmov", "MOV"},      {"hdwmv", "WMV"},      {"hdavi", "AVI"},
        {"f4v", "H.264"},      {"webm", "WebM"},      {"iphone", "iPhone"},  {"ipad", "iPad"},
        {"android", "Phone"}, {"androidtab", "Tablet"}, {"psp", "PSP"},   {"ps3", "PS3"},
        {"xbox", "Xbox"},    {"wii", "Wii"},        {"dvpal", "DV PAL"},   {"dvntsc", "DV NTSC"},
        {"tvpal", "PAL"},    {"tvntsc", "NTSC"},    {"ipod", "iPod"},      {"appletv", "Apple TV"},
        {"zune", "Zune"},    {"avplayer", "AVI"},
    };
    return captions.value(icon, icon.toUpper());
}

void drawEmblem(QPainter& p, const QRectF& box, Emblem emblem, const QColor& background) {
    const double s = std::min(box.width(), box.height());
    const QPointF c = box.center();
    const QColor white(255, 255, 255);
    QPen pen(white, std::max(1.0, s * 0.09), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    switch (emblem) {
        case Emblem::Film:
        case Emblem::HD: {
            const QRectF strip(c.x() - s * 0.5, c.y() - s * 0.36, s, s * 0.72);
            p.setPen(Qt::NoPen);
            p.setBrush(white);
            p.drawRoundedRect(strip, s * 0.06, s * 0.06);
            p.setBrush(background);
            const double hole = s * 0.1;
            for (int i = 0; i < 4; ++i) {
                const double x = strip.left() + s * 0.08 + i * (s - s * 0.16 - hole) / 3;
                p.drawRect(QRectF(x, strip.top() + s * 0.04, hole, hole));
                p.drawRect(QRectF(x, strip.bottom() - s * 0.04 - hole, hole, hole));
            }
            if (emblem == Emblem::HD) {
                QFont f(QStringLiteral("DejaVu Sans"));
                f.setBold(true);
                f.setPixelSize(std::max(6, int(s * 0.3)));
                p.setFont(f);
                p.setPen(background);
                p.drawText(strip, Qt::AlignCenter, QStringLiteral("HD"));
            } else {
                p.drawRect(QRectF(strip.left() + s * 0.12, c.y() - s * 0.14, s * 0.76, s * 0.28));
            }
            break;
        }
        case Emblem::Note: {
            p.setPen(Qt::NoPen);
            p.setBrush(white);
            const double r = s * 0.14;
            const QPointF a(c.x() - s * 0.22, c.y() + s * 0.26), b(c.x() + s * 0.26, c.y() + s * 0.18);
            p.drawEllipse(a, r * 1.2, r);
            p.drawEllipse(b, r * 1.2, r);
            const double w = s * 0.08;
            p.drawRect(QRectF(a.x() + r * 1.2 - w, c.y() - s * 0.4, w, a.y() - (c.y() - s * 0.4)));
            p.drawRect(QRectF(b.x() + r * 1.2 - w, c.y() - s * 0.48, w, b.y() - (c.y() - s * 0.48)));
            QPainterPath beam;
            beam.moveTo(a.x() + r * 1.2 - w, c.y() - s * 0.4);
            beam.lineTo(b.x() + r * 1.2, c.y() - s * 0.48);
            beam.lineTo(b.x() + r * 1.2, c.y() - s * 0.34);
            beam.lineTo(a.x() + r * 1.2 - w, c.y() - s * 0.26);
            beam.closeSubpath();
            p.drawPath(beam);
            break;
        }
        case Emblem::Globe: {
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            const double r = s * 0.42;
            p.drawEllipse(c, r, r);
            p.drawEllipse(c, r * 0.45, r);
            p.drawLine(QPointF(c.x() - r, c.y()), QPointF(c.x() + r, c.y()));
            p.drawLine(QPointF(c.x(), c.y() - r), QPointF(c.x(), c.y() + r));
            break;
        }
        case Emblem::Phone: {
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            const QRectF body(c.x() - s * 0.24, c.y() - s * 0.44, s * 0.48, s * 0.88);
            p.drawRoundedRect(body, s * 0.08, s * 0.08);
            p.setPen(Qt::NoPen);
            p.setBrush(white);
            p.drawRect(QRectF(body.left() + s * 0.08, body.top() + s * 0.12, body.width() - s * 0.16, body.height() * 0.62));
            p.drawEllipse(QPointF(c.x(), body.bottom() - s * 0.1), s * 0.045, s * 0.045);
            break;
        }
        case Emblem::Console: {
            p.setPen(Qt::NoPen);
            p.setBrush(white);
            const QRectF body(c.x() - s * 0.5, c.y() - s * 0.24, s, s * 0.5);
            p.drawRoundedRect(body, s * 0.22, s * 0.22);
            p.setBrush(background);
            const double arm = s * 0.07;
            const QPointF d(c.x() - s * 0.24, c.y());
            p.drawRect(QRectF(d.x() - arm * 2, d.y() - arm / 2, arm * 4, arm));
            p.drawRect(QRectF(d.x() - arm / 2, d.y() - arm * 2, arm, arm * 4));
            p.drawEllipse(QPointF(c.x() + s * 0.2, c.y() + s * 0.06), arm, arm);
            p.drawEllipse(QPointF(c.x() + s * 0.32, c.y() - s * 0.06), arm, arm);
            break;
        }
        case Emblem::TV: {
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            const QRectF screen(c.x() - s * 0.46, c.y() - s * 0.28, s * 0.92, s * 0.6);
            p.drawRoundedRect(screen, s * 0.06, s * 0.06);
            p.drawLine(QPointF(c.x() - s * 0.18, screen.top() - s * 0.16), QPointF(c.x(), screen.top()));
            p.drawLine(QPointF(c.x() + s * 0.18, screen.top() - s * 0.16), QPointF(c.x(), screen.top()));
            p.drawLine(QPointF(c.x() - s * 0.2, screen.bottom() + s * 0.12), QPointF(c.x() + s * 0.2, screen.bottom() + s * 0.12));
            break;
        }
        case Emblem::Player: {
            p.setPen(Qt::NoPen);
            p.setBrush(white);
            p.drawEllipse(c, s * 0.44, s * 0.44);
            p.setBrush(background);
            QPainterPath play;
            play.moveTo(c.x() - s * 0.14, c.y() - s * 0.22);
            play.lineTo(c.x() + s * 0.24, c.y());
            play.lineTo(c.x() - s * 0.14, c.y() + s * 0.22);
            play.closeSubpath();
            p.drawPath(play);
            break;
        }
        case Emblem::Clock: {
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(c, s * 0.42, s * 0.42);
            p.drawLine(c, QPointF(c.x(), c.y() - s * 0.28));
            p.drawLine(c, QPointF(c.x() + s * 0.2, c.y() + s * 0.08));
            break;
        }
        case Emblem::Person: {
            p.setPen(Qt::NoPen);
            p.setBrush(white);
            p.drawEllipse(QPointF(c.x(), c.y() - s * 0.2), s * 0.2, s * 0.2);
            QPainterPath body;
            body.moveTo(c.x() - s * 0.4, c.y() + s * 0.46);
            body.cubicTo(c.x() - s * 0.4, c.y() + s * 0.02, c.x() + s * 0.4, c.y() + s * 0.02, c.x() + s * 0.4, c.y() + s * 0.46);
            body.closeSubpath();
            p.drawPath(body);
            break;
        }
    }
    p.restore();
}

void drawTile(QPainter& p, const QRectF& r, const QColor& colour) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, colour.lighter(125));
    g.setColorAt(1, colour.darker(115));
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(colour.darker(150), 1));
    p.setBrush(g);
    p.drawRoundedRect(r, r.width() * 0.16, r.height() * 0.16);
}

QImage formatPicture(const QString& caption, const GroupStyle& style) {
    QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    drawTile(p, QRectF(2.5, 2.5, 59, 59), style.colour);
    drawEmblem(p, QRectF(20, 8, 24, 24), style.emblem, style.colour);
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setBold(true);
    // The largest size at which the caption fits the tile.
    for (int px = 15; px >= 7; --px) {
        f.setPixelSize(px);
        if (QFontMetricsF(f).horizontalAdvance(caption) <= 54) break;
    }
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(5, 35, 54, 22), Qt::AlignCenter, caption);
    p.end();
    return image;
}

QImage groupPicture(const GroupStyle& style) {
    QImage image(20, 20, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    drawTile(p, QRectF(0.5, 0.5, 19, 19), style.colour);
    drawEmblem(p, QRectF(3.5, 3.5, 13, 13), style.emblem, style.colour);
    p.end();
    return image;
}

// The picker's grid backgrounds (hovered and selected item) and the arrow of the selected group.
QImage itemBackground(const QColor& fill, const QColor& edge) {
    QImage image(80, 80, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(edge, 1));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(0.5, 0.5, 79, 79), 6, 6);
    p.end();
    return image;
}

QImage expandArrow() {
    QImage image(8, 12, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(26, 64, 100));
    p.drawPolygon(QPolygonF{QPointF(1, 1), QPointF(7, 6), QPointF(1, 11)});
    p.end();
    return image;
}

bool readDocument(const QString& path, QDomDocument& doc) {
    QFile file(path);
    QString message;
    int line = 0;
    if (!file.open(QIODevice::ReadOnly) || !doc.setContent(&file, &message, &line)) {
        std::fprintf(stderr, "format_icons: cannot read %s: %s (line %d)\n", qPrintable(path),
                     qPrintable(message), line);
        return false;
    }
    return true;
}

bool save(const QImage& image, const QString& path) {
    if (image.save(path, "PNG")) return true;
    std::fprintf(stderr, "format_icons: cannot write %s\n", qPrintable(path));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "Usage: format_icons FORMAT.DAT GROUP.DAT OUTPUT_FOLDER\n");
        return 2;
    }
    QDomDocument formats, groups;
    if (!readDocument(QString::fromLocal8Bit(argv[1]), formats) || !readDocument(QString::fromLocal8Bit(argv[2]), groups))
        return 1;
    const QString out = QString::fromLocal8Bit(argv[3]);
    if (!QDir().mkpath(out)) {
        std::fprintf(stderr, "format_icons: cannot create %s\n", qPrintable(out));
        return 1;
    }
    if (!itemBackground(QColor(232, 242, 252), QColor(180, 208, 236)).save(out + "/Move.bmp", "BMP") ||
        !itemBackground(QColor(204, 228, 252), QColor(120, 170, 220)).save(out + "/Select.bmp", "BMP") ||
        !save(expandArrow(), out + "/Expand.png"))
        return 1;
    for (QDomElement e = groups.documentElement().firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        const QString ico = e.attribute(QStringLiteral("ICO"));
        if (!ico.isEmpty() && !save(groupPicture(styleOfGroup(e.attribute(QStringLiteral("order")).toInt())), out + "/" + ico + ".png"))
            return 1;
    }
    for (QDomElement e = formats.documentElement().firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        const QString icon = e.attribute(QStringLiteral("ICON"));
        const GroupStyle style = styleOfGroup(e.attribute(QStringLiteral("GroupID")).toInt());
        if (!icon.isEmpty() && !save(formatPicture(captionOf(icon), style), out + "/" + icon + ".png")) return 1;
    }
    return 0;
}
