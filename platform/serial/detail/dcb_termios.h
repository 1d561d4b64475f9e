// The device-control block on a Linux terminal: what maps onto termios and
// what does not. Internal to the serial layer; declared here for its tests.
#ifndef VKT_SERIAL_DETAIL_DCB_TERMIOS_H_
#define VKT_SERIAL_DETAIL_DCB_TERMIOS_H_

#include <termios.h>

#include "serial/serial_io.h"

namespace vkt::serial_io::detail {

bool SpeedOf(DWORD rate, speed_t* speed);
DWORD RateOf(speed_t speed);
// The block a port starts with for what termios does not hold.
DCB DefaultShadow();
// False for settings a terminal cannot carry (see serial_io.h).
bool Representable(const DCB& d);
// `shadow` supplies what termios does not hold.
DCB DcbFromTermios(const termios& t, const DCB& shadow);
// Requires Representable(d).
void TermiosFromDcb(const DCB& d, termios* t);
// Raw bytes, no flow control, modem lines ignored, reads that never block.
void MakeRaw(termios* t);
// True when the terminal kept what was asked: tcsetattr succeeds when it
// took any part of a change, and some terminals drop parts silently
// (a pseudo-terminal keeps 8 data bits and no parity whatever is set).
bool Carried(const DCB& wanted, const termios& got);

}  // namespace vkt::serial_io::detail

#endif  // VKT_SERIAL_DETAIL_DCB_TERMIOS_H_
