#include "resources/Artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cmath>
#include <functional>

namespace Artwork {
namespace {

// Palette shared by all images.
const QColor kOutline(40, 48, 64);
const QColor kPaper(252, 252, 248);
const QColor kBlue(34, 102, 204);
const QColor kRed(214, 48, 40);
const QColor kGreen(36, 160, 64);
const QColor kYellow(244, 196, 48);
const QColor kGrey(150, 156, 166);
const QColor kDarkGrey(96, 102, 112);

QPen outlinePen(const QColor &color = kOutline, qreal width = 1.0)
{
    QPen pen(color, width);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

// ---- building blocks, all in the 16 x 16 unit square ----

void paintAxes(QPainter &p, const QRectF &r)
{
    p.setPen(outlinePen(kOutline, 1.0));
    p.drawLine(QPointF(r.left(), r.top()), QPointF(r.left(), r.bottom()));
    p.drawLine(QPointF(r.left(), r.bottom()), QPointF(r.right(), r.bottom()));
}

void paintSheet(QPainter &p, const QRectF &r)
{
    const qreal fold = 4.0;
    QPolygonF sheet;
    sheet << QPointF(r.left(), r.top()) << QPointF(r.right() - fold, r.top())
          << QPointF(r.right(), r.top() + fold) << QPointF(r.right(), r.bottom())
          << QPointF(r.left(), r.bottom());
    p.setPen(outlinePen());
    p.setBrush(kPaper);
    p.drawPolygon(sheet);
    p.setBrush(QColor(220, 222, 226));
    QPolygonF corner;
    corner << QPointF(r.right() - fold, r.top()) << QPointF(r.right() - fold, r.top() + fold)
           << QPointF(r.right(), r.top() + fold);
    p.drawPolygon(corner);
}

void paintChartCurves(QPainter &p, const QRectF &r)
{
    p.setBrush(Qt::NoBrush);
    QPainterPath voltage;
    voltage.moveTo(r.left(), r.bottom() - 1);
    voltage.cubicTo(r.left() + r.width() * 0.3, r.top() + r.height() * 0.2,
                    r.left() + r.width() * 0.6, r.top() + r.height() * 0.35, r.right(), r.top());
    p.setPen(outlinePen(kRed, 1.3));
    p.drawPath(voltage);
    p.setPen(outlinePen(kBlue, 1.3));
    const qreal y = r.top() + r.height() * 0.65;
    p.drawLine(QPointF(r.left(), y), QPointF(r.left() + r.width() * 0.55, y));
    p.drawLine(QPointF(r.left() + r.width() * 0.55, y),
               QPointF(r.left() + r.width() * 0.55, r.bottom() - 0.5));
    p.drawLine(QPointF(r.left() + r.width() * 0.55, r.bottom() - 0.5), QPointF(r.right(), r.bottom() - 0.5));
}

void paintBattery(QPainter &p, const QRectF &body, const QColor &fill, qreal level)
{
    // Horizontal cell with its plus pole at the right.
    p.setPen(outlinePen());
    p.setBrush(kPaper);
    p.drawRoundedRect(body, 1.2, 1.2);
    p.setBrush(kOutline);
    p.drawRect(QRectF(body.right(), body.center().y() - 1.5, 1.5, 3.0));
    QRectF charge = body.adjusted(1.5, 1.5, -1.5, -1.5);
    charge.setWidth(charge.width() * level);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRect(charge);
}

void paintPlus(QPainter &p, const QPointF &c, qreal arm, const QColor &color)
{
    p.setPen(outlinePen(Qt::white, 3.2));
    p.drawLine(c - QPointF(arm, 0), c + QPointF(arm, 0));
    p.drawLine(c - QPointF(0, arm), c + QPointF(0, arm));
    p.setPen(outlinePen(color, 1.8));
    p.drawLine(c - QPointF(arm, 0), c + QPointF(arm, 0));
    p.drawLine(c - QPointF(0, arm), c + QPointF(0, arm));
}

void paintMagnifier(QPainter &p, const QPointF &c, qreal radius)
{
    p.setPen(outlinePen(kDarkGrey, 2.4));
    const qreal d = radius * 0.72;
    p.drawLine(c + QPointF(d, d), c + QPointF(radius + 3.6, radius + 3.6));
    p.setPen(outlinePen(kOutline, 1.3));
    p.setBrush(QColor(200, 228, 252));
    p.drawEllipse(c, radius, radius);
}

void paintPrinter(QPainter &p)
{
    // Paper coming out at the top, the printer body below.
    p.setPen(outlinePen());
    p.setBrush(kPaper);
    p.drawRect(QRectF(4.5, 1.5, 7, 6));
    QLinearGradient body(0, 7, 0, 13);
    body.setColorAt(0, QColor(206, 210, 216));
    body.setColorAt(1, QColor(150, 156, 166));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(1.5, 6.5, 13, 6), 1.2, 1.2);
    p.setBrush(kPaper);
    p.drawRect(QRectF(4.5, 10.5, 7, 4));
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    p.drawRect(QRectF(12, 8, 1.5, 1.5));
}

void paintGauge(QPainter &p)
{
    p.setPen(outlinePen());
    p.setBrush(kPaper);
    QPainterPath dial;
    dial.moveTo(1.5, 12.5);
    dial.arcTo(QRectF(1.5, 2.5, 13, 20), 180, -180);
    dial.closeSubpath();
    p.drawPath(dial);
    // scale ticks
    p.setPen(outlinePen(kDarkGrey, 0.9));
    const QPointF centre(8, 12.5);
    for (int i = 0; i <= 4; ++i) {
        const qreal a = M_PI * (1.0 - i / 4.0);
        const QPointF dir(std::cos(a), -std::sin(a));
        p.drawLine(centre + dir * 5.0, centre + dir * 6.2);
    }
    // the green range and the needle
    p.setPen(outlinePen(kGreen, 1.4));
    p.drawArc(QRectF(3.5, 8.0, 9, 9), 0 * 16, 60 * 16);
    p.setPen(outlinePen(kRed, 1.4));
    p.drawLine(centre, QPointF(11.8, 6.0));
    p.setPen(Qt::NoPen);
    p.setBrush(kOutline);
    p.drawEllipse(centre, 1.4, 1.4);
}

void paintDatabase(QPainter &p)
{
    const QRectF top(2.5, 1.5, 11, 4);
    QLinearGradient side(2, 0, 14, 0);
    side.setColorAt(0, QColor(120, 170, 230));
    side.setColorAt(0.5, QColor(190, 216, 248));
    side.setColorAt(1, QColor(90, 140, 210));
    p.setPen(outlinePen());
    p.setBrush(side);
    QPainterPath body;
    body.moveTo(2.5, 3.5);
    body.lineTo(2.5, 12.5);
    body.arcTo(QRectF(2.5, 10.5, 11, 4), 180, 180);
    body.lineTo(13.5, 3.5);
    p.drawPath(body);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(2.5, 4.5, 11, 4), 180 * 16, 180 * 16);
    p.drawArc(QRectF(2.5, 7.5, 11, 4), 180 * 16, 180 * 16);
    p.setBrush(QColor(210, 228, 250));
    p.drawEllipse(top);
}

void paintFolder(QPainter &p)
{
    p.setPen(outlinePen());
    p.setBrush(QColor(214, 164, 40));
    QPolygonF back;
    back << QPointF(1.5, 3.5) << QPointF(6, 3.5) << QPointF(7.5, 5) << QPointF(13.5, 5)
         << QPointF(13.5, 13.5) << QPointF(1.5, 13.5);
    p.drawPolygon(back);
    p.setBrush(kYellow);
    QPolygonF front;
    front << QPointF(3.5, 7.5) << QPointF(15.2, 7.5) << QPointF(13.5, 13.5) << QPointF(1.5, 13.5);
    p.drawPolygon(front);
}

void paintFloppy(QPainter &p)
{
    p.setPen(outlinePen());
    p.setBrush(kBlue);
    QPolygonF disk;
    disk << QPointF(1.5, 1.5) << QPointF(12.5, 1.5) << QPointF(14.5, 3.5) << QPointF(14.5, 14.5)
         << QPointF(1.5, 14.5);
    p.drawPolygon(disk);
    p.setBrush(kPaper);
    p.drawRect(QRectF(3.5, 1.5, 8, 5));
    p.setBrush(QColor(220, 224, 232));
    p.drawRect(QRectF(4.0, 9.5, 8, 5));
    p.setPen(Qt::NoPen);
    p.setBrush(kOutline);
    p.drawRect(QRectF(8.5, 2.5, 2, 3));
}

void paintSliders(QPainter &p)
{
    const qreal rows[3] = {3.5, 8.0, 12.5};
    const qreal knobs[3] = {10.5, 5.0, 8.5};
    for (int i = 0; i < 3; ++i) {
        p.setPen(outlinePen(kDarkGrey, 1.2));
        p.drawLine(QPointF(1.5, rows[i]), QPointF(14.5, rows[i]));
        p.setPen(outlinePen());
        p.setBrush(i == 1 ? kRed : kBlue);
        p.drawRoundedRect(QRectF(knobs[i] - 1.6, rows[i] - 2.2, 3.2, 4.4), 0.8, 0.8);
    }
}

void paintBackArrow(QPainter &p, const QPointF &tip)
{
    QPolygonF arrow;
    arrow << tip << tip + QPointF(3.5, -3.2) << tip + QPointF(3.5, -1.3) << tip + QPointF(7.0, -1.3)
          << tip + QPointF(7.0, 1.3) << tip + QPointF(3.5, 1.3) << tip + QPointF(3.5, 3.2);
    p.setPen(outlinePen(QColor(20, 90, 30), 0.9));
    p.setBrush(kGreen);
    p.drawPolygon(arrow);
}

void paintTextLines(QPainter &p, const QRectF &r, int count)
{
    p.setPen(outlinePen(kGrey, 0.9));
    for (int i = 0; i < count; ++i) {
        const qreal y = r.top() + i * 2.0;
        p.drawLine(QPointF(r.left(), y), QPointF(i % 2 ? r.right() - 1.5 : r.right(), y));
    }
}

void paintLightning(QPainter &p, const QRectF &r, const QColor &fill)
{
    QPolygonF bolt;
    auto at = [&](qreal x, qreal y) { return QPointF(r.left() + x * r.width(), r.top() + y * r.height()); };
    bolt << at(0.62, 0.0) << at(0.18, 0.56) << at(0.46, 0.56) << at(0.34, 1.0) << at(0.84, 0.40)
         << at(0.54, 0.40) << at(0.70, 0.0);
    p.setPen(outlinePen(kOutline, 0.8));
    p.setBrush(fill);
    p.drawPolygon(bolt);
}

QPixmap renderSquare(int size, qreal dpr, const std::function<void(QPainter &)> &paint16)
{
    QPixmap pixmap(QSize(size, size) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    paint16(p);
    return pixmap;
}

}  // namespace

void PaintToolbarImage(QPainter &p, int index)
{
    p.save();
    switch (index) {
    case 0:   // diagrams
        p.setPen(Qt::NoPen);
        p.setBrush(kPaper);
        p.drawRect(QRectF(2, 1, 13, 13));
        paintAxes(p, QRectF(1.5, 1.5, 13.5, 13));
        paintChartCurves(p, QRectF(3, 3, 11.5, 10));
        break;
    case 1:   // treatment control: a gauge
        paintGauge(p);
        break;
    case 2:   // database
        paintDatabase(p);
        break;
    case 3:   // new diagram
        paintSheet(p, QRectF(2.5, 1.5, 11, 13));
        paintChartCurves(p, QRectF(4.5, 6, 7, 6.5));
        paintPlus(p, QPointF(4.5, 4.5), 2.8, kGreen);
        break;
    case 4:   // open
        paintFolder(p);
        break;
    case 5:   // save
        paintFloppy(p);
        break;
    case 6:   // diagram settings
        paintSliders(p);
        break;
    case 7:   // zoom in
        paintMagnifier(p, QPointF(6.5, 6.5), 4.8);
        p.setPen(outlinePen(kOutline, 1.4));
        p.drawLine(QPointF(4.3, 6.5), QPointF(8.7, 6.5));
        p.drawLine(QPointF(6.5, 4.3), QPointF(6.5, 8.7));
        break;
    case 8:   // previous zoom
        paintMagnifier(p, QPointF(8.5, 6.5), 4.8);
        paintBackArrow(p, QPointF(0.8, 12.2));
        break;
    case 9:   // print diagram
        paintPrinter(p);
        p.setPen(outlinePen(kRed, 1.0));
        p.drawLine(QPointF(5.5, 6.5), QPointF(8, 3.5));
        p.drawLine(QPointF(8, 3.5), QPointF(10.5, 3));
        break;
    case 10:   // new battery
        paintBattery(p, QRectF(1.5, 5.5, 11.5, 7), kGreen, 0.7);
        paintPlus(p, QPointF(12.0, 4.0), 3.0, kGreen);
        break;
    case 11:   // battery
        paintBattery(p, QRectF(1.5, 4.5, 11.5, 7), kGreen, 0.7);
        break;
    case 12:   // search
        paintMagnifier(p, QPointF(6.5, 6.5), 4.8);
        break;
    case 13:   // print battery data
        paintPrinter(p);
        paintTextLines(p, QRectF(5.5, 3, 5, 4), 2);
        break;
    case 14: {   // start treatment
        QPolygonF play;
        play << QPointF(3.5, 1.8) << QPointF(14.2, 8) << QPointF(3.5, 14.2);
        QLinearGradient fill(0, 2, 0, 14);
        fill.setColorAt(0, QColor(96, 208, 112));
        fill.setColorAt(1, QColor(24, 128, 48));
        p.setPen(outlinePen(QColor(16, 80, 32), 1.0));
        p.setBrush(fill);
        p.drawPolygon(play);
        break;
    }
    case 15: {   // stop treatment
        QLinearGradient fill(0, 2, 0, 14);
        fill.setColorAt(0, QColor(240, 110, 100));
        fill.setColorAt(1, QColor(176, 28, 24));
        p.setPen(outlinePen(QColor(110, 16, 12), 1.0));
        p.setBrush(fill);
        p.drawRoundedRect(QRectF(2.5, 2.5, 11, 11), 1.5, 1.5);
        break;
    }
    default:
        break;
    }
    p.restore();
}

QIcon ToolbarImage(int index)
{
    QIcon icon;
    if (index < 0 || index >= ToolbarImageCount)
        return icon;
    for (int size : {16, 24, 32, 48}) {
        for (qreal dpr : {1.0, 2.0})
            icon.addPixmap(renderSquare(size, dpr, [index](QPainter &p) { PaintToolbarImage(p, index); }));
    }
    return icon;
}

QSize LogoSize()
{
    return QSize(110, 34);
}

QPixmap Logo(qreal dpr)
{
    const QSize size = LogoSize();
    QPixmap pixmap(size * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    const QRectF frame(0.5, 1.5, size.width() - 1.0, size.height() - 3.0);
    QLinearGradient back(0, frame.top(), 0, frame.bottom());
    back.setColorAt(0, QColor(36, 72, 140));
    back.setColorAt(1, QColor(16, 36, 84));
    p.setPen(QPen(QColor(10, 24, 60), 1.0));
    p.setBrush(back);
    p.drawRoundedRect(frame, 4, 4);

    // A small upright cell with a bolt at the left.
    p.save();
    p.translate(6, 6);
    p.setPen(QPen(QColor(230, 236, 246), 1.2));
    p.setBrush(QColor(56, 96, 170));
    p.drawRoundedRect(QRectF(0.5, 3, 13, 19), 2, 2);
    p.setBrush(QColor(230, 236, 246));
    p.drawRect(QRectF(4.5, 0.5, 5, 2.5));
    paintLightning(p, QRectF(2.5, 6, 9, 13), kYellow);
    p.restore();

    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPixelSize(17);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(24, 1, size.width() - 27, size.height() - 2), Qt::AlignCenter,
               QStringLiteral("Braskon"));
    return pixmap;
}

QIcon ProgramIcon()
{
    auto paint = [](QPainter &p) {
        // Upright cell, green charge, yellow bolt.
        p.setPen(outlinePen(kOutline, 0.9));
        p.setBrush(kOutline);
        p.drawRect(QRectF(6, 0.8, 4, 1.6));
        QLinearGradient body(3, 0, 13, 0);
        body.setColorAt(0, QColor(60, 170, 84));
        body.setColorAt(0.45, QColor(140, 224, 150));
        body.setColorAt(1, QColor(30, 120, 52));
        p.setBrush(body);
        p.drawRoundedRect(QRectF(3.2, 2.4, 9.6, 12.8), 1.4, 1.4);
        paintLightning(p, QRectF(4.6, 4.2, 6.8, 9.6), kYellow);
    };
    QIcon icon;
    // Every size of the desktop's icon theme, so none is scaled from another.
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(renderSquare(size, 1.0, paint));
    return icon;
}

QPixmap AboutPicture(const QSize &size, qreal dpr)
{
    QPixmap pixmap(size * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::white);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    // A stack of cells charging from bottom to top, with a voltage curve.
    const qreal w = size.width();
    const qreal h = size.height();
    const int cells = 4;
    const qreal margin = w * 0.18;
    const qreal cellHeight = (h - 2 * margin) / cells;
    for (int i = 0; i < cells; ++i) {
        const QRectF cell(margin, margin + i * cellHeight + cellHeight * 0.12, w - 2 * margin,
                          cellHeight * 0.76);
        p.setPen(QPen(kOutline, 1.2));
        p.setBrush(kPaper);
        p.drawRoundedRect(cell, 3, 3);
        p.setBrush(kOutline);
        p.drawRect(QRectF(cell.center().x() - cell.width() * 0.15, cell.top() - cellHeight * 0.08,
                          cell.width() * 0.3, cellHeight * 0.08));
        const qreal level = 0.35 + 0.2 * i;
        QRectF charge = cell.adjusted(3, 3, -3, -3);
        charge.setTop(charge.bottom() - charge.height() * level);
        QLinearGradient fill(charge.left(), 0, charge.right(), 0);
        fill.setColorAt(0, QColor(40, 150, 70));
        fill.setColorAt(0.5, QColor(130, 220, 140));
        fill.setColorAt(1, QColor(30, 120, 52));
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawRect(charge);
    }
    p.setPen(QPen(kRed, 1.6));
    p.setBrush(Qt::NoBrush);
    QPainterPath curve;
    curve.moveTo(margin * 0.4, h - margin * 0.5);
    curve.cubicTo(w * 0.9, h * 0.7, w * 0.1, h * 0.3, w - margin * 0.4, margin * 0.5);
    p.drawPath(curve);
    return pixmap;
}

}  // namespace Artwork
