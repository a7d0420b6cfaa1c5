// The console's file handlers with fake platform parts and a real temporary folder.
#include <gtest/gtest.h>

#include "console/console.h"
#include "fakes/fakes.h"
#include "files/bmp.h"
#include "files/file_io.h"
#include "fakes/temp_dir.h"
#include "files/kyr_codec.h"

namespace kyr {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

Bytes ack(std::uint8_t result) {
    return {165, 11, 2, 0, 178, 0, result, 0, result, 0};
}

class ConsoleFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        con.start();  // opens COM1, so that acknowledges are written
        port.writes.clear();
        setImage(3, 2);
        con.header.hdrExposureCount = 1;
        con.header.noteText = "old note";
        con.display.background = 5;
        con.display.range = 50;
    }
    void setImage(int w, int h) {
        con.image.imageData.recreate(w, h);
        for (int r = 1; r <= h; ++r)
            for (int c = 1; c <= w; ++c)
                con.image.imageData.setCell(c, r, PixelArray::toCell(1000 * c + r));
        con.image.imageWidth = static_cast<std::int16_t>(w);
        con.image.imageHeight = static_cast<std::int16_t>(h);
    }
    std::vector<Bytes> acks() const {
        std::vector<Bytes> out;
        for (const auto& w : port.writes)
            if (w.size() > 1 && w[1] == 11) out.push_back(w);
        return out;
    }
    void put(const std::string& name, const Bytes& bytes) {
        ASSERT_EQ(writeNewFile(name, bytes), "");
    }

    test::FakeSerialPort port;
    test::FakeUi ui;
    test::FakeReplyTimer timer;
    test::FakeClock clock;
    test::FakeScheduler scheduler;
    Console con{port, ui, timer, clock, scheduler};
    test::TempDir dir;
};

TEST_F(ConsoleFiles, FileDialogRequest) {
    ui.fileAnswers = {"C:\\fw.bin"};
    EXPECT_EQ(con.showFileDialog(FileDialogMode::Open, FileDialogFilter::Bin), "C:\\fw.bin");
    EXPECT_EQ(con.showFileDialog(FileDialogMode::Save, FileDialogFilter::Bmp), "");
    ASSERT_EQ(ui.fileDialogs.size(), 2u);
    EXPECT_EQ(ui.fileDialogs[0].mode, FileDialogMode::Open);
    EXPECT_EQ(ui.fileDialogs[0].filter, "All Files (*.*)|*.*|BIN Files (*.bin)|*.bin");
    EXPECT_EQ(ui.fileDialogs[1].mode, FileDialogMode::Save);
    EXPECT_EQ(ui.fileDialogs[1].filter, "All Files (*.*)|*.*|BMP Files (*.bmp)|*.bmp");
    EXPECT_EQ(ui.fileDialogs[1].filterIndex, 2);
    EXPECT_EQ(ui.fileDialogs[1].flags, 4);
}

TEST_F(ConsoleFiles, SingleSaveWritesTheImageAndRefusesToOverwrite) {
    // Nothing chosen, or nothing to save.
    con.saveImageAs();
    con.image.imageWidth = 0;
    ui.fileAnswers = {dir.name("pic")};
    con.saveImageAs();
    EXPECT_EQ(ui.messages, (std::vector<std::string>{"No file name specified",
                                                     "No image data available to save"}));
    EXPECT_TRUE(dir.names().empty());
    setImage(3, 2);

    // The name is cut before its first "."; a single save ends automatic saving.
    con.files.autoSaveOn = true;
    ui.fileAnswers = {dir.name("pic.xyz.KYR")};
    con.saveImageAs();
    EXPECT_FALSE(con.files.autoSaveOn);
    const std::string name = dir.name("pic.KYR");
    EXPECT_EQ(con.files.imageFileName, name);
    EXPECT_EQ(ui.status, name + " saved");
    EXPECT_EQ(acks(), std::vector<Bytes>{ack(0)});
    const auto saved = readWholeFile(name);
    ASSERT_TRUE(saved);
    EXPECT_EQ(*saved, encodeKyrFile(con.header, 5, 50, con.image.imageData, 3, 2));

    // Again: refused, the file untouched, the device told 1, Download All ended.
    con.download.downloadAllActive = true;
    port.writes.clear();
    ui.fileAnswers = {dir.name("pic.KYR")};
    con.saveImageAs();
    EXPECT_EQ(ui.status, name + " already exists!");
    EXPECT_EQ(acks(), std::vector<Bytes>{ack(1)});
    EXPECT_FALSE(con.download.downloadAllActive);
    EXPECT_EQ(readWholeFile(name), saved);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"pic.KYR"});
}

