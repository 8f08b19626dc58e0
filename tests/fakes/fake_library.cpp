#include "tests/fakes/fake_library.h"

#include "platform/cp1252.h"
#include "platform/errors.h"

namespace jov::testing {
namespace {

std::string Next(std::deque<std::string>& queue) {
  if (queue.empty()) return {};
  std::string reply = queue.front();
  if (queue.size() > 1) queue.pop_front();
  return reply;
}

}  // namespace

void FakeModuleLoader::Load(const std::string& code, bool flag) {
  log_.Add("modules.Load " + code + (flag ? " true" : " false"));
  if (fail_load) throw Error("Cannot load package " + code + ".bpl: not found");
  if (while_loaded) while_loaded();
}

void FakeModuleLoader::Unload(const std::string& code) { log_.Add("modules.Unload " + code); }

std::string FakeConsoleRunner::GetDosOutput(const std::string& command_line,
                                            const std::string& drive) {
  log_.Add("console.GetDosOutput " + command_line + " " + drive);
  command_lines.push_back(command_line);
  if (on_run) on_run(command_line);
  if (fail) throw Error("Cannot run " + command_line);
  return Next(outputs);
}

void FakeDownloader::GetExeFile(const std::vector<std::string>& local_paths,
                                const std::vector<std::string>& server_lines,
                                const std::string& source, bool& /*flag*/) {
  log_.Add("downloads.GetExeFile " + source);
  requested.push_back(local_paths);
  requested_lines.push_back(server_lines);
  last_source = source;
  if (error) std::rethrow_exception(error);
  if (fail) throw Error("Download from " + source + " failed");
  if (on_fetch) on_fetch(local_paths);
}

void FakeAppServerChannel::Open(const std::string& host, int port, const std::string& server_name) {
  log_.Add("server.Open " + host + ":" + std::to_string(port) + " " + server_name);
  if (fail_open)
    throw Error("Cannot connect to " + host + ":" + std::to_string(port) + ": refused",
                Cause::kExchangeFailed, {.detail = "o servidor recusou a conexão"_w});
  opened_host = host;
  opened_port = port;
  open = true;
}

void FakeAppServerChannel::Close() {
  log_.Add("server.Close");
  open = false;
}

std::string FakeAppServerChannel::Call(const std::string& method,
                                       const std::vector<std::string>& args) {
  log_.Add("server.Call " + method + (args.empty() ? "" : " " + args.front()));
  calls.emplace_back(method, args);
  if (!open) throw Error("Cannot call " + method + ": not connected", Cause::kNotConnected);
  if (failing_methods.count(method)) {
    throw Error("Call " + method + " failed: connection reset", Cause::kExchangeFailed,
                {.detail = "a conexão caiu"_w, .file = method});
  }
  return Next(replies[method]);
}

void FakeUpdateReporter::Send(const UpdateReport& report, const ReportTarget&, const std::string&,
                              const std::vector<std::string>&) {
  log_.Add("reports.Send " + std::string(protocol::OutcomeText(report.outcome)));
  sent.push_back(report);
  if (fail) fail();
}

}  // namespace jov::testing
