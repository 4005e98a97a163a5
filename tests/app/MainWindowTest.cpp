// The main window as the operator first sees it: title, size, every control's place, texts and
// initial state.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/Unit1.h"
#include "support/StationFolder.h"
#include "toolkit/ArrowSpinBox.h"
#include "toolkit/Colors.h"
#include "toolkit/KeyValueGrid.h"
#include "toolkit/PollTimer.h"

namespace {

using toolkit::MessageBoxes;

class MainWindow : public ::testing::Test {
 protected:
  StationFolder folder;
  toolkit::RecordingMessageBoxes boxes;
  TForm1 form{boxes};
};

TEST_F(MainWindow, TitleSizeAndFrame) {
  EXPECT_EQ(form.windowTitle(), QStringLiteral("测电压上位机显示"));
  EXPECT_EQ(form.size(), QSize(751, 560));
  EXPECT_EQ(form.minimumSize(), QSize(751, 560));
  EXPECT_EQ(form.maximumSize(), QSize(751, 560)) << "the border is fixed";
  const Qt::WindowFlags flags = form.windowFlags();
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form.isWindow());
}

TEST_F(MainWindow, SizedControlsSitWhereTheLayoutPutsThem) {
  struct Expect {
    const char* name;
    QWidget* widget;
    QWidget* parent;
    QRect rect;
  };
  const Expect all[] = {
      {"Panel1", form.Panel1, &form, {0, 0, 753, 49}},
      {"Edit1", form.Edit1, form.Panel1, {80, 16, 41, 21}},
      {"SpeedButton1", form.SpeedButton1, form.Panel1, {128, 16, 41, 22}},
      {"SpinEdit1", form.SpinEdit1, form.Panel1, {216, 16, 41, 22}},
      {"SpinEdit2", form.SpinEdit2, form.Panel1, {400, 16, 41, 22}},
      {"SpeedButton4", form.SpeedButton4, form.Panel1, {520, 13, 81, 22}},
      {"SpeedButton2", form.SpeedButton2, form.Panel1, {614, 13, 57, 22}},
      {"BitBtn1", form.BitBtn1, form.Panel1, {684, 13, 57, 25}},
      {"ValueListEditor1", form.ValueListEditor1, &form, {0, 48, 129, 478}},
      {"ValueListEditor2", form.ValueListEditor2, &form, {124, 48, 129, 478}},
      {"ValueListEditor3", form.ValueListEditor3, &form, {248, 48, 129, 478}},
      {"ValueListEditor4", form.ValueListEditor4, &form, {374, 48, 129, 478}},
      {"ValueListEditor5", form.ValueListEditor5, &form, {500, 48, 129, 478}},
      {"ValueListEditor6", form.ValueListEditor6, &form, {624, 48, 129, 478}},
      {"Panel2", form.Panel2, &form, {0, 525, 769, 34}},
      {"Panel3", form.Panel3, &form, {0, 48, 753, 40}},
      {"ComboBox1", form.ComboBox1, form.Panel3, {138, 10, 65, 21}},
      {"SpeedButton3", form.SpeedButton3, form.Panel3, {680, 8, 57, 22}},
      {"DBChart1", form.DBChart1, &form, {0, 88, 753, 437}},
  };
  for (const auto& e : all) {
    ASSERT_NE(e.widget, nullptr) << e.name;
    EXPECT_EQ(e.widget->geometry(), e.rect) << e.name;
    EXPECT_EQ(e.widget->parentWidget(), e.parent) << e.name;
  }
}

TEST_F(MainWindow, LabelsSitAtTheirPlaceWithTheirTexts) {
  struct Expect {
    QLabel* label;
    QWidget* parent;
    QPoint at;
    QString text;
  };
  const Expect all[] = {
      {form.Label4, form.Panel1, {14, 22}, QStringLiteral("间隔秒数： ")},
      {form.Label1, form.Panel1, {192, 22}, QStringLiteral("共")},
      {form.Label2, form.Panel1, {264, 22}, QStringLiteral("台检测仪，下表为第       ")},
      {form.Label3, form.Panel1, {448, 22}, QStringLiteral("台的数据     ")},
      {form.Label5, form.Panel2, {14, 12}, QStringLiteral("总电压： ")},
      {form.measureV, form.Panel2, {70, 12}, QStringLiteral(" ")},
      {form.Label8, form.Panel2, {126, 12}, QString()},
      {form.Label9, form.Panel2, {319, 12}, QString()},
      {form.Label6, form.Panel2, {398, 12}, QStringLiteral("注：双击“001-108”序号或“总电压”看历史曲线  ")},
      {form.Label7, form.Panel3, {22, 14}, QString()},
  };
  for (const auto& e : all) {
    EXPECT_EQ(e.label->pos(), e.at) << e.text.toStdString();
    EXPECT_EQ(e.label->parentWidget(), e.parent) << e.text.toStdString();
    EXPECT_EQ(e.label->text(), e.text);
  }
  // The labels' font: a bold Song face at 14 px; Label9 at 13 px in red.
  EXPECT_TRUE(form.Label4->font().bold());
  EXPECT_EQ(form.Label4->font().pixelSize(), 14);
  EXPECT_TRUE(form.Label4->font().families().contains(QStringLiteral("宋体")));
  EXPECT_EQ(form.Label9->font().pixelSize(), 13);
  EXPECT_EQ(form.Label9->palette().color(QPalette::WindowText), toolkit::clRed());
}

