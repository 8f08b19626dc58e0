// The registry: one contract for the hive file and the fake, then the hive file's own promises
// (its text, what it accepts, and that nothing is ever lost).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "platform/cp1252.h"
#include "platform/errors.h"
#include "platform/registry_hive.h"
#include "tests/fakes/fake_platform.h"
#include "tests/server/server_support.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

const std::string kKey = "Software\\CALVORA\\Sistemas Integrados Calvora\\WebCli";

struct FakeRegistryHolder {
  CallLog log;
  FakeRegistry registry{log};
};

struct HiveHolder {
  TempDir dir;
  RegistryHive registry{dir.path() + "/HKLM.reg"};
};

template <typename Holder>
class RegistryContract : public ::testing::Test {
 protected:
  Holder holder;
  Registry& reg = holder.registry;
};

using Registries = ::testing::Types<FakeRegistryHolder, HiveHolder>;
TYPED_TEST_SUITE(RegistryContract, Registries);

TYPED_TEST(RegistryContract, AMissingKeyOpensOnlyWhenItMayBeCreated) {
  Registry& reg = this->reg;
  EXPECT_FALSE(reg.OpenKey(kKey, false));
  EXPECT_FALSE(reg.ValueExists(kKey, "HttpPort"));
  EXPECT_TRUE(reg.OpenKey(kKey, true));
  EXPECT_TRUE(reg.OpenKey(kKey, false));
  EXPECT_FALSE(reg.ValueExists(kKey, "HttpPort"));
}

TYPED_TEST(RegistryContract, ValuesKeepTheirTypeAndTheOtherTypeCannotBeRead) {
  Registry& reg = this->reg;
  ASSERT_TRUE(reg.OpenKey(kKey, true));
  reg.WriteString(kKey, "HttpPort", "8080");
  reg.WriteInteger(kKey, "HttpUseProxy", 1);
  EXPECT_EQ(reg.ReadString(kKey, "HttpPort"), "8080");
  EXPECT_EQ(reg.ReadInteger(kKey, "HttpUseProxy"), 1);
  EXPECT_THROW(reg.ReadInteger(kKey, "HttpPort"), Error);
  EXPECT_THROW(reg.ReadString(kKey, "HttpUseProxy"), Error);
  EXPECT_THROW(reg.ReadString(kKey, "Missing"), Error);
  reg.WriteInteger(kKey, "HttpPort", 8080);  // a write may change the type
  EXPECT_EQ(reg.ReadInteger(kKey, "HttpPort"), 8080);
}

TYPED_TEST(RegistryContract, KeysAndValueNamesIgnoreLetterCase) {
  Registry& reg = this->reg;
  ASSERT_TRUE(reg.OpenKey(kKey, true));
  reg.WriteString(kKey, "HttpHostAddr", "srv01");
  const std::string other_case = "SOFTWARE\\calvora\\Sistemas Integrados Calvora\\WEBCLI";
  EXPECT_TRUE(reg.OpenKey(other_case, false));
  EXPECT_TRUE(reg.ValueExists(other_case, "httphostaddr"));
  reg.WriteString(other_case, "HTTPHOSTADDR", "SRV01");
  EXPECT_EQ(reg.ReadString(kKey, "HttpHostAddr"), "SRV01") << "one value, not two";
}

TYPED_TEST(RegistryContract, WritingIntoAKeyThatWasNeverCreatedFails) {
  EXPECT_THROW(this->reg.WriteString(kKey, "HttpPort", "1"), Error);
  EXPECT_THROW(this->reg.WriteInteger(kKey, "HttpHttps", 1), Error);
  EXPECT_FALSE(this->reg.OpenKey(kKey, false));
}

TYPED_TEST(RegistryContract, DeletingTellsWhetherTheValueExisted) {
  Registry& reg = this->reg;
  ASSERT_TRUE(reg.OpenKey(kKey, true));
  reg.WriteString(kKey, "HttpPort", "8080");
  reg.WriteString(kKey, "HttpHostAddr", "srv01");
  EXPECT_TRUE(reg.DeleteValue(kKey, "HTTPPORT"));
  EXPECT_FALSE(reg.DeleteValue(kKey, "HttpPort"));
  EXPECT_FALSE(reg.ValueExists(kKey, "HttpPort"));
  EXPECT_EQ(reg.ReadString(kKey, "HttpHostAddr"), "srv01");
}

