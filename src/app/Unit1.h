#pragma once
// TForm1: the station's one window. It holds every control and component under its form name
// and declares every event handler. The handlers' bodies live with the subsystem that owns them:
//   app/Unit1.cpp                 layout, wiring, FormShow, FormClose, BitBtn1Click
//   acquisition/PollingCycle.cpp  SpeedButton1Click, Timer1Timer
//   acquisition/ReplyHandler.cpp  Comm1ReceiveData
//   acquisition/LiveDisplay.cpp   ShowUnit, SpinEdit2Change
//   store/StoreHandlers.cpp       ConnectAndLoadSettings, SaveSettings, TableExists,
//                                 StoreSamples, SpeedButton4Click
//   history/HistoryHandlers.cpp   ShowHistory and the history view's handlers
//   history/PrintHandlers.cpp     SpeedButton2Click, RvSystem1Print
//
// The measurement tables are the window's base MeasurementTables, so every handler reaches
// UnitCount, CellCount, CellVoltage, ... directly, as module-level state.
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>

#include "acquisition/core/MeasurementTables.h"
#include "acquisition/core/ReplyDecoder.h"
#include "engine/TADOCommand.h"
#include "engine/TADOConnection.h"
#include "engine/TADOQuery.h"
#include "store/core/FailureReminder.h"
#include "toolkit/AutoSizeLabel.h"
#include "report/ChartPrintSettings.h"
#include "toolkit/HandlerGuard.h"
#include "toolkit/MessageBoxes.h"
#include "toolkit/QueryChart.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace toolkit {
class ArrowSpinBox;
class KeyValueGrid;
class PollTimer;
class CommEventPump;
}  // namespace toolkit

namespace report {
class TRvSystem;
class PageWriter;
class ChartPreviewRunner;
}  // namespace report

namespace comm {
class TComm;
}  // namespace comm

class TForm1 : public QWidget, public acquisition::MeasurementTables {
  Q_OBJECT
 public:
  /// The boxes are borrowed for the window's lifetime; tests pass a recorder.
  explicit TForm1(toolkit::MessageBoxes& boxes, QWidget* parent = nullptr);
  ~TForm1() override;

  // Top bar
  QFrame* Panel1;
  toolkit::AutoSizeLabel* Label4;
  QLineEdit* Edit1;
  QPushButton* SpeedButton1;
  toolkit::AutoSizeLabel* Label1;
  toolkit::ArrowSpinBox* SpinEdit1;
  toolkit::AutoSizeLabel* Label2;
  toolkit::ArrowSpinBox* SpinEdit2;
  toolkit::AutoSizeLabel* Label3;
  QPushButton* SpeedButton4;
  QPushButton* SpeedButton2;
  QPushButton* BitBtn1;

  // Cell tables
  toolkit::KeyValueGrid* ValueListEditor1;
  toolkit::KeyValueGrid* ValueListEditor2;
  toolkit::KeyValueGrid* ValueListEditor3;
  toolkit::KeyValueGrid* ValueListEditor4;
  toolkit::KeyValueGrid* ValueListEditor5;
  toolkit::KeyValueGrid* ValueListEditor6;

  // Bottom bar
  QFrame* Panel2;
  toolkit::AutoSizeLabel* Label5;
  toolkit::AutoSizeLabel* measureV;
  toolkit::AutoSizeLabel* Label8;
  toolkit::AutoSizeLabel* Label9;
  toolkit::AutoSizeLabel* Label6;

  // History view
  QFrame* Panel3;
  toolkit::AutoSizeLabel* Label7;
  QComboBox* ComboBox1;
  QPushButton* SpeedButton3;
  toolkit::QueryChart* DBChart1;