TEST_F(MainWindow, InitialStateIsStopped) {
  EXPECT_EQ(form.SpeedButton1->text(), QStringLiteral("开始"));
  EXPECT_EQ(form.SpeedButton4->text(), QStringLiteral("清空数据"));
  EXPECT_EQ(form.SpeedButton2->text(), QStringLiteral("打印"));
  EXPECT_EQ(form.BitBtn1->text(), QStringLiteral("帮助"));
  EXPECT_FALSE(form.BitBtn1->icon().isNull()) << "the help glyph";
  EXPECT_EQ(form.SpeedButton3->text(), QStringLiteral("返回"));
  EXPECT_EQ(form.Panel1->palette().color(QPalette::Window), toolkit::clRed());
  EXPECT_TRUE(form.Panel1->autoFillBackground());

  EXPECT_EQ(form.Edit1->text(), QString());
  EXPECT_FALSE(form.Edit1->isReadOnly());
  EXPECT_EQ(form.SpinEdit1->value(), 99);
  EXPECT_EQ(form.SpinEdit1->minimum(), 1);
  EXPECT_EQ(form.SpinEdit1->maximum(), 99);
  EXPECT_EQ(form.SpinEdit2->value(), 1);
  EXPECT_EQ(form.SpinEdit2->minimum(), 1);
  EXPECT_EQ(form.SpinEdit2->maximum(), 99);
  EXPECT_TRUE(form.SpinEdit1->isEnabled());
  EXPECT_TRUE(form.SpeedButton4->isEnabled());

  EXPECT_FALSE(form.Timer1->enabled());
  EXPECT_EQ(form.Timer1->interval(), 5000);

  EXPECT_TRUE(form.Label8->isHidden());
  EXPECT_EQ(form.Label8->palette().color(QPalette::Window), toolkit::clRed());
  EXPECT_TRUE(form.Label8->autoFillBackground());
  EXPECT_TRUE(form.Panel3->isHidden());
  EXPECT_TRUE(form.DBChart1->isHidden());
  EXPECT_FALSE(form.DBChart1->isEnabled());

  ASSERT_EQ(form.ComboBox1->count(), 109);
  EXPECT_TRUE(form.ComboBox1->isEditable());
  EXPECT_EQ(form.ComboBox1->itemText(0), QStringLiteral("总电压"));
  EXPECT_EQ(form.ComboBox1->itemText(1), QStringLiteral("1"));
  EXPECT_EQ(form.ComboBox1->itemText(108), QStringLiteral("108"));
  EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("总电压"));
}

TEST_F(MainWindow, SixEmptyCellTablesWithTitleRow) {
  for (int t = 1; t <= 6; ++t) {
    toolkit::KeyValueGrid* grid = form.cellTable(t);
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->objectName(), QStringLiteral("ValueListEditor%1").arg(t));
    EXPECT_EQ(grid->dataRowCount(), 18);
    EXPECT_EQ(grid->horizontalHeaderItem(0)->text(), QStringLiteral("      序号"));
    EXPECT_EQ(grid->horizontalHeaderItem(1)->text(), QStringLiteral("    电压V"));
    EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
    for (int r = 1; r <= 18; ++r) {
      EXPECT_EQ(grid->key(r), QString());
      EXPECT_EQ(grid->valueAt(r), QString());
    }
  }
  EXPECT_EQ(form.cellTable(0), nullptr);
  EXPECT_EQ(form.cellTable(7), nullptr);
}

TEST_F(MainWindow, MeasurementTablesStartAtZero) {
  EXPECT_EQ(form.polling->UnitCount, 0);
  EXPECT_EQ(form.polling->ElapsedSeconds, 0.0);
  EXPECT_EQ(form.polling->CurrentUnit, 0);
  EXPECT_FALSE(form.polling->ReplyReceived);
  EXPECT_FALSE(form.polling->AllReplied);
  EXPECT_TRUE(form.history->stamp().isEmpty());
  for (int u = 1; u <= 99; ++u) {
    EXPECT_EQ(form.polling->tables.CellCount[u], 0);
    EXPECT_EQ(form.polling->tables.TotalVoltage[u], 0.0);
    for (int k = 1; k <= 108; ++k) ASSERT_EQ(form.polling->tables.CellVoltage[u][k], 0.0);
  }
  EXPECT_THROW(form.polling->tables.CellCount[0], std::out_of_range);
  EXPECT_THROW(form.polling->tables.CellCount[100], std::out_of_range);
  EXPECT_THROW(form.polling->tables.CellVoltage[1][109], std::out_of_range);
}

TEST_F(MainWindow, HelpButtonShowsTheSupportNumber) {
  form.show();
  boxes.clear();
  QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].kind, MessageBoxes::Kind::Information);
  EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("Information"));
  EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("技术支持：400-820-6655"));
}

// A box that fails, so the help handler raises: the error reaches the error box and the window
// carries on serving clicks.
class FailingInformationBoxes : public toolkit::RecordingMessageBoxes {
 public:
  void information(QWidget*, const QString&, const QString&) override {
    throw std::runtime_error("帮助不可用");
  }
};

TEST(MainWindowErrors, AHandlerThatThrowsShowsTheErrorAndTheWindowStaysUsable) {
  StationFolder folder;
  FailingInformationBoxes boxes;
  TForm1 form(boxes);
  form.show();
  boxes.clear();
  QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
  QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
  EXPECT_EQ(boxes.texts(MessageBoxes::Kind::Error), QStringList({"帮助不可用", "帮助不可用"}));
  EXPECT_TRUE(form.isVisible());
  form.SpinEdit2->stepUp();
  EXPECT_EQ(form.SpinEdit2->value(), 2);
}

}  // namespace
