#include "sim/sim_images.h"

#include <algorithm>
#include <cmath>

#include "sim/sim_random.h"

namespace kyr::sim {

namespace {

// A floating accumulator for one image before it is quantised to 16 bits.
struct Canvas {
    int width, height;
    std::vector<double> v;
    Canvas(int w, int h) : width(w), height(h), v(static_cast<std::size_t>(w * h), 0.0) {}
    double& at(int x, int y) { return v[static_cast<std::size_t>(y * width + x)]; }
};

// Sky level with read noise and a pedestal, for `frames` summed frames; a gentle gradient
// across wide fields (a mosaic box is too small to show one, and it would bias centroids).
void addSky(Canvas& c, SimRandom& rng, double pedestal, double sky, double noise, int frames,
            bool gradient = true) {
    const double n = noise * std::sqrt(static_cast<double>(frames));
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            const double g = gradient ? 0.12 * sky * (static_cast<double>(x) / c.width) +
                                            0.05 * sky * (static_cast<double>(y) / c.height)
                                      : 0.0;
            c.at(x, y) += frames * (pedestal + sky + g) + n * rng.gaussian();
        }
    }
}

void addStar(Canvas& c, double cx, double cy, double peak, double sigma) {
    const int r = static_cast<int>(std::ceil(4.5 * sigma));
    const int x0 = std::max(0, static_cast<int>(std::floor(cx)) - r);
    const int x1 = std::min(c.width - 1, static_cast<int>(std::floor(cx)) + r + 1);
    const int y0 = std::max(0, static_cast<int>(std::floor(cy)) - r);
    const int y1 = std::min(c.height - 1, static_cast<int>(std::floor(cy)) + r + 1);
    const double k = 1.0 / (2.0 * sigma * sigma);
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const double dx = x - cx, dy = y - cy;
            c.at(x, y) += peak * std::exp(-(dx * dx + dy * dy) * k);
        }
    }
}

// A field of stars: many faint, a few bright ones whose cores saturate or nearly so.
void addStarField(Canvas& c, SimRandom& rng, int count, double faintPeak, int bright) {
    for (int i = 0; i < count; ++i) {
        const double x = rng.uniform() * c.width, y = rng.uniform() * c.height;
        const double u = rng.uniform();
        addStar(c, x, y, faintPeak * (0.05 + u * u * u), 0.9 + 0.7 * rng.uniform());
    }
    for (int i = 0; i < bright; ++i) {
        const double x = 6 + rng.uniform() * (c.width - 12),
                     y = 6 + rng.uniform() * (c.height - 12);
        addStar(c, x, y, 30000.0 + 40000.0 * rng.uniform(), 1.0 + 0.5 * rng.uniform());
    }
    // A couple of hot pixels, as every sensor has.
    for (int i = 0; i < 2; ++i)
        c.at(rng.between(0, c.width - 1), rng.between(0, c.height - 1)) += 9000;
}

// Quantises to 0..65535 and makes every row sendable compressed.
std::vector<std::uint16_t> quantise(const Canvas& c) {
    std::vector<std::uint16_t> px(c.v.size());
    for (std::size_t i = 0; i < px.size(); ++i) {
        px[i] = static_cast<std::uint16_t>(std::clamp(std::lround(c.v[i]), 0L, 65535L));
    }
    for (int y = 0; y < c.height; ++y) {
        makeRowEncodable(std::span(px.data() + static_cast<std::size_t>(y * c.width),
                                   static_cast<std::size_t>(c.width)));
    }
    return px;
}

// Suggested display settings: black a little below the sky, white near the brightest stars
// (for a summed image, at its brightest star).
void suggestDisplay(SimImage& img) {
    std::vector<std::uint16_t> s = img.pixels;
    if (s.empty()) return;
    std::sort(s.begin(), s.end());
    const auto pick = [&](double q) {
        return static_cast<int>(s[static_cast<std::size_t>(q * static_cast<double>(s.size() - 1))]);
    };
    img.header.background = pick(0.02);
    const double top = img.header.exposureCount > 1 ? 1.0 : 0.999;
    img.header.range = std::max(16, pick(top) - img.header.background);
}

