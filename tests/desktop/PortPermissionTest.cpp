// Starting to poll on a port the user may not open: the operator sees the component's own box,
// the log says why. The test drops this process to user nobody for the one click.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QPushButton>
#include <QStringList>
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

#include "app/Unit1.h"
#include "comm/CommsError.h"
#include "comm/TComm.h"
#include "support/StationFolder.h"
#include "toolkit/MessageBoxes.h"

namespace {

QStringList* logged = nullptr;

void capture(QtMsgType, const QMessageLogContext& context, const QString& text) {
  if (logged && context.category && QByteArray(context.category) == "cellstation.desktop") logged->append(text);
}

// Effective user nobody, with no supplementary group, until destroyed.
class AsNobody {
 public:
  AsNobody() : gid_(::getegid()) {
    const int n = ::getgroups(0, nullptr);
    groups_.resize(static_cast<std::size_t>(n > 0 ? n : 0));
    if (n > 0 && ::getgroups(n, groups_.data()) != n) throw std::runtime_error("getgroups");
    if (::setgroups(0, nullptr) != 0 || ::setegid(65534) != 0 || ::seteuid(65534) != 0)
      throw std::runtime_error("cannot become nobody");
  }
  ~AsNobody() {
    // Back to root in the reverse order; a failure here would spoil every later test.
    if (::seteuid(0) != 0 || ::setegid(gid_) != 0 || ::setgroups(groups_.size(), groups_.data()) != 0) std::abort();
  }
  AsNobody(const AsNobody&) = delete;
  AsNobody& operator=(const AsNobody&) = delete;

 private:
  gid_t gid_;
  std::vector<gid_t> groups_;
};

TEST(PortPermission, aPortRefusedToTheUserShowsTheComponentsBoxAndTheLogNamesTheMissingGroup) {
  if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
  StationFolder folder;
  ASSERT_EQ(::chmod(QFile::encodeName(folder.path()).constData(), 0755), 0);
  folder.makeDatabase(QStringLiteral("60"), 1);
  const group* dialout = ::getgrnam("dialout");
  ASSERT_NE(dialout, nullptr);
  // Stands in for a USB adapter's node: owner, group and mode are what the kernel checks.
  QFile device(folder.file(QStringLiteral("ttyUSB0")));
  ASSERT_TRUE(device.open(QIODevice::WriteOnly));
  device.close();
  ASSERT_EQ(::chown(QFile::encodeName(device.fileName()).constData(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(device.fileName()).constData(), 0660), 0);
  ASSERT_TRUE(QFile::link(QStringLiteral("ttyUSB0"), folder.file(QStringLiteral("COM1"))));

  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  form.show();
  ASSERT_TRUE(boxes.boxes.empty());

  QStringList lines;
  logged = &lines;
  const QtMessageHandler previous = qInstallMessageHandler(capture);
  {
    AsNobody nobody;
    form.SpeedButton1->click();
  }
  qInstallMessageHandler(previous);
  logged = nullptr;

  EXPECT_EQ(boxes.texts(toolkit::MessageBoxes::Kind::Error),
            QStringList{QString::fromStdString(comm::msg::kCannotOpen)});
  EXPECT_FALSE(form.Comm1->IsOpen());
  ASSERT_EQ(lines.size(), 1) << lines.join('\n').toStdString();
  EXPECT_TRUE(lines[0].contains(QStringLiteral("COM1"))) << lines[0].toStdString();
  EXPECT_TRUE(lines[0].contains(QStringLiteral("not in group dialout"))) << lines[0].toStdString();
  form.close();
}

}  // namespace
