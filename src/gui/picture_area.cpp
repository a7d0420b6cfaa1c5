#include "picture_area.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace kyr {

namespace {

const QColor kGround(64, 64, 64);
// A value a rounding error short of a whole number still counts as that number.
constexpr double kEdge = 1e-9;

}  // namespace

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

// ---------------------------------------------------------------- geometry

int PictureArea::devicePixel(double logical, double ratio) {
    // The device pixel that holds a logical position. Qt hands positions over as device
    // positions divided by the ratio; the small allowance undoes that division's error.
    return static_cast<int>(std::floor(logical * ratio + 1e-3));
}

PictureArea::Geometry PictureArea::geometryNow() const {
    Geometry g;
    g.ratio = devicePixelRatioF();
    const QRect in = inner();
    const QPoint topLeft(devicePixel(in.left(), g.ratio), devicePixel(in.top(), g.ratio));
    const QPoint end(devicePixel(in.left() + in.width(), g.ratio),
                     devicePixel(in.top() + in.height(), g.ratio));
    g.inner = QRect(topLeft, QSize(end.x() - topLeft.x(), end.y() - topLeft.y()));
    g.scale = zoom_ * g.ratio;
    // The centre point, kept so that a picture larger than the area covers it and a smaller
    // one lies wholly inside it.
    auto axis = [&g](int start, int length, double size, double centre) {
        const double scaled = size * g.scale;
        const double o = start + length / 2.0 - centre * g.scale;
        const double a = start, b = start + length - scaled;
        if (b >= a) return std::floor(std::clamp(o, a, b));  // inside: on whole device pixels
        return std::clamp(o, b, a);
    };
    g.origin = QPointF(axis(g.inner.left(), g.inner.width(), pictureWidth(), centre_.x()),
                       axis(g.inner.top(), g.inner.height(), pictureHeight(), centre_.y()));
    return g;
}

int PictureArea::columnAt(const Geometry& g, int deviceX) {
    return static_cast<int>(std::floor((deviceX - g.origin.x()) / g.scale + kEdge));
}

int PictureArea::rowAt(const Geometry& g, int deviceY) {
    return static_cast<int>(std::floor((deviceY - g.origin.y()) / g.scale + kEdge));
}

QPointF PictureArea::origin() const {
    const Geometry g = geometryNow();
    return g.origin / g.ratio;
}

QPoint PictureArea::areaPixelAt(QPointF pos) const {
    const Geometry g = geometryNow();
    return {columnAt(g, devicePixel(pos.x(), g.ratio)) + 1,
            rowAt(g, devicePixel(pos.y(), g.ratio)) + 1};
}

double PictureArea::fitZoom() const {
    const QRect in = inner();
    const double z = std::min(in.width() / static_cast<double>(pictureWidth()),
                              in.height() / static_cast<double>(pictureHeight()));
    return std::clamp(z, kMinZoom, kMaxZoom);
}

bool PictureArea::pannable() const {
    const QRect in = inner();
    return pictureWidth() * zoom_ > in.width() + kEdge ||
           pictureHeight() * zoom_ > in.height() + kEdge;
}

double PictureArea::nextZoomUp(double zoom) {
    static constexpr std::array<double, 5> kBelowOne = {1.0 / 16, 1.0 / 8, 1.0 / 4, 1.0 / 2, 1};
    if (zoom < 1 - kEdge)
        for (double z : kBelowOne)
            if (z > zoom + kEdge) return z;
    return std::min(std::floor(zoom + kEdge) + 1, kMaxZoom);
}

double PictureArea::nextZoomDown(double zoom) {
    static constexpr std::array<double, 5> kBelowOne = {1, 1.0 / 2, 1.0 / 4, 1.0 / 8, 1.0 / 16};
    if (zoom > 1 + kEdge) return std::max(std::ceil(zoom - kEdge) - 1, 1.0);
    for (double z : kBelowOne)
        if (z < zoom - kEdge) return z;
    return kMinZoom;
}

