#include "picture_area.h"

#include <QMouseEvent>
#include <QPainter>
#include <cstring>

namespace kyr {

PictureArea::PictureArea(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(sizeHint());
}

QSize PictureArea::sizeHint() const {
    return {kPictureWidth + 2 * kBorder, kPictureHeight + 2 * kBorder};
}

void PictureArea::setPicture(const Picture& picture) {
    const int w = picture.width;
    const int h = picture.height;
    if (w <= 0 || h <= 0 ||
        picture.grey.size() < static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) {
        return;  // not a whole bitmap: keep the one shown
    }
    QImage img(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y) {
        std::memcpy(img.scanLine(y), picture.grey.data() + static_cast<std::size_t>(y) * w,
                    static_cast<std::size_t>(w));
    }
    image_ = std::move(img);
    update();
}

void PictureArea::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(64, 64, 64));
    // Sunken border: dark on top and left, light on bottom and right.
    const int w = width(), h = height();
    p.setPen(QColor(32, 32, 32));
    p.drawLine(0, 0, w - 1, 0);
    p.drawLine(0, 0, 0, h - 1);
    p.setPen(QColor(192, 192, 192));
    p.drawLine(0, h - 1, w - 1, h - 1);
    p.drawLine(w - 1, 0, w - 1, h - 1);
    if (!image_.isNull()) {
        // The area's origin is the inner corner; the image is never scaled.
        p.drawImage(QPoint(kBorder, kBorder), image_);
    }
}

void PictureArea::mouseMoveEvent(QMouseEvent* event) {
    if (onMove_) {
        const QPointF pos = event->position();
        onMove_(static_cast<float>(pos.x() - kBorder), static_cast<float>(pos.y() - kBorder));
    }
    event->accept();
}

}  // namespace kyr
