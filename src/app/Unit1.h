#pragma once
// TForm1: the station's one window. It holds every control under its form name, lays them out,
// and names every event handler; the handlers are short delegations to the objects that own
// the work, none of which needs the window:
//   polling      acquisition::PollingController: timer, serial line, measurement tables, cycle
//   store        store::StationStore: db1.mdb (settings, sampling runs, clearing, curves)
//   history      history::HistoryView: the history bar and chart
//   RvSystem1    report::TRvSystem: the printed report
// Handler bodies: app/Unit1.cpp (layout, wiring, FormShow, FormClose, BitBtn1Click),
// app/PollingHandlers.cpp (start/stop, ticks, replies, the live display),
// app/StoreHandlers.cpp (settings, sampling, clearing), app/HistoryHandlers.cpp,
// app/PrintHandlers.cpp.
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>

#include "acquisition/PollingController.h"
#include "history/HistoryView.h"
#include "report/ChartPrintSettings.h"
#include "store/StationStore.h"
#include "store/core/FailureReminder.h"
#include "toolkit/AutoSizeLabel.h"
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
}  // namespace toolkit

namespace report {
class TRvSystem;
class PageWriter;
class ChartPreviewRunner;
}  // namespace report

namespace comm {
class TComm;
}  // namespace comm

class TForm1 : public QWidget {
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

  // The objects behind the window
  /// Polling: owns Timer1, Comm1 and the measurement tables.
  acquisition::PollingController* polling = nullptr;
  /// db1.mdb: owns ADOConnection1, ADOQuery1, ADOQuery2, ADOCommand1.
  store::StationStore store;
  /// The history bar and chart: owns Panel3, Label7, ComboBox1, SpeedButton3, DBChart1.
  history::HistoryView* history = nullptr;

  // History view
  QFrame* Panel3;
  toolkit::AutoSizeLabel* Label7;
  QComboBox* ComboBox1;
  QPushButton* SpeedButton3;
  toolkit::QueryChart* DBChart1;

  // Components
  toolkit::PollTimer* Timer1 = nullptr;
  comm::TComm* Comm1 = nullptr;
  engine::TADOConnection& ADOConnection1 = store.ADOConnection1;
  engine::TADOQuery& ADOQuery1 = store.ADOQuery1;
  engine::TADOQuery& ADOQuery2 = store.ADOQuery2;
  engine::TADOCommand& ADOCommand1 = store.ADOCommand1;
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

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void createControls();
  void wireEvents();
  /// The answers of the store's thread: runs stored, failed or delayed, clearing failed.
  void wireStore();
  /// The window's part of a handled reply: the unit on show is redrawn.
  void replyShown(const acquisition::ReplyOutcome& outcome);

  toolkit::MessageBoxes& boxes_;
  toolkit::HandlerGuard guard_;
  std::array<toolkit::KeyValueGrid*, 6> cellTables_{};
  char decimalSeparator_ = '.';
  /// When a failing sampling run is worth an error box (at once, then hourly while it lasts).
  store::FailureReminder sampleFailures_;
  /// The same for runs kept by a lock or a full disk: a delay is told in its own box, whatever
  /// failure boxes came before it.
  store::FailureReminder delays_;
  bool shown_ = false;
};