TYPED_TEST(RegistryContract, TextsAndIntegersComeBackAsTheyWereWritten) {
  Registry& reg = this->reg;
  ASSERT_TRUE(reg.OpenKey(kKey, true));
  const std::string text = "C:\\Program Files\\\"Calvora\" Ação € \\\\"_w;
  reg.WriteString(kKey, "Texto \"com\" aspas\\", text);
  reg.WriteString(kKey, "Vazio", "");
  EXPECT_EQ(reg.ReadString(kKey, "Texto \"com\" aspas\\"), text);
  EXPECT_EQ(reg.ReadString(kKey, "Vazio"), "");
  for (std::int32_t n : {INT32_MIN, -1, 0, 1, INT32_MAX}) {
    reg.WriteInteger(kKey, "Numero", n);
    EXPECT_EQ(reg.ReadInteger(kKey, "Numero"), n);
  }
}

class RegistryHiveFile : public ::testing::Test {
 protected:
  struct stat Stat() const {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st;
  }

  TempDir dir;
  std::string path = dir.path() + "/HKLM.reg";
  RegistryHive hive{path, 300};
};

TEST_F(RegistryHiveFile, WritesTheRegedit4Text) {
  ASSERT_TRUE(hive.OpenKey(kKey, true));
  hive.WriteString(kKey, "HttpHostAddr", "srv01");
  hive.WriteString(kKey, "HttpPort", "8080");
  hive.WriteInteger(kKey, "HttpUseProxy", 0);
  hive.WriteInteger(kKey, "HttpHttps", -2);
  hive.WriteString(kKey, "HttpProxyUserId", "dom\\\"jo\xE3o\"");
  EXPECT_EQ(TempDir::Read(path),
            "REGEDIT4\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\CALVORA\\Sistemas Integrados Calvora\\WebCli]\r\n"
            "\"HttpHostAddr\"=\"srv01\"\r\n"
            "\"HttpPort\"=\"8080\"\r\n"
            "\"HttpUseProxy\"=dword:00000000\r\n"
            "\"HttpHttps\"=dword:fffffffe\r\n"
            "\"HttpProxyUserId\"=\"dom\\\\\\\"jo\xE3o\\\"\"\r\n");
  EXPECT_EQ(Stat().st_mode & 0777, 0644u);
}

TEST_F(RegistryHiveFile, ReadsWhatOtherProgramsWroteAndKeepsIt) {
  dir.Write("HKLM.reg",
            "REGEDIT4\n\n; written by hand\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Outro]\n"
            "@=\"padrao\"\n"
            "\"Binario\"=hex:01,02,\\\n  03,ff\n"
            "\"Expandir\"=hex(2):41,00,00,00\n"
            "[hkey_local_machine\\software\\calvora\\sistemas integrados calvora\\webcli]\n"
            "  \"HttpPort\"=\"80\"  \n"
            "\"HttpUseProxy\"=dword:1\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Outro]\n"
            "\"Depois\"=\"x\"\n");
  EXPECT_EQ(hive.ReadString(kKey, "HttpPort"), "80");
  EXPECT_EQ(hive.ReadInteger(kKey, "HttpUseProxy"), 1);
  EXPECT_EQ(hive.ReadString("Software\\Outro", ""), "padrao");
  EXPECT_THROW(hive.ReadString("Software\\Outro", "Binario"), Error);
  hive.WriteString(kKey, "HttpPort", "8080");
  const std::string text = TempDir::Read(path);
  EXPECT_NE(text.find("\"Binario\"=hex:01,02,03,ff\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Expandir\"=hex(2):41,00,00,00\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("@=\"padrao\"\r\n\"Binario\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"Depois\"=\"x\""), std::string::npos) << "sections of one key merge";
  EXPECT_EQ(hive.ReadString("Software\\Outro", "Depois"), "x");
  EXPECT_EQ(hive::Parse(text, path).keys.size(), 2u);
}

