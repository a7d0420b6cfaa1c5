#pragma once
// pictureArea: the 320 x 200 picture area inside a thin sunken border on a dark grey ground.
// At the window's first size it shows one image pixel per screen pixel; a larger area
// shows it at a whole-number zoom (nearest neighbour: pixels stay square and sharp), and a
// picture larger than the area is panned by dragging.

#include <QImage>
#include <QWidget>
#include <functional>

#include "image/picture.h"

namespace kyr {

class PictureArea : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kBorder = 2;
    static constexpr int kMaxZoom = 8;

    explicit PictureArea(QWidget* parent = nullptr);

    // Replaces the whole bitmap.
    void setPicture(const Picture& picture);
    // Rows first..last (0-based area rows) of the bitmap changed: only they are copied and
    // repainted (an image arriving row by row).
    void setPictureRows(const Picture& picture, int first, int last);
    const QImage& image() const { return image_; }

    // Mouse moves, in area pixels as the picture area numbers them: the screen pixels that
    // show area pixel (1, 1), the top-left one, report (1, 1) at every zoom and pan.
    void setMouseMoveHandler(std::function<void(float, float)> handler) {
        onMove_ = std::move(handler);
    }

    int zoom() const { return zoom_; }
    // Fit: the largest whole-number zoom that shows the whole picture (1 at the first size).
    bool fitting() const { return fit_; }
    void fit();
    void setZoom(int zoom);
    void zoomIn() { setZoom(zoom_ + 1); }
    void zoomOut() { setZoom(zoom_ - 1); }
    // Zooms keeping the picture point under `anchor` (widget coordinates) where it is.
    void setZoomAt(int zoom, QPointF anchor);
    // Moves the picture by a widget distance, as far as it reaches.
    void panBy(QPointF delta);
    // Widget position of the top-left corner of area pixel (1, 1).
    QPoint origin() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  Q_SIGNALS:
    void zoomChanged(int zoom, bool fitting);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    QRect inner() const { return rect().adjusted(kBorder, kBorder, -kBorder, -kBorder); }
    int fitZoom() const;
    bool pannable() const;
    void applyZoom(int zoom, bool fit);
    void copyRows(const Picture& picture, int first, int last);
    // The zoomed picture, made once per picture and zoom: painting is then a plain copy.
    void scaleRows(int first, int last);

    QImage image_;
    QImage scaled_;  // image_ at zoom_ (zoom_ > 1 only)
    std::function<void(float, float)> onMove_;
    int zoom_ = 1;
    bool fit_ = true;
    QPointF centre_{kPictureWidth / 2.0, kPictureHeight / 2.0};  // picture point at the centre
    bool dragging_ = false;
    QPointF dragFrom_;
};

}  // namespace kyr
