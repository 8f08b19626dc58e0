// The version reply: the server's bytes, the register's positional reading of them, and the
// bounds that must leave a well-formed reply's reading as it was.
#include "protocol/version_reply.h"

#include <gtest/gtest.h>

#include "platform/errors.h"

namespace jov::protocol {
namespace {

TEST(VersionReply, SplitsAtTheFirstLineBreakAndTheFirstAmpersand) {
  const std::string long_source(kMaxSourceBytes + 1, 's');
  struct Case {
    std::string reply, source, list, flag;
  } cases[] = {
      {"X\r\nJovTab.exe.zip=20240131235959&0", "X", "JovTab.exe.zip=20240131235959", "0"},
      {"X\r\na=1\r\nb=2&1&2", "X", "a=1\r\nb=2", "1&2"},
      {"X\r\na=1&", "X", "a=1", "0"},
      // Without CR LF the first character is lost; without "&" all the rest is the flag.
      {"JovTab.exe.zip=1&0", "", "ovTab.exe.zip=1", "0"},
      {"X\r\nJovTab.exe.zip=1", "X", "", "JovTab.exe.zip=1"},
      // A field past its bound leaves the others where they were.
      {std::string(kMaxSourceBytes, 's') + "\r\na=1&1", std::string(kMaxSourceBytes, 's'), "a=1",
       "1"},
      {long_source + "\r\na=1&1", "", "a=1", "1"},
      {"X\r\na=1&" + std::string(100, '1'), "X", "a=1", std::string(kMaxFlagBytes, '1')},
  };
  for (const Case& c : cases) {
    const VersionReply split = SplitVersionReply(c.reply);
    EXPECT_EQ(split.source, c.source) << c.reply;
    EXPECT_EQ(split.list, c.list) << c.reply;
    EXPECT_EQ(split.flag, c.flag) << c.reply;
  }
}

// What the server writes is what the register reads, line by line, and an error reply's text
// comes back whole.
TEST(VersionReply, TheServersRepliesReadBackAsWritten) {
  const std::vector<VersionEntry> entries = {{"JovTab.exe.zip", "20240131235959"},
                                             {"JOVTAB.EXE.ZIP", "20240101000000"}};
  const std::string reply = WriteVersionReply("http://srv/files/", entries, true);
  EXPECT_EQ(reply,
            "http://srv/files/\r\nJovTab.exe.zip=20240131235959\r\n"
            "JOVTAB.EXE.ZIP=20240101000000\r\n&1");
  const VersionReply split = SplitVersionReply(reply);
  EXPECT_EQ(split.source, "http://srv/files/");
  EXPECT_EQ(split.flag, "1");
  const std::vector<std::string> lines = ListLines(split.list);
  ASSERT_EQ(lines.size(), entries.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(NameAndValue(lines[i]), std::pair(entries[i].name, entries[i].stamp));
  }
  EXPECT_EQ(SplitVersionReply(WriteVersionReply("s", {}, false)).flag, "0");

  const std::string error = WriteErrorReply("Nome de arquivo inválido: x");
  EXPECT_TRUE(IsErrorReply(error));
  EXPECT_EQ(ErrorReplyText(error), "Nome de arquivo inválido: x");
  EXPECT_EQ(ErrorReplyText(WriteErrorReply(std::string(5000, 'e'))).size(), kMaxErrorTextBytes);
}

TEST(VersionReply, ListLinesBreakAnywhereStopAtNulAndAtTheirBound) {
  EXPECT_EQ(ListLines("a\r\nb\rc\nd\r\n"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(ListLines(std::string("a\nb\0\nc", 6)), (std::vector<std::string>{"a", "b"}));
  std::string many;
  for (std::size_t i = 0; i < kMaxListLines + 10; ++i) many += "JovTab.exe.zip=1\r\n";
  EXPECT_EQ(ListLines(many).size(), kMaxListLines);
}

TEST(VersionReply, RefusesStampsThatNameNoTime) {
  EXPECT_EQ(EncodeStamp(DecodeStamp("20240229235959")), "20240229235959");
  EXPECT_EQ(EncodeStamp(DecodeStamp("20240131235959 and more")), "20240131235959");
  for (const char* stamp :
       {"2024013123595", "2024013123595x", "20240230120000", "20240131246000", "20230229000000"}) {
    EXPECT_THROW(DecodeStamp(stamp), jov::Error) << stamp;
  }
}

}  // namespace
}  // namespace jov::protocol
