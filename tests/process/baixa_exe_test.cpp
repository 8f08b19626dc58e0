// The file-list name checks of the update, and the installation's file replacement on real
// files.
#include "Cli_jov00000/update/baixa_exe.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "platform/errors.h"
#include "platform/file_system_linux.h"
#include "tests/support/temp_dir.h"

namespace Cli_jov00000 {
namespace {

namespace fs = std::filesystem;
using jov::testing::TempDir;

TEST(VersionReply, AcceptsOnlyTheClientExecutablesOfTheProgramDirectory) {
  for (const char* name :
       {"JovTab.exe", "JOVSERVICE.EXE", "jovsinc.exe.old", "Altera_Permissoes_Calvora.EXE"}) {
    EXPECT_TRUE(IsAcceptedLocalName(name)) << name;
  }
  for (const char* name :
       {"", "Outro.exe", "ovTab.exe", "JovTab.exe/../../x", "JovTab.exe\\x", "JovTab.exe..",
        "../JovTab.exe", "JovTab.exe\r\n", "JovTab.exe\x1b[2J"}) {
    EXPECT_FALSE(IsAcceptedLocalName(name)) << name;
  }
}

TEST(ReplaceFile, InstallsWholeKeepsTheModeAndLeavesTheOldFileOnFailure) {
  TempDir dir;
  jov::FileSystemLinux files;
  const std::string old_file = dir.Write("prog/JovTab.exe", "old");
  ::chmod(old_file.c_str(), 0750);
  files.ReplaceFile(dir.Write("work/JovTab.exe", "new"), old_file);
  EXPECT_EQ(TempDir::Read(old_file), "new");
  struct stat info {};
  ASSERT_EQ(::stat(old_file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0750u);

  const std::string fresh = dir.path() + "/prog/JovImp.exe";
  files.ReplaceFile(dir.Write("work/JovImp.exe", "imp"), fresh);
  ASSERT_EQ(::stat(fresh.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);

  // A missing source, and a source that is a folder: the old file stays byte-identical.
  fs::create_directories(dir.path() + "/work/folder");
  // Each says why in Portuguese, for the log.
  for (const std::string& from : {dir.path() + "/work/none", dir.path() + "/work/folder"}) {
    try {
      files.ReplaceFile(from, old_file);
      ADD_FAILURE() << from << " was copied";
    } catch (const jov::IoError& error) {
      EXPECT_EQ(error.reason().rfind("n\xe3o foi poss\xedvel ", 0), 0u) << error.reason();
    }
    EXPECT_EQ(TempDir::Read(old_file), "new") << from;
  }
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path() + "/prog")) ++entries;
  EXPECT_EQ(entries, 2u) << "no temporary is left beside the program files";

  // The server's stamp, whatever the clocks say, is the installed file's last-write time.
  const jov::DateTime ahead{2030, 6, 1, 12, 30, 15};
  files.ReplaceFile(dir.Write("work/JovTab.exe", "newer"), old_file, ahead);
  EXPECT_EQ(files.LastWriteTime(old_file), ahead);
}

// Fault: any name ending in ".tmp-" and six characters was taken for a temporary, so an
// operator's "notas.tmp-backup" was deleted at the next start.
TEST(RemoveUpdateTemporaries, TakesWhatAnUpdateCutShortLeftAndNothingElse) {
  TempDir dir;
  jov::FileSystemLinux files;
  for (const char* name :
       {"JovSinc.exe", ".JovSinc.exe.jov-tmp-AbC123", ".cdsFilialCaixa.cds.jov-tmp-x1Y2z3",
        "notas.tmp-backup", "JovSinc.exe.tmp-AbC123", ".jov-tmp-abcdef",
        "JovTab.exe.jov-tmp-abcdef", ".JovTab.exe.jov-tmp-1"}) {
    dir.Write(std::string("prog/") + name, "x");
  }
  for (const char* name : {".JovSinc.exe.jov-tmp-Q1w2E3", "keep.txt"}) {
    dir.Write(std::string("work/") + name, "x");
  }
  RemoveUpdateTemporaries(files, dir.path() + "/prog/", dir.path() + "/work/");
  const auto names = [](const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(folder)) out.push_back(entry.path().filename());
    std::sort(out.begin(), out.end());
    return out;
  };
  EXPECT_EQ(names(dir.path() + "/prog"),
            (std::vector<std::string>{".JovTab.exe.jov-tmp-1", ".jov-tmp-abcdef", "JovSinc.exe",
                                      "JovSinc.exe.tmp-AbC123", "JovTab.exe.jov-tmp-abcdef",
                                      "notas.tmp-backup"}));
  EXPECT_EQ(names(dir.path() + "/work"), std::vector<std::string>{"keep.txt"});
}

}  // namespace
}  // namespace Cli_jov00000
