#pragma once
// The image header record: filled by a header from the device or by loading a file.
// Its optics fields are also the observer's settings (note, focal length, aperture, units).

#include <cstdint>
#include <string>

namespace kyr {

struct ImageHeader {
    std::int16_t hdrHeight = 0;
    std::int16_t hdrWidth = 0;
    std::int16_t hdrFirstRow = 0;
    std::int16_t hdrFirstColumn = 0;
    std::int32_t hdrExposure = 0;  // hundredths of a second
    double exposureSeconds = 0.0;
    std::int16_t hdrExposureCount = 0;
    float focalLength = 0.0f;        // in the current length unit
    float apertureDiameter = 0.0f;   // in the current length unit
    float apertureArea = 0.0f;       // in the unit squared
    bool unitsMetric = false;        // true: centimetres; false: inches
    bool apertureFactorFlag = false; // true: area factor 0.72236448; false: 0.98
    float pixelSize = 0.0f;          // mm, X and Y
    std::int16_t readoutMode = 0;
    std::string dateText = "00/00/00";
    std::int16_t hdrYear = 0;
    std::string timeText = "00:00:00";
    float temperature = 0.0f;  // degrees C
    std::int16_t hdrSite = 0;
    std::int32_t hdrEgainRaw = 0;  // hundredths of e-/ADU
    std::int32_t hdrPedestal = 0;
    std::string filterName;
    std::string historyText;
    std::int16_t mosaicType = 0;  // 0, 40 or 6
    bool hdrHasFilterByte = false;
    std::string noteText;
};

}  // namespace kyr
