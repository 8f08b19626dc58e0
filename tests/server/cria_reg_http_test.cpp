// The server's HTTP settings copied into the registry: the same behaviour on the fake
// registry and on the hive file, then what only the hive file shows, and the connections'
// handlers.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>

#include "Cli_jov00000/startup/update_log.h"
#include "platform/cp1252.h"
#include "platform/data_packet.h"
#include "platform/errors.h"
#include "platform/registry_hive.h"
#include "tests/server/launcher_support.h"
#include "tests/support/launcher_fixture.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

using Row = std::map<std::string, std::optional<std::string>>;

const std::string kKey = "Software\\CALVORA\\Sistemas Integrados Calvora\\WebCli";
const std::string kFailure = "Falha ao conectar com a Lum.dll: ";

const Row kServerRow = {{"HTTPHOSADDR", "srv-http.loja"},
                        {"HTTPPORT", "8080"},
                        {"IDUTHTTPPROXY", "1"},
                        {"HTTPPROXYHOST", "proxy.loja"},
                        {"HTTPPROXYPORT", "3128"},
                        {"HTTPPROXYUSERID", "caixa01"},
                        {"HTTPHTTPS", "0"}};

std::string Packet(const std::vector<Row>& rows, const std::vector<std::string>& left_out = {}) {
  Dataset data;
  const std::pair<const char*, const char*> fields[] = {
      {"HTTPHOSADDR", "string"},   {"HTTPPORT", "string"},      {"IDUTHTTPPROXY", "i4"},
      {"HTTPPROXYHOST", "string"}, {"HTTPPROXYPORT", "string"}, {"HTTPPROXYUSERID", "string"},
      {"HTTPHTTPS", "i4"}};
  for (const auto& [name, type] : fields) {
    if (std::find(left_out.begin(), left_out.end(), name) == left_out.end()) {
      data.fields.push_back({name, type, std::string(type) == "i4" ? 0 : 60});
    }
  }
  data.rows = rows;
  return WriteDataPacket(data);
}

Row With(Row row, const std::string& field, std::optional<std::string> value) {
  row[field] = std::move(value);
  return row;
}

struct OnFakeRegistry {
  explicit OnFakeRegistry(FakeServices& fake) : registry(fake.registry) {}
  // From now on the key opens no more and writes fail; reads still work.
  void MakeUnwritable() { registry.fail_open = true; }
  FakeRegistry& registry;
};

struct OnHiveFile {
  explicit OnHiveFile(FakeServices&) {}
  void MakeUnwritable() { ASSERT_EQ(::chmod((dir.path() + "/HKLM.reg").c_str(), 0444), 0); }
  TempDir dir;
  RegistryHive registry{dir.path() + "/HKLM.reg", 300};
};

template <typename Backing>
class CriaRegHttpTest : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    form = std::make_unique<Cli_jov00000::TfrmEscolheSistema>(services);
  }
  void TearDown() override {
    form.reset();
    LauncherTest::TearDown();
  }

  // One run against the reply; returns the log lines it wrote.
  std::vector<std::string> Run(const std::string& reply) {
    fake.server.replies["GetDadosHttp"] = {reply};
    ClearLog();
    counting.changed.clear();
    form->criaRegHTTP();
    EXPECT_FALSE(fake.server.open) << "the connection is left closed";
    // The failure line is followed by its reason, one printable line; it is kept aside.
    std::vector<std::string> lines = LogLines(LogText());
    reason.clear();
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (!lines[i].starts_with(kFailure)) continue;
      EXPECT_LT(i + 1, lines.size()) << "the failure line says why on the next";
      if (i + 1 >= lines.size()) break;
      reason = lines[i + 1];
      EXPECT_EQ(reason.rfind(" ----         : ", 0), 0u) << reason;
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    }
    return lines;
  }
  std::string reason;  // the reason line of the last run's failure

  // Stores the values a register had before, straight into the registry under test.
  void Store(const Row& strings, const std::map<std::string, std::int32_t>& integers) {
    Registry& reg = backing.registry;
    ASSERT_TRUE(reg.OpenKey(kKey, true));
    for (const auto& [name, value] : strings) reg.WriteString(kKey, name, *value);
    for (const auto& [name, value] : integers) reg.WriteInteger(kKey, name, value);
  }

  void StoreOldValues() {
    Store({{"HttpHostAddr", "antigo"},
           {"HttpPort", "80"},
           {"HttpProxyHost", "proxy.antigo"},
           {"HttpProxyPort", "8888"},
           {"HttpProxyUserId", "antigo"}},
          {{"HttpUseProxy", 0}, {"HttpHttps", 1}});
  }

  std::string Text(const std::string& name) { return backing.registry.ReadString(kKey, name); }
  std::int32_t Number(const std::string& name) { return backing.registry.ReadInteger(kKey, name); }

  const std::vector<std::string> kOk = {"Conexão Lum - Criação Registro para HTTP"_w,
                                        "Conexão Lum - Conectado"_w, " "};

  Backing backing{fake};
  CountingRegistry counting{backing.registry};
  Services services = fake.Wire({.registry = &counting});
  std::unique_ptr<Cli_jov00000::TfrmEscolheSistema> form;
};

