// The selected unit's voltages in the six cell tables and the total label.
#include "app/Unit1.h"

void TForm1::ShowUnit(int) {}

void TForm1::SpinEdit2Change() {}
