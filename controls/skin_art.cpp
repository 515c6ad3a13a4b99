#include "controls/skin_art.h"

#include <QDir>
#include <QFont>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <functional>

namespace qm::controls {
namespace {

// One palette for every picture.
const QColor kTitleTop(52, 73, 94);
const QColor kTitleBottom(40, 56, 72);
const QColor kFrame(40, 56, 72);
const QColor kAccent(46, 134, 222);
const QColor kAccentDark(31, 111, 197);
const QColor kFace(248, 250, 252);
const QColor kLine(184, 194, 204);
const QColor kGlyph(60, 72, 88);

using Painter = std::function<void(QPainter&, const QSizeF&)>;

struct Picture {
    const char* name;
    const char* extension;  // file format; empty for pictures that live only in the program
    QSize size;             // at 100%
    Painter paint;
};

void titleBand(QPainter& p, const QSizeF& s) {
    QLinearGradient g(0, 0, 0, s.height());
    g.setColorAt(0, kTitleTop);
    g.setColorAt(1, kTitleBottom);
    p.fillRect(QRectF(QPointF(0, 0), s), g);
    // A thin light line under the top edge gives the bar some depth.
    p.fillRect(QRectF(0, 0, s.width(), 1), QColor(255, 255, 255, 28));
}

void flat(QPainter& p, const QSizeF& s) { p.fillRect(QRectF(QPointF(0, 0), s), kFrame); }

void dialogButton(QPainter& p, const QSizeF& s, int state, bool opaque = true) {  // 0 up, 1 hot, 2 down
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(0.5, 0.5, s.width() - 1, s.height() - 1);
    QLinearGradient g(0, 0, 0, s.height());
    if (state == 0) {
        g.setColorAt(0, QColor(255, 255, 255));
        g.setColorAt(1, QColor(238, 242, 246));
    } else if (state == 1) {
        g.setColorAt(0, QColor(242, 248, 255));
        g.setColorAt(1, QColor(221, 235, 251));
    } else {
        g.setColorAt(0, QColor(208, 226, 247));
        g.setColorAt(1, QColor(220, 234, 250));
    }
    if (opaque) p.fillRect(QRectF(QPointF(0, 0), s), kFace);  // bitmaps have no transparency: corners take the face
    p.setBrush(g);
    p.setPen(QPen(state == 0 ? kLine : (state == 1 ? kAccent : kAccentDark), 1));
    p.drawRoundedRect(r, 4, 4);
}

void titleButtonBack(QPainter& p, const QSizeF& s, int state, const QColor& hot) {
    // The button sits 5 pixels down a 26-pixel bar: repaint the bar's gradient at that height.
    QLinearGradient g(0, -5, 0, 21);
    g.setColorAt(0, kTitleTop);
    g.setColorAt(1, kTitleBottom);
    p.fillRect(QRectF(QPointF(0, 0), s), g);
    if (state > 0) {
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(state == 1 ? hot : hot.darker(125));
        p.drawRoundedRect(QRectF(QPointF(0, 0), s), 3, 3);
    }
}

void closeButton(QPainter& p, const QSizeF& s, int state) {
    titleButtonBack(p, s, state, QColor(224, 71, 76));
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
    const double m = s.width() * 0.3;
    p.drawLine(QPointF(m, m), QPointF(s.width() - m, s.height() - m));
    p.drawLine(QPointF(s.width() - m, m), QPointF(m, s.height() - m));
}

void minimiseButton(QPainter& p, const QSizeF& s, int state) {
    titleButtonBack(p, s, state, QColor(255, 255, 255, 60));
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
    const double m = s.width() * 0.3;
    p.drawLine(QPointF(m, s.height() * 0.62), QPointF(s.width() - m, s.height() * 0.62));
}

// The mark of the program: a play triangle turning into a film strip, in the accent colour.
void logo(QPainter& p, const QSizeF& s) {
    p.setRenderHint(QPainter::Antialiasing);
    const double w = s.width();
    QLinearGradient g(0, 0, 0, w);
    g.setColorAt(0, QColor(72, 160, 240));
    g.setColorAt(1, kAccentDark);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0, 0, w, w), w * 0.22, w * 0.22);
    QPainterPath play;
    play.moveTo(w * 0.36, w * 0.26);
    play.lineTo(w * 0.76, w * 0.5);
    play.lineTo(w * 0.36, w * 0.74);
    play.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(play);
    p.setBrush(QColor(255, 255, 255, 150));
    for (int i = 0; i < 3; ++i) p.drawRect(QRectF(w * 0.14, w * (0.27 + i * 0.18), w * 0.1, w * 0.1));
}