TEST_F(RegistryHiveFile, ACorruptHiveRaisesAndIsNeverOverwritten) {
  const std::vector<std::string> corrupt = {
      "REGEDIT5\r\n",
      "Windows Registry Editor Version 5.00\r\n",
      "REGEDIT4\r\n\"SemChave\"=\"x\"\r\n",
      "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software]\r\n",
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\r\n",
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"Aberto=\"x\"\r\n",
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"A\"=\"sem fim\r\n",
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"A\"=dword:123456789\r\n",
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"A\"=dword:xyz\r\n",
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"A\"=-\r\n",
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"A\"=hex:01,\\\r\n",
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"A\"=\"a\\nb\"\r\n",
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"A\r\"=\"x\"\r\n",
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"A\"=\"a" + std::string(1, '\0') + "b\"\r\n",
  };
  for (const std::string& text : corrupt) {
    dir.Write("HKLM.reg", text);
    const std::string message = MessageOf([&] { hive.ReadString("Software", "A"); });
    EXPECT_NE(message.find("Registry hive " + path + " is corrupt: line "), std::string::npos)
        << message;
    EXPECT_FALSE(hive.OpenKey(kKey, true));
    EXPECT_THROW(hive.WriteString("Software", "A", "novo"), Error);
    EXPECT_THROW(hive.DeleteValue("Software", "A"), Error);
    EXPECT_EQ(TempDir::Read(path), text) << "the hive was rewritten";
  }
}

TEST_F(RegistryHiveFile, AReadOnlyHiveIsNotWritten) {
  ASSERT_TRUE(hive.OpenKey(kKey, true));
  hive.WriteString(kKey, "HttpPort", "80");
  const std::string before = TempDir::Read(path);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  EXPECT_NE(MessageOf([&] { hive.WriteString(kKey, "HttpPort", "8080"); }).find("read-only"),
            std::string::npos);
  EXPECT_FALSE(hive.OpenKey("Software\\Novo", true));
  EXPECT_FALSE(hive.OpenKey(kKey, true)) << "an existing key opens for writing only";
  EXPECT_FALSE(hive.OpenKey(kKey, false));
  EXPECT_NE(MessageOf([&] { hive.WriteString(kKey, "HttpPort", "80"); }).find("read-only"),
            std::string::npos)
      << "even a write that would change nothing";
  EXPECT_EQ(hive.ReadString(kKey, "HttpPort"), "80");
  EXPECT_EQ(TempDir::Read(path), before);
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  EXPECT_TRUE(hive.OpenKey(kKey, false));
}

// A server's value too large for the hive's own reader once made the hive unreadable to
// every program of the register, at every later start.
TEST_F(RegistryHiveFile, AWriteThatWouldTakeTheHivePastItsReadersLimitIsRefused) {
  ASSERT_TRUE(hive.OpenKey(kKey, true));
  hive.WriteString(kKey, "HttpPort", "80");
  const std::string before = TempDir::Read(path);
  const std::string reason =
      ErrorOf([&] { hive.WriteString(kKey, "HttpHostAddr", std::string(17 << 20, 'h')); }).reason();
  EXPECT_NE(reason.find("o valor n\xe3o foi gravado"), std::string::npos) << reason;
  EXPECT_EQ(TempDir::Read(path), before);
  RegistryHive reader(path, 300);
  EXPECT_EQ(reader.ReadString(kKey, "HttpPort"), "80") << "the hive is still readable";
  EXPECT_FALSE(reader.ValueExists(kKey, "HttpHostAddr"));
}

TEST_F(RegistryHiveFile, AHiveInAFolderThatIsNotAFolderCannotBeOpened) {
  dir.Write("arquivo", "");
  RegistryHive nowhere(dir.path() + "/arquivo/HKLM.reg", 300);
  EXPECT_FALSE(nowhere.OpenKey(kKey, true));
  EXPECT_THROW(nowhere.WriteString(kKey, "HttpPort", "80"), Error);
}