using Backings = ::testing::Types<OnFakeRegistry, OnHiveFile>;
TYPED_TEST_SUITE(CriaRegHttpTest, Backings);

TYPED_TEST(CriaRegHttpTest, AFirstRunCreatesTheKeyAndTheSevenValuesWithTheirTypes) {
  EXPECT_EQ(this->Run(Packet({kServerRow})), this->kOk);
  EXPECT_EQ(this->counting.changed,
            (std::vector<std::string>{"WriteString HttpHostAddr", "WriteString HttpPort",
                                      "WriteInteger HttpUseProxy", "WriteString HttpProxyHost",
                                      "WriteString HttpProxyPort", "WriteString HttpProxyUserId",
                                      "WriteInteger HttpHttps"}));
  EXPECT_EQ(this->Text("HttpHostAddr"), "srv-http.loja");
  EXPECT_EQ(this->Text("HttpPort"), "8080") << "the port is a string";
  EXPECT_THROW(this->Number("HttpPort"), Error);
  EXPECT_EQ(this->Number("HttpUseProxy"), 1);
  EXPECT_EQ(this->Text("HttpProxyHost"), "proxy.loja");
  EXPECT_EQ(this->Text("HttpProxyPort"), "3128");
  EXPECT_EQ(this->Text("HttpProxyUserId"), "caixa01");
  EXPECT_EQ(this->Number("HttpHttps"), 0);
  ASSERT_EQ(this->fake.server.calls.size(), 1u);
  EXPECT_EQ(this->fake.server.calls[0].first, "GetDadosHttp");
  EXPECT_EQ(this->fake.server.calls[0].second, std::vector<std::string>{""})
      << "the branch code is still empty during form creation";
  EXPECT_EQ(this->fake.server.opened_host, "srv01");
  EXPECT_EQ(this->fake.server.opened_port, 8211);
}

TYPED_TEST(CriaRegHttpTest, ASecondRunWithTheSameDataWritesNothing) {
  this->Run(Packet({kServerRow}));
  EXPECT_EQ(this->Run(Packet({kServerRow})), this->kOk);
  EXPECT_TRUE(this->counting.changed.empty());
}

TYPED_TEST(CriaRegHttpTest, OnlyTheValuesThatDifferAreWrittenLetterCaseIncluded) {
  this->Run(Packet({kServerRow}));
  Row changed = With(kServerRow, "HTTPHOSADDR", "SRV-HTTP.LOJA");
  changed = With(changed, "HTTPHTTPS", "1");
  EXPECT_EQ(this->Run(Packet({changed})), this->kOk);
  EXPECT_EQ(this->counting.changed,
            (std::vector<std::string>{"WriteString HttpHostAddr", "WriteInteger HttpHttps"}));
  EXPECT_EQ(this->Text("HttpHostAddr"), "SRV-HTTP.LOJA");
}

TYPED_TEST(CriaRegHttpTest, AValueStoredWithTheOtherTypeEndsTheUpdate) {
  this->StoreOldValues();
  this->Store({{"HttpUseProxy", "1"}}, {});
  const auto lines = this->Run(Packet({kServerRow}));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3].rfind(kFailure, 0), 0u) << lines[3];
  EXPECT_EQ(this->Text("HttpHostAddr"), "srv-http.loja");
  EXPECT_EQ(this->Text("HttpPort"), "8080");
  EXPECT_EQ(this->Text("HttpUseProxy"), "1");
  EXPECT_EQ(this->Text("HttpProxyHost"), "proxy.antigo");
}

