// The command line and CELLSTATION_STATION: which folder the station runs in, and what is refused.
#include <gtest/gtest.h>

#include "desktop/CommandLine.h"

namespace {

using desktop::CommandLine;
using desktop::parseCommandLine;
using Args = std::vector<std::string>;

struct Case {
  const char* name;
  Args args;
  const char* environment;
  CommandLine::Action action;
  const char* station;  // nullptr: none
  const char* errorPart;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class CommandLineCases : public ::testing::TestWithParam<Case> {};

TEST_P(CommandLineCases, readsTheStationFolderAndRefusesWhatIsAmbiguous) {
  const Case& c = GetParam();
  const CommandLine cl = parseCommandLine(c.args, c.environment);
  EXPECT_EQ(cl.action, c.action);
  if (c.station) {
    ASSERT_TRUE(cl.stationDir.has_value());
    EXPECT_EQ(*cl.stationDir, c.station);
  } else if (c.action != CommandLine::Action::Error) {
    EXPECT_FALSE(cl.stationDir.has_value()) << *cl.stationDir;
  }
  if (c.errorPart) EXPECT_NE(cl.error.find(c.errorPart), std::string::npos) << cl.error;
  else EXPECT_TRUE(cl.error.empty()) << cl.error;
}

const Case kCases[] = {
    {"none", {}, nullptr, CommandLine::Action::Run, nullptr, nullptr},
    {"separate", {"--station", "/srv/a"}, nullptr, CommandLine::Action::Run, "/srv/a", nullptr},
    {"joined", {"--station=/srv/a b"}, nullptr, CommandLine::Action::Run, "/srv/a b", nullptr},
    {"environment", {}, "/srv/env", CommandLine::Action::Run, "/srv/env", nullptr},
    {"optionBeatsEnvironment", {"--station", "/srv/opt"}, "/srv/env", CommandLine::Action::Run, "/srv/opt", nullptr},
    {"givenTwice", {"--station", "/srv/a", "--station=/srv/b"}, nullptr, CommandLine::Action::Error, nullptr, "more than once"},
    {"givenTwiceAlike", {"--station", "/srv/a", "--station", "/srv/a"}, nullptr, CommandLine::Action::Error, nullptr, "more than once"},
    {"noFolder", {"--station"}, nullptr, CommandLine::Action::Error, nullptr, "needs a folder"},
    {"emptyFolder", {"--station="}, nullptr, CommandLine::Action::Error, nullptr, "needs a folder"},
    {"emptyEnvironment", {}, "", CommandLine::Action::Error, nullptr, "CELLSTATION_STATION"},
    {"help", {"--station", "/srv/a", "--help"}, nullptr, CommandLine::Action::Help, "/srv/a", nullptr},
    {"shortVersion", {"-v"}, nullptr, CommandLine::Action::Version, nullptr, nullptr},
    {"backup", {"--backup", "copy.mdb", "--station", "/srv/a"}, nullptr, CommandLine::Action::Backup, "/srv/a", nullptr},
    {"backupTwice", {"--backup=a.mdb", "--backup", "b.mdb"}, nullptr, CommandLine::Action::Error, nullptr, "more than once"},
    {"backupWithoutFile", {"--backup"}, nullptr, CommandLine::Action::Error, nullptr, "needs a file"},
    {"helpBeatsVersion", {"--version", "-h"}, nullptr, CommandLine::Action::Help, nullptr, nullptr},
};

INSTANTIATE_TEST_SUITE_P(CommandLine, CommandLineCases, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLine, leavesOtherArgumentsToTheToolkitInOrder) {
  const CommandLine cl = parseCommandLine({"-platform", "offscreen", "--station", "/x", "--", "--station"}, nullptr);
  EXPECT_EQ(cl.action, CommandLine::Action::Run);
  EXPECT_EQ(cl.others, (std::vector<std::string>{"-platform", "offscreen", "--station"}));
  EXPECT_EQ(cl.stationDir, std::optional<std::string>("/x"));
}

TEST(CommandLine, theToolkitsOptionsAndTheirValuesAreNoStrayArguments) {
  EXPECT_EQ(desktop::firstStrayArgument({"-platform", "offscreen", "--style", "fusion", "-reverse", "--display=:1"}), "");
  EXPECT_EQ(desktop::firstStrayArgument({"-style", "fusion", "--bogus", "-platform"}), "--bogus");
  EXPECT_EQ(desktop::firstStrayArgument({"db1.mdb"}), "db1.mdb");
}

TEST(CommandLine, helpNamesTheOptionTheVariableAndTheDatabaseMaker) {
  const std::string help = desktop::helpText("cellstation");
  for (const char* part : {"--station DIR", "--backup FILE", "CELLSTATION_STATION", "--version", "cellstation-make-db"})
    EXPECT_NE(help.find(part), std::string::npos) << part;
  EXPECT_EQ(desktop::versionText().rfind("cellstation ", 0), 0u);
}

}  // namespace
