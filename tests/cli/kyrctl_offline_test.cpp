// kyrctl on files: info, convert to each format and flatfield, run as a process and compared
// with what the console does in-process with the same names.
#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>

#include "cli_test_support.h"
#include "console/console.h"
#include "fakes/fakes.h"
#include "files/kyr_codec.h"
#include "files/track_list.h"
#include "image/render.h"
#include "kyrctl_support.h"

namespace kyr::test {
namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

KyrLoadResult decodeFile(const std::string& name) {
    const auto bytes = readBytes(name);
    return decodeKyrFile(bytes, "", KyrDecodeMode::Image);
}

class KyrctlOffline : public ::testing::Test {
  protected:
    TempDir dir;
    const int w = 40, h = 30;
    PixelArray img = testImage(40, 30, 1);

    std::string kyr(const std::string& leaf, int exposures = 1) {
        const std::string name = dir.name(leaf);
        writeKyr(name, testHeader(exposures), img, w, h);
        return name;
    }
};

TEST_F(KyrctlOffline, InfoPrintsThePanelExactlyAsLoadingShowsIt) {
    const std::string name = kyr("m42.KYR");
    const RunResult r = runKyrctl({"info", q(name)});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const Loaded expected = loadInProcess(name);
    ASSERT_TRUE(expected.messages.empty());
    EXPECT_EQ(r.out, printed(expected.panel));
    const auto out = lines(r.out);
    ASSERT_GE(out.size(), 30u);
    EXPECT_EQ(out[0], name);
    EXPECT_EQ(out[1], "KYR Compressed Image");
    EXPECT_EQ(out.back(), "End");

    // --quiet keeps the requested output and says nothing else.
    const RunResult quiet = runKyrctl({"--quiet", "info", q(name)});
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.out, r.out);
    EXPECT_EQ(quiet.err, "");
}

TEST_F(KyrctlOffline, LoadFailuresEndWithTheConsolesMessageAndStatusOne) {
    // The console's message once, and beside it why the file cannot be read.
    RunResult r = runKyrctl({"info", q(dir.name("absent.KYR"))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kyrctl: Load file command failed\nkyrctl: " + dir.name("absent.KYR") +
                         ": no such file\n");
    EXPECT_EQ(r.out, "");
    r = runKyrctl({"info", q(dir.path.string())});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, dir.path.string() + ": a folder, not a file")) << r.err;

    writeKyr(dir.name("wide.KYR"), testHeader(1), testImage(321, 2, 2), 321, 2);
    r = runKyrctl({"--quiet", "info", q(dir.name("wide.KYR"))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "Image is too wide - not KYR Format!")) << r.err;

    r = runKyrctl({"convert", q(dir.name("pic.bmp")), q(dir.name("x.fits"))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "Program cannot read bitmap files")) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.name("x.fits")));

    // A summed image without its track list still loads; the console's warning is shown.
    const std::string summed = kyr("sum.KYR", 3);
    r = runKyrctl({"info", q(summed)});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(contains(r.err, "No track file found for this track and accumulate image!"))
        << r.err;
    EXPECT_EQ(r.out, printed(loadInProcess(summed).panel));
}

TEST_F(KyrctlOffline, AFolderWithADotKeepsItsNameInTheNamesTheConsoleDerives) {
    std::filesystem::create_directory(dir.path / "night.2");
    const std::string name = (dir.path / "night.2" / "sum.KYR").string();
    ImageHeader hdr = testHeader(3);
    writeKyr(name, hdr, img, w, h);
    AuxRow aux{};
    aux[1] = 0, aux[2] = 0, aux[3] = 2, aux[4] = 65535, aux[5] = 65534, aux[6] = 1;
    const std::string trk = trackListText(hdr, aux);
    writeBytes((dir.path / "night.2" / "sum.trk").string(), {trk.begin(), trk.end()});

    const RunResult r = runKyrctl({"info", q(name)});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(contains(r.err, "No track file")) << r.err;  // found beside the image
    EXPECT_EQ(r.out, printed(loadInProcess(name).panel));
    EXPECT_EQ(lines(r.out).at(0), name);

    const RunResult c =
        runKyrctl({"convert", q(name), q((dir.path / "night.2" / "sum.fits").string())});
    EXPECT_EQ(c.exitCode, 0) << c.err;
    EXPECT_TRUE(std::filesystem::exists(dir.path / "night.2" / "sum.fits"));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"night.2"});
}

