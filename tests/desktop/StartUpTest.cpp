// What the start-up says about the station folder, and the icon the window carries.
#include <QApplication>
#include <QIcon>
#include <QStringList>
#include <gtest/gtest.h>

#include "app/Unit1.h"
#include "desktop/StartUp.h"
#include "support/StationFolder.h"
#include "toolkit/MessageBoxes.h"

namespace {

QStringList* logged = nullptr;

void capture(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (logged && context.category && QByteArray(context.category) == "cellstation.desktop")
    logged->append((type == QtWarningMsg ? QStringLiteral("W ") : QStringLiteral("I ")) + text);
}

QStringList logOf(const desktop::StartUp& start) {
  QStringList lines;
  logged = &lines;
  const QtMessageHandler previous = qInstallMessageHandler(capture);
  desktop::logStation(start);
  qInstallMessageHandler(previous);
  logged = nullptr;
  return lines;
}

TEST(StartUp, theLogNamesTheFolderAndWhereItLookedForTheMissingDatabase) {
  StationFolder folder;
  desktop::StartUp start;
  start.stationPath = folder.path().toStdString();
  QStringList lines = logOf(start);
  ASSERT_EQ(lines.size(), 2) << lines.join('\n').toStdString();
  EXPECT_TRUE(lines[0].startsWith(QStringLiteral("I ")) && lines[0].contains(folder.path())) << lines[0].toStdString();
  EXPECT_TRUE(lines[1].startsWith(QStringLiteral("W "))) << lines[1].toStdString();
  EXPECT_TRUE(lines[1].contains(folder.file(QStringLiteral("db1.mdb")))) << lines[1].toStdString();
  EXPECT_TRUE(lines[1].contains(QStringLiteral("cellstation-make-db ") + folder.path())) << lines[1].toStdString();

  folder.makeDatabase(QStringLiteral("5"), 2);
  lines = logOf(start);
  EXPECT_EQ(lines.size(), 1) << lines.join('\n').toStdString();
}

TEST(StartUp, theWindowCarriesTheStationIconInEverySize) {
  desktop::setDesktopIdentity(*qApp);
  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  const QIcon icon = form.windowIcon();
  ASSERT_FALSE(icon.isNull());
  for (int size : {16, 32, 48, 64, 128, 256}) {
    EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
    EXPECT_FALSE(icon.pixmap(size).isNull()) << size;
  }
  EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral("cellstation"));
}

}  // namespace
