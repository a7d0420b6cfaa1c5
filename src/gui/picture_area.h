#pragma once
// pictureArea: the picture area's bitmap inside a thin sunken border on a dark grey ground.
// Fit shows the whole bitmap at any factor that fits (fractional factors too); every factor
// draws nearest neighbour, so image pixels stay sharp. A picture larger than the area is
// panned by dragging.
//
// Where each image pixel lands is decided once, in device pixels, by columnAt/rowAt: the
// drawing and the pointer readout both go through them, so the pixel read out is the pixel
// drawn under the pointer at every zoom, pan and screen scale factor.

#include <QImage>
#include <QWidget>
#include <functional>
#include <optional>

#include "image/picture.h"

namespace kyr {

class PictureArea : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kBorder = 2;
    static constexpr double kMaxZoom = 16;
    static constexpr double kMinZoom = 1.0 / 16;

    explicit PictureArea(QWidget* parent = nullptr);

    // Replaces the whole bitmap.
    void setPicture(const Picture& picture);
    // Rows first..last (0-based area rows) of the bitmap changed: only they are copied and
    // repainted (an image arriving row by row).
    void setPictureRows(const Picture& picture, int first, int last);
    // The bitmap shown (grey levels, one pixel per area pixel); null before the first one.
    const QImage& image() const { return image_; }
    int pictureWidth() const { return image_.isNull() ? kPictureWidth : image_.width(); }
    int pictureHeight() const { return image_.isNull() ? kPictureHeight : image_.height(); }

    // Mouse moves, in area pixels as the picture area numbers them (the top-left pixel is
    // (1, 1)); called again when a zoom or pan moves the picture under a still pointer.
    void setMouseMoveHandler(std::function<void(float, float)> handler) {
        onMove_ = std::move(handler);
    }
    // A click (press and release without a drag) on area pixel (x, y), 1-based.
    void setClickHandler(std::function<void(int, int)> handler) { onClick_ = std::move(handler); }
    // A box dragged out (Shift+drag, or a drag over a picture that needs no panning): its
    // area pixels, 1-based corners included; an empty rectangle when a click cleared it.
    void setBoxHandler(std::function<void(QRect)> handler) { onBox_ = std::move(handler); }

    // Marks drawn over the picture, in area pixels (1-based): a star's square, a box.
    void setMarker(std::optional<QPoint> areaPixel);
    void setBox(QRect areaBox);
    QRect box() const { return box_; }
    // Shown on the ground while there is no picture.
    void setHint(const QString& hint);
    const QString& hint() const { return hint_; }

    // Screen (logical) pixels per image pixel.
    double zoom() const { return zoom_; }
    // Fit: the largest zoom that shows the whole picture.
    bool fitting() const { return fit_; }
    void fit();
    void setZoom(double zoom);
    // Whole steps above 1 (3.3 -> 4, or 3), halves and thirds below.
    void zoomIn();
    void zoomOut();
    static double nextZoomUp(double zoom);
    static double nextZoomDown(double zoom);
    // Zooms keeping the picture point under `anchor` (widget coordinates) under it, as far
    // as the picture's edges allow.
    void setZoomAt(double zoom, QPointF anchor);
    // Moves the picture by a widget distance, as far as it reaches.
    void panBy(QPointF delta);
    // Widget position of the top-left corner of area pixel (1, 1).
    QPointF origin() const;
    // The area pixel (1-based) under a widget position; outside the bitmap it may be below 1
    // or beyond its size.
    QPoint areaPixelAt(QPointF pos) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  Q_SIGNALS:
    void zoomChanged(double zoom, bool fitting);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    // The geometry of one drawing, in device pixels of this widget.
    struct Geometry {
        double ratio = 1;  // device pixels per logical pixel
        QRect inner;       // the area inside the border
        double scale = 1;  // device pixels per image pixel
        QPointF origin;    // where area pixel (1, 1)'s top-left corner lies
    };
    QRect inner() const { return rect().adjusted(kBorder, kBorder, -kBorder, -kBorder); }
    Geometry geometryNow() const;
    // The 0-based bitmap column / row drawn at a device pixel (any value: off the bitmap too).
    static int columnAt(const Geometry& g, int deviceX);
    static int rowAt(const Geometry& g, int deviceY);
    static int devicePixel(double logical, double ratio);
    double fitZoom() const;
    bool pannable() const;
    // `report`: tell the move handler which pixel is now under a still pointer.
    void applyZoom(double zoom, bool fit, bool report = true);
    void copyRows(const Picture& picture, int first, int last);
    // The view in device pixels, made once per picture, zoom and pan: painting is a copy.
    void composeView();
    void composeRows(int first, int last);  // bitmap rows changed
    void reportPointer();

    QImage image_;  // grey levels, one per area pixel
    QImage view_;   // what the inner area shows, in device pixels
    Geometry viewGeometry_;
    std::function<void(float, float)> onMove_;
    std::function<void(int, int)> onClick_;
    std::function<void(QRect)> onBox_;
    double zoom_ = 1;
    bool fit_ = true;
    QPointF centre_{kPictureWidth / 2.0, kPictureHeight / 2.0};  // picture point at the centre
    std::optional<QPoint> marker_;
    QRect box_;
    QString hint_;

    enum class Press { None, Pending, Panning, Boxing };
    Press press_ = Press::None;
    QPointF pressAt_;
    QPointF dragFrom_;
    bool pointerInside_ = false;
    QPointF pointer_;
};

}  // namespace kyr
