#include "comm/TComm.h"

#include <cstring>
#include <new>

#include "comm/PortName.h"
#include "comm/ReadThread.h"
#include "comm/WriteThread.h"
#include "comm/port/Event.h"
#include "comm/port/SerialPort.h"

namespace comm {

namespace {

constexpr std::size_t kDriverQueueBytes = 4096;
constexpr int kThreadEndWaitMs = 10000;
constexpr int kPriorityHighest = 2;
constexpr int kPriorityAboveNormal = 1;

// The flag-word codes of the DTR and RTS modes; they differ from the enumerations' ordinals.
std::uint32_t dtrCode(TDtrControl c) {
  switch (c) {
    case TDtrControl::DtrEnable: return dcb::fDtrControlEnable;
    case TDtrControl::DtrDisable: return 0;
    case TDtrControl::DtrHandshake: return dcb::fDtrControlHandshake;
  }
  return 0;
}

std::uint32_t rtsCode(TRtsControl c) {
  switch (c) {
    case TRtsControl::RtsEnable: return dcb::fRtsControlEnable;
    case TRtsControl::RtsDisable: return 0;
    case TRtsControl::RtsHandshake: return dcb::fRtsControlHandshake;
    case TRtsControl::RtsTransmissionAvailable: return dcb::fRtsControlToggle;
  }
  return 0;
}

}  // namespace

TComm::TComm() : NotifyWindow(std::make_unique<NotifyQueue>(kNotifyCapacity)) {}

TComm::~TComm() { ClosePort(); }

bool TComm::IsOpen() const noexcept { return PortHandle != nullptr; }

void TComm::OpenPort() {
  if (PortHandle) throw ECommsError(msg::kAlreadyOpen);

  auto port = std::make_unique<port::SerialPort>();
  if (!port->open(resolvePortPath(CommName_))) throw ECommsError(msg::kCannotOpen);
  if (!port->setupQueues(kDriverQueueBytes, kDriverQueueBytes)) {
    port->close();
    throw ECommsError(msg::kBufferSetup);
  }
  PortHandle = std::move(port);
  PortHandle->purge(port::kPurgeTxAbort | port::kPurgeRxAbort | port::kPurgeTxClear | port::kPurgeRxClear);
  ApplyTimeouts();
  ApplyLineSettings();

  try {
    CloseEvent = std::make_unique<port::Event>();
  } catch (...) {
    ReleasePort();
    throw ECommsError(msg::kNoEvent);
  }
  try {
    ReceiveThread = TReadThread::create(*PortHandle, *CloseEvent, *NotifyWindow);
  } catch (...) {
    ReceiveThread.reset();
    ReleasePort();
    throw ECommsError(msg::kNoReadThread);
  }
  try {
    SendThread = TWriteThread::create(*PortHandle, *CloseEvent, *NotifyWindow);
  } catch (...) {
    ReceiveThread.reset();  // never started: discarded without running
    SendThread.reset();
    ReleasePort();
    throw ECommsError(msg::kNoWriteThread);
  }
  ReceiveThread->start(kPriorityHighest);
  SendThread->start(kPriorityAboveNormal);
}

void TComm::ClosePort() noexcept {
  if (!PortHandle) return;
  EndReceiveThread();
  EndSendThread();
  ReleasePort();
}

void TComm::ReleasePort() noexcept {
  CloseEvent.reset();
  if (PortHandle) PortHandle->close();
  PortHandle.reset();
}

void TComm::EndReceiveThread() noexcept {
  if (!ReceiveThread) return;
  CloseEvent->set();
  PortHandle->purge(port::kPurgeRxAbort | port::kPurgeRxClear);
  if (!ReceiveThread->waitFor(kThreadEndWaitMs)) ReceiveThread->terminate();
  ReceiveThread.reset();  // waits until the thread has ended
}

void TComm::EndSendThread() noexcept {
  if (!SendThread) return;
  CloseEvent->set();
  PortHandle->purge(port::kPurgeTxAbort | port::kPurgeTxClear);
  if (!SendThread->waitFor(kThreadEndWaitMs)) SendThread->terminate();
  SendThread.reset();  // waits, and releases the blocks still queued
}

bool TComm::SendData(const std::uint8_t* Data, std::uint16_t Length) {
  if (!SendThread || Length == 0 || Data == nullptr) return false;
  SendBlock block;
  block.length = Length;
  block.data.reset(new (std::nothrow) std::uint8_t[Length]());
  if (!block.data) return false;
  std::memcpy(block.data.get(), Data, Length);
  return SendThread->post(block);  // a refused copy is released with block
}

LineSettings TComm::BuildLineSettings(LineSettings s) const {
  s.BaudRate = BaudRate_;
  std::uint32_t f = dcb::fBinary;
  if (ParityCheck_) f |= dcb::fParity;
  if (Outx_CtsFlow_) f |= dcb::fOutxCtsFlow;
  if (Outx_DsrFlow_) f |= dcb::fOutxDsrFlow;
  f |= dtrCode(DtrControl_);
  if (DsrSensitivity_) f |= dcb::fDsrSensitivity;
  if (TxContinueOnXoff_) f |= dcb::fTXContinueOnXoff;
  if (Outx_XonXoffFlow_) f |= dcb::fOutX;
  if (Inx_XonXoffFlow_) f |= dcb::fInX;
  if (ReplaceWhenParityError_) f |= dcb::fErrorChar;
  if (IgnoreNullChar_) f |= dcb::fNull;
  f |= rtsCode(RtsControl_);
  s.Flags = f;
  s.XonLim = XonLimit_;
  s.XoffLim = XoffLimit_;
  s.ByteSize = static_cast<std::uint8_t>(static_cast<std::uint8_t>(ByteSize_) + 5);
  s.Parity = static_cast<std::uint8_t>(Parity_);
  s.StopBits = static_cast<std::uint8_t>(StopBits_);
  s.XonChar = XonChar_;
  s.XoffChar = XoffChar_;
  s.ErrorChar = ReplacedChar_;
  return s;
}

CommTimeouts TComm::BuildTimeouts() const {
  return CommTimeouts{ReadIntervalTimeout_, ReadTotalTimeoutMultiplier_, ReadTotalTimeoutConstant_,
                      WriteTotalTimeoutMultiplier_, WriteTotalTimeoutConstant_};
}

LineSettings TComm::PortLineSettings() const {
  return PortHandle ? PortHandle->lineSettings() : BuildLineSettings(LineSettings{});
}

void TComm::ApplyLineSettings() {
  // A record the device refuses leaves it as it was; this is not reported.
  [[maybe_unused]] const bool applied = PortHandle->applyLineSettings(BuildLineSettings(PortHandle->lineSettings()));
}

void TComm::ApplyTimeouts() { PortHandle->applyTimeouts(BuildTimeouts()); }

port::NativeHandle TComm::notifyHandle() const noexcept { return NotifyWindow->wake().handle(); }

bool TComm::waitForNotification(int timeoutMs) const noexcept { return NotifyWindow->wake().wait(timeoutMs); }

std::size_t TComm::dispatchPending() {
  // Whatever is left (a handler threw, the limit was reached, a post raced the reset) keeps
  // the handle set, so the event loop comes back for it.
  std::size_t handled = NotifyWindow->drain([this](Notification& n) { DispatchNotification(std::move(n)); });
  // A hang-up that found the queue full comes after everything queued before it.
  while (NotifyWindow->empty() && NotifyWindow->takeMark()) {
    ++handled;
    FireRequestHangup();
  }
  return handled;
}

void TComm::DispatchNotification(Notification n) {
  switch (n.kind) {
    case NotifyKind::CommData: FireReceiveData(n.block.get(), n.length); break;
    case NotifyKind::LineError: FireReceiveError(n.value); break;
    case NotifyKind::HangupRequest: FireRequestHangup(); break;
    case NotifyKind::ModemChange: FireModemStateChange(n.value); break;
    case NotifyKind::SendEmpty: FireSendDataEmpty(); break;
    case NotifyKind::None: break;
  }
  // n, with its block, is released here, also when a handler threw.
}

// Each raiser calls a copy of the handler, so a handler may replace or clear its own event
// while it runs.
void TComm::FireReceiveData(const std::uint8_t* Buffer, std::uint16_t BufferLength) {
  if (const TReceiveDataEvent h = OnReceiveData_) h(this, Buffer, BufferLength);
}

void TComm::FireReceiveError(std::uint32_t EventMask) {
  if (const TReceiveErrorEvent h = OnReceiveError_) h(this, EventMask);
}

void TComm::FireRequestHangup() {
  if (const TNotifyEvent h = OnRequestHangup_) h(this);
}

void TComm::FireModemStateChange(std::uint32_t ModemEvent) {
  if (const TModemStateChangeEvent h = OnModemStateChange_) h(this, ModemEvent);
}

void TComm::FireSendDataEmpty() {
  if (const TSendDataEmptyEvent h = OnSendDataEmpty_) h(this);
}

}  // namespace comm
