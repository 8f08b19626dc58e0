// The fleet store called directly: what its observers are told, and when.
#include "server/fleet/fleet_store.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/database_qt.h"
#include "protocol/report.h"
#include "protocol/signed_text.h"
#include "server/sign/signing.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

using appserver::fleet::Store;

protocol::Report MakeReport(const std::string& caixa) {
  protocol::Report report;
  report.filial = "0001";
  report.caixa = caixa;
  report.host = "caixa";
  report.launcher = "2.1.0";
  report.started = "2026-12-09T08:00:00-03:00";
  return report;
}

// The observers hear of each stored report and event once it is committed, with whether it was
// verified, and never of one the store refused.
TEST(FleetStoreTest, TellsItsObserversWhatItCommittedAndWhetherItWasVerified) {
  TempDir dir;
  const std::string db = "Provider=QSQLITE;Data Source=" + dir.path() + "/fleet.db";
  std::vector<std::pair<std::string, bool>> told;
  std::vector<std::string> kept_when_told;  // reports another connection saw at that moment
  appserver::fleet::StoreSettings settings;
  settings.max_registers = 1;
  settings.report_interval = 0;
  settings.on_report = [&](const protocol::Report& report, bool verified) {
    DatabaseQt other;
    other.Connect(db);
    kept_when_told.push_back(other
                                 .Query("SELECT (SELECT COUNT(*) FROM fleet_report) + "
                                        "(SELECT COUNT(*) FROM fleet_unverified) AS n",
                                        {})[0]
                                 .at("N")
                                 .value_or(""));
    told.emplace_back("report " + report.caixa, verified);
  };
  settings.on_health = [&](const protocol::HealthEvent& event, bool verified) {
    told.emplace_back("event " + event.name, verified);
  };
  Store store(
      db, [](const std::string&) {}, settings);

  const auto key = sign::SigningKey::Generate();
  protocol::Report report = MakeReport("001");
  report.health.push_back({"0001",
                           "001",
                           "caixa",
                           "JovTab.exe",
                           42,
                           "20261201000000",
                           11,
                           std::nullopt,
                           2,
                           "2026-12-09T08:01:00-03:00",
                           {}});
  report.signer = {key.PublicKeyBase64(), 1};
  const std::string text = protocol::WriteReport(report);
  std::string why;
  auto signed_report = appserver::fleet::CheckReport(
      protocol::AppendSignature(text, key.SignatureBase64(text)), why);
  ASSERT_TRUE(signed_report) << why;
  EXPECT_EQ(store.Add(std::move(*signed_report)), Store::Result::kStored);
  auto unsigned_report =
      appserver::fleet::CheckReport(protocol::WriteReport(MakeReport("001")), why);
  ASSERT_TRUE(unsigned_report) << why;
  EXPECT_EQ(store.Add(std::move(*unsigned_report)), Store::Result::kStored);
  auto past = appserver::fleet::CheckReport(protocol::WriteReport(MakeReport("002")), why);
  ASSERT_TRUE(past) << why;
  EXPECT_EQ(store.Add(std::move(*past)), Store::Result::kTooMany);

  EXPECT_EQ(told, (std::vector<std::pair<std::string, bool>>{
                      {"report 001", true}, {"event JovTab.exe", true}, {"report 001", false}}));
  EXPECT_EQ(kept_when_told, (std::vector<std::string>{"1", "2"}));
}

}  // namespace
}  // namespace jov::testing
