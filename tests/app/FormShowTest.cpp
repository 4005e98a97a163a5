// What showing the window does: settings into the controls, keys into the cell tables.
#include <gtest/gtest.h>

#include <QLineEdit>

#include "app/Unit1.h"
#include "support/StationFolder.h"
#include "toolkit/ArrowSpinBox.h"
#include "toolkit/KeyValueGrid.h"

namespace {

TEST(FormShow, NumbersTheRowsOfTheSixTables) {
  StationFolder folder;
  folder.makeDatabase("5", 12);
  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  form.show();
  EXPECT_TRUE(boxes.boxes.empty());
  for (int r = 1; r <= 18; ++r) {
    EXPECT_EQ(form.ValueListEditor1->key(r), QString::number(6 * (r - 1) + 1));
    EXPECT_EQ(form.ValueListEditor6->key(r), QString::number(6 * r));
  }
  EXPECT_EQ(form.ValueListEditor1->key(1), "1");
  EXPECT_EQ(form.ValueListEditor1->key(18), "103");
  EXPECT_EQ(form.ValueListEditor6->key(18), "108");
  for (int t = 1; t <= 6; ++t)
    for (int r = 1; r <= 18; ++r) EXPECT_EQ(form.cellTable(t)->valueAt(r), QString());
}

TEST(FormShow, LoadsTheStoredSettings) {
  StationFolder folder;
  folder.makeDatabase("5", 12);
  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  EXPECT_EQ(form.Edit1->text(), QString());
  form.show();
  EXPECT_EQ(form.Edit1->text(), "5");
  EXPECT_EQ(form.SpinEdit1->value(), 12);
  EXPECT_EQ(form.SpinEdit1->maximum(), 99) << "the unit-count box keeps its range";
  EXPECT_EQ(form.SpinEdit2->maximum(), 12);
  EXPECT_EQ(form.SpinEdit2->value(), 1);
  form.SpinEdit2->setValue(12);
  form.SpinEdit2->stepUp();
  EXPECT_EQ(form.SpinEdit2->value(), 12);
}

TEST(FormShow, RunsOnceOnly) {
  StationFolder folder;
  folder.makeDatabase("5", 12);
  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  form.show();
  form.Edit1->setText("7");
  form.hide();
  form.show();
  EXPECT_EQ(form.Edit1->text(), "7");
}

}  // namespace
