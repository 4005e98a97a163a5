#pragma once
// A station window on a temporary station folder with a fresh db1.mdb and a pseudo-terminal
// linked at COM1. Ticks are driven by hand through the window's handler guard, as the timer
// would run them, so no test waits for real polling intervals.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <memory>
#include <vector>

#include "PtyLine.h"
#include "StationDb.h"
#include "app/Unit1.h"
#include "comm/TComm.h"
#include "protocol/Frames.h"
#include "support/StationFolder.h"
#include "toolkit/ArrowSpinBox.h"
#include "toolkit/MessageBoxes.h"
#include "toolkit/PollTimer.h"

class PollingStation : public ::testing::Test {
 protected:
  using Kind = toolkit::MessageBoxes::Kind;

  /// Makes db1.mdb with these settings, links COM1 when asked, and shows the window.
  void open(const QString& interval, int units, bool withPort = true) {
    folder.makeDatabase(interval, units);
    if (withPort) line = std::make_unique<PtyLine>(folder.file(QStringLiteral("COM1")));
    form = std::make_unique<TForm1>(boxes);
    form->show();
    ASSERT_TRUE(boxes.boxes.empty()) << "showing the window raised a box";
  }

  void TearDown() override {
    if (form) form->close();
    form.reset();
  }

  void clickStartStop() { form->SpeedButton1->click(); }

  /// One tick of Timer1, run as the timer runs it; a sampling run it hands the store is written
  /// (and answered) before the tick returns, so the checks after it see the stored rows.
  void tick() {
    form->guard().run([this] { form->Timer1Timer(); });
    EXPECT_TRUE(form->store.waitIdle()) << "the store's thread did not finish the run";
  }

  /// One tick; returns the unit byte of the request frame that left the port (checking the
  /// rest of the frame), or -1 when none did.
  int tickAndRead() {
    tick();
    const auto frame = line->readRequest();
    if (!frame) return -1;
    const int unit = (*frame)[4];
    EXPECT_EQ(*frame, protocol::requestFrame(unit));
    return unit;
  }

  /// After a tick: a unit's reply with n cells of `cell` volts and a total of n x cell; waits
  /// until the station has handled it.
  void answer(int unit, int n = 4, double cell = 2.25) {
    ASSERT_FALSE(form->polling->ReplyReceived) << "answer() belongs right after a tick";
    const std::vector<double> cells(static_cast<std::size_t>(n), cell);
    line->write(protocol::buildReply(static_cast<std::uint8_t>(unit), cell * n, cells));
    ASSERT_TRUE(waitUntil([this] { return form->polling->ReplyReceived; })) << "reply of unit " << unit << " not handled";
  }

  StationDb db() { return StationDb(folder.file(QStringLiteral("db1.mdb"))); }
  QStringList errors() const { return boxes.texts(Kind::Error); }
  bool showsPolling() const { return form->SpeedButton1->text() == QStringLiteral("停止"); }
  QColor panelColour() const { return form->Panel1->palette().color(QPalette::Window); }

  StationFolder folder;
  toolkit::RecordingMessageBoxes boxes;
  std::unique_ptr<PtyLine> line;
  std::unique_ptr<TForm1> form;
};
