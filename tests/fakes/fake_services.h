// Every fake wired into one jov::Services, sharing one record of calls; the one way tests
// build a Services, with real or special implementations in place of some fakes.
#pragma once

#include "Cli_jov00000/services.h"
#include "tests/fakes/fake_library.h"
#include "tests/fakes/fake_platform.h"

namespace jov::testing {

// The services a test puts in place of the fakes; the ones left null stay fakes. Name them
// in this order: Wire({.files = &real_files, .console = &kept_output}).
struct ServiceOverrides {
  ProcessTable* processes = nullptr;
  ProgramLauncher* programs = nullptr;
  FileSystem* files = nullptr;
  Registry* registry = nullptr;
  Clock* clock = nullptr;
  Dialogs* dialogs = nullptr;
  Database* database = nullptr;
  DatasetFiles* datasets = nullptr;
  Taskbar* taskbar = nullptr;
  HostPath* host = nullptr;
  LibrarySettings* library = nullptr;
  ModuleLoader* modules = nullptr;
  ConsoleRunner* console = nullptr;
  Downloader* downloads = nullptr;
  AppServerChannel* server = nullptr;
  UpdateReporter* reports = nullptr;
};

struct FakeServices {
  CallLog log;
  FakeProcessTable processes{log};
  FakeProgramLauncher programs{log};
  FakeFileSystem files{log};
  FakeRegistry registry{log};
  FakeClock clock{log};
  FakeDialogs dialogs{log};
  FakeDatabase database{log};
  FakeDatasetFiles datasets{log};
  FakeTaskbar taskbar{log};
  FakeHostPath host;
  FakeLibrarySettings library;
  FakeModuleLoader modules{log};
  FakeConsoleRunner console{log};
  FakeDownloader downloads{log};
  FakeAppServerChannel server{log};
  FakeUpdateReporter reports{log};

  // These fakes, each replaced by its override when one is given. The Services refers to
  // this object and the overrides: it must not outlive them.
  Services Wire(const ServiceOverrides& use = {}) {
    auto pick = [](auto* given, auto& fake) -> decltype(*given) {
      return given != nullptr ? *given : fake;
    };
    return Services{.processes = pick(use.processes, processes),
                    .programs = pick(use.programs, programs),
                    .files = pick(use.files, files),
                    .registry = pick(use.registry, registry),
                    .clock = pick(use.clock, clock),
                    .dialogs = pick(use.dialogs, dialogs),
                    .database = pick(use.database, database),
                    .datasets = pick(use.datasets, datasets),
                    .taskbar = pick(use.taskbar, taskbar),
                    .host = pick(use.host, host),
                    .library = pick(use.library, library),
                    .modules = pick(use.modules, modules),
                    .console = pick(use.console, console),
                    .downloads = pick(use.downloads, downloads),
                    .server = pick(use.server, server),
                    .reports = pick(use.reports, reports)};
  }

  Services services = Wire();
};

}  // namespace jov::testing
