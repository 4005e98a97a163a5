#pragma once
// Discharge tests: every good reply of a unit in discharge recorded at full rate, the events
// noted in the event record, and the operator's entries in the window's context menu.
#include <QObject>
#include <memory>

#include "discharge/core/Monitor.h"

class TForm1;
namespace health {
class HealthMonitor;
}

/// Creates the discharge monitor and connects it to the polling, the event record and the
/// context menu. The monitor must go before the window and the health monitor.
std::unique_ptr<discharge::Monitor> attachDischarge(TForm1& form, health::HealthMonitor& health);
