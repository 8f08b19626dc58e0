// The client library's real operations behind the launcher's seams.
#pragma once

#include "clientlib/console_runner.h"
#include "clientlib/downloader.h"
#include "clientlib/library_settings.h"
#include "clientlib/module_loader.h"

namespace jov {

class LibrarySettingsReal : public LibrarySettings {
 public:
  std::string WorkingDirectory() override;
  std::string WebURL() override;
  int WebPort() override;
  std::string DriveC() override;
  std::string ConnectionString() override;
  std::vector<std::string> StartProblems() override;
};

// The folders the launcher must write, checked for the user running it: the program folder
// (owned by that user and writable) and the folder of the hive at hive_path (there and
// writable: the hive is replaced by a temporary file and a rename in it). One line each.
std::vector<std::string> FolderProblems(const std::string& program_dir,
                                        const std::string& hive_path);

class ModuleLoaderReal : public ModuleLoader {
 public:
  void Load(const std::string& code, bool flag) override;
  void Unload(const std::string& code) override;
};

class ConsoleRunnerReal : public ConsoleRunner {
 public:
  std::string GetDosOutput(const std::string& command_line, const std::string& drive) override;
};

class DownloaderReal : public Downloader {
 public:
  void GetExeFile(const std::vector<std::string>& local_paths,
                  const std::vector<std::string>& server_lines, const std::string& source,
                  bool& flag) override;
};

}  // namespace jov
