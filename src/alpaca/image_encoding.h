#pragma once
// Camera.ImageArray as Alpaca clients receive it: as JSON (Type 2, Rank 2, Value[x][y]) or,
// when the client accepts application/imagebytes, as the ImageBytes stream: 44 bytes of
// metadata (version 1), then the pixels with x as the first dimension, little-endian.
// Pure functions of the pixels and the transaction numbers.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kyr::alpaca {

// The element types named in the ImageBytes metadata.
enum class ImageElementType : std::int32_t {
    Unknown = 0,
    Int16 = 1,
    Int32 = 2,
    Double = 3,
    Single = 4,
    UInt64 = 5,
    Byte = 6,
    Int64 = 7,
    UInt16 = 8,
    UInt32 = 9,
};

// A monochrome image as the camera holds it: row after row, pixel (x, y) at y * width + x.
template <class T>
struct ImageView {
    int width = 0;
    int height = 0;
    std::span<const T> pixels;
};

inline constexpr std::size_t kImageBytesMetadataSize = 44;

// Metadata then pixels. ImageArray's elements are Int32; on the wire they go as UInt16 when
// every value fits, as Int32 otherwise.
std::string encodeImageBytes(ImageView<std::uint16_t> image, std::uint32_t clientTransactionId,
                             std::uint32_t serverTransactionId);
std::string encodeImageBytes(ImageView<std::int32_t> image, std::uint32_t clientTransactionId,
                             std::uint32_t serverTransactionId);

// An Alpaca error in ImageBytes form: the metadata with the error number, then the message
// as UTF-8 where the pixels would be.
std::string encodeImageBytesError(int errorNumber, std::string_view message,
                                  std::uint32_t clientTransactionId,
                                  std::uint32_t serverTransactionId);

// The whole JSON response, Type and Rank first (clients look for them before parsing).
std::string encodeImageArrayJson(ImageView<std::uint16_t> image,
                                 std::uint32_t clientTransactionId,
                                 std::uint32_t serverTransactionId);

}  // namespace kyr::alpaca