void trackPart(QPainter& p, const QSizeF& s, int part) {  // 0 left, 1 middle, 2 right
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    QLinearGradient g(0, 0, 0, s.height());
    g.setColorAt(0, QColor(196, 204, 214));
    g.setColorAt(1, QColor(214, 221, 229));
    p.setBrush(g);
    const double r = s.height() / 2;
    if (part == 1) {
        p.drawRect(QRectF(QPointF(0, 0), s));
    } else {
        // Half of a rounded end, the other half running under the middle.
        const double x = part == 0 ? 0 : -s.width();
        p.drawRoundedRect(QRectF(x, 0, s.width() * 2, s.height()), r, r);
    }
}

void tick(QPainter& p, const QSizeF& s, int state) {  // 0 up, 1 hot, 2 down, 3 disabled
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(1, 1, s.width() - 2, s.height() - 2);
    const QColor fill = state == 3 ? QColor(232, 235, 239) : Qt::white;
    const QColor edge = state == 3 ? QColor(190, 196, 204) : (state == 0 ? kAccent : kAccentDark);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawRoundedRect(r.translated(0, 0.8), 4, 4);
    p.setBrush(fill);
    p.setPen(QPen(edge, state == 1 ? 2 : 1.5));
    p.drawRoundedRect(r, 4, 4);
    if (state != 3) {
        p.setPen(Qt::NoPen);
        p.setBrush(state == 2 ? kAccentDark : kAccent);
        p.drawRoundedRect(QRectF(r.center().x() - 1.25, r.top() + 3.5, 2.5, r.height() - 7), 1.2, 1.2);
    }
}

void marker(QPainter& p, const QSizeF& s, bool start, int state) {  // 0 up, 1 hot, 2 down
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath flag;
    const double w = s.width(), h = s.height();
    // A small pennant pointing at the segment's inside.
    if (start) {
        flag.moveTo(w - 0.5, 0.5);
        flag.lineTo(w - 0.5, h - 0.5);
        flag.lineTo(0.5, h * 0.55);
        flag.lineTo(0.5, 0.5);
    } else {
        flag.moveTo(0.5, 0.5);
        flag.lineTo(0.5, h - 0.5);
        flag.lineTo(w - 0.5, h * 0.55);
        flag.lineTo(w - 0.5, 0.5);
    }
    flag.closeSubpath();
    const QColor c = start ? QColor(46, 160, 98) : QColor(214, 92, 64);
    p.setPen(QPen(c.darker(state == 2 ? 140 : 115), 1));
    p.setBrush(state == 1 ? c.lighter(115) : (state == 2 ? c.darker(115) : c));
    p.drawPath(flag);
}

void glyph(QPainter& p, const QSizeF& s, const QString& what, const QColor& colour) {
    p.setRenderHint(QPainter::Antialiasing);
    const double w = s.width(), h = s.height();
    const double u = std::min(w, h) / 32.0;
    p.save();
    p.translate((w - 32 * u) / 2, (h - 32 * u) / 2);
    p.scale(u, u);
    QPen pen(colour, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    if (what == "open") {
        QPainterPath folder;
        folder.moveTo(4, 9);
        folder.lineTo(12, 9);
        folder.lineTo(15, 12);
        folder.lineTo(27, 12);
        folder.lineTo(27, 25);
        folder.lineTo(4, 25);
        folder.closeSubpath();
        p.drawPath(folder);
        p.drawLine(QPointF(4, 16), QPointF(27, 16));
    } else if (what == "format") {
        p.drawRoundedRect(QRectF(5, 7, 22, 18), 2, 2);
        for (int i = 0; i < 3; ++i) {
            p.drawPoint(QPointF(8.5, 11 + i * 5));
            p.drawPoint(QPointF(23.5, 11 + i * 5));
        }
        p.drawLine(QPointF(12, 7), QPointF(12, 25));
        p.drawLine(QPointF(20, 7), QPointF(20, 25));
    } else if (what == "edit") {
        p.drawLine(QPointF(9, 4), QPointF(9, 23));
        p.drawLine(QPointF(9, 23), QPointF(28, 23));
        p.drawLine(QPointF(4, 9), QPointF(23, 9));
        p.drawLine(QPointF(23, 9), QPointF(23, 28));
    } else if (what == "option") {
        p.drawEllipse(QPointF(16, 16), 4, 4);
        for (int i = 0; i < 8; ++i) {
            p.save();
            p.translate(16, 16);
            p.rotate(i * 45);
            p.drawLine(QPointF(0, -8), QPointF(0, -11.5));
            p.restore();
        }
        p.drawEllipse(QPointF(16, 16), 8, 8);
    } else if (what == "help") {
        p.drawEllipse(QPointF(16, 16), 11, 11);
        QPainterPath q;
        q.moveTo(12.5, 13);
        q.cubicTo(12.5, 8.5, 19.5, 8.5, 19.5, 13);
        q.cubicTo(19.5, 16, 16, 16, 16, 19);
        p.drawPath(q);
        p.drawPoint(QPointF(16, 22.8));
    } else if (what == "play" || what == "convert") {
        QPainterPath tri;
        tri.moveTo(11, 7);
        tri.lineTo(25, 16);
        tri.lineTo(11, 25);
        tri.closeSubpath();
        p.setBrush(colour);
        if (what == "convert") {
            p.setBrush(Qt::NoBrush);
            p.drawLine(QPointF(5, 16), QPointF(24, 16));
            p.drawLine(QPointF(17, 9), QPointF(25, 16));
            p.drawLine(QPointF(17, 23), QPointF(25, 16));
            p.drawLine(QPointF(5, 8), QPointF(5, 24));
        } else {
            p.drawPath(tri);
        }
    } else if (what == "pause") {
        p.setBrush(colour);
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(9, 7, 5, 18), 1.2, 1.2);
        p.drawRoundedRect(QRectF(18, 7, 5, 18), 1.2, 1.2);
    } else if (what == "stop") {
        p.setBrush(colour);
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(8, 8, 16, 16), 2, 2);
    }
    p.restore();
}

