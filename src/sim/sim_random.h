#pragma once
// A small seeded generator whose sequence is the same on every platform and standard
// library (std::*_distribution is not), so that images and faults repeat from a seed.

#include <cmath>
#include <cstdint>

namespace kyr::sim {

class SimRandom {
  public:
    explicit SimRandom(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        // splitmix64
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    // Uniform integer in [lo, hi].
    int between(int lo, int hi) {
        if (hi <= lo) return lo;
        const auto span = static_cast<std::uint64_t>(hi - lo) + 1;
        return lo + static_cast<int>(next() % span);
    }
    bool chance(double p) { return p > 0 && uniform() < p; }
    // Standard normal deviate (Box-Muller, one value per call).
    double gaussian() {
        const double u1 = 1.0 - uniform();  // (0, 1]
        const double u2 = uniform();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
    }

  private:
    std::uint64_t state_;
};

// Derives independent streams (images per buffer, faults, chunking) from one seed.
inline std::uint64_t mixSeed(std::uint64_t seed, std::uint64_t stream) {
    SimRandom r(seed ^ (stream * 0xD1B54A32D192ED03ULL));
    return r.next();
}

}  // namespace kyr::sim
