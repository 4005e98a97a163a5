#pragma once
// Line health, alarms and the event record, attached to the station window.
#include <memory>

#include "health/HealthMonitor.h"

class TForm1;

/// Creates the monitor for the window (limits from db1.mdb in the working directory) and
/// connects it to the window's signals. The monitor must go before the window.
std::unique_ptr<health::HealthMonitor> attachHealth(TForm1& form);
