// The focus panel on a locked star, the statistics of a dragged box, FITS files opened from
// File I/O (good and bad ones), and Auto Contrast under the stretches.
#include <gtest/gtest.h>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <fstream>

#include "event_wait.h"
#include "files/fits_export.h"
#include "gui/focus_panel.h"
#include "gui/picture_area.h"
#include "image/image_stats.h"
#include "image/stretch_contrast.h"
#include "readout_check.h"
#include "window_fixture.h"

namespace kyr::test {
namespace {

// Sky of 1000 with a fixed ripple of +-10, and Gaussian stars (column, row, peak, sigma).
struct Star {
    double column, row, peak, sigma;
};
PixelArray starField(int w, int h, const std::vector<Star>& stars) {
    PixelArray img(w, h);
    for (int r = 1; r <= h; ++r)
        for (int c = 1; c <= w; ++c) {
            double v = 1000 + (7 * c + 13 * r) % 21 - 10;
            for (const Star& s : stars) {
                const double d2 = (c - s.column) * (c - s.column) + (r - s.row) * (r - s.row);
                v += s.peak * std::exp(-d2 / (2 * s.sigma * s.sigma));
            }
            img.setCell(c, r, PixelArray::toCell(std::min(65535, static_cast<int>(v))));
        }
    return img;
}

void show(Console& c, PixelArray img, int w, int h) {
    c.image.imageData = std::move(img);
    c.image.imageWidth = static_cast<std::int16_t>(w);
    c.image.imageHeight = static_cast<std::int16_t>(h);
    c.display.background = 900;
    c.display.range = 4000;
    c.renderImage();
    c.events().imageComplete(31);
}

// Where image pixel (column, row) is drawn: the middle of its square.
QPointF screenOf(Window& win, int column, int row) {
    auto* area = win.find<PictureArea>("pictureArea");
    const DisplaySettings& d = win.w.console().display;
    return area->origin() + QPointF((column + d.displayOffsetX - 0.5) * area->zoom(),
                                    (row + d.displayOffsetY - 0.5) * area->zoom());
}

void press(QWidget* w, QEvent::Type type, QPointF at, Qt::KeyboardModifiers mods = {}) {
    QMouseEvent e(type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, mods);
    QApplication::sendEvent(w, &e);
}
void click(QWidget* w, QPointF at) {
    press(w, QEvent::MouseButtonPress, at);
    press(w, QEvent::MouseButtonRelease, at);
}

QString label(Window& win, const char* name) {
    return win.find<QLabel>(name)->text();
}

TEST(FocusPanelTest, AClickLocksTheStarWhichIsFollowedAndGraphedAndABoxHasStatistics) {
    Window win;
    Console& c = win.w.console();
    auto* area = win.find<PictureArea>("pictureArea");
    auto* panel = win.find<FocusPanel>("focusPanel");
    show(c, starField(320, 200, {{100, 60, 20000, 2.0}, {250, 150, 30000, 1.5}}), 320, 200);

    // A click a few pixels off the star locks on it.
    click(area, screenOf(win, 103, 58));
    ASSERT_TRUE(panel->locked());
    EXPECT_EQ(*panel->locked(), QPoint(100, 60));
    EXPECT_EQ(label(win, "focusPosition"), QStringLiteral("100, 60"));
    EXPECT_EQ(label(win, "focusPeak").toInt(), c.image.imageData.sample(100, 60));
    // A Gaussian's FWHM is 2.355 sigma.
    EXPECT_NEAR(label(win, "focusFwhm").section(QLatin1Char(' '), 0, 0).toDouble(), 4.71, 0.3);
    const double firstHfd = label(win, "focusHfd").section(QLatin1Char(' '), 0, 0).toDouble();
    EXPECT_GT(firstHfd, 3);
    EXPECT_TRUE(win.find<QLabel>("focusSaturated")->isHidden());

    // The next images: the star drifts and sharpens, then blurs; the lock follows it and the
    // graph keeps each HFD with the best one marked.
    show(c, starField(320, 200, {{103, 62, 30000, 1.2}, {250, 150, 30000, 1.5}}), 320, 200);
    EXPECT_EQ(*panel->locked(), QPoint(103, 62));
    show(c, starField(320, 200, {{105, 63, 15000, 2.5}, {250, 150, 30000, 1.5}}), 320, 200);
    EXPECT_EQ(*panel->locked(), QPoint(105, 63));
    ASSERT_EQ(panel->history().size(), 3u);
    EXPECT_EQ(panel->history().bestIndex(), 1u);
    EXPECT_LT(panel->history()[1], firstHfd);
    EXPECT_TRUE(label(win, "focusBest").endsWith(QStringLiteral("(image 2 of 3)")));
    // The mark on the picture: a green square around the star.
    const QImage shown = area->grab().toImage();
    const QPoint star = screenOf(win, 105, 63).toPoint();
    for (QPoint side : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
        int green = 0;  // the square's side 10 pixels out, give or take one
        for (int d = 9; d <= 11; ++d) green += shown.pixelColor(star + side * d) == QColor(0, 255, 0);
        EXPECT_GE(green, 1);
    }

    // A star at the limit of its source (an opened 12-bit file here) is flagged.
    c.image.saturationLimit = 4095;
    show(c, starField(320, 200, {{105, 63, 3090, 1.5}}), 320, 200);
    EXPECT_FALSE(win.find<QLabel>("focusSaturated")->isHidden());

    // The star gone: the lock stays where it was and says so; Unlock lets it go.
    show(c, starField(320, 200, {}), 320, 200);
    EXPECT_EQ(*panel->locked(), QPoint(105, 63));
    EXPECT_TRUE(label(win, "focusTitle").startsWith(QStringLiteral("Star lost")));
    win.find<QAbstractButton>("focusUnlock")->click();
    EXPECT_FALSE(panel->locked());
    EXPECT_TRUE(panel->history().empty());

    // Statistics of the image, then of a box dragged with Shift from (40, 45) to (59, 54).
    show(c, starField(200, 100, {{50, 50, 20000, 2.0}}), 200, 100);
    const auto statsText = [](const ImageStats& s) {
        return QStringLiteral("Min %1   Max %2\nMean %3\nMedian %4\nSigma %5")
            .arg(s.min).arg(s.max).arg(s.mean, 0, 'f', 1).arg(s.median, 0, 'f', 1).arg(s.sigma, 0, 'f', 1);
    };
    EXPECT_EQ(label(win, "statsValues"), statsText(imageStats(c.image.imageData, 200, 100)));
    press(area, QEvent::MouseButtonPress, screenOf(win, 40, 45), Qt::ShiftModifier);
    press(area, QEvent::MouseMove, screenOf(win, 59, 54), Qt::ShiftModifier);
    press(area, QEvent::MouseButtonRelease, screenOf(win, 59, 54), Qt::ShiftModifier);
    EXPECT_EQ(label(win, "statsTitle"), QStringLiteral("Statistics of the box 20 x 10 at 40, 45:"));
    EXPECT_EQ(label(win, "statsValues"),
              statsText(imageStats(c.image.imageData, 200, 100, ImageBox{40, 45, 20, 10})));
    EXPECT_EQ(area->box(), QRect(100, 95, 20, 10));  // offsets 60, 50
    click(area, screenOf(win, 10, 10));  // a click clears it
    EXPECT_TRUE(area->box().isEmpty());
    EXPECT_EQ(label(win, "statsValues"), statsText(imageStats(c.image.imageData, 200, 100)));
}

// ---------------------------------------------------------------- FITS files

// A FITS file as this console's export writes it; `foreign`: as if another program had (its
// CREATOR card says so).
std::vector<std::uint8_t> fitsOf(const PixelArray& img, int w, int h, bool foreign) {
    ImageHeader header;
    header.hdrExposure = 250;
    auto bytes = encodeFits(header, img, w, h).bytes;
    const std::string mark = kFitsCreator;
    if (foreign)
        std::copy_n("XYZ", 3, std::search(bytes.begin(), bytes.end(), mark.begin(), mark.end()));
    return bytes;
}

QString writeFile(const QTemporaryDir& dir, const char* name, const std::vector<std::uint8_t>& bytes) {
    const QString path = dir.filePath(QLatin1String(name));
    std::ofstream(path.toStdString(), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// Answers the next modal dialogs in turn: a file dialog with a name, a message box by reading
// its text.
void chooseFile(const QString& path) {
    whenModal([path](QWidget* modal) {
        auto* dlg = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dlg, nullptr);
        dlg->selectFile(path);
        static_cast<QDialog*>(dlg)->accept();
    });
}
void readMessage(QString& text) {
    whenModal([&text](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        text = box->text();
        box->accept();
    });
}

TEST(FitsOpenTest, AFitsFileIsShownWholeReadOutAndMeasuredABadOneChangesNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Window win;
    win.w.resize(1400, 1000);
    ASSERT_TRUE(waitFor([&] { return win.w.width() == 1400; }));
    drainEvents();
    Console& c = win.w.console();
    auto* area = win.find<PictureArea>("pictureArea");
    // 640 x 400: larger than the device's area, shown whole.
    const PixelArray pixels = starField(640, 400, {{500, 300, 20000, 2.0}});
    const QString good = writeFile(dir, "m42.fits", fitsOf(pixels, 640, 400, true));
    chooseFile(good);
    win.action("openFits")->trigger();
    ASSERT_EQ(c.image.imageWidth, 640);
    EXPECT_EQ(c.image.imageData, pixels);
    EXPECT_EQ(area->image().size(), QSize(640, 400));
    EXPECT_TRUE(win.text("headertxt").startsWith(QStringLiteral("FITS Image\n") + good));
    EXPECT_EQ(win.action("recent1")->data().toString(), good);
    // Auto contrast for the stretch in use (linear: the histogram rule).
    EXPECT_EQ(c.display.background, autoContrast(pixels, 640, 400).background);
    // Read out and measured like a downloaded image.
    movePointer(area, screenOf(win, 500, 300));
    EXPECT_EQ(win.find<QLabel>("statusreadout")->text(),
              QStringLiteral("Pixel 500, 300 = %1").arg(pixels.sample(500, 300)));
    click(area, screenOf(win, 501, 299));
    EXPECT_EQ(*win.find<FocusPanel>("focusPanel")->locked(), QPoint(500, 300));

    // It came from elsewhere: it has no .KYR header and is not saved as one.
    QString message;
    chooseFile(dir.filePath(QStringLiteral("m42copy")));
    readMessage(message);
    win.action("saveImage")->trigger();
    EXPECT_EQ(message, QString::fromLatin1(kForeignFitsNotKyr));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("m42copy.KYR"))));