TYPED_TEST(CriaRegHttpTest, AFailureAtTheFourthValueLeavesTheFirstThreeWritten) {
  this->StoreOldValues();
  this->Store({}, {{"HttpProxyHost", 5}});
  const auto lines = this->Run(Packet({kServerRow}));
  EXPECT_EQ(lines.back().rfind(kFailure, 0), 0u) << lines.back();
  EXPECT_EQ(this->Text("HttpHostAddr"), "srv-http.loja");
  EXPECT_EQ(this->Text("HttpPort"), "8080");
  EXPECT_EQ(this->Number("HttpUseProxy"), 1);
  EXPECT_EQ(this->Number("HttpProxyHost"), 5);
  EXPECT_EQ(this->Text("HttpProxyPort"), "8888");
  EXPECT_EQ(this->Text("HttpProxyUserId"), "antigo");
  EXPECT_EQ(this->Number("HttpHttps"), 1);
}

TYPED_TEST(CriaRegHttpTest, AReplyWithoutARecordDeletesOnlyThePort) {
  this->StoreOldValues();
  EXPECT_EQ(this->Run(Packet({})), this->kOk);
  EXPECT_EQ(this->counting.changed, std::vector<std::string>{"DeleteValue HttpPort"});
  EXPECT_FALSE(this->backing.registry.ValueExists(kKey, "HttpPort"));
  EXPECT_EQ(this->Text("HttpHostAddr"), "antigo");
  EXPECT_EQ(this->Number("HttpHttps"), 1);
  EXPECT_EQ(this->Run(Packet({})), this->kOk) << "a missing port is no error";
  EXPECT_TRUE(this->counting.changed.empty());
}

TYPED_TEST(CriaRegHttpTest, NullFieldsAreEmptyTextsAndZero) {
  EXPECT_EQ(this->Run(Packet({Row{{"HTTPHOSADDR", "srv"}}})), this->kOk);
  EXPECT_EQ(this->Text("HttpPort"), "");
  EXPECT_EQ(this->Number("HttpUseProxy"), 0);
  EXPECT_EQ(this->Number("HttpHttps"), 0);
}

TYPED_TEST(CriaRegHttpTest, AServerThatCannotBeReachedLeavesTheRegistryUntouched) {
  this->fake.server.fail_open = true;
  const auto lines = this->Run(Packet({kServerRow}));
  EXPECT_EQ(lines, (std::vector<std::string>{"Conexão Lum - Criação Registro para HTTP"_w,
                                             kFailure + "Cannot connect to srv01:8211: refused"}));
  EXPECT_FALSE(this->backing.registry.OpenKey(kKey, false));
}

TYPED_TEST(CriaRegHttpTest, RepliesThatCannotBeUsedAreOneFailureLine) {
  const struct {
    std::string reply, cause, reason;
  } replies[] = {
      {"", "GetDadosHttp reply: malformed data packet: no root element",
       "o pacote de dados est\xe1 malformado"},
      {"<html><body>502 Bad Gateway</body></html>", "malformed data packet", "malformado"},
      {"<html/>", "the root element is html, not DATAPACKET", "malformado"},
      {"EXCEPT:Filial 0001 não encontrada"_w, "Filial 0001 não encontrada"_w,
       "o servidor respondeu com erro: Filial 0001 não encontrada"_w},
      // The server's text cannot forge a log line, nor flood the log.
      {"EXCEPT:x\r\n01/01/2030 00:00:00 - forjada", "x??01/01/2030 00:00:00 - forjada",
       "erro: x??01/01/2030"},
      {"EXCEPT:" + std::string(100000, 'e'), std::string(1000, 'e'), std::string(900, 'e')},
      {Packet({With(kServerRow, "HTTPHTTPS", "sim")}), "'sim' is not a valid integer",
       "o campo HTTPHTTPS do servidor n\xe3o \xe9 um n\xfamero inteiro: 'sim'"},
      {Packet({With(kServerRow, "IDUTHTTPPROXY", "99999999999")}), "not a valid integer",
       "IDUTHTTPPROXY"},
      {Packet({kServerRow}).substr(0, 200), "malformed data packet", "malformado"},
  };
  for (const auto& [reply, cause, reason] : replies) {
    const auto lines = this->Run(reply);
    ASSERT_EQ(lines.size(), 4u) << reply.substr(0, 100);
    EXPECT_EQ(lines[3].rfind(kFailure, 0), 0u) << lines[3];
    EXPECT_NE(lines[3].find(cause), std::string::npos) << lines[3].substr(0, 100);
    EXPECT_LE(lines[3].size(), kFailure.size() + 1000);
    EXPECT_NE(this->reason.find(reason), std::string::npos) << this->reason.substr(0, 100);
    EXPECT_LE(this->reason.size(), 16u + 1000);
  }
}

