// A view of /fleet and /fleet.json at 20,000 registers (500 branches of 40, nine programs each,
// a health event for one in ten): the store's read of one page and the page made of it, on
// SQLite in a temporary folder. The fleet is filled once before the timings.
#include "server/fleet/fleet_page.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/cp1252.h"
#include "protocol/health.h"
#include "protocol/report.h"
#include "server/fleet/fleet_store.h"

namespace {

constexpr int kBranches = 500;
constexpr int kPerBranch = 40;

const char* const kPrograms[] = {"JovTab.exe", "JovBpl.exe", "JovSinc.exe",
                                 "JovPdv.exe", "JovNfe.exe", "JovTef.exe",
                                 "JovBal.exe", "JovEtq.exe", "JovRel.exe"};

std::string Code(int n, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*d", width, n);
  return text;
}

appserver::fleet::Report MakeReport(int branch, int caixa) {
  jov::protocol::Report report;
  report.filial = Code(branch, 4);
  report.caixa = Code(caixa, 3);
  report.host = "caixa-" + report.filial + "-" + report.caixa;
  report.launcher = "2.1.0";
  report.started = "2026-12-09T08:00:00-03:00";
  report.seconds = 1.5;
  report.outcome =
      caixa % 50 == 0 ? jov::protocol::Outcome::kFailed : jov::protocol::Outcome::kNothing;
  if (caixa % 50 == 0) report.failure = {{"JovTab.exe", "Falha ao baixar JovTab.exe"}};
  for (const char* name : kPrograms) {
    report.files.push_back({name, caixa % 7 == 0 ? "20261115093000" : "20261201000000", 8123456,
                            std::string(64, 'a'), 42});
  }
  if (caixa % 10 == 0) {
    jov::protocol::HealthEvent event;
    event.filial = report.filial;
    event.caixa = report.caixa;
    event.host = report.host;
    event.name = "JovTab.exe";
    event.version = 42;
    event.stamp = "20261201000000";
    event.signal = 11;
    event.seconds = 3;
    event.at = "2026-12-09T08:01:00-03:00";
    report.health.push_back(event);
  }
  return {report, jov::protocol::WriteReport(report), false};
}

// 20,000 registers, added from eight threads so that the store writes them in batches.
void Fill(appserver::fleet::Store& store) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&store, t] {
      for (int i = t; i < kBranches * kPerBranch; i += 8) {
        store.Add(MakeReport(i / kPerBranch + 1, i % kPerBranch + 1));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  char folder[] = "/tmp/fleet-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 1;
  {
    appserver::fleet::StoreSettings settings;
    settings.report_interval = 0;
    appserver::fleet::Store store(
        appserver::fleet::ConnectionString(std::string(folder) + "/fleet.db"),
        [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }, settings);
    Fill(store);
    appserver::fleet::Newest offered;
    for (const char* name : kPrograms) offered[jov::cp1252::UpperAscii(name)] = "20261201000000";

    const auto view = [&](benchmark::State& state, appserver::fleet::View asked, bool html) {
      std::size_t bytes = 0;
      for (auto _ : state) {
        const auto snapshot = store.Read(asked, offered);
        if (!snapshot) {
          state.SkipWithError("the store did not answer");
          return;
        }
        appserver::fleet::PageParts parts;
        parts.view = asked;
        const std::string page =
            html ? appserver::fleet::FleetHtml(*snapshot, offered, std::time(nullptr), parts)
                 : appserver::fleet::FleetJson(*snapshot);
        bytes = page.size();
        benchmark::DoNotOptimize(page.data());
      }
      state.counters["page_bytes"] = static_cast<double>(bytes);
    };
    benchmark::RegisterBenchmark("FleetPage/html/first", view, appserver::fleet::View{}, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("FleetPage/html/last", view, appserver::fleet::View{"", 99, false},
                                 true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("FleetPage/html/branch", view,
                                 appserver::fleet::View{"0250", 0, false}, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("FleetPage/json/first", view, appserver::fleet::View{}, false)
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
  }
  std::filesystem::remove_all(folder);
  return 0;
}
