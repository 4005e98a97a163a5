#pragma once
// How the line settings record maps onto termios; kept apart so it can be checked without
// a device. What termios has no room for is listed at toTermios().
#include <termios.h>

#include <cstdint>

#include "comm/LineSettings.h"

namespace comm::port {

/// The termios speed constant for a baud rate; false for a rate termios has no constant for.
bool speedForBaud(std::uint32_t baud, speed_t& speed);
std::uint32_t baudForSpeed(speed_t speed);

/// Writes the record into t (which should hold the device's current attributes): raw mode,
/// receiver on, modem status lines ignored for open/read (CLOCAL), no kernel timeouts
/// (VMIN = VTIME = 0), then speed, data bits, parity, stop bits, flow control and the XON/XOFF
/// characters. Not mapped, because termios has no equivalent: DSR output flow (fOutxDsrFlow),
/// DSR sensitivity, DTR handshake (DTR is raised instead), RTS toggle (RTS raised),
/// fTXContinueOnXoff (the kernel always keeps sending), XonLim/XoffLim (fixed kernel
/// thresholds), 1.5 stop bits (2 are set; 8250-family UARTs send 1.5 with 5 data bits),
/// a non-zero ErrorChar (a byte with a parity error reads as 0), EofChar and EvtChar.
/// fNull (drop received zero bytes) is done by the port's read, not by termios.
/// Returns false, changing nothing, when the baud rate has no termios constant.
bool toTermios(const LineSettings& s, termios& t);

/// The record that describes t, for the fields termios holds (the others keep their values
/// in base).
LineSettings fromTermios(const termios& t, LineSettings base);

}  // namespace comm::port