// ---------------------------------------------------------------- the bitmap

void PictureArea::copyRows(const Picture& picture, int first, int last) {
    for (int y = first; y <= last; ++y)
        std::copy_n(picture.grey.data() +
                        static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.width),
                    picture.width, image_.scanLine(y));
}

void PictureArea::setPicture(const Picture& picture) {
    const int w = picture.width;
    const int h = picture.height;
    if (w <= 0 || h <= 0 ||
        picture.grey.size() < static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) {
        return;  // not a whole bitmap: keep the one shown
    }
    const bool resized = image_.width() != w || image_.height() != h;
    if (resized) image_ = QImage(w, h, QImage::Format_Grayscale8);
    copyRows(picture, 0, h - 1);
    view_ = QImage();
    // A bitmap of another size is fitted afresh. Its owner is still drawing it: the pointer
    // is read out again by the owner, not from inside the drawing.
    if (resized) {
        centre_ = QPointF(w / 2.0, h / 2.0);
        applyZoom(fit_ ? fitZoom() : zoom_, fit_, false);
    }
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
    composeRows(first, last);
}

// ---------------------------------------------------------------- the view

void PictureArea::composeView() {
    const Geometry g = geometryNow();
    viewGeometry_ = g;
    if (g.inner.isEmpty()) {
        view_ = QImage();
        return;
    }
    view_ = QImage(g.inner.size(), QImage::Format_RGB32);
    view_.setDevicePixelRatio(g.ratio);
    composeRows(0, pictureHeight() - 1);
}

void PictureArea::composeRows(int first, int last) {
    const Geometry g = geometryNow();
    if (view_.isNull() || g.inner != viewGeometry_.inner || g.scale != viewGeometry_.scale ||
        g.origin != viewGeometry_.origin || g.ratio != viewGeometry_.ratio) {
        view_ = QImage();  // made whole at the next paint
        update();
        return;
    }
    // Runs of device columns that show one bitmap column (-1: the ground), left to right.
    const int w = g.inner.width();
    struct Run {
        int column;
        int length;
    };
    std::vector<Run> runs;
    for (int x = 0; x < w; ++x) {
        int c = columnAt(g, g.inner.left() + x);
        if (image_.isNull() || c < 0 || c >= image_.width()) c = -1;
        if (!runs.empty() && runs.back().column == c)
            ++runs.back().length;
        else
            runs.push_back({c, 1});
    }
    std::array<QRgb, 256> colours;
    for (int i = 0; i < 256; ++i) colours[static_cast<std::size_t>(i)] = qRgb(i, i, i);
    const QRgb ground = kGround.rgb();
    const auto bytes = static_cast<std::size_t>(w) * sizeof(QRgb);
    int top = -1, bottom = -1;  // device rows repainted
    int madeRow = -2;           // the bitmap row of the device row made last (-1: ground)
    const QRgb* made = nullptr;
    for (int y = 0; y < g.inner.height(); ++y) {
        int r = rowAt(g, g.inner.top() + y);
        const bool onPicture = !image_.isNull() && r >= 0 && r < image_.height();
        // Rows outside the bitmap are ground: made with the whole view only.
        if (onPicture ? (r < first || r > last) : (first != 0 || last != pictureHeight() - 1))
            continue;
        if (!onPicture) r = -1;
        auto* line = reinterpret_cast<QRgb*>(view_.scanLine(y));
        if (made != nullptr && r == madeRow) {
            std::memcpy(line, made, bytes);  // the same bitmap row, one device row lower
        } else if (r < 0) {
            std::fill_n(line, w, ground);
        } else {
            const std::uint8_t* grey = image_.constScanLine(r);
            QRgb* out = line;
            for (const Run& run : runs) {
                out = std::fill_n(out, run.length,
                                  run.column < 0 ? ground : colours[grey[run.column]]);
            }
        }
        made = line;
        madeRow = r;
        if (top < 0) top = y;
        bottom = y;
    }
    if (top >= 0) {
        const QRect in = inner();
        const double t = (g.inner.top() + top) / g.ratio, b = (g.inner.top() + bottom + 1) / g.ratio;
        update(QRect(in.left(), static_cast<int>(std::floor(t)), in.width(),
                     static_cast<int>(std::ceil(b) - std::floor(t))));
    }
}

