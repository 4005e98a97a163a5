#pragma once
// The discharge settings in db1.mdb, table `dischargeSetting` (one row: thresholdMv, marginMv,
// endMv, maxMinutes; whole numbers), created when first written. The database file itself is
// never created here. A connection of its own; every value is bound.
#include <QString>
#include <QStringList>
#include <stdexcept>

#include "discharge/core/Settings.h"

namespace discharge {

class SettingsDbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// The stored settings; the defaults when none were ever saved. A stored row that is no valid
/// set of settings (another program wrote it) gives the defaults and a line in `problems`.
/// Throws SettingsDbError when the database cannot be read.
Settings loadSettings(const QString& dbFile, QStringList* problems = nullptr);

/// Checks (SettingError) and stores the settings. Throws SettingsDbError; the stored settings
/// then stay as they were.
void saveSettings(const QString& dbFile, const Settings& settings);

}  // namespace discharge
