// The health of the programs the launcher starts: real children started by the real process
// code, their bad ends told to a scripted server, and what the server did not take carried by
// the next start's report.
#include "protocol/health.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QTimer>
#include <cerrno>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>

#include "clientlib/health_report.h"
#include "clientlib/register_key.h"
#include "clientlib/update_report.h"
#include "platform/child_reaper_linux.h"
#include "platform/cp1252.h"
#include "platform/program_launcher_linux.h"
#include "protocol/report.h"
#include "tests/fakes/fake_session.h"
#include "tests/health/verified.h"
#include "tests/server/scripted_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace jov::testing {
namespace {

const std::string kModule = "lum.rdmAtualizaEstrutura";

HttpAppServerChannel::Timeouts Short() { return {1000ms, 1000ms}; }

// Answers the connect check with 200 and every call with status.
ScriptedServer::Script CallsAnsweredWith(int status) {
  return [status](int fd, const std::string& request) {
    if (request.rfind("GET /" + kModule + "/ HTTP/1.1\r\n", 0) == 0) {
      Send(fd, Answer(200, kModule));
    } else {
      Send(fd, Answer(status, status == 200 ? "{\"result\": \"ok\"}" : "falhou"));
    }
    return ScriptedServer::kGoOn;
  };
}

// The one text argument of each call of method that reached the server.
std::vector<std::string> ArgumentsOf(ScriptedServer& server, const std::string& method) {
  std::vector<std::string> texts;
  for (const std::string& request : server.requests()) {
    if (request.rfind("POST /" + kModule + "/" + method + " ", 0) != 0) continue;
    const nlohmann::json args =
        nlohmann::json::parse(request.substr(request.find("\r\n\r\n") + 4), nullptr, false);
    if (args.is_array() && args.size() == 1 && args[0].is_string()) {
      texts.push_back(args[0].get<std::string>());
    }
  }
  return texts;
}

// An executable shell script in dir under name.
std::string Script(const TempDir& dir, const std::string& name, const std::string& body) {
  const std::string path = dir.Write(name, "#!/bin/sh\n" + body + "\n");
  ::chmod(path.c_str(), 0755);
  return path;
}

// The last-write time of a file as the event's stamp gives it.
std::string StampOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  std::tm tm{};
  localtime_r(&st.st_mtim.tv_sec, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &tm);
  return text;
}

// No child of this process is left, running or unreaped.
bool NoChildLeft() {
  siginfo_t info{};
  return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == -1 && errno == ECHILD;
}

const std::vector<std::string> kNames = {"JovSinc.exe", "JovTab.exe", "JovBpl.exe", "JovExp.exe"};

// A program that exits 3 and one that is killed soon after their start are each told once,
// signed, with the right fields; one that exits 0, one the launcher ends with TASKKILL and a
// program that is not a client program are not. Starting never waits for the program, the UI thread
// keeps turning meanwhile, and no zombie is left.
TEST(Health, ABadEndSoonAfterTheStartIsToldOnce) {
  TempDir dir;
  const std::string tab = Script(dir, "JovTab.exe", "sleep 0.3; exit 3");
  const std::string bpl = Script(dir, "JovBpl.exe", "kill -KILL $$");
  const std::string exp = Script(dir, "JovExp.exe", "exit 0");
  const std::string other = Script(dir, "Outro.exe", "exit 3");
  Script(dir, "JovSinc.exe", "echo $$ > " + dir.path() + "/sinc.pid; exec sleep 30");
  Script(dir, "bin/TASKKILL", "kill -KILL $(cat " + dir.path() + "/sinc.pid)");
  ScriptedServer server(CallsAnsweredWith(200));
  FakeSession start;
  start.session.Identity().Set("0001", "002");
  PendingHealth pending(dir.path());
  RegisterKey key(dir.path());
  const auto version_of = [](const std::string& name) -> std::optional<std::int64_t> {
    if (name == "JovTab.exe") return 42;
    return std::nullopt;
  };
  HealthReporter health(start.session, {"127.0.0.1", server.port(), ""}, kNames, version_of, &key,
                        pending, Short());
  {
    ChildReaperLinux reaper(health);
    ProgramLauncherLinux programs(dir.path(), &reaper);
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(1);
    const auto before = std::chrono::steady_clock::now();
    programs.ShellExecute(tab, "");
    programs.ShellExecute(bpl, "");
    programs.ShellExecute(exp, "");
    programs.WinExec(other);
    programs.ShellExecute(dir.path() + "/JovSinc.exe", "");
    EXPECT_LT(std::chrono::steady_clock::now() - before, 250ms) << "a start waits for nothing";
    ASSERT_TRUE(WaitUntil([&] { return !TempDir::Read(dir.path() + "/sinc.pid").empty(); }));
    programs.WinExec("TASKKILL /F /IM JovSinc.exe");
    EXPECT_TRUE(WaitUntil([&] { return ArgumentsOf(server, "ReportHealth").size() == 2; }));
    EXPECT_TRUE(WaitUntil(NoChildLeft)) << "every program that ended was reaped";
    EXPECT_GE(ticks, 10) << "the UI thread's events went on while the programs ran";
  }
  health.Wait();

  const struct {
    std::string name;
    std::optional<int> signal;
    std::optional<int> exit;
    std::optional<std::int64_t> version;
    double at_least;
  } expected[] = {{"JovTab.exe", std::nullopt, 3, 42, 0.3},
                  {"JovBpl.exe", 9, std::nullopt, std::nullopt, 0}};
  std::map<std::string, protocol::HealthEvent> told;
  std::vector<std::int64_t> counters;
  for (const std::string& text : ArgumentsOf(server, "ReportHealth")) {
    const std::optional<std::string> body = VerifiedBody(text);
    ASSERT_TRUE(body) << "the signature verifies over the body: " << text;
    protocol::Parsed<protocol::HealthEvent> event = protocol::ReadHealthEvent(*body);
    ASSERT_TRUE(event.value) << event.why;
    EXPECT_EQ(event.value->signer.key, key.PublicKey());
    counters.push_back(event.value->signer.counter.value_or(0));
    told[event.value->name] = *event.value;
  }
  ASSERT_EQ(told.size(), 2u) << "each program told once";
  for (const auto& want : expected) {
    SCOPED_TRACE(want.name);
    const protocol::HealthEvent& event = told[want.name];
    EXPECT_EQ(event.filial, "0001");
    EXPECT_EQ(event.caixa, "002");
    EXPECT_EQ(event.host, cp1252::ToUtf8(start.session.HostName()));
    EXPECT_EQ(event.signal, want.signal);
    EXPECT_EQ(event.exit, want.exit);
    EXPECT_EQ(event.version, want.version);
    EXPECT_EQ(event.stamp, StampOf(dir.path() + "/" + want.name));
    EXPECT_GE(event.seconds, want.at_least);
    EXPECT_LT(event.seconds, 10);
  }
  std::sort(counters.begin(), counters.end());
  EXPECT_EQ(counters, (std::vector<std::int64_t>{1, 2}));
  EXPECT_TRUE(pending.Events().empty()) << "the server took both";
}

