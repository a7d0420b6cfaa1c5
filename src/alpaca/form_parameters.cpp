#include "alpaca/form_parameters.h"

#include "alpaca/http_request.h"

namespace kyr::alpaca {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<std::string> formDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c == '%') {
            if (text.size() - i < 3) return std::nullopt;
            const int hi = hexValue(text[i + 1]);
            const int lo = hexValue(text[i + 2]);
            if (hi < 0 || lo < 0) return std::nullopt;
            out.push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::optional<FormParameters> FormParameters::parse(std::string_view text) {
    FormParameters params;
    while (!text.empty()) {
        const std::size_t amp = text.find('&');
        const std::string_view pair = text.substr(0, amp);
        text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
        if (pair.empty()) continue;
        const std::size_t eq = pair.find('=');
        auto name = formDecode(pair.substr(0, eq));
        auto value = formDecode(eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1));
        if (!name || !value) return std::nullopt;
        params.items_.emplace_back(std::move(*name), std::move(*value));
    }
    return params;
}

std::optional<std::string_view> FormParameters::find(std::string_view name) const {
    for (const auto& [n, v] : items_)
        if (equalsNoCase(n, name)) return std::string_view(v);
    return std::nullopt;
}

}  // namespace kyr::alpaca
