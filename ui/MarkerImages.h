#pragma once

#include <QHash>
#include <QIcon>
#include <QIconEngine>
#include <QPixmap>
#include <QRectF>
#include <algorithm>

class QPainter;

namespace kv::ui {

/// Paints the sign of marker 1 (ReadOnly), 2 (Full) or 3 (Custom) into the
/// box (0, 0)-(10, 10) of the painter's coordinates; scale the painter for
/// other sizes. Other markers paint nothing.
void PaintMarker(QPainter& p, int marker);

/// Paints the sign of a marker as an emblem into `box`: the sign on a white
/// disc, so that it reads over any picture. Markers without a sign paint
/// nothing. `unenforced`: the protection is not (fully) enforced, shown as
/// the sign on a grey disc struck through.
void PaintEmblem(QPainter& p, int marker, const QRectF& box, bool unenforced = false);

/// An item's icon with a marker's emblem over it, painted at every size.
class TMarkedIconEngine : public QIconEngine {
public:
    TMarkedIconEngine(QIcon base, int marker, bool unenforced = false)
        : base_(std::move(base)), marker_(marker), unenforced_(unenforced) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override;
    QIconEngine* clone() const override {
        return new TMarkedIconEngine(base_, marker_, unenforced_);
    }
    QString key() const override { return QStringLiteral("KestravaMarked"); }

private:
    QPixmap Render(const QSize& size, QIcon::Mode mode, QIcon::State state) const;

    QIcon base_;
    int marker_;
    bool unenforced_;
};

/// `ImageList2`: the state images of the protection markers, 10 x 10 pixels.
/// Image 1 is ReadOnly (a green R in a red ring), 2 Full (a padlock), 3 Custom
/// (an empty red ring); image 0 repeats image 1. Marker -1 draws nothing.
class TMarkerImages {
public:
    static constexpr int kImageSize = 10;
    static constexpr int kCount = 4;

    static const TMarkerImages& Instance();

    /// Image `index` (0 to 3); a null pixmap for any other index.
    QPixmap Image(int index) const;
    /// The item's icon with the marker's sign as an emblem over its lower
    /// right corner (the icon itself for -1), painted at every size asked for;
    /// cached per icon, size and marker.
    /// `unenforced` draws the sign of a protection that is not (fully) enforced.
    QIcon Marked(const QIcon& base, int size, int marker, bool unenforced = false) const;
    /// Width of a marked icon of `size`: the emblem takes no room of its own.
    static int MarkedWidth(int size) { return size; }
    /// Share of the icon's side that the emblem covers.
    static constexpr double kEmblemShare = 0.62;
    /// The emblem's side in pixels on an icon of `side` pixels: its share, but
    /// on small icons (16 pixels at 1x) never so small that the R in its ring
    /// and the empty ring look alike.
    static int EmblemSide(int side) {
        return std::max(static_cast<int>(side * kEmblemShare + 0.5),
                        std::min(side - 3, kSmallestEmblem));
    }
    static constexpr int kSmallestEmblem = 12;

private:
    TMarkerImages();

    QPixmap images_[kCount];
    mutable QHash<QString, QIcon> cache_;
};

}  // namespace kv::ui
