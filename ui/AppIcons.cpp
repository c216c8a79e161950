#include "ui/AppIcons.h"

#include <QImageReader>
#include <QPainter>
#include <QPainterPath>

#include "ui/PaintedIcon.h"

// The resources of a static library are registered by hand.
static void InitIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace kv::ui {

namespace {

// The same pictures as the SVG files in ui/icons, for a Qt without its SVG
// plugin: drawn in the same 20 x 20 box.
QPainterPath Shield() {
    QPainterPath path;
    path.moveTo(10, 1.5);
    path.lineTo(17, 4);
    path.lineTo(17, 9.5);
    path.cubicTo(17, 14, 14, 17, 10, 18.8);
    path.cubicTo(6, 17, 3, 14, 3, 9.5);
    path.lineTo(3, 4);
    path.closeSubpath();
    return path;
}

void PaintShield(QPainter& p, const QColor& fill, const QColor& edge, double edgeWidth) {
    p.setPen(QPen(edge, edgeWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawPath(Shield());
}

void PaintApplication(QPainter& p) {
    PaintShield(p, QColor(0x2f, 0x6f, 0xc0), QColor(0x1d, 0x4f, 0x91), 0.8);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(10, 8.3), 1.9, 1.9);
    p.drawPolygon(QPolygonF({{9.1, 9.4}, {8.5, 13.4}, {11.5, 13.4}, {10.9, 9.4}}));
}

void PaintProtected(QPainter& p) {
    PaintShield(p, QColor(0x22, 0x8b, 0x3a), QColor(0x14, 0x5a, 0x24), 0.8);
    p.setPen(QPen(Qt::white, 2.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({{6.3, 10.1}, {8.9, 12.7}, {13.9, 7.2}}));
}

void PaintUnprotected(QPainter& p) {
    PaintShield(p, QColor(0xe4, 0xe6, 0xea), QColor(0x6b, 0x70, 0x79), 1.2);
    p.setPen(QPen(QColor(0xc8, 0x28, 0x28), 2.1, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(6.6, 6.6), QPointF(13.4, 13.4));
}

bool SvgReadable() {
    static const bool readable = QImageReader::supportedImageFormats().contains("svg");
    return readable;
}

QIcon Picture(const char* svg, IconPainter painted) {
    static const bool registered = (InitIconResources(), true);
    if (registered && SvgReadable())
        return QIcon(QString(":/icons/") + svg);
    return PaintedIcon(std::move(painted));
}

}  // namespace

QIcon ApplicationIcon() {
    return Picture("kestrava.svg", PaintApplication);
}

QIcon TrayPicture(bool protectionOn) {
    return protectionOn ? Picture("kestrava-protected.svg", PaintProtected)
                        : Picture("kestrava-unprotected.svg", PaintUnprotected);
}

}  // namespace kv::ui
