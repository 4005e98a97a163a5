// Reply frames from the serial line into the measurement tables.
#include "app/Unit1.h"
