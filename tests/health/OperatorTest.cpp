// What the operator reaches through the context menu: the limits dialog and its refusals, the
// event record with its filter and export, the history export; and a window that, with no
// limit set and every unit answering, looks exactly as it always did.
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QComboBox>
#include <QTableWidget>
#include <cmath>

#include "HealthStation.h"
#include "health/EventsDialog.h"
#include "health/LimitsDialog.h"
#include "protocol/Frames.h"

namespace {

using health::Limit;

const QStringList kEntries{QStringLiteral("报警设置…"), QStringLiteral("通信统计…"), QStringLiteral("事件记录…"),
                           QStringLiteral("导出历史数据…")};

QStringList chain(int units, QStringList more) {
  return QStringList{QStringLiteral("--units"), QString::number(units), QStringLiteral("--cells"), QStringLiteral("24")} + more;
}

/// A reply of unit u: 24 cells around 2.23 V, cell `low` (if any) at 1.5 V.
std::vector<std::uint8_t> replyOf(int u, int low = 0) {
  std::vector<double> cells;
  double total = 0;
  for (int k = 1; k <= 24; ++k) {
    cells.push_back(k == low ? 1.5 : 2.23 + 0.01 * std::sin(k * 0.7 + u));
    total += cells.back();
  }
  return protocol::buildReply(static_cast<std::uint8_t>(u), total, cells);
}

void feed(TForm1& form, const std::vector<std::uint8_t>& frame) {
  form.Comm1ReceiveData(form.Comm1, frame.data(), static_cast<std::uint16_t>(frame.size()));
}

class HealthOperator : public HealthStation {
 protected:
  void openQuiet(int units = 3) {
    folder.makeDatabase(QStringLiteral("60"), units);
    showWindow();
    attach();
  }
};

TEST_F(HealthOperator, aRightClickOnTheBarsOrTheTablesOffersTheEntries) {
  openQuiet();
  for (QWidget* w : std::initializer_list<QWidget*>{form->Panel1, form->Label3, form->ValueListEditor4->viewport(),
                                                    form->Panel2, form->Label6, form->measureV}) {
    menuTexts.clear();
    rightClick(w);
    EXPECT_EQ(menuTexts, kEntries) << w->objectName().toStdString();
  }
  EXPECT_EQ(dialogsRun, 0);
}

TEST_F(HealthOperator, theLimitsDialogRefusesWhatIsNoVoltageAndTheLimitsSurviveARestart) {
  openQuiet();
  using Texts = std::array<QString, 5>;
  struct Try {
    Texts texts;
    QString message;
  };
  const Try refused[] = {
      {Texts{QStringLiteral("abc"), QString(), QString(), QString(), QString()}, QStringLiteral("单体电压下限：“abc”不是电压值，请输入伏特数（例如 1.85），不设此项请留空")},
      {Texts{QString(), QString(), QStringLiteral("-5"), QString(), QString()}, QStringLiteral("总电压下限不能为负数（-5V）")},
      {Texts{QStringLiteral("2.5"), QStringLiteral("2.4"), QString(), QString(), QString()}, QStringLiteral("单体电压下限必须低于单体电压上限")},
  };
  for (const Try& t : refused) {
    boxes.clear();
    onDialog = [&](QDialog& d) {
      auto* dialog = qobject_cast<health::LimitsDialog*>(&d);
      ASSERT_NE(dialog, nullptr);
      for (std::size_t i = 0; i < 5; ++i) dialog->edits[i]->setText(t.texts[i]);
      dialog->accept();
      EXPECT_NE(dialog->result(), QDialog::Accepted) << "the dialog stays open to be corrected";
    };
    choose(QStringLiteral("报警设置…"));
    EXPECT_EQ(errors(), QStringList{t.message});
    EXPECT_FALSE(monitor->limits().any());
  }

  boxes.clear();
  onDialog = [&](QDialog& d) {
    auto* dialog = qobject_cast<health::LimitsDialog*>(&d);
    dialog->edits[0]->setText(QStringLiteral("1.85"));
    dialog->edits[1]->setText(QStringLiteral("2.4"));
    dialog->edits[4]->setText(QStringLiteral("0.1"));
    dialog->accept();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
  };
  choose(QStringLiteral("报警设置…"));
  EXPECT_TRUE(errors().isEmpty()) << errors().join('\n').toStdString();
  EXPECT_DOUBLE_EQ(*monitor->limits()[Limit::CellLow], 1.85);

  restartStation();
  EXPECT_DOUBLE_EQ(*monitor->limits()[Limit::CellLow], 1.85);
  EXPECT_DOUBLE_EQ(*monitor->limits()[Limit::CellHigh], 2.4);
  EXPECT_FALSE(monitor->limits()[Limit::TotalLow]);
  EXPECT_DOUBLE_EQ(*monitor->limits()[Limit::Spread], 0.1);
  QStringList shown;
  onDialog = [&](QDialog& d) {
    for (QLineEdit* e : qobject_cast<health::LimitsDialog*>(&d)->edits) shown << e->text();
  };
  choose(QStringLiteral("报警设置…"));
  EXPECT_EQ(shown, (QStringList{QStringLiteral("1.85"), QStringLiteral("2.4"), QString(), QString(), QStringLiteral("0.1")}));
}

TEST_F(HealthOperator, theEventRecordShowsNewestFirstFiltersByUnitAndExports) {
  openStation(QStringLiteral("60"), 2, chain(2, {QStringLiteral("--silent"), QStringLiteral("2")}));
  form->SpeedButton1->click();
  for (int cycle = 1; cycle <= 3; ++cycle) {
    ASSERT_TRUE(tickAndAwaitReply());
    tick();
  }
  ASSERT_TRUE(tickAndAwaitReply());
  form->SpeedButton1->click();

  savePath = folder.file(QStringLiteral("events.csv"));
  onDialog = [&](QDialog& d) {
    auto* dialog = qobject_cast<health::EventsDialog*>(&d);
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(dialog->table->rowCount(), 3);
    EXPECT_EQ(dialog->table->item(0, 4)->text(), QStringLiteral("停止巡检"));
    EXPECT_EQ(dialog->table->item(1, 4)->text(), QStringLiteral("离线"));
    EXPECT_EQ(dialog->table->item(1, 1)->text(), QStringLiteral("2"));
    EXPECT_EQ(dialog->table->item(2, 4)->text(), QStringLiteral("开始巡检"));
    dialog->unitFilter->setCurrentIndex(2);  // unit 2
    ASSERT_EQ(dialog->table->rowCount(), 1);
    EXPECT_EQ(dialog->table->item(0, 4)->text(), QStringLiteral("离线"));
    dialog->exportAsked();
  };
  choose(QStringLiteral("事件记录…"));
  EXPECT_EQ(dialogsRun, 1);
  QFile file(savePath);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF")) << "marked as UTF-8 for spreadsheet programs";
  const QString csv = QString::fromUtf8(bytes);
  const QStringList lines = csv.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 2) << csv.toStdString();
  EXPECT_EQ(lines[0], QStringLiteral("时间,台号,单体,数值,事件,说明"));
  EXPECT_TRUE(lines[1].endsWith(QStringLiteral(",2,,,离线,"))) << lines[1].toStdString();
  EXPECT_EQ(boxes.texts(Kind::Plain).size(), 1u);
}

