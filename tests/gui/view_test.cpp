// The window on a large screen: layout, zoom and pan with the readout, the image arriving
// row by row, the status bar, the keyboard, the contrast dialog's histogram and preview.
#include <gtest/gtest.h>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>

#include "common/format.h"
#include "event_wait.h"
#include "gui/contrast_dialog.h"
#include "gui/picture_area.h"
#include "image/header_parse.h"
#include "image/image_payloads.h"
#include "image/render.h"
#include "link/packet.h"
#include "readout_check.h"
#include "window_fixture.h"

namespace kyr::test {
namespace {

void mouse(QWidget* w, QEvent::Type type, QPointF at, Qt::MouseButtons buttons = Qt::NoButton) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, at, w->mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

QString field(Window& win, const char* name) {
    return win.find<QLabel>(name)->text();
}

// 200 x 100, sample c + 300 r: every pixel tells where it is.
void showGradient(Console& c) {
    c.image.imageData.recreate(200, 100);
    for (int r = 1; r <= 100; ++r)
        for (int col = 1; col <= 200; ++col)
            c.image.imageData.setCell(col, r, PixelArray::toCell(col + 300 * r));
    c.image.imageWidth = 200;
    c.image.imageHeight = 100;
    c.display.background = 0;
    c.display.range = 32000;
    c.renderImage();
}

TEST(ViewTest, ThePictureTakesTheWindowAndTheFrontPanelKeepsItsPlace) {
    Window win;
    auto* area = win.find<PictureArea>("pictureArea");
    QWidget* form = win.w.centralWidget();
    win.w.resize(win.w.minimumSizeHint());  // the smallest: the form at its design size
    ASSERT_TRUE(waitFor([&] { return win.w.size() == win.w.minimumSizeHint(); }));
    drainEvents();
    const QSize first = form->size();
    EXPECT_EQ(first, QSize(617, 446));
    EXPECT_EQ(area->geometry(), QRect(8, 0, 324, 252));
    EXPECT_EQ(area->zoom(), 1);
    EXPECT_EQ(win.find<QLabel>("statuszoom")->text(), QStringLiteral("Fit 1x"));
    // Image Information and Focus are docks left of the form, the panel keeps the right edge.
    for (const char* dock : {"informationDock", "focusDock"})
        EXPECT_LE(win.find<QWidget>(dock)->geometry().right(), form->geometry().left()) << dock;
    const char* panel[] = {"focusKey", "parameterKey", "leftKey", "KYRText", "PCtext",
                           "Label1",   "Label5",       "Shape4",  "Line2"};
    std::vector<QRect> before;
    for (const char* name : panel) before.push_back(win.find<QWidget>(name)->geometry());

    // A header arriving moves nothing.
    win.w.setHeaderText(imageInformationPanel(ImageHeader{}, 0, 0));
    drainEvents();
    EXPECT_EQ(area->geometry(), QRect(8, 0, 324, 252));

    win.w.resize(1400, 1000);
    ASSERT_TRUE(waitFor([&] { return win.w.width() == 1400; }));
    drainEvents();
    const int dx = form->width() - first.width();
    const int dy = form->height() - first.height();
    ASSERT_GT(dy, 400);
    // The front panel keeps its arrangement: the right column and the key panel's halves
    // follow the right and bottom edges.
    const QPoint shift[] = {{0, dy}, {dx, dy}, {dx, dy}, {dx, 0}, {dx, 0},
                            {dx, 0}, {0, dy},  {dx, dy}, {dx, dy}};
    for (std::size_t i = 0; i < std::size(panel); ++i)
        EXPECT_EQ(win.find<QWidget>(panel[i])->geometry(), before[i].translated(shift[i]))
            << panel[i];
    EXPECT_EQ(area->size(), QSize(324 + dx, 252 + dy));
    EXPECT_EQ(form->geometry().right(), win.w.width() - 1);
    // A 320 x 200 image is drawn at least 900 pixels wide, every pixel a sharp square.
    Picture white;
    white.grey.assign(white.grey.size(), 255);
    win.w.showPicture(white);
    const QImage shown = area->grab().toImage();
    int drawn = 0;
    for (int x = 0; x < shown.width(); ++x) drawn += qGray(shown.pixel(x, shown.height() / 2)) == 255;
    EXPECT_GE(drawn, 900);
    EXPECT_TRUE(area->fitting());
    EXPECT_NEAR(area->zoom() * kPictureWidth, drawn, 1.0);
    EXPECT_EQ(win.find<QLabel>("statuszoom")->text(),
              QStringLiteral("Fit %1x").arg(area->zoom(), 0, 'f', 1));

    win.w.resize(win.w.minimumSizeHint());
    ASSERT_TRUE(waitFor([&] { return form->width() == first.width(); }));
    drainEvents();
    EXPECT_EQ(area->geometry(), QRect(8, 0, 324, 252));
    EXPECT_EQ(area->zoom(), 1);
    for (std::size_t i = 0; i < std::size(panel); ++i)
        EXPECT_EQ(win.find<QWidget>(panel[i])->geometry(), before[i]) << panel[i];
    // The View menu stands after Display.
    const auto menus = win.w.menuBar()->actions();
    const auto at = [&](const char* title) {
        for (int i = 0; i < menus.size(); ++i)
            if (menus[i]->text().remove(QLatin1Char('&')) == QLatin1String(title)) return i;
        return -1;
    };
    EXPECT_EQ(at("View"), at("Display") + 1);
}

TEST(ViewTest, ReadoutNamesThePixelDrawnUnderThePointerAtEveryZoomPanAndZoomStep) {
    Window win;
    Console& c = win.w.console();
    showDistinctGreys(c);  // offsets 60, 50
    auto* area = win.find<PictureArea>("pictureArea");
    for (double zoom : {1.0, 2.5, 3.0, 3.3, 8.0}) {
        area->setZoom(zoom);
        // Across the middle of the area, and down it: every screen pixel.
        const int y = area->height() / 2, x = area->width() / 2;
        EXPECT_GT(expectReadoutAsDrawn(win, area, {3, y}, {area->width() - 4, y}), 100) << zoom;
        EXPECT_GT(expectReadoutAsDrawn(win, area, {x, 3}, {x, area->height() - 4}), 60) << zoom;
    }
    EXPECT_EQ(win.text("PCtext").left(16), QStringLiteral("Pixel position ("));

    // Dragging at zoom 8 moves the picture with the pointer; the readout follows it.
    const QPointF o = area->origin();
    mouse(area, QEvent::MouseButtonPress, QPointF(100, 100), Qt::LeftButton);
    mouse(area, QEvent::MouseMove, QPointF(140, 116), Qt::LeftButton);
    mouse(area, QEvent::MouseButtonRelease, QPointF(140, 116));
    EXPECT_EQ(area->origin(), o + QPointF(40, 16));
    // The pointer did not move, the picture under it did: the readout is the new pixel's.
    area->panBy(QPointF(-37, -21));
    EXPECT_EQ(readoutSample(win) / 256, qGray(area->grab().toImage().pixel(140, 116)));
    // The edge of the picture stops a pan.
    area->panBy(QPointF(10000, 10000));
    EXPECT_EQ(area->origin(), QPointF(PictureArea::kBorder, PictureArea::kBorder));

    // Ctrl+wheel and Ctrl++ zoom about the pointer: the pixel under it stays under it and
    // is read out without a move.
    area->fit();  // about the picture's centre again
    area->setZoom(4);
    const QPointF over(area->width() / 2 + 3, area->height() / 2 - 5);
    movePointer(area, over);
    const QPoint under = area->areaPixelAt(over);
    const QString read = win.find<QLabel>("statusreadout")->text();
    EXPECT_TRUE(read.startsWith(QStringLiteral("Pixel %1, %2 = ").arg(under.x() - 60).arg(under.y() - 50)));
    QWheelEvent wheel(over, area->mapToGlobal(over), {}, QPoint(0, 120), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(area, &wheel);
    EXPECT_EQ(area->zoom(), 5);
    EXPECT_EQ(area->areaPixelAt(over), under);
    win.action("zoomIn")->trigger();
    EXPECT_EQ(area->zoom(), 6);
    EXPECT_EQ(area->areaPixelAt(over), under);
    EXPECT_EQ(win.find<QLabel>("statusreadout")->text(), read);
    area->panBy(QPointF(-13, 0));  // another pixel comes under the pointer
    EXPECT_NE(area->areaPixelAt(over), under);
    EXPECT_EQ(readoutSample(win) / 256, qGray(area->grab().toImage().pixel(over.toPoint())));

    win.action("zoomFit")->trigger();
    EXPECT_TRUE(area->fitting());
    EXPECT_EQ(area->zoom(), 1);
    EXPECT_EQ(win.find<QLabel>("statuszoom")->text(), QStringLiteral("Fit 1x"));
    area->setZoom(3.3);
    EXPECT_EQ(win.find<QLabel>("statuszoom")->text(), QStringLiteral("3.3x"));
    EXPECT_FALSE(win.action("zoomFit")->isChecked());
    EXPECT_EQ(PictureArea::nextZoomUp(3.3), 4);
    EXPECT_EQ(PictureArea::nextZoomDown(3.3), 3);
    EXPECT_EQ(PictureArea::nextZoomDown(1), 0.5);
    EXPECT_EQ(PictureArea::nextZoomUp(0.3), 0.5);
}

TEST(ViewTest, ImageIsDrawnRowByRowAsItArrivesWithTheProgressBar) {
    Window win;
    win.w.start();
    win.port.receive(buildPacket(6, {}));
    HeaderFields f;
    f.width = 8;
    f.height = 4;  // at area offsets 156, 98
    auto* bar = win.find<QProgressBar>("progress");
    auto* area = win.find<PictureArea>("pictureArea");
    // The pointer waits where the image's first pixel will be.
    drainEvents();  // the window laid out
    mouse(area, QEvent::MouseMove, area->origin() + QPointF(156, 98));
    win.action("downloadScreenImage")->trigger();
    win.port.receive(buildPacket(4, headerPayload(f)));
    EXPECT_FALSE(bar->isHidden());
    EXPECT_EQ(bar->maximum(), 4);
    EXPECT_EQ(bar->text(), QStringLiteral("Row 0 of 4"));
    const auto greyAt = [&](int x, int y) { return qGray(area->image().pixel(x, y)); };
    win.port.receive(buildPacket(5, rawPayload(std::vector<std::uint16_t>(8, 1256))));
    drainEvents();  // drawn once the next row is asked for
    EXPECT_EQ(bar->value(), 1);
    EXPECT_EQ(greyAt(156, 98), 128);  // background 1000, range 512 from the header
    EXPECT_EQ(greyAt(163, 98), 128);
    EXPECT_EQ(greyAt(156, 99), 0);  // not yet arrived
    for (std::uint16_t s : {1100, 1200, 1512})
        win.port.receive(buildPacket(5, rawPayload(std::vector<std::uint16_t>(8, s))));
    EXPECT_TRUE(bar->isHidden());
    EXPECT_EQ(greyAt(160, 101), 255);
    EXPECT_EQ(field(win, "statusreadout"), QStringLiteral("Pixel 1, 1 = 1256"));
    Picture shown(win.w.console().display.picture);
    for (int y = 0; y < kPictureHeight; ++y)
        for (int x = 0; x < kPictureWidth; ++x) ASSERT_EQ(greyAt(x, y), shown.at(x, y));

    // Download All: which image of how many.
    ConsoleEvents& events = win.w.console().events();
    events.downloadAllStarted(3);
    events.headerAccepted(5, win.w.console().header);
    EXPECT_EQ(bar->text(), QStringLiteral("Image 1 of 3: row 0 of 4"));
    events.imageComplete(5);
    EXPECT_FALSE(bar->isHidden());
    events.headerAccepted(6, win.w.console().header);
    EXPECT_EQ(bar->text(), QStringLiteral("Image 2 of 3: row 0 of 4"));
    events.downloadAllFinished(2);
    EXPECT_TRUE(bar->isHidden());
}

TEST(ViewTest, StatusBarShowsPortSpeedLinkUnitsSavingAndCapture) {
    Window win;
    win.w.setPortNames([](int n) { return n == 1 ? std::string("/dev/ttyUSB0") : std::string(); });
    win.w.start();
    EXPECT_EQ(field(win, "statusport"), QStringLiteral("COM1: /dev/ttyUSB0"));
    EXPECT_EQ(field(win, "statusline"), QStringLiteral("115200,N,8,2"));
    EXPECT_EQ(field(win, "statuslink"), QStringLiteral("Not linked"));
    EXPECT_EQ(field(win, "statusunits"), QStringLiteral("Inches"));
    EXPECT_EQ(field(win, "statussave"), QStringLiteral("Auto-save off"));
    EXPECT_TRUE(win.action("baud115200")->isChecked());
    EXPECT_TRUE(win.action("inches")->isChecked());
    win.port.receive(buildPacket(6, {}));
    EXPECT_EQ(field(win, "statuslink"), QStringLiteral("Linked"));

    win.action("baud9600")->trigger();
    EXPECT_EQ(field(win, "statusline"), QStringLiteral("9600,N,8,1"));
    EXPECT_TRUE(win.action("baud9600")->isChecked());
    EXPECT_FALSE(win.action("baud115200")->isChecked());
    win.action("centimeters")->trigger();
    EXPECT_EQ(field(win, "statusunits"), QStringLiteral("Centimeters"));
    EXPECT_TRUE(win.action("centimeters")->isChecked());
    EXPECT_FALSE(win.action("inches")->isChecked());

    win.port.loseDevice();
    EXPECT_EQ(field(win, "statuslink"), QStringLiteral("Link lost"));
    win.action("establishLink3")->trigger();  // no COM3 on this machine
    EXPECT_EQ(field(win, "statusport"), QStringLiteral("COM3"));
    EXPECT_EQ(field(win, "statuslink"), QStringLiteral("Port not open"));
    win.action("establishLink1")->trigger();
    EXPECT_EQ(field(win, "statuslink"), QStringLiteral("Not linked"));
    EXPECT_EQ(field(win, "statusline"), QStringLiteral("9600,N,8,2"));

    Console& c = win.w.console();
    c.files.autoSaveOn = true;
    c.files.autoSaveNumber = 7;
    c.capture.captureActive = true;
    c.capture.captureRecordNumber = 12;
    c.events().captureRecord(12);
    c.events().fileWritten(FileKind::Image, "night006.KYR");
    EXPECT_EQ(field(win, "statussave"), QStringLiteral("Auto-save on, next 007"));
    EXPECT_EQ(field(win, "statuscapture"), QStringLiteral("Capture: 12 records"));
    EXPECT_FALSE(win.find<QLabel>("statuscapture")->isHidden());
}

TEST(ViewTest, ArrowKeysPressTheDeviceArrowsAndSpacePressesNothing) {
    Window win;
    win.w.start();
    win.w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&win.w));
    for (auto* b : win.w.centralWidget()->findChildren<QAbstractButton*>())
        EXPECT_EQ(b->focusPolicy(), Qt::NoFocus) << b->objectName().toStdString();