TEST_F(ConsoleFiles, SummedAndMosaicImagesGetTheirCompanionFiles) {
    con.header.hdrExposureCount = 2;
    con.header.mosaicType = 6;
    con.header.hdrHeight = 2;
    con.header.hdrWidth = 3;
    con.image.auxData[1] = 4;
    con.image.auxData[2] = 65535;
    ui.fileAnswers = {dir.name("sum")};
    con.saveImageAs();
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"sum.KYR", "sum.trk", "sum.txt"}));
    EXPECT_EQ(con.files.imageFileName, dir.name("sum.txt"));
    EXPECT_EQ(ui.status, dir.name("sum.txt") + " saved");
    // No acknowledge after the image itself: one after each companion file.
    EXPECT_EQ(acks(), (std::vector<Bytes>{ack(0), ack(0)}));
    const auto trk = readWholeFile(dir.name("sum.trk"));
    ASSERT_TRUE(trk);
    const std::string text(trk->begin(), trk->end());
    EXPECT_NE(text.find("\r\n 4, -1\r\n"), std::string::npos) << text;

    // Saved again: the image is refused, and with it its companions (one refusal).
    port.writes.clear();
    con.download.downloadAllActive = true;
    ui.fileAnswers = {dir.name("sum")};
    con.saveImageAs();
    EXPECT_EQ(acks(), (std::vector<Bytes>{ack(1)}));
    EXPECT_EQ(ui.status, dir.name("sum.KYR") + " already exists!");
    EXPECT_FALSE(con.download.downloadAllActive);
    EXPECT_EQ(readWholeFile(dir.name("sum.trk")), trk);
}

TEST_F(ConsoleFiles, ImageAndCompanionAreWrittenBothOrNeither) {
    con.header.hdrExposureCount = 2;
    con.header.mosaicType = 6;
    con.header.hdrHeight = 2;
    con.header.hdrWidth = 3;
    std::string failing = ".KYR";
    con.setFileWriter([&failing](const std::filesystem::path& p, std::span<const std::uint8_t> b) {
        if (p.string().ends_with(failing)) return std::string("writing failed (disk full?)");
        return writeNewFile(p, b);
    });
    // The image fails: no track list, no mosaic data, one refusal to the device.
    ui.fileAnswers = {dir.name("full")};
    con.saveImageAs();
    EXPECT_TRUE(dir.names().empty());
    EXPECT_EQ(acks(), (std::vector<Bytes>{ack(1)}));
    EXPECT_EQ(ui.status, dir.name("full.KYR") + " was not saved: writing failed (disk full?)");

    // The companion fails after the image: the image stays and the status says so.
    port.writes.clear();
    con.header.mosaicType = 0;
    failing = ".trk";
    ui.fileAnswers = {dir.name("half")};
    con.saveImageAs();
    EXPECT_EQ(dir.names(), std::vector<std::string>{"half.KYR"});
    EXPECT_EQ(ui.status, dir.name("half.trk") + " was not saved: writing failed (disk full?)");
    EXPECT_EQ(acks(), (std::vector<Bytes>{ack(1)}));
}