TEST_F(HealthOperator, theHistoryExportWritesTheShownUnitsSamples) {
  openStation(QStringLiteral("60"), 1, chain(1, {}));
  form->SpeedButton1->click();
  for (int t = 1; t <= 3; ++t) ASSERT_TRUE(tickAndAwaitReply()) << t;  // the third tick samples
  ASSERT_TRUE(form->store.waitIdle());
  ASSERT_EQ(db().rows(QStringLiteral("measure1")), 1);

  savePath.clear();
  choose(QStringLiteral("导出历史数据…"));
  EXPECT_TRUE(boxes.texts(Kind::Plain).isEmpty()) << "no file chosen, nothing done";

  savePath = folder.file(QStringLiteral("unit1.csv"));
  choose(QStringLiteral("导出历史数据…"));
  QFile file(savePath);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 2);
  const QStringList header = lines[0].split(',');
  ASSERT_EQ(header.size(), 110);
  EXPECT_EQ(header.front(), QStringLiteral("time"));
  EXPECT_EQ(header[1], QStringLiteral("V1"));
  EXPECT_EQ(header[108], QStringLiteral("V108"));
  EXPECT_EQ(header.back(), QStringLiteral("V"));
  const QStringList row = lines[1].split(',');
  ASSERT_EQ(row.size(), 110);
  EXPECT_EQ(row[0], QStringLiteral("0"));
  // The sample holds the values of the reply before the run (the third one came after it).
  const QVariant stored = db().value(QStringLiteral("select V1 from measure1"));
  EXPECT_EQ(row[1], QString::fromStdString(common::formatGeneral(stored.toDouble())));
  EXPECT_EQ(row[25], QStringLiteral("0")) << "cells the unit does not have are stored as 0";
  EXPECT_EQ(boxes.texts(Kind::Plain).size(), 1u);
  EXPECT_TRUE(errors().isEmpty()) << errors().join('\n').toStdString();
}

TEST_F(HealthOperator, withNoLimitsAndEveryUnitAnsweringTheWindowIsPixelIdentical) {
  folder.makeDatabase(QStringLiteral("60"), 3);
  toolkit::RecordingMessageBoxes plainBoxes;
  TForm1 plain(plainBoxes);
  plain.show();
  showWindow();
  attach();
  for (TForm1* f : {form.get(), &plain}) {
    for (int u = 1; u <= 3; ++u) feed(*f, replyOf(u));
    f->SpinEdit2->setValue(2);
  }
  // Only the active window shows a blinking cursor in its edit box: neither of the two is.
  QWidget elsewhere;
  elsewhere.show();
  elsewhere.activateWindow();
  ASSERT_TRUE(waitUntil([&] { return !form->isActiveWindow() && !plain.isActiveWindow(); }));
  rightClick(form->ValueListEditor2->viewport());
  QApplication::processEvents();
  EXPECT_EQ(form->grab().toImage(), plain.grab().toImage());

  // Limits set but not crossed: still the same.
  health::Limits limits;
  limits[Limit::CellLow] = 1.8;
  limits[Limit::TotalHigh] = 200;
  monitor->applyLimits(limits);
  for (TForm1* f : {form.get(), &plain})
    for (int n = 0; n < 2; ++n) feed(*f, replyOf(2));
  EXPECT_EQ(form->grab().toImage(), plain.grab().toImage());

  // A cell of unit 2 crossing: only now does the window differ.
  for (TForm1* f : {form.get(), &plain})
    for (int n = 0; n < 2; ++n) feed(*f, replyOf(2, 9));
  EXPECT_NE(form->grab().toImage(), plain.grab().toImage());
  plain.close();
}

}  // namespace
