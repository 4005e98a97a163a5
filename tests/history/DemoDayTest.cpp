// The demo day: a full window of samples per unit, stored by the station's sampling run, that
// the history view draws at once.
#include <cmath>

#include "DemoDay.h"
#include "HistoryStation.h"
#include "engine/TADOQuery.h"
#include "store/core/SamplingRun.h"

namespace {

class DemoDay : public HistoryStation {};

TEST_F(DemoDay, EveryUnitGetsAFullWindowOfPlausibleSamples) {
  demo::storeDay(form.ADOConnection1, 5, 24);
  for (int unit = 1; unit <= 5; ++unit) {
    engine::TADOQuery q(form.ADOConnection1);
    q.setSQL(QStringLiteral("select * from measure%1 order by measureTime").arg(unit));
    q.Open();
    ASSERT_EQ(q.RecordCount(), store::kWindowRows) << unit;
    for (int r = 0; r < q.RecordCount(); ++r) {
      ASSERT_EQ(q.value(r, QStringLiteral("measureTime")).toDouble(), r / 20.0) << unit << " " << r;
      double sum = 0;
      for (int k = 1; k <= 108; ++k) {
        const double v = q.value(r, QStringLiteral("V%1").arg(k)).toDouble();
        if (k <= 24) {
          ASSERT_GT(v, 1.8) << unit << " " << r << " " << k;
          ASSERT_LT(v, 2.5) << unit << " " << r << " " << k;
        } else {
          ASSERT_EQ(v, 0) << k;
        }
        sum += v;
      }
      ASSERT_NEAR(q.value(r, QStringLiteral("V")).toDouble(), sum, 0.051);
    }
  }
  // The next run of the station rolls the window on as after any day of polling.
  demo::reportedVoltages(1, 24, 0, form.polling->tables);
  EXPECT_TRUE(store::storeRun(form.ADOConnection1, form.ADOQuery1, 5, form.polling->tables).empty());
  engine::TADOQuery q(form.ADOConnection1);
  q.setSQL(store::rowCount(1));
  q.Open();
  EXPECT_EQ(q.Fields(0).AsInteger(), store::kWindowRows);
}

TEST_F(DemoDay, DoubleClickingARowShowsTheDayAtOnce) {
  demo::storeDay(form.ADOConnection1, 5, 24);
  doubleClickRow(form.ValueListEditor2, 4);  // cell 20 of unit 1
  EXPECT_TRUE(boxes.boxes.empty());
  const auto points = form.DBChart1->seriesPoints();
  ASSERT_EQ(points.size(), store::kWindowRows);
  EXPECT_EQ(points.front().x(), 0);
  EXPECT_EQ(points.back().x(), 23.95);
  // Float charge before the afternoon outage, the sag during it.
  EXPECT_NEAR(points[100].y(), 2.25, 0.06);
  EXPECT_LT(points[280].y(), points[100].y() - 0.1);
}

}  // namespace