TEST_F(ConsoleFiles, AutomaticNumbering) {
    // Cancel, then an existing first file: automatic saving stays off.
    con.startAutoSave();
    EXPECT_EQ(ui.status, "No file was selected!");
    EXPECT_EQ(ui.messages.back(), "No file was selected");
    put(dir.name("img001.KYR"), {1});
    ui.fileAnswers = {dir.name("img.KYR")};
    con.startAutoSave();
    EXPECT_FALSE(con.files.autoSaveOn);
    EXPECT_EQ(ui.messages.back(), "autofilename001.KYR already exists!");
    fs::remove(dir.name("img001.KYR"));

    ui.fileAnswers = {dir.name("img.KYR")};
    con.startAutoSave();
    EXPECT_EQ(ui.status, dir.name("img") + " selected");
    EXPECT_TRUE(con.files.autoSaveOn);
    EXPECT_EQ(con.files.autoSaveNumber, 1);
    EXPECT_TRUE(port.writes.empty());  // nothing is sent to the device

    // 001 saved, 002 exists (refused, but the number grows), 003 saved.
    put(dir.name("img002.KYR"), {2});
    con.download.downloadAllActive = true;
    con.writeImageFile();
    EXPECT_TRUE(con.download.downloadAllActive);
    con.writeImageFile();
    EXPECT_EQ(ui.status, dir.name("img002.KYR") + " already exists!");
    EXPECT_FALSE(con.download.downloadAllActive);
    con.writeImageFile();
    EXPECT_EQ(ui.status, dir.name("img003.KYR") + " saved");
    EXPECT_EQ(con.files.autoSaveNumber, 4);
    EXPECT_EQ(acks(), (std::vector<Bytes>{ack(0), ack(1), ack(0)}));
    EXPECT_EQ(readWholeFile(dir.name("img002.KYR")), Bytes{2});

    // The last number written is 998; from then on the limit refuses.
    con.files.autoSaveNumber = 998;
    con.writeImageFile();
    EXPECT_EQ(ui.status, dir.name("img998.KYR") + " saved");
    port.writes.clear();
    con.download.downloadAllActive = true;
    for (int i = 0; i < 3; ++i) {
        con.writeImageFile();
        EXPECT_EQ(ui.status, "999 file number limit reached!");
    }
    EXPECT_FALSE(con.download.downloadAllActive);
    EXPECT_EQ(acks(), (std::vector<Bytes>(3, ack(1))));
    EXPECT_EQ(dir.names(),
              (std::vector<std::string>{"img001.KYR", "img002.KYR", "img003.KYR", "img998.KYR"}));
}

TEST_F(ConsoleFiles, UnwritableFolderIsReportedAndLeavesNothing) {
    // A dispatcher-driven save into a folder that does not exist: status only, no box.
    con.files.autoSaveOn = false;
    con.files.saveBaseName = dir.name("gone") + "/pic";
    con.header.hdrExposureCount = 2;
    con.download.downloadAllActive = true;
    con.writeImageFile();
    EXPECT_NE(ui.status.find(dir.name("gone") + "/pic.KYR was not saved"), std::string::npos)
        << ui.status;
    EXPECT_NE(ui.status.find("does not exist"), std::string::npos) << ui.status;
    EXPECT_FALSE(con.download.downloadAllActive);
    EXPECT_EQ(acks(), std::vector<Bytes>{ack(1)});
    con.writeTrackList();
    EXPECT_NE(ui.status.find("pic.trk was not saved"), std::string::npos) << ui.status;
    EXPECT_EQ(acks(), (std::vector<Bytes>{ack(1), ack(1)}));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(dir.names().empty());

    // The bitmap export is a menu operation: a box as well.
    ui.fileAnswers = {dir.name("gone") + "/shot"};
    con.exportBitmap();
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find("was not saved"), std::string::npos);
    EXPECT_TRUE(dir.names().empty());
}

TEST_F(ConsoleFiles, BitmapExport) {
    con.exportBitmap();
    EXPECT_EQ(ui.messages.back(), "No file name specified");
    con.display.picture.grey[5] = 99;
    ui.fileAnswers = {dir.name("shot.KYR")};
    con.exportBitmap();
    EXPECT_EQ(readWholeFile(dir.name("shot.bmp")), encodeBmp(con.display.picture));
    const Picture drawn = con.display.picture;
    con.display.picture.grey[5] = 1;
    ui.fileAnswers = {dir.name("shot")};
    con.exportBitmap();
    EXPECT_EQ(ui.messages.back(), "Bitmap File with same name already exists!");
    EXPECT_EQ(readWholeFile(dir.name("shot.bmp")), encodeBmp(drawn));
}

