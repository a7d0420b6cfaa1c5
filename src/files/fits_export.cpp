#include "files/fits_export.h"
#include "files/fits_cards.h"

#include <fitsio.h>

#include <cmath>
#include <cstdlib>
#include <optional>

#include "common/format.h"
#include "common/version.h"

namespace kyr {

namespace {

std::optional<int> digitsAt(const std::string& text, std::size_t at, std::size_t len) {
    if (at + len > text.size()) return std::nullopt;
    int v = 0;
    for (std::size_t i = at; i < at + len; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}

bool leapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int month, int year) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leapYear(year) ? 29 : kDays[month - 1];
}

std::string statusText(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    fits_clear_errmsg();
    return "FITS error " + std::to_string(status) + " (" + text + ")";
}

}  // namespace

std::string fitsText(const std::string& text) {
    std::string out = text;
    for (char& ch : out) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 32 || b > 126) ch = '?';
    }
    return out;
}

std::string fitsDateObs(const std::string& dateText, const std::string& timeText) {
    if (dateText.size() != 10 || dateText[2] != '/' || dateText[5] != '/') return {};
    if (timeText.size() != 8 || timeText[2] != ':' || timeText[5] != ':') return {};
    const auto month = digitsAt(dateText, 0, 2);
    const auto day = digitsAt(dateText, 3, 2);
    const auto year = digitsAt(dateText, 6, 4);
    const auto hour = digitsAt(timeText, 0, 2);
    const auto minute = digitsAt(timeText, 3, 2);
    const auto second = digitsAt(timeText, 6, 2);
    if (!month || !day || !year || !hour || !minute || !second) return {};
    if (*month < 1 || *month > 12 || *day < 1 || *day > daysInMonth(*month, *year)) return {};
    // The device's after-noon flag can push the hour past 23: no time of day then.
    if (*hour > 23 || *minute > 59 || *second > 59) return {};
    return zeroPadded(*year, 4) + "-" + zeroPadded(*month, 2) + "-" + zeroPadded(*day, 2) + "T" +
           zeroPadded(*hour, 2) + ":" + zeroPadded(*minute, 2) + ":" + zeroPadded(*second, 2);
}

double frameExposureSeconds(const ImageHeader& hdr) {
    const double fromHundredths = hdr.hdrExposure / 100.0;
    if (std::isfinite(hdr.exposureSeconds) &&
        std::fabs(hdr.exposureSeconds * 100.0 - hdr.hdrExposure) < 1.0)
        return hdr.exposureSeconds;
    return fromHundredths;
}

std::vector<FitsCard> fitsKeywords(const ImageHeader& hdr) {
    std::vector<FitsCard> cards;
    auto text = [&cards](const char* key, const std::string& value, const char* comment) {
        cards.push_back({FitsCard::Kind::Text, key, value, 0, 0.0, 0, comment});
    };
    auto integer = [&cards](const char* key, long value, const char* comment) {
        cards.push_back({FitsCard::Kind::Integer, key, {}, value, 0.0, 0, comment});
    };
    auto fixed = [&cards](const char* key, double value, int decimals, const char* comment) {
        if (std::isfinite(value)) cards.push_back({FitsCard::Kind::Fixed, key, {}, 0, value, decimals, comment});
    };
    auto note = [&cards](const std::string& value) {
        cards.push_back({FitsCard::Kind::Comment, {}, value, 0, 0.0, 0, {}});
    };

    text("INSTRUME", "KYR", "camera");
    const std::string dateObs = fitsDateObs(hdr.dateText, hdr.timeText);
    if (!dateObs.empty()) text("DATE-OBS", dateObs, "date and time of the observation");

    const int snapshots = hdr.hdrExposureCount;
    const double frame = frameExposureSeconds(hdr);
    if (snapshots > 1) {
        fixed("EXPTIME", frame * snapshots, 3, "[s] total exposure of the snapshots");
        fixed("SNAPEXP", frame, 3, "[s] exposure of each snapshot");
    } else {
        fixed("EXPTIME", frame, 3, "[s] exposure time");
    }
    if (snapshots >= 1) integer("SNAPSHOT", snapshots, "number of exposures summed");
    fixed("CCD-TEMP", hdr.temperature, 2, "[C] sensor temperature");

    // Astronomy software reads focal lengths in millimetres.
    const double focal = hdr.focalLength * (hdr.unitsMetric ? 10.0 : 25.4);
    const double area = hdr.apertureArea * (hdr.unitsMetric ? 100.0 : 645.16);
    if (focal > 0) fixed("FOCALLEN", focal, 1, "[mm] focal length");
    if (area > 0) fixed("APTAREA", area, 1, "[mm^2] effective aperture area");
    if (hdr.pixelSize > 0.0f) {
        const double microns = static_cast<double>(hdr.pixelSize) * 1000.0;
        fixed("XPIXSZ", microns, 2, "[um] pixel width");
        fixed("YPIXSZ", microns, 2, "[um] pixel height");
    }
    if (hdr.hdrEgainRaw != 0) fixed("EGAIN", hdr.hdrEgainRaw / 100.0, 2, "[e-/ADU] gain");
    if (!hdr.filterName.empty()) text("FILTER", hdr.filterName, "filter");
    integer("PEDESTAL", hdr.hdrPedestal, "[ADU] offset added to every sample");
    if (dateObs.empty()) note("Date and time as recorded: " + hdr.dateText + " " + hdr.timeText);
    if (!hdr.noteText.empty()) note("Note: " + hdr.noteText);
    return cards;
}

