// Every platform and client-library service the launcher form uses; the package entry wires
// the real ones, tests wire fakes.
#pragma once

#include "clientlib/app_server_channel.h"
#include "clientlib/console_runner.h"
#include "clientlib/downloader.h"
#include "clientlib/library_settings.h"
#include "clientlib/module_loader.h"
#include "clientlib/update_report.h"
#include "platform/clock.h"
#include "platform/database.h"
#include "platform/dataset_files.h"
#include "platform/dialogs.h"
#include "platform/file_system.h"
#include "platform/host_path.h"
#include "platform/process_table.h"
#include "platform/program_launcher.h"
#include "platform/registry.h"
#include "platform/taskbar.h"

namespace jov {

struct Services {
  ProcessTable& processes;
  ProgramLauncher& programs;
  FileSystem& files;
  Registry& registry;
  Clock& clock;
  Dialogs& dialogs;
  Database& database;
  DatasetFiles& datasets;
  Taskbar& taskbar;
  HostPath& host;
  LibrarySettings& library;
  ModuleLoader& modules;
  ConsoleRunner& console;
  Downloader& downloads;
  AppServerChannel& server;
  UpdateReporter& reports;
};

}  // namespace jov
