// The script that writes a fresh db1.mdb.
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include "engine/TADOConnection.h"
#include "engine/TADOQuery.h"
#include "support/StationFolder.h"

namespace {

int runScript(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral("bash"), QStringList{QStringLiteral(CELLSTATION_SOURCE_DIR "/scripts/make-station-db.sh")} + args);
  if (!p.waitForFinished(30000)) return -1;
  return p.exitCode();
}

QByteArray content(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(MakeStationDb, WritesTheSettingsRowAndNeverOverwrites) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("2.5"), 7);
  {
    engine::TADOConnection c;
    c.setConnectionString(QStringLiteral("Data Source=db1.mdb"));
    engine::TADOQuery q(c);
    q.setSQL(QStringLiteral("select * from setting"));
    q.Open();
    ASSERT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.columnNames(), (QStringList{QStringLiteral("secend"), QStringLiteral("measureTotal")}));
    EXPECT_EQ(q.Fields(0).AsString(), QStringLiteral("2.5"));
    EXPECT_EQ(q.Fields(1).AsInteger(), 7);
  }
  const QString db = folder.file(QStringLiteral("db1.mdb"));
  const QByteArray before = content(db);
  EXPECT_NE(runScript({folder.path(), QStringLiteral("5"), QStringLiteral("12")}), 0);
  EXPECT_EQ(content(db), before);
  // Values that are no plain numbers never reach the SQL text.
  StationFolder other;
  for (const QStringList& bad : {QStringList{other.path(), QStringLiteral("5);drop table setting;--"), QStringLiteral("3")},
                                 QStringList{other.path(), QStringLiteral("5"), QStringLiteral("0")},
                                 QStringList{other.path(), QStringLiteral("5"), QStringLiteral("100")},
                                 QStringList{other.path(), QStringLiteral("5")}}) {
    EXPECT_NE(runScript(bad), 0) << bad.join(' ').toStdString();
    EXPECT_FALSE(QFile::exists(other.file(QStringLiteral("db1.mdb"))));
  }
}
