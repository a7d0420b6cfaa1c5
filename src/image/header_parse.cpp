#include "image/header_parse.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "common/format.h"
#include "common/le16.h"
#include "image/picture.h"

namespace kyr {

namespace {

// Payload offsets of the header fields.
enum Offset : std::size_t {
    kFlags = 0,
    kHeight = 2,
    kWidth = 4,
    kFirstRow = 6,
    kFirstColumn = 8,
    kExposure = 10,
    kExposureCount = 12,
    kFocalLength = 18,
    kAperture = 20,
    kDate = 22,
    kTime = 24,
    kTemperature = 26,
    kSite = 28,
    kEgain = 30,
    kBackground = 32,
    kRange = 34,
    kPedestal = 36,
    kFilterCode = 42,
    kFilterGuard = 43,
};

constexpr std::array<const char*, 6> kFilterNames = {"None",  "Lunar", "Red",
                                                     "Green", "Blue",  "Clear"};

std::string outOfRange(const char* what, std::uint16_t value) {
    return std::string("Image header refused: ") + what + " " + std::to_string(value) +
           " is out of range (must be below 32768)";
}

}  // namespace

std::string imageHeaderProblem(std::span<const std::uint8_t> payload) {
    if (payload.size() < kHeaderPayloadMin) {
        return "Image header refused: only " + std::to_string(payload.size()) +
               " bytes received, " + std::to_string(kHeaderPayloadMin) + " needed";
    }
    const std::uint16_t flags = readLe16(payload, kFlags);
    if (flags >= 0x8000) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(flags));
        return std::string("Image header refused: flag word 0x") + hex + " has bit 15 set";
    }
    const std::uint16_t height = readLe16(payload, kHeight);
    if (height >= 0x8000) return outOfRange("height", height);
    if (height == 0) return "";  // "no image": nothing else is decoded

    struct Field {
        std::size_t at;
        const char* name;
    };
    constexpr std::array<Field, 5> kCounts = {{{kWidth, "width"},
                                               {kFirstRow, "first row"},
                                               {kFirstColumn, "first column"},
                                               {kExposureCount, "exposure count"},
                                               {kSite, "site"}}};
    for (const Field& f : kCounts) {
        const std::uint16_t v = readLe16(payload, f.at);
        if (v >= 0x8000) return outOfRange(f.name, v);
    }

    const int width = readLe16(payload, kWidth);
    const int firstRow = readLe16(payload, kFirstRow);
    if (width == 0 || width > kPictureWidth || height > kPictureHeight) {
        return "Image header refused: " + std::to_string(width) + " x " + std::to_string(height) +
               " pixels do not fit the " + std::to_string(kPictureWidth) + " x " +
               std::to_string(kPictureHeight) + " picture area";
    }
    const int lastRow = firstRow + height - 1;
    if (lastRow >= 200) {
        return "Image header refused: rows " + std::to_string(firstRow) + " to " +
               std::to_string(lastRow) + " reach device row 200, the extra data row";
    }
    return "";
}

