// The Console's image handlers driven through the fakes.
#include <gtest/gtest.h>

#include "console/console.h"
#include "fakes/fakes.h"
#include "image/header_parse.h"
#include "image_payloads.h"
#include "link/packet.h"

namespace kyr {
namespace {

using test::Bytes;

class ConsoleImage : public ::testing::Test {
  protected:
    test::FakeSerialPort port;
    test::FakeUi ui;
    test::FakeReplyTimer timer;
    test::FakeClock clock;
    test::FakeScheduler scheduler;
    Console con{port, ui, timer, clock, scheduler};

    // Puts a whole packet at the front of rxBuffer, as the framing loop leaves it.
    void putPacket(std::uint8_t type, const Bytes& payload) {
        const Bytes packet = buildPacket(type, payload);
        ASSERT_LE(packet.size(), con.rx.rxBuffer.size());
        std::copy(packet.begin(), packet.end(), con.rx.rxBuffer.begin());
        con.rx.rxCount = static_cast<std::int16_t>(packet.size());
        con.rx.headerValid = true;
    }

    // An image of the given size being downloaded from device row firstRow.
    void startImage(int width, int height, int firstRow) {
        con.header.hdrWidth = static_cast<std::int16_t>(width);
        con.header.hdrHeight = static_cast<std::int16_t>(height);
        con.header.hdrFirstRow = static_cast<std::int16_t>(firstRow);
        con.image.imageData.recreate(width, height);
    }

