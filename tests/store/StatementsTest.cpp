#include <gtest/gtest.h>

#include "common/ConvertError.h"
#include "store/core/Settings.h"
#include "store/core/Statements.h"
#include "store/core/TableNames.h"

namespace {

const char kCreateUnit1[] =
    "CREATE TABLE measure1 ( V1 double,V2 double,V3 double,V4 double,V5 double,V6 double,V7 double,V8"
    " double,V9 double,V10 double,V11 double,V12 double,V13 double,V14 double,V15 double,V16 double,V"
    "17 double,V18 double,V19 double,V20 double,V21 double,V22 double,V23 double,V24 double,V25 doubl"
    "e,V26 double,V27 double,V28 double,V29 double,V30 double,V31 double,V32 double,V33 double,V34 do"
    "uble,V35 double,V36 double,V37 double,V38 double,V39 double,V40 double,V41 double,V42 double,V43"
    " double,V44 double,V45 double,V46 double,V47 double,V48 double,V49 double,V50 double,V51 double,"
    "V52 double,V53 double,V54 double,V55 double,V56 double,V57 double,V58 double,V59 double,V60 doub"
    "le,V61 double,V62 double,V63 double,V64 double,V65 double,V66 double,V67 double,V68 double,V69 d"
    "ouble,V70 double,V71 double,V72 double,V73 double,V74 double,V75 double,V76 double,V77 double,V7"
    "8 double,V79 double,V80 double,V81 double,V82 double,V83 double,V84 double,V85 double,V86 double"
    ",V87 double,V88 double,V89 double,V90 double,V91 double,V92 double,V93 double,V94 double,V95 dou"
    "ble,V96 double,V97 double,V98 double,V99 double,V100 double,V101 double,V102 double,V103 double,"
    "V104 double,V105 double,V106 double,V107 double,V108 double,V double,measureTime double)";

const char kInsertUnit7[] =
    "insert into measure7 values (3.795,16,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,"
    "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,"
    "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0.05,245.6,0.15)";
}  // namespace

TEST(Statements, CreateAndInsertTextsAreExactToTheCharacter) {
  EXPECT_EQ(store::createTable(1).toStdString(), kCreateUnit1);
  acquisition::CellRow cells{};
  cells[1] = 3.795;
  cells[2] = 16;
  cells[108] = 0.05;
  EXPECT_EQ(store::insertSample(7, cells, 245.6, 3 * 0.05).toStdString(), kInsertUnit7);
}

TEST(Statements, CatalogueTexts) {
  EXPECT_EQ(store::settingsRead(), QStringLiteral("select * from setting"));
  EXPECT_EQ(store::intervalSave(2.5), QStringLiteral("update setting set secend=2.5"));
  EXPECT_EQ(store::unitCountSave(12), QStringLiteral("update setting set measureTotal=12"));
  EXPECT_EQ(store::rowCount(99), QStringLiteral("select count(*) from measure99"));
  EXPECT_EQ(store::dropOldest(3), QStringLiteral("delete from measure3 where measureTime=0"));
  EXPECT_EQ(store::shiftTimes(3), QStringLiteral("update measure3 set measureTime=measureTime-0.05"));
  EXPECT_EQ(store::clearTable(12), QStringLiteral("delete * from measure12"));
  EXPECT_EQ(store::totalCurve(5), QStringLiteral("select V,measureTime from measure5"));
  EXPECT_EQ(store::cellCurve(108, 5), QStringLiteral("select V108,measureTime from measure5"));
  // Time values as the window's places give them, written in the general format.
  acquisition::CellRow none{};
  for (const auto& [rows, text] : {std::pair{479, ",23.95)"}, {480, ",24)"}, {481, ",24.05)"}, {0, ",0)"}})
    EXPECT_TRUE(store::insertSample(1, none, 0, rows * 0.05).endsWith(QLatin1String(text))) << rows;
}

TEST(Statements, NumbersOutsideTheTablesNeverReachAStatement) {
  for (int unit : {0, 100, -1}) EXPECT_THROW(store::rowCount(unit), std::out_of_range) << unit;
  EXPECT_THROW(store::cellCurve(0, 1), std::out_of_range);
  EXPECT_THROW(store::cellCurve(109, 1), std::out_of_range);
}

TEST(Settings, IntervalIsWrittenFromTheNumberNotTheText) {
  EXPECT_EQ(store::intervalSaveFor(QStringLiteral("2.5"), '.'), QStringLiteral("update setting set secend=2.5"));
  // A comma locale: the text the operator typed and the window accepted.
  EXPECT_EQ(store::intervalSaveFor(QStringLiteral("2,5"), ','), QStringLiteral("update setting set secend=2.5"));
  EXPECT_EQ(store::intervalSaveFor(QStringLiteral(" 05 "), '.'), QStringLiteral("update setting set secend=5"));
  for (const char* bad : {"2.5; delete from setting", "2,5", "", "1e999", "abc"}) {
    try {
      store::intervalSaveFor(QString::fromLatin1(bad), '.');
      ADD_FAILURE() << bad;
    } catch (const common::EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + std::string(bad) + "' is not a valid floating point value");
    }
  }
}

TEST(Settings, UnitCountIsKeptWithinTheTables) {
  EXPECT_EQ(store::unitCountWithinRange(0), 1);
  EXPECT_EQ(store::unitCountWithinRange(-5), 1);
  EXPECT_EQ(store::unitCountWithinRange(12), 12);
  EXPECT_EQ(store::unitCountWithinRange(150), 99);
  EXPECT_EQ(store::loadedUnitCount(engine::TField(QVariant(250.0))), 99);
  EXPECT_THROW(store::loadedUnitCount(engine::TField(QVariant())), common::EConvertError);
}

TEST(TableNames, WholeNamesComparedInAsciiUpperCase) {
  // Only a..z fold: é and É stay two letters.
  EXPECT_TRUE(store::listHoldsTable({QStringLiteral("MEASURE3é_Z")}, QStringLiteral("measure3é_z")));
  EXPECT_FALSE(store::listHoldsTable({QStringLiteral("MEASURE3É_Z")}, QStringLiteral("measure3é_z")));
  const QStringList names{QStringLiteral("setting"), QStringLiteral("MEASURE3"), QStringLiteral("measure30")};
  EXPECT_TRUE(store::listHoldsTable(names, QStringLiteral("measure3")));
  EXPECT_TRUE(store::listHoldsTable(names, QStringLiteral("Setting")));
  EXPECT_FALSE(store::listHoldsTable(names, QStringLiteral("measure")));
  EXPECT_FALSE(store::listHoldsTable({QStringLiteral("measure30")}, QStringLiteral("measure3")));
  EXPECT_FALSE(store::listHoldsTable({}, QStringLiteral("measure3")));
  // Only a..z change case: "é" and "É" stay different.
  EXPECT_FALSE(store::listHoldsTable({QStringLiteral("mÉ")}, QStringLiteral("mé")));
}
