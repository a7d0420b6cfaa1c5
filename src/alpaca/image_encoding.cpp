#include "alpaca/image_encoding.h"

#include <algorithm>
#include <charconv>
#include <type_traits>

namespace kyr::alpaca {
namespace {

void putLe(std::string& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

struct Metadata {
    std::int32_t errorNumber = 0;
    std::uint32_t clientTransactionId = 0;
    std::uint32_t serverTransactionId = 0;
    ImageElementType imageType = ImageElementType::Unknown;
    ImageElementType transmissionType = ImageElementType::Unknown;
    std::int32_t rank = 0;
    std::int32_t dimension1 = 0;
    std::int32_t dimension2 = 0;
};

void putMetadata(std::string& out, const Metadata& m) {
    const std::int32_t fields[] = {
        1,  // metadata version
        m.errorNumber,
        static_cast<std::int32_t>(m.clientTransactionId),
        static_cast<std::int32_t>(m.serverTransactionId),
        static_cast<std::int32_t>(kImageBytesMetadataSize),  // data start
        static_cast<std::int32_t>(m.imageType),
        static_cast<std::int32_t>(m.transmissionType),
        m.rank,
        m.dimension1,
        m.dimension2,
        0,  // third dimension: none for a monochrome image
    };
    for (std::int32_t f : fields) putLe(out, static_cast<std::uint32_t>(f), 4);
}

template <class T>
std::string imageBytes(ImageView<T> image, std::uint32_t clientTid, std::uint32_t serverTid) {
    bool fits16 = true;
    if constexpr (!std::is_same_v<T, std::uint16_t>) {
        fits16 = std::all_of(image.pixels.begin(), image.pixels.end(),
                             [](T v) { return v >= 0 && v <= 0xFFFF; });
    }
    const int size = fits16 ? 2 : 4;
    Metadata m;
    m.clientTransactionId = clientTid;
    m.serverTransactionId = serverTid;
    m.imageType = ImageElementType::Int32;
    m.transmissionType = fits16 ? ImageElementType::UInt16 : ImageElementType::Int32;
    m.rank = 2;
    m.dimension1 = image.width;
    m.dimension2 = image.height;
    std::string out;
    out.reserve(kImageBytesMetadataSize + image.pixels.size() * size);
    putMetadata(out, m);
    // Array[x, y] serialised with the rightmost index fastest: down each column in turn.
    const auto w = static_cast<std::size_t>(image.width);
    for (std::size_t x = 0; x < w; ++x)
        for (std::size_t i = x; i < image.pixels.size(); i += w)
            putLe(out, static_cast<std::uint32_t>(image.pixels[i]), size);
    return out;
}

}  // namespace

std::string encodeImageBytes(ImageView<std::uint16_t> image, std::uint32_t clientTransactionId,
                             std::uint32_t serverTransactionId) {
    return imageBytes(image, clientTransactionId, serverTransactionId);
}

std::string encodeImageBytes(ImageView<std::int32_t> image, std::uint32_t clientTransactionId,
                             std::uint32_t serverTransactionId) {
    return imageBytes(image, clientTransactionId, serverTransactionId);
}

std::string encodeImageBytesError(int errorNumber, std::string_view message,
                                  std::uint32_t clientTransactionId,
                                  std::uint32_t serverTransactionId) {
    Metadata m;
    m.errorNumber = errorNumber;
    m.clientTransactionId = clientTransactionId;
    m.serverTransactionId = serverTransactionId;
    std::string out;
    putMetadata(out, m);
    out += message;
    return out;
}

std::string encodeImageArrayJson(ImageView<std::uint16_t> image,
                                 std::uint32_t clientTransactionId,
                                 std::uint32_t serverTransactionId) {
    std::string out;
    out.reserve(image.pixels.size() * 6 + 160);
    out += R"({"Type":2,"Rank":2,"Value":[)";
    const auto w = static_cast<std::size_t>(image.width);
    char digits[8];
    for (std::size_t x = 0; x < w; ++x) {
        out += x ? ",[" : "[";
        for (std::size_t i = x; i < image.pixels.size(); i += w) {
            if (i != x) out.push_back(',');
            const auto r = std::to_chars(digits, digits + sizeof digits, image.pixels[i]);
            out.append(digits, r.ptr);
        }
        out.push_back(']');
    }
    out += R"(],"ClientTransactionID":)" + std::to_string(clientTransactionId) +
           R"(,"ServerTransactionID":)" + std::to_string(serverTransactionId) +
           R"(,"ErrorNumber":0,"ErrorMessage":""})";
    return out;
}

}  // namespace kyr::alpaca