// Observation data that differ from buffer to buffer.
void describe(SimHeader& h, int buffer) {
    h.inches = buffer % 2 == 1;
    h.focalHundredths = h.inches ? 8000 : 20320;
    h.apertureTenths = h.inches ? 80 : 203;
    h.apertureFactor098 = buffer % 4 >= 2;
    h.readoutMode = buffer % 3;
    h.defaultFilterLunar = buffer % 3 == 1;
    h.historyGuided = buffer % 2 == 0;
    h.year = 2024 + buffer % 4;
    h.month = 1 + buffer % 12;
    h.day = 1 + (buffer * 7) % 28;
    h.hour = (19 + buffer) % 24;
    h.minute = (buffer * 13) % 60;
    h.second = (buffer * 29) % 60;
    h.temperatureHundredths = -(1000 + 25 * buffer);
    h.site = 1 + buffer % 9;
    h.egainHundredths = 230 + 5 * buffer;
    h.frameNumber = 0x00010000u + static_cast<std::uint32_t>(buffer);
}

constexpr double kPedestal = 100;
constexpr double kSky = 800;
constexpr double kNoise = 12;

SimImage starFieldImage(SimRandom& rng, SimHeader h, int stars, int bright) {
    SimImage img;
    Canvas c(h.width, h.height);
    addSky(c, rng, kPedestal, kSky, kNoise, h.exposureCount);
    addStarField(c, rng, stars, 6000.0 * h.exposureCount, bright);
    h.pedestal = static_cast<int>(kPedestal) * h.exposureCount;
    img.header = h;
    img.pixels = quantise(c);
    suggestDisplay(img);
    return img;
}

// Boxes of 40 x 40 pixels, `across` per row of boxes, one snapshot with one star each.
SimImage mosaicImage(SimRandom& rng, SimHeader h, int across) {
    const int boxes = h.mosaicType;
    SimImage img;
    Canvas c(h.width, h.height);
    addSky(c, rng, kPedestal, kSky, kNoise, 1, false);
    for (int a = 0; a < boxes; ++a) {
        const int c0 = (a % across) * 40, r0 = (a / across) * 40;
        // The console measures from box offset 19.5 (1-based), i.e. pixel 18.5 from 0.
        StarCentre s{c0 + 18.5 + 4.0 * (rng.uniform() - 0.5),
                     r0 + 18.5 + 4.0 * (rng.uniform() - 0.5)};
        addStar(c, s.x, s.y, 6000.0 + 6000.0 * rng.uniform(), 1.3 + 0.4 * rng.uniform());
        img.starCentres.push_back(s);
    }
    h.pedestal = static_cast<int>(kPedestal);
    img.header = h;
    img.pixels = quantise(c);
    suggestDisplay(img);
    // End time of each snapshot in milliseconds since midnight, high word first.
    const std::uint32_t first =
        static_cast<std::uint32_t>(((h.hour * 60 + h.minute) * 60 + h.second) * 1000 + 250);
    const std::uint32_t step = static_cast<std::uint32_t>(h.exposureMs + 137);
    for (int a = 0; a < boxes && 2 * a + 1 < kExtraRowLength; ++a) {
        const std::uint32_t t = first + step * static_cast<std::uint32_t>(a);
        img.extraRow[static_cast<std::size_t>(2 * a)] = static_cast<std::uint16_t>(t >> 16);
        img.extraRow[static_cast<std::size_t>(2 * a + 1)] = static_cast<std::uint16_t>(t & 0xFFFF);
    }
    return img;
}

}  // namespace

BufferKind kindOfBuffer(int buffer) {
    if (buffer == kScreenBuffer) return BufferKind::Screen;
    switch (((buffer % 5) + 5) % 5) {
        case 0:
            return BufferKind::Plain;
        case 1:
            return BufferKind::ShortExposure;
        case 2:
            return BufferKind::Summed;
        case 3:
            return BufferKind::Mosaic40;
        default:
            return BufferKind::Mosaic6;
    }
}

