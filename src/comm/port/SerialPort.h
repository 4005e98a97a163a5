#pragma once
// The platform layer under TComm: one serial device, opened exclusively, with the line
// settings record and time limits applied to it, and waits that include a stop event.
// The POSIX implementation (termios + poll) lives in SerialPortPosix.cpp; another platform
// provides the same class in its own file, chosen by the build.
//
// Threads: open, close, purge and the apply/read-back functions run on the owner's thread;
// read() and sampleStatus() on the receive thread; write() on the send thread. They may run
// at the same time; close() only after both worker threads have ended.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "comm/LineSettings.h"
#include "comm/port/Deadline.h"
#include "comm/port/Event.h"

namespace comm::port {

/// Purge flags, as numbered by the component's callers.
inline constexpr unsigned kPurgeTxAbort = 0x01;
inline constexpr unsigned kPurgeRxAbort = 0x02;
inline constexpr unsigned kPurgeTxClear = 0x04;
inline constexpr unsigned kPurgeRxClear = 0x08;

/// One read in progress: the buffer it fills and the times its block-end rules need.
struct ReadRequest {
  std::uint8_t* buffer = nullptr;
  std::size_t capacity = 0;
  std::size_t count = 0;
  Deadline::Clock::time_point started{};
  Deadline::Clock::time_point lastByte{};

  void begin() {
    count = 0;
    started = Deadline::Clock::now();
  }
};

enum class ReadOutcome {
  Complete,       ///< the block ended by the time limits or a full buffer; count >= 1
  TimedOutEmpty,  ///< the total time limit passed without a byte; nothing to deliver
  Closed,         ///< the stop event is set
  StatusDue,      ///< the status deadline passed first; the read stays in progress
  EndOfFile,      ///< the device hung up (no more bytes will come)
  InvalidHandle,  ///< the device descriptor is no longer valid
  Failed,         ///< any other failure; error holds errno
};

struct WriteResult {
  enum class Kind { Written, Closed, InvalidHandle, Failed } kind = Kind::Failed;
  std::size_t count = 0;  ///< bytes written, 1 or more when kind is Written
  int error = 0;
};

/// The kernel's interrupt counters of a UART (TIOCGICOUNT).
struct LineCounters {
  std::uint32_t carrierDetect = 0;
  std::uint32_t ring = 0;
  std::uint32_t frame = 0;
  std::uint32_t overrun = 0;
  std::uint32_t parity = 0;
  std::uint32_t breaks = 0;
  std::uint32_t bufferOverrun = 0;
};

/// One look at the device's status side. A device may have counters, modem lines, or neither.
struct StatusSample {
  bool haveCounters = false;
  LineCounters counters{};
  bool haveModemLines = false;
  bool carrierDetect = false;
  bool ring = false;
};

enum class StatusResult { Sampled, Unsupported, InvalidHandle, Failed };

class SerialPort {
 public:
  SerialPort();
  ~SerialPort();  ///< closes the device if still open
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  /// Opens an existing device for reading and writing, unshared: false when it does not
  /// exist, cannot be opened, or another holder has it. A failed open holds nothing.
  bool open(const std::string& path);
  /// Makes the device ready for the component (a serial device in raw mode); false when it
  /// is not one. Queue sizes are a request the device may not honour.
  bool setupQueues(std::size_t inputBytes, std::size_t outputBytes);
  void close() noexcept;
  bool isOpen() const noexcept;

  /// Discards the output (TX flags) and/or input (RX flags) queues of the device.
  void purge(unsigned flags) noexcept;

  /// The settings record last written to the device (at first, what the device reported at
  /// setupQueues). The device may have kept less of it: a pseudo-terminal keeps 8 data bits
  /// and no parity whatever it is told.
  LineSettings lineSettings() const;
  /// Applies the record; false when the device refused all or part of it. A record termios
  /// cannot express (a baud rate without a constant) changes nothing.
  bool applyLineSettings(const LineSettings& settings) noexcept;
  CommTimeouts timeouts() const noexcept;
  /// Takes effect for the read or write in progress at its next wake-up.
  void applyTimeouts(const CommTimeouts& timeouts) noexcept;

  /// Continues the read until it completes by the time limits (see ReadOutcome), the stop
  /// event is set, or statusDue passes. Call req.begin() before the first call of each read.
  ReadOutcome read(ReadRequest& req, const Event& stop, const Deadline& statusDue, int& error) noexcept;
  /// Writes at least one byte of data, waiting for room while the stop event is clear.
  WriteResult write(const std::uint8_t* data, std::size_t length, const Event& stop) noexcept;
  /// Reads the status side. Unsupported: the device has neither modem lines nor counters
  /// (a pseudo-terminal); callers stop asking.
  StatusResult sampleStatus(StatusSample& out, int& error) noexcept;

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace comm::port
