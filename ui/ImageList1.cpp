#include "ui/ImageList1.h"

#include "ui/MarkerImages.h"
#include "ui/PaintedIcon.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyle>
#include <functional>

namespace kv::ui {

namespace {

const QColor kInk(0x30, 0x3a, 0x4a);
const QColor kBlue(0x2f, 0x6f, 0xc0);
const QColor kRed(0xc8, 0x28, 0x28);
const QColor kGreen(0x22, 0x8b, 0x3a);
const QColor kAmber(0xd8, 0x9a, 0x1c);

// Our own pictures are drawn in a 20 x 20 box and painted at every size asked for.
QIcon Canvas(const std::function<void(QPainter&)>& draw) {
    return PaintedIcon(draw);
}

void Person(QPainter& p, QPointF at, double scale, const QColor& color) {
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(QRectF(at + QPointF(-2.8 * scale, -8 * scale), QSizeF(5.6 * scale, 5.6 * scale)));
    QPainterPath body;
    body.moveTo(at + QPointF(-5.5 * scale, 5 * scale));
    body.cubicTo(at + QPointF(-5.5 * scale, -3.5 * scale), at + QPointF(5.5 * scale, -3.5 * scale),
                 at + QPointF(5.5 * scale, 5 * scale));
    body.closeSubpath();
    p.drawPath(body);
}

void Group(QPainter& p) {
    Person(p, QPointF(13, 11), 0.85, kBlue.lighter(135));
    Person(p, QPointF(7.5, 13), 1.0, kBlue);
}

void Badge(QPainter& p, const QColor& color, const std::function<void(QPainter&)>& glyph) {
    p.setPen(QPen(Qt::white, 1));
    p.setBrush(color);
    p.drawEllipse(QRectF(10.5, 10.5, 9, 9));
    p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
    glyph(p);
}

void Plus(QPainter& p) {
    p.drawLine(QPointF(15, 12.5), QPointF(15, 17.5));
    p.drawLine(QPointF(12.5, 15), QPointF(17.5, 15));
}
void Minus(QPainter& p) {
    p.drawLine(QPointF(12.5, 15), QPointF(17.5, 15));
}
void Cross(QPainter& p) {
    p.drawLine(QPointF(13, 13), QPointF(17, 17));
    p.drawLine(QPointF(17, 13), QPointF(13, 17));
}
void Arrow(QPainter& p) {
    p.drawLine(QPointF(12.5, 15), QPointF(17.5, 15));
    p.drawLine(QPointF(15.5, 13), QPointF(17.5, 15));
    p.drawLine(QPointF(15.5, 17), QPointF(17.5, 15));
}

// Protection signs: the markers of the folder views, drawn larger.
void Sign(QPainter& p, int marker, QRectF box) {
    p.save();
    p.translate(box.topLeft());
    p.scale(box.width() / 10.0, box.height() / 10.0);
    PaintMarker(p, marker);
    p.restore();
}
void ReadOnlySign(QPainter& p, QRectF box) {
    Sign(p, 1, box);
}
void Padlock(QPainter& p, QRectF box) {
    Sign(p, 2, box);
}
void CustomSign(QPainter& p, QRectF box) {
    Sign(p, 3, box);
}
void Ring(QPainter& p, QRectF box, const QColor& color, double width) {
    p.setPen(QPen(color, width));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(box);
}
void ResetSign(QPainter& p, QRectF box) {
    Ring(p, box, QColor(0x80, 0x80, 0x80), box.width() / 8);
    p.drawLine(box.topRight() + QPointF(-box.width() * 0.2, box.height() * 0.2),
               box.bottomLeft() + QPointF(box.width() * 0.2, -box.height() * 0.2));
}

void Gear(QPainter& p, QPointF c, double r) {
    p.setPen(QPen(kInk, r * 0.45, Qt::SolidLine, Qt::FlatCap));
    for (int i = 0; i < 8; ++i) {
        p.save();
        p.translate(c);
        p.rotate(i * 45);
        p.drawLine(QPointF(0, r * 0.7), QPointF(0, r * 1.15));
        p.restore();
    }
    p.setPen(QPen(kInk, r * 0.35));
    p.setBrush(QColor(0xd0, 0xd6, 0xe0));
    p.drawEllipse(c, r * 0.75, r * 0.75);
    p.setBrush(Qt::white);
    p.drawEllipse(c, r * 0.28, r * 0.28);
}

void WithGear(QPainter& p, const std::function<void(QPainter&, QRectF)>& sign) {
    sign(p, QRectF(1, 1, 13, 13));
    Gear(p, QPointF(14.5, 14.5), 4.2);
}

// The desktop theme's picture where it has one, else the style's.
QIcon Standard(const char* themeName, QStyle::StandardPixmap which) {
    return ThemeIcon(themeName, QApplication::style()->standardIcon(which));
}

QIcon Draw(int index) {
    switch (index) {
        case kImgGroup:
            return Canvas([](QPainter& p) { Group(p); });
        case kImgUser:
            return Canvas([](QPainter& p) { Person(p, QPointF(10, 13), 1.15, kBlue); });
        case kImgNewGroup:
            return Canvas([](QPainter& p) {
                Group(p);
                Badge(p, kGreen, Plus);
            });
        case kImgDeleteGroup:
            return Canvas([](QPainter& p) {
                Group(p);
                Badge(p, kRed, Cross);
            });
        case kImgMoveUser:
            return Canvas([](QPainter& p) {
                Person(p, QPointF(8, 12), 1.0, kBlue);
                Badge(p, kGreen, Arrow);
            });
        case kImgRemoveUser:
            return Canvas([](QPainter& p) {
                Person(p, QPointF(8, 12), 1.0, kBlue);
                Badge(p, kRed, Minus);
            });
        case kImgUnknownUser:
            return Canvas([](QPainter& p) {
                Person(p, QPointF(10, 13), 1.15, QColor(0x8a, 0x8a, 0x8a));
                p.setPen(Qt::white);
                QFont f = p.font();
                f.setBold(true);
                f.setPixelSize(9);
                p.setFont(f);
                p.drawText(QRectF(5, 11, 10, 8), Qt::AlignCenter, "?");
            });
        case kImgSave:
            return Standard("document-save", QStyle::SP_DialogSaveButton);
        case kImgMinimize:
            return Standard("window-minimize", QStyle::SP_TitleBarMinButton);
        case kImgIconView:
            return Standard("view-list-icons", QStyle::SP_FileDialogContentsView);
        case kImgSmallIconView:
            return Canvas([](QPainter& p) {
                p.setPen(Qt::NoPen);
                p.setBrush(kBlue);
                for (int r = 0; r < 3; ++r) {
                    for (int c = 0; c < 3; ++c)
                        p.drawRect(QRectF(3 + c * 5.5, 3 + r * 5.5, 3.5, 3.5));
                }
            });
        case kImgListView:
            return Standard("view-list-text", QStyle::SP_FileDialogListView);
        case kImgReportView:
            return Standard("view-list-details", QStyle::SP_FileDialogDetailedView);
        case kImgFull:
            return Canvas([](QPainter& p) { Padlock(p, QRectF(1, 1, 18, 18)); });
        case kImgStart:
            return Standard("media-playback-start", QStyle::SP_MediaPlay);
        case kImgTest:
            return Standard("media-seek-forward", QStyle::SP_MediaSeekForward);
        case kImgStop:
            return Standard("media-playback-stop", QStyle::SP_MediaStop);
        case kImgReadOnlyOptions:
            return Canvas([](QPainter& p) { WithGear(p, ReadOnlySign); });
        case kImgFullOptions:
            return Canvas([](QPainter& p) { WithGear(p, Padlock); });
        case kImgCustomOptions:
            return Canvas([](QPainter& p) { WithGear(p, CustomSign); });
        case kImgCustom:
            return Canvas([](QPainter& p) { CustomSign(p, QRectF(2, 2, 16, 16)); });
        case kImgReadOnly:
            return Canvas([](QPainter& p) { ReadOnlySign(p, QRectF(2, 2, 16, 16)); });
        case kImgReset:
            return Canvas([](QPainter& p) { ResetSign(p, QRectF(2, 2, 16, 16)); });
        case kImgRefresh:
            return Standard("view-refresh", QStyle::SP_BrowserReload);
        case kImgPassword:
            return Canvas([](QPainter& p) {
                p.setPen(QPen(kAmber.darker(130), 2.2, Qt::SolidLine, Qt::RoundCap));
                p.setBrush(Qt::NoBrush);
                p.drawEllipse(QRectF(2, 6, 8, 8));
                p.drawLine(QPointF(10, 10), QPointF(18, 10));
                p.drawLine(QPointF(15, 10), QPointF(15, 14));
                p.drawLine(QPointF(18, 10), QPointF(18, 13));
            });
        case kImgExit:
            return Standard("application-exit", QStyle::SP_DialogCloseButton);
        case kImgHelp:
            return Standard("help-contents", QStyle::SP_DialogHelpButton);
        case kImgAbout:
            return Standard("help-about", QStyle::SP_MessageBoxInformation);
        case kImgProgramOptions:
            return Canvas([](QPainter& p) { Gear(p, QPointF(10, 10), 7); });
        default:
            return {};
    }
}

}  // namespace

QIcon ImageList1(int index) {
    // Made at each call: a few dozen small pictures per window, and no cache
    // that would outlive the application object.
    return Draw(index);
}

}  // namespace kv::ui