  // Components
  toolkit::PollTimer* Timer1;
  /// The serial line to the detector chain; closed until polling starts.
  std::unique_ptr<comm::TComm> Comm1;
  /// Raises Comm1's events on the main thread; declared after Comm1 so it goes first.
  std::unique_ptr<toolkit::CommEventPump> Comm1Pump;
  engine::TADOConnection ADOConnection1;
  engine::TADOQuery ADOQuery1{ADOConnection1};
  engine::TADOQuery ADOQuery2{ADOConnection1};
  engine::TADOCommand ADOCommand1{ADOConnection1};
  /// The report component; its OnPrint is RvSystem1Print.
  std::unique_ptr<report::TRvSystem> RvSystem1;
  /// DBChart1's print margins and proportional flag, kept between print previews.
  report::ChartPrintSettings DBChart1PrintSettings;
  /// Opens the chart print preview; the real dialog unless a test puts its own here.
  std::unique_ptr<report::ChartPreviewRunner> chartPreview;

  /// Cell table t (1..6): ValueListEditor1 .. ValueListEditor6.
  toolkit::KeyValueGrid* cellTable(int t) const;
  toolkit::HandlerGuard& guard() { return guard_; }
  toolkit::MessageBoxes& boxes() { return boxes_; }
  store::FailureReminder& sampleFailureReminder() { return sampleFailures_; }
  /// The system locale's decimal separator, used for the interval and the shown voltages.
  char decimalSeparator() const { return decimalSeparator_; }

  // Shell
  void FormShow();
  void FormClose();
  void BitBtn1Click();
  // Acquisition
  void SpeedButton1Click();
  void Timer1Timer();
  void SpinEdit2Change();
  void ShowUnit(int u);
  void Comm1ReceiveData(comm::TComm* Sender, const std::uint8_t* Buffer, std::uint16_t BufferLength);
  // Store
  void ConnectAndLoadSettings();
  /// The interval (as the window shows it, read with decimalSeparator()) and the unit count
  /// into the settings row, interval first. Throws engine::EDatabaseError or, for an interval
  /// that is no number, common::EConvertError; nothing after the failing update runs.
  void SaveSettings(const QString& intervalText, std::uint8_t unitCount);
  /// Whether a table or view of this name exists (ASCII letters compared without case, whole
  /// names), asked afresh of the engine. Throws engine::EDatabaseError.
  bool TableExists(const QString& name);
  void StoreSamples();
  void SpeedButton4Click();
  // History and printing
  void ShowHistory(const QString& selector);
  void ValueListEditor1DblClick(toolkit::KeyValueGrid* Sender);
  void measureVDblClick();
  void ComboBox1Change();
  void SpeedButton3Click();
  void SpeedButton2Click();
  void RvSystem1Print(report::PageWriter& Sender);

 signals:
  // What happens on the line and in the polling cycle, for features that watch the station
  // without being part of its handlers. Nothing is connected to them unless such a feature is on.
  /// Polling has started (emitted just before the port is opened, which may fail) or stopped.
  void pollingStarted();
  void pollingStopped();
  /// A tick asked `unit`; `queued` is false when the request could not be handed to the port.
  void requestSent(int unit, bool queued);
  /// A tick found that `unit`, asked at the previous tick, sent nothing back.
  void unitSilent(int unit);
  /// One received block has been applied to the measurement tables. `polledUnit` is the unit
  /// the last tick asked (0 before the first tick): a stored reply from another unit is foreign.
  void replyHandled(const acquisition::ReplyOutcome& outcome, int polledUnit);
  /// A sampling run failed with this text (the run is retried a full period later).
  void samplingFailed(const QString& text);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void createControls();
  void wireEvents();

  toolkit::MessageBoxes& boxes_;
  toolkit::HandlerGuard guard_;
  std::array<toolkit::KeyValueGrid*, 6> cellTables_{};
  char decimalSeparator_ = '.';
  /// When a failing sampling run is worth an error box (at once, then hourly while it lasts).
  store::FailureReminder sampleFailures_;
  bool shown_ = false;
};
