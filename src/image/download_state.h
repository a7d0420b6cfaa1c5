#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "image/pixel_array.h"

namespace kyr {

inline constexpr int kScreenBuffer = 31;  // the device's current screen image
inline constexpr int kAuxRow = 200;       // device row 200: the extra data row
inline constexpr int kAuxLength = 320;

// The request/reply cycle of an image download.
struct DownloadState {
    std::int16_t imageBufferNumber = 0;
    std::int16_t currentRow = 0;
    std::int16_t requestFirstColumn = 0;
    std::int16_t requestColumnCount = 0;
    bool awaitingHeader = false;
    bool imageComplete = false;
    std::array<bool, 32> bufferFlags{};
    bool downloadAllActive = false;
    // A header was accepted and its rows are being fetched. A row packet that arrives
    // while this is false was not asked for and is dropped without a new request.
    bool receivingRows = false;
    // Images completed in the Download All under way; -1 when none is under way.
    int downloadAllImages = -1;

    // Rows carry no row number, so the answer to a repeated request would pass for the
    // next row. For the header or row awaited now: how many requests went out (the first
    // and its repeats), when the first did, and how many answers may still come.
    int requestsSent = 0;
    std::int64_t firstSentAtMs = 0;
    int answersDue = 0;
    // Copies of the last answer taken that may still arrive (its request went out more than
    // once); each that arrives byte for byte the same is dropped.
    int copiesDue = 0;
    std::vector<std::uint8_t> lastAnswer;
};

}  // namespace kyr
