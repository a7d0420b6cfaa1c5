#pragma once
// Picdata: the 320 x 200 picture area, one image pixel per screen pixel, inside a thin
// sunken border on a dark grey ground.

#include <QImage>
#include <QWidget>
#include <functional>

#include "image/picture.h"

namespace kyr {

class PictureArea : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kBorder = 2;

    explicit PictureArea(QWidget* parent = nullptr);

    // Replaces the whole bitmap.
    void setPicture(const Picture& picture);
    const QImage& image() const { return image_; }
    // Mouse moves, in picture pixels (0,0 is the top-left pixel of the 320 x 200 area).
    void setMouseMoveHandler(std::function<void(float, float)> handler) {
        onMove_ = std::move(handler);
    }

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    QImage image_;
    std::function<void(float, float)> onMove_;
};

}  // namespace kyr
