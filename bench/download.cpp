// One program-file download (a 64 MiB stored archive over loopback HTTP, fetched, unpacked,
// flushed and renamed) beside the least any downloader must do: the same GET with its body
// written to a file. The counters say how fast, and how much the process's peak memory grew.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <httplib.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zip.h>

#include <string>
#include <thread>

#include "clientlib/exe_download.h"

namespace {

constexpr std::size_t kSize = std::size_t{64} << 20;

long PeakKiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A stored archive holding JovTab.exe of kSize pseudo-random bytes.
std::string MakeArchive(const std::string& folder) {
  std::string content(kSize, '\0');
  std::uint32_t x = 1;
  for (char& c : content) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  const std::string path = folder + "/a.zip";
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  zip_source_t* source = zip_source_buffer(archive, content.data(), content.size(), 0);
  const zip_int64_t index = zip_file_add(archive, "JovTab.exe", source, ZIP_FL_OVERWRITE);
  zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
  zip_close(archive);
  std::string bytes;
  const int fd = ::open(path.c_str(), O_RDONLY);
  char buffer[1 << 16];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
  ::close(fd);
  return bytes;
}

struct Fixture {
  std::string folder;
  std::string archive;
  httplib::Server server;
  std::thread thread;
  int port = 0;

  Fixture() {
    char pattern[] = "/tmp/jov-bench-XXXXXX";
    folder = ::mkdtemp(pattern);
    archive = MakeArchive(folder);
    server.Get("/JovTab.exe.zip", [this](const httplib::Request&, httplib::Response& response) {
      // Served from the one copy, so that the server adds nothing to the peak.
      response.set_content_provider(
          archive.size(), "application/zip",
          [this](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            return sink.write(archive.data() + offset, std::min<std::size_t>(length, 1 << 16));
          });
    });
    port = server.bind_to_any_port("127.0.0.1");
    thread = std::thread([this] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::yield();
  }
  ~Fixture() {
    server.stop();
    thread.join();
    for (const char* name : {"/a.zip", "/JovTab.exe", "/raw"}) ::unlink((folder + name).c_str());
    ::rmdir(folder.c_str());
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

void Report(benchmark::State& state, long peak_before) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSize));
  state.counters["peak_growth_MiB"] = static_cast<double>(PeakKiB() - peak_before) / 1024.0;
}

void BM_DownloadExeFiles(benchmark::State& state) {
  Fixture& f = Shared();
  jov::ExeDownloadSettings settings;
  settings.working_directory = f.folder + "/";
  const std::string source = "http://127.0.0.1:" + std::to_string(f.port) + "/";
  const long before = PeakKiB();
  for (auto _ : state) jov::DownloadExeFiles({"JovTab.exe.zip=1"}, source, settings, nullptr);
  Report(state, before);
}

// The same GET, the body written to a file as it comes; no checks, no unpacking, no flush.
void BM_BaselineGetToFile(benchmark::State& state) {
  Fixture& f = Shared();
  httplib::Client client("127.0.0.1", f.port);
  const long before = PeakKiB();
  for (auto _ : state) {
    const int fd = ::open((f.folder + "/raw").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    client.Get("/JovTab.exe.zip", [fd](const char* data, std::size_t size) {
      return ::write(fd, data, size) == static_cast<ssize_t>(size);
    });
    ::close(fd);
  }
  Report(state, before);
}

BENCHMARK(BM_BaselineGetToFile)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_DownloadExeFiles)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