// Fault: writers locked the hive itself, so any user who could read it could flock it and make
// every write fail.
TEST_F(RegistryHiveFile, OnlyAnotherWriterHoldsAWriteUpAndItLosesNothing) {
  ASSERT_TRUE(hive.OpenKey(kKey, true));
  hive.WriteString(kKey, "HttpPort", "80");
  struct stat lock {};
  ASSERT_EQ(::stat((path + ".lock").c_str(), &lock), 0);
  EXPECT_EQ(lock.st_mode & 0777, 0600u) << "only those who may write the hive may lock it";
  struct Case {
    const char* what;
    std::string locked;
    int flags;
    bool holds_up;
  } cases[] = {
      {"a reader locking the hive", path, O_RDONLY, false},
      {"another writer", path + ".lock", O_RDWR, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    hive.WriteString(kKey, "HttpPort", "80");
    const int other = ::open(c.locked.c_str(), c.flags);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    const auto start = std::chrono::steady_clock::now();
    if (c.holds_up) {
      EXPECT_NE(MessageOf([&] { hive.WriteString(kKey, "HttpPort", "8080"); }).find("locked"),
                std::string::npos);
      EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
      EXPECT_EQ(hive.ReadString(kKey, "HttpPort"), "80") << "readers are not held up by the lock";
      EXPECT_FALSE(hive.OpenKey(kKey, false)) << "the key does not open for writing while locked";
    } else {
      EXPECT_NO_THROW(hive.WriteString(kKey, "HttpPort", "8080"));
      EXPECT_TRUE(hive.OpenKey(kKey, false));
    }
    ::close(other);
    hive.WriteString(kKey, "HttpPort", "8081");
    EXPECT_EQ(hive.ReadString(kKey, "HttpPort"), "8081");
  }
}

TEST_F(RegistryHiveFile, WritesThatChangeNothingLeaveTheFileAlone) {
  ASSERT_TRUE(hive.OpenKey(kKey, true));
  hive.WriteString(kKey, "HttpPort", "8080");
  hive.WriteInteger(kKey, "HttpHttps", 0);
  const struct stat before = Stat();
  EXPECT_TRUE(hive.OpenKey(kKey, true));
  hive.WriteString(kKey, "HTTPPORT", "8080");
  hive.WriteInteger(kKey, "HttpHttps", 0);
  EXPECT_FALSE(hive.DeleteValue(kKey, "Missing"));
  const struct stat after = Stat();
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST_F(RegistryHiveFile, TextsTheFormatCannotHoldAreRefused) {
  ASSERT_TRUE(hive.OpenKey(kKey, true));
  const std::string before = TempDir::Read(path);
  EXPECT_THROW(hive.WriteString(kKey, "HttpHostAddr", "srv\r\n[HKEY_LOCAL_MACHINE\\X]"), Error);
  EXPECT_THROW(hive.WriteString(kKey, "Nome\nquebrado", "x"), Error);
  EXPECT_FALSE(hive.OpenKey("Software\\\\Vazio", true));
  EXPECT_EQ(TempDir::Read(path), before);
}

TEST_F(RegistryHiveFile, TheHivesFolderIsCreatedOnTheFirstWrite) {
  RegistryHive nested(dir.path() + "/var/lib/jov/HKLM.reg");
  EXPECT_TRUE(nested.OpenKey(kKey, true));
  nested.WriteInteger(kKey, "HttpHttps", 1);
  EXPECT_EQ(RegistryHive(dir.path() + "/var/lib/jov/HKLM.reg").ReadInteger(kKey, "HttpHttps"), 1);
}

TEST_F(RegistryHiveFile, TwoProcessesWritingAtOnceLoseNothing) {
  // What a write cut short by a power cut left goes with the next write; an operator's file stays.
  dir.Write(".HKLM.reg.jov-tmp-AbC123", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Sof");
  dir.Write("HKLM.reg.tmp-backup", "x");
  ASSERT_TRUE(hive.OpenKey(kKey, true));
  constexpr int kWrites = 500;
  std::vector<pid_t> writers;
  for (int writer = 0; writer < 2; ++writer) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int code = 0;
      try {
        RegistryHive mine(path, 20000);
        for (int i = 0; i < kWrites; ++i) {
          mine.WriteInteger(kKey, "P" + std::to_string(writer) + "_" + std::to_string(i), i);
        }
      } catch (...) {
        code = 1;
      }
      ::_exit(code);
    }
    writers.push_back(pid);
  }
  for (const pid_t pid : writers) {
    int status = -1;
    const bool ended = WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 120s);
    if (!ended) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const hive::Hive h = hive::Parse(TempDir::Read(path), path);
  ASSERT_EQ(h.keys.size(), 1u);
  EXPECT_EQ(h.keys[0].values.size(), 2u * kWrites);
  for (int writer = 0; writer < 2; ++writer) {
    for (int i = 0; i < kWrites; ++i) {
      const std::string name = "P" + std::to_string(writer) + "_" + std::to_string(i);
      ASSERT_EQ(hive.ReadInteger(kKey, name), i) << name;
    }
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename();
    EXPECT_TRUE(name == "HKLM.reg" || name == "HKLM.reg.lock" || name == "HKLM.reg.tmp-backup")
        << "left behind: " << name;
  }
}

// A large hive keeps what a small one does: sections of one key merge in the order keys first
// appear, and a value named again (in any letter case) takes the later data and spelling in
// its first place.
TEST(RegistryHiveParse, ALargeHiveMergesKeysAndValuesAsASmallOneDoes) {
  constexpr int kKeys = 20000;
  constexpr int kValues = 50000;
  std::string text = "REGEDIT4\r\n";
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < kKeys; ++i) {
      text += pass == 0 ? "[HKEY_LOCAL_MACHINE\\Software\\K" : "[hkey_local_machine\\SOFTWARE\\k";
      text += std::to_string(i) + "]\r\n";
      text += pass == 0 ? "\"A\"=\"first\"\r\n" : "\"a\"=dword:" + std::to_string(i % 10) + "\r\n";
      if (pass == 1) text += "\"B\"=\"" + std::to_string(i) + "\"\r\n";
    }
    text += "[HKEY_LOCAL_MACHINE\\Software\\Wide]\r\n";
    for (int i = 0; i < kValues; ++i) {
      text += (pass == 0 ? "\"Valor" : "\"VALOR") + std::to_string(i) + "\"=\"" +
              std::to_string(pass * kValues + i) + "\"\r\n";
    }
  }

  const hive::Hive h = hive::Parse(text, "large.reg");
  ASSERT_EQ(h.keys.size(), static_cast<std::size_t>(kKeys + 1));
  for (int i = 0; i < kKeys; ++i) {
    const hive::Key& key = h.keys[static_cast<std::size_t>(i)];
    ASSERT_EQ(key.path, "Software\\K" + std::to_string(i));
    ASSERT_EQ(key.values.size(), 2u) << key.path;
    EXPECT_EQ(key.values[0].name, "a");
    EXPECT_EQ(key.values[0].kind, hive::Kind::kDword);
    EXPECT_EQ(key.values[0].number, static_cast<std::uint32_t>(i % 10));
    EXPECT_EQ(key.values[1].name, "B");
    EXPECT_EQ(key.values[1].text, std::to_string(i));
  }
  const hive::Key& wide = h.keys.back();
  EXPECT_EQ(wide.path, "Software\\Wide");
  ASSERT_EQ(wide.values.size(), static_cast<std::size_t>(kValues));
  for (int i = 0; i < kValues; ++i) {
    const hive::Value& value = wide.values[static_cast<std::size_t>(i)];
    ASSERT_EQ(value.name, "VALOR" + std::to_string(i));
    ASSERT_EQ(value.text, std::to_string(kValues + i));
  }
  EXPECT_EQ(hive::Parse(hive::Serialize(h), "large.reg").keys.size(), h.keys.size());
}

}  // namespace
}  // namespace jov::testing
