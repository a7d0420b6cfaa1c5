#pragma once
// PNG for the console's export, through Qt's image writer (Qt Gui, no widgets), shared by
// the window and kyrctl.

#include "console/platform.h"

namespace kyr {

class QtPngEncoder : public ImageEncoder {
  public:
    // 8-bit grey PNG of the picture; empty for an empty picture or a writer failure.
    std::vector<std::uint8_t> encodePng(const Picture& picture) override;
};

}  // namespace kyr
