// The client library's real operations behind the launcher's seams.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "clientlib/console_runner.h"
#include "clientlib/downloader.h"
#include "clientlib/library_settings.h"
#include "clientlib/module_loader.h"

namespace jov {

class Session;

// The settings the start read (session must outlive it); StartProblems also looks at the
// folders, at each call.
class LibrarySettingsReal : public LibrarySettings {
 public:
  explicit LibrarySettingsReal(Session& session) : session_(session) {}
  std::string WorkingDirectory() override;
  std::string WebURL() override;
  int WebPort() override;
  std::string Proxy() override;
  std::string DriveC() override;
  std::string ConnectionString() override;
  std::vector<std::string> StartProblems() override;

 private:
  Session& session_;
};

// The folders the launcher must write, checked for the user running it: the program folder
// (owned by that user and writable) and the folder of the hive at hive_path (there and
// writable: the hive is replaced by a temporary file and a rename in it). One line each.
std::vector<std::string> FolderProblems(const std::string& program_dir,
                                        const std::string& hive_path);

// Modules are "<program_dir>/<code>.bpl".
class ModuleLoaderReal : public ModuleLoader {
 public:
  explicit ModuleLoaderReal(std::string program_dir) : program_dir_(std::move(program_dir)) {}
  void Load(const std::string& code, bool flag) override;
  void Unload(const std::string& code) override;

 private:
  std::string program_dir_;
};

// Batch files run with program_dir's bin/ first in PATH.
class ConsoleRunnerReal : public ConsoleRunner {
 public:
  explicit ConsoleRunnerReal(std::string program_dir) : program_dir_(std::move(program_dir)) {}
  std::string GetDosOutput(const std::string& command_line, const std::string& drive) override;

 private:
  std::string program_dir_;
};

// Downloads with the start's settings (working folder, size limit, key, proxy), identity and
// stall state; session must outlive it.
class DownloaderReal : public Downloader {
 public:
  explicit DownloaderReal(Session& session) : session_(session) {}
  void GetExeFile(const std::vector<std::string>& local_paths,
                  const std::vector<std::string>& server_lines, const std::string& source,
                  bool& flag) override;

 private:
  Session& session_;
};

}  // namespace jov
