#include "ui/PaintedIcon.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>

namespace kv::ui {

namespace {

constexpr double kDesignSize = 20.0;

class TPaintedIconEngine : public QIconEngine {
public:
    explicit TPaintedIconEngine(IconPainter draw) : draw_(std::move(draw)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap pixmap = scaledPixmap(rect.size() * ratio, mode, state, ratio);
        pixmap.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, pixmap);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        return Render(size, mode);
    }

    // QIcon asks with the size in device pixels already.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal) override {
        return Render(size, mode);
    }

    QIconEngine* clone() const override { return new TPaintedIconEngine(draw_); }
    QString key() const override { return QStringLiteral("KestravaPainted"); }
    bool isNull() override { return !draw_; }

private:
    QPixmap Render(const QSize& size, QIcon::Mode mode) const {
        if (size.isEmpty())
            return {};
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        {
            QPainter p(&pixmap);
            p.setRenderHint(QPainter::Antialiasing);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            const double side = std::min(size.width(), size.height());
            p.translate((size.width() - side) / 2, (size.height() - side) / 2);
            p.scale(side / kDesignSize, side / kDesignSize);
            draw_(p);
        }
        if (mode == QIcon::Disabled) {
            QStyleOption option;
            option.palette = QApplication::palette();
            return QApplication::style()->generatedIconPixmap(mode, pixmap, &option);
        }
        return pixmap;
    }

    IconPainter draw_;
};

}  // namespace

QIcon PaintedIcon(IconPainter draw) {
    return QIcon(new TPaintedIconEngine(std::move(draw)));
}

QIcon ThemeIcon(const char* name, const QIcon& ours) {
    return QIcon::hasThemeIcon(QString::fromLatin1(name)) ? QIcon::fromTheme(name) : ours;
}

}  // namespace kv::ui
