#pragma once
// Alpaca parameters: name=value pairs in a GET's query string or a PUT's
// application/x-www-form-urlencoded body. Names compare without case, as clients may send
// "ClientID", "clientid" or "CLIENTID".

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kyr::alpaca {

// '+' is a space and %XX a byte; nullopt for a broken escape.
std::optional<std::string> formDecode(std::string_view text);

class FormParameters {
  public:
    // nullopt when an escape is broken (the request is then malformed).
    static std::optional<FormParameters> parse(std::string_view text);

    // The first value given for the name, whatever its case.
    std::optional<std::string_view> find(std::string_view name) const;

  private:
    std::vector<std::pair<std::string, std::string>> items_;
};

}  // namespace kyr::alpaca
