#pragma once
// TComm: a non-visual component that owns one serial port. It keeps the line settings and
// time limits as properties, opens and closes the port, and while the port is open runs a
// receive thread and a send thread. What they report reaches the owner's thread as one of
// five events, dispatched by dispatchPending() in the order the threads posted.
//
// Threads: every member function is for the owner's thread only (the thread that created
// the component), except notifyHandle(), which may be polled from anywhere.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "comm/CommsError.h"
#include "comm/LineSettings.h"
#include "comm/Notification.h"
#include "comm/port/Native.h"

namespace comm {

namespace port {
class Event;
class SerialPort;
}  // namespace port
class TReadThread;
class TWriteThread;
class TComm;

/// Handlers bound to an object; an empty one is skipped. All run on the owner's thread.
/// Buffer holds BufferLength (1 to 4096) bytes and a zero byte after them; it is valid only
/// during the call.
using TReceiveDataEvent = std::function<void(TComm* Sender, const std::uint8_t* Buffer, std::uint16_t BufferLength)>;
using TReceiveErrorEvent = std::function<void(TComm* Sender, std::uint32_t EventMask)>;
using TModemStateChangeEvent = std::function<void(TComm* Sender, std::uint32_t ModemEvent)>;
using TNotifyEvent = std::function<void(TComm* Sender)>;
using TSendDataEmptyEvent = std::function<void(TComm* Sender)>;

class TComm {
 public:
  /// The component defaults: "COM2", 9600 8N1, DTR and RTS raised, XON/XOFF both ways,
  /// read interval 100 ms, the other time limits 0. The port is closed.
  /// Throws std::system_error when the notification queue cannot be created.
  TComm();
  /// Closes the port if the owner has not (no event runs); notifications still queued are
  /// released.
  ~TComm();
  TComm(const TComm&) = delete;
  TComm& operator=(const TComm&) = delete;

  /// Opens CommName with the current properties and starts both threads. Throws ECommsError
  /// with the operator's message on every failure, leaving the port closed and nothing held
  /// (except "already open", which leaves it as it was).
  void OpenPort();
  /// Stops both threads and closes the port; nothing when closed. Never fails. Blocks queued
  /// for sending are discarded; notifications already posted stay and are dispatched later.
  void ClosePort() noexcept;
  /// Queues a copy of Length bytes for the send thread; Data may be reused at once. False,
  /// queuing nothing, when closed, when Length is 0 or Data null, when the copy cannot be
  /// made, or when the queue refuses it (full, or the send thread has stopped).
  bool SendData(const std::uint8_t* Data, std::uint16_t Length);
  bool IsOpen() const noexcept;

