// What showing download progress costs a download: one 64 MiB file told in 16 KiB reads,
// through the progress window (known and unknown size) beside drawing at every read.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLabel>
#include <cstdlib>

#include "clientlib/download_progress_window.h"

namespace {

constexpr std::int64_t kFile = 64 << 20;
constexpr std::int64_t kRead = 16 << 10;

void ThroughTheWindow(benchmark::State& state) {
  const std::int64_t total = state.range(0) != 0 ? kFile : -1;
  jov::DownloadProgressWindow progress;
  for (auto _ : state) {
    progress.Begin("JovTab.exe.zip", total);
    for (std::int64_t got = kRead; got <= kFile; got += kRead) progress.Advance(got);
    progress.End();
  }
}
BENCHMARK(ThroughTheWindow)->Arg(1)->Arg(0)->ArgName("known")->Unit(benchmark::kMillisecond);

// The same window drawn and pumped at every read.
void DrawingEveryRead(benchmark::State& state) {
  for (auto _ : state) {
    QLabel label(QStringLiteral("JovTab.exe.zip"));
    label.resize(420, 130);
    label.show();
    for (std::int64_t got = kRead; got <= kFile; got += kRead) {
      label.setText(QString::fromStdString(jov::DownloadProgressText(got, kFile)));
      label.repaint();
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
  }
}
BENCHMARK(DrawingEveryRead)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
