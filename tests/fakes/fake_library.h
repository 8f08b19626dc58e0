// Fakes of the client library's seams: settings, modules, console, downloads, server channel.
#pragma once

#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <set>

#include "clientlib/app_server_channel.h"
#include "clientlib/console_runner.h"
#include "clientlib/downloader.h"
#include "clientlib/library_settings.h"
#include "clientlib/module_loader.h"
#include "clientlib/update_report.h"
#include "tests/fakes/call_log.h"

namespace jov::testing {

class FakeLibrarySettings : public LibrarySettings {
 public:
  std::string working_directory = "/work/";
  std::string web_url = "srv01";
  int web_port = 8211;
  std::string proxy;
  std::string drive_c = "/c/";
  std::string connection_string = "Provider=QSQLITE;Data Source=:memory:";
  std::string WorkingDirectory() override { return working_directory; }
  std::string WebURL() override { return web_url; }
  int WebPort() override { return web_port; }
  std::string Proxy() override { return proxy; }
  std::string DriveC() override { return drive_c; }
  std::string ConnectionString() override { return connection_string; }
  std::vector<std::string> start_problems;
  std::vector<std::string> StartProblems() override { return start_problems; }
};

class FakeModuleLoader : public ModuleLoader {
 public:
  explicit FakeModuleLoader(CallLog& log) : log_(log) {}
  bool fail_load = false;
  std::function<void()> while_loaded;  // runs "inside" the module
  void Load(const std::string& code, bool flag) override;
  void Unload(const std::string& code) override;

 private:
  CallLog& log_;
};

// Console output by command: the reply for the first rule whose text the batch file holds
// (the batch file's content is read through the file fake when one is given).
class FakeConsoleRunner : public ConsoleRunner {
 public:
  explicit FakeConsoleRunner(CallLog& log) : log_(log) {}
  std::deque<std::string> outputs;  // replies in order; the last one repeats
  bool fail = false;
  std::vector<std::string> command_lines;
  std::function<void(const std::string&)> on_run;  // sees the command line before replying
  std::string GetDosOutput(const std::string& command_line, const std::string& drive) override;

 private:
  CallLog& log_;
};

class FakeDownloader : public Downloader {
 public:
  explicit FakeDownloader(CallLog& log) : log_(log) {}
  bool fail = false;         // throws jov::Error
  std::exception_ptr error;  // thrown instead, when set (e.g. a jov::SignatureError)
  // Runs before a successful return, e.g. to place the files in the working folder.
  std::function<void(const std::vector<std::string>& local_paths)> on_fetch;
  std::vector<std::vector<std::string>> requested;
  std::vector<std::vector<std::string>> requested_lines;  // the server lines of each call
  std::string last_source;
  void GetExeFile(const std::vector<std::string>& local_paths,
                  const std::vector<std::string>& server_lines, const std::string& source,
                  bool& flag) override;

 private:
  CallLog& log_;
};

// The application server as a script: a reply (or a failure) per method.
class FakeAppServerChannel : public AppServerChannel {
 public:
  explicit FakeAppServerChannel(CallLog& log) : log_(log) {}
  bool fail_open = false;
  std::map<std::string, std::deque<std::string>> replies;  // method -> replies; last repeats
  std::set<std::string> failing_methods;
  std::vector<std::pair<std::string, std::vector<std::string>>> calls;
  std::string opened_host;
  int opened_port = 0;
  bool open = false;
  void Open(const std::string& host, int port, const std::string& server_name) override;
  void Close() override;
  std::string Call(const std::string& method, const std::vector<std::string>& args) override;

 private:
  CallLog& log_;
};

// Records each report it is given, with the JSON it would send.
class FakeUpdateReporter : public UpdateReporter {
 public:
  explicit FakeUpdateReporter(CallLog& log) : log_(log) {}
  void Send(const UpdateReport& report, const ReportTarget& target, const std::string& program_dir,
            const std::vector<std::string>& names) override;
  std::vector<UpdateReport> sent;
  // Called after the report is recorded; may throw to stand for a sender that fails.
  std::function<void()> fail;

 private:
  CallLog& log_;
};

}  // namespace jov::testing
