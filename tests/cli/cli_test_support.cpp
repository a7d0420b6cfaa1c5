#include "cli_test_support.h"

#include <fitsio.h>

#include <cstdlib>
#include <regex>

namespace kyr::test {

FitsReadBack readFits(const std::string& name) {
    FitsReadBack out;
    fitsfile* f = nullptr;
    int& st = out.status;
    if (fits_open_file(&f, name.c_str(), READONLY, &st) != 0) return out;
    int naxis = 0;
    long axes[2] = {0, 0};
    fits_get_img_param(f, 2, &out.bitpix, &naxis, axes, &st);
    out.width = axes[0];
    out.height = axes[1];

    int nkeys = 0;
    fits_get_hdrspace(f, &nkeys, nullptr, &st);
    for (int i = 1; i <= nkeys && st == 0; ++i) {
        char card[FLEN_CARD] = {}, keyname[FLEN_KEYWORD] = {}, value[FLEN_VALUE] = {},
             comment[FLEN_COMMENT] = {};
        int len = 0;
        fits_read_record(f, i, card, &st);
        fits_get_keyname(card, keyname, &len, &st);
        if (std::string(keyname) == "COMMENT") {
            out.comments.emplace_back(card + 8);
            continue;
        }
        fits_parse_value(card, value, comment, &st);
        std::string v = value;
        if (v.size() >= 2 && v.front() == '\'') {
            char text[FLEN_VALUE] = {};
            fits_read_key_str(f, keyname, text, nullptr, &st);
            v = text;
        }
        out.keys.emplace_back(keyname, v);
    }

    const long n = out.width * out.height;
    out.samples.assign(static_cast<std::size_t>(n), 0);
    out.stored.assign(static_cast<std::size_t>(n), 0);
    int anynul = 0;
    fits_read_img(f, TUSHORT, 1, n, nullptr, out.samples.data(), &anynul, &st);
    fits_set_bscale(f, 1.0, 0.0, &st);
    fits_read_img(f, TSHORT, 1, n, nullptr, out.stored.data(), &anynul, &st);
    int closeStatus = 0;
    fits_close_file(f, &closeStatus);
    if (st == 0) st = closeStatus;
    return out;
}

std::string runFitsverify(const std::string& name, int& errors, int& warnings) {
    errors = warnings = -1;
    const std::string report = name + ".verify.txt";
    const std::string cmd = "fitsverify \"" + name + "\" > \"" + report + "\" 2>&1";
    if (std::system(cmd.c_str()) == -1) return {};
    const auto bytes = readBytes(report);
    std::filesystem::remove(report);
    const std::string text(bytes.begin(), bytes.end());
    std::smatch m;
    static const std::regex summary(R"(found (\d+) warning\(s\) and (\d+) error\(s\))");
    if (std::regex_search(text, m, summary)) {
        warnings = std::stoi(m[1]);
        errors = std::stoi(m[2]);
    }
    return text;
}

}  // namespace kyr::test
