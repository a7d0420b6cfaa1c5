#include "image/star_measure.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace kyr {

namespace {

struct Sky {
    double median = 0;
    double sigma = 0;  // from the median absolute deviation
    std::size_t count = 0;
};

double medianOf(std::vector<double>& v) {
    const std::size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid), v.end());
    const double upper = v[mid];
    if (v.size() % 2 == 1) return upper;
    const double lower = *std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid));
    return (lower + upper) / 2;
}

Sky skyAround(const PixelArray& img, int width, int height, int c0, int r0) {
    std::vector<double> values;
    const int ri2 = kSkyInnerRadius * kSkyInnerRadius;
    const int ro2 = kSkyOuterRadius * kSkyOuterRadius;
    for (int r = std::max(1, r0 - kSkyOuterRadius); r <= std::min(height, r0 + kSkyOuterRadius);
         ++r)
        for (int c = std::max(1, c0 - kSkyOuterRadius); c <= std::min(width, c0 + kSkyOuterRadius);
             ++c) {
            const int d2 = (c - c0) * (c - c0) + (r - r0) * (r - r0);
            if (d2 >= ri2 && d2 <= ro2) values.push_back(img.sample(c, r));
        }
    Sky sky;
    sky.count = values.size();
    if (values.empty()) return sky;
    sky.median = medianOf(values);
    for (double& v : values) v = std::abs(v - sky.median);
    sky.sigma = 1.4826 * medianOf(values);
    return sky;
}

bool isLocalMaximum(const PixelArray& img, int width, int height, int c, int r) {
    const std::int32_t v = img.sample(c, r);
    for (int dr = -1; dr <= 1; ++dr)
        for (int dc = -1; dc <= 1; ++dc) {
            const int cc = c + dc, rr = r + dr;
            if ((dc == 0 && dr == 0) || cc < 1 || rr < 1 || cc > width || rr > height) continue;
            if (img.sample(cc, rr) > v) return false;
        }
    return true;
}

// FWHM from a Gaussian fitted to the star's core: ln(light) = ln(A) - d^2 / (2 sigma^2) is a
// line in d^2 (d from the centroid), fitted by least squares weighted by light^2 (evening out
// the noise that the log blows up in faint pixels), over the pixels whose light is at least
// 1/16 of the peak's and clear of the sky noise, within `radius` (a Gaussian falls to 1/16 at
// about its HFD: a little beyond that keeps a neighbour's light out); FWHM is
// 2 sqrt(2 ln 2) sigma. Pixels spread the light a little: about 2.3548 sqrt(sigma^2 + 1/12).
double gaussianFwhm(const PixelArray& img, int width, int height, const StarMeasure& star,
                    const Sky& sky, double cx, double cy, double radius) {
    const double peakLight = star.peak - sky.median;
    const double minLight = std::max({peakLight / 16, 3.0 * sky.sigma, 1.0});
    const int R = kStarFluxRadius;
    double s = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    int used = 0;
    for (int r = std::max(1, star.row - R); r <= std::min(height, star.row + R); ++r)
        for (int c = std::max(1, star.column - R); c <= std::min(width, star.column + R); ++c) {
            const double light = img.sample(c, r) - sky.median;
            const double d2 = (c - cx) * (c - cx) + (r - cy) * (r - cy);
            if (light < minLight || d2 > radius * radius) continue;
            const double w = light * light, y = std::log(light);
            s += w;
            sx += w * d2;
            sy += w * y;
            sxx += w * d2 * d2;
            sxy += w * d2 * y;
            ++used;
        }
    const double det = s * sxx - sx * sx;
    if (used < 3 || det <= 0) return 0;
    const double slope = (s * sxy - sx * sy) / det;
    if (slope >= 0) return 0;
    return 2.0 * std::sqrt(2.0 * std::log(2.0)) * std::sqrt(-1.0 / (2.0 * slope));
}

}  // namespace

StarPosition brightestStar(const PixelArray& img, int width, int height, int column, int row,
                           int radius) {
    StarPosition out;
    width = std::min(width, img.cols());
    height = std::min(height, img.rows());
    if (column < 1 || row < 1 || column > width || row > height || radius < 0) return out;
    const int c1 = std::max(1, column - radius), c2 = std::min(width, column + radius);
    const int r1 = std::max(1, row - radius), r2 = std::min(height, row + radius);

    // The sky of the square itself: a star fills only a small part of it.
    std::vector<double> values;
    for (int r = r1; r <= r2; ++r)
        for (int c = c1; c <= c2; ++c) values.push_back(img.sample(c, r));
    Sky sky;
    sky.median = medianOf(values);
    for (double& v : values) v = std::abs(v - sky.median);
    sky.sigma = 1.4826 * medianOf(values);
    const double threshold = sky.median + std::max(5.0 * sky.sigma, 3.0);

    std::int64_t best = -1;
    for (int r = r1; r <= r2; ++r)
        for (int c = c1; c <= c2; ++c) {
            std::int64_t sum = 0;
            for (int dr = -1; dr <= 1; ++dr)
                for (int dc = -1; dc <= 1; ++dc) sum += img.sample(c + dc, r + dr);
            if (sum > best) {
                best = sum;
                out.column = c;
                out.row = r;
            }
        }
    // The brightest pixel of the winning neighbourhood, within the image.
    const int cc = out.column, rr = out.row;
    std::int32_t peak = -1;
    for (int r = std::max(1, rr - 1); r <= std::min(height, rr + 1); ++r)
        for (int c = std::max(1, cc - 1); c <= std::min(width, cc + 1); ++c)
            if (img.sample(c, r) > peak) {
                peak = img.sample(c, r);
                out.column = c;
                out.row = r;
            }
    out.found = peak > threshold;
    if (!out.found) out.column = out.row = 0;
    return out;
}

