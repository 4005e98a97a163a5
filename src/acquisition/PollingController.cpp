#include "acquisition/PollingController.h"

#include <QLoggingCategory>

#include "comm/TComm.h"
#include "protocol/Frames.h"
#include "toolkit/CommEventPump.h"
#include "toolkit/PollTimer.h"

namespace acquisition {

namespace {

Q_LOGGING_CATEGORY(lcPolling, "cellstation.polling")

}  // namespace

PollingController::PollingController(toolkit::HandlerGuard& guard, QObject* parent)
    : QObject(parent), Timer1(new toolkit::PollTimer(5000, this)), Comm1(std::make_unique<comm::TComm>()) {
  // COM1 at 9600 8N1, DTR and RTS raised, no flow control, blocks cut by 100 ms of silence, no
  // other time limits.
  Comm1->SetCommName("COM1");
  Comm1->SetBaudRate(9600);
  Comm1->SetByteSize(comm::TByteSize::_8);
  Comm1->SetParity(comm::TParity::None);
  Comm1->SetStopBits(comm::TStopBits::_1);
  Comm1->SetDtrControl(comm::TDtrControl::DtrEnable);
  Comm1->SetRtsControl(comm::TRtsControl::RtsEnable);
  Comm1->SetTxContinueOnXoff(false);
  Comm1->SetOutx_XonXoffFlow(false);
  Comm1->SetInx_XonXoffFlow(false);
  Comm1->SetReadIntervalTimeout(100);
  Comm1->SetReadTotalTimeoutMultiplier(0);
  Comm1->SetReadTotalTimeoutConstant(0);
  Comm1->SetWriteTotalTimeoutMultiplier(0);
  Comm1->SetWriteTotalTimeoutConstant(0);
  pump_ = std::make_unique<toolkit::CommEventPump>(*Comm1, guard);
}

// The pump goes before the component it dispatches for.
PollingController::~PollingController() { pump_.reset(); }

void PollingController::start(double intervalSeconds, int intervalMs, std::uint8_t unitCount) {
  ElapsedSeconds = 0;
  UnitCount = unitCount;
  intervalSeconds_ = intervalSeconds;
  // An interval of 0 or below is accepted and never ticks: polling shows as on, but no request
  // goes out.
  Timer1->setInterval(intervalMs);
  Timer1->setEnabled(true);
  polling_ = true;
  emit pollingStarted();
  qCInfo(lcPolling).noquote() << "polling started: interval" << intervalSeconds << "s," << UnitCount << "units";
  // A port that does not open is logged, with the reason, where the start button is wired; the
  // cycle's state is then left as it was.
  Comm1->OpenPort();
  CurrentUnit = 0;
  ReplyReceived = true;
}

void PollingController::stop() {
  Timer1->setEnabled(false);
  ElapsedSeconds = 0;
  Comm1->ClosePort();
  if (!polling_) return;
  polling_ = false;
  qCInfo(lcPolling) << "polling stopped";
  emit pollingStopped();
}

void PollingController::tick() {
  if (!ReplyReceived) {
    AllReplied = false;
    emit unitSilent(CurrentUnit);
  }
  // At or above the count, not only at it: a count lowered since the previous run must not make
  // the cycle count upwards for ever.
  if (CurrentUnit >= UnitCount) {
    if (AllReplied) emit cycleCompleteWithoutSilence();
    CurrentUnit = 1;
    AllReplied = true;
  } else {
    ++CurrentUnit;
  }
  ReplyReceived = false;
  const auto frame = protocol::requestFrame(CurrentUnit);
  // A request that cannot be queued (port closed) shows up as a silent unit at the next tick.
  const bool queued = Comm1->SendData(frame.data(), static_cast<std::uint16_t>(frame.size()));
  emit requestSent(CurrentUnit, queued);
  ElapsedSeconds += intervalSeconds_;
}

void PollingController::samplingTaken(const QString& failure) {
  ElapsedSeconds = 0;
  if (!failure.isEmpty()) emit samplingFailed(failure);
}

void PollingController::samplingStored(double seconds) { emit samplingRunStored(seconds); }

void PollingController::samplingNotStored(const QString& failure) { emit samplingFailed(failure); }

ReplyOutcome PollingController::receive(std::span<const std::uint8_t> block) {
  // Whatever the block holds, it is an answer on the line for the polling cycle.
  ReplyReceived = true;
  const ReplyOutcome outcome = applyReply(block, tables);
  emit replyHandled(outcome, CurrentUnit);
  return outcome;
}

}  // namespace acquisition
