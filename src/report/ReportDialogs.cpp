#include "report/ReportDialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPageSetupDialog>
#include <QPointer>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace report {

namespace {

// The PDF file a typed name stands for: ".pdf" appended unless it ends so (in any case).
QString pdfFileName(const QString& typed) {
  const QString name = typed.trimmed();
  if (name.isEmpty() || name.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) return name;
  return name + QStringLiteral(".pdf");
}

}  // namespace

// ---- the real windows

struct QtReportDialogs::Status {
  QPointer<QDialog> window;
  QLabel* text = nullptr;
};

QtReportDialogs::QtReportDialogs() = default;
QtReportDialogs::~QtReportDialogs() { closeStatus(); }

bool QtReportDialogs::outputOptions(QWidget* parent, const QString& title, QPrinter& printer,
                                    ReportOptions& options) {
  QDialog dlg(parent);
  dlg.setWindowTitle(title);
  auto* top = new QVBoxLayout(&dlg);

  auto* destBox = new QGroupBox(QStringLiteral("Destination"), &dlg);
  auto* destLayout = new QVBoxLayout(destBox);
  auto* toPrinter = new QRadioButton(QStringLiteral("Printer"), destBox);
  auto* toPreview = new QRadioButton(QStringLiteral("Preview"), destBox);
  auto* toFile = new QRadioButton(QStringLiteral("File"), destBox);
  auto* fileRow = new QHBoxLayout;
  auto* fileEdit = new QLineEdit(options.fileName, destBox);
  auto* browse = new QPushButton(QStringLiteral("..."), destBox);
  fileRow->addWidget(fileEdit);
  fileRow->addWidget(browse);
  destLayout->addWidget(toPrinter);
  destLayout->addWidget(toPreview);
  destLayout->addWidget(toFile);
  destLayout->addLayout(fileRow);
  top->addWidget(destBox);
  using D = ReportOptions::Destination;
  (options.destination == D::Printer ? toPrinter : options.destination == D::File ? toFile : toPreview)
      ->setChecked(true);

  auto* printerBox = new QGroupBox(QStringLiteral("Printer"), &dlg);
  auto* printerForm = new QFormLayout(printerBox);
  auto* printerRow = new QHBoxLayout;
  auto* printers = new QComboBox(printerBox);
  printers->addItems(QPrinterInfo::availablePrinterNames());
  printers->setCurrentText(options.printerName);
  auto* setup = new QPushButton(QStringLiteral("Setup..."), printerBox);
  printerRow->addWidget(printers, 1);
  printerRow->addWidget(setup);
  printerForm->addRow(QStringLiteral("Name:"), printerRow);
  auto* copies = new QSpinBox(printerBox);
  copies->setRange(1, 999);
  copies->setValue(options.copies);
  printerForm->addRow(QStringLiteral("Copies:"), copies);
  auto* collate = new QCheckBox(QStringLiteral("Collate"), printerBox);
  collate->setChecked(options.collate);
  auto* duplex = new QCheckBox(QStringLiteral("Duplex"), printerBox);
  duplex->setChecked(options.duplex);
  printerForm->addRow(collate);
  printerForm->addRow(duplex);
  top->addWidget(printerBox);

  auto* rangeBox = new QGroupBox(QStringLiteral("Page Range"), &dlg);
  auto* rangeLayout = new QHBoxLayout(rangeBox);
  auto* all = new QRadioButton(QStringLiteral("All"), rangeBox);
  auto* pages = new QRadioButton(QStringLiteral("Pages"), rangeBox);
  auto* from = new QSpinBox(rangeBox);
  auto* to = new QSpinBox(rangeBox);
  from->setRange(1, 9999);
  to->setRange(1, 9999);
  from->setValue(options.fromPage);
  to->setValue(options.toPage);
  all->setChecked(options.fromPage <= 1 && options.toPage >= 9999);
  pages->setChecked(!all->isChecked());
  rangeLayout->addWidget(all);
  rangeLayout->addWidget(pages);
  rangeLayout->addWidget(from);
  rangeLayout->addWidget(new QLabel(QStringLiteral("to"), rangeBox));
  rangeLayout->addWidget(to);
  top->addWidget(rangeBox);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
  top->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  // The name the "..." dialog returned: that dialog has already asked before replacing it.
  QString browsed;
  QObject::connect(browse, &QPushButton::clicked, &dlg, [&] {
    const QString f = QFileDialog::getSaveFileName(&dlg, QStringLiteral("Save Report"), fileEdit->text(),
                                                   QStringLiteral("PDF files (*.pdf)"));
    if (!f.isEmpty()) {
      browsed = f;
      fileEdit->setText(f);
      toFile->setChecked(true);
    }
  });
  QObject::connect(setup, &QPushButton::clicked, &dlg, [&] {
    printer.setPrinterName(printers->currentText());
    QPageSetupDialog pageSetup(&printer, &dlg);
    pageSetup.exec();
  });
  auto syncFile = [&] { fileEdit->setEnabled(toFile->isChecked()); browse->setEnabled(toFile->isChecked()); };
  QObject::connect(toFile, &QRadioButton::toggled, &dlg, syncFile);
  syncFile();

  // A file destination needs a name, and a file that exists is replaced only when the operator
  // says so; until then the dialog comes back, or is cancelled.
  for (;;) {
    if (dlg.exec() != QDialog::Accepted) return false;
    if (!toFile->isChecked()) break;
    const QString name = pdfFileName(fileEdit->text());
    fileEdit->setText(name);
    if (!name.isEmpty()) {
      if (name == browsed || !QFileInfo::exists(name)) break;
      const QString question = QStringLiteral("%1 already exists.\nDo you want to replace it?")
                                   .arg(QDir::toNativeSeparators(name));
      if (boxes_->confirm(parent, question) == toolkit::MessageBoxes::Answer::Yes) break;
    }
    fileEdit->setFocus();
  }
  options.destination = toPrinter->isChecked() ? D::Printer : toFile->isChecked() ? D::File : D::Preview;
  options.fileName = fileEdit->text().trimmed();
  options.printerName = printers->currentText();
  options.copies = copies->value();
  options.collate = collate->isChecked();
  options.duplex = duplex->isChecked();
  options.fromPage = all->isChecked() ? 1 : from->value();
  options.toPage = all->isChecked() ? 9999 : std::max(from->value(), to->value());
  return true;
}

