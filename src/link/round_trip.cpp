#include "link/round_trip.h"

#include <algorithm>

namespace kyr {

namespace {
constexpr std::int64_t kScale = 64;  // fixed-point units per millisecond
constexpr int kVariationFactor = 4;  // K
// Past this many doublings every floor is beyond kMaxIntervalMs already.
constexpr int kMaxBackoff = 15;

// To the nearest millisecond: finer than any clock the caller has.
int roundMs(std::int64_t scaled) { return static_cast<int>((scaled + kScale / 2) / kScale); }
}  // namespace

RoundTripEstimator::RoundTripEstimator(int replyFloorMs, int pieceFloorMs) {
    setFloors(replyFloorMs, pieceFloorMs);
}

void RoundTripEstimator::setFloors(int replyFloorMs, int pieceFloorMs) {
    replyFloorMs_ = std::clamp(replyFloorMs, 1, kMaxIntervalMs);
    pieceFloorMs_ = std::clamp(pieceFloorMs, 1, kMaxIntervalMs);
}

void RoundTripEstimator::reset() {
    srtt_ = rttvar_ = 0;
    hasSample_ = false;
    backoff_ = 0;
}

void RoundTripEstimator::answered(std::int64_t sentAtMs, std::int64_t answeredAtMs, bool sentOnce) {
    // A clock that went backwards measures nothing.
    if (!sentOnce || answeredAtMs < sentAtMs) return;
    const std::int64_t r = std::min<std::int64_t>(answeredAtMs - sentAtMs, kMaxIntervalMs) * kScale;
    if (!hasSample_) {
        srtt_ = r;
        rttvar_ = r / 2;
        hasSample_ = true;
    } else {
        // RTTVAR first, from the SRTT before this sample.
        const std::int64_t deviation = srtt_ > r ? srtt_ - r : r - srtt_;
        rttvar_ += (deviation - rttvar_) / 4;
        srtt_ += (r - srtt_) / 8;
    }
    backoff_ = 0;
}

void RoundTripEstimator::repeated() {
    if (backoff_ < kMaxBackoff) ++backoff_;
}

int RoundTripEstimator::backedOff(std::int64_t baseMs) const {
    return static_cast<int>(std::min<std::int64_t>(baseMs << backoff_, kMaxIntervalMs));
}

int RoundTripEstimator::replyIntervalMs() const {
    std::int64_t base = replyFloorMs_;
    if (hasSample_) {
        const std::int64_t spread =
            std::max<std::int64_t>(kClockGranularityMs * kScale, kVariationFactor * rttvar_);
        base = std::max<std::int64_t>(base, roundMs(srtt_ + spread));
    }
    return backedOff(base);
}

int RoundTripEstimator::pieceIntervalMs() const {
    std::int64_t base = pieceFloorMs_;
    if (hasSample_) base = std::max<std::int64_t>(base, roundMs(kVariationFactor * rttvar_));
    return backedOff(base);
}

int RoundTripEstimator::smoothedMs() const { return roundMs(srtt_); }

int RoundTripEstimator::variationMs() const { return roundMs(rttvar_); }

}  // namespace kyr
