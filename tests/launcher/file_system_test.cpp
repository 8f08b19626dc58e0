// One behavioural suite for the file system seam, run against the fake and the real one.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/errors.h"
#include "platform/file_system_linux.h"
#include "tests/fakes/fake_platform.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

struct RealFiles {
  TempDir dir;
  FileSystemLinux files;
  std::string Root() const { return dir.path(); }
  FileSystem& fs() { return files; }
};

struct FakeFiles {
  CallLog log;
  FakeFileSystem files{log};
  FakeFiles() { files.directories.insert("/root-of-test"); }
  std::string Root() const { return "/root-of-test"; }
  FileSystem& fs() { return files; }
};

template <typename T>
class FileSystemContract : public ::testing::Test {
 protected:
  T env;
  std::string Path(const std::string& relative) const { return env.Root() + "/" + relative; }
};

using Implementations = ::testing::Types<RealFiles, FakeFiles>;
TYPED_TEST_SUITE(FileSystemContract, Implementations);

TYPED_TEST(FileSystemContract, AppendCreatesThenAppends) {
  FileSystem& fs = this->env.fs();
  const std::string file = this->Path("a.txt");
  EXPECT_FALSE(fs.FileExists(file));
  fs.AppendToFile(file, "um\r\n");
  fs.AppendToFile(file, "dois\r\n");
  EXPECT_TRUE(fs.FileExists(file));
  EXPECT_FALSE(fs.DirectoryExists(file));
  EXPECT_TRUE(fs.LastWriteTime(file).has_value());
  EXPECT_FALSE(fs.LastWriteTime(this->Path("none")).has_value());
}

TYPED_TEST(FileSystemContract, AppendIntoAMissingFolderRaises) {
  EXPECT_THROW(this->env.fs().AppendToFile(this->Path("no/such/a.txt"), "x"), IoError);
}

TYPED_TEST(FileSystemContract, ForceDirectoriesCreatesEveryMissingParent) {
  FileSystem& fs = this->env.fs();
  EXPECT_TRUE(fs.ForceDirectories(this->Path("Dados/Jov_Bpl/")));
  EXPECT_TRUE(fs.DirectoryExists(this->Path("Dados")));
  EXPECT_TRUE(fs.DirectoryExists(this->Path("Dados/Jov_Bpl")));
  EXPECT_TRUE(fs.ForceDirectories(this->Path("Dados/Jov_Bpl")));  // already there
}

TYPED_TEST(FileSystemContract, ListingGivesFilesAndFoldersButNotDots) {
  FileSystem& fs = this->env.fs();
  fs.ForceDirectories(this->Path("d/sub"));
  fs.AppendToFile(this->Path("d/x.exe"), "1");
  fs.AppendToFile(this->Path("d/Y.DLL"), "2");
  auto entries = fs.ListDirectory(this->Path("d"));
  std::sort(entries.begin(), entries.end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "Y.DLL");
  EXPECT_FALSE(entries[0].is_directory);
  EXPECT_EQ(entries[1].name, "sub");
  EXPECT_TRUE(entries[1].is_directory);
  EXPECT_EQ(entries[2].name, "x.exe");
  EXPECT_TRUE(fs.ListDirectory(this->Path("missing")).empty());
}

TYPED_TEST(FileSystemContract, MoveReplacesTheTargetAndDeleteRemoves) {
  FileSystem& fs = this->env.fs();
  fs.AppendToFile(this->Path("new.exe"), "novo");
  fs.AppendToFile(this->Path("old.exe"), "velho");
  fs.MoveReplace(this->Path("new.exe"), this->Path("old.exe"));
  EXPECT_FALSE(fs.FileExists(this->Path("new.exe")));
  EXPECT_TRUE(fs.FileExists(this->Path("old.exe")));
  EXPECT_TRUE(fs.DeleteFile(this->Path("old.exe")));
  EXPECT_FALSE(fs.DeleteFile(this->Path("old.exe")));
  EXPECT_THROW(fs.MoveReplace(this->Path("gone.exe"), this->Path("x.exe")), IoError);
}

TEST(FileSystemLinuxOnly, MovingOntoAFolderFailsWithTheSystemText) {
  TempDir dir;
  FileSystemLinux fs;
  fs.AppendToFile(dir.path() + "/a.exe", "1");
  fs.ForceDirectories(dir.path() + "/b.exe");
  try {
    fs.MoveReplace(dir.path() + "/a.exe", dir.path() + "/b.exe");
    FAIL() << "expected the move to fail";
  } catch (const IoError& error) {
    EXPECT_EQ(error.context().detail, "Is a directory");
  }
  EXPECT_TRUE(fs.FileExists(dir.path() + "/a.exe"));
}

}  // namespace
}  // namespace jov::testing
