#pragma once
// One station per station folder: a second one would poll the same line and write the same
// records twice.
#include <string>
#include <sys/types.h>

namespace common {

/// Holds an exclusive lock on the file `cellstation.lock` in a station folder for as long as it
/// lives. The kernel drops the lock with the process, so a station that was killed never keeps
/// the next one from starting. The file holds the holder's process id, for the message that
/// refuses a second station.
class StationLock {
 public:
  static constexpr const char* kFileName = "cellstation.lock";

  /// Tries to take the lock of `folder` (empty: the current folder). Never blocks.
  explicit StationLock(const std::string& folder);
  ~StationLock();
  StationLock(const StationLock&) = delete;
  StationLock& operator=(const StationLock&) = delete;

  bool held() const { return fd_ >= 0; }
  /// Not held because another station holds it. Otherwise a lock that could not be taken (a
  /// folder the user may not write) refuses nothing: the station says what fails when it uses
  /// the folder, as it would without the lock.
  bool anotherStation() const { return anotherStation_; }
  /// When not held because another station holds it: that station's process id (0 when the
  /// file does not say).
  pid_t holder() const { return holder_; }
  /// When not held: why, in words for the log and standard error.
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  pid_t holder_ = 0;
  bool anotherStation_ = false;
  std::string error_;
};

}  // namespace common
