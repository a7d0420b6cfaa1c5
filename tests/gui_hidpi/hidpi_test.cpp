// The window at a screen scale factor of 2: every image pixel covers 2 x 2 device pixels
// at zoom 1, and the pointer can stand on either half of it.
#include <gtest/gtest.h>
#include <QApplication>

#include "gui/readout_check.h"

namespace kyr::test {
namespace {

TEST(HiDpiTest, ReadoutIsThePixelDrawnUnderEveryDevicePixelAtEveryZoom) {
    ASSERT_EQ(qApp->devicePixelRatio(), 2.0);
    Window win;
    showDistinctGreys(win.w.console());
    auto* area = win.find<PictureArea>("pictureArea");
    ASSERT_EQ(area->devicePixelRatioF(), 2.0);
    for (double zoom : {1.0, 1.5, 2.0, 3.3}) {
        area->fit();
        area->setZoom(zoom);
        const int w = area->width() * 2, h = area->height() * 2;
        EXPECT_GT(expectReadoutAsDrawn(win, area, {6, h / 2}, {w - 7, h / 2}), 200) << zoom;
        EXPECT_GT(expectReadoutAsDrawn(win, area, {w / 2, 6}, {w / 2, h - 7}), 150) << zoom;
    }
}

}  // namespace
}  // namespace kyr::test

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
