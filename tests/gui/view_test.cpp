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

TEST(ViewTest, FirstSizeAsDesignedAndALargerWindowGoesToThePictureAndInformation) {
    Window win;
    auto* area = win.find<PictureArea>("pictureArea");
    EXPECT_EQ(win.w.size(), QSize(617, 492));
    EXPECT_EQ(win.w.centralWidget()->size(), QSize(617, 446));
    EXPECT_EQ(area->geometry(), QRect(8, 0, 324, 204));
    EXPECT_EQ(area->zoom(), 1);
    EXPECT_EQ(area->origin(), QPoint(2, 2));
    const char* panel[] = {"focusKey", "parameterKey", "leftKey", "KYRText", "PCtext",
                           "Label1",   "Label5",       "Shape4",  "Line2"};
    std::vector<QRect> before;
    for (const char* name : panel) before.push_back(win.find<QWidget>(name)->geometry());
    const QRect info = win.find<QWidget>("headertxt")->geometry();

    win.w.setHeaderText(imageInformationPanel(ImageHeader{}, 0, 0));  // all 20 lines
    win.w.resize(1400, 1000);
    ASSERT_TRUE(waitFor([&] { return win.w.centralWidget()->width() == 1400; }));
    const int dx = 1400 - 617;
    const int dy = win.w.centralWidget()->height() - 446;
    ASSERT_GT(dy, 400);
    // The front panel keeps its arrangement: the right column and the key panel's halves
    // follow the right and bottom edges.
    const QPoint shift[] = {{0, dy}, {dx, dy}, {dx, dy}, {dx, 0}, {dx, 0},
                            {dx, 0}, {0, dy},  {dx, dy}, {dx, dy}};
    for (std::size_t i = 0; i < std::size(panel); ++i)
        EXPECT_EQ(win.find<QWidget>(panel[i])->geometry(), before[i].translated(shift[i]))
            << panel[i];
    // Image Information shows every line; the picture takes the rest, at least twice.
    auto* infoBox = win.find<QPlainTextEdit>("headertxt");
    EXPECT_EQ(infoBox->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(infoBox->width(), info.width() + dx);
    EXPECT_EQ(area->width(), 324 + dx);
    EXPECT_GE(area->zoom(), 2);
    EXPECT_TRUE(area->fitting());

    win.w.resize(617, 492);
    ASSERT_TRUE(waitFor([&] { return win.w.centralWidget()->width() == 617; }));
    EXPECT_EQ(area->geometry(), QRect(8, 0, 324, 204));
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

TEST(ViewTest, ReadoutNamesThePixelUnderThePointerAtEveryZoomAndAfterAPan) {
    Window win;
    Console& c = win.w.console();
    showGradient(c);  // offsets 60, 50: pixel (100, 50) is the area's 0-based (159, 99)
    auto* area = win.find<PictureArea>("pictureArea");
    const auto readAt = [&](QPointF at) {
        mouse(area, QEvent::MouseMove, at);
        return win.text("PCtext");
    };
    const auto shownGrey = [&](QPointF at) {
        return area->grab().toImage().pixelColor(at.toPoint()).red();
    };
    const std::uint8_t grey = greyLevel(100 + 300 * 50, 0, greyStep(32000));
    for (int zoom : {1, 3, 8}) {
        area->setZoom(zoom);
        const QPoint o = area->origin();
        // Both corners of the pixel's square on screen.
        for (int inside : {0, zoom - 1}) {
            const QPointF at(o.x() + 159 * zoom + inside, o.y() + 99 * zoom + inside);
            EXPECT_EQ(readAt(at), QStringLiteral("Pixel position ( 100,  50) =  15100")) << zoom;
            EXPECT_EQ(field(win, "statusreadout"), QStringLiteral("Pixel 100, 50 = 15100"));
            EXPECT_EQ(shownGrey(at), grey) << zoom;
        }
        EXPECT_EQ(readAt(QPointF(o.x() + 160 * zoom, o.y() + 99 * zoom)),
                  QStringLiteral("Pixel position ( 101,  50) =  15101"));
    }
    // Dragging at zoom 8 moves the picture with the pointer; the readout follows it.
    const QPoint o = area->origin();
    mouse(area, QEvent::MouseButtonPress, QPointF(100, 100), Qt::LeftButton);
    mouse(area, QEvent::MouseMove, QPointF(140, 116), Qt::LeftButton);
    mouse(area, QEvent::MouseButtonRelease, QPointF(140, 116));
    EXPECT_EQ(area->origin(), o + QPoint(40, 16));
    EXPECT_EQ(readAt(QPointF(o.x() + 40 + 159 * 8 + 3, o.y() + 16 + 99 * 8 + 3)),
              QStringLiteral("Pixel position ( 100,  50) =  15100"));
    // The edge of the picture stops a pan.
    area->panBy(QPointF(10000, 10000));
    EXPECT_EQ(area->origin(), QPoint(PictureArea::kBorder, PictureArea::kBorder));

    // Ctrl+wheel zooms about the pointer; Fit goes back to the whole picture.
    area->setZoom(4);
    const QPoint o4 = area->origin();
    const QPointF over(o4.x() + 159 * 4 + 1, o4.y() + 99 * 4 + 1);
    QWheelEvent wheel(over, area->mapToGlobal(over), {}, QPoint(0, 120), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(area, &wheel);
    EXPECT_EQ(area->zoom(), 5);
    EXPECT_EQ(readAt(over), QStringLiteral("Pixel position ( 100,  50) =  15100"));
    win.action("zoomFit")->trigger();
    EXPECT_TRUE(area->fitting());
    EXPECT_EQ(area->zoom(), 1);
    win.action("zoomIn")->trigger();
    EXPECT_EQ(area->zoom(), 2);
    EXPECT_FALSE(win.action("zoomFit")->isChecked());
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
    mouse(area, QEvent::MouseMove, QPointF(156 + PictureArea::kBorder, 98 + PictureArea::kBorder));
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
