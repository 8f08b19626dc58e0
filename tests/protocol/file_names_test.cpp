// The names of what the server serves, ruled once for both sides.
#include "protocol/file_names.h"

#include <gtest/gtest.h>

namespace jov::protocol {
namespace {

// A companion confused for an archive, or an unsafe name served, lets a register fetch or a
// server hand out something else than the archive asked for.
TEST(FileNames, EachServedNameIsOfOneKindAndUnsafeNamesOfNone) {
  const std::string hash(64, 'a');
  const std::string archive = "JovTab.exe.zip";
  const std::pair<std::string, Served> cases[] = {
      {archive, Served::kArchive},
      {"JOVTAB.EXE.ZIP", Served::kArchive},
      {SignatureNameOf(archive), Served::kSignature},
      {"JovTab.exe.ZIP.SIG", Served::kSignature},
      {ReleaseNameOf(archive), Served::kRelease},
      {ReleaseSignatureNameOf(archive), Served::kReleaseSignature},
      {DeltaNameOf("JovTab.exe", hash), Served::kDelta},
      {"JovTab.exe.aaaaaaaaaaaaaaa.zst", Served::kNone},   // 15 hex digits
      {"JovTab.exe.aaaaaaaaaaaaaaag.zst", Served::kNone},  // not hex
      {".zip", Served::kNone},
      {".zip.sig", Served::kNone},
      {"JovTab.exe.sig", Served::kNone},
      {"JovTab.exe.release", Served::kNone},
      {"JovTab.exe", Served::kNone},
      {"../JovTab.exe.zip", Served::kNone},
      {"dir/JovTab.exe.zip", Served::kNone},
      {"dir\\JovTab.exe.zip", Served::kNone},
      {std::string("Jov\0Tab.exe.zip", 15), Served::kNone},
      {"Jov\x1bTab.exe.zip", Served::kNone},
      {std::string(kMaxNameBytes - 4, 'j') + ".zip", Served::kArchive},
      {std::string(kMaxNameBytes - 3, 'j') + ".zip", Served::kNone},
  };
  for (const auto& [name, kind] : cases) {
    EXPECT_EQ(ServedKindOf(name), kind) << name;
  }
}

// A local name that leaves the program folder, or comes from a name longer than a folder
// holds, is no local file name.
TEST(FileNames, TheLocalFileNameIsWhatComesBeforeTheFirstZipWhenSafe) {
  const std::pair<std::string, std::string> cases[] = {
      {"JovTab.exe.zip", "JovTab.exe"},
      {"JovTab.exe.ZIP.sig", "JovTab.exe"},
      {"JovTab.zip.exe.zip", "JovTab"},
      {"JovTab.exe", ""},
      {".zip", ""},
      {"../x.zip", ""},
      {"a/b.zip", ""},
      {"x\r.zip", ""},
      {std::string(kMaxNameBytes - 4, 'j') + ".zip", std::string(kMaxNameBytes - 4, 'j')},
      {"JovTab.exe.zip" + std::string(kMaxNameBytes, 'x'), ""},
  };
  for (const auto& [server, local] : cases) {
    EXPECT_EQ(LocalFileNameOf(server), local) << server;
  }
}

}  // namespace
}  // namespace jov::protocol
