#pragma once
// The companion text files of summed and mosaic images: the track list (".trk") with one
// offset pair per snapshot, and the mosaic data (".txt") with times and box centroids.

#include <array>
#include <cstdint>
#include <string>

#include "image/track_offsets.h"
#include "image/image_header.h"
#include "image/pixel_array.h"

namespace kyr {

// Entries 1..320 of the extra data row; index 0 unused.
using AuxRow = std::array<std::int32_t, 321>;

// The whole track list, lines ended by CR LF, ending right after "End ". Every auxData value
// above 32767 is first replaced in place by value - 65536 (the pairs are signed offsets).
// At most 160 pairs are written: the extra row holds no more.
std::string trackListText(const ImageHeader& hdr, AuxRow& auxData);

// The whole mosaic data file. Times are milliseconds from the first snapshot; centroids are
// computed for the 40-box mosaic only. A box whose counts are 0 has no centroid and writes
// 0.000 for both (the box centre).
std::string mosaicDataText(const ImageHeader& hdr, const AuxRow& auxData,
                           const PixelArray& imageData);

struct TrackListRead {
    enum Status { Ok, Missing };
    Status status = Missing;
    int count = 0;
    TrackOffsets offsets;  // entries 1..count; trackSnapshotCount = count when Ok
};

// Reads a track list back: 8 lines skipped, then pairs until a line starting "End".
// A pair without ",", a number outside 16 bits, more than 64 pairs or no "End" give Missing.
TrackListRead parseTrackList(const std::string& text);

}  // namespace kyr
