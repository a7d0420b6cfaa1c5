#pragma once
// The readout against the drawing: an image whose neighbouring pixels all differ in grey, and
// a sweep of the pointer over device pixels comparing what is read out with what is drawn.

#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QRegularExpression>

#include "gui/picture_area.h"
#include "window_fixture.h"

namespace kyr::test {

// 200 x 100 at area offsets 60, 50; sample = 256 x grey, grey = (7c + 13r) mod 256: two
// pixels side by side or one above the other never share a grey. Background 0, range 65536:
// grey = sample / 256 exactly.
inline void showDistinctGreys(Console& c) {
    c.image.imageData.recreate(200, 100);
    for (int r = 1; r <= 100; ++r)
        for (int col = 1; col <= 200; ++col)
            c.image.imageData.setCell(col, r, PixelArray::toCell(((7 * col + 13 * r) % 256) * 256));
    c.image.imageWidth = 200;
    c.image.imageHeight = 100;
    c.display.background = 0;
    c.display.range = 65536;
    c.renderImage();
}

inline void movePointer(QWidget* w, QPointF at) {
    QMouseEvent e(QEvent::MouseMove, at, w->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// The sample in the status bar's readout field ("Pixel 12, 34 = 5678"); -1 when empty.
inline int readoutSample(Window& win) {
    static const QRegularExpression re(QStringLiteral("^Pixel \\d+, \\d+ = (\\d+)$"));
    const auto m = re.match(win.find<QLabel>("statusreadout")->text());
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Moves the pointer to every device pixel of the segment from `from` to `to` (device pixels
// of the area, one axis at a time) and checks that the pixel read out is the one drawn there.
// Returns how many device pixels showed the image.
inline int expectReadoutAsDrawn(Window& win, PictureArea* area, QPoint from, QPoint to) {
    const QImage shown = area->grab().toImage();
    const double ratio = area->devicePixelRatioF();
    int onImage = 0;
    const QPoint step((to.x() > from.x()) - (to.x() < from.x()), (to.y() > from.y()) - (to.y() < from.y()));
    for (QPoint d = from;; d += step) {
        // The device pixel's top-left corner as Qt hands it over: device position / ratio.
        movePointer(area, QPointF(d.x() / ratio, d.y() / ratio));
        const int sample = readoutSample(win);
        if (sample >= 0) {
            ++onImage;
            EXPECT_EQ(qGray(shown.pixel(d)), sample / 256) << "device pixel " << d.x() << ", " << d.y();
        }
        if (d == to) break;
    }
    return onImage;
}

}  // namespace kyr::test
