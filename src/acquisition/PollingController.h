#pragma once
// The polling of the detector chain, without any widget: the poll timer, the serial line, the
// measurement tables and the request/reply state of the cycle. One unit is asked per tick; the
// reply (or the silence before the next tick) is judged here and announced through signals, so
// the window and the features that watch the line only listen.
//
// Lives on the main thread. The serial component's events arrive there through its pump.
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <span>

#include "acquisition/core/MeasurementTables.h"
#include "acquisition/core/ReplyDecoder.h"

namespace comm {
class TComm;
}
namespace toolkit {
class CommEventPump;
class HandlerGuard;
class PollTimer;
}  // namespace toolkit

namespace acquisition {

class PollingController : public QObject {
  Q_OBJECT
 public:
  /// Seconds of polling that make one sampling run due.
  static constexpr double kSamplingPeriod = 180.0;

  /// Errors of the serial component's event handlers go to `guard`, which must outlive this.
  explicit PollingController(toolkit::HandlerGuard& guard, QObject* parent = nullptr);
  ~PollingController() override;

  /// The poll timer; disabled until polling starts.
  toolkit::PollTimer* const Timer1;
  /// The serial line to the detector chain (COM1, 9600 8N1); closed until polling starts.
  const std::unique_ptr<comm::TComm> Comm1;

  /// The latest decoded voltages of every unit.
  MeasurementTables tables;
  /// Units polled, taken when polling starts (1..99).
  std::uint8_t UnitCount = 0;
  /// Nominal polling seconds added up since the start or the last sampling run.
  double ElapsedSeconds = 0;
  /// Unit addressed by the latest request frame; 0 before the first request after a start.
  std::int32_t CurrentUnit = 0;
  /// Some block has been handled since the latest request was sent.
  bool ReplyReceived = false;
  /// No unit has failed to answer since the current polling cycle began.
  bool AllReplied = false;

  bool polling() const { return polling_; }
  double intervalSeconds() const { return intervalSeconds_; }

  /// Starts polling `unitCount` units every `intervalMs` (0 or below: no ticks), counting
  /// `intervalSeconds` of polling per tick, and opens the port. The timer runs even when the
  /// port does not open (comm::ECommsError is then thrown after "started" was announced): the
  /// line's recovery opens it later, and silent units show meanwhile.
  void start(double intervalSeconds, int intervalMs, std::uint8_t unitCount);
  /// Stops the timer and closes the port; announces the stop when polling was on.
  void stop();

  /// One tick: judges the previous request, asks the next unit, counts the polling time.
  void tick();

  /// Applies one received block to the tables and announces it.
  ReplyOutcome receive(std::span<const std::uint8_t> block);

  /// Enough polling time has gathered for a sampling run.
  bool samplingDue() const { return ElapsedSeconds >= kSamplingPeriod; }
  /// A sampling run has been taken (handed to the store): the next is a full period away,
  /// whether it is stored or fails (retrying at every tick would give the units that were
  /// stored a row per tick). A failure's text is announced.
  void samplingTaken(const QString& failure = {});
  /// The store's answer for a run taken earlier: it stored every unit, in `seconds`. The polling
  /// time gathered since the run was taken is kept.
  void samplingStored(double seconds);
  /// The store's answer for a run taken earlier: it failed with `failure`, which is announced.
  /// The polling time gathered since the run was taken is kept.
  void samplingNotStored(const QString& failure);

 signals:
  /// Polling has started (emitted just before the port is opened, which may fail) or stopped.
  void pollingStarted();
  void pollingStopped();
  /// A tick asked `unit`; `queued` is false when the request could not be handed to the port.
  void requestSent(int unit, bool queued);
  /// A tick found that `unit`, asked at the previous tick, sent nothing back.
  void unitSilent(int unit);
  /// A cycle over every unit ended with each unit having answered.
  void cycleCompleteWithoutSilence();
  /// One received block has been applied to the tables. `polledUnit` is the unit the last tick
  /// asked (0 before the first tick): a stored reply from another unit is foreign.
  void replyHandled(const acquisition::ReplyOutcome& outcome, int polledUnit);
  /// A sampling run failed with this text.
  void samplingFailed(const QString& text);
  /// A sampling run stored every unit; it took `seconds`.
  void samplingRunStored(double seconds);

 private:
  std::unique_ptr<toolkit::CommEventPump> pump_;
  double intervalSeconds_ = 0;
  bool polling_ = false;
};

}  // namespace acquisition
