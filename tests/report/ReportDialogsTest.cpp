// The report component's real windows, operated as an operator would: the output options
// dialog chosen and cancelled, and the status window's cancel button.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>

#include "report/ReportDialogs.h"

namespace {

template <typename W>
W* childWithText(QWidget* parent, const QString& text) {
  for (W* w : parent->findChildren<W*>())
    if (w->text() == text) return w;
  return nullptr;
}

// Operates the modal dialog once it is open.
void whenOpen(std::function<void(QDialog&)> act) {
  QTimer::singleShot(0, [act] {
    auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dlg, nullptr) << "no modal dialog open";
    act(*dlg);
  });
}

TEST(QtReportDialogs, OptionsDialogHasItsTitlePreselectsThePreviewAndReturnsTheChoice) {
  report::QtReportDialogs dialogs;
  QPrinter printer;
  report::ReportOptions options;
  QString title;
  bool previewPreselected = false;
  whenOpen([&](QDialog& dlg) {
    title = dlg.windowTitle();
    previewPreselected = childWithText<QRadioButton>(&dlg, QStringLiteral("Preview"))->isChecked();
    childWithText<QRadioButton>(&dlg, QStringLiteral("File"))->setChecked(true);
    dlg.findChild<QLineEdit*>()->setText(QStringLiteral("/tmp/out.pdf"));
    dlg.findChildren<QSpinBox*>().front()->setValue(3);  // copies
    dlg.accept();
  });
  ASSERT_TRUE(dialogs.outputOptions(nullptr, QStringLiteral("Output Options"), printer, options));
  EXPECT_EQ(title, QStringLiteral("Output Options"));
  EXPECT_TRUE(previewPreselected);
  EXPECT_EQ(options.destination, report::ReportOptions::Destination::File);
  EXPECT_EQ(options.fileName, QStringLiteral("/tmp/out.pdf"));
  EXPECT_EQ(options.copies, 3);
  EXPECT_EQ(options.fromPage, 1);
  EXPECT_EQ(options.toPage, 9999);
}

TEST(QtReportDialogs, CancellingTheOptionsDialogIsNoChoice) {
  report::QtReportDialogs dialogs;
  QPrinter printer;
  report::ReportOptions options;
  whenOpen([](QDialog& dlg) { dlg.reject(); });
  EXPECT_FALSE(dialogs.outputOptions(nullptr, QStringLiteral("Output Options"), printer, options));
}

TEST(QtReportDialogs, StatusWindowIsNotModalShowsItsTextAndItsCancelButtonCancels) {
  report::QtReportDialogs dialogs;
  int cancels = 0;
  dialogs.openStatus(nullptr, QStringLiteral("Report Status"), [&] { ++cancels; });
  dialogs.setStatus(QStringLiteral("Generating page 1"));
  QDialog* window = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->windowTitle() == QStringLiteral("Report Status") && w->isVisible()) window = qobject_cast<QDialog*>(w);
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(window->isModal());
  EXPECT_NE(childWithText<QLabel>(window, QStringLiteral("Generating page 1")), nullptr);
  childWithText<QPushButton>(window, QStringLiteral("Cancel"))->click();
  EXPECT_EQ(cancels, 1);
  dialogs.closeStatus();
  QApplication::processEvents();
  EXPECT_EQ(cancels, 1) << "closing the window when the run ends is no cancel";
}

}  // namespace
