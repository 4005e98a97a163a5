#pragma once
// Everything the station keeps in db1.mdb, behind one object: the connection and the statements
// of the settings, the sampling runs into the 24-hour tables, clearing, the history curves and
// the history export. Callers hand it plain values (a copy of the measurement tables, a unit
// number), never a widget. Sampling runs and clearing are written on the store's own thread
// (StoreThread); settings, curves and the export stay on the caller's connection, where a
// reader never waits on a writer (write-ahead log).
//
// Failures throw engine::EDatabaseError (or common::EConvertError for a settings field that
// holds no number) with the text the operator sees; each is logged here.
#include <QString>
#include <QStringList>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "acquisition/core/MeasurementTables.h"
#include "engine/TADOCommand.h"
#include "engine/TADOConnection.h"
#include "engine/TADOQuery.h"
#include "store/ReplacementWatch.h"
#include "store/StoreThread.h"
#include "store/core/SamplingRun.h"

namespace store {

/// The settings row as stored: the polling interval in seconds and the unit count.
struct SettingsRow {
  engine::TField interval;
  engine::TField unitCount;
};

/// One stored sample of a curve: hours into the 24-hour window, and the volts (none where the
/// table holds NULL, which another program may have written: a gap, not 0 V).
struct CurvePoint {
  double hours = 0;
  std::optional<double> volts;
};

class StationStore {
 public:
  StationStore();
  /// Waits up to 10 s for the runs the store's thread still holds (see StoreThread).
  ~StationStore();
  StationStore(const StationStore&) = delete;
  StationStore& operator=(const StationStore&) = delete;

  // The engine objects, under their form names.
  engine::TADOConnection ADOConnection1;
  engine::TADOQuery ADOQuery1{ADOConnection1};
  engine::TADOQuery ADOQuery2{ADOConnection1};
  engine::TADOCommand ADOCommand1{ADOConnection1};

  /// (Re)opens db1.mdb in the current folder.
  void connect();
  /// Reads the settings row.
  SettingsRow readSettings();
  /// The interval text (read with the window's separator) and the unit count, interval first;
  /// nothing after a failing update runs.
  void saveSettings(const QString& intervalText, int unitCount, char decimalSeparator);
  /// Whether a table or view of this name exists, asked afresh.
  bool tableExists(const QString& name);

  /// Hands a sampling run over units 1..unitCount to the store's thread: a copy of `tables`,
  /// taken now. The 24-hour tables, then the long-term archive (archive/ in the station
  /// folder), are written there in the order runs are handed over; the answers come as the
  /// thread's signals (see StoreThread.h).
  void storeSamples(const acquisition::MeasurementTables& tables, int unitCount);
  /// Empties the sample tables of units 1..unitCount on the store's thread, after every run
  /// handed over before; a failure comes as StoreThread::clearFailed.
  void clear(int unitCount);
  /// Waits (at most `timeout`) until the store's thread has written what it was handed, and
  /// delivers its answers; true when nothing is left. For tests: the window never waits.
  bool waitIdle(std::chrono::milliseconds timeout = std::chrono::seconds(60));
  /// The store's thread, for its signals.
  StoreThread& thread() { return *thread_; }
  /// Tells when db1.mdb is replaced by another file; the store's own connections let go of the
  /// old file then, and every other holder of a connection to it must do the same.
  ReplacementWatch& watch() { return *watch_; }

  /// The rows of a curve statement through ADOQuery2: `column` ("V" or "V1".."V108") against
  /// the time, in the order the engine returns them.
  std::vector<CurvePoint> curve(const QString& statement, const QString& column);
  /// Writes the unit's stored samples as CSV (time,V1..V108,V); returns the rows written.
  int exportSamples(int unit, const QString& path);

 private:
  const std::unique_ptr<StoreThread> thread_;
  const std::unique_ptr<ReplacementWatch> watch_;
};

}  // namespace store
