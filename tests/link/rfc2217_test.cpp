#include "link/rfc2217.h"

#include <gtest/gtest.h>

namespace kyr::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Negotiation = Rfc2217Client::Negotiation;

TEST(Rfc2217Client, NegotiatesWhatTheLinkNeedsAndRefusesEverythingElse) {
    Rfc2217Client c;
    // WILL COM-PORT-OPTION, WILL BINARY, DO BINARY.
    EXPECT_EQ(c.start(), (Bytes{255, 251, 44, 255, 251, 0, 255, 253, 0}));
    // A serial server's opening (as recorded from one), one byte per read: WILL SGA, DO SGA,
    // WILL ECHO, DONT ECHO, DO BINARY, WILL BINARY, DO COM-PORT-OPTION; then two options
    // nobody asked for, and repeats that must not be answered again.
    const Bytes opening{255, 251, 3,   255, 253, 3,   255, 251, 1,   255, 254,
                        1,   255, 253, 0,   255, 251, 0,   255, 253, 44,  255,
                        253, 24,  255, 251, 31,  255, 251, 3,   255, 253, 44};
    Bytes data, reply;
    for (std::size_t i = 0; i < opening.size(); ++i) {
        EXPECT_EQ(c.negotiation(), i < 21 ? Negotiation::Pending : Negotiation::Done) << i;
        c.receive(Bytes{opening[i]}, data, reply);
    }
    EXPECT_EQ(data, Bytes{});
    EXPECT_EQ(reply, (Bytes{255, 253, 3, 255, 251, 3, 255, 254, 1, 255, 252, 24, 255, 254, 31}));

    Rfc2217Client plainTelnet;
    plainTelnet.start();
    plainTelnet.receive(Bytes{255, 253, 0, 255, 251, 0, 255, 254, 44}, data, reply);
    EXPECT_EQ(plainTelnet.negotiation(), Negotiation::Refused);
    EXPECT_EQ(plainTelnet.refusal(), "the server refuses RFC 2217 (COM-PORT-OPTION)");
}

TEST(Rfc2217Client, LineBytesPassExactlyWithTelnetFramingTakenOut) {
    Bytes wire;
    Rfc2217Client::encodeData(Bytes{165, 255, 0, 255, 255, 13, 10}, wire);
    EXPECT_EQ(wire, (Bytes{165, 255, 255, 0, 255, 255, 255, 255, 13, 10}));

    Rfc2217Client c;
    c.start();
    Bytes data, reply;
    // A doubled 0xFF split between reads, a modem-state notice split across three reads
    // with an escaped 0xFF inside, a NOP and a go-ahead among the data.
    for (const Bytes& read : {Bytes{1, 255}, Bytes{255, 2, 255, 250, 44}, Bytes{107, 255},
                              Bytes{255, 255, 240, 3, 255, 241, 4, 255, 249, 255}, Bytes{255}})
        c.receive(read, data, reply);
    EXPECT_EQ(data, (Bytes{1, 255, 2, 3, 4, 255}));
    EXPECT_EQ(reply, Bytes{});
}

TEST(Rfc2217Client, SettingsGoOutAsTheFourCommandsAndEveryAnswerIsChecked) {
    Rfc2217Client c;
    c.start();
    EXPECT_EQ(c.requestSettings(*parseLineSettings("9600,N,8,2")),
              (Bytes{255, 250, 44, 1, 0, 0,   37,  128, 255, 240,  // SET-BAUDRATE 9600
                     255, 250, 44, 2, 8, 255, 240,                 // SET-DATASIZE 8
                     255, 250, 44, 3, 1, 255, 240,                 // SET-PARITY NONE
                     255, 250, 44, 4, 2, 255, 240}));              // SET-STOPSIZE 2
    Bytes data, reply;
    c.receive(Bytes{255, 250, 44,  101, 0,  0,   37, 128, 255, 240, 5,   255, 250, 44, 102, 8,
                    255, 240, 255, 250, 44, 103, 1,  255, 240, 255, 250, 44,  104, 2,  255},
              data, reply);
    EXPECT_TRUE(c.settingsPending());
    c.receive(Bytes{240}, data, reply);
    EXPECT_FALSE(c.settingsPending());
    EXPECT_EQ(c.settingsFault(), "");
    EXPECT_EQ(data, Bytes{5});

    // The server keeps 57600 for 115200 (and answers in another order).
    const Bytes request = c.requestSettings(*parseLineSettings("115200,E,7,1"));
    EXPECT_EQ(Bytes(request.begin() + 4, request.begin() + 8), (Bytes{0, 1, 194, 0}));
    EXPECT_EQ((Bytes{request[14], request[21], request[28]}), (Bytes{7, 3, 1}));
    c.receive(Bytes{255, 250, 44, 104, 1,   255, 240, 255, 250, 44, 102, 7,   255, 240, 255, 250,
                    44,  103, 3,  255, 240, 255, 250, 44,  101, 0,  0,   225, 0,   255, 240},
              data, reply);
    EXPECT_FALSE(c.settingsPending());
    EXPECT_EQ(c.settingsFault(), "the server set 57600 baud instead of 115200 baud");
    EXPECT_EQ(reply, Bytes{});
}

}  // namespace
}  // namespace kyr::test
