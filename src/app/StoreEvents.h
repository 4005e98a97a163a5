#pragma once
// What the store's thread reports that belongs in the event record: sampling runs delayed by
// another program's lock and written again, and the disk running low or recovering.
namespace health {
class HealthMonitor;
}
class TForm1;

/// Connects the window's store to the monitor's event record. The monitor must go before the
/// window.
void noteStoreEvents(TForm1& form, health::HealthMonitor& health);
