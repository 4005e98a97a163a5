#pragma once
// Publishing to a broker, switched on by publish.ini in the station folder.
#include <memory>

#include "health/HealthMonitor.h"
#include "publish/Publisher.h"

class TForm1;

/// Reads publish.ini in the working directory (the station folder). Without the file: returns
/// nothing and changes nothing. With usable settings: a publisher connected to the window's
/// signals, to be destroyed before the window. With a faulty file: nothing is published, the
/// reason is logged and shown once in an error box after the window has appeared.
std::unique_ptr<publish::Publisher> attachPublishing(TForm1& form);

/// Publishes what the health monitor records about the units and the line (alarms raised and
/// cleared, units offline and back, the line down and up) under event/<name>, and gives the
/// publisher the units' online and alarm states for Home Assistant. Both must live until the
/// publisher goes.
void publishHealthEvents(health::HealthMonitor& health, publish::Publisher& publisher);
