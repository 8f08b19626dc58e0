// The time from starting JOV.EXE to its screen being shown, and its peak resident memory,
// beside a bare Qt Widgets program that shows an 800x600 window, both on one virtual display
// (Xvfb). The launcher runs in a register of its own: the application server on loopback with
// nothing to update, "Mercato.cds" present, no opening rules. A screen counts as shown when
// the display reports its window mapped (the event a watcher on the root window gets); the
// peak memory is taken once its first activation has started the screen-package updater (a
// stand-in that logs its call).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/spawn.h"

namespace {

namespace fs = std::filesystem;
using bench::Spawn;
using Clock = std::chrono::steady_clock;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Waits (at most 30 s) until the file holds text; false when it never did.
bool WaitFor(const std::string& path, const std::string& text) {
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (Clock::now() < deadline) {
    if (Read(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

// SIGTERM, then the child's peak resident memory in MiB (its own, not its children's).
double StopAndMeasure(pid_t pid) {
  ::kill(pid, SIGTERM);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Watches one display for top-level windows being mapped, the moment one can be seen there,
// as an event rather than by looking again and again.
class MapWatcher {
 public:
  explicit MapWatcher(const std::string& display) {
    int screen_number = 0;
    connection_ = xcb_connect(display.c_str(), &screen_number);
    if (xcb_connection_has_error(connection_) != 0) return;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screen_number && screens.rem > 0; ++i) xcb_screen_next(&screens);
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, screens.data->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
  }
  ~MapWatcher() { xcb_disconnect(connection_); }
  MapWatcher(const MapWatcher&) = delete;
  MapWatcher& operator=(const MapWatcher&) = delete;

  // Blocks (at most 30 s) until a window named title is mapped; returns when that was, or
  // nothing when no such window came.
  std::optional<Clock::time_point> WaitForMap(const std::string& title) {
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (xcb_connection_has_error(connection_) == 0) {
      xcb_generic_event_t* event = xcb_poll_for_event(connection_);
      if (event == nullptr) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd watched{xcb_get_file_descriptor(connection_), POLLIN, 0};
        ::poll(&watched, 1, static_cast<int>(left.count()));
        continue;
      }
      const auto seen = Clock::now();
      const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
      const xcb_window_t window = reinterpret_cast<xcb_map_notify_event_t*>(event)->window;
      std::free(event);
      if (mapped && NameOf(window) == title) return seen;
    }
    return std::nullopt;
  }

 private:
  std::string NameOf(xcb_window_t window) {
    const xcb_get_property_cookie_t cookie = xcb_get_property(
        connection_, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection_, cookie, nullptr);
    if (reply == nullptr) return {};
    std::string name(static_cast<const char*>(xcb_get_property_value(reply)),
                     static_cast<std::size_t>(xcb_get_property_value_length(reply)));
    std::free(reply);
    return name;
  }

  xcb_connection_t* connection_ = nullptr;
};

struct Setup {
  std::string root;
  std::string display;
  pid_t xvfb = -1;
  pid_t server = -1;
  std::unique_ptr<MapWatcher> watcher;

  Setup() {
    char pattern[] = "/tmp/jov-startup-XXXXXX";
    root = ::mkdtemp(pattern);
    const std::string program = root + "/caixa";
    fs::copy(JOV_PROGRAM_DIR, program,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    for (const char* sibling : {"JovTab.exe", "JovBpl.exe"}) {
      fs::copy_file(JOV_STANDIN, program + "/" + sibling);
    }
    fs::create_directories(root + "/updates");
    Write(program + "/Mercato.cds",
          "<?xml version=\"1.0\" standalone=\"yes\"?>\n<DATAPACKET Version=\"2.0\"><METADATA>"
          "<FIELDS>\n<FIELD attrname=\"CDFILIAL\" fieldtype=\"string\" WIDTH=\"4\"/>\n<FIELD "
          "attrname=\"CDCAIXA\" fieldtype=\"string\" WIDTH=\"3\"/>\n</FIELDS><PARAMS/></METADATA>"
          "<ROWDATA>\n<ROW CDFILIAL=\"0001\" CDCAIXA=\"001\"/>\n</ROWDATA></DATAPACKET>\n");
    bench::Run({"/usr/bin/sqlite3", root + "/caixa.db",
                "CREATE TABLE CAIXA (CDFILIAL VARCHAR(4), CDCAIXA VARCHAR(3), "
                "IDAUTOIMPTAB CHAR(1), IDUTILABERAUTO CHAR(1), IDPERACESSOTER CHAR(1))"},
               true);
    server = Spawn({JOV_BIN_DIR "/jov-appserver", "--bind", "127.0.0.1", "--port", "0", "--updates",
                    root + "/updates"},
                   root + "/server.out", {}, true);
    WaitFor(root + "/server.out", "\n");
    const std::string line = Read(root + "/server.out");
    const std::string port = line.substr(line.find_last_not_of("0123456789\n") + 1);
    Write(program + "/clientlib.ini", "[Server]\nHost=127.0.0.1\nPort=" + port +
                                          "[Paths]\nWorkingDirectory=" + root +
                                          "/work/\nDriveC=" + root +
                                          "/c/\n[Database]\nConnectionString=Provider="
                                          "QSQLITE;Data Source=" +
                                          root + "/caixa.db\n");
    for (int n = 300 + getpid() % 300;; ++n) {
      if (fs::exists("/tmp/.X11-unix/X" + std::to_string(n))) continue;
      display = ":" + std::to_string(n);
      break;
    }
    xvfb = Spawn(
        {"/usr/bin/Xvfb", display, "-noreset", "-nolisten", "tcp", "-screen", "0", "1024x768x24"},
        "/dev/null", {}, true);
    const std::string socket = "/tmp/.X11-unix/X" + display.substr(1);
    for (int i = 0; i < 1000 && !fs::exists(socket); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    watcher = std::make_unique<MapWatcher>(display);
  }
  ~Setup() {
    watcher.reset();
    for (pid_t pid : {xvfb, server}) {
      if (pid > 0) StopAndMeasure(pid);
    }
    fs::remove_all(root);
  }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

// One start: spawn, wait for its window to show (the time measured), then for the marker (the
// start's own work done, so that the peak memory is the whole start's), stop.
void Measure(benchmark::State& state, const std::vector<std::string>& argv,
             const std::string& title, const std::string& marker, const std::string& shown,
             const std::vector<std::string>& env) {
  Setup& setup = Shared();
  double peak = 0;
  for (auto _ : state) {
    fs::remove(marker);
    std::vector<std::string> all = {"DISPLAY=" + setup.display, "QT_QPA_PLATFORM=xcb"};
    all.insert(all.end(), env.begin(), env.end());
    const auto start = Clock::now();
    const pid_t pid = Spawn(argv, "/dev/null", all, true);
    const std::optional<Clock::time_point> mapped_at =
        pid < 0 ? std::nullopt : setup.watcher->WaitForMap(title);
    if (!mapped_at) {
      state.SkipWithError("the program did not show its screen within 30 s");
      if (pid > 0) StopAndMeasure(pid);
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(*mapped_at - start).count());
    if (!WaitFor(marker, shown)) {
      state.SkipWithError("the program did not finish its start within 30 s");
      StopAndMeasure(pid);
      break;
    }
    peak = std::max(peak, StopAndMeasure(pid));
  }
  state.counters["peak_MiB"] = peak;
}

void BM_LauncherToScreen(benchmark::State& state) {
  Setup& setup = Shared();
  const std::string marker = setup.root + "/standins.log";
  Measure(state, {setup.root + "/caixa/JOV.EXE"}, "frmEscolheSistema", marker, "JovBpl.exe [1_]",
          {"JOV_HKLM=" + setup.root + "/HKLM.reg", "JOV_STANDIN_LOG=" + marker,
           "JOV_STANDIN_SECONDS=1"});
}
BENCHMARK(BM_LauncherToScreen)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_BareWindowToScreen(benchmark::State& state) {
  const std::string marker = Shared().root + "/bare.shown";
  Measure(state, {JOV_BARE_WINDOW, marker}, "bare-window", marker, "shown", {});
}
BENCHMARK(BM_BareWindowToScreen)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// The bare window with the launcher's libraries loaded before it starts: what the libraries
// alone cost (OpenSSL, the HTTP client, Qt SQL, libzip).
void BM_BareWindowWithLibrariesToScreen(benchmark::State& state) {
  const std::string marker = Shared().root + "/bare-libraries.shown";
  Measure(state, {JOV_BARE_WINDOW, marker, Shared().root + "/caixa/_DLL.bpl"}, "bare-window",
          marker, "shown", {});
}
BENCHMARK(BM_BareWindowWithLibrariesToScreen)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