  // Published properties, in declared order. Setters store the value and, when it differs
  // and the port is open, apply it at once; CommName and Parity are only stored.
  const std::string& CommName() const { return CommName_; }
  void SetCommName(const std::string& v) { CommName_ = v; }
  std::uint32_t BaudRate() const { return BaudRate_; }
  void SetBaudRate(std::uint32_t v) { setLine(BaudRate_, v); }
  bool ParityCheck() const { return ParityCheck_; }
  void SetParityCheck(bool v) { setLine(ParityCheck_, v); }
  bool Outx_CtsFlow() const { return Outx_CtsFlow_; }
  void SetOutx_CtsFlow(bool v) { setLine(Outx_CtsFlow_, v); }
  bool Outx_DsrFlow() const { return Outx_DsrFlow_; }
  void SetOutx_DsrFlow(bool v) { setLine(Outx_DsrFlow_, v); }
  TDtrControl DtrControl() const { return DtrControl_; }
  void SetDtrControl(TDtrControl v) { setLine(DtrControl_, v); }
  bool DsrSensitivity() const { return DsrSensitivity_; }
  void SetDsrSensitivity(bool v) { setLine(DsrSensitivity_, v); }
  bool TxContinueOnXoff() const { return TxContinueOnXoff_; }
  void SetTxContinueOnXoff(bool v) { setLine(TxContinueOnXoff_, v); }
  bool Outx_XonXoffFlow() const { return Outx_XonXoffFlow_; }
  void SetOutx_XonXoffFlow(bool v) { setLine(Outx_XonXoffFlow_, v); }
  bool Inx_XonXoffFlow() const { return Inx_XonXoffFlow_; }
  void SetInx_XonXoffFlow(bool v) { setLine(Inx_XonXoffFlow_, v); }
  bool ReplaceWhenParityError() const { return ReplaceWhenParityError_; }
  void SetReplaceWhenParityError(bool v) { setLine(ReplaceWhenParityError_, v); }
  bool IgnoreNullChar() const { return IgnoreNullChar_; }
  void SetIgnoreNullChar(bool v) { setLine(IgnoreNullChar_, v); }
  TRtsControl RtsControl() const { return RtsControl_; }
  void SetRtsControl(TRtsControl v) { setLine(RtsControl_, v); }
  std::uint16_t XonLimit() const { return XonLimit_; }
  void SetXonLimit(std::uint16_t v) { setLine(XonLimit_, v); }
  std::uint16_t XoffLimit() const { return XoffLimit_; }
  void SetXoffLimit(std::uint16_t v) { setLine(XoffLimit_, v); }
  TByteSize ByteSize() const { return ByteSize_; }
  void SetByteSize(TByteSize v) { setLine(ByteSize_, v); }
  TParity Parity() const { return Parity_; }
  void SetParity(TParity v) { Parity_ = v; }
  TStopBits StopBits() const { return StopBits_; }
  void SetStopBits(TStopBits v) { setLine(StopBits_, v); }
  std::uint8_t XonChar() const { return XonChar_; }
  void SetXonChar(std::uint8_t v) { setLine(XonChar_, v); }
  std::uint8_t XoffChar() const { return XoffChar_; }
  void SetXoffChar(std::uint8_t v) { setLine(XoffChar_, v); }
  std::uint8_t ReplacedChar() const { return ReplacedChar_; }
  void SetReplacedChar(std::uint8_t v) { setLine(ReplacedChar_, v); }
  std::uint32_t ReadIntervalTimeout() const { return ReadIntervalTimeout_; }
  void SetReadIntervalTimeout(std::uint32_t v) { setTimeout(ReadIntervalTimeout_, v); }
  std::uint32_t ReadTotalTimeoutMultiplier() const { return ReadTotalTimeoutMultiplier_; }
  void SetReadTotalTimeoutMultiplier(std::uint32_t v) { setTimeout(ReadTotalTimeoutMultiplier_, v); }
  std::uint32_t ReadTotalTimeoutConstant() const { return ReadTotalTimeoutConstant_; }
  void SetReadTotalTimeoutConstant(std::uint32_t v) { setTimeout(ReadTotalTimeoutConstant_, v); }
  std::uint32_t WriteTotalTimeoutMultiplier() const { return WriteTotalTimeoutMultiplier_; }
  void SetWriteTotalTimeoutMultiplier(std::uint32_t v) { setTimeout(WriteTotalTimeoutMultiplier_, v); }
  std::uint32_t WriteTotalTimeoutConstant() const { return WriteTotalTimeoutConstant_; }
  void SetWriteTotalTimeoutConstant(std::uint32_t v) { setTimeout(WriteTotalTimeoutConstant_, v); }

  const TReceiveDataEvent& OnReceiveData() const { return OnReceiveData_; }
  void SetOnReceiveData(TReceiveDataEvent h) { OnReceiveData_ = std::move(h); }
  const TReceiveErrorEvent& OnReceiveError() const { return OnReceiveError_; }
  void SetOnReceiveError(TReceiveErrorEvent h) { OnReceiveError_ = std::move(h); }
  const TModemStateChangeEvent& OnModemStateChange() const { return OnModemStateChange_; }
  void SetOnModemStateChange(TModemStateChangeEvent h) { OnModemStateChange_ = std::move(h); }
  const TNotifyEvent& OnRequestHangup() const { return OnRequestHangup_; }
  void SetOnRequestHangup(TNotifyEvent h) { OnRequestHangup_ = std::move(h); }
  const TSendDataEmptyEvent& OnSendDataEmpty() const { return OnSendDataEmpty_; }
  void SetOnSendDataEmpty(TSendDataEmptyEvent h) { OnSendDataEmpty_ = std::move(h); }

