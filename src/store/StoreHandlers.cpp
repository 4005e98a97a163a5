// Settings load and save, sampling and clearing.
#include "app/Unit1.h"

void TForm1::ConnectAndLoadSettings() {}

void TForm1::StoreSamples() {}

void TForm1::SpeedButton4Click() {}
