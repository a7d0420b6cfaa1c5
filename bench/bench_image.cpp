// Speed of the image path: row decoding, rendering, grey tables, auto-contrast, zscale and the
// star measurement on a synthetic star field.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "image/grey_map.h"
#include "image/image_stats.h"
#include "image/pixel_array.h"
#include "image/render.h"
#include "image/row_decode.h"
#include "image/star_measure.h"
#include "image/stretch_contrast.h"
#include "image/zscale.h"

namespace {

using kyr::PixelArray;

constexpr int kWidth = 320;
constexpr int kHeight = 200;

// A deterministic star field: a noisy sky near 1000 with bright stars and a few saturated ones.
PixelArray starField() {
    PixelArray img(kWidth, kHeight);
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int r = 1; r <= kHeight; ++r)
        for (int c = 1; c <= kWidth; ++c)
            img.setCell(c, r, PixelArray::toCell(1000 + static_cast<std::int32_t>(next() % 40)));
    for (int s = 0; s < 150; ++s) {
        const int cx = static_cast<int>(next() % kWidth) + 1;
        const int cy = static_cast<int>(next() % kHeight) + 1;
        const std::int32_t peak =
            s % 10 == 0 ? 65532 : 2000 + static_cast<std::int32_t>(next() % 9000);
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx) {
                const int d2 = dx * dx + dy * dy;
                img.setCell(cx + dx, cy + dy,
                            PixelArray::toCell(1000 + (peak - 1000) / (1 + 2 * d2)));
            }
    }
    return img;
}

// Encodes a row the way the device does, choosing the shortest code; an absolute code is
// used for jumps beyond a 2-byte delta (so every code kind appears in a star field).
std::vector<std::uint8_t> compressRow(std::span<const std::int16_t> cells) {
    std::vector<std::uint8_t> out;
    std::int32_t value = PixelArray::toSample(cells[0]);
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    for (std::size_t c = 1; c < cells.size(); ++c) {
        const std::int32_t target = PixelArray::toSample(cells[c]);
        const std::int32_t d = target - value;
        if (d >= 0 && d <= 63) {
            out.push_back(static_cast<std::uint8_t>(d));
            value = target;
        } else if (d < 0 && d >= -64) {
            out.push_back(static_cast<std::uint8_t>(d + 128));
            value = target;
        } else if (d >= -8192 && d <= 8191) {
            const std::int32_t w = d < 0 ? d + 0x4000 : d;
            out.push_back(static_cast<std::uint8_t>(0x80 | (w >> 8)));
            out.push_back(static_cast<std::uint8_t>(w & 0xFF));
            value = target;
        } else {
            const std::int32_t w = target / 4;
            out.push_back(static_cast<std::uint8_t>(0xC0 | (w >> 8)));
            out.push_back(static_cast<std::uint8_t>(w & 0xFF));
            value = w * 4;
        }
    }
    return out;
}

