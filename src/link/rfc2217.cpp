#include "link/rfc2217.h"

namespace kyr {

using namespace telnet;

namespace {

// Longest suboption kept; longer ones (a server's signature text) are read and dropped.
constexpr std::size_t kMaxSub = 256;

std::uint8_t parityCode(char parity) {
    switch (parity) {
        case 'O':
            return 2;
        case 'E':
            return 3;
        case 'M':
            return 4;
        case 'S':
            return 5;
        default:
            return 1;
    }
}

// A value of a command or an answer as the user would write it ("9600 baud").
std::string describe(std::uint8_t command, const std::vector<std::uint8_t>& v) {
    if (command == kSetBaudRate && v.size() == 4) {
        const std::uint32_t baud = (std::uint32_t{v[0]} << 24) | (std::uint32_t{v[1]} << 16) |
                                   (std::uint32_t{v[2]} << 8) | v[3];
        return std::to_string(baud) + " baud";
    }
    if (v.size() != 1) return "an answer of " + std::to_string(v.size()) + " bytes";
    const int n = v[0];
    switch (command) {
        case kSetDataSize:
            return std::to_string(n) + " data bits";
        case kSetParity: {
            static const char* const names[] = {"?", "N", "O", "E", "M", "S"};
            return std::string("parity ") + (n <= 5 ? names[n] : "?") + " (" + std::to_string(n) +
                   ")";
        }
        default:
            return (n == 3 ? std::string("1.5") : std::to_string(n)) + " stop bits";
    }
}

// Byte by byte: GCC 12 at -O3 warns falsely about inserting a list into an empty vector.
void put(std::vector<std::uint8_t>& out, std::uint8_t a, std::uint8_t b) {
    out.push_back(kIAC);
    out.push_back(a);
    out.push_back(b);
}

}  // namespace

Rfc2217Client::Rfc2217Client() {
    us_.fill(Opt::No);
    him_.fill(Opt::No);
}

Rfc2217Client::Bytes Rfc2217Client::start() {
    Bytes out;
    us_[kOptComPort] = Opt::WantYes;
    put(out, kWILL, kOptComPort);
    us_[kOptBinary] = Opt::WantYes;
    put(out, kWILL, kOptBinary);
    him_[kOptBinary] = Opt::WantYes;
    put(out, kDO, kOptBinary);
    return out;
}

Rfc2217Client::Negotiation Rfc2217Client::negotiation() const {
    if (!refusal_.empty()) return Negotiation::Refused;
    const bool done =
        us_[kOptComPort] == Opt::Yes && us_[kOptBinary] == Opt::Yes && him_[kOptBinary] == Opt::Yes;
    return done ? Negotiation::Done : Negotiation::Pending;
}

void Rfc2217Client::encodeData(std::span<const std::uint8_t> data, Bytes& wire) {
    wire.reserve(wire.size() + data.size());
    for (std::uint8_t b : data) {
        wire.push_back(b);
        if (b == kIAC) wire.push_back(kIAC);
    }
}

void Rfc2217Client::receive(std::span<const std::uint8_t> wire, Bytes& data, Bytes& reply) {
    for (std::uint8_t b : wire) {
        switch (parse_) {
            case Parse::Data:
                if (b == kIAC)
                    parse_ = Parse::Iac;
                else
                    data.push_back(b);
                break;
            case Parse::Iac:
                parse_ = Parse::Data;
                if (b == kIAC) {
                    data.push_back(kIAC);
                } else if (b >= kWILL) {
                    verb_ = b;
                    parse_ = Parse::Verb;
                } else if (b == kSB) {
                    sub_.clear();
                    subOverflow_ = false;
                    parse_ = Parse::Sub;
                }
                // Other commands (NOP, GA, a stray SE, ...) carry nothing for the line.
                break;
            case Parse::Verb:
                parse_ = Parse::Data;
                command(verb_, b, reply);
                break;
            case Parse::Sub:
                if (b == kIAC) {
                    parse_ = Parse::SubIac;
                } else if (sub_.size() < kMaxSub) {
                    sub_.push_back(b);
                } else {
                    subOverflow_ = true;
                }
                break;
            case Parse::SubIac:
                if (b == kIAC) {
                    parse_ = Parse::Sub;
                    if (sub_.size() < kMaxSub)
                        sub_.push_back(kIAC);
                    else
                        subOverflow_ = true;
                } else if (b == kSE) {
                    parse_ = Parse::Data;
                    if (!subOverflow_) subnegotiation();
                } else {
                    // An unterminated suboption: drop it and take the command that follows.
                    parse_ = Parse::Iac;
                    receive(std::span<const std::uint8_t>(&b, 1), data, reply);
                }
                break;
        }
    }
}

void Rfc2217Client::command(std::uint8_t verb, std::uint8_t option, Bytes& reply) {
    const bool oursOk =
        option == kOptBinary || option == kOptSuppressGoAhead || option == kOptComPort;
    const bool hisOk = option == kOptBinary || option == kOptSuppressGoAhead;
    // Only a change of state is answered, so that two sides never echo each other forever.
    switch (verb) {
        case kWILL:
            if (him_[option] == Opt::WantYes) {
                him_[option] = Opt::Yes;
            } else if (him_[option] == Opt::No) {
                if (hisOk) him_[option] = Opt::Yes;
                put(reply, hisOk ? kDO : kDONT, option);
            }
            break;
        case kWONT:
            if (him_[option] == Opt::Yes) put(reply, kDONT, option);
            if (him_[option] == Opt::WantYes && option == kOptBinary)
                refused("binary transmission from the server");
            him_[option] = Opt::No;
            break;
        case kDO:
            if (us_[option] == Opt::WantYes) {
                us_[option] = Opt::Yes;
            } else if (us_[option] == Opt::No) {
                if (oursOk) us_[option] = Opt::Yes;
                put(reply, oursOk ? kWILL : kWONT, option);
            }
            break;
        case kDONT:
            if (us_[option] == Opt::Yes) put(reply, kWONT, option);
            if (us_[option] == Opt::WantYes) {
                if (option == kOptComPort) refused("RFC 2217 (COM-PORT-OPTION)");
                if (option == kOptBinary) refused("binary transmission to the server");
            }
            us_[option] = Opt::No;
            break;
        default:
            break;
    }
}

void Rfc2217Client::refused(const char* what) {
    if (refusal_.empty()) refusal_ = std::string("the server refuses ") + what;
}

void Rfc2217Client::subnegotiation() {
    // Only the answers to our settings matter; line and modem state notices, flow control
    // and signatures are not the console's business.
    if (sub_.size() < 2 || sub_[0] != kOptComPort) return;
    const int answer = sub_[1] - kServerOffset;
    if (answer < kSetBaudRate || answer > kSetStopSize) return;
    auto& expected = expected_[static_cast<std::size_t>(answer)];
    if (!expected.pending) return;
    expected.pending = false;
    const Bytes got(sub_.begin() + 2, sub_.end());
    if (got != expected.value && settingsFault_.empty()) {
        const auto cmd = static_cast<std::uint8_t>(answer);
        settingsFault_ =
            "the server set " + describe(cmd, got) + " instead of " + describe(cmd, expected.value);
    }
}

Rfc2217Client::Bytes Rfc2217Client::requestSettings(const LineSettings& s) {
    const auto baud = static_cast<std::uint32_t>(s.baud);
    const Bytes values[] = {
        {},
        {static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
         static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)},
        {static_cast<std::uint8_t>(s.dataBits)},
        {parityCode(s.parity)},
        {static_cast<std::uint8_t>(s.stopBits == 2 ? 2 : 1)},
    };
    settingsFault_.clear();
    Bytes out;
    for (std::uint8_t cmd = kSetBaudRate; cmd <= kSetStopSize; ++cmd) {
        expected_[cmd] = {true, values[cmd]};
        put(out, kSB, kOptComPort);
        out.push_back(cmd);
        encodeData(values[cmd], out);
        out.push_back(kIAC);
        out.push_back(kSE);
    }
    return out;
}

bool Rfc2217Client::settingsPending() const {
    for (const auto& e : expected_)
        if (e.pending) return true;
    return false;
}

}  // namespace kyr