// Which ends are told: a bad end within 120 s of the start of a client program, whatever the
// letter case of its file name, unless the launcher asked for it.
TEST(Health, OnlyABadEndOfAClientProgramWithin120SecondsIsTold) {
  const struct {
    const char* program;
    std::optional<int> signal;
    std::optional<int> exit;
    std::chrono::milliseconds ran;
    bool told;
    bool asked = false;
  } cases[] = {
      {"/caixa/JovTab.exe", std::nullopt, 3, 5s, true},
      {"/caixa/JovTab.exe", 9, std::nullopt, 119s, true},
      {"/caixa/JovTab.exe", std::nullopt, 3, 120s, true},
      {"/caixa/JovTab.exe", std::nullopt, 3, 120001ms, false},
      {"/caixa/JovTab.exe", 11, std::nullopt, 121s, false},
      {"/caixa/JovTab.exe", std::nullopt, 0, 1s, false},
      {"/caixa/JOVTAB.EXE", std::nullopt, 255, 1s, true},
      {"/caixa/JovTab", std::nullopt, 3, 1s, false},
      {"/caixa/Outro.exe", std::nullopt, 3, 1s, false},
      {"/usr/bin/TASKKILL", 9, std::nullopt, 1s, false},
      {"/caixa/JovBpl.exe", 9, std::nullopt, 1s, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.program) + " after " + std::to_string(c.ran.count()) + " ms");
    const ProgramEnd end{c.program, std::time_t{0}, c.signal, c.exit, c.ran, c.asked};
    const std::optional<protocol::HealthEvent> event = HealthEventOf(end, kNames);
    ASSERT_EQ(event.has_value(), c.told);
    if (!event) continue;
    EXPECT_EQ(event->name, std::string(c.program).substr(7));
    EXPECT_EQ(event->signal, c.signal);
    EXPECT_EQ(event->exit, c.exit);
    EXPECT_DOUBLE_EQ(event->seconds, c.ran.count() / 1000.0);
  }
}

// An event the server does not take is kept in the working folder and goes with the next
// start's report, signed with the next counter; it is dropped only once that report is taken.
TEST(Health, AnEventNotTakenGoesWithTheNextStartsReport) {
  for (const int status : {200, 500}) {
    SCOPED_TRACE("the report answered " + std::to_string(status));
    TempDir dir;
    ScriptedServer refuses(CallsAnsweredWith(500));
    {
      FakeSession start;
      start.session.Identity().Set("0001", "002");
      PendingHealth pending(dir.path());
      RegisterKey key(dir.path());
      HealthReporter health(start.session, {"127.0.0.1", refuses.port(), ""}, kNames, {}, &key,
                            pending, Short());
      health.ProgramEnded({dir.path() + "/JovTab.exe", std::nullopt, std::nullopt, 3, 2s});
      health.Wait();
    }
    ASSERT_EQ(ArgumentsOf(refuses, "ReportHealth").size(), 1u);

    FakeSession next;
    PendingHealth pending(dir.path());
    RegisterKey key(dir.path());
    const std::vector<protocol::HealthEvent> kept = pending.Events();
    ASSERT_EQ(kept.size(), 1u) << "kept for the next start";
    EXPECT_EQ(kept[0].exit, 3);
    ScriptedServer server(CallsAnsweredWith(status));
    {
      ThreadedUpdateReporter reporter(next.session, Short(), {&key, &pending});
      UpdateReport report;
      report.filial = "0001";
      report.caixa = "002";
      report.started = IsoLocalNow();
      reporter.Send(report, {"127.0.0.1", server.port(), ""}, dir.path(), {});
      reporter.Wait();
    }
    const std::vector<std::string> texts = ArgumentsOf(server, "ReportUpdate");
    ASSERT_EQ(texts.size(), 1u);
    const std::optional<std::string> body = VerifiedBody(texts[0]);
    ASSERT_TRUE(body) << "the signature verifies over the body: " << texts[0];
    protocol::Parsed<protocol::Report> taken = protocol::ReadReport(*body);
    ASSERT_TRUE(taken.value) << taken.why;
    EXPECT_EQ(taken.value->signer.counter, 2) << "one more than the event's, across starts";
    EXPECT_EQ(taken.value->health, kept);
    EXPECT_EQ(pending.Events().size(), status == 200 ? 0u : 1u);
  }
}

}  // namespace
}  // namespace jov::testing
