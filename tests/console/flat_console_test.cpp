// The Flat Field menu: loading the frame, refusals, and the corrected image.
#include <fstream>

#include "console_fixture.h"
#include "fakes/temp_dir.h"
#include "files/kyr_codec.h"

namespace kyr::test {
namespace {

class FlatConsoleTest : public ConsoleTest {
protected:
    TempDir dir;

    std::string writeFlat(const std::string& leaf, int w, int h, std::int32_t value) {
        PixelArray px(w, h);
        for (int y = 1; y <= h; ++y)
            for (int x = 1; x <= w; ++x) px.setCell(x, y, PixelArray::toCell(value));
        ImageHeader hdr;
        const auto bytes = encodeKyrFile(hdr, 900, 400, px, w, h);
        const std::string name = dir.name(leaf);
        std::ofstream(name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return name;
    }
    void setImage(int w, int h, std::int32_t value) {
        con.image.imageData.recreate(w, h);
        for (int y = 1; y <= h; ++y)
            for (int x = 1; x <= w; ++x) con.image.imageData.setCell(x, y, PixelArray::toCell(value));
        con.image.imageWidth = static_cast<std::int16_t>(w);
        con.image.imageHeight = static_cast<std::int16_t>(h);
    }
};

TEST_F(FlatConsoleTest, ConstantFlatCorrectsShownImageThenAutoContrast) {
    setImage(40, 30, 500);
    con.header.hdrPedestal = 100;
    con.track.trackSnapshotCount = 1;
    const std::string name = writeFlat("flat.KYR", 40, 30, 1100);
    ui.fileAnswers = {name};
    con.applyFlatField();
    EXPECT_EQ(ui.fileDialogs.at(0).mode, FileDialogMode::Open);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(con.files.imageFileName, name);
    EXPECT_EQ(con.image.imageData.sample(1, 1), 600);
    EXPECT_EQ(con.image.imageData.sample(40, 30), 600);
    EXPECT_FALSE(con.flat.showFlat);
    EXPECT_NE(std::find(ui.statusHistory.begin(), ui.statusHistory.end(), name + " loaded"),
              ui.statusHistory.end());
    EXPECT_NE(std::find(ui.statusHistory.begin(), ui.statusHistory.end(),
                        "Done with flat field correction"),
              ui.statusHistory.end());
    // Auto-contrast of a flat 600 image: bin 9 -> background 512 - 12, range 128.
    EXPECT_EQ(con.display.range, 128);
    EXPECT_EQ(con.display.background, 500);
    EXPECT_EQ(ui.pictureCount, 2);  // the flat frame, then the corrected image
}

TEST_F(FlatConsoleTest, RefusalsLeaveTheImageAlone) {
    setImage(40, 30, 500);
    // Cancel.
    con.applyFlatField();
    EXPECT_EQ(ui.messages.back(), "No file was selected");
    // Size mismatch: the flat frame stays on display.
    ui.fileAnswers = {writeFlat("small.KYR", 20, 30, 1100)};
    con.applyFlatField();
    EXPECT_EQ(ui.messages.back(), "Flat field dimensions do not match image!");
    EXPECT_TRUE(con.flat.showFlat);
    EXPECT_EQ(con.image.imageData.sample(1, 1), 500);
    // Too tall.
    ui.fileAnswers = {writeFlat("tall.KYR", 320, 201, 1100)};
    con.applyFlatField();
    EXPECT_EQ(ui.messages.back(), "Image is too tall - not KYR Format!");
    // A damaged file: no correction runs with whatever frame was there before.
    const std::string bad = dir.name("bad.KYR");
    std::ofstream(bad) << "KYR Compressed Image\n\rWidth =  40\n\r";
    ui.fileAnswers = {bad};
    con.flat.flatWidth = 40;
    con.flat.flatHeight = 30;
    con.applyFlatField();
    EXPECT_EQ(ui.messages.back(), "Flat field unsuccessfully loaded");
    EXPECT_EQ(con.image.imageData.sample(1, 1), 500);
    EXPECT_EQ(con.image.imageWidth, 40);
}

}  // namespace
}  // namespace kyr::test
