// The driver program: libindi's main runs the event loop and hands every client request
// to the device made here.
#include <memory>

#include "indi/kyr_ccd.h"

namespace {
const std::unique_ptr<kyr::indi::KyrCcd> kyrCcd = std::make_unique<kyr::indi::KyrCcd>();
}
