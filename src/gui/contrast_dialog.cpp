#include "contrast_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <algorithm>
#include <cmath>

#include "common/format.h"
#include "image/histogram.h"
#include "image/render.h"
#include "qtio/host_text.h"

namespace kyr {

// ---------------------------------------------------------------- histogram

HistogramView::HistogramView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("histogram"));
    setMinimumSize(sizeHint());
    setMouseTracking(true);
}

void HistogramView::setCounts(std::vector<std::uint32_t> counts, std::int64_t low,
                              std::int64_t high) {
    counts_ = std::move(counts);
    low_ = low;
    high_ = std::max(high, low + 1);
    update();
}

void HistogramView::setMarks(std::int64_t black, std::int64_t white) {
    black_ = black;
    white_ = white;
    update();
}

double HistogramView::xOf(std::int64_t sample) const {
    return 1.0 +
           static_cast<double>(sample - low_) * bins() / static_cast<double>(high_ - low_ + 1);
}

std::int64_t HistogramView::sampleAt(double x) const {
    const double s = static_cast<double>(low_) +
                     (x - 1.0) * static_cast<double>(high_ - low_ + 1) / std::max(bins(), 1);
    return std::clamp<std::int64_t>(std::llround(s), low_, high_);
}

void HistogramView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    p.setPen(QColor(128, 128, 128));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    const int h = height() - 2;
    // Log counts: the sky's peak and a few bright stars both show.
    const std::uint32_t most =
        counts_.empty() ? 0 : *std::max_element(counts_.begin(), counts_.end());
    if (most > 0) {
        const double top = std::log1p(static_cast<double>(most));
        p.setPen(QColor(200, 200, 200));
        for (std::size_t i = 0; i < counts_.size(); ++i) {
            if (counts_[i] == 0) continue;
            const int bar = static_cast<int>(std::lround(std::log1p(counts_[i]) / top * (h - 4)));
            const int x = 1 + static_cast<int>(i);
            p.drawLine(x, h, x, h - std::max(bar, 1));
        }
    }
    // The marks; one beyond the view stands at its edge.
    auto mark = [&](std::int64_t sample, const QColor& colour, const QString& name) {
        const int x = std::clamp(static_cast<int>(std::lround(xOf(sample))), 1, width() - 2);
        p.setPen(QPen(colour, 1));
        p.drawLine(x, 1, x, h);
        // The name beside the line, on the side where it fits.
        const int room = p.fontMetrics().horizontalAdvance(name) + 4;
        if (x + room < width() - 1)
            p.drawText(QRect(x + 3, 2, room, 14), Qt::AlignLeft | Qt::AlignTop, name);
        else
            p.drawText(QRect(x - room - 1, 2, room, 14), Qt::AlignRight | Qt::AlignTop, name);
    };
    mark(black_, QColor(80, 160, 255), tr("B"));
    mark(white_, QColor(255, 200, 0), tr("B+R"));
}

void HistogramView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const double x = event->position().x();
    // The nearer mark is taken.
    const double db = std::abs(x - xOf(black_));
    const double dw = std::abs(x - xOf(white_));
    drag_ = db <= dw ? Drag::Black : Drag::White;
    mouseMoveEvent(event);
}

void HistogramView::mouseMoveEvent(QMouseEvent* event) {
    if (drag_ == Drag::None) {
        const double x = event->position().x();
        const bool near = std::min(std::abs(x - xOf(black_)), std::abs(x - xOf(white_))) < 4;
        setCursor(near ? Qt::SizeHorCursor : Qt::ArrowCursor);
        return;
    }
    const std::int64_t s = sampleAt(event->position().x());
    // Range 0 would make the mapping a threshold: the marks never meet.
    if (drag_ == Drag::Black && s != white_) black_ = s;
    if (drag_ == Drag::White && s != black_) white_ = s;
    update();
    Q_EMIT marksDragged(black_, white_);
}

void HistogramView::mouseReleaseEvent(QMouseEvent*) {
    drag_ = Drag::None;
}

// ---------------------------------------------------------------- dialog

