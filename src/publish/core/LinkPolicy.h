#pragma once
// How the broker link judges its failures and paces its retries: the back-off schedule, the
// kinds of failure with their texts, and the recognition of a connection the broker keeps
// closing right after accepting it. Plain logic, no network and no Qt.
#include <chrono>
#include <string>

namespace publish {

/// The delay before the next attempt after `failures` failures in a row (1 = the first):
/// `first`, doubled with every further failure, never above `longest`.
std::chrono::milliseconds retryDelay(int failures, std::chrono::milliseconds first, std::chrono::milliseconds longest);

/// A refused login is retried slowly, at most this far apart, and logged at most this often.
inline constexpr std::chrono::minutes kLoginRetryLongest{15};
inline constexpr std::chrono::hours kLoginReportEvery{1};

enum class Failure {
  /// Nothing listens on the port (the connect was refused).
  Refused,
  /// The connection was reset or closed by the other side before or while it worked.
  Reset,
  /// No answer within the connect limit, or the keep-alive ran out.
  Timeout,
  /// The host name cannot be resolved.
  Lookup,
  /// The host or its network cannot be reached.
  Unreachable,
  /// The TLS handshake was cut short (a restarting broker, a plain listener, a proxy without
  /// a backend).
  Handshake,
  /// The broker's certificate failed verification against ca_file: final.
  Verification,
  /// The broker refused the user name or password (or the client id): retried slowly.
  LoginRefused,
  /// The broker lets no client in without a user name: final.
  NotAuthorised,
  /// The broker says it is unavailable for now.
  Unavailable,
  /// Anything else the library reports.
  Other,
};

/// Whether the same settings can only fail again: the link stops trying.
bool isFinal(Failure f);
/// Whether retries follow the slow schedule of a refused login.
bool isSlow(Failure f);
/// For the log: what happened, with the library's detail in brackets when there is one.
std::string failureText(Failure f, const std::string& detail = {});
/// A few words in Chinese for the statistics dialog.
std::string failureWords(Failure f);

/// Recognises a broker that takes the connection and drops it again within seconds, over and
/// over (typically another station connected with the same client id). Times are given by the
/// caller, so the judgement is the same in a test as on a site.
class FlapDetector {
 public:
  using Clock = std::chrono::steady_clock;
  /// A connection lost within `shortUp` counts as a flap; `repeats` flaps in a row are
  /// reported; a connection up for `stableAfter` ends the episode.
  explicit FlapDetector(std::chrono::milliseconds shortUp = std::chrono::seconds(10), int repeats = 3,
                        std::chrono::milliseconds stableAfter = std::chrono::seconds(30))
      : shortUp_(shortUp), repeats_(repeats), stableAfter_(stableAfter) {}

  void connected(Clock::time_point t);
  /// The connection made at the last connected() is lost at `t`. Returns true once per
  /// episode: when the flaps in a row reach `repeats`.
  bool lost(Clock::time_point t);
  /// Whether the current connection has been up long enough to count as healthy; the first
  /// call that says so ends the episode (the back-off may start again from the beginning).
  bool settle(Clock::time_point now);

 private:
  std::chrono::milliseconds shortUp_;
  int repeats_;
  std::chrono::milliseconds stableAfter_;
  bool up_ = false;
  bool settled_ = false;
  Clock::time_point since_{};
  int flaps_ = 0;
  bool reported_ = false;
};

}  // namespace publish
