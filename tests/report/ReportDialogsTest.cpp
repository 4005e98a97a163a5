// The report component's real windows, operated as an operator would: the output options
// dialog chosen and cancelled, a file name typed into it, and the status window's cancel button.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
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

// Operates the modal dialogs as they come up, one step for each showing.
class ModalScript {
 public:
  explicit ModalScript(std::vector<std::function<void(QDialog&)>> steps) : steps_(std::move(steps)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (dlg && dlg->isVisible() && next_ < steps_.size()) steps_[next_++](*dlg);
    });
    timer_.start(0);
  }
  std::size_t stepsDone() const { return next_; }

 private:
  std::vector<std::function<void(QDialog&)>> steps_;
  std::size_t next_ = 0;
  QTimer timer_;
};

// The operator picks the file destination, types a name and presses OK.
void typeFileName(QDialog& dlg, const QString& name) {
  childWithText<QRadioButton>(&dlg, QStringLiteral("File"))->setChecked(true);
  dlg.findChild<QLineEdit*>()->setText(name);
  dlg.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
}

TEST(QtReportDialogs, ATypedFileNameGetsItsSuffixAndAnExistingFileIsReplacedOnlyWhenConfirmed) {
  QTemporaryDir dir;
  toolkit::RecordingMessageBoxes boxes;
  report::QtReportDialogs dialogs;
  dialogs.setMessageBoxes(boxes);
  QPrinter printer;
  report::ReportOptions options;
  auto choose = [&](std::vector<std::function<void(QDialog&)>> steps) {
    ModalScript script(std::move(steps));
    return dialogs.outputOptions(nullptr, QStringLiteral("Output Options"), printer, options);
  };

  ASSERT_TRUE(choose({[&](QDialog& d) { typeFileName(d, dir.filePath(QStringLiteral("new"))); }}));
  EXPECT_EQ(options.fileName, dir.filePath(QStringLiteral("new.pdf")));
  EXPECT_TRUE(boxes.boxes.empty()) << "asked about a file that does not exist";

  const QString existing = dir.filePath(QStringLiteral("old.PDF"));
  QFile f(existing);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  // No: the dialog comes back with the name, for another one or a cancel.
  QString nameShownAgain;
  EXPECT_FALSE(choose({[&](QDialog& d) { typeFileName(d, existing); },
                       [&](QDialog& d) {
                         nameShownAgain = d.findChild<QLineEdit*>()->text();
                         d.reject();
                       }}));
  EXPECT_EQ(nameShownAgain, existing);
  const QStringList asked = boxes.texts(toolkit::MessageBoxes::Kind::Confirmation);
  ASSERT_EQ(asked.size(), 1);
  EXPECT_TRUE(asked[0].contains(QStringLiteral("old.PDF already exists"))) << asked[0].toStdString();
  // Yes: taken as typed.
  boxes.confirmAnswer = toolkit::MessageBoxes::Answer::Yes;
  ASSERT_TRUE(choose({[&](QDialog& d) { typeFileName(d, existing); }}));
  EXPECT_EQ(options.fileName, existing);
  EXPECT_EQ(boxes.texts(toolkit::MessageBoxes::Kind::Confirmation).size(), 2);
}

TEST(QtReportDialogs, OptionsDialogHasItsTitlePreselectsThePreviewAndReturnsTheChoice) {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("out.pdf"));
  report::QtReportDialogs dialogs;
  QPrinter printer;
  report::ReportOptions options;
  QString title;
  bool previewPreselected = false;
  whenOpen([&](QDialog& dlg) {
    title = dlg.windowTitle();
    previewPreselected = childWithText<QRadioButton>(&dlg, QStringLiteral("Preview"))->isChecked();
    childWithText<QRadioButton>(&dlg, QStringLiteral("File"))->setChecked(true);
    dlg.findChild<QLineEdit*>()->setText(file);
    dlg.findChildren<QSpinBox*>().front()->setValue(3);  // copies
    dlg.accept();
  });
  ASSERT_TRUE(dialogs.outputOptions(nullptr, QStringLiteral("Output Options"), printer, options));
  EXPECT_EQ(title, QStringLiteral("Output Options"));
  EXPECT_TRUE(previewPreselected);
  EXPECT_EQ(options.destination, report::ReportOptions::Destination::File);
  EXPECT_EQ(options.fileName, file);
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
