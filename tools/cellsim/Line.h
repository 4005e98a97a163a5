#pragma once
// The simulator's end of the serial line: the master side of a pseudo-terminal (optionally
// reached through a symbolic link) or a real serial device.
#include <csignal>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace cellsim {

class LineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Set by the SIGINT/SIGTERM handler; every wait of the simulator returns early once it is set.
extern volatile std::sig_atomic_t stopRequested;

class Line {
 public:
  /// Opens a pseudo-terminal, or `device` when it is not empty; links `link` to the
  /// pseudo-terminal when not empty. Throws LineError with the failing step and errno text.
  Line(const std::string& device, const std::string& link);
  ~Line();
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  /// The path the station opens: the pseudo-terminal's slave or the device.
  const std::string& path() const { return path_; }
  int fd() const { return fd_; }

  /// Reads what is there without waiting; 0 when nothing is. Throws LineError on failure.
  std::size_t readAvailable(std::span<std::uint8_t> into);

  /// Writes bytes one at a time, byteMicros apart, as a UART at that pace would. Returns false
  /// when a stop was requested or the other side took nothing for a second (the rest is dropped).
  bool writePaced(std::span<const std::uint8_t> bytes, int byteMicros);

 private:
  void removeLink() noexcept;

  int fd_ = -1;
  int slaveFd_ = -1;  ///< held open so the master never sees a hang-up between station runs
  std::string path_;
  std::string link_;
};

/// Sleeps until the monotonic deadline `ns`, returning false early when a stop is requested.
bool sleepUntil(std::int64_t ns);
std::int64_t monotonicNs();

}  // namespace cellsim
