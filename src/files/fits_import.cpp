#include "files/fits_import.h"

#include <fitsio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <system_error>

#include "common/format.h"
#include "files/file_io.h"
#include "files/fits_export.h"

namespace kyr {

namespace {

constexpr int kMaxAxes = 9;
// The largest file read whole (only one without its last block's padding is): the largest
// image in 64-bit floats and a generous header.
constexpr std::uintmax_t kFitsMaxFileBytes =
    std::uintmax_t{kFitsMaxSide} * kFitsMaxSide * 8 + (std::uintmax_t{1} << 20);

std::string reason(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    fits_clear_errmsg();
    return text;
}

std::string cannotRead(int status) { return "the FITS file cannot be read (" + reason(status) + ")"; }

std::string numberText(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

// Keyword values; a missing or unconvertible keyword is nullopt and leaves no error behind.
std::optional<double> numberKey(fitsfile* f, const char* key) {
    double v = 0;
    int status = 0;
    fits_read_key(f, TDOUBLE, key, &v, nullptr, &status);
    if (status != 0 || !std::isfinite(v)) {
        fits_clear_errmsg();
        return std::nullopt;
    }
    return v;
}

std::optional<std::string> textKey(fitsfile* f, const char* key) {
    char v[FLEN_VALUE] = {};
    int status = 0;
    fits_read_key(f, TSTRING, key, v, nullptr, &status);
    if (status != 0) {
        fits_clear_errmsg();
        return std::nullopt;
    }
    return std::string(v);
}

bool digitsOnly(const std::string& s, std::size_t at, std::size_t len) {
    if (at + len > s.size()) return false;
    for (std::size_t i = at; i < at + len; ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

// "hh:mm:ss" at the start of text (fractions of a second dropped), else "".
std::string timeOfDay(const std::string& text) {
    if (text.size() < 8 || text[2] != ':' || text[5] != ':' || !digitsOnly(text, 0, 2) ||
        !digitsOnly(text, 3, 2) || !digitsOnly(text, 6, 2))
        return {};
    return text.substr(0, 8);
}

void takeDate(fitsfile* f, ImageHeader& hdr) {
    const auto dateObs = textKey(f, "DATE-OBS");
    if (dateObs && dateObs->size() >= 10 && (*dateObs)[4] == '-' && (*dateObs)[7] == '-' &&
        digitsOnly(*dateObs, 0, 4) && digitsOnly(*dateObs, 5, 2) && digitsOnly(*dateObs, 8, 2)) {
        hdr.dateText = dateObs->substr(5, 2) + "/" + dateObs->substr(8, 2) + "/" + dateObs->substr(0, 4);
        hdr.hdrYear = static_cast<std::int16_t>(std::stoi(dateObs->substr(0, 4)));
        std::string time;
        if (dateObs->size() > 10 && (*dateObs)[10] == 'T') time = timeOfDay(dateObs->substr(11));
        if (time.empty())
            if (const auto t = textKey(f, "TIME-OBS")) time = timeOfDay(*t);
        if (!time.empty()) hdr.timeText = time;
    }
}

// Our export's comment cards: the date as the device gave it when it is no valid date, and
// the note, continued over the comment cards that follow it (72 characters each).
void takeComments(const std::vector<std::string>& cards, ImageHeader& hdr, bool dateFound) {
    const std::string dateMark = "Date and time as recorded: ", noteMark = "Note: ";
    for (std::size_t i = 0; i < cards.size(); ++i) {
        if (cards[i].rfind("COMMENT ", 0) != 0) continue;
        const std::string text = cards[i].substr(8);
        if (!dateFound && text.rfind(dateMark, 0) == 0) {
            const std::string rest = text.substr(dateMark.size());
            const std::size_t space = rest.find(' ');
            hdr.dateText = rest.substr(0, space);
            if (space != std::string::npos) hdr.timeText = rest.substr(space + 1);
        } else if (text.rfind(noteMark, 0) == 0) {
            std::string note = text;
            for (std::size_t j = i + 1; j < cards.size() && cards[j].rfind("COMMENT ", 0) == 0; ++j) {
                note.resize(72, ' ');  // a piece that was not the last was a full one
                note += cards[j].substr(8);
                i = j;
            }
            hdr.noteText = note.substr(noteMark.size());
        }
    }
}

void takeHeader(fitsfile* f, const std::vector<std::string>& cards, FitsImage& img) {
    ImageHeader& hdr = img.header;
    hdr.hdrWidth = static_cast<std::int16_t>(img.width);
    hdr.hdrHeight = static_cast<std::int16_t>(img.height);
    if (const auto creator = textKey(f, "CREATOR"))
        img.ownExport = creator->rfind(kFitsCreator, 0) == 0;

    const std::string noDate = hdr.dateText;
    takeDate(f, hdr);
    takeComments(cards, hdr, hdr.dateText != noDate);

    const auto count = numberKey(f, "SNAPSHOT");
    const int snapshots = count && *count >= 1 && *count <= 32767 ? static_cast<int>(*count) : 1;
    hdr.hdrExposureCount = static_cast<std::int16_t>(snapshots);
    std::optional<double> each = numberKey(f, "SNAPEXP");
    if (!each) {
        auto total = numberKey(f, "EXPTIME");
        if (!total) total = numberKey(f, "EXPOSURE");
        if (total) each = *total / snapshots;
    }
    if (each && *each >= 0 && *each < 2e7) {
        hdr.exposureSeconds = *each;
        hdr.hdrExposure = static_cast<std::int32_t>(roundHalfEven(*each * 100));
    }
    if (const auto t = numberKey(f, "CCD-TEMP")) hdr.temperature = static_cast<float>(*t);

    // The export writes millimetres; the header keeps centimetres then.
    const auto focal = numberKey(f, "FOCALLEN");
    const auto area = numberKey(f, "APTAREA");
    const auto diameter = numberKey(f, "APTDIA");
    if (focal || area || diameter) hdr.unitsMetric = true;
    if (focal) hdr.focalLength = static_cast<float>(*focal / 10);
    if (area) hdr.apertureArea = static_cast<float>(*area / 100);
    if (diameter) hdr.apertureDiameter = static_cast<float>(*diameter / 10);
    if (const auto px = numberKey(f, "XPIXSZ")) hdr.pixelSize = static_cast<float>(*px / 1000);
    if (const auto gain = numberKey(f, "EGAIN"); gain && std::fabs(*gain) < 2e7)
        hdr.hdrEgainRaw = static_cast<std::int32_t>(roundHalfEven(*gain * 100));
    if (const auto filter = textKey(f, "FILTER")) hdr.filterName = *filter;
    if (const auto pedestal = numberKey(f, "PEDESTAL"); pedestal && std::fabs(*pedestal) < 2e9)
        hdr.hdrPedestal = static_cast<std::int32_t>(roundHalfEven(*pedestal));
}

std::vector<std::string> headerCards(fitsfile* f, int* status) {
    std::vector<std::string> cards;
    int count = 0, more = 0;
    fits_get_hdrspace(f, &count, &more, status);
    for (int i = 1; i <= count && *status == 0; ++i) {
        char card[FLEN_CARD] = {};
        fits_read_record(f, i, card, status);
        std::string text(card);
        while (!text.empty() && text.back() == ' ') text.pop_back();
        cards.push_back(std::move(text));
    }
    return cards;
}

// Moves to the HDU with the image: the primary one unless it is empty, else the first image
// extension. Returns an error text, "" when found.
std::string findImage(fitsfile* f) {
    int status = 0;
    for (;;) {
        int type = 0;
        fits_get_hdu_type(f, &type, &status);
        if (status != 0) return cannotRead(status);
        if (type == IMAGE_HDU || fits_is_compressed_image(f, &status)) {
            int naxis = 0;
            fits_get_img_dim(f, &naxis, &status);
            if (status != 0) return cannotRead(status);
            if (naxis > 0) return {};
        }
        fits_movrel_hdu(f, 1, nullptr, &status);
        if (status == END_OF_FILE) {
            fits_clear_errmsg();
            return "the FITS file holds no image";
        }
        if (status != 0) return cannotRead(status);
    }
}

std::string decode(fitsfile* f, std::uintmax_t fileSize, FitsImage& img) {
    if (std::string error = findImage(f); !error.empty()) return error;

    int status = 0, bitpix = 0, naxis = 0;
    LONGLONG axes[kMaxAxes] = {};
    fits_get_img_paramll(f, kMaxAxes, &bitpix, &naxis, axes, &status);
    if (status != 0) return cannotRead(status);
    std::string shape;
    bool flat = naxis >= 2 && naxis <= kMaxAxes;
    for (int i = 0; i < std::min(naxis, kMaxAxes); ++i) {
        shape += (i > 0 ? " x " : "") + std::to_string(axes[i]);
        if (i >= 2 && axes[i] != 1) flat = false;
    }
    if (!flat)
        return "the FITS image has " + std::to_string(naxis) + (naxis == 1 ? " axis (" : " axes (") +
               shape + "): only 2-D images can be opened";
    const LONGLONG width = axes[0], height = axes[1];
    if (width <= 0 || height <= 0) return "the FITS file holds no image";
    if (width > kFitsMaxSide || height > kFitsMaxSide)
        return "the FITS image is " + std::to_string(width) + " x " + std::to_string(height) +
               " pixels: the largest that can be opened is " + std::to_string(kFitsMaxSide) +
               " x " + std::to_string(kFitsMaxSide);

    // Compressed images are unpacked by CFITSIO, which notices their own truncation.
    if (!fits_is_compressed_image(f, &status)) {
        LONGLONG headStart = 0, dataStart = 0, dataEnd = 0;
        fits_get_hduaddrll(f, &headStart, &dataStart, &dataEnd, &status);
        if (status != 0) return cannotRead(status);
        const auto need = static_cast<std::uintmax_t>(dataStart) +
                          static_cast<std::uintmax_t>(std::abs(bitpix) / 8) *
                              static_cast<std::uintmax_t>(width) * static_cast<std::uintmax_t>(height);
        if (need > fileSize) return "the FITS file is truncated: its image data ends early";
    }

    std::vector<std::string> cards = headerCards(f, &status);
    if (status != 0) return cannotRead(status);

    img.width = static_cast<int>(width);
    img.height = static_cast<int>(height);
    img.bitpix = bitpix;
    img.pixels.recreate(img.width, img.height);
    const auto rowOrder = textKey(f, "ROWORDER");
    const bool topDown = rowOrder && *rowOrder == "TOP-DOWN";

    std::vector<double> row(static_cast<std::size_t>(width));
    LONGLONG first[kMaxAxes];
    std::fill(std::begin(first), std::end(first), 1);
    double blank = std::numeric_limits<double>::quiet_NaN();
    auto readRow = [&](LONGLONG y) {
        first[1] = y;
        int anyBlank = 0;
        fits_read_pixll(f, TDOUBLE, first, width, &blank, row.data(), &anyBlank, &status);
        return status == 0;
    };

    // Float data: its extent first, for the rule that maps it.
    double scale = 1, offset = 0;
    if (bitpix < 0) {
        double lo = std::numeric_limits<double>::infinity(), hi = -lo;
        for (LONGLONG y = 1; y <= height; ++y) {
            if (!readRow(y)) return cannotRead(status);
            for (double v : row)
                if (std::isfinite(v)) {
                    lo = std::min(lo, v);
                    hi = std::max(hi, v);
                }
        }
        if (lo > hi) {
            // Nothing defined: every sample 0.
        } else if (lo >= 0 && hi <= 1) {
            scale = 65535;
            img.conversion = "values 0..1 scaled to 0..65535";
        } else if (lo < 0 || hi > 65535) {
            scale = hi > lo ? 65535 / (hi - lo) : 0;
            offset = -lo * scale;
            img.conversion = "values " + numberText(lo) + ".." + numberText(hi) + " mapped onto 0..65535";
        }
    }

    for (LONGLONG y = 1; y <= height; ++y) {
        if (!readRow(y)) return cannotRead(status);
        auto cells = img.pixels.row(topDown ? static_cast<int>(y) : static_cast<int>(height - y + 1));
        for (std::size_t x = 0; x < row.size(); ++x) {
            double v = row[x];
            if (!std::isfinite(v)) {
                ++img.undefined;
                v = 0;
            }
            v = v * scale + offset;
            if (v < -0.5 || v > 65535.5) ++img.clipped;
            cells[x] = PixelArray::toCell(static_cast<std::int32_t>(roundHalfEvenClamped(v, 0, 65535)));
        }
    }

    // The data's full scale as samples.
    if (bitpix > 0 && img.conversion.empty()) {
        const double bscale = numberKey(f, "BSCALE").value_or(1);
        const double bzero = numberKey(f, "BZERO").value_or(0);
        const double top = bitpix == 8 ? 255 : std::ldexp(1.0, bitpix - 1) - 1;
        const double full = bscale > 0 ? top * bscale + bzero : bzero;
        if (full >= 1 && full < 65535) img.saturation = static_cast<std::int32_t>(std::floor(full));
    }
    if (img.conversion.empty())
        if (const auto sat = numberKey(f, "SATURATE"); sat && *sat >= 1 && *sat <= 65535)
            img.saturation = static_cast<std::int32_t>(std::floor(*sat));

    takeHeader(f, cards, img);
    img.cards = std::move(cards);
    return {};
}

std::string openFailure(int status, std::uintmax_t size) {
    if (size < 2880 || status == END_OF_FILE) {
        fits_clear_errmsg();
        return "the FITS file is truncated: its header ends early";
    }
    return cannotRead(status);
}

bool startsAsFits(std::span<const std::uint8_t> bytes) {
    static constexpr char kSimple[] = "SIMPLE  =";
    return bytes.size() >= sizeof kSimple - 1 &&
           std::memcmp(bytes.data(), kSimple, sizeof kSimple - 1) == 0;
}

FitsReadResult finish(fitsfile* f, std::uintmax_t size) {
    FitsReadResult result;
    result.error = decode(f, size, result.image);
    int status = 0;
    fits_close_file(f, &status);
    fits_clear_errmsg();
    if (!result.error.empty()) result.image = FitsImage{};
    return result;
}

}  // namespace

FitsReadResult decodeFits(std::span<const std::uint8_t> bytes) {
    if (!startsAsFits(bytes)) return {"the file is not a FITS file", {}};
    // CFITSIO reads memory in whole 2880-byte blocks, past the end of a file whose last block
    // lacks its padding: such a file is read from a padded copy.
    std::vector<std::uint8_t> padded;
    if (bytes.size() % 2880 != 0) {
        padded.assign(bytes.begin(), bytes.end());
        padded.resize((bytes.size() / 2880 + 1) * 2880, 0);
    }
    // Read only: CFITSIO neither writes nor grows the buffer.
    void* buffer = const_cast<std::uint8_t*>(padded.empty() ? bytes.data() : padded.data());
    std::size_t size = padded.empty() ? bytes.size() : padded.size();
    fitsfile* f = nullptr;
    int status = 0;
    if (fits_open_memfile(&f, "image.fits", READONLY, &buffer, &size, 0, nullptr, &status) != 0)
        return {openFailure(status, bytes.size()), {}};
    return finish(f, bytes.size());
}

FitsReadResult readFitsFile(const std::filesystem::path& path) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || !std::filesystem::is_regular_file(path, ec)) return {"the file cannot be read", {}};
    std::vector<std::uint8_t> start(std::min<std::uintmax_t>(size, 80));
    {
        std::FILE* in = std::fopen(path.string().c_str(), "rb");
        if (in == nullptr) return {"the file cannot be read", {}};
        const std::size_t got = std::fread(start.data(), 1, start.size(), in);
        std::fclose(in);
        start.resize(got);
    }
    if (!startsAsFits(start)) return {"the file is not a FITS file", {}};
    std::string name = path.string();
    fitsfile* f = nullptr;
    int status = 0;
    if (size % 2880 != 0) {
        // CFITSIO cannot read a file whose last block lacks its padding where it lies.
        const auto bytes = readWholeFile(path, kFitsMaxFileBytes);
        if (!bytes) return {"the FITS file is too large to be opened", {}};
        return decodeFits(*bytes);
    }
    // The disk form takes the name as it is: no CFITSIO filters or extended syntax.
    if (fits_open_diskfile(&f, name.data(), READONLY, &status) != 0)
        return {openFailure(status, size), {}};
    return finish(f, size);
}

}  // namespace kyr
