// Answers to repeated requests, and how long the reply timer waits.
//
// Rows carry no row number: when the timer repeats a request and both copies are answered,
// the second answer looks like the next row. The console therefore counts the answers still
// due for each request and drops a copy that is byte for byte the answer it just took. Should
// a genuine next row be identical and be dropped, the timer asks for it again: slower, never
// a row out of place.
#include <algorithm>

#include "console/console.h"

namespace kyr {

void Console::setReplyIntervals(int reply, int transfer) {
    link.replyTimeout = static_cast<std::int16_t>(reply);
    link.transferTimeout = static_cast<std::int16_t>(transfer);
    link.roundTrip.setFloors(reply, transfer);
}

void Console::lineOpened() {
    link.networkLine = port_.networkLine();
    link.roundTrip.reset();
    download.requestsSent = 0;
    download.answersDue = 0;
    download.copiesDue = 0;
    download.lastAnswer.clear();
}

int Console::replyInterval() const {
    return link.networkLine ? link.roundTrip.replyIntervalMs() : link.replyTimeout;
}

int Console::pieceInterval() const {
    return link.networkLine ? link.roundTrip.pieceIntervalMs() : link.transferTimeout;
}

int Console::uploadInterval() const {
    if (!link.networkLine) return link.transferTimeout;
    // A page sent twice reaches the device twice, and neither side can tell the repeat from
    // the next page: on a network line a page goes again only once its answer is surely lost.
    constexpr int kNetworkPageWaitMs = 2000;
    return std::max({static_cast<int>(link.transferTimeout), link.roundTrip.replyIntervalMs(),
                     kNetworkPageWaitMs});
}

void Console::awaitFirstAnswer() {
    download.requestsSent = 1;
    download.answersDue = 1;
    download.firstSentAtMs = clock_.steadyMs();
    restartReplyTimer(replyInterval());
}

void Console::requestRepeated() {
    ++download.requestsSent;
    ++download.answersDue;
}

void Console::answerTaken() {
    // Karn's rule: only a request sent once times the round trip.
    link.roundTrip.answered(download.firstSentAtMs, clock_.steadyMs(), download.requestsSent == 1);
    download.copiesDue = std::max(0, download.answersDue - 1);
    download.answersDue = 0;
    const std::size_t n = static_cast<std::size_t>(std::min<int>(rx.packetSize(), rx.rxCount));
    download.lastAnswer.assign(rx.rxBuffer.begin(), rx.rxBuffer.begin() + static_cast<long>(n));
}

void Console::repeatAfterBadAnswer() {
    // It may have been a copy still due rather than the answer awaited; counting it as the
    // copy keeps one more answer expected, which can only make the console slower.
    if (download.copiesDue > 0)
        --download.copiesDue;
    else if (download.answersDue > 0)
        --download.answersDue;
    requestRepeated();
    restartReplyTimer(replyInterval());
}

void Console::dropUnaskedAnswer() {
    if (!rx.complete()) return;
    rx.removePacket(rx.packetSize());
    if (download.copiesDue > 0) --download.copiesDue;
}

bool Console::dropCopyOfLastAnswer() {
    if (download.copiesDue <= 0) return false;
    const int n = rx.packetSize();
    const bool same = static_cast<int>(download.lastAnswer.size()) == n &&
                      std::equal(download.lastAnswer.begin(), download.lastAnswer.end(),
                                 rx.rxBuffer.begin());
    if (!same) {
        // Something new: the copies were lost on the way.
        download.copiesDue = 0;
        return false;
    }
    --download.copiesDue;
    rx.removePacket(n);
    return true;
}

}  // namespace kyr
