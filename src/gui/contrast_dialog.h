#pragma once
// ContrastDialog, "Adjust Background and Range": loaded once, then only shown and hidden. Above
// the two boxes a histogram of the image (log counts) marks background and background +
// range; dragging a mark or typing a value shows the image at once with the new values.

#include <QDialog>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kyr {

class PixelArray;

// The histogram with its two marks; a mark follows the mouse while it is dragged.
class HistogramView : public QWidget {
    Q_OBJECT
  public:
    explicit HistogramView(QWidget* parent = nullptr);

    // Counts over the samples low..high, which the view spans.
    void setCounts(std::vector<std::uint32_t> counts, std::int64_t low, std::int64_t high);
    // The marks: black at background, white at background + range.
    void setMarks(std::int64_t black, std::int64_t white);
    std::int64_t black() const { return black_; }
    std::int64_t white() const { return white_; }
    // Widget x of a sample, and the sample at a widget x.
    double xOf(std::int64_t sample) const;
    std::int64_t sampleAt(double x) const;
    int bins() const { return width() - 2; }

    QSize sizeHint() const override { return {360, 120}; }

  Q_SIGNALS:
    void marksDragged(std::int64_t black, std::int64_t white);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    enum class Drag { None, Black, White };
    std::vector<std::uint32_t> counts_;
    std::int64_t low_ = 0;
    std::int64_t high_ = 65535;
    std::int64_t black_ = 0;
    std::int64_t white_ = 0;
    Drag drag_ = Drag::None;
};

class ContrastDialog : public QDialog {
    Q_OBJECT
  public:
    explicit ContrastDialog(QWidget* parent = nullptr);

    // The image whose histogram is shown (null or empty: no histogram).
    void setImage(const PixelArray* image, int width, int height);
    // Called with every valid pair the user types or drags while the dialog is open.
    void setPreview(std::function<void(std::int32_t, std::int32_t)> preview) {
        preview_ = std::move(preview);
    }

    // Shows the dialog modally with the given texts. Done leaves in them what the user typed;
    // Escape, Cancel and the close box give them back unchanged.
    void edit(std::string& background, std::string& range);

    QLineEdit* txtbackground;
    QLineEdit* txtrange;
    QLabel* Lblbackground;
    QLabel* lblrange;
    QPushButton* doneButton;
    QPushButton* cancelButton;
    HistogramView* histogram;

  private:
    void textsChanged();
    void marksDragged(std::int64_t black, std::int64_t white);
    void updateHistogram();

    const PixelArray* image_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    std::function<void(std::int32_t, std::int32_t)> preview_;
    bool settingTexts_ = false;
};

}  // namespace kyr
