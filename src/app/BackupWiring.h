#pragma once
// The station's backups while it runs, attached to the window: the daily backup into backup/ of
// the station folder and 备份数据库… in the context menu.
#include <memory>

#include "backup/BackupService.h"

class TForm1;
namespace health {
class HealthMonitor;
}

/// Starts the daily backup of db1.mdb in the working directory (its failures become events of
/// the record) and adds 备份数据库… to the monitor's context menu. Must go before the monitor.
std::unique_ptr<backup::BackupService> attachBackups(TForm1& form, health::HealthMonitor& health,
                                                     backup::BackupService::Options options = {});