TEST_F(KyrctlOffline, ConvertToKyrReencodesBitExactAndNeverWritesOverAFile) {
    const std::string in = kyr("in.KYR");
    const std::string out = dir.name("copy.KYR");
    RunResult r = runKyrctl({"convert", q(in), q(out), "--note", "Re-encoded"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const KyrLoadResult back = decodeFile(out);
    ASSERT_EQ(back.status, KyrLoadResult::Ok);
    EXPECT_EQ(back.pixels, img);
    EXPECT_EQ(*back.values.imageWidth, w);
    EXPECT_EQ(*back.values.imageHeight, h);
    EXPECT_EQ(*back.values.noteText, "Re-encoded");  // the Note prompt, answered by --note
    EXPECT_EQ(*back.values.background, 1000);
    EXPECT_EQ(*back.values.range, 4096);

    EXPECT_EQ(r.err, "wrote " + out + "\n");  // the console's statuses only with --verbose

    const auto before = readBytes(out);
    r = runKyrctl({"convert", q(in), q(out)});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kyrctl: " + out + " is there already: kyrctl never writes over a file\n");
    EXPECT_EQ(readBytes(out), before);
    for (const char* ext : {".bmp", ".png", ".fits", ".fit", ".fts"}) {
        const std::string target = dir.name(std::string("taken") + ext);
        writeBytes(target, {7});
        r = runKyrctl({"--quiet", "convert", q(in), q(target)});
        EXPECT_EQ(r.exitCode, 1) << ext;
        EXPECT_TRUE(contains(r.err, "never writes over a file")) << r.err;
        EXPECT_EQ(readBytes(target), std::vector<std::uint8_t>{7});
    }
    // .fit and .fts are FITS too.
    for (const char* ext : {".fit", ".FTS"}) {
        const std::string target = dir.name(std::string("samples") + ext);
        r = runKyrctl({"convert", q(in), q(target)});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "wrote " + target + "\n");
        EXPECT_EQ(readFits(target).width, w);
    }
}

// The grey levels kyrctl should have written for the image with this contrast.
std::vector<std::uint8_t> expectedGrey(const PixelArray& img, int w, int h, std::int32_t bg,
                                       std::int32_t range) {
    std::vector<std::uint8_t> g;
    const float step = greyStep(range);
    for (int r = 1; r <= h; ++r)
        for (int c = 1; c <= w; ++c) g.push_back(greyLevel(img.sample(c, r), bg, step));
    return g;
}

std::vector<std::uint8_t> pngGrey(const std::string& name, int& w, int& h) {
    QImage image(q(name));
    w = image.width();
    h = image.height();
    std::vector<std::uint8_t> g;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            g.push_back(static_cast<std::uint8_t>(qGray(image.pixel(x, y))));
    return g;
}

TEST_F(KyrctlOffline, ConvertToBmpAndPngDrawsTheImageAtItsOwnSize) {
    const std::string in = kyr("in.KYR");

    // The file's own background and range.
    RunResult r = runKyrctl({"convert", q(in), q(dir.name("plain.bmp"))});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto bmp = readBytes(dir.name("plain.bmp"));
    ASSERT_GE(bmp.size(), 54u);
    auto le32 = [&](std::size_t at) {
        return bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 | bmp[at + 3] << 24;
    };
    EXPECT_EQ(le32(18), w);
    EXPECT_EQ(le32(22), h);
    const auto want = expectedGrey(img, w, h, 1000, 4096);
    const std::size_t stride = (static_cast<std::size_t>(w) * 3 + 3) / 4 * 4;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(bmp[54 + static_cast<std::size_t>(h - 1 - y) * stride +
                          static_cast<std::size_t>(x) * 3],
                      want[static_cast<std::size_t>(y * w + x)])
                << x << "," << y;

    // The contrast dialog, answered from the options.
    r = runKyrctl(
        {"convert", q(in), q(dir.name("set.png")), "--background", "900", "--range", "2560"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    int pw = 0, ph = 0;
    EXPECT_EQ(pngGrey(dir.name("set.png"), pw, ph), expectedGrey(img, w, h, 900, 2560));
    EXPECT_EQ(pw, w);
    EXPECT_EQ(ph, h);

    // Auto Contrast.
    r = runKyrctl({"convert", q(in), q(dir.name("auto.png")), "--auto"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Contrast c = autoContrast(img, w, h);
    EXPECT_EQ(pngGrey(dir.name("auto.png"), pw, ph),
              expectedGrey(img, w, h, c.background, c.range));

    // A range of 0 is refused by the dialog: nothing is written.
    r = runKyrctl({"convert", q(in), q(dir.name("zero.png")), "--range", "0"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "Range must be a non-zero whole number")) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.name("zero.png")));
}

TEST_F(KyrctlOffline, ConvertToFitsPassesFitsverifyAndReadsBackBitExact) {
    const std::string in = kyr("in.KYR", 1);
    const std::string out = dir.name("in.fits");
    const RunResult r = runKyrctl({"--quiet", "convert", q(in), q(out)});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    int errors = 0, warnings = 0;
    const std::string report = runFitsverify(out, errors, warnings);
    EXPECT_EQ(errors, 0) << report;
    EXPECT_EQ(warnings, 0) << report;
    const FitsReadBack fits = readFits(out);
    ASSERT_EQ(fits.status, 0);
    ASSERT_EQ(fits.width, w);
    ASSERT_EQ(fits.height, h);
    for (int y = 1; y <= h; ++y)
        for (int x = 1; x <= w; ++x)
            ASSERT_EQ(fits.sample(x, y), img.sample(x, y));
    EXPECT_EQ(fits.key("DATE-OBS"), "2035-12-11T15:42:05");
    EXPECT_EQ(fits.key("EXPTIME"), "2.500");  // the file's hundredths
    EXPECT_EQ(fits.key("SNAPSHOT"), "1");
    EXPECT_EQ(fits.key("FOCALLEN"), "2032.0");  // 80 inches
    EXPECT_EQ(fits.key("CCD-TEMP"), "-10.25");
    EXPECT_EQ(fits.key("PEDESTAL"), "100");
}

TEST_F(KyrctlOffline, FlatfieldWritesWhatTheWindowsFlatFieldAndSaveWrite) {
    const std::string image = kyr("image.KYR");
    PixelArray flat(w, h);
    for (int r = 1; r <= h; ++r)
        for (int c = 1; c <= w; ++c)
            flat.setCell(c, r, static_cast<std::int16_t>(1000 + c * 3 + r));
    writeKyr(dir.name("flat.KYR"), testHeader(1), flat, w, h);

    const RunResult r =
        runKyrctl({"flatfield", q(image), q(dir.name("flat.KYR")), "-o", q(dir.name("out.KYR"))});
    ASSERT_EQ(r.exitCode, 0) << r.err;

    {  // The same three menus in-process.
        FakeSerialPort port;
        FakeUi ui;
        FakeReplyTimer timer;
        FakeClock clock;
        FakeScheduler scheduler;
        Console con(port, ui, timer, clock, scheduler);
        ui.fileAnswers = {image, dir.name("flat.KYR"), dir.name("expected.KYR")};
        con.loadImage();
        con.applyFlatField();
        con.saveImageAs();
        ASSERT_TRUE(ui.messages.empty());
    }
    EXPECT_EQ(readBytes(dir.name("out.KYR")), readBytes(dir.name("expected.KYR")));
    const KyrLoadResult out = decodeFile(dir.name("out.KYR"));
    ASSERT_EQ(out.status, KyrLoadResult::Ok);
    EXPECT_NE(out.pixels, img);  // corrected

    // An output that is there already is refused before anything is loaded or computed: the
    // missing flat is not even looked at.
    const auto corrected = readBytes(dir.name("out.KYR"));
    RunResult again = runKyrctl(
        {"flatfield", q(image), q(dir.name("absent.KYR")), "-o", q(dir.name("out.KYR"))});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_EQ(again.err, "kyrctl: " + dir.name("out.KYR") +
                             " is there already: kyrctl never writes over a file\n");
    EXPECT_EQ(readBytes(dir.name("out.KYR")), corrected);
    // A flat that cannot be read: the console's message and why.
    again = runKyrctl(
        {"flatfield", q(image), q(dir.name("absent.KYR")), "-o", q(dir.name("new.KYR"))});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_EQ(again.err, "kyrctl: Flat field unsuccessfully loaded\nkyrctl: " +
                             dir.name("absent.KYR") + ": no such file\n");
    EXPECT_FALSE(std::filesystem::exists(dir.name("new.KYR")));

    // A flat of another size is refused; nothing is written.
    writeKyr(dir.name("small.KYR"), testHeader(1), flat, w - 1, h);
    const RunResult bad =
        runKyrctl({"flatfield", q(image), q(dir.name("small.KYR")), "-o", q(dir.name("bad.KYR"))});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_TRUE(contains(bad.err, "Flat field dimensions do not match image!")) << bad.err;
    EXPECT_FALSE(std::filesystem::exists(dir.name("bad.KYR")));
}

TEST_F(KyrctlOffline, UsageErrorsExitWithTwoAndSayWhy) {
    const std::string in = kyr("in.KYR");
    struct Case {
        QStringList args;
        std::string why;
    };
    const std::vector<Case> cases{
        {{}, "no command given"},
        {{"frobnicate"}, "unknown command"},
        {{"info"}, "missing arguments"},
        {{"info", q(in), "extra"}, "unexpected argument"},
        {{"convert", q(in), q(dir.name("out.jpg"))}, "ends in .KYR, .bmp, .png or .fits"},
        // Names the console's own naming would change: refused with the name to give.
        {{"convert", q(in), q(dir.name("b.v2.KYR"))}, "would be saved as " + dir.name("b.KYR") +
                                                          ": give " + dir.name("b.KYR")},
        {{"convert", q(in), q(dir.name("c.kyr"))}, "give " + dir.name("c.KYR")},
        {{"flatfield", q(in), q(in), "-o", q(dir.name("f"))}, "ends in .KYR"},
        {{"download", "-o", "x.png"}, "x.png would be saved as x.KYR: give x.KYR"},
        {{"download", "-o", "shot"}, "give shot.KYR"},
        {{"download-all", "-o", "night.KYR"},
         "saved as night001.KYR, night002.KYR, ...: give -o night"},
        {{"capture", "-o", "guide.log", "--records", "3"}, "written to guide.txt: give -o guide"},
        {{"download", "-o", q(dir.path.string() + "/")}, "names a folder"},
        {{"--quiet", "--verbose", "link"}, "exclude each other"},
        {{"convert", q(in), q(dir.name("o.png")), "--auto", "--range", "5"}, "exclude each other"},
        {{"convert", q(in), q(dir.name("o.png")), "--range", "wide"}, "whole number"},
        {{"keys", "Focus", "Jump"}, "unknown key \"Jump\""},
        {{"download"}, "-o is required"},
        {{"capture", "-o", "log"}, "either --records N or --seconds S"},
        {{"--baud", "1234", "link"}, "--baud takes"},
        {{"--port", "COM9", "link"}, "--port takes COM1 .. COM6"},
        {{"--com", "x", "link"}, "--com"},
        {{"--timeout", "0", "link"}, "--timeout"},
        {{"link", "--bogus"}, "unknown option --bogus"},
        {{"info", q(in), "--auto"}, "apply to convert"},
    };
    for (const auto& c : cases) {
        const RunResult r = runKyrctl(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args.join(' ').toStdString();
        EXPECT_TRUE(contains(r.err, c.why)) << c.args.join(' ').toStdString() << ": " << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(dir.names(), std::vector<std::string>{"in.KYR"});  // nothing was written
    const RunResult help = runKyrctl({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(contains(help.out, "Usage: kyrctl"));
    EXPECT_TRUE(contains(help.out, ".fits, .fit or .fts (FITS")) << help.out;
}

TEST_F(KyrctlOffline, AFirmwareFileIsCheckedBeforeThePortIsOpened) {
    std::vector<std::uint8_t> bin(98304, 0x5A);  // its stored CRC does not match
    writeBytes(dir.name("bad.bin"), bin);
    const RunResult r = runKyrctl({"--com", "1=/nonexistent", "upload", q(dir.name("bad.bin"))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kyrctl: Code CRC check failed - code file is bad\n");  // no port opened
}

}  // namespace
}  // namespace kyr::test
