#include "console/platform.h"

#include <chrono>
#include <ctime>

namespace kyr {

namespace {
std::string nowText(const char* format) {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
#if defined(_WIN32)
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    char buf[64];
    const std::size_t n = std::strftime(buf, sizeof buf, format, &tm);
    return std::string(buf, n);
}
}  // namespace

std::string SystemClock::dateText() { return nowText("%x"); }
std::string SystemClock::timeText() { return nowText("%X"); }

std::int64_t Clock::steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace kyr
