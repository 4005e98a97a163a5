// Reply frames from the serial line into the measurement tables.
#include "app/Unit1.h"

void TForm1::Comm1ReceiveData(comm::TComm*, const std::uint8_t*, std::uint16_t) {}
