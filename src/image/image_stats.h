#pragma once
// Statistics of an image or of a box in it: for the status bar and the focus panel, and the
// sky level that the stretches' auto contrast starts from.

#include <cstdint>
#include <vector>

#include "image/pixel_array.h"

namespace kyr {

// A box of image pixels: top-left column and row (1-based) and its size.
struct ImageBox {
    int column = 1;
    int row = 1;
    int width = 0;
    int height = 0;
};

// The part of a box that lies on a width x height image (empty when none does; a box of
// negative size is empty).
ImageBox clipBox(ImageBox box, int width, int height);

// The box with corners (c1, r1) and (c2, r2), both included, in any order.
ImageBox boxBetween(int c1, int r1, int c2, int r2);

struct ImageStats {
    std::int64_t count = 0;  // pixels measured; all else is 0 when there are none
    std::int32_t min = 0;
    std::int32_t max = 0;
    double mean = 0;
    double median = 0;  // of an even count, the mean of the two middle samples
    double sigma = 0;   // standard deviation over count - 1 (0 for one pixel)
};

// Counts of each sample value 0..65535: exact quantiles of 16-bit data in one pass.
class SampleCounts {
  public:
    SampleCounts() : counts_(65536, 0) {}

    void add(std::int32_t sample) {
        ++counts_[static_cast<std::uint16_t>(sample)];
        ++total_;
    }
    // Every cell of the box (clipped to the width x height image).
    void addBox(const PixelArray& img, int width, int height, ImageBox box);

    std::int64_t total() const { return total_; }
    std::uint32_t operator[](std::int32_t sample) const {
        return counts_[static_cast<std::uint16_t>(sample)];
    }
    // The k-th smallest sample, k from 0; 0 when k is not below total().
    std::int32_t nth(std::int64_t k) const;
    // The median: of an even count, the mean of the two middle samples.
    double median() const;
    // The smallest sample with at least `fraction` (0..1) of the samples at or below it.
    std::int32_t quantile(double fraction) const;
    // The median of |sample - centre|.
    double medianDeviation(double centre) const;

  private:
    std::vector<std::uint32_t> counts_;
    std::int64_t total_ = 0;
};

// Of the whole width x height image, or of a box in it (clipped to the image).
ImageStats imageStats(const PixelArray& img, int width, int height);
ImageStats imageStats(const PixelArray& img, int width, int height, ImageBox box);

// The level of the sky and its noise: the median of the samples and 1.4826 times their
// median absolute deviation (a Gaussian's sigma, unmoved by the stars).
struct SkyLevel {
    double median = 0;
    double sigma = 0;
};
SkyLevel skyLevel(const SampleCounts& counts);

}  // namespace kyr
