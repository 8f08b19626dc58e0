// The report, the health event and the release statement: what each writer writes its reader
// takes back unchanged, and each rule of a reader refuses with its reason.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "clientlib/update_report.h"
#include "platform/cp1252.h"
#include "protocol/file_names.h"
#include "protocol/health.h"
#include "protocol/release.h"
#include "protocol/report.h"
#include "protocol/signed_text.h"
#include "tests/support/temp_dir.h"

namespace jov::protocol {
namespace {

using nlohmann::ordered_json;

const std::string kHash(64, 'a');
const std::string kOther = std::string(32, '0') + std::string(32, 'f');

HealthEvent Crash() {
  return {"0001",    "002",
          "caixa02", "JovTab.exe",
          41,        "20261130000000",
          11,        std::nullopt,
          3.25,      "2026-12-09T07:59:00-03:00",
          {}};
}

Report FullReport() {
  HealthEvent exited = Crash();
  exited.version.reset();
  exited.signal.reset();
  exited.exit = 3;
  return {"0001",
          "002",
          "caixa-s\xc3\xa3o-paulo",
          "1.0.0",
          "2026-12-09T08:00:00.5-03:00",
          1.5,
          Outcome::kFailed,
          {"JovTab.exe", "JovBpl.exe"},
          ReportedFailure{"JovSinc.exe", "JovSinc.exe: a assinatura n\xc3\xa3o confere"},
          {{"JovTab.exe", "20261201000000", 1024, kHash, 42},
           {"JovBpl.exe", "20261201000000", 0, kOther, std::nullopt}},
          {Crash(), exited},
          {}};
}

Release FullRelease() {
  return {"JovTab.exe",
          42,
          8123456,
          kHash,
          1799452800,  // 2027-01-09T00:00:00Z
          ReleasedProgram{20123456, kOther},
          {{kOther, DeltaNameOf("JovTab.exe", kOther), 81234}}};
}

template <typename T>
void ExpectRoundTrip(const std::string& what, const T& value, std::string (*write)(const T&),
                     Parsed<T> (*read)(std::string_view)) {
  const std::string text = write(value);
  for (const char c : text) {
    ASSERT_TRUE(c >= 0x20 && c < 0x7f) << what << ": plain ASCII: " << text;
  }
  const Parsed<T> back = read(text);
  ASSERT_TRUE(back.ok()) << what << ": " << back.why << "\n" << text;
  EXPECT_TRUE(*back.value == value) << what << ": " << text;
}

// A field the writer writes under another name or form than the reader reads, or leaves out,
// comes back different.
TEST(Readers, WhatEachWriterWritesItsReaderTakesBack) {
  Report plain = FullReport();
  plain.outcome = Outcome::kNothing;
  plain.installed.clear();
  plain.failure.reset();
  plain.files.clear();
  plain.health.clear();
  Report at_bounds = FullReport();
  at_bounds.failure->reason = std::string(kMaxReasonBytes, 'r');
  at_bounds.host = std::string(kMaxHostBytes, 'h');
  at_bounds.launcher = std::string(kMaxLauncherBytes, 'l');
  HealthEvent exited = FullReport().health[1];
  HealthEvent signed_event = Crash();
  signed_event.signer = {std::string(44, 'K'), 7};
  Report signed_report = FullReport();
  signed_report.signer = {std::string(44, 'K'), 8};
  Release minimal = FullRelease();
  minimal.program.reset();
  minimal.deltas.clear();
  minimal.expires = 1835481599;  // 2028-02-29T23:59:59Z
  const std::vector<std::pair<std::string, std::function<void()>>> rows = {
      {"a full report", [] { ExpectRoundTrip("full", FullReport(), WriteReport, ReadReport); }},
      {"a report of nothing", [&] { ExpectRoundTrip("plain", plain, WriteReport, ReadReport); }},
      {"texts at their bounds",
       [&] { ExpectRoundTrip("bounds", at_bounds, WriteReport, ReadReport); }},
      {"a signal", [] { ExpectRoundTrip("signal", Crash(), WriteHealthEvent, ReadHealthEvent); }},
      {"an exit code", [&] { ExpectRoundTrip("exit", exited, WriteHealthEvent, ReadHealthEvent); }},
      {"a signed event",
       [&] { ExpectRoundTrip("signed", signed_event, WriteHealthEvent, ReadHealthEvent); }},
      {"a signed report",
       [&] { ExpectRoundTrip("signed", signed_report, WriteReport, ReadReport); }},
      {"a full release",
       [] { ExpectRoundTrip("release", FullRelease(), WriteRelease, ReadRelease); }},
      {"a bare release", [&] { ExpectRoundTrip("bare", minimal, WriteRelease, ReadRelease); }},
  };
  for (const auto& [what, check] : rows) {
    SCOPED_TRACE(what);
    check();
  }
  EXPECT_NE(WriteRelease(FullRelease()).find("\"expires\":\"2027-01-09T00:00:00Z\""),
            std::string::npos);
  EXPECT_EQ(WriteReport(plain).find("health"), std::string::npos) << "no events, no field";
}

// The register's own report: a reason the register cuts by characters grows in UTF-8 past what
// the server takes unless one bound rules both; its outcome is the word the server knows.
TEST(Readers, TheRegistersReportIsTakenWhateverItsTextsHold) {
  testing::TempDir dir;
  dir.Write("JovTab.exe", "programa");
  UpdateReport report;
  report.filial = "0001";
  report.caixa = "002";
  report.host = std::string(300, '\xe3');
  report.launcher = "1.0.0";
  report.started = IsoLocalNow();
  report.outcome = Outcome::kFailed;
  report.failure = {"JovSinc.exe", std::string(700, '\xe3') + "\r\n"};
  const std::string json = ReportJson(report, dir.path(), {"JovTab.exe", "JovSinc.exe"});
  const Parsed<Report> read = ReadReport(json);
  ASSERT_TRUE(read.ok()) << read.why << "\n" << json;
  EXPECT_EQ(read.value->outcome, Outcome::kFailed);
  EXPECT_EQ(read.value->failure->reason, cp1252::ToUtf8(std::string(kMaxReasonBytes / 2, '\xe3')));
  EXPECT_EQ(read.value->host.size(), kMaxHostBytes - 1) << "cut between two characters";
  ASSERT_EQ(read.value->files.size(), 1u);
  EXPECT_EQ(read.value->files[0].size, 8);
  EXPECT_EQ(read.value->files[0].version, std::nullopt);
}

enum class Reader { kReport, kHealth, kRelease };

ordered_json Base(Reader reader) {
  switch (reader) {
    case Reader::kReport:
      // As registers wrote it before versions and health events.
      return {{"filial", "0001"},
              {"caixa", "001"},
              {"host", "caixa01"},
              {"launcher", "1.0.0"},
              {"started", "2026-12-09T08:00:00-03:00"},
              {"seconds", 1.25},
              {"outcome", "nothing"},
              {"installed", ordered_json::array()},
              {"failure", {{"file", "JovTab.exe"}, {"reason", "falhou"}}},
              {"files",
               {{{"name", "JovTab.exe"},
                 {"stamp", "20261201000000"},
                 {"size", 1024},
                 {"sha256", std::string(64, 'A')}}}}};
    case Reader::kHealth:
      return ordered_json::parse(WriteHealthEvent(Crash()));
    case Reader::kRelease:
      return ordered_json::parse(WriteRelease(FullRelease()));
  }
  return {};
}

std::string Why(Reader reader, std::string_view text) {
  switch (reader) {
    case Reader::kReport:
      return ReadReport(text).ok() ? "" : ReadReport(text).why;
    case Reader::kHealth:
      return ReadHealthEvent(text).ok() ? "" : ReadHealthEvent(text).why;
    case Reader::kRelease:
      return ReadRelease(text).ok() ? "" : ReadRelease(text).why;
  }
  return {};
}

// Each rule a row: the field (a JSON pointer) set to a value, or taken out (kRemove), or, with
// no pointer, the whole text; the reason names what is wrong.
// What a register signed is the body the server verifies, byte for byte; a text whose last member
// is not a base64 signature is unsigned.
TEST(Readers, TheSignatureClosesTheTextAndComesOffWhole) {
  const std::string body = WriteHealthEvent(Crash());
  const std::string signature = std::string(86, 'S') + "==";
  const std::optional<SignedText> parts = SplitSignature(AppendSignature(body, signature) + "\r\n");
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->body, body);
  EXPECT_EQ(parts->signature, signature);
  const std::string open = body.substr(0, body.size() - 1);
  for (const std::string& text :
       {body, open + ",\"signature\":\"a b\"}", open + ",\"signature\":\"QQ==\",\"x\":1}",
        AppendSignature(body, std::string(kMaxSignatureBytes + 1, 'A'))}) {
    EXPECT_FALSE(SplitSignature(text)) << text;
  }
}

TEST(Readers, EachRuleRefusesWithItsReason) {
  const ordered_json kRemove = ordered_json::binary({});
  const auto report = Reader::kReport;
  const auto health = Reader::kHealth;
  const auto release = Reader::kRelease;
  const std::string padded = Base(report).dump() + std::string(kMaxReportBytes, ' ');
  ordered_json deep = 1;
  for (int i = 0; i < 8; ++i) deep = ordered_json::array({deep});
  ordered_json many = ordered_json::array();
  for (std::size_t i = 0; i <= kMaxReportFiles; ++i) many.push_back("JovTab.exe");
  ordered_json deltas = ordered_json::array();
  for (std::size_t i = 0; i <= kMaxReleaseDeltas; ++i) deltas.push_back(Base(release)["deltas"][0]);
  struct Row {
    Reader reader;
    std::string pointer;
    ordered_json value;
    std::string why;
  } rows[] = {
      {report, "", "filial=0001", "not JSON"},
      {report, "", "[1, 2]", "not a JSON object"},
      {report, "", padded, "larger than 64 KiB"},
      {report, "/extra", deep, "not JSON"},
      {report, "/caixa", kRemove, "no \"caixa\""},
      {report, "/filial", "00/1", "\"filial\" or \"caixa\""},
      {report, "/caixa", std::string(33, '1'), "\"filial\" or \"caixa\""},
      {report, "/host", std::string(kMaxHostBytes + 1, 'h'), "\"host\" or \"launcher\""},
      {report, "/launcher", std::string(kMaxLauncherBytes + 1, 'l'), "\"host\" or \"launcher\""},
      {report, "/started", "2026-12-09T08:00:00", "ISO 8601"},
      {report, "/started", "2026-12-09 08:00:00Z", "ISO 8601"},
      {report, "/seconds", -1, "\"seconds\""},
      {report, "/seconds", "1", "\"seconds\""},
      {report, "/outcome", "maybe", "\"outcome\""},
      {report, "/installed", many, "\"installed\""},
      {report, "/installed", {""}, "\"installed\""},
      {report, "/failure/reason", kRemove, "\"failure\""},
      {report, "/failure/reason", std::string(kMaxReasonBytes + 1, 'r'), "\"failure\""},
      {report, "/files/0/sha256", "abc", "entry of \"files\""},
      {report, "/files/0/size", -1, "entry of \"files\""},
      {report, "/files/0/version", 0, "\"version\""},
      {report, "/health", "none", "bad \"health\""},
      {report, "/health", ordered_json::array({Base(health).dump()}), "not a JSON object"},
      {report, "/key", std::string(44, 'K'), "\"key\" or \"counter\""},
      {report, "/counter", 1, "\"key\" or \"counter\""},
      {health, "/key", "", "\"key\" or \"counter\""},
      {health, "", std::string(kMaxHealthBytes + 1, ' '), "larger than 16 KiB"},
      {health, "/at", kRemove, "no \"at\""},
      {health, "/at", "ontem", "\"at\""},
      {health, "/name", "../JovTab.exe", "\"name\""},
      {health, "/version", -1, "\"version\""},
      {health, "/exit", 1, "one of them, not both"},
      {health, "/signal", nullptr, "one of them, not both"},
      {health, "/signal", kMaxSignal + 1, "one of them, not both"},
      {health, "/stamp", std::string(kMaxStampBytes + 1, '1'), "\"stamp\""},
      {release, "", std::string(kMaxReleaseBytes + 1, ' '), "mais de 64 KiB"},
      {release, "", "{\"file\": ", "não é JSON"_w},
      {release, "", "[]", "não é um objeto"_w},
      {release, "/extra", ordered_json::array({ordered_json::array({deep})}), "não é JSON"_w},
      {release, "/file", "a/JovTab.exe", "nome de arquivo"},
      {release, "/version", 0, "versão"_w},
      {release, "/version", 1.5, "versão"_w},
      {release, "/version", "42", "versão"_w},
      {release, "/size", -1, "tamanho"},
      {release, "/sha256", std::string(64, 'A'), "sha256"},
      {release, "/sha256", std::string(63, 'a'), "sha256"},
      {release, "/expires", "2027-01-09T00:00:00", "validade"},
      {release, "/expires", "2027-02-29T00:00:00Z", "validade"},
      {release, "/expires", "2027-01-09T00:00:00+00:00", "validade"},
      {release, "/program/sha256", kRemove, "programa"},
      {release, "/deltas", "none", "diferenças"_w},
      {release, "/deltas", deltas, "diferenças"_w},
      {release, "/deltas/0/from", std::string(64, 'g'), "origem"},
      {release, "/deltas/0/file", "JovTab.exe.zst", ".zst"},
      {release, "/deltas/0/file", DeltaNameOf("JovBpl.exe", kOther), ".zst"},
  };
  for (const Reader reader : {report, health, release}) {
    EXPECT_EQ(Why(reader, Base(reader).dump()), "") << "the rows' base is taken";
  }
  for (const Row& row : rows) {
    std::string text;
    if (row.pointer.empty()) {
      text = row.value.get<std::string>();
    } else {
      ordered_json doc = Base(row.reader);
      const ordered_json::json_pointer pointer(row.pointer);
      if (row.value.is_binary()) {
        doc[pointer.parent_pointer()].erase(pointer.back());
      } else {
        doc[pointer] = row.value;
      }
      text = doc.dump();
    }
    const std::string why = Why(row.reader, text);
    EXPECT_NE(why.find(row.why), std::string::npos)
        << row.pointer << " -> " << text.substr(0, 200) << "\nwhy: " << why;
  }
}

}  // namespace
}  // namespace jov::protocol
