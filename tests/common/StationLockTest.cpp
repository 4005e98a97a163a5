// One station per folder: a second lock is refused with the holder's id, and a station killed
// while holding the lock never blocks the next start.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/StationLock.h"

namespace {

struct TempFolder {
  std::string path;
  TempFolder() {
    char tmpl[] = "/tmp/stationlock-XXXXXX";
    const char* made = ::mkdtemp(tmpl);
    if (made == nullptr) throw std::runtime_error("mkdtemp failed");
    path = made;
  }
  ~TempFolder() { std::filesystem::remove_all(path); }
};

TEST(StationLock, ASecondStationInTheFolderIsRefusedAndNamesTheFirst) {
  TempFolder folder;
  TempFolder other;
  {
    common::StationLock first(folder.path);
    ASSERT_TRUE(first.held()) << first.error();
    common::StationLock second(folder.path);
    EXPECT_FALSE(second.held());
    EXPECT_TRUE(second.anotherStation());
    EXPECT_EQ(second.holder(), ::getpid());
    EXPECT_NE(second.error().find(std::to_string(::getpid())), std::string::npos) << second.error();
    // Another folder is another station.
    common::StationLock elsewhere(other.path);
    EXPECT_TRUE(elsewhere.held()) << elsewhere.error();
  }
  // Released with its holder.
  common::StationLock again(folder.path);
  EXPECT_TRUE(again.held()) << again.error();
}

TEST(StationLock, ALockLeftByAKilledStationDoesNotBlock) {
  TempFolder folder;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    common::StationLock lock(folder.path);
    const char ok = lock.held() ? '1' : '0';
    [[maybe_unused]] const ssize_t n = ::write(ready[1], &ok, 1);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(ok, '1');
  {
    common::StationLock whileAlive(folder.path);
    EXPECT_FALSE(whileAlive.held());
    EXPECT_EQ(whileAlive.holder(), child);
  }
  ASSERT_EQ(::kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  common::StationLock after(folder.path);
  EXPECT_TRUE(after.held()) << after.error();
}

TEST(StationLock, AFolderThatCannotHoldTheLockSaysWhy) {
  common::StationLock lock("/nonexistent-station-folder");
  EXPECT_FALSE(lock.held());
  EXPECT_FALSE(lock.anotherStation());
  EXPECT_EQ(lock.holder(), 0);
  EXPECT_NE(lock.error().find("/nonexistent-station-folder"), std::string::npos) << lock.error();
}

}  // namespace
