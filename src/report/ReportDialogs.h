#pragma once
// The report component's own windows behind one interface, so tests can choose the destination,
// cancel, and watch the status without a human: the output options dialog, the status window
// shown while the report is generated, and the preview.
#include <QPagedPaintDevice>
#include <QPrinter>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>

#include "toolkit/MessageBoxes.h"

namespace report {

struct ReportOptions {
  enum class Destination { Printer, Preview, File };
  Destination destination = Destination::Preview;
  QString printerName;  ///< the queue for Printer (and for printing from the preview)
  QString fileName;     ///< the PDF file for File
  int copies = 1;
  bool collate = false;
  bool duplex = false;
  int fromPage = 1;
  int toPage = 9999;
};

class ReportDialogs {
 public:
  virtual ~ReportDialogs() = default;
  /// The modal output options dialog, filled with the run's defaults. Printer setup may change
  /// `printer`. Returns false when the operator cancels.
  virtual bool outputOptions(QWidget* parent, const QString& title, QPrinter& printer, ReportOptions& options) = 0;
  /// Opens the non-modal status window; `cancel` is called when its cancel button is pressed.
  virtual void openStatus(QWidget* parent, const QString& title, std::function<void()> cancel) = 0;
  virtual void setStatus(const QString& text) = 0;
  virtual void closeStatus() = 0;
  /// The modal preview of the pages on `printer` at `zoomPercent`. `render` paints every page
  /// onto a device; it is called for the display and again when the pages are printed from it.
  virtual void preview(QWidget* parent, const QString& title, double zoomPercent, QPrinter& printer,
                       const std::function<void(QPagedPaintDevice&)>& render) = 0;
};

/// The real windows: a Qt dialog for the options, a small window with a cancel button for the
/// status, QPrintPreviewDialog for the preview.
///
/// A file name typed in the options dialog gets ".pdf" when it lacks it, and a file that exists
/// is replaced only when the operator confirms, as the "..." file dialog asks.
class QtReportDialogs : public ReportDialogs {
 public:
  QtReportDialogs();
  ~QtReportDialogs() override;
  /// The boxes the overwrite question goes to (borrowed); by default the real ones.
  void setMessageBoxes(toolkit::MessageBoxes& boxes) { boxes_ = &boxes; }
  bool outputOptions(QWidget* parent, const QString& title, QPrinter& printer, ReportOptions& options) override;
  void openStatus(QWidget* parent, const QString& title, std::function<void()> cancel) override;
  void setStatus(const QString& text) override;
  void closeStatus() override;
  void preview(QWidget* parent, const QString& title, double zoomPercent, QPrinter& printer,
               const std::function<void(QPagedPaintDevice&)>& render) override;

 private:
  struct Status;
  std::unique_ptr<Status> status_;
  toolkit::QtMessageBoxes qtBoxes_;
  toolkit::MessageBoxes* boxes_ = &qtBoxes_;
};

/// Answers the dialogs from a script and records what they were shown. The preview renders its
/// pages into `previewDevice` when one is set (a PDF writer in tests), as the real one paints
/// them on screen.
class ScriptedReportDialogs : public ReportDialogs {
 public:
  enum class Answer { Printer, Preview, File, Cancel };

  bool outputOptions(QWidget* parent, const QString& title, QPrinter& printer, ReportOptions& options) override;
  void openStatus(QWidget* parent, const QString& title, std::function<void()> cancel) override;
  void setStatus(const QString& text) override;
  void closeStatus() override;
  void preview(QWidget* parent, const QString& title, double zoomPercent, QPrinter& printer,
               const std::function<void(QPagedPaintDevice&)>& render) override;

  // The script
  Answer answer = Answer::Preview;
  QString fileName;
  QString printerName;  ///< empty: keep the dialog's default
  int copies = 1;
  int fromPage = 1;
  int toPage = 9999;
  /// Presses the status window's cancel button at this status update (1-based); 0: never.
  int cancelAtStatus = 0;
  /// Runs at every status update, while the report is being generated.
  std::function<void()> duringGeneration;
  /// Runs when the preview opens, before it paints the pages.
  std::function<void()> beforePreview;
  QPagedPaintDevice* previewDevice = nullptr;

  // The record
  QStringList titles;        ///< titles of every dialog and window opened, in order
  ReportOptions offered;     ///< the defaults the options dialog was filled with
  QStringList statusTexts;   ///< every status text shown
  bool statusOpen = false;   ///< the status window is open now
  int previews = 0;
  double previewZoom = 0;

 private:
  std::function<void()> cancel_;
};

}  // namespace report
