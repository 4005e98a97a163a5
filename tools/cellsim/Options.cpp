#include "Options.h"

#include <charconv>
#include <sstream>

namespace cellsim {

namespace {

long toNumber(const std::string& text, const std::string& option, long lo, long hi) {
  long value = 0;
  const auto* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc{} || ptr != end || value < lo || value > hi)
    throw UsageError(option + ": expected a whole number from " + std::to_string(lo) + " to " +
                     std::to_string(hi) + ", got '" + text + "'");
  return value;
}

double toPercent(const std::string& text, const std::string& option) {
  try {
    std::size_t used = 0;
    const double value = std::stod(text, &used);
    if (used == text.size() && value >= 0 && value <= 100) return value;
  } catch (const std::exception&) {
    // falls through to the usage error below
  }
  throw UsageError(option + ": expected a share from 0 to 100, got '" + text + "'");
}

/// "2,5-7" -> {2, 5, 6, 7}
std::set<int> toUnitList(const std::string& text, const std::string& option) {
  std::set<int> units;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    const auto dash = item.find('-');
    if (dash == std::string::npos) {
      units.insert(static_cast<int>(toNumber(item, option, 1, 99)));
      continue;
    }
    const int from = static_cast<int>(toNumber(item.substr(0, dash), option, 1, 99));
    const int to = static_cast<int>(toNumber(item.substr(dash + 1), option, from, 99));
    for (int u = from; u <= to; ++u) units.insert(u);
  }
  if (units.empty()) throw UsageError(option + ": expected unit numbers such as 2,5-7");
  return units;
}

/// "UNIT:CELL:VOLTS[:AFTER[:REPLIES]]"
Sag toSag(const std::string& text, const std::string& option) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ':')) parts.push_back(item);
  if (parts.size() < 3 || parts.size() > 5)
    throw UsageError(option + ": expected UNIT:CELL:VOLTS[:AFTER[:REPLIES]], got '" + text + "'");
  Sag s;
  s.unit = static_cast<int>(toNumber(parts[0], option, 1, 99));
  s.cell = static_cast<int>(toNumber(parts[1], option, 1, 108));
  try {
    std::size_t used = 0;
    s.volts = std::stod(parts[2], &used);
    if (used != parts[2].size() || !(s.volts >= 0 && s.volts <= 16)) throw std::invalid_argument(parts[2]);
  } catch (const std::exception&) {
    throw UsageError(option + ": expected a cell voltage from 0 to 16, got '" + parts[2] + "'");
  }
  if (parts.size() > 3) s.after = static_cast<int>(toNumber(parts[3], option, 0, 1000000));
  if (parts.size() > 4) s.replies = static_cast<int>(toNumber(parts[4], option, 0, 1000000));
  return s;
}

double toSeconds(const std::string& text, const std::string& option, const std::string& what, double hi) {
  try {
    std::size_t used = 0;
    const double value = std::stod(text, &used);
    if (used == text.size() && value >= 0 && value <= hi) return value;
  } catch (const std::exception&) {
    // falls through to the usage error below
  }
  throw UsageError(option + ": expected " + what + ", got '" + text + "'");
}

/// "UNIT:AFTER:MINUTES[:WEAK]", WEAK as cells such as 3 or 3,7-9
Discharge toDischarge(const std::string& text, const std::string& option) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ':')) parts.push_back(item);
  if (parts.size() < 3 || parts.size() > 4)
    throw UsageError(option + ": expected UNIT:AFTER:MINUTES[:WEAK], got '" + text + "'");
  Discharge d;
  d.unit = static_cast<int>(toNumber(parts[0], option, 1, 99));
  d.afterSeconds = toSeconds(parts[1], option, "seconds from 0 to 864000 before it starts", 864000);
  d.minutes = toSeconds(parts[2], option, "its length in minutes, above 0 up to 2880", 2880);
  if (!(d.minutes > 0)) throw UsageError(option + ": expected its length in minutes, above 0 up to 2880, got '" + parts[2] + "'");
  if (parts.size() == 4) {
    std::stringstream cells(parts[3]);
    while (std::getline(cells, item, ',')) {
      const auto dash = item.find('-');
      const int from = static_cast<int>(toNumber(item.substr(0, dash), option, 1, 108));
      const int to = dash == std::string::npos ? from : static_cast<int>(toNumber(item.substr(dash + 1), option, from, 108));
      for (int k = from; k <= to; ++k) d.weak.insert(k);
    }
    if (d.weak.empty()) throw UsageError(option + ": expected weak cells such as 3 or 3,7-9");
  }
  return d;
}

}  // namespace

