// Replacing a file whole on a real disk: the content and mode arrive, a failure leaves the old
// file and no temporary behind, and the replacement is a new file, never a rewrite in place.
#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST(WriteFileAtomically, WritesNewAndReplacedFilesWithTheModeGiven) {
  TempDir dir;
  const std::string path = dir.path() + "/Mercato.cds";
  WriteFileAtomically(path, "primeiro", 0640);
  EXPECT_EQ(TempDir::Read(path), "primeiro");
  EXPECT_EQ(ModeOf(path), 0640u);

  // A reader holding the old file (here a second name of it) still sees the old bytes.
  ASSERT_EQ(::link(path.c_str(), (dir.path() + "/antigo").c_str()), 0);
  WriteFileAtomically(path, std::string("segundo\0bin\xFF", 12), 0600);
  EXPECT_EQ(TempDir::Read(path), std::string("segundo\0bin\xFF", 12));
  EXPECT_EQ(ModeOf(path), 0600u);
  EXPECT_EQ(TempDir::Read(dir.path() + "/antigo"), "primeiro");
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"Mercato.cds", "antigo"}));
}

TEST(WriteFileAtomically, AFailureNamesTheFileAndLeavesTheFolderAsItWas) {
  TempDir dir;
  dir.Write("pasta/dentro.txt", "x");
  dir.Write("arquivo.exe", "x");
  struct Case {
    std::string path;
    std::string name;
    std::string message_start;
  };
  const Case cases[] = {
      {dir.path() + "/nao/existe.cds", "", "Cannot write " + dir.path() + "/nao/existe.cds: "},
      {dir.path() + "/arquivo.exe/HKLM.reg", "registry hive x", "Cannot write registry hive x: "},
      {dir.path() + "/pasta", "", "Cannot replace " + dir.path() + "/pasta: "},
  };
  for (const Case& c : cases) {
    try {
      WriteFileAtomically(c.path, "novo", 0644, c.name);
      ADD_FAILURE() << c.path << " was written";
    } catch (const IoError& error) {
      EXPECT_TRUE(std::string(error.what()).starts_with(c.message_start)) << error.what();
    }
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"arquivo.exe", "pasta"})) << c.path;
  }
  EXPECT_EQ(TempDir::Read(dir.path() + "/arquivo.exe"), "x");
  EXPECT_EQ(Names(dir.path() + "/pasta"), std::vector<std::string>{"dentro.txt"});
}

TEST(ReplaceFileThrough, AFailingFillKeepsTheOldFileAndGoesOnToTheCaller) {
  TempDir dir;
  const std::string path = dir.Write("JovSinc.exe", "velho");
  EXPECT_THROW(ReplaceFileThrough(path, 0755,
                                  [](int fd) {
                                    ASSERT_EQ(::write(fd, "meio", 4), 4);
                                    throw std::runtime_error("origem sumiu");
                                  }),
               std::runtime_error);
  EXPECT_EQ(TempDir::Read(path), "velho");
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"JovSinc.exe"});
}

}  // namespace
}  // namespace jov::testing
