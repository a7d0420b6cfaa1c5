#include "picture_area.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace kyr {

PictureArea::PictureArea(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    setMinimumSize(sizeHint());
    resize(sizeHint());
}

QSize PictureArea::sizeHint() const {
    return {kPictureWidth + 2 * kBorder, kPictureHeight + 2 * kBorder};
}

void PictureArea::copyRows(const Picture& picture, int first, int last) {
    for (int y = first; y <= last; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image_.scanLine(y));
        const std::uint8_t* grey =
            picture.grey.data() +
            static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.width);
        for (int x = 0; x < picture.width; ++x) line[x] = qRgb(grey[x], grey[x], grey[x]);
    }
}

void PictureArea::scaleRows(int first, int last) {
    if (zoom_ == 1 || image_.isNull()) {
        scaled_ = QImage();
        return;
    }
    const int z = zoom_;
    if (scaled_.size() != image_.size() * z) {
        scaled_ = QImage(image_.size() * z, QImage::Format_RGB32);
        first = 0;
        last = image_.height() - 1;
    }
    const int w = image_.width();
    const auto bytes = static_cast<std::size_t>(scaled_.bytesPerLine());
    for (int y = first; y <= last; ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(image_.constScanLine(y));
        auto* dst = reinterpret_cast<QRgb*>(scaled_.scanLine(y * z));
        for (int x = 0; x < w; ++x) std::fill_n(dst + x * z, z, src[x]);
        for (int k = 1; k < z; ++k) std::memcpy(scaled_.scanLine(y * z + k), dst, bytes);
    }
}

void PictureArea::setPicture(const Picture& picture) {
    const int w = picture.width;
    const int h = picture.height;
    if (w <= 0 || h <= 0 ||
        picture.grey.size() < static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) {
        return;  // not a whole bitmap: keep the one shown
    }
    // 32-bit pixels: the painter scales them without a conversion.
    if (image_.width() != w || image_.height() != h) image_ = QImage(w, h, QImage::Format_RGB32);
    copyRows(picture, 0, h - 1);
    scaleRows(0, h - 1);
    update();
}

void PictureArea::setPictureRows(const Picture& picture, int first, int last) {
    if (image_.width() != picture.width || image_.height() != picture.height) {
        setPicture(picture);
        return;
    }
    first = std::max(first, 0);
    last = std::min(last, picture.height - 1);
    if (first > last || picture.grey.size() < static_cast<std::size_t>(picture.width) *
                                                  static_cast<std::size_t>(picture.height))
        return;
    copyRows(picture, first, last);
    scaleRows(first, last);
    const QPoint o = origin();
    update(QRect(o.x(), o.y() + first * zoom_, picture.width * zoom_, (last - first + 1) * zoom_)
               .intersected(inner()));
}

// ---------------------------------------------------------------- zoom and pan

int PictureArea::fitZoom() const {
    const QRect in = inner();
    const int z = std::min(in.width() / kPictureWidth, in.height() / kPictureHeight);
    return std::clamp(z, 1, kMaxZoom);
}

QPoint PictureArea::origin() const {
    const QRect in = inner();
    const int sw = kPictureWidth * zoom_;
    const int sh = kPictureHeight * zoom_;
    // Centred where the picture fits; else the centre point, kept inside the picture.
    auto axis = [](int start, int length, int scaled, double centre, int zoom) {
        if (scaled <= length) return start + (length - scaled) / 2;
        const int o = start + length / 2 - static_cast<int>(std::lround(centre * zoom));
        return std::clamp(o, start + length - scaled, start);
    };
    return {axis(in.left(), in.width(), sw, centre_.x(), zoom_),
            axis(in.top(), in.height(), sh, centre_.y(), zoom_)};
}

bool PictureArea::pannable() const {
    const QRect in = inner();
    return kPictureWidth * zoom_ > in.width() || kPictureHeight * zoom_ > in.height();
}