ContrastDialog::ContrastDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ContrastDialog"));
    setWindowTitle(QStringLiteral("Adjust Background and Range"));
    setModal(true);

    histogram = new HistogramView(this);

    Lblbackground = new QLabel(QStringLiteral("Enter Background:"), this);
    Lblbackground->setObjectName(QStringLiteral("Lblbackground"));
    txtbackground = new QLineEdit(this);
    txtbackground->setObjectName(QStringLiteral("txtbackground"));
    Lblbackground->setBuddy(txtbackground);

    lblrange = new QLabel(QStringLiteral("Enter Range:"), this);
    lblrange->setObjectName(QStringLiteral("lblrange"));
    txtrange = new QLineEdit(this);
    txtrange->setObjectName(QStringLiteral("txtrange"));
    lblrange->setBuddy(txtrange);

    doneButton = new QPushButton(QStringLiteral("Done"), this);
    doneButton->setObjectName(QStringLiteral("doneButton"));
    doneButton->setDefault(true);
    connect(doneButton, &QPushButton::clicked, this, &QDialog::accept);
    cancelButton = new QPushButton(tr("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setAutoDefault(false);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* grid = new QGridLayout(this);
    grid->addWidget(histogram, 0, 0, 1, 2);
    grid->addWidget(Lblbackground, 1, 0);
    grid->addWidget(txtbackground, 1, 1);
    grid->addWidget(lblrange, 2, 0);
    grid->addWidget(txtrange, 2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancelButton);
    buttons->addWidget(doneButton);
    grid->addLayout(buttons, 3, 0, 1, 2);
    txtbackground->setMinimumWidth(120);

    connect(txtbackground, &QLineEdit::textChanged, this, &ContrastDialog::textsChanged);
    connect(txtrange, &QLineEdit::textChanged, this, &ContrastDialog::textsChanged);
    connect(histogram, &HistogramView::marksDragged, this, &ContrastDialog::marksDragged);
}

void ContrastDialog::setImage(const PixelArray* image, int width, int height) {
    image_ = image;
    width_ = width;
    height_ = height;
}

void ContrastDialog::updateHistogram() {
    // The view spans both marks and the image's samples but its brightest few (a handful
    // of saturated stars would squeeze the sky into one corner), with a little room around.
    const bool hasImage = image_ != nullptr && width_ > 0 && height_ > 0;
    std::int64_t low = std::min(histogram->black(), histogram->white());
    std::int64_t high = std::max(histogram->black(), histogram->white());
    if (hasImage) {
        low = std::min<std::int64_t>(low, sampleExtremes(*image_, width_, height_).low);
        high = std::max<std::int64_t>(high, sampleQuantile(*image_, width_, height_, 0.998));
    }
    const std::int64_t pad = std::max<std::int64_t>((high - low) / 40, 2);
    low -= pad;
    high += pad;
    std::vector<std::uint32_t> counts;
    if (hasImage) {
        const auto l =
            static_cast<std::int32_t>(std::clamp<std::int64_t>(low, INT32_MIN, INT32_MAX));
        const auto hi =
            static_cast<std::int32_t>(std::clamp<std::int64_t>(high, INT32_MIN, INT32_MAX));
        counts = sampleHistogram(*image_, width_, height_, l, hi, histogram->bins());
    }
    histogram->setCounts(std::move(counts), low, high);
}

void ContrastDialog::textsChanged() {
    if (settingTexts_) return;
    const auto background = parseContrastEntry(toUiText(txtbackground->text()));
    const auto range = parseContrastEntry(toUiText(txtrange->text()));
    if (!background || !range || *range == 0) return;  // Done reports what is wrong
    const std::int64_t white = static_cast<std::int64_t>(*background) + *range;
    const bool outside =
        std::min<std::int64_t>(*background, white) < histogram->sampleAt(1) ||
        std::max<std::int64_t>(*background, white) > histogram->sampleAt(histogram->width() - 2);
    histogram->setMarks(*background, white);
    if (outside) updateHistogram();
    if (preview_) preview_(*background, *range);
}

void ContrastDialog::marksDragged(std::int64_t black, std::int64_t white) {
    const std::int64_t range = white - black;
    if (black < INT32_MIN || black > INT32_MAX || range < INT32_MIN || range > INT32_MAX ||
        range == 0)
        return;
    settingTexts_ = true;
    txtbackground->setText(QString::fromStdString(signedText(black)));
    txtrange->setText(QString::fromStdString(signedText(range)));
    settingTexts_ = false;
    if (preview_) preview_(static_cast<std::int32_t>(black), static_cast<std::int32_t>(range));
}

void ContrastDialog::edit(std::string& background, std::string& range) {
    settingTexts_ = true;
    txtbackground->setText(fromUiText(background));
    txtrange->setText(fromUiText(range));
    settingTexts_ = false;
    const auto b = parseContrastEntry(background).value_or(0);
    const auto r = parseContrastEntry(range).value_or(0);
    histogram->setMarks(b, static_cast<std::int64_t>(b) + r);
    updateHistogram();
    txtbackground->setFocus();
    txtbackground->selectAll();
    // Done accepts; Escape, Cancel and the close box reject. Each only hides the dialog.
    if (exec() == QDialog::Accepted) {
        background = toUiText(txtbackground->text());
        range = toUiText(txtrange->text());
    }
}

}  // namespace kyr
