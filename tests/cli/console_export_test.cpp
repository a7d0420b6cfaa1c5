// The window's export handlers on a Console with the fakes: FITS, PNG and the image-size bitmap.
#include <gtest/gtest.h>

#include "cli_test_support.h"
#include "console/console.h"
#include "fakes/fakes.h"
#include "image/render.h"

namespace kyr::test {
namespace {

// A PNG encoder that records the picture it was given and returns marker bytes.
class RecordingEncoder : public ImageEncoder {
  public:
    std::vector<std::uint8_t> encodePng(const Picture& picture) override {
        pictures.push_back(picture);
        return fail ? std::vector<std::uint8_t>{} : std::vector<std::uint8_t>{0x89, 'P', 'N', 'G'};
    }
    std::vector<Picture> pictures;
    bool fail = false;
};

class ExportTest : public ::testing::Test {
  protected:
    FakeSerialPort port;
    FakeUi ui;
    FakeReplyTimer timer;
    FakeClock clock;
    FakeScheduler scheduler;
    Console con{port, ui, timer, clock, scheduler};
    TempDir dir;

    void setImage(int w, int h) {
        con.image.imageData.recreate(w, h);
        for (int r = 1; r <= h; ++r)
            for (int c = 1; c <= w; ++c)
                con.image.imageData.setCell(c, r, PixelArray::toCell(c * 1000 + r * 7 + 40000));
        con.image.imageWidth = static_cast<std::int16_t>(w);
        con.image.imageHeight = static_cast<std::int16_t>(h);
        con.display.background = 40000;
        con.display.range = 25600;
        con.header.hdrExposure = 250;
        con.header.exposureSeconds = 2.5;
        con.header.hdrExposureCount = 1;
        con.header.dateText = "03/04/2026";
        con.header.timeText = "21:05:00";
    }
};

TEST_F(ExportTest, FitsIsWrittenUnderTheChosenNameWithItsExtensionAndNeverOverAFile) {
    setImage(12, 7);
    ui.fileAnswers = {dir.name("m42")};
    con.exportFits();
    ASSERT_EQ(ui.fileDialogs.size(), 1u);
    EXPECT_EQ(ui.fileDialogs[0].mode, FileDialogMode::Save);
    EXPECT_EQ(ui.fileDialogs[0].filter, "All Files (*.*)|*.*|FITS Files (*.fits)|*.fits");
    EXPECT_EQ(ui.fileDialogs[0].filterIndex, 2);
    EXPECT_TRUE(ui.messages.empty());
    const std::string name = dir.name("m42.fits");
    EXPECT_EQ(ui.status, name + " saved");

    const FitsReadBack fits = readFits(name);
    ASSERT_EQ(fits.status, 0);
    ASSERT_EQ(fits.width, 12);
    ASSERT_EQ(fits.height, 7);
    for (int r = 1; r <= 7; ++r)
        for (int c = 1; c <= 12; ++c)
            ASSERT_EQ(fits.sample(c, r), con.image.imageData.sample(c, r));
    EXPECT_EQ(fits.key("DATE-OBS"), "2026-03-04T21:05:00");
    EXPECT_EQ(fits.key("EXPTIME"), "2.500");

    // The same name again, and a name that already ends in .FIT: nothing is replaced.
    const auto before = readBytes(name);
    ui.fileAnswers = {dir.name("m42.fits")};
    con.exportFits();
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "FITS File with same name already exists!");
    EXPECT_EQ(readBytes(name), before);
    writeBytes(dir.name("old.FIT"), {1, 2, 3});
    ui.fileAnswers = {dir.name("old.FIT")};
    con.exportFits();
    EXPECT_EQ(ui.messages.back(), "FITS File with same name already exists!");
    EXPECT_EQ(readBytes(dir.name("old.FIT")), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"m42.fits", "old.FIT"}));
}