void BM_DecodeCompressedRows(benchmark::State& state) {
    const PixelArray img = starField();
    std::vector<std::vector<std::uint8_t>> rows;
    std::int64_t bytes = 0;
    for (int r = 1; r <= kHeight; ++r) {
        rows.push_back(compressRow(img.row(r)));
        bytes += static_cast<std::int64_t>(rows.back().size());
    }
    PixelArray out(kWidth, kHeight);
    for (auto _ : state) {
        for (int r = 1; r <= kHeight; ++r) {
            const bool ok = kyr::decodeCompressedRowPayload(rows[static_cast<std::size_t>(r - 1)],
                                                            kWidth, out.row(r));
            benchmark::DoNotOptimize(ok);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kHeight);
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_DecodeCompressedRows);

void BM_DecodeRawRows(benchmark::State& state) {
    const PixelArray img = starField();
    std::vector<std::vector<std::uint8_t>> rows;
    for (int r = 1; r <= kHeight; ++r) {
        std::vector<std::uint8_t> p;
        for (std::int16_t v : img.row(r)) {
            const auto u = static_cast<std::uint16_t>(v);
            p.push_back(static_cast<std::uint8_t>(u & 0xFF));
            p.push_back(static_cast<std::uint8_t>(u >> 8));
        }
        rows.push_back(std::move(p));
    }
    PixelArray out(kWidth, kHeight);
    for (auto _ : state) {
        for (int r = 1; r <= kHeight; ++r) {
            const bool ok =
                kyr::decodeRawRowPayload(rows[static_cast<std::size_t>(r - 1)], kWidth, out.row(r));
            benchmark::DoNotOptimize(ok);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kHeight);
    state.SetBytesProcessed(state.iterations() * kHeight * kWidth * 2);
}
BENCHMARK(BM_DecodeRawRows);

void BM_RenderPicture(benchmark::State& state) {
    const PixelArray img = starField();
    for (auto _ : state) {
        kyr::RenderResult res = kyr::renderPicture(img, kWidth, kHeight, 980, 600);
        benchmark::DoNotOptimize(res.picture.grey.data());
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);  // pixels
}
BENCHMARK(BM_RenderPicture);

// The grey mapping of one drawing with the table of its background and range (goal: under
// 0.1 ms for 320 x 200). The table is made once per setting, as the console keeps it.
void BM_GreyMapWithTable(benchmark::State& state) {
    const PixelArray img = starField();
    kyr::GreyLut lut;
    lut.update(980, 600, static_cast<kyr::Stretch>(state.range(0)));
    for (auto _ : state) {
        kyr::RenderResult res = kyr::renderPicture(img, kWidth, kHeight, lut);
        benchmark::DoNotOptimize(res.picture.grey.data());
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);  // pixels
}
BENCHMARK(BM_GreyMapWithTable)->Arg(0)->Arg(3);

// Making the table for a new setting (a drag in the contrast dialog, a stretch choice).
void BM_GreyTableForNewSettings(benchmark::State& state) {
    kyr::GreyLut lut;
    std::int32_t background = 0;
    for (auto _ : state) {
        background = (background + 7) % 4000;
        lut.update(background, static_cast<std::int32_t>(state.range(1)),
                   static_cast<kyr::Stretch>(state.range(0)));
        benchmark::DoNotOptimize(lut[1000]);
    }
}
BENCHMARK(BM_GreyTableForNewSettings)->Args({0, 600})->Args({0, 65535})->Args({3, 65535});

// One row drawn as it arrives during a download.
void BM_DrawOneArrivingRow(benchmark::State& state) {
    const PixelArray img = starField();
    kyr::GreyLut lut;
    lut.update(980, 600, kyr::Stretch::Linear);
    kyr::Picture live;
    int r = 0;
    for (auto _ : state) {
        r = r % kHeight + 1;
        kyr::drawPictureRows(live, img, kWidth, kHeight, r, r, lut);
        benchmark::DoNotOptimize(live.grey.data());
    }
}
BENCHMARK(BM_DrawOneArrivingRow);

void BM_Zscale(benchmark::State& state) {
    const PixelArray img = starField();
    for (auto _ : state) {
        kyr::Contrast c = kyr::zscaleContrast(img, kWidth, kHeight);
        benchmark::DoNotOptimize(c);
    }
}
BENCHMARK(BM_Zscale);

// The focus aid runs on every mouse move over the image.
void BM_MeasureStar(benchmark::State& state) {
    const PixelArray img = starField();
    int c = 0;
    for (auto _ : state) {
        c = c % 280 + 20;
        kyr::StarMeasure m = kyr::measureStar(img, kWidth, kHeight, c, 100);
        benchmark::DoNotOptimize(m);
    }
}
BENCHMARK(BM_MeasureStar);

void BM_AutoContrast(benchmark::State& state) {
    const PixelArray img = starField();
    for (auto _ : state) {
        kyr::Contrast c = kyr::autoContrast(img, kWidth, kHeight);
        benchmark::DoNotOptimize(c);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);  // pixels
}
BENCHMARK(BM_AutoContrast);

// The stretches' auto contrast (arg: the Stretch); Linear is autoContrast.
void BM_AutoContrastForStretch(benchmark::State& state) {
    const PixelArray img = starField();
    for (auto _ : state) {
        kyr::Contrast c =
            kyr::autoContrastFor(img, kWidth, kHeight, static_cast<kyr::Stretch>(state.range(0)));
        benchmark::DoNotOptimize(c);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);  // pixels
}
BENCHMARK(BM_AutoContrastForStretch)->Arg(1)->Arg(3);

// Statistics of every new image (goal: well under a millisecond for 320 x 200), and of a
// dragged box.
void BM_ImageStats(benchmark::State& state) {
    const PixelArray img = starField();
    const auto side = static_cast<int>(state.range(0));
    for (auto _ : state) {
        kyr::ImageStats st = kyr::imageStats(img, kWidth, kHeight, {1, 1, side, side});
        benchmark::DoNotOptimize(st);
    }
}
BENCHMARK(BM_ImageStats)->Arg(320)->Arg(20);

// The locked star found again on each new image.
void BM_BrightestStar(benchmark::State& state) {
    const PixelArray img = starField();
    int c = 0;
    for (auto _ : state) {
        c = c % 280 + 20;
        kyr::StarPosition p = kyr::brightestStar(img, kWidth, kHeight, c, 100);
        benchmark::DoNotOptimize(p);
    }
}
BENCHMARK(BM_BrightestStar);

}  // namespace

BENCHMARK_MAIN();
