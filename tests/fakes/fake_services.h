// Every fake wired into one jov::Services, sharing one record of calls.
#pragma once

#include "Cli_jov00000/services.h"
#include "tests/fakes/fake_library.h"
#include "tests/fakes/fake_platform.h"

namespace jov::testing {

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

  Services services{processes, programs, files,   registry, clock,   dialogs,   database, datasets,
                    taskbar,   host,     library, modules,  console, downloads, server};
};

}  // namespace jov::testing