void QtReportDialogs::openStatus(QWidget* parent, const QString& title, std::function<void()> cancel) {
  closeStatus();
  status_ = std::make_unique<Status>();
  auto* w = new QDialog(parent, Qt::Dialog);
  w->setWindowTitle(title);
  w->setModal(false);
  auto* layout = new QVBoxLayout(w);
  status_->text = new QLabel(w);
  status_->text->setMinimumWidth(220);
  layout->addWidget(status_->text);
  auto* cancelButton = new QPushButton(QStringLiteral("Cancel"), w);
  layout->addWidget(cancelButton, 0, Qt::AlignHCenter);
  QObject::connect(cancelButton, &QPushButton::clicked, w, [cancel] { if (cancel) cancel(); });
  // Closing the window by its frame is a cancel too.
  QObject::connect(w, &QDialog::rejected, w, [cancel] { if (cancel) cancel(); });
  status_->window = w;
  w->show();
}

void QtReportDialogs::setStatus(const QString& text) {
  if (status_ && status_->window) status_->text->setText(text);
}

void QtReportDialogs::closeStatus() {
  if (!status_) return;
  // Deleted here rather than on close: the run ends outside any event of the window's own, and
  // a deferred delete would wait for an event loop that may not come.
  delete status_->window.data();
  status_.reset();
}

void QtReportDialogs::preview(QWidget* parent, const QString& title, double zoomPercent, QPrinter& printer,
                              const std::function<void(QPagedPaintDevice&)>& render) {
  QPrintPreviewDialog dlg(&printer, parent);
  dlg.setWindowTitle(title);
  QObject::connect(&dlg, &QPrintPreviewDialog::paintRequested, &dlg, [&render](QPrinter* p) { render(*p); });
  if (auto* view = dlg.findChild<QPrintPreviewWidget*>()) {
    view->setZoomMode(QPrintPreviewWidget::CustomZoom);
    view->setZoomFactor(zoomPercent / 100.0);
  }
  dlg.exec();
}

// ---- the script

bool ScriptedReportDialogs::outputOptions(QWidget*, const QString& title, QPrinter& printer,
                                          ReportOptions& options) {
  titles << title;
  offered = options;
  using D = ReportOptions::Destination;
  switch (answer) {
    case Answer::Cancel: return false;
    case Answer::Printer: options.destination = D::Printer; break;
    case Answer::Preview: options.destination = D::Preview; break;
    case Answer::File: options.destination = D::File; break;
  }
  options.fileName = fileName;
  if (!printerName.isEmpty()) options.printerName = printerName;
  printer.setPrinterName(options.printerName);
  options.copies = copies;
  options.fromPage = fromPage;
  options.toPage = toPage;
  return true;
}

void ScriptedReportDialogs::openStatus(QWidget*, const QString& title, std::function<void()> cancel) {
  titles << title;
  statusOpen = true;
  cancel_ = std::move(cancel);
}

void ScriptedReportDialogs::setStatus(const QString& text) {
  statusTexts << text;
  if (duringGeneration) duringGeneration();
  if (cancelAtStatus > 0 && statusTexts.size() == cancelAtStatus && cancel_) cancel_();
}

void ScriptedReportDialogs::closeStatus() {
  statusOpen = false;
  cancel_ = nullptr;
}

void ScriptedReportDialogs::preview(QWidget*, const QString& title, double zoomPercent, QPrinter&,
                                    const std::function<void(QPagedPaintDevice&)>& render) {
  titles << title;
  ++previews;
  previewZoom = zoomPercent;
  if (beforePreview) beforePreview();
  if (previewDevice) render(*previewDevice);
}

}  // namespace report