// ---------------------------------------------------------------- zoom and pan

void PictureArea::applyZoom(double zoom, bool fit, bool report) {
    zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    const bool changed = zoom != zoom_ || fit != fit_;
    zoom_ = zoom;
    fit_ = fit;
    // The centre always names a point that the view can hold.
    const Geometry g = geometryNow();
    centre_ = QPointF((g.inner.left() + g.inner.width() / 2.0 - g.origin.x()) / g.scale,
                      (g.inner.top() + g.inner.height() / 2.0 - g.origin.y()) / g.scale);
    view_ = QImage();
    update();
    if (changed) Q_EMIT zoomChanged(zoom_, fit_);
    if (report) reportPointer();
}

void PictureArea::fit() {
    centre_ = QPointF(pictureWidth() / 2.0, pictureHeight() / 2.0);
    applyZoom(fitZoom(), true);
}

void PictureArea::setZoom(double zoom) {
    applyZoom(zoom, false);
}

void PictureArea::zoomIn() {
    if (pointerInside_)
        setZoomAt(nextZoomUp(zoom_), pointer_);
    else
        setZoom(nextZoomUp(zoom_));
}

void PictureArea::zoomOut() {
    if (pointerInside_)
        setZoomAt(nextZoomDown(zoom_), pointer_);
    else
        setZoom(nextZoomDown(zoom_));
}

void PictureArea::setZoomAt(double zoom, QPointF anchor) {
    zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    const Geometry g = geometryNow();
    // The picture point under the anchor, unrounded, and the centre that puts it back there.
    const QPointF at = anchor * g.ratio;
    const QPointF under((at.x() - g.origin.x()) / g.scale, (at.y() - g.origin.y()) / g.scale);
    const double scale = zoom * g.ratio;
    centre_ = QPointF(under.x() + (g.inner.left() + g.inner.width() / 2.0 - at.x()) / scale,
                      under.y() + (g.inner.top() + g.inner.height() / 2.0 - at.y()) / scale);
    applyZoom(zoom, false);
}

void PictureArea::panBy(QPointF delta) {
    centre_ -= delta / zoom_;
    applyZoom(zoom_, fit_);
}

void PictureArea::resizeEvent(QResizeEvent*) {
    applyZoom(fit_ ? fitZoom() : zoom_, fit_);
}

// ---------------------------------------------------------------- marks

void PictureArea::setMarker(std::optional<QPoint> areaPixel) {
    if (marker_ == areaPixel) return;
    marker_ = areaPixel;
    update();
}

void PictureArea::setBox(QRect areaBox) {
    if (box_ == areaBox) return;
    box_ = areaBox;
    update();
}

void PictureArea::setHint(const QString& hint) {
    hint_ = hint;
    update();
}

// ---------------------------------------------------------------- painting and mouse