StarMeasure measureStar(const PixelArray& img, int width, int height, int column, int row) {
    StarMeasure out;
    width = std::min(width, img.cols());
    height = std::min(height, img.rows());
    if (column < 1 || row < 1 || column > width || row > height) return out;

    // A peak must stand clear of the sky's noise near the pointer, or every noise bump
    // would be taken for a star.
    const Sky local = skyAround(img, width, height, column, row);
    if (local.count == 0) return out;
    const double threshold = local.median + std::max(5.0 * local.sigma, 3.0);

    int bestD2 = -1;
    for (int r = std::max(1, row - kStarSearchRadius);
         r <= std::min(height, row + kStarSearchRadius); ++r)
        for (int c = std::max(1, column - kStarSearchRadius);
             c <= std::min(width, column + kStarSearchRadius); ++c) {
            const int d2 = (c - column) * (c - column) + (r - row) * (r - row);
            if (d2 > kStarSearchRadius * kStarSearchRadius) continue;
            const std::int32_t v = img.sample(c, r);
            if (v <= threshold || !isLocalMaximum(img, width, height, c, r)) continue;
            if (bestD2 < 0 || d2 < bestD2 || (d2 == bestD2 && v > out.peak)) {
                bestD2 = d2;
                out.column = c;
                out.row = r;
                out.peak = v;
            }
        }
    if (bestD2 < 0) return out;

    const Sky sky = skyAround(img, width, height, out.column, out.row);
    if (sky.count == 0) return out;
    out.background = sky.median;

    // Centroid of the light above the sky, for a centre between pixels.
    const int R = kStarFluxRadius;
    double sw = 0, sx = 0, sy = 0;
    for (int r = std::max(1, out.row - R); r <= std::min(height, out.row + R); ++r)
        for (int c = std::max(1, out.column - R); c <= std::min(width, out.column + R); ++c) {
            if ((c - out.column) * (c - out.column) + (r - out.row) * (r - out.row) > R * R)
                continue;
            const double w = std::max(0.0, img.sample(c, r) - sky.median);
            sw += w;
            sx += w * c;
            sy += w * r;
        }
    if (sw <= 0) return out;
    const double cx = sx / sw, cy = sy / sw;

    // Light by distance from the centre: each pixel's light spread over 4 x 4 sub-pixels,
    // gathered in rings 1/20 pixel wide out to the flux radius.
    constexpr int kSub = 4;
    constexpr int kRingsPerPixel = 20;
    std::array<double, kStarFluxRadius * kRingsPerPixel + 1> rings{};
    double total = 0;
    for (int r = std::max(1, out.row - R - 1); r <= std::min(height, out.row + R + 1); ++r)
        for (int c = std::max(1, out.column - R - 1); c <= std::min(width, out.column + R + 1);
             ++c) {
            const double flux = (img.sample(c, r) - sky.median) / (kSub * kSub);
            for (int j = 0; j < kSub; ++j)
                for (int i = 0; i < kSub; ++i) {
                    const double dx = c - 0.5 + (i + 0.5) / kSub - cx;
                    const double dy = r - 0.5 + (j + 0.5) / kSub - cy;
                    const double d = std::sqrt(dx * dx + dy * dy);
                    if (d > R) continue;
                    rings[static_cast<std::size_t>(d * kRingsPerPixel)] += flux;
                    total += flux;
                }
        }
    if (total <= 0) return out;
    double sum = 0;
    for (std::size_t k = 0; k < rings.size(); ++k) {
        if (sum + rings[k] >= total / 2 && rings[k] > 0) {
            // Within the ring, light is taken as spread evenly.
            const double part = (total / 2 - sum) / rings[k];
            out.hfd = 2.0 * (static_cast<double>(k) + part) / kRingsPerPixel;
            out.fwhm = gaussianFwhm(img, width, height, out, sky, cx, cy,
                                    std::clamp(1.25 * out.hfd, 2.0, double{kStarFluxRadius}));
            out.found = true;
            return out;
        }
        sum += rings[k];
    }
    return out;
}

}  // namespace kyr
