#pragma once
// The whole station on a simulated chain: a station folder with a fresh db1.mdb, cellsim
// linked at its COM1, the real window offscreen. Ticks are driven by hand through the window's
// handler guard; each answered tick waits (with a deadline) until the reply has been handled.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

#include "Cellsim.h"
#include "acquisition/polling/StationDb.h"
#include "app/Unit1.h"
#include "comm/TComm.h"
#include "common/NumberText.h"
#include "support/StationFolder.h"
#include "toolkit/ArrowSpinBox.h"
#include "toolkit/KeyValueGrid.h"
#include "toolkit/MessageBoxes.h"
#include "toolkit/PollTimer.h"

class ChainStation : public ::testing::Test {
 protected:
  using Kind = toolkit::MessageBoxes::Kind;

  void open(const QString& interval, int units, const QStringList& simulator) {
    folder.makeDatabase(interval, units);
    sim = std::make_unique<Cellsim>(folder.file(QStringLiteral("COM1")), simulator);
    showWindow();
  }

  void showWindow() {
    form = std::make_unique<TForm1>(boxes);
    form->show();
    ASSERT_TRUE(boxes.boxes.empty()) << errors().join('\n').toStdString();
  }

  void TearDown() override {
    if (form) form->close();
    form.reset();
    if (sim) {
      EXPECT_EQ(sim->stop(), 0) << "cellsim did not stop cleanly";
    }
  }

  void tick() { form->guard().run([this] { form->Timer1Timer(); }); }

  /// A tick whose unit answers: true once some block has been handled.
  bool tickAndAwaitReply() {
    tick();
    return waitUntil([this] { return form->polling->ReplyReceived; });
  }

  QStringList errors() const { return boxes.texts(Kind::Error); }
  StationDb db() { return StationDb(folder.file(QStringLiteral("db1.mdb"))); }
  QString number(double v) const { return QString::fromStdString(common::formatGeneral(v, form->decimalSeparator())); }
  bool portOpen() const { return form->Comm1->IsOpen(); }

  StationFolder folder;
  toolkit::RecordingMessageBoxes boxes;
  std::unique_ptr<Cellsim> sim;
  std::unique_ptr<TForm1> form;
};