    // Bad files: a message that says why, and the image, picture and panel stay.
    const Picture before = c.display.picture;
    const QString panel = win.text("headertxt");
    auto bytes = fitsOf(pixels, 640, 400, true);
    bytes.resize(bytes.size() / 2);
    const QString cut = writeFile(dir, "cut.fits", bytes);
    const QString text = writeFile(dir, "notes.fits", std::vector<std::uint8_t>(100, 'x'));
    for (const QString& bad : {cut, text}) {
        readMessage(message);
        win.w.openFile(bad);
        EXPECT_TRUE(message.startsWith(bad + QStringLiteral(" cannot be opened: "))) << message.toStdString();
        EXPECT_EQ(c.image.imageData, pixels);
        EXPECT_EQ(c.display.picture, before);
        EXPECT_EQ(win.text("headertxt"), panel);
        EXPECT_EQ(win.action("recent1")->data().toString(), good);
    }

    // The console's own export opens with its header and saves as .KYR again.
    const PixelArray small = starField(120, 80, {{60, 40, 9000, 1.8}});
    win.w.openFile(writeFile(dir, "own.fits", fitsOf(small, 120, 80, false)));
    EXPECT_EQ(c.image.imageData, small);
    EXPECT_FALSE(c.image.fromForeignFits);
    EXPECT_EQ(area->image().size(), QSize(320, 200));
    chooseFile(dir.filePath(QStringLiteral("own")));
    win.action("saveImage")->trigger();
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("own.KYR"))));
}