SimImage makeStoredImage(std::uint64_t seed, int buffer) {
    if (buffer < 0 || buffer >= kStoredBuffers) return makeEmptyImage();
    SimRandom rng(mixSeed(seed, 100 + static_cast<std::uint64_t>(buffer)));
    SimHeader h;
    describe(h, buffer);
    switch (kindOfBuffer(buffer)) {
        case BufferKind::Plain:
            h.width = 200, h.height = 100, h.firstRow = 50, h.firstColumn = 60;
            h.exposureMs = 30000;
            h.payloadLength = 42;
            return starFieldImage(rng, h, 60, 3);
        case BufferKind::ShortExposure:
            h.width = 160, h.height = 120, h.firstRow = 40, h.firstColumn = 80;
            h.exposureMs = 1500;
            h.millisecondForm = true;
            h.payloadLength = 38;
            return starFieldImage(rng, h, 40, 2);
        case BufferKind::Summed: {
            h.width = 200, h.height = 150, h.firstRow = 20, h.firstColumn = 50;
            h.exposureMs = 2000;
            h.exposureCount = 4;
            h.historyGuided = true;
            h.payloadLength = 44;
            h.filterCode = 4;  // Blue
            SimImage img = starFieldImage(rng, h, 50, 2);
            // The guider's offset of each snapshot, as signed 16-bit pairs.
            for (int i = 0; i < h.exposureCount; ++i) {
                const int dx = i == 0 ? 0 : rng.between(-3, 3);
                const int dy = i == 0 ? 0 : rng.between(-3, 3);
                img.extraRow[static_cast<std::size_t>(2 * i)] =
                    static_cast<std::uint16_t>(dx & 0xFFFF);
                img.extraRow[static_cast<std::size_t>(2 * i + 1)] =
                    static_cast<std::uint16_t>(dy & 0xFFFF);
            }
            return img;
        }
        case BufferKind::Mosaic40:
            h.width = 320, h.height = 200, h.firstRow = 0, h.firstColumn = 0;
            h.exposureMs = 500;
            h.mosaicType = 40;
            h.payloadLength = 42;
            return mosaicImage(rng, h, 8);
        case BufferKind::Mosaic6:
        case BufferKind::Screen:
            break;
    }
    h.width = 120, h.height = 80, h.firstRow = 60, h.firstColumn = 100;
    h.exposureMs = 1000;
    h.mosaicType = 6;
    h.readoutMode = -1;  // pixel size bits 00: the console keeps its previous size
    h.payloadLength = 44;
    h.filterCode = 3;
    h.filterGuard = 1;  // the console must ignore the code and keep its default
    return mosaicImage(rng, h, 3);
}

SimImage makeScreenImage(std::uint64_t seed, const ScreenSettings& s) {
    SimRandom rng(mixSeed(seed, 1000 + static_cast<std::uint64_t>(s.frame)));
    SimHeader h;
    describe(h, kScreenBuffer);
    h.width = 320, h.height = 200, h.firstRow = 0, h.firstColumn = 0;
    h.exposureMs = s.exposureHundredths * 10;
    h.exposureCount = 1;
    h.temperatureHundredths = s.temperatureHundredths;
    h.payloadLength = 44;
    h.filterCode = static_cast<std::uint8_t>(s.filterCode);
    h.egainHundredths = 230 * std::max(1, s.gain);
    // Each frame a little later than the one before, by more than its exposure.
    const int later = s.frame * (s.exposureHundredths / 100 + 5);
    const int clock = ((h.hour * 60 + h.minute) * 60 + h.second + later) % 86400;
    h.hour = clock / 3600;
    h.minute = clock / 60 % 60;
    h.second = clock % 60;
    h.frameNumber = static_cast<std::uint32_t>(s.frame);
    return starFieldImage(rng, h, 90, 4);
}

SimImage makeEmptyImage() {
    SimImage img;
    img.header.payloadLength = 42;
    img.header.readoutMode = -1;
    return img;
}

SimImage firstRows(SimImage image, int rows) {
    if (rows < 0 || rows >= image.header.height) return image;
    image.header.height = rows;
    image.pixels.resize(static_cast<std::size_t>(rows) *
                        static_cast<std::size_t>(image.header.width));
    return image;
}

}  // namespace kyr::sim
