// Entering the station folder, and the reasons an ordinary user's folder is refused.
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "AsUser.h"
#include "desktop/StationDir.h"

namespace {

class StationDir : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.isValid());
    // nobody must be able to reach the folders below.
    ASSERT_EQ(::chmod(QFile::encodeName(tmp.path()).constData(), 0755), 0);
  }
  void TearDown() override { QDir::setCurrent(previous); }

  std::string make(const QString& name, mode_t mode) {
    const QString path = tmp.filePath(name);
    EXPECT_TRUE(QDir().mkdir(path));
    EXPECT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
    return path.toStdString();
  }

  QString previous = QDir::currentPath();
  QTemporaryDir tmp;
};

TEST_F(StationDir, becomesTheWorkingDirectory) {
  const std::string dir = make(QStringLiteral("station"), 0755);
  const desktop::EnteredStation e = desktop::enterStationDir(dir);
  ASSERT_TRUE(e.ok) << e.error;
  EXPECT_EQ(QDir::currentPath(), QString::fromStdString(dir));
  EXPECT_EQ(e.path, dir);
  EXPECT_TRUE(e.warning.empty()) << e.warning;
}

TEST_F(StationDir, refusesAMissingFolderOrAFileAndStaysWhereItWas) {
  const QString before = QDir::currentPath();
  const std::string missing = tmp.filePath(QStringLiteral("gone")).toStdString();
  desktop::EnteredStation e = desktop::enterStationDir(missing);
  EXPECT_FALSE(e.ok);
  EXPECT_NE(e.error.find(missing), std::string::npos) << e.error;
  EXPECT_NE(e.error.find("does not exist"), std::string::npos) << e.error;

  QFile file(tmp.filePath(QStringLiteral("db1.mdb")));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  e = desktop::enterStationDir(file.fileName().toStdString());
  EXPECT_FALSE(e.ok);
  EXPECT_NE(e.error.find("is not a folder"), std::string::npos) << e.error;
  EXPECT_EQ(QDir::currentPath(), before);
}

TEST_F(StationDir, anOrdinaryUserIsRefusedAFolderItCannotReadAndWarnedOfOneItCannotWrite) {
  if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
  const std::string closed = make(QStringLiteral("closed"), 0700);
  const std::string readOnly = make(QStringLiteral("readonly"), 0755);
  const std::string refused = asNobody({}, [&] {
    const desktop::EnteredStation e = desktop::enterStationDir(closed);
    return std::string(e.ok ? "ok" : "refused") + "|" + e.error;
  });
  EXPECT_EQ(refused.rfind("refused|", 0), 0u) << refused;
  EXPECT_NE(refused.find("cannot be read"), std::string::npos) << refused;

  const std::string warned = asNobody({}, [&] {
    const desktop::EnteredStation e = desktop::enterStationDir(readOnly);
    return std::string(e.ok ? "ok" : "refused") + "|" + e.warning;
  });
  EXPECT_EQ(warned.rfind("ok|", 0), 0u) << warned;
  EXPECT_NE(warned.find("not writable"), std::string::npos) << warned;
}

}  // namespace
