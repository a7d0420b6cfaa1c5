#include "png_encoder.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <cstring>

namespace kyr {

std::vector<std::uint8_t> QtPngEncoder::encodePng(const Picture& picture) {
    const int w = picture.width;
    const int h = picture.height;
    if (w <= 0 || h <= 0 ||
        picture.grey.size() != static_cast<std::size_t>(w) * static_cast<std::size_t>(h))
        return {};
    QImage image(w, h, QImage::Format_Grayscale8);
    if (image.isNull()) return {};
    for (int y = 0; y < h; ++y)  // scan lines are padded to 4 bytes: one row at a time
        std::memcpy(image.scanLine(y), picture.grey.data() + static_cast<std::size_t>(y) * w,
                    static_cast<std::size_t>(w));

    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly)) return {};
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image)) return {};
    buffer.close();
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace kyr