void PictureArea::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.setClipRegion(event->region());
    const Geometry g = geometryNow();
    if (view_.isNull() || g.inner != viewGeometry_.inner || g.scale != viewGeometry_.scale ||
        g.origin != viewGeometry_.origin || g.ratio != viewGeometry_.ratio)
        composeView();
    // Sunken border: dark on top and left, light on bottom and right.
    const int w = width(), h = height();
    p.fillRect(rect(), kGround);
    p.setPen(QColor(32, 32, 32));
    p.drawLine(0, 0, w - 1, 0);
    p.drawLine(0, 0, 0, h - 1);
    p.setPen(QColor(192, 192, 192));
    p.drawLine(0, h - 1, w - 1, h - 1);
    p.drawLine(w - 1, 0, w - 1, h - 1);
    if (!view_.isNull()) p.drawImage(QPointF(g.inner.topLeft()) / g.ratio, view_);

    if (image_.isNull() && !hint_.isEmpty()) {
        p.setPen(QColor(200, 200, 200));
        p.drawText(inner(), Qt::AlignCenter | Qt::TextWordWrap, hint_);
    }
    // An area rectangle (1-based pixels) in widget coordinates.
    auto onScreen = [&g](QRect r) {
        const QPointF a(g.origin.x() + (r.left() - 1) * g.scale, g.origin.y() + (r.top() - 1) * g.scale);
        const QPointF b(g.origin.x() + r.right() * g.scale, g.origin.y() + r.bottom() * g.scale);
        return QRectF(a / g.ratio, b / g.ratio);
    };
    p.setClipRect(inner());
    if (!box_.isEmpty()) {
        p.setPen(QPen(QColor(255, 255, 0), 1, Qt::DashLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(onScreen(box_));
    }
    if (marker_) {
        // A square a few pixels around the star, at least as large as a finger's width.
        const QRectF at = onScreen(QRect(*marker_, QSize(1, 1)));
        const double half = std::max(at.width() * 3, 10.0);
        p.setPen(QPen(QColor(0, 255, 0), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(at.center() - QPointF(half, half), QSizeF(2 * half, 2 * half)));
    }
}

void PictureArea::reportPointer() {
    if (!pointerInside_ || !onMove_) return;
    const QPoint at = areaPixelAt(pointer_);
    onMove_(static_cast<float>(at.x()), static_cast<float>(at.y()));
}

void PictureArea::mouseMoveEvent(QMouseEvent* event) {
    const QPointF pos = event->position();
    pointerInside_ = true;
    pointer_ = pos;
    if (press_ == Press::Pending &&
        (pos - pressAt_).manhattanLength() >= QApplication::startDragDistance()) {
        if ((event->modifiers() & Qt::ShiftModifier) || !pannable()) {
            press_ = Press::Boxing;
        } else {
            press_ = Press::Panning;
            dragFrom_ = pressAt_;
            setCursor(Qt::ClosedHandCursor);
        }
    }
    if (press_ == Press::Panning) {
        const QPointF delta = pos - dragFrom_;
        dragFrom_ = pos;
        panBy(delta);  // reports the pointer's new pixel
    } else {
        if (press_ == Press::Boxing) {
            const QPoint a = areaPixelAt(pressAt_), b = areaPixelAt(pos);
            setBox(QRect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                         QPoint(std::max(a.x(), b.x()), std::max(a.y(), b.y())))
                       .intersected(QRect(1, 1, pictureWidth(), pictureHeight())));
        }
        reportPointer();
    }
    event->accept();
}

void PictureArea::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        press_ = Press::Pending;
        pressAt_ = event->position();
    }
    event->accept();
}

void PictureArea::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    const Press was = press_;
    press_ = Press::None;
    if (was == Press::Panning) {
        unsetCursor();  // back to the window's pointer
    } else if (was == Press::Boxing) {
        if (onBox_) onBox_(box_);
    } else if (was == Press::Pending) {
        if (!box_.isEmpty()) {
            setBox(QRect());
            if (onBox_) onBox_(QRect());
        }
        const QPoint at = areaPixelAt(event->position());
        if (onClick_) onClick_(at.x(), at.y());
    }
    event->accept();
}

void PictureArea::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier) || event->angleDelta().y() == 0) {
        event->ignore();
        return;
    }
    pointerInside_ = true;
    pointer_ = event->position();
    const bool in = event->angleDelta().y() > 0;
    setZoomAt(in ? nextZoomUp(zoom_) : nextZoomDown(zoom_), event->position());
    event->accept();
}

void PictureArea::leaveEvent(QEvent* event) {
    pointerInside_ = false;
    QWidget::leaveEvent(event);
}

}  // namespace kyr
