#pragma once
// The one way the console obtains a file name.

#include <string>

namespace kyr {

enum class FileDialogMode { Open, Save };
// FitsAny: every extension a FITS file goes by, for opening one.
enum class FileDialogFilter { Kyr, Bmp, Bin, Fits, Png, FitsAny };

// What the platform's dialog is asked to show.
struct FileDialogRequest {
    FileDialogMode mode = FileDialogMode::Open;
    std::string filter;   // "All Files (*.*)|*.*|KYR Files (*.KYR)|*.KYR"
    int filterIndex = 2;  // 1-based; the second entry is preselected
    int flags = 4;        // hide read-only box; no overwrite prompt; no must-exist check
    std::string title;    // the dialog's title ("": the platform's own, "Open" or "Save As")
};

std::string fileDialogFilterText(FileDialogFilter filter);

}  // namespace kyr