void toolButton(QPainter& p, const QSizeF& s, const QString& what) {
    glyph(p, s, what, kGlyph);
}

// "Getting Started" pictures: a small button face with a glyph and its caption.
void guideButton(QPainter& p, const QSizeF& s, const QString& what, const QString& caption) {
    dialogButton(p, s, 0, false);
    glyph(p, QSizeF(s.height(), s.height()), what, kAccent);
    QFont f = p.font();
    f.setPixelSize(12);
    f.setBold(true);
    p.setFont(f);
    p.setPen(kGlyph);
    p.drawText(QRectF(s.height(), 0, s.width() - s.height() - 4, s.height()), Qt::AlignCenter, caption);
}

void aboutBackground(QPainter& p, const QSizeF& s) {
    QLinearGradient g(0, 0, s.width(), s.height());
    g.setColorAt(0, kTitleTop);
    g.setColorAt(1, QColor(24, 36, 50));
    p.fillRect(QRectF(QPointF(0, 0), s), g);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    // Soft accent rings in the corner, behind the texts the window puts on top.
    for (int i = 0; i < 4; ++i) {
        p.setBrush(QColor(46, 134, 222, 22 + i * 8));
        const double r = s.height() * (0.9 - i * 0.18);
        p.drawEllipse(QPointF(s.width() * 0.95, s.height() * 0.1), r, r);
    }
    p.save();
    p.translate(24, 24);
    logo(p, QSizeF(56, 56));
    p.restore();
}

