// Arbitrary blocks from the serial line into the reply handling. Besides the sanitizers' own
// findings, every block is checked against what the tables promise their readers: counts
// 0..108, totals up to 300 V, cells up to 16 V, nothing written by a block that is no frame,
// only the count written by a damaged one, and cells above the count left alone.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "acquisition/core/ReplyDecoder.h"
#include "common/NumberText.h"

namespace {

using acquisition::MeasurementTables;
using Kind = acquisition::ReplyOutcome::Kind;

[[noreturn]] void fail(const char* what, int unit, int cell) {
  std::fprintf(stderr, "reply handling broke a promise: %s (unit %d, cell %d)\n", what, unit, cell);
  std::abort();
}

void check(bool ok, const char* what, int unit = 0, int cell = 0) {
  if (!ok) fail(what, unit, cell);
}

bool inRange(double v, double limit) { return v >= 0.0 && v <= limit; }

void checkNumberText(double v, int unit, int cell) {
  const std::string text = common::formatGeneral(v);
  check(text.find('E') == std::string::npos, "number text with an exponent", unit, cell);
  const double back = common::parseFloat(text);
  check(std::fabs(back - v) <= 1e-13 * std::fabs(v), "number text does not read back", unit, cell);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The serial component hands over 1 to 4096 bytes per block.
  if (size < 1 || size > 4096) return 0;

  // The tables persist from block to block, as they do in the station, so later blocks meet
  // whatever earlier ones left behind. Statics: the fuzzer runs one block at a time.
  static auto tables = std::make_unique<MeasurementTables>();
  static auto before = std::make_unique<MeasurementTables>();
  *before = *tables;

  const auto outcome = acquisition::applyReply(std::span<const std::uint8_t>(data, size), *tables);

  const int u = outcome.unit;
  const bool unitInRange = u >= 1 && u <= acquisition::kUnits;
  if (outcome.kind != Kind::Malformed) {
    check(unitInRange, "frame accepted for a unit outside 1..99", u);
    check(outcome.cells >= 0 && outcome.cells <= acquisition::kCells, "cell count outside 0..108", u);
    check(size >= 12 + 2 * static_cast<std::size_t>(outcome.cells), "frame accepted from a short block", u);
    if (outcome.kind == Kind::Stored) check(tables->CellCount[u] == outcome.cells, "count not stored", u);
  }

  // Units other than the one the block names must be exactly as before. The touched unit obeys
  // the limits; by induction every unit then does, since each one started at zero.
  for (int v = 1; v <= acquisition::kUnits; ++v) {
    // A frame that fails its checksum changes nothing, its unit's count included.
    const bool touched = outcome.kind == Kind::Stored && v == u;
    if (!touched) {
      check(tables->CellCount[v] == before->CellCount[v], "stray count write", v);
      check(tables->TotalVoltage[v] == before->TotalVoltage[v], "stray total write", v);
      check(std::memcmp(&tables->CellVoltage[v], &before->CellVoltage[v], sizeof(acquisition::CellRow)) == 0,
            "stray cell write", v);
      continue;
    }
    const bool voltagesWritten = outcome.kind == Kind::Stored;
    check(tables->CellCount[v] >= 0 && tables->CellCount[v] <= acquisition::kCells, "count outside 0..108", v);
    check(inRange(tables->TotalVoltage[v], acquisition::kMaxTotalVoltage), "total outside 0..300", v);
    if (!voltagesWritten)
      check(tables->TotalVoltage[v] == before->TotalVoltage[v], "total written by a damaged frame", v);
    for (int k = 1; k <= acquisition::kCells; ++k) {
      check(inRange(tables->CellVoltage[v][k], acquisition::kMaxCellVoltage), "cell outside 0..16", v, k);
      if (!voltagesWritten || k > outcome.cells)
        check(tables->CellVoltage[v][k] == before->CellVoltage[v][k], "cell written beyond the frame", v, k);
    }
  }

  // The number text of every value a frame can store is plain decimal (no exponent) and reads
  // back as the same value to 15 significant digits.
  if (outcome.kind == Kind::Stored) {
    checkNumberText(tables->TotalVoltage[u], u, 0);
    for (int k = 1; k <= outcome.cells; ++k) checkNumberText(tables->CellVoltage[u][k], u, k);
  }
  return 0;
}
