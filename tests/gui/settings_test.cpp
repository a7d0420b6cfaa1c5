// What the window remembers between runs, and the small things a new observer meets first:
// the hint in the empty picture, readable labels, dialog titles, menu mnemonics, shortcuts.
#include <gtest/gtest.h>
#include <QDockWidget>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <map>

#include "event_wait.h"
#include "gui/picture_area.h"
#include "window_fixture.h"

namespace kyr::test {
namespace {

TEST(SettingsTest, GeometryDocksZoomStretchFoldersAndRecentFilesComeBack) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ini = dir.filePath(QStringLiteral("kyr-console.conf"));
    const QString kyr = dir.filePath(QStringLiteral("m42.KYR"));
    {
        QSettings settings(ini, QSettings::IniFormat);
        Window win;
        win.w.useSettings(&settings);
        // A first run opens large (within the screen), not at the form's design size.
        EXPECT_GT(win.w.width(), 700);
        win.w.resize(1000, 700);
        ASSERT_TRUE(waitFor([&] { return win.w.width() == 1000; }));
        win.find<QDockWidget>("focusDock")->hide();
        win.find<PictureArea>("pictureArea")->setZoom(3.3);
        win.action("stretchAsinh")->trigger();
        win.w.console().events().fileLoaded(kyr.toStdString());
        FileDialogRequest request;
        request.mode = FileDialogMode::Save;
        request.filter = fileDialogFilterText(FileDialogFilter::Fits);
        whenModal([&](QWidget* modal) {
            auto* dlg = qobject_cast<QFileDialog*>(modal);
            dlg->selectFile(dir.filePath(QStringLiteral("sub.fits")));
            static_cast<QDialog*>(dlg)->accept();
        });
        win.w.runFileDialog(request);
        win.w.close();
    }
    QSettings settings(ini, QSettings::IniFormat);
    Window win;
    win.w.useSettings(&settings);
    EXPECT_EQ(win.w.size(), QSize(1000, 700));
    EXPECT_TRUE(win.find<QDockWidget>("focusDock")->isHidden());
    EXPECT_FALSE(win.find<QDockWidget>("informationDock")->isHidden());
    auto* area = win.find<PictureArea>("pictureArea");
    EXPECT_FALSE(area->fitting());
    EXPECT_DOUBLE_EQ(area->zoom(), 3.3);
    EXPECT_TRUE(win.action("stretchAsinh")->isChecked());
    EXPECT_EQ(win.w.console().display.stretch, Stretch::Asinh);
    QAction* recent = win.action("recent1");
    ASSERT_NE(recent, nullptr);
    EXPECT_EQ(recent->text(), QStringLiteral("&1 m42.KYR"));
    EXPECT_EQ(recent->data().toString(), kyr);
    // The file is gone: the item says so and leaves the list.
    QString gone;
    whenModal([&gone](QWidget* box) {
        gone = qobject_cast<QMessageBox*>(box)->text();
        qobject_cast<QMessageBox*>(box)->accept();
    });
    recent->trigger();
    EXPECT_EQ(gone, kyr + QStringLiteral(" is no longer there"));
    EXPECT_FALSE(recent->isVisible());
    EXPECT_TRUE(win.action("noRecent")->isVisible());
    EXPECT_TRUE(settings.value(QStringLiteral("recent/files")).toStringList().isEmpty());
    // A FITS dialog opens where a FITS file was last chosen.
    FileDialogRequest request;
    request.filter = fileDialogFilterText(FileDialogFilter::Fits);
    QString folder;
    whenModal([&](QWidget* modal) {
        auto* dlg = qobject_cast<QFileDialog*>(modal);
        folder = dlg->directory().absolutePath();
        dlg->reject();
    });
    win.w.runFileDialog(request);
    EXPECT_EQ(folder, dir.path());
}

double luminance(QColor c) {
    auto lin = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
}

TEST(SettingsTest, HintLabelsTitlesMnemonicsAndStretchKeys) {
    Window win;
    auto* area = win.find<PictureArea>("pictureArea");
    EXPECT_EQ(area->hint(), QStringLiteral("F5: download the KYR's screen image"));
    auto lightPixels = [&] {
        const QImage img = area->grab().toImage();
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 2; x < img.width() - 2; ++x)
                n += y >= 2 && y < img.height() - 2 && qGray(img.pixel(x, y)) > 150;
        return n;
    };
    EXPECT_GT(lightPixels(), 50);  // the hint is drawn...
    win.w.showPicture(Picture{});
    EXPECT_EQ(lightPixels(), 0);  // ...until there is a picture

    // "PC Message:" reads at least 4.5 : 1 against its ground.
    const QImage label = win.find<QLabel>("Label10")->grab().toImage();
    const double ground = luminance(label.pixel(label.width() - 2, label.height() / 2));
    double text = ground;  // the colour farthest from the ground is the text's
    for (int y = 0; y < label.height(); ++y)
        for (int x = 0; x < label.width(); ++x)
            if (const double l = luminance(label.pixel(x, y)); std::abs(l - ground) > std::abs(text - ground))
                text = l;
    EXPECT_GE((std::max(text, ground) + 0.05) / (std::min(text, ground) + 0.05), 4.5);

    // No two items of a menu share a mnemonic (Zoom Out and Logarithmic did).
    for (QMenu* menu : win.w.menuBar()->findChildren<QMenu*>()) {
        std::map<QChar, QString> seen;
        for (QAction* a : menu->actions()) {
            const QString t = a->text();
            const auto amp = t.indexOf(QLatin1Char('&'));
            if (amp < 0 || amp + 1 >= t.size() || t[amp + 1] == QLatin1Char('&')) continue;
            const QChar key = t[amp + 1].toLower();
            EXPECT_FALSE(seen.count(key)) << t.toStdString() << " and " << seen[key].toStdString();
            seen[key] = t;
        }
    }

    // The stretches answer to Alt+1 .. Alt+4.
    win.w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&win.w));
    QTest::keyClick(&win.w, Qt::Key_3, Qt::AltModifier);
    EXPECT_EQ(win.w.console().display.stretch, Stretch::Logarithmic);
    EXPECT_TRUE(win.action("stretchLog")->isChecked());
    QTest::keyClick(&win.w, Qt::Key_1, Qt::AltModifier);
    EXPECT_EQ(win.w.console().display.stretch, Stretch::Linear);

    // Download All asks for the images' base name under a title that says so.
    QString title;
    whenModal([&](QWidget* modal) {
        title = modal->windowTitle();
        qobject_cast<QFileDialog*>(modal)->reject();
        whenModal([](QWidget* box) { qobject_cast<QMessageBox*>(box)->accept(); });
    });
    win.action("downloadAll")->trigger();
    EXPECT_EQ(title, QStringLiteral("Download All: Base Name for the Images"));
}

}  // namespace
}  // namespace kyr::test
