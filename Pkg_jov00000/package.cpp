// The package entry: wires the real platform and client library to the launcher form.
#include "Pkg_jov00000/package.h"

#include <QApplication>
#include <memory>

#include "Cli_jov00000/frm_escolhe_sistema.h"
#include "clientlib/dialogs_qt.h"
#include "clientlib/http_channel.h"
#include "clientlib/library_services.h"
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

jov::HostPathLinux& RealHostPath() {
  static jov::HostPathLinux host;
  return host;
}

// Unit initialization and finalization run when the package is loaded and unloaded.
struct Unit {
  Unit() { Cli_jov00000::InicializaUnidade(RealHostPath()); }
  ~Unit() { Cli_jov00000::FinalizaUnidade(); }
} unit;

// The real services, alive for one showing of the launcher.
struct RealServices {
  jov::ProcessTableLinux processes;
  jov::ProgramLauncherLinux programs{Cli_jov00000::DirJov};
  jov::FileSystemLinux files;
  jov::RegistryHive registry{jov::DefaultHivePath()};
  jov::ClockLinux clock;
  jov::DialogsQt dialogs;
  jov::DatabaseQt database;
  jov::DatasetFilesXml datasets;
  jov::TaskbarLinux taskbar;
  jov::LibrarySettingsReal library;
  jov::ModuleLoaderReal modules;
  jov::ConsoleRunnerReal console;
  jov::DownloaderReal downloads;
  jov::HttpAppServerChannel server;

  jov::Services services{processes, programs, files,    registry,  clock,
                         dialogs,   database, datasets, taskbar,   RealHostPath(),
                         library,   modules,  console,  downloads, server};
};

// The host need not bring up Qt; the package does when nobody has.
std::unique_ptr<QApplication> EnsureApplication() {
  if (QCoreApplication::instance() != nullptr) return nullptr;
  static int argc = 1;
  static std::string name = jov::FileNameOf(RealHostPath().ExecutablePath());
  static char* argv[] = {name.data(), nullptr};
  return std::make_unique<QApplication>(argc, argv);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) bool EscolheSistema() {
  auto application = EnsureApplication();
  RealServices real;
  return Cli_jov00000::EscolheSistema(real.services);
}

__attribute__((visibility("default"))) void IniProc() { EscolheSistema(); }

}  // extern "C"
