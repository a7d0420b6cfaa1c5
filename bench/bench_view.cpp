// Speed of the window's picture area: a new picture redrawn zoomed to fit a full-HD area
// (goal: under 2 ms), and one arriving row repainted.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include "gui/picture_area.h"

namespace {

kyr::Picture testPicture(int seed) {
    kyr::Picture p;
    for (std::size_t i = 0; i < p.grey.size(); ++i)
        p.grey[i] = static_cast<std::uint8_t>((i * 7 + static_cast<std::size_t>(seed)) & 0xFF);
    return p;
}

void BM_RedrawFittedInto1920x1080(benchmark::State& state) {
    kyr::PictureArea area;
    area.resize(1920, 1080);
    QImage target(area.size(), QImage::Format_RGB32);  // as the window's backing store
    const kyr::Picture pictures[] = {testPicture(0), testPicture(1)};
    int n = 0;
    for (auto _ : state) {
        area.setPicture(pictures[n++ & 1]);
        area.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
    state.counters["zoom"] = area.zoom();
}
BENCHMARK(BM_RedrawFittedInto1920x1080)->Unit(benchmark::kMicrosecond);

void BM_ArrivingRowRepaintFitted(benchmark::State& state) {
    kyr::PictureArea area;
    area.resize(1920, 1080);
    QImage target(area.size(), QImage::Format_RGB32);
    const kyr::Picture picture = testPicture(3);
    area.setPicture(picture);
    int y = 0;
    for (auto _ : state) {
        y = (y + 1) % kyr::kPictureHeight;
        area.setPictureRows(picture, y, y);
        const QPointF o = area.origin();
        const QRect row = QRectF(o.x(), o.y() + y * area.zoom(), kyr::kPictureWidth * area.zoom(),
                                 area.zoom())
                              .toAlignedRect();
        area.render(&target, row.topLeft(), QRegion(row));
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_ArrivingRowRepaintFitted)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
