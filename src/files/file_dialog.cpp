#include "files/file_dialog.h"

namespace kyr {

std::string fileDialogFilterText(FileDialogFilter filter) {
    switch (filter) {
        case FileDialogFilter::Kyr:
            return std::string("All Files (*.*)|*.*|KYR Files ") + "(*.KYR)|*.KYR";
        case FileDialogFilter::Bmp:
            return std::string("All Files (*.*)|*.*|BMP Files ") + "(*.bmp)|*.bmp";
        case FileDialogFilter::Bin:
            return std::string("All Files (*.*)|*.*|BIN Files ") + "(*.bin)|*.bin";
        case FileDialogFilter::Fits:
            return std::string("All Files (*.*)|*.*|FITS Files ") + "(*.fits)|*.fits";
        case FileDialogFilter::FitsAny:
            return std::string("All Files (*.*)|*.*|FITS Files ") +
                   "(*.fits;*.fit;*.fts)|*.fits;*.fit;*.fts";
        case FileDialogFilter::Png:
            return std::string("All Files (*.*)|*.*|PNG Files ") + "(*.png)|*.png";
    }
    return {};
}

}  // namespace kyr