TEST_F(ExportTest, NoImageNoNameAndAMissingFolderEachEndInTheirMessage) {
    con.exportFits();
    con.exportImageBitmap();
    EXPECT_TRUE(ui.fileDialogs.empty());
    EXPECT_EQ(ui.messages, (std::vector<std::string>{"No image data available to export",
                                                     "No image data available to export"}));

    setImage(4, 4);
    ui.messages.clear();
    con.exportFits();  // the dialog is cancelled
    EXPECT_EQ(ui.messages, std::vector<std::string>{"No file name specified"});

    ui.fileAnswers = {dir.name("absent/x.fits")};
    con.exportFits();
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(
        ui.messages[1].rfind("FITS file " + dir.name("absent/x.fits") + " was not saved: ", 0), 0u)
        << ui.messages[1];
    EXPECT_TRUE(dir.names().empty());
}

TEST_F(ExportTest, PngGetsTheImageSizeGreyPictureOrSaysItIsNotAvailable) {
    setImage(9, 5);
    ui.fileAnswers = {dir.name("shot")};
    con.exportPng();
    EXPECT_EQ(ui.messages, std::vector<std::string>{"PNG export is not available"});
    EXPECT_EQ(ui.fileDialogs.size(), 0u);

    RecordingEncoder enc;
    con.setImageEncoder(&enc);
    ui.messages.clear();
    con.exportPng();
    ASSERT_EQ(enc.pictures.size(), 1u);
    const Picture& p = enc.pictures[0];
    EXPECT_EQ(p.width, 9);
    EXPECT_EQ(p.height, 5);
    const float step = greyStep(25600);
    for (int r = 1; r <= 5; ++r)
        for (int c = 1; c <= 9; ++c)
            ASSERT_EQ(p.at(c - 1, r - 1), greyLevel(con.image.imageData.sample(c, r), 40000, step));
    EXPECT_EQ(ui.fileDialogs.back().filter, "All Files (*.*)|*.*|PNG Files (*.png)|*.png");
    EXPECT_EQ(readBytes(dir.name("shot.png")), (std::vector<std::uint8_t>{0x89, 'P', 'N', 'G'}));
    EXPECT_TRUE(ui.messages.empty());

    ui.fileAnswers = {dir.name("shot.png")};
    con.exportPng();
    EXPECT_EQ(ui.messages, std::vector<std::string>{"PNG File with same name already exists!"});
    EXPECT_EQ(enc.pictures.size(), 1u);  // refused before encoding

    enc.fail = true;
    ui.fileAnswers = {dir.name("broken.png")};
    con.exportPng();
    EXPECT_EQ(ui.messages.back(),
              "PNG file " + dir.name("broken.png") + " was not saved: the PNG encoder failed");
    EXPECT_FALSE(std::filesystem::exists(dir.name("broken.png")));
}

TEST_F(ExportTest, BitmapAtTheImageSizeHasTheWindowsGreyLevels) {
    setImage(5, 3);
    ui.fileAnswers = {dir.name("small.bmp")};
    con.exportImageBitmap();
    ASSERT_TRUE(ui.messages.empty()) << ui.messages[0];
    const auto bmp = readBytes(dir.name("small.bmp"));
    ASSERT_GE(bmp.size(), 54u);
    auto le32 = [&](std::size_t at) {
        return bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 | bmp[at + 3] << 24;
    };
    EXPECT_EQ(le32(18), 5);
    EXPECT_EQ(le32(22), 3);
    const std::size_t stride = (5 * 3 + 3) / 4 * 4;
    ASSERT_EQ(bmp.size(), 54 + stride * 3);
    const float step = greyStep(25600);
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 5; ++c) {
            const std::size_t at = 54 + static_cast<std::size_t>(3 - r) * stride +
                                   static_cast<std::size_t>(c - 1) * 3;  // bottom-up rows
            ASSERT_EQ(bmp[at], greyLevel(con.image.imageData.sample(c, r), 40000, step));
        }
    ui.fileAnswers = {dir.name("small")};
    con.exportImageBitmap();
    EXPECT_EQ(ui.messages, std::vector<std::string>{"Bitmap File with same name already exists!"});
}

}  // namespace
}  // namespace kyr::test
