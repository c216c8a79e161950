#pragma once

#include <QHash>
#include <QIcon>
#include <QPixmap>

class QPainter;

namespace kv::ui {

/// Paints the sign of marker 1 (ReadOnly), 2 (Full) or 3 (Custom) into the
/// box (0, 0)-(10, 10) of the painter's coordinates; scale the painter for
/// other sizes. Other markers paint nothing.
void PaintMarker(QPainter& p, int marker);

/// `ImageList2`: the state images of the protection markers, 10 x 10 pixels.
/// Image 1 is ReadOnly (a green R in a red ring), 2 Full (a padlock), 3 Custom
/// (an empty red ring); image 0 repeats image 1. Marker -1 draws nothing.
class TMarkerImages {
public:
    static constexpr int kImageSize = 10;
    static constexpr int kCount = 4;
    /// Space between the state image and the item's own icon.
    static constexpr int kGap = 2;

    static const TMarkerImages& Instance();

    /// Image `index` (0 to 3); a null pixmap for any other index.
    QPixmap Image(int index) const;
    /// The item's icon at `size` with the marker's state image to its left
    /// (an empty slot for -1), cached per icon, size and marker.
    QIcon Marked(const QIcon& base, int size, int marker) const;
    /// Width of a marked icon of `size`.
    static int MarkedWidth(int size) { return kImageSize + kGap + size; }

private:
    TMarkerImages();

    QPixmap images_[kCount];
    mutable QHash<QString, QIcon> cache_;
};

}  // namespace kv::ui
