#include "files/file_io.h"

#include <gtest/gtest.h>

#include "files/bmp.h"
#include "fakes/temp_dir.h"

namespace kyr {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

TEST(FileIo, NewFilesAreNeverReplacedAndLeaveNoLitter) {
    test::TempDir dir;
    const fs::path file = dir.path / "pic.KYR";
    EXPECT_EQ(writeNewFile(file, Bytes{1, 2, 3}), "");
    EXPECT_EQ(readWholeFile(file), (Bytes{1, 2, 3}));

    const std::string err = writeNewFile(file, Bytes{9});
    EXPECT_NE(err.find("already exists"), std::string::npos) << err;
    EXPECT_EQ(readWholeFile(file), (Bytes{1, 2, 3}));

    // A folder that does not exist: a clear reason and nothing created.
    const std::string missing = writeNewFile(dir.path / "nowhere" / "pic.KYR", Bytes{1});
    EXPECT_NE(missing.find("does not exist"), std::string::npos) << missing;
    EXPECT_FALSE(fs::exists(dir.path / "nowhere"));

    // A name that is a folder is an existing name too.
    fs::create_directory(dir.path / "sub");
    EXPECT_NE(writeNewFile(dir.path / "sub", Bytes{1}), "");

    // Files meant to be overwritten are replaced whole.
    EXPECT_EQ(replaceFile(file, Bytes{7, 7}), "");
    EXPECT_EQ(readWholeFile(file), (Bytes{7, 7}));
    EXPECT_FALSE(readWholeFile(file, 1));  // larger than the caller accepts
    EXPECT_EQ(readWholeFile(file, 2), (Bytes{7, 7}));
    EXPECT_NE(replaceFile(dir.path / "nowhere" / "log.txt", Bytes{1}), "");

    // Empty content is a file too.
    EXPECT_EQ(writeNewFile(dir.path / "empty", Bytes{}), "");
    EXPECT_EQ(readWholeFile(dir.path / "empty"), Bytes{});

    EXPECT_EQ(dir.names(), (std::vector<std::string>{"empty", "pic.KYR", "sub"}));
    EXPECT_FALSE(readWholeFile(dir.path / "absent"));
    EXPECT_FALSE(readWholeFile(dir.path / "sub"));
}

TEST(FileIo, CutBeforeFirstDotAppliesToTheWholePath) {
    EXPECT_EQ(cutBeforeFirstDot("C:\\my.dir\\pic"), "C:\\my");
    EXPECT_EQ(cutBeforeFirstDot("C:\\img.2\\run.KYR"), "C:\\img");
    EXPECT_EQ(cutBeforeFirstDot("C:\\img"), "C:\\img");
    EXPECT_EQ(cutBeforeFirstDot("pic.KYR.bak"), "pic");
    EXPECT_EQ(cutBeforeFirstDot(""), "");
    // Front ends that pass whole paths keep the folder's dots.
    EXPECT_EQ(cutBeforeFirstDotOfName("/data/obs.2026/m31.v2.KYR"), "/data/obs.2026/m31");
    EXPECT_EQ(cutBeforeFirstDotOfName("C:\\img.2\\run.KYR"), "C:\\img.2\\run");
    EXPECT_EQ(cutBeforeFirstDotOfName("./x.KYR"), "./x");
}

TEST(Bmp, Uncompressed24BitBottomUp) {
    Picture pic;
    pic.grey[0] = 200;               // top-left
    pic.grey[199 * 320 + 319] = 17;  // bottom-right
    const Bytes bmp = encodeBmp(pic);
    ASSERT_EQ(bmp.size(), 54u + 320u * 3u * 200u);
    auto u32 = [&](std::size_t at) {
        return bmp[at] | (bmp[at + 1] << 8) | (bmp[at + 2] << 16) | (bmp[at + 3] << 24);
    };
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(u32(2), static_cast<int>(bmp.size()));
    EXPECT_EQ(u32(10), 54);
    EXPECT_EQ(u32(14), 40);
    EXPECT_EQ(u32(18), 320);
    EXPECT_EQ(u32(22), 200);
    EXPECT_EQ(bmp[26] | (bmp[27] << 8), 1);
    EXPECT_EQ(bmp[28] | (bmp[29] << 8), 24);
    EXPECT_EQ(u32(30), 0);
    // The first stored row is the bottom one.
    EXPECT_EQ(bmp[54 + 319 * 3], 17);
    EXPECT_EQ(bmp[54 + 319 * 3 + 2], 17);
    const std::size_t topRow = 54 + 199u * 960u;
    EXPECT_EQ(bmp[topRow], 200);
    EXPECT_EQ(bmp[topRow + 1], 200);

    // Odd widths pad every row to 4 bytes.
    Picture odd;
    odd.width = 3;
    odd.height = 2;
    odd.grey = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(encodeBmp(odd),
              (Bytes{'B', 'M', 78,   0,    0, 0, 0, 0, 0,  0, 54, 0, 0, 0, 40, 0, 0, 0, 3,    0,
                     0,   0,   2,    0,    0, 0, 1, 0, 24, 0, 0,  0, 0, 0, 24, 0, 0, 0, 0xC4, 0x0E,
                     0,   0,   0xC4, 0x0E, 0, 0, 0, 0, 0,  0, 0,  0, 0, 0, 4,  4, 4, 5, 5,    5,
                     6,   6,   6,    0,    0, 0, 1, 1, 1,  2, 2,  2, 3, 3, 3,  0, 0, 0}));
}

}  // namespace
}  // namespace kyr
