#include "report/RvSystem.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>
#include <stdexcept>

#include "report/ReportPages.h"

namespace report {

namespace {

// Thrown through the report body when the status window's cancel button was pressed.
struct RunAbandoned {};

class StatusWindow {
 public:
  StatusWindow(ReportDialogs& d, QWidget* parent, const QString& title, bool& cancelled) : d_(d) {
    d_.openStatus(parent, title, [&cancelled] { cancelled = true; });
  }
  ~StatusWindow() { d_.closeStatus(); }
  StatusWindow(const StatusWindow&) = delete;
  StatusWindow& operator=(const StatusWindow&) = delete;

 private:
  ReportDialogs& d_;
};

// The page set up as the component's settings say: no margins, the painter's origin at the
// paper's corner, portrait, the recording resolution.
void setUpPrinter(QPrinter& printer, QPageLayout::Orientation orientation, const QMarginsF& margins) {
  printer.setFullPage(true);
  printer.setResolution(ReportPages::kDpi);
  printer.setPageOrientation(orientation);
  printer.setPageMargins(margins, QPageLayout::Inch);
}

QString emptyRangeText(int from, int to, int pages, bool toFile) {
  return QStringLiteral("Pages %1 to %2: the report has %3 page%4, none in that range. Nothing was %5.")
      .arg(from)
      .arg(to)
      .arg(pages)
      .arg(pages == 1 ? QString() : QStringLiteral("s"))
      .arg(toFile ? QStringLiteral("saved") : QStringLiteral("printed"));
}

}  // namespace

TRvSystem::TRvSystem() : qtDialogs_(std::make_unique<QtReportDialogs>()), dialogs_(qtDialogs_.get()) {}
TRvSystem::~TRvSystem() = default;

QSizeF TRvSystem::scale() const { return QSizeF(SystemPrinter.ScaleX / 100, SystemPrinter.ScaleY / 100); }

QString TRvSystem::statusText(const QString& format, int page) {
  QString s = format;
  return s.replace(QStringLiteral("%p"), QString::number(page));
}

TRvSystem::Outcome TRvSystem::Execute(QWidget* parent) {
  if (running_) return Outcome::Busy;
  running_ = true;
  struct Clear {
    bool& b;
    ~Clear() { b = false; }
  } clear{running_};

  ReportDialogs& dlg = *dialogs_;
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(SystemPrinter.Title);
  setUpPrinter(printer, SystemPrinter.Orientation, SystemPrinter.Margins);

  ReportOptions options;
  options.destination = DefaultDest;
  options.printerName = printer.printerName();
  options.copies = SystemPrinter.Copies;
  options.fromPage = SystemPrinter.FirstPage;
  options.toPage = SystemPrinter.LastPage;
  if (!dlg.outputOptions(parent, TitleSetup, printer, options)) return Outcome::Cancelled;
  // Printer setup may have changed the paper; the margins and the orientation stay the report's.
  setUpPrinter(printer, SystemPrinter.Orientation, SystemPrinter.Margins);

  // Generation: the pages are recorded at the paper's size.
  ReportPages pages(printer.pageLayout().fullRect(QPageLayout::Inch).size());
  {
    bool cancelled = false;
    StatusWindow status(dlg, parent, TitleStatus, cancelled);
    QPainter painter;
    pages.beginPage(painter);
    PageWriter writer(painter, pages.paperInches());
    writer.onNewPage = [&] { pages.beginPage(painter); };
    writer.afterText = [&] {
      dlg.setStatus(statusText(SystemFiler.StatusFormat, writer.page()));
      QCoreApplication::processEvents();
      if (cancelled) throw RunAbandoned{};
    };
    try {
      dlg.setStatus(statusText(SystemFiler.StatusFormat, 1));
      if (cancelled) throw RunAbandoned{};
      if (OnPrint) OnPrint(writer);
    } catch (const RunAbandoned&) {
      pages.finish(painter);
      return Outcome::Abandoned;
    } catch (...) {
      pages.finish(painter);
      throw;
    }
    pages.finish(painter);
  }

  using D = ReportOptions::Destination;
  // A range past the last page would still start a blank sheet on the device: nothing is
  // delivered, and the operator hears why. The preview shows every page whatever the range.
  if (options.destination != D::Preview && pages.countIn(options.fromPage, options.toPage) == 0)
    throw std::runtime_error(emptyRangeText(options.fromPage, options.toPage, pages.count(),
                                            options.destination == D::File)
                                 .toStdString());
  switch (options.destination) {
    case D::Preview: {
      printer.setPrinterName(options.printerName);
      dlg.preview(parent, TitlePreview, SystemPreview.ZoomFactor, printer, [&](QPagedPaintDevice& device) {
        QPainter p(&device);
        if (p.isActive()) pages.render(p, device, 1, 9999, {}, scale());
      });
      return Outcome::Previewed;
    }
    case D::Printer: {
      // Qt turns an unknown queue into a PDF writer without a file, which prints nowhere and
      // reports nothing: an unknown queue is an error here.
      if (options.printerName.isEmpty() || !QPrinterInfo::availablePrinterNames().contains(options.printerName))
        throw std::runtime_error(("Printer not found: " + options.printerName).toStdString());
      printer.setOutputFormat(QPrinter::NativeFormat);
      printer.setPrinterName(options.printerName);
      printer.setCopyCount(options.copies);
      printer.setCollateCopies(options.collate);
      printer.setDuplex(options.duplex ? QPrinter::DuplexAuto : QPrinter::DuplexNone);
      bool cancelled = false;
      StatusWindow status(dlg, parent, TitleStatus, cancelled);
      QPainter p;
      if (!p.begin(&printer))
        throw std::runtime_error(("Unable to print on " + options.printerName).toStdString());
      pages.render(p, printer, options.fromPage, options.toPage,
                   [&](int n) { dlg.setStatus(statusText(SystemPrinter.StatusFormat, n)); }, scale());
      if (!p.end()) throw std::runtime_error(("Printing on " + options.printerName + " failed").toStdString());
      return Outcome::Printed;
    }
    case D::File: {
      QPdfWriter pdf(options.fileName);
      pdf.setTitle(SystemPrinter.Title);
      pdf.setCreator(QCoreApplication::applicationName());
      pdf.setResolution(ReportPages::kDpi);
      pdf.setPageLayout(QPageLayout(printer.pageLayout().pageSize(), SystemPrinter.Orientation,
                                    SystemPrinter.Margins, QPageLayout::Inch));
      QPainter p;
      if (!p.begin(&pdf)) throw std::runtime_error(("Cannot write " + options.fileName).toStdString());
      pages.render(p, pdf, options.fromPage, options.toPage, {}, scale());
      if (!p.end()) throw std::runtime_error(("Cannot write " + options.fileName).toStdString());
      return Outcome::Filed;
    }
  }
  return Outcome::Cancelled;
}

}  // namespace report
