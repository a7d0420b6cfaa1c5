// The image file codec against CFITSIO's Rice compression on one 320 x 200 star field:
// encode and decode times per frame, their ratios and the compressed sizes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "files/kyr_codec.h"

extern "C" {
// From CFITSIO (fitsio2.h declares them without C++ linkage guards).
int fits_rcomp_short(short a[], int nx, unsigned char* c, int clen, int nblock);
int fits_rdecomp_short(unsigned char* c, int clen, unsigned short array[], int nx, int nblock);
}

namespace {

using namespace kyr;

constexpr int kWidth = 320;
constexpr int kHeight = 200;
constexpr int kPixels = kWidth * kHeight;
constexpr int kRiceBlock = 32;

// Sky with read noise, a pedestal and a few dozen Gaussian stars; always the same frame.
PixelArray makeStarField() {
    std::mt19937 rng(20260712u);
    std::normal_distribution<double> noise(0.0, 6.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> sky(kPixels);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            sky[static_cast<std::size_t>(y * kWidth + x)] = 100.0 + 850.0 + 0.2 * x + 0.1 * y;
    for (int s = 0; s < 40; ++s) {
        const double cx = unit(rng) * kWidth, cy = unit(rng) * kHeight;
        const double peak = 200.0 + 20000.0 * std::pow(unit(rng), 3.0);
        const double sigma = 1.0 + 1.5 * unit(rng);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                if (d2 < 100.0 * sigma * sigma)
                    sky[static_cast<std::size_t>(y * kWidth + x)] +=
                        peak * std::exp(-d2 / (2.0 * sigma * sigma));
            }
        }
    }
    PixelArray px(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            double v = sky[static_cast<std::size_t>(y * kWidth + x)] + noise(rng);
            v = std::min(std::max(v, 0.0), 32767.0);  // Rice codes signed shorts
            px.setCell(x + 1, y + 1, static_cast<std::int16_t>(std::lround(v)));
        }
    }
    return px;
}

const PixelArray& frame() {
    static const PixelArray px = makeStarField();
    return px;
}

std::vector<short> frameShorts() {
    std::vector<short> v(kPixels);
    for (int r = 1; r <= kHeight; ++r)
        for (int c = 1; c <= kWidth; ++c)
            v[static_cast<std::size_t>((r - 1) * kWidth + c - 1)] = frame().cell(c, r);
    return v;
}

std::vector<unsigned char> riceCompressed(std::vector<short> shorts) {
    std::vector<unsigned char> out(static_cast<std::size_t>(kPixels) * 3 + 64);
    const int n = fits_rcomp_short(shorts.data(), kPixels, out.data(), static_cast<int>(out.size()),
                                   kRiceBlock);
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

std::map<std::string, double> g_sizes;

void BM_KyrEncode(benchmark::State& state) {
    const PixelArray& px = frame();
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto data = encodeKyrPixels(px, kWidth, kHeight);
        bytes = data.size();
        benchmark::DoNotOptimize(data.data());
    }
    g_sizes["KYR pixel data"] = static_cast<double>(bytes);
}
BENCHMARK(BM_KyrEncode);

void BM_KyrDecode(benchmark::State& state) {
    const auto data = encodeKyrPixels(frame(), kWidth, kHeight);
    PixelArray out;
    for (auto _ : state) {
        const bool ok = decodeKyrPixels(data, kWidth, kHeight, true, KyrDecodeMode::Image, out);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(out.row(1).data());
    }
    if (!(out == frame())) state.SkipWithError("KYR round trip differs");
}
BENCHMARK(BM_KyrDecode);

void BM_KyrDecodeWholeFile(benchmark::State& state) {
    const auto file = encodeKyrFile(ImageHeader{}, 900, 400, frame(), kWidth, kHeight);
    for (auto _ : state) {
        auto loaded = decodeKyrFile(file, "bench.KYR\r\n", KyrDecodeMode::Image);
        benchmark::DoNotOptimize(loaded.status);
    }
    g_sizes["KYR whole file"] = static_cast<double>(file.size());
}
BENCHMARK(BM_KyrDecodeWholeFile);

void BM_RiceEncode(benchmark::State& state) {
    std::vector<short> shorts = frameShorts();
    std::vector<unsigned char> out(static_cast<std::size_t>(kPixels) * 3 + 64);
    int n = 0;
    for (auto _ : state) {
        n = fits_rcomp_short(shorts.data(), kPixels, out.data(), static_cast<int>(out.size()),
                             kRiceBlock);
        benchmark::DoNotOptimize(out.data());
    }
    if (n <= 0) state.SkipWithError("Rice compression failed");
    g_sizes["Rice (block 32)"] = n;
}
BENCHMARK(BM_RiceEncode);

void BM_RiceDecode(benchmark::State& state) {
    std::vector<unsigned char> packed = riceCompressed(frameShorts());
    std::vector<unsigned short> out(kPixels);
    int rc = 0;
    for (auto _ : state) {
        rc = fits_rdecomp_short(packed.data(), static_cast<int>(packed.size()), out.data(), kPixels,
                                kRiceBlock);
        benchmark::DoNotOptimize(out.data());
    }
    if (rc != 0 || out[12345] != static_cast<unsigned short>(frameShorts()[12345]))
        state.SkipWithError("Rice round trip failed");
}
BENCHMARK(BM_RiceDecode);

// Keeps each benchmark's CPU time per iteration (steadier than wall time on a shared
// machine) so that the ratios can be printed at the end.
class RecordingReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& r : runs)
            if (!r.error_occurred && r.run_type == Run::RT_Iteration)
                times[r.benchmark_name()] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto& t = reporter.times;
    auto ratio = [&](const char* rice, const char* ours, const char* what, double goal) {
        if (!t.count(rice) || !t.count(ours) || t[ours] <= 0) return;
        const double x = t[rice] / t[ours];
        std::printf("%-7s KYR is %.2fx faster than Rice per frame (goal >= %.0fx): %s\n", what, x,
                    goal, x >= goal ? "met" : "NOT met");
    };
    std::printf("\n");
    ratio("BM_RiceDecode", "BM_KyrDecode", "decode:", 3.0);
    ratio("BM_RiceEncode", "BM_KyrEncode", "encode:", 2.0);
    const double raw = 2.0 * kPixels;
    for (const auto& [name, size] : g_sizes)
        std::printf("%-16s %8.0f bytes (%.2f bits per pixel, raw %.0f bytes)\n", name.c_str(), size,
                    8.0 * size / kPixels, raw);
    return 0;
}
