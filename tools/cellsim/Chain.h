#pragma once
// The detector units of the simulated chain: each holds a string of cells whose voltages drift
// slowly around a resting value, and builds its reply frame on request.
#include <cstdint>
#include <random>
#include <vector>

#include "Options.h"

namespace cellsim {

/// What goes back on the line for one request.
struct Reply {
  std::vector<std::uint8_t> bytes;
  /// Bytes to write before the pause of a split reply; bytes.size() when not split.
  std::size_t splitAt = 0;
  int unit = 0;  ///< the unit the frame names
  bool badChecksum = false;
};

class Chain {
 public:
  explicit Chain(const Options& options);

  /// The reply to a request for unit `asked`, `seconds` after cellsim started, or an empty reply
  /// when nobody answers. Every answer lets the answering unit's voltages drift one step.
  Reply answer(int asked, double seconds = 0);

  /// A cell's voltage under a discharge `fraction` (0..1) through, falling `rate` times as fast
  /// as a sound cell; `offset` is the cell's own distance from rest.
  double underLoad(double fraction, double rate, double offset) const;

  /// Current voltage of a unit's cell (1-based), for tests of the drift's bounds.
  double cell(int unit, int k) const { return units_.at(static_cast<std::size_t>(unit - 1)).at(static_cast<std::size_t>(k - 1)); }

 private:
  void drift(std::vector<double>& cells);
  bool chance(double percent);

  Options options_;
  double rest_;    ///< resting cell voltage
  double spread_;  ///< how far a cell may wander from rest
  std::vector<std::vector<double>> units_;
  /// Replies each unit has sent (index unit - 1), for the sags.
  std::vector<int> replies_;
  std::mt19937_64 random_;
};

}  // namespace cellsim
