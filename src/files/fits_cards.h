#pragma once
// Writing the image's keywords into an HDU that CFITSIO holds open (the INDI driver's).

#include <fitsio.h>

#include <vector>

#include "files/fits_export.h"

namespace kyr {

// Adds or updates each card; CFITSIO's status convention (nothing happens once *status != 0).
void writeFitsKeywords(fitsfile* f, const std::vector<FitsCard>& cards, int* status);

}  // namespace kyr