    std::vector<std::int16_t> row(int r) {
        const auto cells = con.image.imageData.row(r);
        return {cells.begin(), cells.end()};
    }
};

TEST_F(ConsoleImage, HeaderFillsRecordDisplaySettingsAndPanel) {
    test::HeaderFields f;
    f.withFilter = true;
    f.filterCode = 5;
    putPacket(4, test::headerPayload(f));
    con.header.hdrHasFilterByte = true;
    con.parseImageHeader();

    EXPECT_EQ(con.header.hdrHeight, 100);
    EXPECT_EQ(con.header.hdrWidth, 200);
    EXPECT_EQ(con.header.filterName, "Clear");
    EXPECT_EQ(con.display.background, 1000);
    EXPECT_EQ(con.display.range, 512);
    EXPECT_EQ(ui.headerText, imageInformationPanel(con.header, 1000, 512));
    EXPECT_NE(ui.headerText.find("Filter = Clear\r\nEnd"), std::string::npos);
    // The rx state belongs to the dispatcher.
    EXPECT_TRUE(con.rx.headerValid);
    EXPECT_EQ(con.rx.rxCount, 44 + 8);

    // The filter byte is ignored when the caller says the payload has none.
    f.filterCode = 2;
    putPacket(4, test::headerPayload(f));
    con.header.hdrHasFilterByte = false;
    con.parseImageHeader();
    EXPECT_EQ(con.header.filterName, "None");
}

TEST_F(ConsoleImage, ZeroHeightHeaderKeepsPanelAndSettings) {
    ui.headerText = "Image Information";
    con.header.hdrWidth = 33;
    con.display.background = 7;
    con.display.range = 9;
    test::HeaderFields f;
    f.height = 0;
    putPacket(4, test::headerPayload(f));
    con.parseImageHeader();
    EXPECT_EQ(con.header.hdrHeight, 0);
    EXPECT_EQ(con.header.hdrWidth, 33);
    EXPECT_EQ(con.display.background, 7);
    EXPECT_EQ(con.display.range, 9);
    EXPECT_EQ(ui.headerText, "Image Information");
    EXPECT_TRUE(ui.statusHistory.empty());  // "no image" ends the cycle silently
}

TEST_F(ConsoleImage, RowsGoToTheRowOfCurrentRow) {
    startImage(5, 3, 10);
    con.download.currentRow = 11;  // image row 2
    putPacket(7, {0x10, 0x00, 0x05, 0x7E, 0x81, 0x00, 0xC1, 0x00});
    ASSERT_TRUE(con.decodeCompressedRow());
    EXPECT_EQ(row(2), (std::vector<std::int16_t>{16, 21, 19, 275, 1024}));
    EXPECT_EQ(row(1), std::vector<std::int16_t>(5, 0));
    EXPECT_EQ(con.download.currentRow, 11);  // the dispatcher advances it
    EXPECT_EQ(con.rx.rxCount, 8 + 8);

    con.download.currentRow = 12;
    putPacket(5, test::rawPayload({1, 2, 3, 40000, 65535}));
    ASSERT_TRUE(con.decodeRawRow());
    EXPECT_EQ(row(3), (std::vector<std::int16_t>{1, 2, 3, -25536, -1}));

    // Rows outside the image are bad rows.
    con.download.currentRow = 9;
    EXPECT_FALSE(con.decodeRawRow());
    con.download.currentRow = 13;
    putPacket(7, {1, 0, 1, 1, 1, 1});
    EXPECT_FALSE(con.decodeCompressedRow());
}

TEST_F(ConsoleImage, TruncatedRowsAreRefusedAndLeaveTheImageAlone) {
    startImage(5, 1, 0);
    con.download.currentRow = 0;
    con.image.imageData.setCell(1, 1, 77);
    // Three codes for four columns: the checksum bytes after the payload are not codes.
    putPacket(7, {1, 0, 1, 1, 1});
    EXPECT_FALSE(con.decodeCompressedRow());
    EXPECT_EQ(row(1), (std::vector<std::int16_t>{77, 0, 0, 0, 0}));

    putPacket(5, test::rawPayload({1, 2, 3, 4}));
    EXPECT_FALSE(con.decodeRawRow());
    EXPECT_EQ(row(1), (std::vector<std::int16_t>{77, 0, 0, 0, 0}));

    // The width disagreeing with the array: refused, not written past the row.
    con.header.hdrWidth = 6;
    putPacket(5, test::rawPayload({1, 2, 3, 4, 5, 6}));
    EXPECT_FALSE(con.decodeRawRow());
    EXPECT_EQ(row(1)[0], 77);
}

TEST_F(ConsoleImage, ExtraDataRowGoesToAuxData) {
    startImage(5, 3, 10);
    con.download.currentRow = 200;
    std::vector<std::uint16_t> samples(320);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint16_t>(i + 1);
    samples[0] = 65000;
    putPacket(5, test::rawPayload(samples));
    ASSERT_TRUE(con.decodeRawRow());
    EXPECT_EQ(con.image.auxData[1], 65000);
    EXPECT_EQ(con.image.auxData[320], 320);
    for (int r = 1; r <= 3; ++r) EXPECT_EQ(row(r), std::vector<std::int16_t>(5, 0));

    // Short extra data row, or a compressed one: refused.
    const auto before = con.image.auxData;
    putPacket(5, test::rawPayload(std::vector<std::uint16_t>(319, 9)));
    EXPECT_FALSE(con.decodeRawRow());
    putPacket(7, Bytes(700, 0));
    EXPECT_FALSE(con.decodeCompressedRow());
    EXPECT_EQ(con.image.auxData, before);
}

TEST_F(ConsoleImage, RenderDrawsImageOrFlatAndShowsTheSettings) {
    con.image.imageData.recreate(200, 100);
    con.image.imageData.setCell(1, 1, PixelArray::toCell(1510));
    con.image.imageWidth = 200;
    con.image.imageHeight = 100;
    con.display.background = 1000;
    con.display.range = 512;
    con.renderImage();
    EXPECT_TRUE(con.display.imageShown);
    EXPECT_EQ(con.display.displayOffsetX, 60);
    EXPECT_EQ(con.display.displayOffsetY, 50);
    EXPECT_EQ(ui.pictureCount, 1);
    EXPECT_EQ(ui.picture, con.display.picture);
    EXPECT_EQ(ui.picture.at(60, 50), 255);
    EXPECT_EQ(ui.status, "Background = 1000\r\nRange = 512");

    // The flat-field view draws the flat frame with its own size.
    con.flat.flatData.recreate(100, 50);
    con.flat.flatData.setCell(1, 1, PixelArray::toCell(1003));
    con.flat.flatWidth = 100;
    con.flat.flatHeight = 50;
    con.flat.showFlat = true;
    con.renderImage();
    EXPECT_EQ(con.display.displayOffsetX, 110);
    EXPECT_EQ(con.display.displayOffsetY, 75);
    EXPECT_EQ(ui.picture.at(110, 75), 2);
    EXPECT_EQ(ui.picture.at(60, 50), 0);

    // A zero range never divides by zero.
    con.flat.showFlat = false;
    con.display.range = 0;
    con.renderImage();
    EXPECT_EQ(ui.picture.at(60, 50), 255);
    EXPECT_EQ(ui.picture.at(61, 50), 0);
    EXPECT_EQ(ui.status, "Background = 1000\r\nRange = 0");
}

TEST_F(ConsoleImage, ContrastDialogRules) {
    con.image.imageData.recreate(2, 2);
    con.image.imageWidth = 2;
    con.image.imageHeight = 2;
    con.display.background = 100;
    con.display.range = 512;
    auto answer = [this](std::string bg, std::string range) {
        ui.contrastInput = [bg, range](std::string& b, std::string& r) {
            b = bg;
            r = range;
        };
        con.adjustContrast();
    };

    answer(" 100", " 512");  // Done without changes still redraws
    ASSERT_EQ(ui.contrastShown.size(), 1u);
    EXPECT_EQ(ui.contrastShown[0], (std::pair<std::string, std::string>{" 100", " 512"}));
    EXPECT_EQ(ui.pictureCount, 1);

    answer("", "999");  // empty background: nothing changes
    EXPECT_EQ(con.display.background, 100);
    EXPECT_EQ(con.display.range, 512);
    EXPECT_EQ(ui.pictureCount, 1);

    answer(" 250 ", "");  // background alone: kept, no redraw
    EXPECT_EQ(con.display.background, 250);
    EXPECT_EQ(con.display.range, 512);
    EXPECT_EQ(ui.pictureCount, 1);

    answer("-30", "+1024");
    EXPECT_EQ(con.display.background, -30);
    EXPECT_EQ(con.display.range, 1024);
    EXPECT_EQ(ui.pictureCount, 2);
    EXPECT_EQ(ui.status, "Background =-30\r\nRange = 1024");

    // Bad entries: a message, the old values, no redraw.
    answer("abc", "5");
    EXPECT_EQ(ui.messages.back(), "Background must be a whole number");
    answer("300", "0");
    EXPECT_EQ(ui.messages.back(), "Range must be a non-zero whole number");
    answer("300", "1.5");
    EXPECT_EQ(ui.messages.back(), "Range must be a non-zero whole number");
    answer("99999999999", "");
    EXPECT_EQ(ui.messages.back(), "Background must be a whole number");
    EXPECT_EQ(ui.messages.size(), 4u);
    EXPECT_EQ(con.display.background, -30);
    EXPECT_EQ(con.display.range, 1024);
    EXPECT_EQ(ui.pictureCount, 2);

    // The dialog shows the current values as signed texts.
    EXPECT_EQ(ui.contrastShown.back(), (std::pair<std::string, std::string>{"-30", " 1024"}));
}

TEST_F(ConsoleImage, AutoContrastUsesImageDataAndRedraws) {
    con.image.imageData.recreate(20, 10);
    for (int r = 1; r <= 10; ++r)
        for (int c = 1; c <= 20; ++c) con.image.imageData.setCell(c, r, 5000);
    con.image.imageWidth = 20;
    con.image.imageHeight = 10;
    // The flat view is drawn, but the histogram comes from imageData.
    con.flat.flatData.recreate(2, 2);
    con.flat.flatWidth = 2;
    con.flat.flatHeight = 2;
    con.flat.showFlat = true;
    con.autoContrast();
    EXPECT_EQ(con.display.background, 4916);
    EXPECT_EQ(con.display.range, 128);
    EXPECT_EQ(ui.pictureCount, 1);
    EXPECT_EQ(con.display.displayOffsetX, 159);
    EXPECT_EQ(ui.status, "Background = 4916\r\nRange = 128");
}

TEST_F(ConsoleImage, AutoContrastWithoutAnImageChangesNothing) {
    con.display.background = 5;
    con.display.range = 6;
    con.autoContrast();
    EXPECT_EQ(con.display.background, 5);
    EXPECT_EQ(con.display.range, 6);
    EXPECT_EQ(ui.pictureCount, 0);
    EXPECT_FALSE(con.display.imageShown);
    EXPECT_EQ(ui.status, "No image to adjust: download or load an image first");
}

TEST_F(ConsoleImage, StretchAndZscaleChangeOnlyWhatIsShown) {
    con.image.imageData.recreate(320, 200);
    for (int r = 1; r <= 200; ++r)
        for (int c = 1; c <= 320; ++c)
            con.image.imageData.setCell(c, r, static_cast<std::int16_t>(1000 + c));
    con.image.imageWidth = 320;
    con.image.imageHeight = 200;
    const PixelArray samples = con.image.imageData;
    con.display.background = 1000;
    con.display.range = 512;
    con.display.stretch = Stretch::SquareRoot;
    con.renderImage();
    EXPECT_EQ(con.display.picture.at(255, 0), 181);  // sample 1256: t = 0.5
    EXPECT_EQ(ui.picture, con.display.picture);

    con.autoContrastZscale();
    EXPECT_EQ(con.display.background, 1001);
    EXPECT_EQ(con.display.range, 319);
    EXPECT_EQ(ui.status, "Background = 1001\r\nRange = 319");
    EXPECT_EQ(con.image.imageData, samples);

    con.image.imageWidth = 0;
    con.autoContrastZscale();
    EXPECT_EQ(ui.status, "No image to adjust: download or load an image first");
}

TEST_F(ConsoleImage, MouseMoveReadout) {
    con.image.imageData.recreate(200, 100);
    con.image.imageData.setCell(1, 1, -2);
    con.image.imageWidth = 200;
    con.image.imageHeight = 100;

    // Before any drawing nothing changes.
    ui.status = "before";
    con.readOutPixelAt(61, 51);
    EXPECT_EQ(ui.pointerChanges, 0);
    EXPECT_EQ(ui.status, "before");

    con.display.range = 256;
    con.renderImage();
    con.readOutPixelAt(61, 51);
    EXPECT_EQ(ui.pointer, MousePointer::Crosshair);
    EXPECT_EQ(ui.status, "Pixel position ( 1,  1) =  65534");

    const std::string shown = ui.status;
    con.readOutPixelAt(60, 51);
    EXPECT_EQ(ui.pointer, MousePointer::Default);
    EXPECT_EQ(ui.status, shown);  // the last readout stays
    EXPECT_EQ(ui.pointerChanges, 2);

    // The readout follows imageData even while the flat frame is shown.
    con.flat.flatData.recreate(320, 200);
    con.flat.flatWidth = 320;
    con.flat.flatHeight = 200;
    con.flat.showFlat = true;
    con.renderImage();
    con.readOutPixelAt(1, 1);
    EXPECT_EQ(ui.status, "Pixel position ( 1,  1) =  65534");
}

}  // namespace
}  // namespace kyr
