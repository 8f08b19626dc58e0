// The package entry: wires the real platform and client library to the launcher form.
#include "Pkg_jov00000/package.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <memory>

#include "Cli_jov00000/frm_escolhe_sistema.h"
#include "clientlib/dialogs_qt.h"
#include "clientlib/health_report.h"
#include "clientlib/http_channel.h"
#include "clientlib/library_services.h"
#include "clientlib/register_key.h"
#include "clientlib/session.h"
#include "clientlib/versions.h"
#include "platform/child_reaper_linux.h"
#include "platform/clock_linux.h"
#include "platform/database_qt.h"
#include "platform/dataset_files_xml.h"
#include "platform/file_system_linux.h"
#include "platform/host_path_linux.h"
#include "platform/process_table_linux.h"
#include "platform/program_launcher_linux.h"
#include "platform/registry_hive.h"
#include "platform/taskbar_linux.h"

namespace {

// Unit initialization and finalization run when the package is loaded and unloaded. The
// package and the client library take every path from the unit's host path.
struct Unit {
  Unit() { Cli_jov00000::InicializaUnidade(host); }
  ~Unit() { Cli_jov00000::FinalizaUnidade(); }
  jov::HostPathLinux host;
} unit;

// The real services, alive for one showing of the launcher: one start's session. Members are
// destroyed in reverse order: the programs' reaper stops before the health reporter it tells,
// and both reporters finish before the key and the pending events they use.
struct RealServices {
  jov::ClockLinux clock;
  jov::Session session{unit.host, clock};
  jov::RegisterKey key{session.Settings().working_directory};
  jov::PendingHealth pending{session.Settings().working_directory};
  jov::HealthReporter health{
      session,
      {session.Settings().host, session.Settings().port, session.Settings().proxy},
      Cli_jov00000::arquivosExe,
      [dir = session.ProgramDirectory()](const std::string& name) {
        return jov::InstalledVersion(dir, name);
      },
      &key,
      pending};
  jov::ChildReaperLinux reaper{health};
  jov::ProcessTableLinux processes;
  jov::ProgramLauncherLinux programs{Cli_jov00000::DirJov, &reaper};
  jov::FileSystemLinux files;
  jov::RegistryHive registry{jov::DefaultHivePath()};
  jov::DialogsQt dialogs;
  jov::DatabaseQt database;
  jov::DatasetFilesXml datasets;
  jov::TaskbarLinux taskbar;
  jov::LibrarySettingsReal library{session};
  jov::ModuleLoaderReal modules{session.ProgramDirectory()};
  jov::ConsoleRunnerReal console{session.ProgramDirectory()};
  jov::DownloaderReal downloads{session};
  jov::HttpAppServerChannel server{session};
  jov::ThreadedUpdateReporter reports{session, {}, {&key, &pending}};

  jov::Services services{.processes = processes,
                         .programs = programs,
                         .files = files,
                         .registry = registry,
                         .clock = clock,
                         .dialogs = dialogs,
                         .database = database,
                         .datasets = datasets,
                         .taskbar = taskbar,
                         .host = unit.host,
                         .library = library,
                         .modules = modules,
                         .console = console,
                         .downloads = downloads,
                         .server = server,
                         .reports = reports};
};

// The host need not bring up Qt; the package does when nobody has.
std::unique_ptr<QApplication> EnsureApplication() {
  if (QCoreApplication::instance() != nullptr) return nullptr;
  static int argc = 1;
  static std::string name = jov::FileNameOf(unit.host.ExecutablePath());
  static char* argv[] = {name.data(), nullptr};
  return std::make_unique<QApplication>(argc, argv);
}

// While the launcher is shown, SIGTERM and SIGINT (the register shutting down, a technician's
// Ctrl+C) close the form and end every running event loop, also while the point-of-sale module
// runs, so the host still returns normally.
class CloseOnSignal {
 public:
  CloseOnSignal() {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
    write_end_ = pipe_[1];
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
      char drained[16];
      while (::read(pipe_[0], drained, sizeof drained) > 0) {
      }
      // A notice or a question above the form (the missing data file's notice, a question of
      // the update) runs a modal loop of its own that closing the form does not end: end
      // those first, a question as answered No, so that nothing waits for the operator.
      jov::EndModalWindowsAbove(Cli_jov00000::frmEscolheSistema);
      if (Cli_jov00000::frmEscolheSistema != nullptr) Cli_jov00000::frmEscolheSistema->close();
      // Closing the form ends only its own showing; whatever still runs above it (the
      // point-of-sale module's window, a wait for the operator) ends with every event loop.
      QCoreApplication::exit(0);
    });
    struct sigaction action {};
    action.sa_handler = [](int) {
      const char byte = 1;
      [[maybe_unused]] ssize_t n = ::write(write_end_, &byte, 1);
    };
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, &old_term_);
    ::sigaction(SIGINT, &action, &old_int_);
  }
  ~CloseOnSignal() {
    if (notifier_ == nullptr) return;
    ::sigaction(SIGTERM, &old_term_, nullptr);
    ::sigaction(SIGINT, &old_int_, nullptr);
    notifier_.reset();
    write_end_ = -1;
    ::close(pipe_[0]);
    ::close(pipe_[1]);
  }

 private:
  static inline int write_end_ = -1;
  int pipe_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier_;
  struct sigaction old_term_ {};
  struct sigaction old_int_ {};
};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) bool EscolheSistema() {
  auto application = EnsureApplication();
  CloseOnSignal close_on_signal;
  RealServices real;
  return Cli_jov00000::EscolheSistema(real.services);
}

__attribute__((visibility("default"))) void IniProc() { EscolheSistema(); }

}  // extern "C"