const QList<Picture>& pictures() {
    static const QList<Picture> all = {
        {"head_Left", "jpg", {12, 26}, titleBand},
        {"head_mid", "jpg", {12, 26}, titleBand},
        {"head_right", "jpg", {12, 26}, titleBand},
        {"mid_left", "jpg", {2, 12}, flat},
        {"mid_right", "jpg", {2, 12}, flat},
        {"bottom_left", "jpg", {7, 7}, flat},
        {"bottom_mid", "jpg", {12, 7}, flat},
        {"bottom_right", "jpg", {7, 7}, flat},
        {"Logo", "ico", {16, 16}, logo},
        {"btn_up", "bmp", {80, 26}, [](QPainter& p, const QSizeF& s) { dialogButton(p, s, 0); }},
        {"btn_Hot", "bmp", {80, 26}, [](QPainter& p, const QSizeF& s) { dialogButton(p, s, 1); }},
        {"btn_down", "bmp", {80, 26}, [](QPainter& p, const QSizeF& s) { dialogButton(p, s, 2); }},
        {"close_up", "bmp", {16, 16}, [](QPainter& p, const QSizeF& s) { closeButton(p, s, 0); }},
        {"close_hot", "bmp", {16, 16}, [](QPainter& p, const QSizeF& s) { closeButton(p, s, 1); }},
        {"close_down", "bmp", {16, 16}, [](QPainter& p, const QSizeF& s) { closeButton(p, s, 2); }},
        {"min_up", "bmp", {16, 16}, [](QPainter& p, const QSizeF& s) { minimiseButton(p, s, 0); }},
        {"min_hot", "bmp", {16, 16}, [](QPainter& p, const QSizeF& s) { minimiseButton(p, s, 1); }},
        {"min_down", "bmp", {16, 16}, [](QPainter& p, const QSizeF& s) { minimiseButton(p, s, 2); }},
        {"open", "png", {80, 24}, [](QPainter& p, const QSizeF& s) { guideButton(p, s, "open", "Open"); }},
        {"Format", "png", {80, 24}, [](QPainter& p, const QSizeF& s) { guideButton(p, s, "format", "Format"); }},
        {"Convert", "png", {80, 24}, [](QPainter& p, const QSizeF& s) { guideButton(p, s, "convert", "Convert"); }},
        {"tool_open", "png", {32, 32}, [](QPainter& p, const QSizeF& s) { toolButton(p, s, "open"); }},
        {"tool_format", "png", {32, 32}, [](QPainter& p, const QSizeF& s) { toolButton(p, s, "format"); }},
        {"tool_edit", "png", {32, 32}, [](QPainter& p, const QSizeF& s) { toolButton(p, s, "edit"); }},
        {"tool_option", "png", {32, 32}, [](QPainter& p, const QSizeF& s) { toolButton(p, s, "option"); }},
        {"tool_help", "png", {32, 32}, [](QPainter& p, const QSizeF& s) { toolButton(p, s, "help"); }},
        {"tool_play", "png", {32, 32}, [](QPainter& p, const QSizeF& s) { toolButton(p, s, "play"); }},
        {"tool_pause", "png", {32, 32}, [](QPainter& p, const QSizeF& s) { toolButton(p, s, "pause"); }},
        {"tool_stop", "png", {32, 32}, [](QPainter& p, const QSizeF& s) { toolButton(p, s, "stop"); }},
        {"tool_convert", "png", {32, 32}, [](QPainter& p, const QSizeF& s) { toolButton(p, s, "convert"); }},
        {"about", "jpg", {420, 260}, aboutBackground},
        {"logo", "png", {64, 64}, logo},
        // The trackbar's built-in pictures.
        {"left", "", {4, 6}, [](QPainter& p, const QSizeF& s) { trackPart(p, s, 0); }},
        {"center", "", {8, 6}, [](QPainter& p, const QSizeF& s) { trackPart(p, s, 1); }},
        {"right", "", {4, 6}, [](QPainter& p, const QSizeF& s) { trackPart(p, s, 2); }},
        {"up", "", {12, 16}, [](QPainter& p, const QSizeF& s) { tick(p, s, 0); }},
        {"hot", "", {12, 16}, [](QPainter& p, const QSizeF& s) { tick(p, s, 1); }},
        {"down", "", {12, 16}, [](QPainter& p, const QSizeF& s) { tick(p, s, 2); }},
        {"disabled", "", {12, 16}, [](QPainter& p, const QSizeF& s) { tick(p, s, 3); }},
        {"SegmentStartUp", "", {8, 10}, [](QPainter& p, const QSizeF& s) { marker(p, s, true, 0); }},
        {"SegmentStartHot", "", {8, 10}, [](QPainter& p, const QSizeF& s) { marker(p, s, true, 1); }},
        {"SegmentStartDown", "", {8, 10}, [](QPainter& p, const QSizeF& s) { marker(p, s, true, 2); }},
        {"SegmentEndUp", "", {8, 10}, [](QPainter& p, const QSizeF& s) { marker(p, s, false, 0); }},
        {"SegmentEndHot", "", {8, 10}, [](QPainter& p, const QSizeF& s) { marker(p, s, false, 1); }},
        {"SegmentEndDown", "", {8, 10}, [](QPainter& p, const QSizeF& s) { marker(p, s, false, 2); }},
    };
    return all;
}

}  // namespace

QStringList SkinPictureNames() {
    QStringList names;
    for (const Picture& picture : pictures()) names << QString::fromLatin1(picture.name);
    return names;
}

QImage DrawSkinPicture(const QString& name, int scale) {
    for (const Picture& picture : pictures()) {
        if (name != QLatin1String(picture.name)) continue;
        scale = std::max(1, scale);
        QImage image(picture.size * scale, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.scale(scale, scale);
        picture.paint(p, QSizeF(picture.size));
        return image;
    }
    return {};
}

bool WriteFormSkin(const QString& folder, QString* error) {
    if (!QDir().mkpath(folder)) {
        if (error) *error = QStringLiteral("Cannot create folder \"%1\".").arg(folder);
        return false;
    }
    for (const Picture& picture : pictures()) {
        const QString extension = QString::fromLatin1(picture.extension);
        if (extension.isEmpty()) continue;
        for (int scale : {1, 2}) {
            QImage image = DrawSkinPicture(QString::fromLatin1(picture.name), scale);
            // Only PNG keeps transparency; the others are written opaque.
            if (extension != QLatin1String("png") && extension != QLatin1String("ico"))
                image = image.convertToFormat(QImage::Format_RGB32);
            const QString path = QDir(folder).filePath(
                QString::fromLatin1(picture.name) + (scale == 2 ? "@2x." : ".") + extension);
            QImageWriter writer(path, extension.toLatin1());
            if (extension == QLatin1String("jpg")) writer.setQuality(95);
            if (!writer.write(image)) {
                if (error) *error = QStringLiteral("Cannot write \"%1\": %2").arg(path, writer.errorString());
                return false;
            }
        }
    }
    return true;
}

}  // namespace qm::controls
