#include "image/grey_map.h"

#include <algorithm>
#include <cmath>

#include "common/format.h"
#include "image/render.h"

namespace kyr {

double stretchCurve(double t, Stretch stretch) {
    switch (stretch) {
        case Stretch::SquareRoot:
            return std::sqrt(t);
        case Stretch::Logarithmic:
            return std::log1p(1000.0 * t) / std::log1p(1000.0);
        case Stretch::Asinh:
            return std::asinh(10.0 * t) / std::asinh(10.0);
        case Stretch::Linear:
            break;
    }
    return t;
}

std::uint8_t stretchGrey(std::int32_t sample, std::int32_t background, std::int32_t range,
                         Stretch stretch) {
    if (stretch == Stretch::Linear || range == 0)
        return greyLevel(sample, background, greyStep(range));
    const double t = std::clamp((static_cast<double>(sample) - static_cast<double>(background)) /
                                    static_cast<double>(range),
                                0.0, 1.0);
    return static_cast<std::uint8_t>(roundHalfEvenClamped(256.0 * stretchCurve(t, stretch), 0, 255));
}

void GreyLut::update(std::int32_t background, std::int32_t range, Stretch stretch) {
    if (built_ && background == background_ && range == range_ && stretch == stretch_) return;
    background_ = background;
    range_ = range;
    stretch_ = stretch;
    built_ = true;

    // Every mapping is monotone in the sample, so the table is at most 256 runs of one grey:
    // each run's end is found by bisection instead of mapping all 65536 samples.
    const float step = greyStep(range);
    auto grey = [&](std::int32_t s) {
        return stretch == Stretch::Linear ? greyLevel(s, background, step)
                                          : stretchGrey(s, background, range, stretch);
    };
    std::int32_t s = 0;
    while (s <= 65535) {
        const std::uint8_t g = grey(s);
        std::int32_t last = 65535;
        if (grey(last) != g) {
            std::int32_t lo = s, hi = last;  // grey(lo) == g, grey(hi) != g
            while (hi - lo > 1) {
                const std::int32_t mid = lo + (hi - lo) / 2;
                (grey(mid) == g ? lo : hi) = mid;
            }
            last = lo;
        }
        std::fill(table_.begin() + s, table_.begin() + last + 1, g);
        s = last + 1;
    }
}

}  // namespace kyr
