// The window's image exports: the two File I/O items after the bitmap item, and the Qt PNG
// encoder they (and kyrctl) use.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QImage>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

#include "fakes/fakes.h"
#include "gui/main_window.h"
#include "qtio/png_encoder.h"
#include "image/render.h"

namespace kyr::test {
namespace {

// Accepts the save dialog with `name` once its nested event loop runs.
void answerSaveDialog(const QString& name, int triesLeft = 500) {
    QTimer::singleShot(2, [name, triesLeft] {
        auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dlg == nullptr || !dlg->isVisible()) {
            if (triesLeft > 0) answerSaveDialog(name, triesLeft - 1);
            return;
        }
        dlg->selectFile(name);
        static_cast<QDialog*>(dlg)->accept();
    });
}

TEST(ExportMenuTest, FitsAndPngFollowTheBitmapItemAndWriteTheImage) {
    FakeSerialPort port;
    FakeReplyTimer timer;
    FakeClock clock;
    FakeScheduler scheduler;
    MainWindow w(port, timer, clock, scheduler);
    w.show();

    auto* file = w.findChild<QMenu*>(QStringLiteral("fileMenu"));
    ASSERT_NE(file, nullptr);
    QStringList names;
    for (QAction* a : file->actions()) names << a->objectName();
    const auto at = names.indexOf(QStringLiteral("exportBitmap"));
    ASSERT_GE(at, 0);
    ASSERT_GT(names.size(), at + 2);
    EXPECT_EQ(names[at + 1], QStringLiteral("exportFits"));
    EXPECT_EQ(names[at + 2], QStringLiteral("exportPng"));
    EXPECT_EQ(file->actions()[at + 1]->text().remove(QLatin1Char('&')),
              QStringLiteral("Export Image as FITS"));
    EXPECT_EQ(file->actions()[at + 2]->text().remove(QLatin1Char('&')),
              QStringLiteral("Export Image as PNG"));

    Console& con = w.console();
    con.image.imageData.recreate(7, 3);
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 7; ++c)
            con.image.imageData.setCell(c, r, PixelArray::toCell(c * 300 + r * 1000));
    con.image.imageWidth = 7;
    con.image.imageHeight = 3;
    con.display.background = 500;
    con.display.range = 2048;

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    answerSaveDialog(dir.filePath(QStringLiteral("shot")));
    file->actions()[at + 2]->trigger();
    const QImage png(dir.filePath(QStringLiteral("shot.png")));
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.size(), QSize(7, 3));
    const float step = greyStep(2048);
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 7; ++c)
            EXPECT_EQ(qGray(png.pixel(c - 1, r - 1)),
                      greyLevel(con.image.imageData.sample(c, r), 500, step));

    answerSaveDialog(dir.filePath(QStringLiteral("shot")));
    file->actions()[at + 1]->trigger();
    QFile fits(dir.filePath(QStringLiteral("shot.fits")));
    ASSERT_TRUE(fits.open(QIODevice::ReadOnly));
    EXPECT_TRUE(fits.read(30).startsWith("SIMPLE  =                    T"));
    EXPECT_EQ(fits.size() % 2880, 0);
}

TEST(ExportMenuTest, PngEncoderWritesEightBitGreyAndRefusesAnEmptyPicture) {
    QtPngEncoder enc;
    Picture p;
    p.width = 5;  // a width whose scan lines Qt pads
    p.height = 2;
    p.grey = {0, 1, 127, 128, 255, 9, 8, 7, 6, 5};
    const auto bytes = enc.encodePng(p);
    ASSERT_GT(bytes.size(), 8u);
    const QImage img = QImage::fromData(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                                   static_cast<qsizetype>(bytes.size())),
                                        "PNG");
    ASSERT_FALSE(img.isNull());
    EXPECT_TRUE(img.isGrayscale());
    EXPECT_EQ(img.size(), QSize(5, 2));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(qGray(img.pixel(x, y)), p.grey[y * 5 + x]);

    p.width = 0;
    p.grey.clear();
    EXPECT_TRUE(enc.encodePng(p).empty());
    p.width = 3;  // size and grey levels disagree
    p.grey = {1, 2};
    EXPECT_TRUE(enc.encodePng(p).empty());
}

}  // namespace
}  // namespace kyr::test
