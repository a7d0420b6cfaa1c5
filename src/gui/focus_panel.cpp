#include "focus_panel.h"

#include <QFormLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace kyr {

namespace {

QLabel* value(const char* name, QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

QString pixels(double v) {
    return QStringLiteral("%1 px").arg(v, 0, 'f', 2);
}

}  // namespace

// ---------------------------------------------------------------- the graph

HfdGraph::HfdGraph(const HfdHistory& history, QWidget* parent)
    : QWidget(parent), history_(history) {
    setObjectName(QStringLiteral("hfdGraph"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

QRectF HfdGraph::plot() const {
    return QRectF(rect()).adjusted(8, 18, -8, -8);
}

std::pair<double, double> HfdGraph::span() const {
    const auto& v = history_.values();
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    // Some room above and below; a flat history sits in the middle.
    const double room = std::max(*hi - *lo, 0.2) * 0.15;
    return {std::max(0.0, *lo - room), *hi + room};
}

QPointF HfdGraph::pointOf(std::size_t i) const {
    const QRectF r = plot();
    const auto [bottom, top] = span();
    // The first images spread over a tenth of the history's length at least, then the
    // graph fills up to its length.
    const double steps = static_cast<double>(
        std::clamp<std::size_t>(history_.size() - 1, 9, history_.capacity() - 1));
    const double x = r.left() + r.width() * static_cast<double>(i) / steps;
    const double y = r.top() + r.height() * (top - history_[i]) / (top - bottom);
    return {x, y};
}

void HfdGraph::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), Qt::black);
    p.setPen(QColor(96, 96, 96));
    p.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    p.setPen(QColor(160, 160, 160));
    p.drawText(QRectF(rect()).adjusted(4, 1, -4, 0), Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("HFD, last %1 images").arg(history_.capacity()));
    if (history_.empty()) return;
    // The scale: the top and bottom values at the right.
    const auto [bottom, top] = span();
    const QRectF r = plot();
    p.drawText(QRectF(r.left(), r.top() - 14, r.width(), 14), Qt::AlignRight | Qt::AlignBottom,
               QString::number(top, 'f', 2));
    p.drawText(QRectF(r.left(), r.bottom() - 14, r.width(), 14), Qt::AlignRight | Qt::AlignBottom,
               QString::number(bottom, 'f', 2));
    p.setPen(QPen(QColor(255, 255, 0), 1.5));
    QPointF last = pointOf(0);
    for (std::size_t i = 1; i < history_.size(); ++i) {
        const QPointF at = pointOf(i);
        p.drawLine(last, at);
        last = at;
    }
    p.setBrush(QColor(255, 255, 0));
    p.drawEllipse(last, 2, 2);
    // The best: a green ring.
    if (const auto best = history_.bestIndex()) {
        p.setPen(QPen(QColor(0, 255, 0), 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(pointOf(*best), 4.5, 4.5);
    }
}

// ---------------------------------------------------------------- the panel

FocusPanel::FocusPanel(const ImageStore& image, QWidget* parent)
    : QWidget(parent), image_(image) {
    setObjectName(QStringLiteral("focusPanel"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 4, 4, 4);
    column->setSpacing(3);

    starTitle_ = value("focusTitle", this);
    starTitle_->setWordWrap(true);
    column->addWidget(starTitle_);
    auto* form = new QFormLayout;
    form->setContentsMargins(0, 0, 0, 0);
    form->setVerticalSpacing(1);
    position_ = value("focusPosition", this);
    peak_ = value("focusPeak", this);
    sky_ = value("focusSky", this);
    hfd_ = value("focusHfd", this);
    fwhm_ = value("focusFwhm", this);
    form->addRow(QStringLiteral("Star:"), position_);
    form->addRow(QStringLiteral("Peak:"), peak_);
    form->addRow(QStringLiteral("Sky:"), sky_);
    form->addRow(QStringLiteral("HFD:"), hfd_);
    form->addRow(QStringLiteral("FWHM:"), fwhm_);
    column->addLayout(form);
    saturated_ = value("focusSaturated", this);
    saturated_->setText(QStringLiteral("SATURATED"));
    saturated_->setStyleSheet(
        QStringLiteral("color: white; background-color: rgb(192, 0, 0); font-weight: bold;"
                       " padding: 1px 4px;"));
    saturated_->setAlignment(Qt::AlignCenter);
    saturated_->hide();
    column->addWidget(saturated_);
    unlock_ = new QPushButton(QStringLiteral("&Unlock"), this);
    unlock_->setObjectName(QStringLiteral("focusUnlock"));
    unlock_->setFocusPolicy(Qt::NoFocus);  // Space and Enter stay away from it
    connect(unlock_, &QPushButton::clicked, this, &FocusPanel::unlock);
    column->addWidget(unlock_);

    graph_ = new HfdGraph(history_, this);
    graph_->setMaximumHeight(180);
    column->addWidget(graph_, 1);
    best_ = value("focusBest", this);
    column->addWidget(best_);

    statsTitle_ = value("statsTitle", this);
    statsTitle_->setWordWrap(true);
    statsValues_ = value("statsValues", this);
    statsValues_->setWordWrap(true);
    column->addSpacing(4);
    column->addWidget(statsTitle_);
    column->addWidget(statsValues_);
    column->addStretch(0);

    showStar(QStringLiteral("Click a star to lock on it."));
    showStatistics();
}

void FocusPanel::showStar(const QString& title) {
    starTitle_->setText(title);
    const bool shown = star_.found;
    position_->setText(shown ? QStringLiteral("%1, %2").arg(star_.column).arg(star_.row) : QString());
    peak_->setText(shown ? QString::number(star_.peak) : QString());
    sky_->setText(shown ? QString::number(star_.background, 'f', 0) : QString());
    hfd_->setText(shown ? pixels(star_.hfd) : QString());
    fwhm_->setText(shown && star_.fwhm > 0 ? pixels(star_.fwhm) : QString());
    saturated_->setVisible(shown && isSaturated(star_.peak, image_.saturationLimit));
    unlock_->setEnabled(locked_.has_value());
    const auto best = history_.bestIndex();
    best_->setText(best ? QStringLiteral("Best %1 (image %2 of %3)")
                              .arg(pixels(history_[*best]))
                              .arg(*best + 1)
                              .arg(history_.size())
                        : QString());
    graph_->update();
}

void FocusPanel::showStatistics() {
    if (!hasImage()) {
        statsTitle_->setText(QStringLiteral("Statistics: no image"));
        statsValues_->clear();
        return;
    }
    const int w = image_.imageWidth, h = image_.imageHeight;
    ImageStats s;
    if (box_) {
        const ImageBox b = clipBox(*box_, w, h);
        statsTitle_->setText(QStringLiteral("Statistics of the box %1 x %2 at %3, %4:")
                                 .arg(b.width)
                                 .arg(b.height)
                                 .arg(b.column)
                                 .arg(b.row));
        s = imageStats(image_.imageData, w, h, b);
    } else {
        statsTitle_->setText(QStringLiteral("Statistics of the image (drag a box for part):"));
        s = imageStats(image_.imageData, w, h);
    }
    if (s.count == 0) {
        statsValues_->setText(QStringLiteral("no pixels"));
        return;
    }
    statsValues_->setText(QStringLiteral("Min %1   Max %2\nMean %3\nMedian %4\nSigma %5")
                              .arg(s.min)
                              .arg(s.max)
                              .arg(s.mean, 0, 'f', 1)
                              .arg(s.median, 0, 'f', 1)
                              .arg(s.sigma, 0, 'f', 1));
}

void FocusPanel::imageChanged() {
    // A box from another image's size may no longer fit: it is clipped, or dropped.
    if (box_ && clipBox(*box_, image_.imageWidth, image_.imageHeight).width == 0) box_.reset();
    showStatistics();
    if (!locked_) {
        star_ = StarMeasure{};
        showStar(QStringLiteral("Click a star to lock on it."));
        return;
    }
    const StarPosition at = brightestStar(image_.imageData, image_.imageWidth,
                                          image_.imageHeight, locked_->x(), locked_->y());
    if (!at.found) {
        star_ = StarMeasure{};
        showStar(QStringLiteral("Star lost near %1, %2: it is looked for there again in the "
                                "next image.")
                     .arg(locked_->x())
                     .arg(locked_->y()));
        Q_EMIT lockChanged();
        return;
    }
    locked_ = QPoint(at.column, at.row);
    star_ = measureStar(image_.imageData, image_.imageWidth, image_.imageHeight, at.column, at.row);
    if (star_.found) history_.add(star_.hfd);
    showStar(QStringLiteral("Locked star, followed from image to image:"));
    Q_EMIT lockChanged();
}

void FocusPanel::lockAt(int column, int row) {
    if (!hasImage()) return;
    const StarPosition at =
        brightestStar(image_.imageData, image_.imageWidth, image_.imageHeight, column, row);
    const StarMeasure m = at.found ? measureStar(image_.imageData, image_.imageWidth,
                                                 image_.imageHeight, at.column, at.row)
                                   : StarMeasure{};
    history_.clear();
    if (!m.found) {
        locked_.reset();
        star_ = StarMeasure{};
        showStar(QStringLiteral("No star near %1, %2. Click a star to lock on it.")
                     .arg(column)
                     .arg(row));
        Q_EMIT lockChanged();
        return;
    }
    locked_ = QPoint(at.column, at.row);
    star_ = m;
    history_.add(star_.hfd);
    showStar(QStringLiteral("Locked star, followed from image to image:"));
    Q_EMIT lockChanged();
}

void FocusPanel::unlock() {
    if (!locked_) return;
    locked_.reset();
    history_.clear();
    star_ = StarMeasure{};
    showStar(QStringLiteral("Click a star to lock on it."));
    Q_EMIT lockChanged();
}

void FocusPanel::pointerAt(int column, int row) {
    if (locked_ || !hasImage()) return;
    star_ = column > 0 && row > 0 ? measureStar(image_.imageData, image_.imageWidth,
                                                image_.imageHeight, column, row)
                                  : StarMeasure{};
    showStar(star_.found ? QStringLiteral("Star under the pointer (click to lock):")
                         : QStringLiteral("Click a star to lock on it."));
}

void FocusPanel::setBox(std::optional<ImageBox> box) {
    box_ = box;
    showStatistics();
}

}  // namespace kyr
