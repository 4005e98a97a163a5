#pragma once
// The layout the archive is measured against: one row per unit and run, the time and V1..V108, V
// as 110 REAL columns, an index on (unit, time), in a WAL-mode SQLite file.
#include <QString>

#include "archive/core/ArchiveTypes.h"

class NaiveLayout {
 public:
  explicit NaiveLayout(const QString& path);
  ~NaiveLayout();
  void append(const archive::Run& run);
  /// One value's samples of a unit over a range; returns the count read.
  qint64 readCell(int unit, int cell, qint64 fromMs, qint64 toMs);

 private:
  QString name_;
};