Bytes kyrFile(int w, int h, std::int16_t exposures = 1) {
    ImageHeader hdr;
    hdr.noteText = "new note";
    hdr.hdrExposureCount = exposures;
    hdr.hdrExposure = 1234;
    hdr.focalLength = 30.0f;
    PixelArray px(w, h);
    for (int r = 1; r <= h; ++r)
        for (int c = 1; c <= w; ++c) px.setCell(c, r, PixelArray::toCell(40000 + c - r));
    return encodeKyrFile(hdr, 700, 90, px, w, h);
}

TEST_F(ConsoleFiles, LoadTakesValuesOverOnlyOnSuccess) {
    const PixelArray before = con.image.imageData;
    auto unchanged = [&] {
        EXPECT_TRUE(con.image.imageData == before);
        EXPECT_EQ(con.image.imageWidth, 3);
        EXPECT_EQ(con.image.imageHeight, 2);
        EXPECT_EQ(con.header.noteText, "old note");
        EXPECT_EQ(con.display.background, 5);
    };

    // Too wide and too tall: refused, but the panel already shows the header.
    put(dir.name("wide.KYR"), kyrFile(321, 2));
    put(dir.name("tall.KYR"), kyrFile(2, 201));
    ui.fileAnswers = {dir.name("wide.KYR"), dir.name("tall.KYR")};
    con.loadImage();
    EXPECT_EQ(ui.messages.back(), "Image is too wide - not KYR Format!");
    EXPECT_EQ(ui.headerText.substr(0, dir.name("wide.KYR").size() + 24),
              dir.name("wide.KYR") + "\r\nKYR Compressed Image\r\n");
    EXPECT_NE(ui.headerText.find("Width =  321\r\n"), std::string::npos);
    con.loadImage();
    EXPECT_EQ(ui.messages.back(), "Image is too tall - not KYR Format!");
    unchanged();

    // A damaged file: nothing taken over, the panel left alone.
    Bytes damaged = kyrFile(4, 4);
    damaged.resize(damaged.size() - 1);
    put(dir.name("cut.KYR"), damaged);
    ui.headerText = "panel";
    ui.fileAnswers = {dir.name("cut.KYR"), dir.name("absent.KYR")};
    con.loadImage();
    EXPECT_EQ(ui.messages.back(), "Load file command failed");
    con.loadImage();
    EXPECT_EQ(ui.messages.back(), "Load file command failed");
    EXPECT_EQ(ui.headerText, "panel");
    unchanged();

    // Bitmap names: ".bmp" is refused at once, ".BMP" fails as a load.
    put(dir.name("pic.BMP"), encodeBmp(Picture{}));
    ui.fileAnswers = {dir.name("pic.bmp"), dir.name("pic.BMP")};
    con.loadImage();
    EXPECT_EQ(ui.messages.back(), "Program cannot read bitmap files");
    EXPECT_EQ(con.files.imageFileName, dir.name("pic.bmp"));
    con.loadImage();
    EXPECT_EQ(ui.messages.back(), "Load file command failed");
    unchanged();
    con.loadImage();
    EXPECT_EQ(ui.messages.back(), "No file was selected");

    // 320 x 200 loads, with every value.
    put(dir.name("full.KYR"), kyrFile(320, 200));
    ui.fileAnswers = {dir.name("full.KYR")};
    const auto messages = ui.messages.size();
    con.track.trackSnapshotCount = 7;
    con.loadImage();
    EXPECT_EQ(ui.messages.size(), messages);
    EXPECT_EQ(con.image.imageWidth, 320);
    EXPECT_EQ(con.image.imageHeight, 200);
    EXPECT_EQ(con.image.imageData.sample(320, 1), 40319);
    EXPECT_EQ(con.header.noteText, "new note");
    EXPECT_EQ(con.header.hdrExposure, 1234);
    EXPECT_EQ(con.header.focalLength, 30.0f);
    EXPECT_EQ(con.display.background, 700);
    EXPECT_EQ(con.display.range, 90);
    EXPECT_TRUE(con.files.loadCompressed);
    EXPECT_EQ(con.track.trackSnapshotCount, 1);
    EXPECT_EQ(ui.headerText.substr(0, dir.name("full.KYR").size() + 2),
              dir.name("full.KYR") + "\r\n");
}

