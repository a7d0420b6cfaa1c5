#include "camera/obs_time.h"

#include <cmath>
#include <cstdio>

namespace kyr::camera {

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long daysFromCivil(int y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(long z, int& y, int& m, int& d) {
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const long doe = z - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

bool twoDigits(const std::string& s, std::size_t at, int& v) {
    if (at + 2 > s.size() || s[at] < '0' || s[at] > '9' || s[at + 1] < '0' || s[at + 1] > '9')
        return false;
    v = (s[at] - '0') * 10 + (s[at + 1] - '0');
    return true;
}

constexpr long kMjdOfEpoch = 40587;  // 1970-01-01

}  // namespace

std::optional<CivilTime> kyrTime(const std::string& dateText, const std::string& timeText) {
    CivilTime t;
    int century = 0, year = 0, second = 0;
    if (dateText.size() != 10 || timeText.size() != 8 || dateText[2] != '/' ||
        dateText[5] != '/' || timeText[2] != ':' || timeText[5] != ':' ||
        !twoDigits(dateText, 0, t.month) || !twoDigits(dateText, 3, t.day) ||
        !twoDigits(dateText, 6, century) || !twoDigits(dateText, 8, year) ||
        !twoDigits(timeText, 0, t.hour) || !twoDigits(timeText, 3, t.minute) ||
        !twoDigits(timeText, 6, second))
        return std::nullopt;
    t.year = century * 100 + year;
    t.second = second;
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.hour > 23 || t.minute > 59 || second > 59)
        return std::nullopt;
    // The day must exist in its month (the KYR's five bits allow 31 February).
    int y = 0, m = 0, d = 0;
    civilFromDays(daysFromCivil(t.year, t.month, t.day), y, m, d);
    if (m != t.month) return std::nullopt;
    return t;
}

double secondsSinceEpoch(const CivilTime& t) {
    return static_cast<double>(daysFromCivil(t.year, t.month, t.day)) * 86400.0 +
           t.hour * 3600.0 + t.minute * 60.0 + t.second;
}

CivilTime civilTime(double seconds) {
    CivilTime t;
    // Whole milliseconds, so that the text and the MJD agree.
    const double ms = std::round(seconds * 1000.0);
    long days = static_cast<long>(std::floor(ms / 86400000.0));
    double inDay = ms - static_cast<double>(days) * 86400000.0;
    civilFromDays(days, t.year, t.month, t.day);
    const long whole = static_cast<long>(inDay / 1000.0);
    t.hour = static_cast<int>(whole / 3600);
    t.minute = static_cast<int>(whole / 60 % 60);
    t.second = static_cast<double>(whole % 60) + (inDay - static_cast<double>(whole) * 1000.0) / 1000.0;
    return t;
}

std::string isoText(const CivilTime& t, bool milliseconds) {
    char buf[40];
    if (milliseconds) {
        const long ms = std::lround(t.second * 1000.0);
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02ld.%03ld", t.year, t.month,
                      t.day, t.hour, t.minute, ms / 1000, ms % 1000);
    } else {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day,
                      t.hour, t.minute, static_cast<int>(t.second));
    }
    return buf;
}

double modifiedJulianDate(const CivilTime& t) {
    return static_cast<double>(kMjdOfEpoch) + secondsSinceEpoch(t) / 86400.0;
}

}  // namespace kyr::camera
