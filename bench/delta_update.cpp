// What a register fetches for a small change of its program: the patch from the installed
// file against the whole archive, and what making and applying the patch cost.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <string>

#include "clientlib/delta_patch.h"
#include "server/sign/delta.h"

namespace {

// An 8 MiB program (pseudo-random bytes, which compress no better than machine code does)
// and its next build: six functions of 2 KiB rebuilt in place, and 1 KiB of new code
// inserted, which shifts everything after it.
struct Builds {
  Builds() {
    old_file.resize(std::size_t{8} << 20);
    std::mt19937_64 random(42);
    for (char& c : old_file) c = static_cast<char>(random());
    new_file = old_file;
    for (std::size_t at = 300000; at + 2048 < new_file.size(); at += 1300000) {
      for (std::size_t i = 0; i < 2048; ++i) new_file[at + i] = static_cast<char>(random());
    }
    std::string inserted(1024, '\0');
    for (char& c : inserted) c = static_cast<char>(random());
    new_file.insert(4 << 20, inserted);
  }
  std::string old_file;
  std::string new_file;
};

// The deflated size of the new build: the archive's bytes on the wire.
std::size_t ArchiveBytes(const std::string& file) {
  uLongf size = compressBound(file.size());
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size,
            reinterpret_cast<const Bytef*>(file.data()), file.size(), 9);
  return size;
}

void BM_MakeDelta(benchmark::State& state) {
  const Builds b;
  std::size_t size = 0;
  for (auto _ : state) {
    size = jov::sign::MakeDeltaBytes(b.old_file, b.new_file).size();
  }
  state.counters["delta_bytes"] = static_cast<double>(size);
  state.counters["archive_bytes"] = static_cast<double>(ArchiveBytes(b.new_file));
}
BENCHMARK(BM_MakeDelta)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ApplyDelta(benchmark::State& state) {
  const Builds b;
  const std::string delta = jov::sign::MakeDeltaBytes(b.old_file, b.new_file);
  for (auto _ : state) {
    const auto made = jov::ApplyDelta(b.old_file, delta, std::int64_t{512} << 20);
    if (!made || *made != b.new_file) state.SkipWithError("the patch does not rebuild the file");
  }
  state.counters["delta_bytes"] = static_cast<double>(delta.size());
}
BENCHMARK(BM_ApplyDelta)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
