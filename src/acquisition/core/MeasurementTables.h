#pragma once
// The measurement tables: the latest decoded voltages of every detector unit. They live on the
// main thread; nothing here is saved or reloaded. Every value is zero when the program starts.
//
// Units are indexed 1..99 and cells 1..108, as on the wire. An index outside those ranges is a
// programming error and throws std::out_of_range instead of touching memory it does not own.
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "protocol/Frames.h"

namespace acquisition {

constexpr int kUnits = protocol::kMaxUnit;
constexpr int kCells = protocol::kMaxCells;

/// A fixed array indexed First..Last, bounds-checked.
template <typename T, int First, int Last>
class IndexedArray {
 public:
  static constexpr int first = First;
  static constexpr int last = Last;

  T& operator[](int i) { return items_[offset(i)]; }
  const T& operator[](int i) const { return items_[offset(i)]; }
  static constexpr bool contains(int i) { return i >= First && i <= Last; }

 private:
  // The check stays small enough to inline into every loop over cells; building the error
  // text is kept out of line.
  static std::size_t offset(int i) {
    if (!contains(i)) [[unlikely]]
      outOfRange(i);
    return static_cast<std::size_t>(i - First);
  }
  [[noreturn, gnu::noinline, gnu::cold]] static void outOfRange(int i) {
    throw std::out_of_range("index " + std::to_string(i) + " outside " + std::to_string(First) + ".." +
                            std::to_string(Last));
  }
  std::array<T, Last - First + 1> items_{};
};

using CellRow = IndexedArray<double, 1, kCells>;

struct MeasurementTables {
  /// Cells the unit announced in the last good frame received from it (0..108).
  IndexedArray<std::int32_t, 1, kUnits> CellCount{};
  /// Last decoded voltage of each cell, [unit][cell].
  IndexedArray<CellRow, 1, kUnits> CellVoltage{};
  /// Last decoded total voltage of each unit.
  IndexedArray<double, 1, kUnits> TotalVoltage{};
};

/// The place of cell `row` (1..18) of cell table `table` (1..6): the tables run across, six
/// cells a row.
constexpr int cellAt(int table, int row) { return 6 * (row - 1) + table; }

}  // namespace acquisition
