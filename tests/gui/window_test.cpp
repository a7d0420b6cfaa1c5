#include "gui/main_window.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

#include "event_wait.h"
#include "fakes/fakes.h"
#include "window_fixture.h"
#include "qtio/host_text.h"
#include "gui/picture_area.h"
#include "link/packet.h"

namespace kyr::test {
namespace {

QString captionOf(QObject* o) {
    if (auto* b = qobject_cast<QAbstractButton*>(o)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(o)) return l->text();
    if (auto* m = qobject_cast<QMenu*>(o)) return m->title().remove(QLatin1Char('&'));
    if (auto* a = qobject_cast<QAction*>(o)) return a->text().remove(QLatin1Char('&'));
    if (auto* t = qobject_cast<QPlainTextEdit*>(o)) return t->toPlainText();
    if (auto* w = qobject_cast<QWidget*>(o)) return w->windowTitle();
    return {};
}

TEST(WindowTest, EveryControlAndMenuItemExistsWithItsCaption) {
    Window win;
    EXPECT_EQ(win.w.windowTitle(), QStringLiteral("KYR Remote Operation Console Version 2.10"));
    const std::vector<std::pair<const char*, const char*>> captions = {
        {"Label10", "PC Message:"},
        {"Label1", "QUOR"},
        {"Label2", "Zodiviziduzo Dudizevazor"},
        {"Label3", "KYR"},
        {"Label4", "Acquire"},
        {"Label5", "Guide"},
        {"Label6", "Process"},
        {"Label7", "Control"},
        {"Label8", "Setup"},
        {"Label9", "Interrupt"},
        {"focusKey", "Focus"},
        {"imageKey", "Image"},
        {"monitorKey", "Monitor"},
        {"turboKey", "Turbo"},
        {"parameterKey", "Parameter"},
        {"setupKey", "Setup"},
        {"valueKey", "Value"},
        {"interruptKey", "Interrupt"},
        {"calibrateKey", "Calibrate"},
        {"trackKey", "Track"},
        {"displayKey", "Display"},
        {"fileOpsKey", "File Ops"},
        {"downKey", " "},
        {"upKey", " "},
        {"rightKey", " "},
        {"leftKey", " "},
        {"fileMenu", "File I/O"},
        {"loadImage", "Load KYR  Frame from Disk"},
        {"saveImage", "Save KYR Frame to Disk in QUOR Format"},
        {"exportBitmap", "Save Displayed Image in Bitmap Format"},
        {"autoSave", "Receive and Automatically Save Images"},
        {"exit", "Exit"},
        {"downloadMenu", "Download"},
        {"downloadScreenImage", "Download Screen Image"},
        {"downloadAll", "Download All"},
        {"abortDownloadAll", "Abort Download All"},
        {"linkMenu", "Link"},
        {"baudMenu", "Set Baud Rate"},
        {"baud9600", "9600 Baud"},
        {"baud19200", "19200 Baud"},
        {"baud38400", "38400 Baud"},
        {"baud57600", "57600 Baud"},
        {"baud115200", "115200 Baud"},
        {"establishLink1", "Establish Link (COM1)"},
        {"establishLink2", "Establish Link (COM2)"},
        {"establishLink3", "Establish Link (COM3)"},
        {"establishLink4", "Establish Link (COM4)"},
        {"establishLink5", "Establish Link (COM5)"},
        {"establishLink6", "Establish Link (COM6)"},
        {"displayMenu", "Display"},
        {"adjustContrast", "Adjust Contrast"},
        {"autoContrast", "Auto Contrast"},
        {"processMenu", "Process"},
        {"flatField", "Flat Field"},
        {"editMenu", "Edit Data"},
        {"note", "Note"},
        {"focalLength", "Focal Length"},
        {"apertureDiameter", "Aperture Diameter"},
        {"unitsMenu", "Units"},
        {"inches", "Inches"},
        {"centimeters", "Centimeters"},
        {"uploadMenu", "Upload"},
        {"uploadFirmware", "Upload New KYR Code at 115 KBaud"},
        {"logMenu", "Log Data"},
        {"captureMenu", "Capture 2x24 Text"},
        {"setCaptureFileName", "Set Text File Name"},
        {"startCapture", "Start Data Capture"},
        {"endCapture", "End Data Capture"},
        {"ContrastDialog", "Adjust Background and Range"},
        {"Lblbackground", "Enter Background:"},
        {"lblrange", "Enter Range:"},
        {"doneButton", "Done"},
    };
    for (const auto& [name, caption] : captions) {
        QObject* o = win.find(name);
        ASSERT_NE(o, nullptr) << name;
        EXPECT_EQ(captionOf(o), QString::fromLatin1(caption)) << name;
        // One object per name, so that a test or a script finds the right one.
        EXPECT_EQ(win.w.findChildren<QObject*>(QLatin1String(name)).size(), 1) << name;
        if (auto* a = qobject_cast<QAction*>(o)) {
            EXPECT_TRUE(a->isEnabled()) << name;
        }
    }
    for (const char* name :
         {"pictureArea", "KYRText", "PCtext", "headertxt", "txtbackground", "txtrange", "Shape1",
          "Shape2", "Shape3", "Shape4", "Shape5", "Shape6", "Shape7", "Line1", "Line2", "Line3",
          "separator1", "separator2", "separator3"}) {
        EXPECT_NE(win.find(name), nullptr) << name;
    }
    EXPECT_TRUE(win.text("KYRText").startsWith(QStringLiteral("KYR Remote Version 2.10\n")));
    EXPECT_EQ(win.text("PCtext"), QStringLiteral(" PC Messages appear here!\n"));
    EXPECT_EQ(win.text("headertxt"), QStringLiteral("Image Information\n"));
    // The mirror's font keeps the 2 x 24 characters in columns.
    EXPECT_TRUE(QFontInfo(win.find<QWidget>("KYRText")->font()).fixedPitch());
    EXPECT_EQ(win.action("exit")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(win.action("downloadScreenImage")->shortcut(), QKeySequence(Qt::Key_F5));
}

QColor faceOf(QWidget* button) {
    const QImage img = button->grab().toImage();
    return img.pixelColor(4, img.height() / 2);
}

TEST(WindowTest, KeysGoToTheDeviceAndItsDisplayComesBack) {
    Window win;
    win.w.start();
    ASSERT_EQ(win.port.openedPorts, std::vector<int>{1});
    EXPECT_EQ(win.port.lastWrite(), (Bytes{165, 9, 2, 0, 176, 0, 1, 0, 1, 0}));
    EXPECT_EQ(win.text("PCtext"), QStringLiteral("Link not established!"));

    QAbstractButton* turbo = win.button("turboKey");
    EXPECT_EQ(faceOf(turbo), QColor(255, 0, 0));
    turbo->click();
    EXPECT_EQ(win.port.lastWrite(), (Bytes{165, 8, 2, 0, 175, 0, 8, 0, 8, 0}));
    EXPECT_EQ(faceOf(turbo), QColor(0, 255, 0));
    win.button("upKey")->click();
    EXPECT_EQ(win.port.lastWrite(), (Bytes{165, 8, 2, 0, 175, 0, 8, 32, 40, 0}));
    EXPECT_EQ(win.text("PCtext"), QStringLiteral("Keypress not acknowledged"));
    turbo->click();
    EXPECT_EQ(faceOf(turbo), QColor(255, 0, 0));
    win.button("leftKey")->click();
    EXPECT_EQ(win.port.lastWrite(), (Bytes{165, 8, 2, 0, 175, 0, 0, 128, 128, 0}));

    // The device's answer and its new display, in one burst.
    const std::string line1 =
        "Focus   Exp  0.10 s  \xB0"
        "C ";
    const std::string line2 = "Star  x 160  y 100  ok ";
    std::string both = line1 + line2;
    both.resize(48, ' ');
    Bytes burst = buildPacket(6, {});
    const Bytes display = buildPacket(9, Bytes(both.begin(), both.end()));
    burst.insert(burst.end(), display.begin(), display.end());
    win.port.receive(burst);
    const QString shown = win.text("KYRText");
    EXPECT_EQ(shown, QString::fromLatin1(both.substr(0, 24)) + QLatin1Char('\n') +
                         QString::fromLatin1(both.substr(24)));
    EXPECT_EQ(shown.indexOf(QChar(0xB0)), 21);  // the degree sign is one character
    EXPECT_EQ(win.text("PCtext"), QStringLiteral("Link Established"));
}

TEST(WindowTest, AnUnexpectedRowDoesNotStopTheHeaderRetries) {
    Window win;
    win.w.start();
    win.port.receive(buildPacket(6, {}));
    win.port.writes.clear();
    win.port.receive(buildPacket(0, {}));          // the device offers its screen image
    win.port.receive(buildPacket(5, Bytes{1, 0, 2, 0}));  // a row nobody asked for
    for (int tick = 0; tick < 4; ++tick) win.w.console().onReplyTimer();
    const Bytes headerRequest{165, 4, 2, 0, 171, 0, 31, 0, 31, 0, 0, 0, 0, 0};
    EXPECT_EQ(win.port.writes, std::vector<Bytes>(4, headerRequest));
    EXPECT_EQ(win.text("PCtext"), QStringLiteral("Communication Failed"));
}

TEST(WindowTest, ExitAndTheCloseBoxTellTheDeviceAndEnd) {
    {
        Window win;
        win.w.start();
        ASSERT_TRUE(win.w.isVisible());
        win.action("exit")->trigger();
        EXPECT_TRUE(win.w.console().terminated());
        EXPECT_EQ(win.port.lastWrite(), (Bytes{165, 9, 2, 0, 176, 0, 0, 0, 0, 0}));
        EXPECT_FALSE(win.port.portOpen());
        EXPECT_FALSE(win.w.isVisible());
        // Nothing more goes out once the console has shut down.
        const auto writes = win.port.writes.size();
        win.button("focusKey")->click();
        EXPECT_EQ(win.port.writes.size(), writes);
    }
    {
        Window win;
        win.w.start();
        win.w.close();
        EXPECT_TRUE(win.w.console().terminated());
        EXPECT_EQ(win.port.lastWrite(), (Bytes{165, 9, 2, 0, 176, 0, 0, 0, 0, 0}));
        EXPECT_EQ(win.port.closeCount, 1);
    }
}

TEST(WindowTest, PictureAreaShowsImagePixelsOneToOneAndReportsMovesInThem) {
    Window win;
    auto* area = win.find<PictureArea>("pictureArea");
    ASSERT_NE(area, nullptr);
    Picture picture;
    for (int y = 0; y < kPictureHeight; ++y)
        for (int x = 0; x < kPictureWidth; ++x)
            picture.grey[static_cast<std::size_t>(y * kPictureWidth + x)] =
                static_cast<std::uint8_t>((x + 3 * y) & 0xFF);
    win.w.showPicture(picture);
    const QImage shown = area->grab().toImage();
    ASSERT_GE(shown.width(), kPictureWidth + 2 * PictureArea::kBorder);
    for (auto [x, y] : {std::pair{0, 0}, {319, 0}, {0, 199}, {319, 199}, {160, 100}, {7, 61}}) {
        const int grey = (x + 3 * y) & 0xFF;
        EXPECT_EQ(shown.pixelColor(x + PictureArea::kBorder, y + PictureArea::kBorder),
                  QColor(grey, grey, grey))
            << x << "," << y;
    }
    // A bitmap that is not whole is not shown.
    Picture broken;
    broken.grey.resize(10);
    win.w.showPicture(broken);
    EXPECT_EQ(qGray(area->image().pixel(160, 100)), (160 + 300) & 0xFF);

    std::vector<std::pair<float, float>> moves;
    area->setMouseMoveHandler([&](float x, float y) { moves.push_back({x, y}); });
    // The screen pixel 63, 53 shows the area's 0-based pixel 61, 51: area pixel 62, 52 as the
    // area numbers them from 1.
    QMouseEvent move(QEvent::MouseMove, QPointF(63, 53), QPointF(63, 53), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(area, &move);
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_FLOAT_EQ(moves[0].first, 62.0f);
    EXPECT_FLOAT_EQ(moves[0].second, 52.0f);
}

TEST(WindowTest, DrawnImageIsReadOutUnderTheMouse) {
    Window win;
    Console& c = win.w.console();
    c.image.imageData.recreate(200, 100);
    c.image.imageWidth = 200;
    c.image.imageHeight = 100;
    c.image.imageData.setCell(1, 1, -2);  // sample 65534
    c.image.imageData.setCell(200, 100, 0);
    c.display.background = 0;
    c.display.range = 65535;
    c.renderImage();
    auto* area = win.find<PictureArea>("pictureArea");
    const QImage shown = area->grab().toImage();
    const int b = PictureArea::kBorder;
    // A 200 x 100 image sits at offsets 60, 50 of the area, one pixel per screen pixel.
    EXPECT_EQ(shown.pixelColor(b + 60, b + 50), QColor(255, 255, 255));
    EXPECT_EQ(shown.pixelColor(b + 259, b + 149), QColor(0, 0, 0));

    const auto moveTo = [&](QWidget* w, double x, double y) {
        QMouseEvent e(QEvent::MouseMove, QPointF(x, y), w->mapToGlobal(QPointF(x, y)), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    };
    // The readout names the pixel drawn under the pointer.
    moveTo(area, b + 60, b + 50);
    EXPECT_EQ(win.text("PCtext"), QStringLiteral("Pixel position ( 1,  1) =  65534"));
    EXPECT_EQ(win.w.cursor().shape(), Qt::CrossCursor);
    moveTo(area, b + 59, b + 50);  // left of column 1
    EXPECT_EQ(win.w.cursor().shape(), Qt::ArrowCursor);
    moveTo(area, b + 259, b + 149);
    EXPECT_EQ(win.text("PCtext"), QStringLiteral("Pixel position ( 200,  100) =  0"));
    EXPECT_EQ(win.w.cursor().shape(), Qt::CrossCursor);
    moveTo(win.w.centralWidget(), 300, 430);  // over the form, outside the controls
    EXPECT_EQ(win.w.cursor().shape(), Qt::ArrowCursor);
}

TEST(WindowTest, PointerProgressAndTheFormsMouseMove) {
    Window win;
    win.w.setMousePointer(MousePointer::Crosshair);
    EXPECT_EQ(win.w.cursor().shape(), Qt::CrossCursor);
    // Moving over the form outside the controls restores the default pointer.
    QWidget* form = win.w.centralWidget();
    QMouseEvent move(QEvent::MouseMove, QPointF(300, 430), QPointF(300, 430), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(form, &move);
    EXPECT_EQ(win.w.cursor().shape(), Qt::ArrowCursor);

    // The progress bar follows the console's outcomes: rows of an image, pages of an upload.
    auto* bar = win.w.findChild<QProgressBar*>(QStringLiteral("progress"));
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->isHidden());
    ConsoleEvents& events = win.w.console().events();
    events.uploadProgress(12, 200);
    EXPECT_FALSE(bar->isHidden());
    EXPECT_EQ(bar->maximum(), 200);
    EXPECT_EQ(bar->value(), 12);
    events.uploadDone();
    EXPECT_TRUE(bar->isHidden());
}

TEST(WindowTest, ModalPromptsMessagesAndTheContrastDialog) {
    Window win;

    whenModal([](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), QStringLiteral("No file was selected"));
        EXPECT_EQ(box->windowTitle(), QStringLiteral("KYR Remote Operation Console Version 2.10"));
        box->button(QMessageBox::Ok)->click();
    });
    win.w.showMessage("No file was selected");

    whenModal([](QWidget* modal) {
        auto* dlg = qobject_cast<QInputDialog*>(modal);
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->labelText(), QStringLiteral("Input focal length in inches"));
        EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Focal Length"));
        EXPECT_EQ(dlg->textValue(), QStringLiteral("0"));
        dlg->setTextValue(QStringLiteral("2000 mm \u00e9"));
        dlg->accept();
    });
    EXPECT_EQ(win.w.prompt("Input focal length in inches", "Focal Length", "0"),
              "2000 mm \xC3\xA9");
    whenModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    EXPECT_EQ(win.w.prompt("Input note (if desired)", "Note", "x"), "");

    // The contrast dialog returns what the user left in the boxes, however it is hidden.
    auto* contrast = win.find<QDialog>("ContrastDialog");
    ASSERT_NE(contrast, nullptr);
    EXPECT_FALSE(contrast->isVisible());
    whenModal([&](QWidget* modal) {
        ASSERT_EQ(modal, contrast);
        auto* bg = childOf<QLineEdit>(*contrast, "txtbackground");
        auto* range = childOf<QLineEdit>(*contrast, "txtrange");
        EXPECT_EQ(bg->text(), QStringLiteral(" 100"));
        EXPECT_EQ(range->text(), QStringLiteral(" 4096"));
        bg->setText(QStringLiteral("250"));
        range->setText(QString());
        childOf<QAbstractButton>(*contrast, "doneButton")->click();
    });
    std::string background = " 100", range = " 4096";
    win.w.showContrastDialog(background, range);
    EXPECT_EQ(background, "250");
    EXPECT_EQ(range, "");
    EXPECT_FALSE(contrast->isVisible());

    // Escape, Cancel and the close box give the old values back.
    range = " 4096";
    whenModal([&](QWidget* modal) {
        childOf<QLineEdit>(*contrast, "txtrange")->setText(QStringLiteral("77"));
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(modal, &esc);
    });
    win.w.showContrastDialog(background, range);
    EXPECT_EQ(background, "250");
    EXPECT_EQ(range, " 4096");
    EXPECT_FALSE(contrast->isVisible());

    whenModal([&](QWidget*) {
        childOf<QLineEdit>(*contrast, "txtrange")->setText(QStringLiteral("77"));
        childOf<QAbstractButton>(*contrast, "cancelButton")->click();
    });
    win.w.showContrastDialog(background, range);
    EXPECT_EQ(range, " 4096");
    whenModal([&](QWidget*) {
        childOf<QLineEdit>(*contrast, "txtrange")->setText(QStringLiteral("77"));
        contrast->close();
    });
    win.w.showContrastDialog(background, range);
    EXPECT_EQ(range, " 4096");
    EXPECT_FALSE(contrast->isVisible());
}

TEST(WindowTest, FileDialogUsesTheRequestedFilterAndReturnsTheNameUnchanged) {
    Window win;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString chosen = dir.filePath(QStringLiteral("night1"));
    FileDialogRequest request;
    request.mode = FileDialogMode::Save;
    request.filter = fileDialogFilterText(FileDialogFilter::Kyr);
    whenModal([&](QWidget* modal) {
        auto* dlg = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dlg->nameFilters(), (QStringList{QStringLiteral("All Files (*)"),
                                                   QStringLiteral("KYR Files (*.KYR *.kyr)")}));
        EXPECT_EQ(dlg->selectedNameFilter(), QStringLiteral("KYR Files (*.KYR *.kyr)"));
        EXPECT_TRUE(dlg->testOption(QFileDialog::DontConfirmOverwrite));
        dlg->selectFile(chosen);
        static_cast<QDialog*>(dlg)->accept();
    });
    EXPECT_EQ(win.w.runFileDialog(request), QFile::encodeName(chosen).toStdString());

