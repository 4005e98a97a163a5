// Start/stop and the polling cycle.
#include "app/Unit1.h"

void TForm1::SpeedButton1Click() {}

void TForm1::Timer1Timer() {}
