#pragma once
// The half-flux diameters of the last images, for the focus panel's graph: focusing is
// watching this fall to its lowest.

#include <cmath>
#include <cstddef>
#include <deque>
#include <optional>

namespace kyr {

inline constexpr std::size_t kHfdHistoryLength = 50;

class HfdHistory {
  public:
    explicit HfdHistory(std::size_t capacity = kHfdHistoryLength)
        : capacity_(capacity > 0 ? capacity : 1) {}

    // Adds the newest value, dropping the oldest when full. An image without a measured star
    // (0, negative, not finite) adds nothing: returns false.
    bool add(double hfd) {
        if (!std::isfinite(hfd) || hfd <= 0) return false;
        if (values_.size() == capacity_) values_.pop_front();
        values_.push_back(hfd);
        return true;
    }
    void clear() { values_.clear(); }

    std::size_t capacity() const { return capacity_; }
    std::size_t size() const { return values_.size(); }
    bool empty() const { return values_.empty(); }
    // Oldest first.
    const std::deque<double>& values() const { return values_; }
    double operator[](std::size_t i) const { return values_[i]; }

    // The smallest value's index (the earliest of equal ones); none when empty.
    std::optional<std::size_t> bestIndex() const {
        if (values_.empty()) return std::nullopt;
        std::size_t best = 0;
        for (std::size_t i = 1; i < values_.size(); ++i)
            if (values_[i] < values_[best]) best = i;
        return best;
    }

  private:
    std::size_t capacity_;
    std::deque<double> values_;
};

}  // namespace kyr
