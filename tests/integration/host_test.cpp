// The real host: a copy of the built program directory, run as a register would run it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"
#include "tests/support/x_display.h"

namespace jov::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Processes whose executable or command line lies inside the folder.
std::vector<int> ProcessesUnder(const std::string& folder) {
  std::vector<int> found;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code error;
    const std::string exe = fs::read_symlink(entry.path() / "exe", error).string();
    const std::string cmdline = TempDir::Read(entry.path().string() + "/cmdline");
    if (exe.rfind(folder, 0) == 0 || cmdline.find(folder) != std::string::npos) {
      if (std::stoi(name) != getpid()) found.push_back(std::stoi(name));
    }
  }
  return found;
}

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program = dir.path() + "/caixa";
    fs::copy(JOV_PROGRAM_DIR, program,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    dir.Write("caixa/clientlib.ini",
              "[Server]\nHost=127.0.0.1\nPort=1\n[Paths]\nWorkingDirectory=" + dir.path() +
                  "/work/\nDriveC=" + dir.path() +
                  "/c/\n[Database]\nConnectionString=Provider=QSQLITE;"
                  "Data Source=" +
                  dir.path() + "/caixa.db\n");
    // A database whose CAIXA table holds no rule for the register: the first activation
    // shows nothing and the operator enters by hand.
    ASSERT_EQ(std::system(("/usr/bin/sqlite3 " + dir.path() + "/caixa.db" +
                           " 'CREATE TABLE CAIXA (CDFILIAL VARCHAR(16), CDCAIXA VARCHAR(16), "
                           "IDAUTOIMPTAB CHAR(1), IDUTILABERAUTO CHAR(1), IDPERACESSOTER CHAR(1))'")
                              .c_str()),
              0);
    // The register's point-of-sale data file, so that nobody is asked for the codes.
    dir.Write("caixa/Mercato.cds",
              "<?xml version=\"1.0\" standalone=\"yes\"?>\n<DATAPACKET "
              "Version=\"2.0\"><METADATA><FIELDS>\n<FIELD attrname=\"CDFILIAL\" "
              "fieldtype=\"string\" WIDTH=\"4\"/>\n<FIELD attrname=\"CDCAIXA\" "
              "fieldtype=\"string\" WIDTH=\"3\"/>\n</FIELDS><PARAMS/></METADATA><ROWDATA>\n<ROW "
              "CDFILIAL=\"0001\" CDCAIXA=\"001\"/>\n</ROWDATA></DATAPACKET>\n");
    // A stand-in screen-package updater that records how it was started.
    const std::string updater =
        dir.Write("caixa/JovBpl.exe", "#!/bin/sh\necho \"$@\" >> \"" + dir.path() + "/calls\"\n");
    fs::permissions(updater, fs::perms::owner_all);
  }

  void TearDown() override {
    EXPECT_TRUE(WaitUntil([&] { return ProcessesUnder(dir.path()).empty(); }, 5s))
        << "a program of the register was left running";
  }

  std::unique_ptr<Process> Run(const std::string& host, const std::vector<std::string>& env = {}) {
    std::vector<std::string> all = {"JOV_HKLM=" + dir.path() + "/HKLM.reg"};
    all.insert(all.end(), env.begin(), env.end());
    return std::make_unique<Process>(std::vector<std::string>{program + "/" + host}, all,
                                     dir.path() + "/stderr");
  }

  std::string Calls() const { return TempDir::Read(dir.path() + "/calls"); }
  std::string Logs() const {
    return TempDir::Read(dir.path() + "/stderr") + TempDir::Read(dir.path() + "/xvfb.err");
  }

  TempDir dir;
  std::string program;
};

// The launcher's real window on a virtual display of the test's own, driven with xdotool.
class OnScreenHostTest : public HostTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(HostTest::SetUp());
    for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/xdotool", "/usr/bin/sqlite3"}) {
      if (!fs::exists(tool)) GTEST_SKIP() << tool << " is needed";
    }
    display.emplace(dir.path());
    ASSERT_TRUE(display->up());
  }
  void TearDown() override {
    display.reset();
    HostTest::TearDown();
  }

  std::unique_ptr<Process> RunOnScreen() {
    return Run("JOV.EXE",
               {"DISPLAY=" + display->name(), "QT_QPA_PLATFORM=xcb", RealWindowSanitizerOptions()});
  }

  // From the launcher the operator enters the stand-in module, then leaves it with Escape.
  void EnterAndLeaveTheModule(const std::string& launcher) {
    std::string module;
    ASSERT_TRUE(display->Keys(launcher, {"alt+e"}));
    ASSERT_TRUE(WaitUntil([&] { return !(module = display->Window("REV10000")).empty(); }, 10s));
    ASSERT_TRUE(display->Keys(module, {"Escape"}));
    EXPECT_TRUE(WaitUntil([&] { return display->Window("REV10000").empty(); }, 10s));
  }

  std::optional<XDisplay> display;
};

TEST_F(HostTest, RunsTheLauncherOffscreenAndEndsCleanlyWhenAskedTo) {
  for (const char* host : {"JOV.EXE", "TRV.EXE"}) {
    fs::remove(dir.path() + "/calls");
    auto child = Run(host, {"QT_QPA_PLATFORM=offscreen"});
    ASSERT_TRUE(child->started());
    // The first activation starts the screen-package updater: the launcher is up.
    ASSERT_TRUE(WaitUntil([&] { return Calls() == "1_\n"; }, 20s)) << host << " never came up";
    EXPECT_FALSE(child->Wait(200ms).has_value()) << "the launcher must stay up until closed";
    EXPECT_EQ(child->Stop(10s), 0) << host;
  }
}

