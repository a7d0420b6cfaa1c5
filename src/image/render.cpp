#include "image/render.h"

#include <algorithm>
#include <array>
#include <limits>

#include "common/format.h"
#include "image/grey_map.h"

namespace kyr {

float greyStep(std::int32_t range) {
    return static_cast<float>(range / 256.0);
}

std::uint8_t greyLevel(std::int32_t sample, std::int32_t background, float step) {
    // 64-bit difference: a background near the 32-bit limits must not overflow.
    const std::int64_t diff = static_cast<std::int64_t>(sample) - background;
    if (step == 0.0f) return diff > 0 ? 255 : 0;
    const double g = static_cast<double>(diff) / static_cast<double>(step);
    return static_cast<std::uint8_t>(roundHalfEvenClamped(g, 0, 255));
}

std::int16_t displayOffset(int area, int size) {
    // Truncation toward zero, as integer division does; clamped for absurd sizes.
    const std::int64_t off = (static_cast<std::int64_t>(area) - size) / 2;
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(
        off, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
}

void drawPictureRows(Picture& picture, const PixelArray& src, int width, int height, int rFirst,
                     int rLast, const GreyLut& lut) {
    // Image pixel (c, r) lies at area pixel (c + offX, r + offY), 1-based on both sides.
    // Only the part of the image inside the area is visited.
    const int offX = displayOffset(picture.width, width);
    const int offY = displayOffset(picture.height, height);
    const int cFirst = std::max(1, 1 - offX);
    const int cLast = static_cast<int>(
        std::min<std::int64_t>(width, static_cast<std::int64_t>(picture.width) - offX));
    rFirst = std::max({rFirst, 1, 1 - offY});
    rLast = static_cast<int>(std::min<std::int64_t>(
        {rLast, height, static_cast<std::int64_t>(picture.height) - offY}));
    if (cFirst > cLast || rFirst > rLast) return;
    if (picture.grey.size() <
        static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height))
        return;

    const std::uint8_t zeroGrey = lut[0];  // cells outside the array read as 0
    const int cInArray = std::min(cLast, src.cols());
    for (int r = rFirst; r <= rLast; ++r) {
        std::uint8_t* line =
            picture.grey.data() + static_cast<std::size_t>(r + offY - 1) * picture.width;
        const auto cells = src.row(r);
        int c = cFirst;
        if (!cells.empty() && c <= cInArray) {
            lut.map(cells.subspan(static_cast<std::size_t>(c - 1),
                                  static_cast<std::size_t>(cInArray - c + 1)),
                    line + (c + offX - 1));
            c = cInArray + 1;
        }
        for (; c <= cLast; ++c) line[c + offX - 1] = zeroGrey;
    }
}

RenderResult renderPicture(const PixelArray& src, int width, int height, const GreyLut& lut) {
    RenderResult out;
    out.displayOffsetX = displayOffset(kPictureWidth, width);
    out.displayOffsetY = displayOffset(kPictureHeight, height);
    drawPictureRows(out.picture, src, width, height, 1, height, lut);
    return out;
}

Picture pictureAreaFor(const PixelArray& src, int width, int height) {
    auto side = [](int size, int held, int least) {
        return std::clamp(size, least, std::max(least, std::min(held, kMaxPictureSide)));
    };
    Picture area;
    const int w = side(width, src.cols(), kPictureWidth);
    const int h = side(height, src.rows(), kPictureHeight);
    if (w != area.width || h != area.height) {
        area.width = w;
        area.height = h;
        area.grey.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
    }
    return area;
}

RenderResult renderWholePicture(const PixelArray& src, int width, int height, const GreyLut& lut) {
    RenderResult out;
    out.picture = pictureAreaFor(src, width, height);
    out.displayOffsetX = displayOffset(out.picture.width, width);
    out.displayOffsetY = displayOffset(out.picture.height, height);
    drawPictureRows(out.picture, src, width, height, 1, height, lut);
    return out;
}

RenderResult renderPicture(const PixelArray& src, int width, int height, std::int32_t background,
                           std::int32_t range) {
    GreyLut lut;
    lut.update(background, range, Stretch::Linear);
    return renderPicture(src, width, height, lut);
}

Contrast autoContrast(const PixelArray& img, int width, int height) {
    const std::int64_t n = width > 0 && height > 0 ? static_cast<std::int64_t>(width) * height : 0;
    if (n == 0) return {0, 128};

    // Cells of width x height that lie outside the array read as 0: counted in bin 0 at once.
    std::array<std::int64_t, 1025> hist{};
    const int cols = std::min(width, img.cols());
    const int rows = std::min(height, img.rows());
    for (int r = 1; r <= rows; ++r) {
        const auto cells = img.row(r).first(static_cast<std::size_t>(cols));
        for (std::int16_t v : cells) ++hist[static_cast<std::size_t>(PixelArray::toSample(v) / 64)];
    }
    hist[0] += n - static_cast<std::int64_t>(cols) * rows;

    // The first bin at which the running count exceeds the limit (always found, since
    // the limit is below n).
    auto firstBinAbove = [&hist](std::int64_t limit) {
        std::int64_t sum = 0;
        for (std::size_t k = 0; k < hist.size(); ++k) {
            sum += hist[k];
            if (sum > limit) return static_cast<std::int64_t>(k);
        }
        return static_cast<std::int64_t>(hist.size() - 1);
    };
    std::int64_t background = (firstBinAbove(n / 5) - 1) * 64;
    std::int64_t range = (firstBinAbove(n * 99 / 100) - 1) * 64 - background;
    if (range < 128) range = 128;
    background -= range / 10;
    if (background < 0) background = 0;
    return {static_cast<std::int32_t>(background), static_cast<std::int32_t>(range)};
}

std::string contrastStatusText(std::int32_t background, std::int32_t range) {
    return "Background =" + signedText(background) + "\r\n" + "Range =" + signedText(range);
}

std::optional<std::int32_t> parseContrastEntry(const std::string& text) {
    auto isSpace = [](char ch) { return ch == ' ' || ch == '\t'; };
    std::size_t i = 0, end = text.size();
    while (i < end && isSpace(text[i])) ++i;
    while (end > i && isSpace(text[end - 1])) --end;
    bool negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == end) return std::nullopt;
    std::int64_t value = 0;
    for (; i < end; ++i) {
        const char ch = text[i];
        if (ch < '0' || ch > '9') return std::nullopt;
        value = value * 10 + (ch - '0');
        if (value > 2147483648LL) return std::nullopt;  // keeps the sum far from overflow
    }
    if (negative) value = -value;
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

}  // namespace kyr