bool parseImageHeaderPayload(std::span<const std::uint8_t> payload, bool hasFilterByte,
                             ImageHeader& hdr, std::int32_t& background, std::int32_t& range) {
    if (payload.size() < kHeaderPayloadMin) return false;

    // 1. The flag word.
    const std::uint16_t flags = readLe16(payload, kFlags);
    auto bit = [flags](int n) { return ((flags >> n) & 1) != 0; };
    hdr.unitsMetric = !bit(1);
    hdr.apertureFactorFlag = !bit(2);
    switch ((flags >> 4) & 3) {
        case 1:
            hdr.pixelSize = 0.0074f;
            hdr.readoutMode = 0;
            break;
        case 2:
            hdr.pixelSize = 0.0148f;
            hdr.readoutMode = 1;
            break;
        case 3:
            hdr.pixelSize = 0.0222f;
            hdr.readoutMode = 2;
            break;
        default:  // 00: the previous pixel size and mode stay
            break;
    }
    const int afternoon = bit(10) ? 12 : 0;
    hdr.filterName = bit(11) ? "Lunar" : "None";
    hdr.historyText = bit(12) ? "g" : "-";
    hdr.mosaicType = bit(14) ? 6 : (bit(13) ? 40 : 0);

    // 2. The height; 0 means no image and ends the decoding.
    hdr.hdrHeight = static_cast<std::int16_t>(readLe16(payload, kHeight));
    if (hdr.hdrHeight == 0) return false;

    // 3. Geometry, exposure and optics.
    hdr.hdrWidth = static_cast<std::int16_t>(readLe16(payload, kWidth));
    hdr.hdrFirstRow = static_cast<std::int16_t>(readLe16(payload, kFirstRow));
    hdr.hdrFirstColumn = static_cast<std::int16_t>(readLe16(payload, kFirstColumn));
    const std::int32_t e = readLe16(payload, kExposure);
    if (e <= 60000) {
        hdr.exposureSeconds = e / 100.0;
        hdr.hdrExposure = e;
    } else {
        // Above 60000 the word counts milliseconds from 60000.
        hdr.exposureSeconds = (e - 60000) / 1000.0;
        hdr.hdrExposure = (e - 60000) / 10;
    }
    hdr.hdrExposureCount = static_cast<std::int16_t>(readLe16(payload, kExposureCount));
    hdr.focalLength = static_cast<float>(readLe16(payload, kFocalLength) / 100.0);
    hdr.apertureDiameter = static_cast<float>(readLe16(payload, kAperture) / 10.0);
    const double diameter = hdr.apertureDiameter;
    const float circle = static_cast<float>(diameter * diameter * 3.141592 / 4.0);
    const double factor = hdr.apertureFactorFlag ? 0.72236448 : 0.98;
    hdr.apertureArea = static_cast<float>(static_cast<double>(circle) * factor);

    // 4. Note.
    hdr.noteText = "KYR Image";

    // 5. Date: month in bits 15-12, day in 11-7, year - 1999 in 6-0.
    const std::uint16_t date = readLe16(payload, kDate);
    const int month = date >> 12;
    const int day = (date >> 7) & 31;
    const int year = (date & 127) + 1999;
    hdr.dateText = zeroPadded(month, 2) + "/" + zeroPadded(day, 2) + "/" + zeroPadded(year, 4);
    hdr.hdrYear = static_cast<std::int16_t>(year);

    // 6. Time: hour in bits 15-12 (plus the after-noon offset), minutes 11-6, seconds 5-0.
    const std::uint16_t time = readLe16(payload, kTime);
    const int hour = (time >> 12) + afternoon;
    const int minutes = (time >> 6) & 63;
    const int seconds = time & 63;
    hdr.timeText =
        zeroPadded(hour, 2) + ":" + zeroPadded(minutes, 2) + ":" + zeroPadded(seconds, 2);

    // 7. The rest in payload order.
    const auto t = static_cast<std::int16_t>(readLe16(payload, kTemperature));
    hdr.temperature = static_cast<float>(t / 100.0);
    hdr.hdrSite = static_cast<std::int16_t>(readLe16(payload, kSite));
    hdr.hdrEgainRaw = readLe16(payload, kEgain);
    background = std::min<std::int32_t>(readLe16(payload, kBackground), 32767);
    range = std::min<std::int32_t>(readLe16(payload, kRange), 32767);
    hdr.hdrPedestal = readLe16(payload, kPedestal);

    // 8. The filter byte counts only in a 44-byte payload whose last byte is 0.
    if (hasFilterByte && payload.size() >= kHeaderPayloadWithFilter && payload[kFilterGuard] == 0) {
        const unsigned code = payload[kFilterCode] & 7u;
        if (code < kFilterNames.size()) hdr.filterName = kFilterNames[code];
    }
    return true;
}

std::string imageInformationPanel(const ImageHeader& hdr, std::int32_t background,
                                  std::int32_t range) {
    const char* unit = hdr.unitsMetric ? " cm" : " inches";
    const char* unitSquared = hdr.unitsMetric ? " cm^2" : " inches^2";
    const std::string pixel = formatPicture(hdr.pixelSize, "0.0000") + " mm";
    const std::array<std::string, 20> lines = {
        "KYR Image",
        "Exposure = " + formatPicture(hdr.exposureSeconds, "##0.000") + " Seconds",
        "Focal Length = " + formatPicture(hdr.focalLength, "###0.00") + unit,
        "Aperture = " + formatPicture(hdr.apertureArea, "###0.000") + unitSquared,
        "Background = " + signedText(background),
        "Range = " + signedText(range),
        "Height = " + signedText(hdr.hdrHeight) + " Pixels",
        "Width = " + signedText(hdr.hdrWidth) + " Pixels",
        "Date = " + hdr.dateText,
        "Time = " + hdr.timeText,
        "Temperature = " + formatPicture(hdr.temperature, "#0.00") + " degrees C",
        "Number_exposures = " + signedText(hdr.hdrExposureCount),
        "Each_exposure = " + signedText(hdr.hdrExposure),
        "Observer = Site" + signedText(hdr.hdrSite),
        "X Pixel Size = " + pixel,
        "Y Pixel Size = " + pixel,
        "Pedestal = " + signedText(hdr.hdrPedestal),
        "Egain = " + formatPicture(hdr.hdrEgainRaw / 100.0, "#0.0") + " e-/ADU",
        "Filter = " + hdr.filterName,
        "End",
    };
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += "\r\n";
        text += lines[i];
    }
    return text;
}

}  // namespace kyr