// Fault: the reason line fell back to the English message ("falha: Field ... not found").
TYPED_TEST(CriaRegHttpTest, AFieldMissingFromTheRecordEndsTheUpdateThere) {
  const auto lines = this->Run(Packet({kServerRow}, {"HTTPHTTPS"}));
  EXPECT_EQ(lines.back(), kFailure + "Field 'HTTPHTTPS' not found");
  EXPECT_EQ(this->reason, " ----         : o campo HTTPHTTPS n\xe3o veio nos dados do servidor");
  EXPECT_EQ(this->Text("HttpProxyUserId"), "caixa01");
  EXPECT_FALSE(this->backing.registry.ValueExists(kKey, "HttpHttps"));
}

TYPED_TEST(CriaRegHttpTest, ACallThatFailsIsOneFailureLine) {
  this->fake.server.failing_methods.insert("GetDadosHttp");
  const auto lines = this->Run(Packet({kServerRow}));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3], kFailure + "Call GetDadosHttp failed: connection reset");
  EXPECT_TRUE(this->fake.log.Contains("server.Close"));
}

TYPED_TEST(CriaRegHttpTest, AKeyThatCannotBeOpenedForWritingIsLeftAsItWas) {
  this->StoreOldValues();
  this->backing.MakeUnwritable();
  EXPECT_EQ(this->Run(Packet({})), this->kOk) << "the empty-record branch does nothing";
  EXPECT_TRUE(this->counting.changed.empty());
  EXPECT_EQ(this->Text("HttpPort"), "80");

  auto lines = this->Run(Packet({kServerRow}));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3].rfind(kFailure, 0), 0u) << lines[3];
  EXPECT_EQ(this->counting.changed, std::vector<std::string>{"WriteString HttpHostAddr"});
  EXPECT_EQ(this->Text("HttpHostAddr"), "antigo");
}

TYPED_TEST(CriaRegHttpTest, AKeyThatCannotBeOpenedForWritingFailsEvenWhenNothingChanges) {
  this->Run(Packet({kServerRow}));
  this->backing.MakeUnwritable();
  const auto lines = this->Run(Packet({kServerRow}));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3].rfind(kFailure, 0), 0u) << lines[3];
  EXPECT_EQ(this->counting.changed, std::vector<std::string>{"WriteString HttpHostAddr"});
}

using CriaRegHttpOnHive = CriaRegHttpTest<OnHiveFile>;

TEST_F(CriaRegHttpOnHive, ASecondRunLeavesTheHiveFileAsItWas) {
  const std::string path = backing.dir.path() + "/HKLM.reg";
  Run(Packet({kServerRow}));
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  Run(Packet({kServerRow}));
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST_F(CriaRegHttpOnHive, AHiveThatIsCorruptReadOnlyOrLockedGetsTheFailureLineAndLosesNothing) {
  const std::string path = backing.dir.path() + "/HKLM.reg";
  StoreOldValues();
  const std::string kept = TempDir::Read(path);

  ::chmod(path.c_str(), 0444);
  auto lines = Run(Packet({kServerRow}));
  EXPECT_NE(lines.back().find("read-only"), std::string::npos) << lines.back();
  ::chmod(path.c_str(), 0644);

  // Another writer holds the writers' lock beside the hive.
  const int other = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_EQ(::flock(other, LOCK_EX), 0);
  lines = Run(Packet({kServerRow}));
  EXPECT_NE(lines.back().find("locked by another program"), std::string::npos) << lines.back();
  ::close(other);
  EXPECT_EQ(TempDir::Read(path), kept);

  const std::string corrupt = kept + "linha estranha\r\n";
  backing.dir.Write("HKLM.reg", corrupt);
  lines = Run(Packet({kServerRow}));
  EXPECT_NE(lines.back().find(" is corrupt: line "), std::string::npos) << lines.back();
  EXPECT_EQ(TempDir::Read(path), corrupt);
}

TEST_F(LauncherTest, TheConnectionsTakeTheirSettingsAtEveryConnect) {
  auto form = NewForm();
  fake.library.web_url = "10.1.1.1";
  fake.library.web_port = 9000;
  form->netLocalCache->SetConnected(true);
  EXPECT_EQ(form->netLocalCache->Host, "10.1.1.1");
  EXPECT_EQ(form->netLocalCache->Port, 9000);
  EXPECT_EQ(fake.server.opened_port, 9000);
  form->netLocalCache->SetConnected(false);
  fake.library.connection_string = "Provider=QSQLITE;Data Source=/tmp/caixa.db";
  form->adcBaixaDados->Open();
  EXPECT_EQ(fake.database.last_connection_string, "Provider=QSQLITE;Data Source=/tmp/caixa.db");
}

}  // namespace
}  // namespace jov::testing
