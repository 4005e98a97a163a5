// Started from the menu with no station folder: the offer to make one, answered through the
// box recorder, and the folder made by the same program an operator runs by hand.
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "desktop/NewStation.h"
#include "toolkit/MessageBoxes.h"

using toolkit::MessageBoxes;

namespace {

/// cellstation-make-db on PATH, as the package installs it.
class MakerOnPath {
 public:
  MakerOnPath() : previous_(qgetenv("PATH")) {
    QFile::link(QStringLiteral(CELLSTATION_SOURCE_DIR "/scripts/make-station-db.sh"), bin_.filePath(QStringLiteral("cellstation-make-db")));
    qputenv("PATH", QFile::encodeName(bin_.path()) + ':' + previous_);
  }
  ~MakerOnPath() { qputenv("PATH", previous_); }

 private:
  QTemporaryDir bin_;
  QByteArray previous_;
};

QString settingsOf(const QString& file) {
  QString text;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("made"));
    db.setDatabaseName(file);
    QSqlQuery q(db);
    if (db.open() && q.exec(QStringLiteral("select secend || ',' || measureTotal from setting")) && q.next())
      text = q.value(0).toString();
  }
  QSqlDatabase::removeDatabase(QStringLiteral("made"));
  return text;
}

}  // namespace

TEST(NewStation, theBoxNamesTheFolderAndAYesMakesItWithTheSettingsAsked) {
  MakerOnPath maker;
  QTemporaryDir home;
  const QString folder = home.filePath(QStringLiteral("cellstation"));
  toolkit::RecordingMessageBoxes boxes;
  int asked = 0;
  const auto ask = [&asked]() -> std::optional<desktop::NewStationSettings> {
    ++asked;
    return desktop::NewStationSettings{2.5, 7};
  };

  EXPECT_FALSE(desktop::offerNewStation(boxes, folder, ask));  // No: nothing made, nothing asked
  ASSERT_EQ(boxes.texts(MessageBoxes::Kind::Confirmation).size(), 1);
  EXPECT_TRUE(boxes.texts(MessageBoxes::Kind::Confirmation).front().contains(folder));
  EXPECT_EQ(asked, 0);
  EXPECT_FALSE(QFile::exists(folder));

  boxes.confirmAnswer = MessageBoxes::Answer::Yes;
  EXPECT_FALSE(desktop::offerNewStation(boxes, folder, [] { return std::optional<desktop::NewStationSettings>(); }));
  EXPECT_FALSE(QFile::exists(folder));  // the dialog cancelled
  EXPECT_TRUE(desktop::offerNewStation(boxes, folder, ask));
  EXPECT_EQ(settingsOf(QDir(folder).filePath(QStringLiteral("db1.mdb"))), QStringLiteral("2.5,7"));
  EXPECT_TRUE(boxes.texts(MessageBoxes::Kind::Error).isEmpty());

  // A folder that cannot be made (its parent is a file) is said in an error box.
  QFile blocker(home.filePath(QStringLiteral("file")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  EXPECT_FALSE(desktop::offerNewStation(boxes, home.filePath(QStringLiteral("file/station")), ask));
  ASSERT_EQ(boxes.texts(MessageBoxes::Kind::Error).size(), 1);
  EXPECT_TRUE(boxes.texts(MessageBoxes::Kind::Error).front().contains(home.filePath(QStringLiteral("file/station"))));
}