    request.mode = FileDialogMode::Open;
    request.filter = fileDialogFilterText(FileDialogFilter::Bin);
    whenModal([&](QWidget* modal) {
        auto* dlg = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(dlg->selectedNameFilter(), QStringLiteral("BIN Files (*.bin *.BIN)"));
        dlg->reject();
    });
    EXPECT_EQ(win.w.runFileDialog(request), "");
}

TEST(HostTextTest, ConsoleTextAndFilters) {
    EXPECT_EQ(fromUiText("Background = 5\r\nRange = 9"),
              QStringLiteral("Background = 5\nRange = 9"));
    EXPECT_EQ(fromUiText("25 \xC2\xB0"
                         "C"),
              QStringLiteral("25 \u00b0C"));
    // Not UTF-8: shown byte by byte rather than as replacement marks.
    EXPECT_EQ(fromUiText("25 \xB0"
                         "C"),
              QStringLiteral("25 \u00b0C"));
    EXPECT_EQ(withoutTimeZone(QStringLiteral("HH:mm:ss t")), QStringLiteral("HH:mm:ss"));
    EXPECT_EQ(withoutTimeZone(QStringLiteral("h:mm:ss AP 'at' t")),
              QStringLiteral("h:mm:ss AP 'at'"));
    EXPECT_EQ(
        qtNameFilters("All Files (*.*)|*.*|BMP Files (*.bmp)|*.bmp"),
        (QStringList{QStringLiteral("All Files (*)"), QStringLiteral("BMP Files (*.bmp *.BMP)")}));
}

}  // namespace
}  // namespace kyr::test