TEST_F(OnScreenHostTest, TheOperatorClosesTheRealWindowWithItsAccessKey) {
  auto child = RunOnScreen();
  ASSERT_TRUE(WaitUntil([&] { return Calls() == "1_\n"; }, 20s));
  std::string window;
  ASSERT_TRUE(
      WaitUntil([&] { return !(window = display->Window("frmEscolheSistema")).empty(); }, 10s));
  ASSERT_TRUE(display->Keys(window, {"alt+s"}));
  EXPECT_EQ(child->Wait(10s), std::optional<int>(0)) << Logs();
}

TEST_F(OnScreenHostTest, TheOperatorEntersTheStandInModuleAndLeavesItAndSigtermEndsItWhileShown) {
  auto child = RunOnScreen();
  ASSERT_TRUE(WaitUntil([&] { return Calls() == "1_\n"; }, 20s));
  std::string launcher;
  ASSERT_TRUE(
      WaitUntil([&] { return !(launcher = display->Window("frmEscolheSistema")).empty(); }, 10s));
  ASSERT_NO_FATAL_FAILURE(EnterAndLeaveTheModule(launcher));
  EXPECT_FALSE(child->Wait(200ms).has_value()) << "leaving the module leaves the launcher up";

  ASSERT_TRUE(display->Keys(launcher, {"alt+e"}));
  ASSERT_TRUE(WaitUntil([&] { return !display->Window("REV10000").empty(); }, 10s));
  EXPECT_EQ(child->Stop(10s), 0) << "stderr:\n" << TempDir::Read(dir.path() + "/stderr");
}

TEST_F(OnScreenHostTest, SigtermEndsTheLauncherDuringTheMissingDataFileNoticeAndThePrompt) {
  fs::remove(program + "/Mercato.cds");
  for (const bool at_prompt : {false, true}) {
    SCOPED_TRACE(at_prompt ? "at the branch prompt" : "at the notice");
    auto child = RunOnScreen();
    // The notice is a modal box of its own above the launcher, waiting for its OK.
    std::string notice;
    ASSERT_TRUE(WaitUntil([&] { return !(notice = display->Window("Jov")).empty(); }, 20s))
        << Logs();
    if (at_prompt) {
      ASSERT_TRUE(display->Keys(notice, {"Return"}));
      ASSERT_TRUE(WaitUntil([&] { return display->Window("Jov").empty(); }, 10s));
    }
    EXPECT_FALSE(child->Wait(200ms).has_value()) << "the launcher waits for the operator";
    EXPECT_EQ(child->Stop(10s), 0);
    EXPECT_FALSE(fs::exists(program + "/cdsFilialCaixa.cds")) << "nobody typed any code";
    EXPECT_EQ(Calls(), "") << "nothing after the codes runs once the launcher is ending";
  }
}

// The centre of an on-screen key in the launcher's window: the digit keys stand in the row at
// top 190, "1" to "9" and then "0" in ten columns 60 pixels apart from left 101, 57 by 46 each;
// the confirm key is the last column of the row at top 389.
std::pair<int, int> DigitKey(char digit) {
  const int column = digit == '0' ? 9 : digit - '1';
  return {101 + 60 * column + 28, 190 + 23};
}
constexpr std::pair<int, int> kConfirmKey{641 + 28, 389 + 23};

TEST_F(OnScreenHostTest, TheOperatorTypesTheCodesOnTheScreenKeysThenEntersAndLeavesTheModule) {
  fs::remove(program + "/Mercato.cds");
  auto child = RunOnScreen();
  std::string notice;
  ASSERT_TRUE(WaitUntil([&] { return !(notice = display->Window("Jov")).empty(); }, 20s)) << Logs();
  const std::string launcher = display->Window("frmEscolheSistema");
  ASSERT_FALSE(launcher.empty());
  ASSERT_TRUE(display->Keys(notice, {"Return"}));
  ASSERT_TRUE(WaitUntil([&] { return display->Window("Jov").empty(); }, 10s));

  // "12" for the branch and "7" for the register, each confirmed on the green key.
  for (const char* code : {"12", "7"}) {
    for (const char* c = code; *c != '\0'; ++c) {
      const auto [x, y] = DigitKey(*c);
      ASSERT_TRUE(display->Click(launcher, x, y)) << *c;
    }
    ASSERT_TRUE(display->Click(launcher, kConfirmKey.first, kConfirmKey.second));
  }
  // The codes were saved as fitted to their widths, then the start went on.
  ASSERT_TRUE(WaitUntil([&] { return Calls() == "1_\n"; }, 20s)) << Logs();
  const std::string saved = TempDir::Read(program + "/cdsFilialCaixa.cds");
  EXPECT_NE(saved.find("<ROW CDFILIAL=\"0012\" CDCAIXA=\"007\"/>"), std::string::npos) << saved;

  ASSERT_NO_FATAL_FAILURE(EnterAndLeaveTheModule(launcher));
  ASSERT_TRUE(display->Keys(launcher, {"alt+s"}));
  EXPECT_EQ(child->Wait(10s), std::optional<int>(0));
}

TEST_F(HostTest, AMissingOrBrokenPackageIsOneLineAndExitCodeOne) {
  fs::remove(program + "/Pkg_jov00000.bpl");
  for (const bool broken : {false, true}) {
    SCOPED_TRACE(broken ? "a broken package" : "a missing package");
    if (broken) dir.Write("caixa/Pkg_jov00000.bpl", "this is not a shared object");
    auto child = Run("JOV.EXE", {"QT_QPA_PLATFORM=offscreen"});
    EXPECT_EQ(child->Wait(10s), std::optional<int>(1));
    const std::string err = TempDir::Read(dir.path() + "/stderr");
    EXPECT_NE(err.find("Pkg_jov00000.bpl"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
}

}  // namespace
}  // namespace jov::testing