void writeFitsKeywords(fitsfile* f, const std::vector<FitsCard>& cards, int* status) {
    for (const FitsCard& card : cards) {
        std::string key = card.key, comment = card.comment, value = fitsText(card.text);
        switch (card.kind) {
            case FitsCard::Kind::Text:
                fits_update_key_str(f, key.data(), value.data(), comment.data(), status);
                break;
            case FitsCard::Kind::Integer:
                fits_update_key_lng(f, key.data(), card.integer, comment.data(), status);
                break;
            case FitsCard::Kind::Fixed:
                fits_update_key_fixdbl(f, key.data(), card.number, card.decimals, comment.data(),
                                       status);
                break;
            case FitsCard::Kind::Comment:
                fits_write_comment(f, value.data(), status);
                break;
        }
    }
}

FitsEncodeResult encodeFits(const ImageHeader& hdr, const PixelArray& pixels, int width,
                            int height) {
    FitsEncodeResult result;
    if (width <= 0 || height <= 0) {
        result.error = "there is no image";
        return result;
    }

    // CFITSIO writes into a growing memory buffer; with no extra growth step its size ends
    // as the file's exact length.
    std::size_t size = 2880;
    void* buffer = std::malloc(size);
    if (buffer == nullptr) {
        result.error = "out of memory";
        return result;
    }
    fitsfile* f = nullptr;
    int openStatus = 0;
    if (fits_create_memfile(&f, &buffer, &size, 0, std::realloc, &openStatus) != 0) {
        std::free(buffer);
        result.error = statusText(openStatus);
        return result;
    }

    int status = 0;
    long axes[2] = {width, height};
    fits_create_img(f, USHORT_IMG, 2, axes, &status);  // BITPIX 16, BZERO 32768
    // Viewers that ignore ROWORDER draw the first row at the bottom: so it is the bottom one.
    std::string rowOrder = "BOTTOM-UP", rowComment = "first row of the data is the bottom of the image";
    fits_update_key_str(f, "ROWORDER", rowOrder.data(), rowComment.data(), &status);
    // The mark by which the console knows its own files again (the keywords a .KYR needs).
    std::string creator = std::string(kFitsCreator) + " " + projectVersion(),
                creatorComment = "program that wrote this file";
    fits_update_key_str(f, "CREATOR", creator.data(), creatorComment.data(), &status);
    writeFitsKeywords(f, fitsKeywords(hdr), &status);

    std::vector<unsigned short> data(static_cast<std::size_t>(width) *
                                     static_cast<std::size_t>(height));
    std::size_t i = 0;
    for (int r = height; r >= 1; --r)
        for (int c = 1; c <= width; ++c)
            data[i++] = static_cast<unsigned short>(pixels.sample(c, r));
    fits_write_img(f, TUSHORT, 1, static_cast<LONGLONG>(data.size()), data.data(), &status);

    LONGLONG headStart = 0, dataStart = 0, dataEnd = 0;
    fits_get_hduaddrll(f, &headStart, &dataStart, &dataEnd, &status);
    int closeStatus = 0;
    fits_close_file(f, &closeStatus);
    if (status == 0) status = closeStatus;
    if (status != 0) {
        result.error = statusText(status);
    } else if (dataEnd <= 0 || static_cast<std::size_t>(dataEnd) > size || dataEnd % 2880 != 0) {
        result.error = "FITS file of unexpected length";
    } else {
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        result.bytes.assign(bytes, bytes + dataEnd);
    }
    std::free(buffer);
    return result;
}

}  // namespace kyr
