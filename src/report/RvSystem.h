#pragma once
// TRvSystem: the report component. A run asks for the output options, generates the pages by
// calling OnPrint with a fresh page writer while a status window with a cancel button shows the
// progress, and delivers the pages to the preview, a printer or a PDF file.
//
// While the pages are generated the event loop keeps running after every text written, so
// timer ticks and received data are handled meanwhile and the status window answers its cancel
// button. The options dialog and the preview are modal.
#include <QMarginsF>
#include <QPageLayout>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

#include "report/PageWriter.h"
#include "report/ReportDialogs.h"

namespace report {

class TRvSystem {
 public:
  enum class Outcome {
    Cancelled,  ///< the output options dialog was cancelled: nothing generated
    Abandoned,  ///< the status window's cancel button stopped the run
    Previewed,
    Printed,
    Filed,
    Busy,  ///< a run was already under way (events handled during generation can ask again)
  };

  TRvSystem();
  ~TRvSystem();
  TRvSystem(const TRvSystem&) = delete;
  TRvSystem& operator=(const TRvSystem&) = delete;

  QString TitleSetup = QStringLiteral("Output Options");
  QString TitleStatus = QStringLiteral("Report Status");
  QString TitlePreview = QStringLiteral("Report Preview");
  struct {
    QString StatusFormat = QStringLiteral("Generating page %p");
  } SystemFiler;
  struct {
    QString StatusFormat = QStringLiteral("Printing page %p");
    QString Title = QStringLiteral("ReportPrinter Report");
    double UnitsFactor = 1.0;  ///< inches; the page writer works in inches only
    double ScaleX = 100;       ///< per cent, applied when the pages are delivered
    double ScaleY = 100;
    QMarginsF Margins;  ///< inches, all 0
    QPageLayout::Orientation Orientation = QPageLayout::Portrait;
    int Copies = 1;
    int FirstPage = 1;
    int LastPage = 9999;
  } SystemPrinter;
  struct {
    double ZoomFactor = 100;
  } SystemPreview;
  ReportOptions::Destination DefaultDest = ReportOptions::Destination::Preview;

  /// The report body, called once per run with that run's page writer.
  std::function<void(PageWriter&)> OnPrint;

  /// Runs the report. Errors raised by OnPrint and failures to print or write the file are
  /// thrown (std::runtime_error with the text to show); nothing is delivered then.
  Outcome Execute(QWidget* parent = nullptr);

  /// The dialogs are borrowed; by default the real Qt ones.
  void setDialogs(ReportDialogs& dialogs) { dialogs_ = &dialogs; }
  /// The boxes the real options dialog asks through before replacing a file (borrowed).
  void setMessageBoxes(toolkit::MessageBoxes& boxes) { qtDialogs_->setMessageBoxes(boxes); }
  bool running() const { return running_; }

  /// "%p" of a status format replaced by the page number.
  static QString statusText(const QString& format, int page);

 private:
  QSizeF scale() const;

  std::unique_ptr<QtReportDialogs> qtDialogs_;
  ReportDialogs* dialogs_;
  bool running_ = false;
};

}  // namespace report