void PictureArea::applyZoom(int zoom, bool fit) {
    zoom = std::clamp(zoom, 1, kMaxZoom);
    const bool changed = zoom != zoom_ || fit != fit_;
    if (zoom != zoom_) {
        zoom_ = zoom;
        scaleRows(0, image_.height() - 1);
    }
    fit_ = fit;
    // The centre always names a point that the view can hold.
    const QPoint o = origin();
    const QRect in = inner();
    centre_ = QPointF((in.left() + in.width() / 2 - o.x()) / static_cast<double>(zoom_),
                      (in.top() + in.height() / 2 - o.y()) / static_cast<double>(zoom_));
    update();
    if (changed) emit zoomChanged(zoom_, fit_);
}

void PictureArea::fit() {
    centre_ = QPointF(kPictureWidth / 2.0, kPictureHeight / 2.0);
    applyZoom(fitZoom(), true);
}

void PictureArea::setZoom(int zoom) {
    applyZoom(zoom, false);
}

void PictureArea::setZoomAt(int zoom, QPointF anchor) {
    zoom = std::clamp(zoom, 1, kMaxZoom);
    const QPoint o = origin();
    const QPointF under((anchor.x() - o.x()) / zoom_, (anchor.y() - o.y()) / zoom_);
    const QRect in = inner();
    // The new origin puts `under` back at the anchor.
    centre_ = QPointF(under.x() + (in.left() + in.width() / 2 - anchor.x()) / zoom,
                      under.y() + (in.top() + in.height() / 2 - anchor.y()) / zoom);
    applyZoom(zoom, false);
}

void PictureArea::panBy(QPointF delta) {
    centre_ -= delta / zoom_;
    applyZoom(zoom_, fit_);
}

void PictureArea::resizeEvent(QResizeEvent*) {
    applyZoom(fit_ ? fitZoom() : zoom_, fit_);
}

// ---------------------------------------------------------------- painting and mouse

void PictureArea::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    const QPoint o = origin();
    const QRect picture =
        image_.isNull() ? QRect() : QRect(o, image_.size() * zoom_).intersected(inner());
    // The ground only around the picture: the picture itself is one opaque copy.
    p.setClipRegion(event->region().subtracted(QRegion(picture)));
    p.fillRect(rect(), QColor(64, 64, 64));
    // Sunken border: dark on top and left, light on bottom and right.
    const int w = width(), h = height();
    p.setPen(QColor(32, 32, 32));
    p.drawLine(0, 0, w - 1, 0);
    p.drawLine(0, 0, 0, h - 1);
    p.setPen(QColor(192, 192, 192));
    p.drawLine(0, h - 1, w - 1, h - 1);
    p.drawLine(w - 1, 0, w - 1, h - 1);
    if (picture.isEmpty()) return;
    p.setClipRegion(event->region().intersected(picture));
    // Each image pixel is a zoom x zoom square: nearest neighbour, no smoothing.
    p.drawImage(o, zoom_ == 1 ? image_ : scaled_);
}

void PictureArea::mouseMoveEvent(QMouseEvent* event) {
    const QPointF pos = event->position();
    if (dragging_) {
        panBy(pos - dragFrom_);
        dragFrom_ = pos;
    }
    if (onMove_) {
        const QPoint o = origin();
        const double x = std::floor((pos.x() - o.x()) / zoom_) + 1;
        const double y = std::floor((pos.y() - o.y()) / zoom_) + 1;
        onMove_(static_cast<float>(x), static_cast<float>(y));
    }
    event->accept();
}

void PictureArea::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && pannable()) {
        dragging_ = true;
        dragFrom_ = event->position();
        setCursor(Qt::ClosedHandCursor);
    }
    event->accept();
}

void PictureArea::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && dragging_) {
        dragging_ = false;
        unsetCursor();  // back to the window's pointer
    }
    event->accept();
}

void PictureArea::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier) || event->angleDelta().y() == 0) {
        event->ignore();
        return;
    }
    setZoomAt(zoom_ + (event->angleDelta().y() > 0 ? 1 : -1), event->position());
    event->accept();
}

}  // namespace kyr
