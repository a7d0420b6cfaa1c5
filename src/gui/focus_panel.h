#pragma once
// The Focus panel: a star locked on by a click is found again in each new image (the brightest
// star a few pixels around where it was) and measured: peak, sky, HFD and FWHM, with a mark when
// it is saturated; its HFD over the last images is drawn with the best one marked. Without a
// lock the panel measures the star under the pointer. Below, the statistics of the image or of
// the box dragged on it.

#include <QWidget>
#include <optional>

#include "image/hfd_history.h"
#include "image/image_stats.h"
#include "image/image_store.h"
#include "image/star_measure.h"

class QLabel;
class QPushButton;

namespace kyr {

// HFD of the last images: oldest on the left, the best one marked.
class HfdGraph : public QWidget {
    Q_OBJECT
  public:
    explicit HfdGraph(const HfdHistory& history, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {170, 90}; }
    QSize minimumSizeHint() const override { return {100, 60}; }
    // Widget position of value i.
    QPointF pointOf(std::size_t i) const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QRectF plot() const;
    // The values at the bottom and top of the plot.
    std::pair<double, double> span() const;
    const HfdHistory& history_;
};

class FocusPanel : public QWidget {
    Q_OBJECT
  public:
    explicit FocusPanel(const ImageStore& image, QWidget* parent = nullptr);

    // A new image is complete or opened: the locked star is looked for again and measured,
    // its HFD joins the graph; the statistics are taken again.
    void imageChanged();
    // A click on image pixel (column, row): locks on the brightest star around it. A click
    // with no star near it lets the lock go. The graph starts again with the new star.
    void lockAt(int column, int row);
    void unlock();
    // The pointer over image pixel (column, row) (0, 0: off the image): while no star is
    // locked, the star under it is measured.
    void pointerAt(int column, int row);
    // Statistics of a box of image pixels instead of the whole image (none: the whole image).
    void setBox(std::optional<ImageBox> box);

    // The locked star's pixel (1-based image column and row), if any.
    std::optional<QPoint> locked() const { return locked_; }
    const HfdHistory& history() const { return history_; }
    const StarMeasure& star() const { return star_; }

  Q_SIGNALS:
    // The locked star moved, was found, lost or let go: the picture's mark follows.
    void lockChanged();

  private:
    void showStar(const QString& title);
    void showStatistics();
    bool hasImage() const { return image_.imageWidth > 0 && image_.imageHeight > 0; }

    const ImageStore& image_;
    std::optional<QPoint> locked_;
    StarMeasure star_;
    HfdHistory history_;
    std::optional<ImageBox> box_;

    QLabel* starTitle_;
    QLabel* position_;
    QLabel* peak_;
    QLabel* sky_;
    QLabel* hfd_;
    QLabel* fwhm_;
    QLabel* saturated_;
    QPushButton* unlock_;
    HfdGraph* graph_;
    QLabel* best_;
    QLabel* statsTitle_;
    QLabel* statsValues_;
};

}  // namespace kyr
