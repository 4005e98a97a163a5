#pragma once
// Command line of the detector-chain simulator.
#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace cellsim {

enum class Chemistry { LeadAcid, Lithium };

/// A failing cell: from its unit's reply number after+1 on, for `replies` replies (0: for
/// good), the cell reads `volts`; then it is back where its drift left it.
struct Sag {
  int unit = 0;
  int cell = 0;
  double volts = 0;
  int after = 2;
  int replies = 6;
};

/// A discharge of one unit's string: from `afterSeconds` after cellsim started, for `minutes`,
/// the cells step down under load, slope down slowly and fall through the knee at the end;
/// `weak` cells fall faster. Then the load goes and the cells are back on float.
struct Discharge {
  int unit = 0;
  double afterSeconds = 0;
  double minutes = 1;
  std::set<int> weak;
};

struct Options {
  /// Units 1..units answer; at most 99.
  int units = 5;
  /// Cells every unit reports, 0..108.
  int cells = 24;
  Chemistry chemistry = Chemistry::LeadAcid;
  /// Units that never answer.
  std::set<int> silent;
  /// Share (0..100 %) of replies sent with a wrong checksum byte.
  double badChecksumPercent = 0;
  /// Share (0..100 %) of replies cut in two with a pause of splitGapMs in the middle.
  double splitPercent = 0;
  int splitGapMs = 150;
  /// Asked unit -> unit whose frame goes back instead (a reply for a unit that was not asked).
  std::map<int, int> answerAs;
  /// Cells that sag out of their range and come back.
  std::vector<Sag> sags;
  /// Discharges, by unit.
  std::vector<Discharge> discharges;
  /// Pause between the last byte of a request and the first byte of the reply.
  int turnaroundMs = 20;
  /// Time one byte takes on the line: 10 bits at 9600 baud.
  int byteMicros = 1042;
  /// Path of a symbolic link to the pseudo-terminal, removed again on exit; empty for none.
  std::string link;
  /// A serial device to use instead of a pseudo-terminal; empty for a pseudo-terminal.
  std::string device;
  /// File that gets a line per reply sent: monotonic time of its last byte (ns), unit, bytes.
  std::string replyLog;
  std::uint64_t seed = 1;
  /// A line per frame on standard error.
  bool verbose = false;
  bool help = false;
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Parses argv; throws UsageError with a one-line reason on a bad option.
Options parseOptions(const std::vector<std::string>& args);

std::string usageText();

}  // namespace cellsim
