#pragma once
// The packet types of the line, one enumeration per direction: several codes mean different
// things in each direction (9 is the display text from the device and the link request to it).

#include <cstdint>

namespace kyr {

// Device to console.
enum class DevicePacket : std::uint8_t {
    ScreenImageOffer = 0,  // header only: the device offers the image on its screen
    FlashDownload = 1,     // header only: the device is sending its stored buffers
    BufferReport = 3,      // masks of the filled buffers
    ImageHeader = 4,       // the image header record
    RawRow = 5,            // one image row, uncompressed (also the extra data row)
    Acknowledge = 6,       // header only: a key, the link request or an upload packet
    CompressedRow = 7,     // one image row, compressed
    DisplayText = 9,       // the 2x24 display
    NotUnderstood = 21,    // header only: the last command was not understood
    LinkConfirmed = 254,   // header only
    LinkRequest = 255,     // header only: the device asks for a link
};

// Console to device.
enum class HostPacket : std::uint8_t {
    DeclineTransfer = 1,       // answer to a flash notice or buffer report without auto-save
    EndOfTransfer = 2,         // the image transfer is over
    BufferReportRequest = 3,   // "Download All": report the filled buffers
    HeaderRequest = 4,         // the header of a buffer
    RawRowRequest = 5,         // the extra data row 200
    CompressedRowRequest = 7,  // an image row
    Keypress = 8,              // a front-panel key mask
    LinkRequest = 9,           // flag 1: link on, 0: link off
    SaveAck = 11,              // 0: saved, 1: not saved
    FirmwareFinal = 250,       // the upload's final block with the file's CRC
    FirmwarePage = 252,        // one 512-byte firmware page
    FirmwareStart = 253,       // the upload begins
    LinkAccept = 254,          // answer to the device's link request
};

constexpr std::uint8_t code(DevicePacket t) {
    return static_cast<std::uint8_t>(t);
}
constexpr std::uint8_t code(HostPacket t) {
    return static_cast<std::uint8_t>(t);
}

}  // namespace kyr
