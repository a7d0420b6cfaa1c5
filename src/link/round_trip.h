#pragma once
// How long to wait for the device over a network port, estimated the way TCP times its
// retransmissions (RFC 6298): a smoothed round trip and its variation from every request
// answered at the first try, doubled waits while requests have to be repeated, and never
// less than the speed table's interval, so a fast link behaves exactly like a local line.
// No clock inside: the caller hands in its own times (integer milliseconds).

#include <cstdint>

#include "link/speed_table.h"

namespace kyr {

class RoundTripEstimator {
  public:
    // Longest interval handed out, however far the back-off goes. It fits the console's
    // 16-bit interval fields, and four ticks of it outlast any link worth waiting for.
    static constexpr int kMaxIntervalMs = 30000;
    // RFC 6298's G: the resolution of the caller's clock.
    static constexpr int kClockGranularityMs = 1;

    // The floors are the speed table's reply and between-pieces intervals (the console's
    // replyTimeout and transferTimeout of the moment).
    explicit RoundTripEstimator(int replyFloorMs = kSpeeds[1].replyTimeout,
                                int pieceFloorMs = kSpeeds[1].transferTimeout);

    // New floors (a speed change); what was measured stays.
    void setFloors(int replyFloorMs, int pieceFloorMs);
    // Forgets every sample and the back-off (a new connection).
    void reset();

    // A request sent at sentAtMs was answered in full at answeredAtMs. Only a request sent
    // once gives a sample (Karn's rule: the answer of a repeated one may belong to any of its
    // copies); that sample also ends the back-off. A repeated request's answer leaves the
    // back-off as it is.
    void answered(std::int64_t sentAtMs, std::int64_t answeredAtMs, bool sentOnce);
    // The reply timer ran out and the request goes again: both intervals double, up to
    // kMaxIntervalMs.
    void repeated();

    // Wait for an answer after a request: SRTT + max(G, 4 RTTVAR), at least the reply floor.
    // Before the first sample it is the floor.
    int replyIntervalMs() const;
    // Wait between two pieces of one answer: the round trip is already paid, so only its
    // variation (4 RTTVAR) counts, at least the between-pieces floor.
    int pieceIntervalMs() const;

    bool hasSample() const { return hasSample_; }
    int smoothedMs() const;   // SRTT
    int variationMs() const;  // RTTVAR
    int backoffShift() const { return backoff_; }

  private:
    int backedOff(std::int64_t baseMs) const;

    // SRTT and RTTVAR in 1/64 ms, so that the 1/8 and 1/4 gains do not lose whole
    // milliseconds to rounding.
    std::int64_t srtt_ = 0;
    std::int64_t rttvar_ = 0;
    bool hasSample_ = false;
    int backoff_ = 0;  // the intervals are multiplied by 2^backoff_
    int replyFloorMs_;
    int pieceFloorMs_;
};

}  // namespace kyr
