// peltrix-iconforge: draws every toolbar icon, cursor and window picture the
// program ships, and the application icon for desktops, so the artwork lives as code
// instead of hand-edited bitmaps.
//
// Regenerate after changing a drawing:
//   cmake --build <build> --target peltrix-iconforge
//   QT_QPA_PLATFORM=offscreen <build>/tools/peltrix-iconforge resources/icons resources/desktop/icons
// then look at the results and commit them with this file.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QRadialGradient>
#include <QTextStream>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace {

// A picture of w x h logical pixels with `scale` device pixels to each: the @2x variants
// are the same drawings, which Qt picks up under the plain name on a 2x screen.
QImage blank(int w, int h, int scale)
{
    QImage img(w * scale, h * scale, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

void prepare(QPainter &p, int scale)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.scale(scale, scale);
}

void fillOutlined(QPainter &p, const QPainterPath &path, const QBrush &fill,
                  const QColor &line, qreal width = 1.0)
{
    p.setPen(QPen(line, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawPath(path);
}

QLinearGradient vertical(qreal y0, qreal y1, const QColor &top, const QColor &bottom)
{
    QLinearGradient g(0, y0, 0, y1);
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    return g;
}

QLinearGradient horizontal(qreal x0, qreal x1, const QColor &left, const QColor &right)
{
    QLinearGradient g(x0, 0, x1, 0);
    g.setColorAt(0, left);
    g.setColorAt(1, right);
    return g;
}

QPainterPath thickLine(QPointF a, QPointF b, qreal width, Qt::PenCapStyle cap = Qt::RoundCap)
{
    QPainterPath line(a);
    line.lineTo(b);
    QPainterPathStroker s;
    s.setWidth(width);
    s.setCapStyle(cap);
    s.setJoinStyle(Qt::RoundJoin);
    return s.createStroke(line).simplified();
}

QPainterPath circle(QPointF c, qreal r)
{
    QPainterPath p;
    p.addEllipse(c, r, r);
    return p;
}

// ---------------------------------------------------------------- pieces

// Small landscape used by the background-related icons; `r` is the picture area.
void drawLandscape(QPainter &p, const QRectF &r)
{
    p.save();
    QPainterPath clip;
    clip.addRect(r);
    p.setClipPath(clip);
    p.setPen(Qt::NoPen);
    p.setBrush(vertical(r.top(), r.bottom(), QColor(70, 150, 235), QColor(190, 225, 255)));
    p.drawRect(r);

    const qreal w = r.width(), h = r.height();
    auto at = [&](qreal fx, qreal fy) { return QPointF(r.left() + fx * w, r.top() + fy * h); };

    p.setBrush(QColor(255, 214, 60));
    p.setPen(QPen(QColor(225, 150, 20), 0.8));
    p.drawEllipse(at(0.72, 0.30), w * 0.12, w * 0.12);

    QPainterPath far(at(-0.1, 0.75));
    far.quadTo(at(0.25, 0.38), at(0.55, 0.62));
    far.quadTo(at(0.80, 0.50), at(1.1, 0.66));
    far.lineTo(at(1.1, 1.1));
    far.lineTo(at(-0.1, 1.1));
    far.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(vertical(r.top() + 0.4 * h, r.bottom(), QColor(120, 190, 90), QColor(80, 150, 60)));
    p.drawPath(far);

    QPainterPath near(at(-0.1, 0.92));
    near.quadTo(at(0.45, 0.62), at(1.1, 0.86));
    near.lineTo(at(1.1, 1.1));
    near.lineTo(at(-0.1, 1.1));
    near.closeSubpath();
    p.setBrush(vertical(r.top() + 0.6 * h, r.bottom(), QColor(70, 145, 45), QColor(40, 100, 30)));
    p.drawPath(near);
    p.restore();
}

// Magnifying lens with the handle towards the lower right. `glass` lets the
// caller decide how much of what is underneath shows through.
void drawLens(QPainter &p, QPointF c, qreal r, QPointF handleEnd, qreal handleWidth,
              const QBrush &glass)
{
    const QColor ink(35, 35, 40);
    const qreal len = std::hypot(handleEnd.x() - c.x(), handleEnd.y() - c.y());
    const QPointF dir((handleEnd.x() - c.x()) / len, (handleEnd.y() - c.y()) / len);
    const QPointF handleStart = c + dir * (r + 0.5);

    QLinearGradient hg(handleStart, handleEnd);
    hg.setColorAt(0, QColor(160, 115, 75));
    hg.setColorAt(1, QColor(95, 60, 35));
    fillOutlined(p, thickLine(handleStart, handleEnd, handleWidth), hg, ink, 1.0);

    QLinearGradient ring(c - QPointF(r, r), c + QPointF(r, r));
    ring.setColorAt(0, QColor(240, 240, 245));
    ring.setColorAt(1, QColor(110, 115, 125));
    fillOutlined(p, circle(c, r), ring, ink, 1.0);

    const qreal inner = r - 2.2;
    fillOutlined(p, circle(c, inner), glass, QColor(60, 65, 75), 0.8);

    // Glint so the disc reads as glass rather than a plain circle.
    p.setPen(QPen(QColor(255, 255, 255, 210), 1.2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    const qreal g = inner - 1.8;
    p.drawArc(QRectF(c.x() - g, c.y() - g, 2 * g, 2 * g), 100 * 16, 60 * 16);
}

QBrush clearGlass(QPointF c, qreal r)
{
    QRadialGradient g(c - QPointF(r * 0.35, r * 0.35), r * 1.3);
    g.setColorAt(0, QColor(250, 253, 255));
    g.setColorAt(1, QColor(165, 205, 235));
    return g;
}

void drawSign(QPainter &p, QPointF c, qreal half, bool plus, qreal width)
{
    const QColor ink(20, 55, 120);
    p.setPen(QPen(ink, width, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(c - QPointF(half, 0), c + QPointF(half, 0));
    if (plus)
        p.drawLine(c - QPointF(0, half), c + QPointF(0, half));
}

// ---------------------------------------------------------------- icons

QImage folderOpen(int scale)
{
    QImage img = blank(32, 32, scale);
    QPainter p(&img);
    prepare(p, scale);
    const QColor ink(110, 70, 15);

    QPainterPath back;
    back.moveTo(2.5, 27.5);
    back.lineTo(2.5, 7.5);
    back.quadTo(2.5, 5.5, 4.5, 5.5);
    back.lineTo(10.5, 5.5);
    back.lineTo(13.0, 8.5);
    back.lineTo(25.5, 8.5);
    back.quadTo(27.5, 8.5, 27.5, 10.5);
    back.lineTo(27.5, 27.5);
    back.closeSubpath();
    fillOutlined(p, back, vertical(5, 28, QColor(225, 170, 70), QColor(185, 125, 35)), ink);

    QPainterPath sheet;
    sheet.addRect(QRectF(5.5, 10.5, 19, 12));
    fillOutlined(p, sheet, QColor(252, 252, 248), QColor(150, 140, 120), 0.8);

    QPainterPath front;
    front.moveTo(7.5, 14.5);
    front.lineTo(30.5, 14.5);
    front.lineTo(27.0, 27.5);
    front.lineTo(2.5, 27.5);
    front.closeSubpath();
    fillOutlined(p, front, vertical(14, 28, QColor(255, 226, 120), QColor(240, 175, 40)), ink);

    p.setPen(QPen(QColor(255, 248, 210), 1.0));
    p.drawLine(QPointF(8.5, 15.8), QPointF(29.0, 15.8));
    return img;
}

QImage quitCross(int scale)
{
    QImage img = blank(32, 32, scale);
    QPainter p(&img);
    prepare(p, scale);
    QPainterPath x = thickLine({8, 8}, {24, 24}, 6.5).united(thickLine({24, 8}, {8, 24}, 6.5));
    fillOutlined(p, x, vertical(5, 27, QColor(255, 110, 95), QColor(190, 25, 15)),
                 QColor(100, 10, 5), 1.2);
    p.setPen(QPen(QColor(255, 255, 255, 140), 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8.5, 7.2), QPointF(11.5, 10.2));
    p.drawLine(QPointF(22.5, 7.2), QPointF(19.5, 10.2));
    return img;
}

// The pencil doubles as the marker cursor, scaled to 8 px wide with its hot
// spot at (4, 21): the tip sits where that pixel's centre lands after scaling.
constexpr int PencilW = 30;
constexpr int PencilH = 84;
constexpr qreal PencilTipX = 4.5 * PencilW / 8.0;
constexpr qreal PencilTipY = 21.6 * PencilW / 8.0;

QImage pencil(const QColor &light, const QColor &mid, const QColor &dark, int scale)
{
    QImage img = blank(PencilW, PencilH, scale);
    QPainter p(&img);
    prepare(p, scale);
    // Thick outlines: the picture is only ever shown shrunk to a third or less.
    const qreal line = 2.6;
    const QColor ink(30, 30, 30);
    const qreal ax = PencilTipX, hw = 9.0;
    const qreal left = ax - hw, right = ax + hw;
    const qreal top = 2.5, ferruleTop = 10.0, bodyTop = 17.0, woodTop = 58.0;
    const qreal tipY = PencilTipY;
    const qreal leadTop = tipY - (tipY - woodTop) * 0.38;
    const qreal leadHalf = hw * (tipY - leadTop) / (tipY - woodTop);

    QPainterPath outline;
    outline.moveTo(left, woodTop);
    outline.lineTo(left, top + 4);
    outline.quadTo(left, top, left + 4, top);
    outline.lineTo(right - 4, top);
    outline.quadTo(right, top, right, top + 4);
    outline.lineTo(right, woodTop);
    outline.lineTo(ax, tipY);
    outline.closeSubpath();

    p.setPen(Qt::NoPen);
    p.setClipPath(outline);

    // Three facets give the body its hexagonal look.
    const qreal third = 2 * hw / 3;
    p.setBrush(light);
    p.drawRect(QRectF(left, bodyTop, third, woodTop - bodyTop));
    p.setBrush(mid);
    p.drawRect(QRectF(left + third, bodyTop, third, woodTop - bodyTop));
    p.setBrush(dark);
    p.drawRect(QRectF(left + 2 * third, bodyTop, third + 1, woodTop - bodyTop));

    // Sharpened wood with the paint ending in scallops.
    QPainterPath wood;
    wood.moveTo(left, woodTop - 1);
    for (int i = 0; i < 3; ++i) {
        const qreal x0 = left + i * third;
        wood.quadTo(x0 + third / 2, woodTop + 5, x0 + third, woodTop - 1);
    }
    wood.lineTo(right, PencilH);
    wood.lineTo(left, PencilH);
    wood.closeSubpath();
    p.setBrush(horizontal(left, right, QColor(250, 215, 165), QColor(200, 150, 95)));
    p.drawPath(wood);
    p.setBrush(QColor(45, 45, 50));
    p.drawRect(QRectF(left, leadTop, 2 * hw, PencilH));

    p.setBrush(horizontal(left, right, QColor(250, 165, 180), QColor(200, 100, 120)));
    p.drawRect(QRectF(left, 0, 2 * hw, ferruleTop));
    p.setBrush(horizontal(left, right, QColor(235, 235, 240), QColor(130, 135, 145)));
    p.drawRect(QRectF(left, ferruleTop, 2 * hw, bodyTop - ferruleTop));

    p.setPen(QPen(ink, 1.4));
    p.drawLine(QPointF(left, ferruleTop), QPointF(right, ferruleTop));
    p.drawLine(QPointF(left, bodyTop), QPointF(right, bodyTop));
    p.setPen(QPen(QColor(90, 95, 105), 1.2));
    p.drawLine(QPointF(left, (ferruleTop + bodyTop) / 2), QPointF(right, (ferruleTop + bodyTop) / 2));
    p.setPen(QPen(QColor(40, 45, 50), 1.2));
    p.drawLine(QPointF(ax - leadHalf, leadTop), QPointF(ax + leadHalf, leadTop));

    p.setClipping(false);
    p.setPen(QPen(ink, line, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(outline);
    return img;
}

QImage zoom(bool plus, int scale)
{
    QImage img = blank(32, 32, scale);
    QPainter p(&img);
    prepare(p, scale);
    const QPointF c(13, 13);
    drawLens(p, c, 10.5, {28.5, 28.5}, 5.0, clearGlass(c, 8));
    drawSign(p, c, 4.5, plus, 2.6);
    return img;
}

QImage zoomBackground(bool plus, int scale)
{
    QImage img = blank(32, 32, scale);
    QPainter p(&img);
    prepare(p, scale);
    const QRectF pic(1.5, 2.5, 22, 19);
    drawLandscape(p, pic);
    p.setPen(QPen(QColor(40, 40, 45), 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(pic);

    // Frosted glass: the picture stays visible but the sign keeps its contrast.
    const QPointF c(20.5, 20.5);
    QRadialGradient g(c - QPointF(2.5, 2.5), 9);
    g.setColorAt(0, QColor(255, 255, 255, 235));
    g.setColorAt(1, QColor(215, 235, 250, 190));
    drawLens(p, c, 8.5, {29.5, 29.5}, 4.2, g);
    drawSign(p, c, 3.3, plus, 2.2);
    return img;
}

QImage printPreview(int scale)
{
    QImage img = blank(32, 32, scale);
    QPainter p(&img);
    prepare(p, scale);
    const QColor ink(70, 70, 75);

    QPainterPath page;
    page.moveTo(4.5, 1.5);
    page.lineTo(18.5, 1.5);
    page.lineTo(24.5, 7.5);
    page.lineTo(24.5, 29.5);
    page.lineTo(4.5, 29.5);
    page.closeSubpath();
    fillOutlined(p, page, vertical(1, 30, QColor(255, 255, 255), QColor(225, 228, 235)), ink);

    QPainterPath fold;
    fold.moveTo(18.5, 1.5);
    fold.lineTo(18.5, 7.5);
    fold.lineTo(24.5, 7.5);
    fillOutlined(p, fold, QColor(205, 210, 220), ink, 0.9);

    const QRectF pic(7.5, 4.5, 9, 7);
    drawLandscape(p, pic);
    p.setPen(QPen(QColor(90, 90, 95), 0.8));
    p.setBrush(Qt::NoBrush);
    p.drawRect(pic);

    p.setPen(QPen(QColor(150, 155, 165), 1.0));
    for (qreal y = 14.5; y < 28; y += 3)
        p.drawLine(QPointF(7.5, y), QPointF(y < 18 ? 21.5 : 12.5, y));

    const QPointF c(19.5, 20.5);
    drawLens(p, c, 7.5, {29.5, 30.0}, 4.0, clearGlass(c, 5.5));
    return img;
}

// Mask: the object highlighted in blue over the greyed-out rest of the picture.
QImage mask(int scale)
{
    QImage img = blank(32, 32, scale);
    QPainter p(&img);
    prepare(p, scale);

    const QRectF frame(2.5, 2.5, 27, 27);
    QPainterPath bg;
    bg.addRoundedRect(frame, 2, 2);
    fillOutlined(p, bg, vertical(2, 30, QColor(175, 175, 178), QColor(125, 125, 130)),
                 QColor(50, 50, 55));

    p.save();
    p.setClipPath(bg);
    QPainterPath subject = circle({16, 11.5}, 5.2);
    QPainterPath shoulders;
    shoulders.moveTo(4.5, 31);
    shoulders.cubicTo(4.5, 21.5, 9.5, 19.0, 16, 19.0);
    shoulders.cubicTo(22.5, 19.0, 27.5, 21.5, 27.5, 31);
    shoulders.closeSubpath();
    subject = subject.united(shoulders);
    fillOutlined(p, subject, vertical(6, 30, QColor(90, 160, 255), QColor(25, 80, 200)),
                 QColor(10, 35, 100), 1.1);
    p.restore();

    p.setPen(QPen(QColor(50, 50, 55), 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawPath(bg);
    return img;
}

// Live Mask: the mask with a lightning bolt, for a mask that follows the strokes by itself.
QImage liveMask(int scale)
{
    QImage img = mask(scale);
    QPainter p(&img);
    prepare(p, scale);
    QPainterPath bolt;
    bolt.moveTo(24.5, 13.5);
    bolt.lineTo(18.0, 23.0);
    bolt.lineTo(22.5, 23.0);
    bolt.lineTo(19.5, 30.5);
    bolt.lineTo(29.0, 19.5);
    bolt.lineTo(24.0, 19.5);
    bolt.lineTo(27.5, 13.5);
    bolt.closeSubpath();
    fillOutlined(p, bolt, vertical(13, 31, QColor(255, 240, 120), QColor(245, 175, 20)),
                 QColor(120, 70, 0), 1.0);
    return img;
}

QImage backgroundView(int scale)
{
    QImage img = blank(32, 32, scale);
    QPainter p(&img);
    prepare(p, scale);

    QPainterPath frame;
    frame.addRoundedRect(QRectF(1.5, 4.5, 29, 23), 1.5, 1.5);
    fillOutlined(p, frame, vertical(4, 28, QColor(200, 140, 75), QColor(135, 80, 30)),
                 QColor(80, 45, 15));

    const QRectF pic(4.5, 7.5, 23, 17);
    drawLandscape(p, pic);
    p.setPen(QPen(QColor(80, 45, 15), 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(pic);
    return img;
}

QImage openHand(int scale)
{
    QImage img = blank(32, 32, scale);
    QPainter p(&img);
    prepare(p, scale);

    QPainterPath hand;
    hand.addRoundedRect(QRectF(9.0, 14.0, 15.5, 16.0), 5.5, 5.5);

    struct Finger { qreal x, top, width, tilt; };
    const Finger fingers[] = {
        {9.3, 5.5, 3.6, -9},
        {13.3, 3.0, 3.6, -3},
        {17.3, 4.0, 3.6, 3},
        {21.2, 7.5, 3.3, 10},
    };
    for (const Finger &f : fingers) {
        QPainterPath finger;
        finger.addRoundedRect(QRectF(f.x, f.top, f.width, 20 - f.top), f.width / 2, f.width / 2);
        QTransform t;
        const QPointF base(f.x + f.width / 2, 18);
        t.translate(base.x(), base.y());
        t.rotate(f.tilt);
        t.translate(-base.x(), -base.y());
        hand = hand.united(t.map(finger));
    }
    hand = hand.united(thickLine({12.5, 24.5}, {4.0, 15.5}, 4.2));

    fillOutlined(p, hand, vertical(3, 30, QColor(255, 230, 205), QColor(235, 180, 135)),
                 QColor(95, 55, 25), 1.1);

    // Creases between the fingers where they meet the palm.
    p.setPen(QPen(QColor(95, 55, 25, 170), 0.9, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(13.2, 14.0), QPointF(13.2, 16.0));
    p.drawLine(QPointF(17.2, 13.8), QPointF(17.2, 15.8));
    p.drawLine(QPointF(21.0, 14.3), QPointF(21.0, 16.3));
    return img;
}

QImage floppy(int scale)
{
    QImage img = blank(32, 32, scale);
    QPainter p(&img);
    prepare(p, scale);

    QPainterPath body;
    body.moveTo(3.5, 5.0);
    body.quadTo(3.5, 3.5, 5.0, 3.5);
    body.lineTo(25.0, 3.5);
    body.lineTo(28.5, 7.0);
    body.lineTo(28.5, 27.0);
    body.quadTo(28.5, 28.5, 27.0, 28.5);
    body.lineTo(5.0, 28.5);
    body.quadTo(3.5, 28.5, 3.5, 27.0);
    body.closeSubpath();
    fillOutlined(p, body, vertical(3, 29, QColor(85, 140, 230), QColor(30, 75, 165)),
                 QColor(15, 35, 85));

    QPainterPath shutter;
    shutter.addRect(QRectF(9.5, 3.5, 13, 9));
    fillOutlined(p, shutter, horizontal(9, 23, QColor(235, 238, 242), QColor(150, 155, 165)),
                 QColor(15, 35, 85));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 60, 100));
    p.drawRect(QRectF(17.5, 5.0, 3, 6));

    QPainterPath label;
    label.moveTo(7.5, 28.5);
    label.lineTo(7.5, 17.5);
    label.quadTo(7.5, 16.5, 8.5, 16.5);
    label.lineTo(23.5, 16.5);
    label.quadTo(24.5, 16.5, 24.5, 17.5);
    label.lineTo(24.5, 28.5);
    fillOutlined(p, label, QColor(250, 250, 250), QColor(15, 35, 85), 0.9);
    p.setPen(QPen(QColor(120, 150, 200), 1.0));
    p.drawLine(QPointF(10, 20.5), QPointF(22, 20.5));
    p.drawLine(QPointF(10, 23.5), QPointF(22, 23.5));
    return img;
}

// Two-tone block lying at a slant, with its thickness shown below the top face.
QImage eraser(int scale)
{
    QImage img = blank(32, 32, scale);
    QPainter p(&img);
    prepare(p, scale);

    QTransform t;
    t.translate(15.5, 14.0);
    t.rotate(-38);
    QPainterPath top;
    top.addRoundedRect(QRectF(-13, -5.5, 26, 11), 2.2, 2.2);
    top = t.map(top);

    QPainterPath solid = top;
    for (qreal dy = 0.5; dy <= 4.0; dy += 0.5)
        solid = solid.united(top.translated(0, dy));
    const QColor ink(80, 30, 45);
    fillOutlined(p, solid, QColor(185, 95, 115), ink, 1.1);

    // Sleeve half first, pink rubber half over it, both clipped to the top face.
    p.save();
    p.setClipPath(top);
    p.setPen(Qt::NoPen);
    p.setTransform(t, true);
    p.setBrush(vertical(-6, 6, QColor(250, 250, 255), QColor(190, 205, 230)));
    p.drawRect(QRectF(-14, -7, 28, 14));
    p.setBrush(vertical(-6, 6, QColor(255, 190, 205), QColor(240, 120, 150)));
    p.drawRect(QRectF(-14, -7, 13, 14));
    p.setPen(QPen(QColor(60, 90, 160), 1.0));
    p.drawLine(QPointF(-1, -7), QPointF(-1, 7));
    p.drawLine(QPointF(3, -7), QPointF(3, 7));
    p.restore();

    p.setPen(QPen(ink, 1.1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(top);
    return img;
}

// Portrait brush with the paint-loaded bristles at the bottom.
QImage brush(const QColor &paint, const QColor &paintDark, int scale)
{
    QImage img = blank(16, 32, scale);
    QPainter p(&img);
    prepare(p, scale);
    const QColor ink(35, 25, 20);

    QPainterPath handle;
    handle.moveTo(6.0, 1.5);
    handle.quadTo(8.0, 0.5, 10.0, 1.5);
    handle.lineTo(10.8, 12.5);
    handle.lineTo(5.2, 12.5);
    handle.closeSubpath();
    fillOutlined(p, handle, horizontal(5, 11, QColor(215, 150, 90), QColor(130, 75, 35)), ink);

    QPainterPath ferrule;
    ferrule.addRect(QRectF(4.0, 12.5, 8, 5));
    fillOutlined(p, ferrule, horizontal(4, 12, QColor(240, 240, 245), QColor(125, 130, 140)), ink);

    QPainterPath bristles;
    bristles.moveTo(4.0, 17.5);
    bristles.lineTo(12.0, 17.5);
    bristles.cubicTo(13.5, 22.5, 11.5, 27.0, 8.0, 31.0);
    bristles.cubicTo(4.5, 27.0, 2.5, 22.5, 4.0, 17.5);
    bristles.closeSubpath();
    fillOutlined(p, bristles, horizontal(4, 12, paint, paintDark), ink);

    p.setPen(QPen(QColor(255, 255, 255, 150), 0.9, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(6.0, 19.5), QPointF(6.8, 25.5));
    return img;
}

// Flying pterosaur seen from below, head in profile: crest, long beak, wide wings, on a
// 64-unit square. The window icon, the desktop icons and the scalable icon share it.
struct Pterodactyl
{
    QPainterPath shape;
    QLinearGradient skin;
    QColor rim;
    QPointF eye;
    qreal eyeRadius;
    QColor eyeColour;
};

Pterodactyl pterodactylDrawing()
{
    QPainterPath wing;
    wing.moveTo(31, 31);
    wing.cubicTo(27, 26, 21, 22, 16, 22);          // arm to the wrist
    wing.cubicTo(11, 23, 5, 29, 1, 38);            // long finger swept back to the tip
    wing.cubicTo(9, 35, 17, 36.5, 24, 42.5);       // concave membrane back to the legs
    wing.cubicTo(27, 44, 29, 44, 31, 44);
    wing.closeSubpath();
    QPainterPath claw;
    claw.moveTo(15, 22.5);
    claw.lineTo(16.5, 18);
    claw.lineTo(18, 22.5);
    claw.closeSubpath();
    wing = wing.united(claw);
    QTransform mirror(-1, 0, 0, 1, 64, 0);

    QPainterPath body;
    body.addEllipse(QPointF(32, 35), 3.8, 10.5);
    QPainterPath tail;
    tail.moveTo(30.5, 44);
    tail.lineTo(32, 52);
    tail.lineTo(33.5, 44);
    tail.closeSubpath();
    QPainterPath legs = thickLine({30.5, 42}, {27.5, 49}, 1.8).united(thickLine({33.5, 42}, {36.5, 49}, 1.8));
    QPainterPath neck = thickLine({32, 26}, {32.5, 19}, 3.4);

    QPainterPath head;
    head.moveTo(38.5, 16.5);   // back of the skull
    head.cubicTo(37.5, 19.5, 35, 20.5, 32, 20.5);
    head.lineTo(5, 18.8);      // lower jaw to the beak tip
    head.lineTo(31, 14.0);     // upper beak
    head.cubicTo(33, 13.0, 35, 12.8, 37, 13.2);
    head.lineTo(48, 7.0);      // crest sweeping back
    head.lineTo(39.5, 16.0);
    head.closeSubpath();

    Pterodactyl d;
    d.shape = wing.united(mirror.map(wing)).united(body).united(tail)
                  .united(legs).united(neck).united(head);
    d.skin = vertical(6, 52, QColor(70, 78, 98), QColor(30, 34, 46));
    // Light rim keeps the dark shape visible on dark title bars and docks.
    d.rim = QColor(200, 205, 220, 200);
    d.eye = QPointF(34.0, 16.0);
    d.eyeRadius = 1.3;
    d.eyeColour = QColor(245, 200, 80);
    return d;
}

// The rim is 1.2 units at 64 px; it stays between 0.6 and 2 px wide at other sizes so that
// small icons keep an outline and large ones no halo.
qreal rimWidth(int size)
{
    const qreal pixels = std::clamp(1.2 * size / 64.0, 0.6, 2.0);
    return pixels * 64.0 / size;
}

QImage pterodactyl(int size)
{
    const Pterodactyl d = pterodactylDrawing();
    QImage img = blank(size, size, 1);
    QPainter p(&img);
    prepare(p, 1);
    p.scale(size / 64.0, size / 64.0);
    fillOutlined(p, d.shape, d.skin, d.rim, rimWidth(size));
    p.setPen(Qt::NoPen);
    p.setBrush(d.eyeColour);
    p.drawEllipse(d.eye, d.eyeRadius, d.eyeRadius);
    return img;
}

QString svgNumber(qreal v)
{
    QString text = QString::number(v, 'f', 3);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

QString svgPathData(const QPainterPath &path)
{
    QStringList parts;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        const QString point = svgNumber(e.x) + u' ' + svgNumber(e.y);
        switch (e.type) {
        case QPainterPath::MoveToElement: parts << u'M' + point; break;
        case QPainterPath::LineToElement: parts << u'L' + point; break;
        case QPainterPath::CurveToElement: parts << u'C' + point; break;
        case QPainterPath::CurveToDataElement: parts << point; break;
        }
    }
    return parts.join(u' ');
}

QString svgColour(const QColor &c)
{
    return c.name(QColor::HexRgb);
}

QString svgOpacity(const QColor &c)
{
    return svgNumber(c.alphaF());
}

QByteArray pterodactylSvg()
{
    const Pterodactyl d = pterodactylDrawing();
    const QGradientStops stops = d.skin.stops();
    QString svg;
    QTextStream out(&svg);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\" viewBox=\"0 0 64 64\">\n"
        << "  <defs>\n"
        << "    <linearGradient id=\"skin\" gradientUnits=\"userSpaceOnUse\" x1=\""
        << svgNumber(d.skin.start().x()) << "\" y1=\"" << svgNumber(d.skin.start().y())
        << "\" x2=\"" << svgNumber(d.skin.finalStop().x()) << "\" y2=\""
        << svgNumber(d.skin.finalStop().y()) << "\">\n";
    for (const QGradientStop &stop : stops)
        out << "      <stop offset=\"" << svgNumber(stop.first) << "\" stop-color=\""
            << svgColour(stop.second) << "\"/>\n";
    out << "    </linearGradient>\n"
        << "  </defs>\n"
        << "  <path fill=\"url(#skin)\" fill-rule=\""
        << (d.shape.fillRule() == Qt::WindingFill ? "nonzero" : "evenodd")
        << "\" stroke=\"" << svgColour(d.rim) << "\" stroke-opacity=\"" << svgOpacity(d.rim)
        << "\" stroke-width=\"" << svgNumber(rimWidth(64))
        << "\" stroke-linecap=\"round\" stroke-linejoin=\"round\" d=\"" << svgPathData(d.shape)
        << "\"/>\n"
        << "  <circle cx=\"" << svgNumber(d.eye.x()) << "\" cy=\"" << svgNumber(d.eye.y())
        << "\" r=\"" << svgNumber(d.eyeRadius) << "\" fill=\"" << svgColour(d.eyeColour)
        << "\"/>\n"
        << "</svg>\n";
    out.flush();
    return svg.toUtf8();
}

int floorDiv(int a, int b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// Transparency backdrop: 8 px squares, grid shifted 2 px right and 1 px down.
// A square is grey when the sum of its column and row indices is even.
QImage chessboard()
{
    QImage img(800, 600, QImage::Format_Indexed8);
    img.setColorTable({qRgb(191, 191, 191), qRgb(255, 255, 255)});
    for (int y = 0; y < img.height(); ++y) {
        uchar *row = img.scanLine(y);
        const int sy = floorDiv(y - 1, 8);
        for (int x = 0; x < img.width(); ++x) {
            const int sx = floorDiv(x - 2, 8);
            row[x] = ((sx + sy) % 2 == 0) ? 0 : 1;
        }
    }
    return img;
}

// A picture drawn at `scale` device pixels per logical pixel.
struct Output {
    QString name;
    QByteArray format;
    std::function<QImage(int scale)> draw;
    // Toolbar and window icons also come at 2x, under the name with "@2x" before the suffix.
    bool alsoAt2x;
};

QString at2x(const QString &name)
{
    const int dot = name.lastIndexOf(u'.');
    return name.left(dot) + QStringLiteral("@2x") + name.mid(dot);
}

// Read back: a missing image plugin or a silently wrong size must not end up committed.
bool write(const QImage &drawn, const QString &path, const char *format, QTextStream &err)
{
    QImage img = drawn;
    if (img.format() == QImage::Format_ARGB32_Premultiplied)
        img = img.convertToFormat(QImage::Format_ARGB32);
    if (!QDir().mkpath(QFileInfo(path).path()) || !img.save(path, format)) {
        err << "cannot write " << path << "\n";
        return false;
    }
    QImageReader reader(path, format);
    if (reader.read().size() != img.size()) {
        err << "read-back mismatch for " << path << ": " << reader.errorString() << "\n";
        return false;
    }
    return true;
}

bool writeText(const QByteArray &text, const QString &path, QTextStream &err)
{
    QFile file(path);
    if (!QDir().mkpath(QFileInfo(path).path()) || !file.open(QIODevice::WriteOnly)
        || file.write(text) != text.size()) {
        err << "cannot write " << path << "\n";
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        err << "usage: " << QFileInfo(args.value(0)).fileName()
            << " <resource icon folder> <desktop icon folder>\n";
        return 2;
    }
    const QDir out(args.at(1));
    const QDir desktop(args.at(2));

    const QColor greenLight(120, 215, 110), greenMid(55, 165, 60), greenDark(25, 110, 35);
    const QColor redLight(255, 120, 110), redMid(215, 45, 40), redDark(140, 20, 20);

    const std::vector<Output> outputs = {
        {"folder_open_32.png", "PNG", folderOpen, true},
        {"delete_32.png", "PNG", quitCross, true},
        {"greenpencil.PNG", "PNG", [&](int s) { return pencil(greenLight, greenMid, greenDark, s); }, true},
        {"redpencilv.PNG", "PNG", [&](int s) { return pencil(redLight, redMid, redDark, s); }, true},
        {"zoomplus.png", "PNG", [](int s) { return zoom(true, s); }, true},
        {"zoomminus.png", "PNG", [](int s) { return zoom(false, s); }, true},
        {"zoomplusbg.png", "PNG", [](int s) { return zoomBackground(true, s); }, true},
        {"zoomminusbg.png", "PNG", [](int s) { return zoomBackground(false, s); }, true},
        {"print_preview_32.png", "PNG", printPreview, true},
        {"foxglove.png", "PNG", mask, true},
        {"livemask.png", "PNG", liveMask, true},
        {"view_32_h.png", "PNG", backgroundView, true},
        {"openhand.png", "PNG", openHand, true},
        {"save_32_h.png", "PNG", floppy, true},
        {"eraser1.png", "PNG", eraser, true},
        {"eraser.ico", "ICO", eraser, false},
        {"redbrush.png", "PNG", [](int s) { return brush(QColor(255, 90, 80), QColor(170, 20, 20), s); }, true},
        {"greenbrush.png", "PNG", [](int s) { return brush(QColor(110, 220, 100), QColor(25, 120, 35), s); }, true},
        {"Pterodactyl.png", "PNG", [](int s) { return pterodactyl(64 * s); }, true},
        {"chessbackground.png", "PNG", [](int) { return chessboard(); }, false},
    };

    int failures = 0;
    for (const Output &o : outputs) {
        failures += !write(o.draw(1), out.filePath(o.name), o.format.constData(), err);
        if (o.alsoAt2x)
            failures += !write(o.draw(2), out.filePath(at2x(o.name)), o.format.constData(), err);
    }

    // The application icon in the freedesktop hicolor theme layout.
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString path = desktop.filePath(
            QStringLiteral("hicolor/%1x%1/apps/peltrix.png").arg(size));
        failures += !write(pterodactyl(size), path, "PNG", err);
    }
    failures += !writeText(pterodactylSvg(), desktop.filePath(QStringLiteral("hicolor/scalable/apps/peltrix.svg")), err);
    return failures == 0 ? 0 : 1;
}
