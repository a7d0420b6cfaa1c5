#pragma once
// Times of observation: the KYR's header date and time, the computer's UTC clock, and the
// forms FITS and Alpaca want (ISO 8601 text, Modified Julian Date).

#include <optional>
#include <string>

namespace kyr::camera {

struct CivilTime {
    int year = 1970, month = 1, day = 1;
    int hour = 0, minute = 0;
    double second = 0;  // 0 <= second < 60
};

// The header's "MM/DD/YYYY" and "hh:mm:ss" (the KYR's own clock); nullopt when either is not
// a valid date or time of day.
std::optional<CivilTime> kyrTime(const std::string& dateText, const std::string& timeText);

// Seconds since 1970-01-01T00:00:00 and back.
double secondsSinceEpoch(const CivilTime& t);
CivilTime civilTime(double secondsSinceEpoch);

// "YYYY-MM-DDThh:mm:ss", with milliseconds (".sss") when asked.
std::string isoText(const CivilTime& t, bool milliseconds);

// Days since 1858-11-17T00:00:00 (MJD).
double modifiedJulianDate(const CivilTime& t);

}  // namespace kyr::camera