    QTest::keyClick(&win.w, Qt::Key_Up);
    EXPECT_EQ(win.port.lastWrite(), (Bytes{165, 8, 2, 0, 175, 0, 0, 32, 32, 0}));
    QTest::keyClick(&win.w, Qt::Key_Down);
    EXPECT_EQ(win.port.lastWrite(), (Bytes{165, 8, 2, 0, 175, 0, 0, 16, 16, 0}));
    win.button("turboKey")->click();
    QTest::keyClick(&win.w, Qt::Key_Left);
    EXPECT_EQ(win.port.lastWrite(), (Bytes{165, 8, 2, 0, 175, 0, 8, 128, 136, 0}));
    QTest::keyClick(&win.w, Qt::Key_Right);
    EXPECT_EQ(win.port.lastWrite(), (Bytes{165, 8, 2, 0, 175, 0, 8, 64, 72, 0}));

    const auto writes = win.port.writes.size();
    for (Qt::Key k : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &win.w;
        QTest::keyClick(target, k);
    }
    EXPECT_EQ(win.port.writes.size(), writes);
}

TEST(ViewTest, ContrastHistogramPreviewsAndCancelRestores) {
    Window win;
    Console& c = win.w.console();
    showGradient(c);
    c.display.background = 1000;
    c.display.range = 512;
    c.renderImage();
    const Picture before = c.display.picture;
    auto* area = win.find<PictureArea>("pictureArea");
    auto* dlg = win.find<ContrastDialog>("ContrastDialog");
    const auto greyAt = [&](int x, int y) { return qGray(area->image().pixel(x, y)); };
    // Pixel (100, 3) holds 1000: black at background 1000, shown at 0-based (159, 52).
    whenModal([&](QWidget*) {
        EXPECT_EQ(dlg->histogram->black(), 1000);
        EXPECT_EQ(dlg->histogram->white(), 1512);
        EXPECT_EQ(greyAt(159, 52), 0);
        dlg->txtbackground->setText(QStringLiteral("744"));  // shown at once
        EXPECT_EQ(greyAt(159, 52), 128);
        EXPECT_EQ(c.display.background, 1000);  // nothing is kept yet
        // Dragging the white mark sets the range; the black one stays.
        HistogramView* h = dlg->histogram;
        mouse(h, QEvent::MouseButtonPress, QPointF(h->xOf(1256), 50), Qt::LeftButton);
        mouse(h, QEvent::MouseMove, QPointF(h->xOf(2000), 50), Qt::LeftButton);
        mouse(h, QEvent::MouseButtonRelease, QPointF(h->xOf(2000), 50));
        EXPECT_EQ(dlg->txtbackground->text(), QStringLiteral(" 744"));
        EXPECT_EQ(dlg->txtrange->text(), QString::fromStdString(signedText(h->white() - 744)));
        EXPECT_NEAR(static_cast<double>(h->white()), 2000.0, 30.0);
        dlg->cancelButton->click();
    });
    win.action("adjustContrast")->trigger();
    EXPECT_EQ(c.display.background, 1000);
    EXPECT_EQ(c.display.range, 512);
    EXPECT_EQ(greyAt(159, 52), 0);  // the preview is gone
    EXPECT_EQ(c.display.picture, before);

    whenModal([&](QWidget*) {
        dlg->txtbackground->setText(QStringLiteral("744"));
        dlg->doneButton->click();
    });
    win.action("adjustContrast")->trigger();
    EXPECT_EQ(c.display.background, 744);
    EXPECT_EQ(greyAt(159, 52), 128);
}

TEST(ViewTest, StretchesChangeTheGreysOnlyAndPromptsShowTheirWholeDefault) {
    Window win;
    Console& c = win.w.console();
    showGradient(c);
    c.display.background = 1000;
    c.display.range = 512;
    c.renderImage();
    const PixelArray samples = c.image.imageData;
    auto* area = win.find<PictureArea>("pictureArea");
    // Pixel (156, 3) holds 1056, t = 0.109: linear 28, sqrt 84.7, asinh 80.8 (of 256).
    const auto greyAt = [&] { return qGray(area->image().pixel(215, 52)); };
    EXPECT_EQ(greyAt(), 28);
    win.action("stretchSqrt")->trigger();
    EXPECT_EQ(greyAt(), 85);
    win.action("stretchAsinh")->trigger();
    EXPECT_EQ(greyAt(), 81);
    EXPECT_EQ(c.image.imageData, samples);
    EXPECT_EQ(c.display.picture.at(215, 52), 81);  // the bitmap export takes what is shown
    win.action("stretchLinear")->trigger();
    EXPECT_EQ(greyAt(), 28);

    whenModal([](QWidget* modal) {
        auto* dlg = qobject_cast<QInputDialog*>(modal);
        ASSERT_NE(dlg, nullptr);
        auto* edit = dlg->findChild<QLineEdit*>();
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->text(), QStringLiteral("Enter configuration and observer info here!"));
        EXPECT_GT(edit->width(), edit->fontMetrics().horizontalAdvance(edit->text()) + 10);
        dlg->reject();
    });
    win.action("note")->trigger();
}

}  // namespace
}  // namespace kyr::test