  /// The settings record ApplyLineSettings writes, built from the properties over current
  /// (whose EofChar and EvtChar are kept).
  LineSettings BuildLineSettings(LineSettings current) const;
  CommTimeouts BuildTimeouts() const;
  /// The settings record last written to the open port; when closed, the record the
  /// properties would give.
  LineSettings PortLineSettings() const;

  // Delivery on the owner's thread.
  /// Readable (set) while notifications wait; an event loop watches it and calls
  /// dispatchPending(). Never changes for the component's life.
  port::NativeHandle notifyHandle() const noexcept;
  /// Raises the events of the waiting notifications in posting order, at most one queue's
  /// worth per call, and returns how many it handled. Each block is released after its
  /// handler returns, also when no handler is assigned or the handler throws (the exception
  /// then leaves this call, and the notifications after it stay queued and keep the handle
  /// set). A handler may run a nested event loop that calls this again.
  std::size_t dispatchPending();
  /// Waits up to timeoutMs (negative: without limit) for a notification; true when one waits.
  bool waitForNotification(int timeoutMs) const noexcept;

 private:
  template <typename T>
  void setLine(T& member, T value) {
    if (member == value) return;
    member = value;
    if (IsOpen()) ApplyLineSettings();
  }
  void setTimeout(std::uint32_t& member, std::uint32_t value) {
    if (member == value) return;
    member = value;
    if (IsOpen()) ApplyTimeouts();
  }

  void ApplyLineSettings();
  void ApplyTimeouts();
  void EndReceiveThread() noexcept;
  void EndSendThread() noexcept;
  void ReleasePort() noexcept;
  void DispatchNotification(Notification n);
  void FireReceiveData(const std::uint8_t* Buffer, std::uint16_t BufferLength);
  void FireReceiveError(std::uint32_t EventMask);
  void FireRequestHangup();
  void FireModemStateChange(std::uint32_t ModemEvent);
  void FireSendDataEmpty();

  std::string CommName_ = "COM2";
  std::uint32_t BaudRate_ = 9600;
  bool ParityCheck_ = false;
  bool Outx_CtsFlow_ = false;
  bool Outx_DsrFlow_ = false;
  TDtrControl DtrControl_ = TDtrControl::DtrEnable;
  bool DsrSensitivity_ = false;
  bool TxContinueOnXoff_ = true;
  bool Outx_XonXoffFlow_ = true;
  bool Inx_XonXoffFlow_ = true;
  bool ReplaceWhenParityError_ = false;
  bool IgnoreNullChar_ = false;
  TRtsControl RtsControl_ = TRtsControl::RtsEnable;
  std::uint16_t XonLimit_ = 500;
  std::uint16_t XoffLimit_ = 500;
  TByteSize ByteSize_ = TByteSize::_8;
  TParity Parity_ = TParity::None;
  TStopBits StopBits_ = TStopBits::_1;
  std::uint8_t XonChar_ = 0x11;
  std::uint8_t XoffChar_ = 0x13;
  std::uint8_t ReplacedChar_ = 0x00;
  std::uint32_t ReadIntervalTimeout_ = 100;
  std::uint32_t ReadTotalTimeoutMultiplier_ = 0;
  std::uint32_t ReadTotalTimeoutConstant_ = 0;
  std::uint32_t WriteTotalTimeoutMultiplier_ = 0;
  std::uint32_t WriteTotalTimeoutConstant_ = 0;

  TReceiveDataEvent OnReceiveData_;
  TReceiveErrorEvent OnReceiveError_;
  TModemStateChangeEvent OnModemStateChange_;
  TNotifyEvent OnRequestHangup_;
  TSendDataEmptyEvent OnSendDataEmpty_;

  // Declared before the threads, so it outlives them.
  std::unique_ptr<NotifyQueue> NotifyWindow;
  std::unique_ptr<port::SerialPort> PortHandle;
  std::unique_ptr<port::Event> CloseEvent;
  std::unique_ptr<TReadThread> ReceiveThread;
  std::unique_ptr<TWriteThread> SendThread;
};

}  // namespace comm