Options parseOptions(const std::vector<std::string>& args) {
  Options o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError(a + ": a value is missing");
      return args[++i];
    };
    if (a == "-h" || a == "--help") o.help = true;
    else if (a == "-v" || a == "--verbose") o.verbose = true;
    else if (a == "--units") o.units = static_cast<int>(toNumber(value(), a, 1, 99));
    else if (a == "--cells") o.cells = static_cast<int>(toNumber(value(), a, 0, 108));
    else if (a == "--chemistry") {
      const std::string& c = value();
      if (c == "lead-acid") o.chemistry = Chemistry::LeadAcid;
      else if (c == "lithium") o.chemistry = Chemistry::Lithium;
      else throw UsageError(a + ": expected lead-acid or lithium, got '" + c + "'");
    } else if (a == "--silent") {
      for (int u : toUnitList(value(), a)) o.silent.insert(u);
    } else if (a == "--bad-checksum") o.badChecksumPercent = toPercent(value(), a);
    else if (a == "--split") o.splitPercent = toPercent(value(), a);
    else if (a == "--split-gap") o.splitGapMs = static_cast<int>(toNumber(value(), a, 0, 10000));
    else if (a == "--answer-as") {
      const std::string& pair = value();
      const auto eq = pair.find('=');
      if (eq == std::string::npos) throw UsageError(a + ": expected ASKED=UNIT, got '" + pair + "'");
      const int asked = static_cast<int>(toNumber(pair.substr(0, eq), a, 1, 99));
      o.answerAs[asked] = static_cast<int>(toNumber(pair.substr(eq + 1), a, 1, 99));
    } else if (a == "--sag") o.sags.push_back(toSag(value(), a));
    else if (a == "--discharge") o.discharges.push_back(toDischarge(value(), a));
    else if (a == "--turnaround") o.turnaroundMs = static_cast<int>(toNumber(value(), a, 0, 10000));
    else if (a == "--byte-time") o.byteMicros = static_cast<int>(toNumber(value(), a, 0, 1000000));
    else if (a == "--link") o.link = value();
    else if (a == "--device") o.device = value();
    else if (a == "--reply-log") o.replyLog = value();
    else if (a == "--seed") o.seed = static_cast<std::uint64_t>(toNumber(value(), a, 0, 2147483647));
    else throw UsageError("unknown option '" + a + "' (see --help)");
  }
  if (!o.link.empty() && !o.device.empty())
    throw UsageError("--link and --device exclude each other: a link is made only to a pseudo-terminal");
  return o;
}

std::string usageText() {
  return R"(Usage: cellsim [options]
Simulates a chain of battery-voltage detector units on a serial line. Each request frame
addressed to one of the units 1..N is answered with that unit's reply frame, written at the
line's pace after a short turnaround; everything else on the line is ignored.

Line:
  --link PATH          open a pseudo-terminal and make PATH a symbolic link to it
                       (e.g. demo/COM1); the link is removed when cellsim stops
  --device PATH        use this serial device (set to 9600 8N1, raw) instead
                       Without either, the pseudo-terminal's path is printed on stdout.
  --byte-time US       microseconds per byte on the line (default 1042: 9600 baud)
  --turnaround MS      pause before a reply starts (default 20)
Units:
  --units N            units 1..N answer (1..99, default 5)
  --cells N            cells per unit (0..108, default 24)
  --chemistry KIND     lead-acid (about 2.2 V a cell, default) or lithium (about 3.3 V)
  --seed N             seed of the slow voltage drift and of the faults (default 1)
Faults:
  --silent LIST        these units never answer (e.g. 2 or 2,5-7)
  --bad-checksum PCT   share of replies sent with a wrong checksum (0..100)
  --split PCT          share of replies cut in two by a pause (0..100)
  --split-gap MS       that pause (default 150, above the station's 100 ms block gap)
  --answer-as A=B      when unit A is asked, unit B's frame goes back (repeatable)
  --sag U:C:V[:A[:N]]  cell C of unit U reads V volts in that unit's replies A+1 to A+N
                       (defaults A=2, N=6; N=0: for good), then drifts on as before;
                       repeatable (e.g. --sag 1:7:1.7 to raise a low-cell alarm)
  --discharge U:A:M[:W]  unit U's string discharges from A seconds after the start for
                       M minutes (both may have decimals): a step down under load, a slow
                       slope, the knee at the end (the sound cells near 1.80 V lead-acid);
                       cells W (e.g. 7 or 3,7-9) fall faster; then back on float;
                       repeatable (e.g. --discharge 2:30:1:7 for a one-minute test)
Other:
  --reply-log FILE     a line per reply sent: CLOCK_MONOTONIC ns of its last byte, unit, bytes
  -v, --verbose        a line per frame on standard error
  -h, --help           this text
SIGINT or SIGTERM stops cellsim cleanly.
)";
}

}  // namespace cellsim