TEST(AutoContrastTest, TheMenuItemPutsBlackAtTheSkyForTheCurvesAndKeepsTheRuleForLinear) {
    Window win;
    Console& c = win.w.console();
    // 80 stars of many brightnesses on the sky, as the device's images have them.
    std::vector<Star> stars;
    for (int k = 0; k < 80; ++k)
        stars.push_back({10.0 + (k * 37) % 300, 10.0 + (k * 53) % 180, 1500.0 + (k * 7919) % 28000, 1.5});
    const PixelArray sky = starField(320, 200, stars);
    show(c, sky, 320, 200);
    // The sky's grey: of its middle sample, at the median.
    const SkyLevel level = [&] {
        SampleCounts counts;
        counts.addBox(sky, 320, 200, {1, 1, 320, 200});
        return skyLevel(counts);
    }();
    const auto skyGrey = [&] {
        return stretchGrey(static_cast<std::int32_t>(level.median), c.display.background,
                           c.display.range, c.display.stretch);
    };
    win.action("autoContrast")->trigger();
    const Contrast linear = autoContrast(sky, 320, 200);
    EXPECT_EQ(c.display.background, linear.background);
    EXPECT_EQ(c.display.range, linear.range);
    for (const char* stretch : {"stretchSqrt", "stretchLog", "stretchAsinh"}) {
        win.action(stretch)->trigger();
        win.action("autoContrast")->trigger();
        const Contrast fitted = autoContrastFor(sky, 320, 200, c.display.stretch);
        EXPECT_EQ(c.display.background, fitted.background) << stretch;
        EXPECT_EQ(c.display.range, fitted.range) << stretch;
        // The sky stays dark; with the linear rule's limits these curves made it mid-grey.
        EXPECT_LT(skyGrey(), 60) << stretch;
        EXPECT_GT(stretchGrey(static_cast<std::int32_t>(level.median), linear.background,
                              linear.range, c.display.stretch),
                  60)
            << stretch;
    }
}

}  // namespace
}  // namespace kyr::test
