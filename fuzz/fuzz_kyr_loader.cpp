// Feeds arbitrary bytes to the image file loader in both of its modes. Besides crashes and
// out-of-bounds reads, it checks that an accepted image survives a save and a reload.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "files/kyr_codec.h"

using namespace kyr;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const KyrLoadResult image = decodeKyrFile(bytes, "fuzz.KYR\r\n", KyrDecodeMode::Image);
    (void)decodeKyrFile(bytes, "", KyrDecodeMode::FlatField);

    if (image.status == KyrLoadResult::Ok) {
        const int w = *image.values.imageWidth;
        const int h = *image.values.imageHeight;
        if (image.pixels.cols() != w || image.pixels.rows() != h) std::abort();
        const auto saved = encodeKyrFile(ImageHeader{}, 0, 0, image.pixels, w, h);
        const KyrLoadResult again = decodeKyrFile(saved, "", KyrDecodeMode::Image);
        if (again.status != KyrLoadResult::Ok || !(again.pixels == image.pixels)) std::abort();
    }
    return 0;
}
