// System texts under a translated locale: whatever the locale's character set, the texts that
// reach logs and messages are Windows-1252 bytes of the translated message.
#include "platform/system_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "platform/dataset_files_xml.h"
#include "platform/errors.h"
#include "platform/file_system_linux.h"
#include "platform/registry_hive.h"
#include "tests/support/scoped_locale.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

// glibc's Portuguese texts, in Windows-1252.
const std::string kNoSuchFile = "Arquivo ou diret\xF3rio inexistente";
const std::string kIsADirectory = "\xC9 um diret\xF3rio";
const std::string kNotADirectory = "N\xE3o \xE9 um diret\xF3rio";

#define REQUIRE_LOCALE(locale)                                                          \
  if (!(locale).ok()) {                                                                 \
    GTEST_SKIP() << "the pt_BR.UTF-8 locale is not installed (scripts/install-deps.sh " \
                    "generates it)";                                                    \
  }

TEST(SystemText, ErrnoTextsOfATranslatedUtf8LocaleComeInWindows1252) {
  ScopedLocale locale("pt_BR.UTF-8");
  REQUIRE_LOCALE(locale);
  EXPECT_EQ(SystemErrorText(ENOENT), kNoSuchFile);
  EXPECT_EQ(SystemErrorText(EISDIR), kIsADirectory);
}

TEST(SystemText, LocaleTextsConvertByTheLocalesCharacterSet) {
  struct Case {
    const char* locale;
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"pt_BR.UTF-8", "a\xC3\xA7\xC3\xA3o \xE2\x82\xAC", "a\xE7\xE3o \x80"},
      {"pt_BR.UTF-8",
       "\xC4\x80 fora do c\xC3\xB3"
       "digo",
       "? fora do c\xF3"
       "digo"},
      {"pt_BR.UTF-8", "cortado \xC3", "cortado ?"},
      {"pt_BR.UTF-8", "solto \xA0\xFF.", "solto ??."},
      {"C", "ascii", "ascii"},
      {"C", "n\xC3\xA3o", "n??o"},
  };
  for (const Case& c : cases) {
    ScopedLocale locale(c.locale);
    REQUIRE_LOCALE(locale);
    EXPECT_EQ(LocaleTextToCp1252(c.text), c.expected) << c.locale << ": " << c.text;
  }
}

// Each reader and writer of the register's files names the system's cause in Windows-1252.
TEST(SystemText, FailuresOfTheRegistersFilesCarryTheTranslatedText) {
  ScopedLocale locale("pt_BR.UTF-8");
  REQUIRE_LOCALE(locale);
  TempDir dir;
  const std::string missing = dir.path() + "/nao/existe";
  dir.Write("pasta/dentro.txt", "x");
  dir.Write("arquivo.exe", "x");
  struct Case {
    const char* what;
    std::function<void()> fail;
    std::string cause;
  };
  FileSystemLinux files;
  DatasetFilesXml datasets;
  RegistryHive hive(dir.path() + "/arquivo.exe/HKLM.reg");
  const Case cases[] = {
      {"move over a folder",
       [&] { files.MoveReplace(dir.path() + "/arquivo.exe", dir.path() + "/pasta"); },
       kIsADirectory},
      {"append", [&] { files.AppendToFile(missing + "/log.txt", "x"); }, kNoSuchFile},
      {"dataset load", [&] { datasets.Load(missing + ".cds"); }, kNoSuchFile},
      {"dataset save", [&] { datasets.Save(missing + "/a.cds", Dataset{}); }, kNoSuchFile},
      {"hive write", [&] { hive.WriteString("Software\\Jov", "Nome", "x"); }, kNotADirectory},
  };
  for (const Case& c : cases) {
    try {
      c.fail();
      ADD_FAILURE() << c.what << " did not fail";
    } catch (const Error& error) {
      const std::string message = error.what();
      EXPECT_TRUE(message.ends_with(c.cause)) << c.what << ": " << message;
    }
  }
}

}  // namespace
}  // namespace jov::testing