TEST_F(ConsoleFiles, LoadingASummedImageReadsItsTrackList) {
    put(dir.name("sum.KYR"), kyrFile(4, 4, 3));
    con.track.trackSnapshotCount = 9;
    ui.fileAnswers = {dir.name("sum.KYR")};
    con.loadImage();
    EXPECT_EQ(ui.messages.back(), "No track file found for this track and accumulate image!");
    EXPECT_EQ(con.track.trackSnapshotCount, 9);
    EXPECT_EQ(con.files.imageFileName, dir.name("sum.trk"));
    EXPECT_EQ(con.header.hdrExposureCount, 3);

    const std::string head =
        "KYR Track List\r\nVersion = 1\r\nSnapshots =  3\r\nS\r\nT\r\nH\r\nW\r\nO\r\n";
    const std::string trk = head + " 0,  0\r\n 3, -2\r\n-1,  4\r\nEnd \r\n";
    put(dir.name("sum.trk"), Bytes(trk.begin(), trk.end()));
    ui.fileAnswers = {dir.name("sum.KYR")};
    const auto messages = ui.messages.size();
    con.loadImage();
    EXPECT_EQ(ui.messages.size(), messages);
    EXPECT_EQ(con.track.trackSnapshotCount, 3);
    EXPECT_EQ(con.track.trackOffsetX[2], 3);
    EXPECT_EQ(con.track.trackOffsetY[2], -2);
    EXPECT_EQ(con.track.trackOffsetX[3], -1);

    // A track list of another length is used, with a warning.
    fs::remove(dir.name("sum.trk"));
    const std::string two = head + " 0,  0\r\n 5,  6\r\nEnd \r\n";
    put(dir.name("sum.trk"), Bytes(two.begin(), two.end()));
    ui.fileAnswers = {dir.name("sum.KYR")};
    con.loadImage();
    EXPECT_EQ(ui.messages.back(), "Track File does not match image!");
    EXPECT_EQ(con.track.trackSnapshotCount, 2);
    EXPECT_EQ(con.track.trackOffsetX[2], 5);
}

TEST_F(ConsoleFiles, ALoadedImageSavedAgainKeepsWhatItsFilesHeld) {
    auto& h = con.header;
    h.hdrExposure = 250;
    h.exposureSeconds = 2.5;
    h.hdrExposureCount = 3;
    h.hdrPedestal = 40000;
    h.pixelSize = 0.0148f;
    h.hdrEgainRaw = 230;
    h.filterName = "Red";
    h.historyText = "g";
    h.hdrSite = 7;
    h.readoutMode = 1;
    h.hdrYear = 2035;
    h.hdrWidth = 3;
    h.hdrHeight = 2;
    con.display.background = 40000;  // auto-contrast gives such values for bright images
    con.display.range = 128;
    const std::int32_t offsets[] = {0, 0, 3, 65534, 65535, 4};
    for (int i = 0; i < 6; ++i) con.image.auxData[static_cast<std::size_t>(i + 1)] = offsets[i];
    ui.fileAnswers = {dir.name("first.KYR")};
    con.saveImageAs();
    ASSERT_TRUE(fs::exists(dir.name("first.trk")));

    // Another console that last saw a mosaic of other sizes loads and saves the image again.
    test::FakeSerialPort port2;
    test::FakeUi ui2;
    Console other{port2, ui2, timer, clock, scheduler};
    other.header.mosaicType = 40;
    other.header.hdrWidth = 320;
    other.header.exposureSeconds = 9;
    other.image.auxData.fill(77);
    ui2.fileAnswers = {dir.name("first.KYR"), dir.name("second.KYR")};
    other.loadImage();
    ASSERT_TRUE(ui2.messages.empty()) << ui2.messages.front();
    other.saveImageAs();
    EXPECT_EQ(readWholeFile(dir.name("second.KYR")), readWholeFile(dir.name("first.KYR")));
    EXPECT_EQ(readWholeFile(dir.name("second.trk")), readWholeFile(dir.name("first.trk")));
    EXPECT_FALSE(fs::exists(dir.name("second.txt")));  // no mosaic data of the earlier image
}

}  // namespace
}  // namespace kyr
