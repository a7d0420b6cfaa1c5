#pragma once
// Running kyrctl (and kyr-sim) as processes, and making image files for them.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/image_header.h"
#include "image/pixel_array.h"

namespace kyr::test {

struct RunResult {
    bool finished = false;
    int exitCode = -1;
    std::string out, err;
};

// Runs kyrctl with the arguments and waits (at most two minutes) for it to end.
RunResult runKyrctl(const QStringList& args, const QString& workDir = {});

// An image with a star-like pattern and the full unsigned range, and its header record.
PixelArray testImage(int w, int h, int seed);
ImageHeader testHeader(int exposureCount);

// Writes a .KYR file the way the console encodes one.
void writeKyr(const std::string& name, const ImageHeader& hdr, const PixelArray& img, int w, int h,
              std::int32_t background = 1000, std::int32_t range = 4096);

// The panel text the console shows for loading `name`, and the image it loads.
struct Loaded {
    std::string panel;
    PixelArray pixels;
    int width = 0, height = 0;
    std::int32_t background = 0, range = 0;
    std::vector<std::string> messages;
};
Loaded loadInProcess(const std::string& name);

// Console text with CR LF as '\n', ended by one '\n': what kyrctl prints for a panel.
std::string printed(const std::string& panel);

// The standard output lines of a run.
std::vector<std::string> lines(const std::string& text);

}  // namespace kyr::test
