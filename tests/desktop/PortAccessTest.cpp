// The log's reason for a port that would not open, as an ordinary user meets it.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "AsUser.h"
#include "desktop/PortAccess.h"

namespace {

class PortAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
    ASSERT_TRUE(tmp.isValid());
    ASSERT_EQ(::chmod(QFile::encodeName(tmp.path()).constData(), 0755), 0);
    const group* gr = ::getgrnam("dialout");
    ASSERT_NE(gr, nullptr) << "the system has no dialout group";
    dialout = gr->gr_gid;
    // A stand-in for /dev/ttyUSB0: what matters here is owner, group and mode.
    QFile f(tmp.filePath(QStringLiteral("ttyUSB0")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    device = f.fileName().toStdString();
    ASSERT_EQ(::chown(device.c_str(), 0, dialout), 0);
    ASSERT_EQ(::chmod(device.c_str(), 0660), 0);
  }

  QTemporaryDir tmp;
  gid_t dialout = 0;
  std::string device;
};

TEST_F(PortAccess, aUserOutsideTheDevicesGroupIsToldToJoinIt) {
  const std::string why = asNobody({}, [&] { return desktop::explainPortAccess(device); });
  EXPECT_NE(why.find("permission denied"), std::string::npos) << why;
  EXPECT_NE(why.find("not in group dialout"), std::string::npos) << why;
  EXPECT_NE(why.find("usermod -aG dialout nobody"), std::string::npos) << why;
  EXPECT_NE(why.find(device), std::string::npos) << why;
}

TEST_F(PortAccess, aMemberIsToldTheDeviceWouldOpenSoSomethingElseHoldsIt) {
  const std::string why = asNobody({dialout}, [&] { return desktop::explainPortAccess(device); });
  EXPECT_NE(why.find("may be opened by this user"), std::string::npos) << why;
}

TEST_F(PortAccess, aDeviceClosedToItsGroupIsNotBlamedOnMembership) {
  ASSERT_EQ(::chmod(device.c_str(), 0600), 0);
  const std::string why = asNobody({}, [&] { return desktop::explainPortAccess(device); });
  EXPECT_NE(why.find("is not open to user nobody"), std::string::npos) << why;
  EXPECT_EQ(why.find("usermod"), std::string::npos) << why;
}

TEST(PortAccessAnyUser, aMissingDeviceIsNamedAsMissing) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const std::string gone = tmp.filePath(QStringLiteral("ttyUSB9")).toStdString();
  const std::string why = desktop::explainPortAccess(gone);
  EXPECT_NE(why.find("does not exist"), std::string::npos) << why;
}

}  // namespace
