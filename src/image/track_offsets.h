#pragma once
// Offsets of the snapshots of a track-and-accumulate image, as read back from its track list.

#include <array>
#include <cstdint>

namespace kyr {

inline constexpr int kMaxTrackSnapshots = 64;

struct TrackOffsets {
    std::int16_t trackSnapshotCount = 0;
    // Entry j (1..64) belongs to snapshot j; index 0 is unused.
    std::array<std::int16_t, kMaxTrackSnapshots + 1> trackOffsetX{};
    std::array<std::int16_t, kMaxTrackSnapshots + 1> trackOffsetY{};
};

}  // namespace kyr
