#pragma once
// The client side of a telnet connection with the COM-PORT-OPTION of RFC 2217, without I/O:
// bytes from the server go in, the line's bytes and the answers the client owes come out.
// Any front end that reaches a remote serial server (the Qt adapter, a driver on another
// event loop) puts its socket around this.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "link/line_settings.h"

namespace kyr {

namespace telnet {
inline constexpr std::uint8_t kSE = 240;
inline constexpr std::uint8_t kSB = 250;
inline constexpr std::uint8_t kWILL = 251;
inline constexpr std::uint8_t kWONT = 252;
inline constexpr std::uint8_t kDO = 253;
inline constexpr std::uint8_t kDONT = 254;
inline constexpr std::uint8_t kIAC = 255;

inline constexpr std::uint8_t kOptBinary = 0;
inline constexpr std::uint8_t kOptSuppressGoAhead = 3;
inline constexpr std::uint8_t kOptComPort = 44;

// COM-PORT-OPTION commands from the client; the server answers each with the same code
// plus kServerOffset and the value it put into effect.
inline constexpr std::uint8_t kSetBaudRate = 1;
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;
inline constexpr std::uint8_t kSetStopSize = 4;
inline constexpr std::uint8_t kServerOffset = 100;
}  // namespace telnet

class Rfc2217Client {
  public:
    using Bytes = std::vector<std::uint8_t>;
    enum class Negotiation { Pending, Done, Refused };

    Rfc2217Client();

    // The client's opening, sent once right after connecting: it offers COM-PORT-OPTION and
    // binary transmission and asks the server for binary transmission.
    Bytes start();
    // Done once the server took COM-PORT-OPTION and binary transmission both ways; Refused
    // (with refusal() saying which) when it declined one of them.
    Negotiation negotiation() const;
    const std::string& refusal() const { return refusal_; }

    // The line's bytes as they go to the server (0xFF doubled), appended to `wire`.
    static void encodeData(std::span<const std::uint8_t> data, Bytes& wire);
    // Bytes from the server, in any pieces: the line's bytes are appended to `data`, the
    // answers the client owes the server to `reply`. Negotiation and suboptions never reach
    // `data`.
    void receive(std::span<const std::uint8_t> wire, Bytes& data, Bytes& reply);

    // The SET-BAUDRATE, SET-DATASIZE, SET-PARITY and SET-STOPSIZE commands that put the
    // settings on the far port; the server's four answers are then awaited.
    Bytes requestSettings(const LineSettings& settings);
    bool settingsPending() const;
    // "" when every answer so far matched the request; else what the server did instead.
    const std::string& settingsFault() const { return settingsFault_; }

  private:
    // Where an option stands on one side (the RFC 1143 states a client needs: it never asks
    // to switch an option off).
    enum class Opt : std::uint8_t { No, Yes, WantYes };
    enum class Parse : std::uint8_t { Data, Iac, Verb, Sub, SubIac };
    struct Expected {
        bool pending = false;
        Bytes value;
    };

    void command(std::uint8_t verb, std::uint8_t option, Bytes& reply);
    void subnegotiation();
    void refused(const char* what);

    std::array<Opt, 256> us_{};   // options on our side (WILL / WONT)
    std::array<Opt, 256> him_{};  // options on the server's side (DO / DONT)
    Parse parse_ = Parse::Data;
    std::uint8_t verb_ = 0;
    Bytes sub_;
    bool subOverflow_ = false;
    std::array<Expected, 5> expected_{};  // by command 1..4
    std::string refusal_;
    std::string settingsFault_;
};

}  // namespace kyr
