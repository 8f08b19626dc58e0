// The registry hive parser on hives near its 16 MiB limit, in two shapes: many keys of a few
// values each, and one key with very many values. Both must parse in time linear in the text.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/registry_hive.h"

namespace {

constexpr std::size_t kTarget = (16u << 20) - (64u << 10);

const std::string& ManyKeys() {
  static const std::string text = [] {
    std::string hive = "REGEDIT4\r\n";
    for (int i = 0; hive.size() < kTarget; ++i) {
      hive += "\r\n[HKEY_LOCAL_MACHINE\\Software\\CALVORA\\Caixa" + std::to_string(i) +
              "]\r\n\"HttpPort\"=\"8080\"\r\n\"HttpUseProxy\"=dword:00000001\r\n";
    }
    return hive;
  }();
  return text;
}

const std::string& OneWideKey() {
  static const std::string text = [] {
    std::string hive = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\CALVORA\\Wide]\r\n";
    for (int i = 0; hive.size() < kTarget; ++i) {
      hive += "\"Valor" + std::to_string(i) + "\"=\"texto " + std::to_string(i) + "\"\r\n";
    }
    return hive;
  }();
  return text;
}

void Parse(benchmark::State& state, const std::string& text) {
  for (auto _ : state) benchmark::DoNotOptimize(jov::hive::Parse(text, "bench.reg"));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_HiveParse_ManyKeys(benchmark::State& state) { Parse(state, ManyKeys()); }
void BM_HiveParse_OneWideKey(benchmark::State& state) { Parse(state, OneWideKey()); }
BENCHMARK(BM_HiveParse_ManyKeys)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HiveParse_OneWideKey)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
