// The one file of the Asio adapters that speaks to the system's serial driver: Windows' DCB
// or POSIX termios.
#include "asioio/line_parity.h"

namespace kyr {

#if defined(_WIN32)

void LineParity::store(DCB& dcb, std::error_code& ec) const {
    switch (parity_) {
        case 'N':
            dcb.Parity = NOPARITY;
            break;
        case 'E':
            dcb.Parity = EVENPARITY;
            break;
        case 'O':
            dcb.Parity = ODDPARITY;
            break;
        case 'M':
            dcb.Parity = MARKPARITY;
            break;
        case 'S':
            dcb.Parity = SPACEPARITY;
            break;
        default:
            ec = std::make_error_code(std::errc::invalid_argument);
            return;
    }
    dcb.fParity = parity_ == 'N' ? FALSE : TRUE;
    ec.clear();
}

void LineParity::load(const DCB& dcb, std::error_code& ec) {
    switch (dcb.Parity) {
        case EVENPARITY:
            parity_ = 'E';
            break;
        case ODDPARITY:
            parity_ = 'O';
            break;
        case MARKPARITY:
            parity_ = 'M';
            break;
        case SPACEPARITY:
            parity_ = 'S';
            break;
        default:
            parity_ = 'N';
            break;
    }
    ec.clear();
}

#else

void LineParity::store(termios& t, std::error_code& ec) const {
    tcflag_t on = 0;
    switch (parity_) {
        case 'N':
            break;
        case 'E':
            on = PARENB;
            break;
        case 'O':
            on = PARENB | PARODD;
            break;
#if defined(CMSPAR)
        // Stick parity: the parity bit is always 1 (mark) or always 0 (space).
        case 'M':
            on = PARENB | PARODD | CMSPAR;
            break;
        case 'S':
            on = PARENB | CMSPAR;
            break;
#endif
        default:
            ec = std::make_error_code(std::errc::invalid_argument);
            return;
    }
    tcflag_t all = PARENB | PARODD;
#if defined(CMSPAR)
    all |= CMSPAR;
#endif
    t.c_cflag = (t.c_cflag & ~all) | on;
    // Raw input: a byte with a parity error is passed on as it came (the packets' checksums
    // judge it), never marked or dropped.
    t.c_iflag &= ~(INPCK | PARMRK | IGNPAR);
    ec.clear();
}

void LineParity::load(const termios& t, std::error_code& ec) {
    const bool odd = (t.c_cflag & PARODD) != 0;
    parity_ = (t.c_cflag & PARENB) == 0 ? 'N' : odd ? 'O' : 'E';
#if defined(CMSPAR)
    if ((t.c_cflag & PARENB) != 0 && (t.c_cflag & CMSPAR) != 0) parity_ = odd ? 'M' : 'S';
#endif
    ec.clear();
}

#endif

}  // namespace kyr
