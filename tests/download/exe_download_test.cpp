// Program-file downloads against real HTTP and HTTPS servers on loopback, with archives made
// by Info-ZIP's zip and python3's zipfile.
#include "clientlib/exe_download.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "Cli_jov00000/update/baixa_exe.h"
#include "clientlib/archive_signature.h"
#include "clientlib/client_ini.h"
#include "clientlib/delta_patch.h"
#include "clientlib/download_progress.h"
#include "clientlib/http_channel.h"
#include "clientlib/library_services.h"
#include "clientlib/release_check.h"
#include "clientlib/server_stall.h"
#include "clientlib/update_report.h"
#include "clientlib/versions.h"
#include "platform/cp1252.h"
#include "platform/file_system_linux.h"
#include "protocol/file_names.h"
#include "protocol/release.h"
#include "server/sign/delta.h"
#include "server/sign/signing.h"
#include "tests/fakes/fake_library.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/fake_session.h"
#include "tests/server/scripted_server.h"
#include "tests/server/server_support.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace jov::testing {
namespace {

namespace fs = std::filesystem;
using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

// Runs a program from an argv vector; false (with its error output) unless it exits 0.
::testing::AssertionResult RunCommand(const std::vector<std::string>& argv,
                                      const std::string& dir) {
  const std::string err = dir + "/command.err";
  Process process(argv, {}, err);
  if (process.started() && process.Wait(60s) == std::optional<int>(0)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << argv[0] << " failed: " << TempDir::Read(err);
}

// 300 KiB that deflate shrinks only in part: pseudo-random bytes mixed with text.
std::string Payload() {
  std::string bytes;
  std::uint32_t x = 12345;
  while (bytes.size() < 300 * 1024) {
    x = x * 1103515245u + 12345u;
    bytes +=
        (x >> 24) % 3 == 0 ? std::string("JovTab ") : std::string(1, static_cast<char>(x >> 16));
  }
  return bytes;
}

// A loopback server (plain or TLS) answering each path through the handler routed to it.
class TestServer {
 public:
  explicit TestServer(std::unique_ptr<httplib::Server> server) : server_(std::move(server)) {
    server_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
      Handler handler;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto route = routes_.find(request.path);
        if (route != routes_.end()) handler = route->second;
      }
      if (handler) {
        handler(request, response);
      } else {
        response.status = 404;
      }
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    EXPECT_TRUE(WaitUntil([this] { return server_->is_running(); }));
  }
  ~TestServer() {
    Release();
    server_->stop();
    thread_.join();
  }
  void Route(const std::string& path, Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = std::move(handler);
  }
  int port() const { return port_; }
  // Lets a handler that holds its answer back end.
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    released_signal_.notify_all();
  }
  // Sends the first part bytes of the whole, then nothing until released (at most 20 s).
  Handler Stall(std::string bytes, std::size_t part) {
    return [this, bytes, part](const httplib::Request&, httplib::Response& response) {
      response.set_content_provider(
          bytes.size(), "application/zip",
          [this, bytes, part](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (offset < part) return sink.write(bytes.data(), part);
            std::unique_lock<std::mutex> lock(mutex_);
            released_signal_.wait_for(lock, 20s, [this] { return released_; });
            return false;
          });
    };
  }

 private:
  std::unique_ptr<httplib::Server> server_;
  std::mutex mutex_;
  std::condition_variable released_signal_;
  bool released_ = false;
  std::map<std::string, Handler> routes_;
  std::thread thread_;
  int port_ = 0;
};

Handler Whole(std::string bytes) {
  return [bytes](const httplib::Request&, httplib::Response& response) {
    response.set_content(bytes, "application/zip");
  };
}

Handler Chunked(std::string bytes) {
  return [bytes](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider(
        "application/zip", [bytes](std::size_t offset, httplib::DataSink& sink) {
          const std::size_t n = std::min<std::size_t>(16 * 1024, bytes.size() - offset);
          if (n > 0) sink.write(bytes.data() + offset, n);
          if (offset + n == bytes.size()) sink.done();
          return true;
        });
  };
}

// No Content-Length: the end of the connection ends the body.
Handler Unsized(std::string bytes) {
  return [bytes](const httplib::Request&, httplib::Response& response) {
    response.set_content_provider("application/zip",
                                  [bytes](std::size_t offset, httplib::DataSink& sink) {
                                    if (offset < bytes.size())
                                      sink.write(bytes.data() + offset, bytes.size() - offset);
                                    sink.done();
                                    return true;
                                  });
  };
}

// Announces the whole, sends the first part bytes and closes the connection.
Handler Cut(std::string bytes, std::size_t part) {
  return [bytes, part](const httplib::Request&, httplib::Response& response) {
    response.set_content_provider(
        bytes.size(), "application/zip",
        [bytes, part](std::size_t offset, std::size_t, httplib::DataSink& sink) {
          return offset < part && sink.write(bytes.data(), part);
        });
  };
}

Handler Redirect(std::string location, int status = 302) {
  return [location, status](const httplib::Request&, httplib::Response& response) {
    response.status = status;
    response.set_header("Location", location);
  };
}

class Recorder : public DownloadProgress {
 public:
  void Begin(const std::string& file, std::int64_t total) override {
    events.push_back("Begin " + file + " " + std::to_string(total));
    last = 0;
  }
  void Advance(std::int64_t received) override {
    EXPECT_GT(received, last) << "progress only grows";
    last = received;
  }
  void End() override { events.push_back("End at " + std::to_string(last)); }
  std::vector<std::string> events;
  std::int64_t last = 0;
};

// Makes its calling thread honour file permissions even as root, for the scope: capabilities
// belong to a thread, so the server threads keep theirs.
class WithoutDacOverride {
 public:
  WithoutDacOverride() {
    syscall(SYS_capget, &header_, saved_);
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[0].effective &= ~(1u << CAP_DAC_OVERRIDE);
    syscall(SYS_capset, &header_, reduced);
  }
  ~WithoutDacOverride() { syscall(SYS_capset, &header_, saved_); }

 private:
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved_[2]{};
};

class ExeDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_.working_directory = work_.path() + "/";
    settings_.stall = &stall_;
    files_.Write("JovTab.exe", payload_);
    deflated_ = Zip("-9");
    http_.Route("/ok/JovTab.exe.zip", Whole(deflated_));
  }
  std::string Origin() const { return "http://127.0.0.1:" + std::to_string(http_.port()); }
  std::string Base(const std::string& folder) const { return Origin() + "/" + folder + "/"; }
  void Download(const std::string& source, const std::string& name = "JovTab.exe.zip") {
    DownloadExeFiles({name + "=20240131235959"}, source, settings_, &progress_);
  }
  std::string Downloaded() const { return TempDir::Read(work_.path() + "/JovTab.exe"); }
  // The download from the source gives the whole file, which then goes for the next one.
  void ExpectDownloads(const std::string& source) {
    ASSERT_NO_THROW(Download(source));
    EXPECT_EQ(Downloaded(), payload_);
    fs::remove(work_.path() + "/JovTab.exe");
  }
  std::vector<std::string> WorkFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(work_.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // An archive of JovTab.exe made by zip with the given options (-0 stores, -9 deflates).
  std::string Zip(const std::string& options) {
    fs::remove(files_.path() + "/a.zip");
    EXPECT_TRUE(
        RunCommand({"/bin/sh", "-c", "cd \"$1\" && zip -q -X " + options + " a.zip JovTab.exe",
                    "sh", files_.path()},
                   files_.path()));
    return TempDir::Read(files_.path() + "/a.zip");
  }
  // zip writing to a pipe: sizes and CRC after the data, the data-descriptor flag set.
  std::string ZipThroughPipe() {
    EXPECT_TRUE(RunCommand(
        {"/bin/sh", "-c", "cd \"$1\" && zip -q - JovTab.exe | cat > p.zip", "sh", files_.path()},
        files_.path()));
    return TempDir::Read(files_.path() + "/p.zip");
  }
  // python3's zipfile: the entry under the given name holding content, zip64 when asked.
  std::string PythonZip(const std::string& entry, const std::string& content, bool zip64) {
    const std::string in = files_.Write("content.bin", content);
    const std::string out = files_.path() + "/py.zip";
    const char* script =
        "import sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "    with z.open(sys.argv[2], 'w', force_zip64=sys.argv[4] == '1') as w:\n"
        "        w.write(open(sys.argv[3], 'rb').read())\n";
    EXPECT_TRUE(RunCommand({"/usr/bin/python3", "-c", script, out, entry, in, zip64 ? "1" : "0"},
                           files_.path()));
    return TempDir::Read(out);
  }

  // The download fails naming the file and each fragment, leaves the working folder empty,
  // and the next download from a healthy server works.
  void ExpectCleanFailure(const std::function<void()>& download,
                          const std::vector<std::string>& fragments) {
    std::string message = "no error";
    try {
      download();
    } catch (const Error& error) {
      message = error.what();
    }
    EXPECT_NE(message.find("JovTab.exe"), std::string::npos) << message;
    for (const std::string& fragment : fragments) {
      EXPECT_NE(message.find(fragment), std::string::npos) << message;
    }
    EXPECT_EQ(WorkFiles(), std::vector<std::string>{}) << message;
    EXPECT_EQ(progress_.events.size() % 2, 0u) << "every Begin has its End";
    const std::string folder = settings_.working_directory;
    settings_ = ExeDownloadSettings{};  // a start of its own: no stall noted
    settings_.working_directory = folder;
    ExpectDownloads(Base("ok"));
  }

  const std::string payload_ = Payload();
  std::string deflated_;  // JovTab.exe by zip -9, served under /ok/
  TempDir work_;
  TempDir files_;
  TestServer http_{std::make_unique<httplib::Server>()};
  ServerStall stall_;  // the start's
  ExeDownloadSettings settings_;
  Recorder progress_;
};

TEST_F(ExeDownload, EveryKindOfArchiveAndAnswerGivesTheWholeFile) {
  const std::string stored = Zip("-0");
  const std::string piped = ZipThroughPipe();
  const std::string zip64 = PythonZip("jovtab.EXE", payload_, true);
  const struct {
    const char* label;
    Handler (*serve)(std::string);
    const std::string& archive;
    bool sized;  // the answer tells its length, and Begin hears it
  } cases[] = {
      {"stored", Whole, stored, true},
      {"deflated", Whole, deflated_, true},
      {"data descriptor", Whole, piped, true},
      {"zip64, entry name in other case", Whole, zip64, true},
      {"chunked", Chunked, deflated_, false},
      {"no length", Unsized, deflated_, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    http_.Route("/case/JovTab.exe.zip", c.serve(c.archive));
    progress_ = Recorder{};
    // Neither a stale file under the final name nor a temporary left by a power cut is in
    // the way, and the temporaries go, with no other file.
    work_.Write("JovTab.exe", "old");
    work_.Write(".JovTab.exe.jov-tmp-AAAAAA", "left over");
    for (const char* old : {".JovTab.exe.jov-tmp-BBBBBB", ".JovTab.exe.jov-tmp-CC", "a.tmp"}) {
      fs::last_write_time(work_.Write(old, "old"), fs::file_time_type::clock::now() - 48h);
    }
    ASSERT_NO_THROW(Download(Base("case")));
    EXPECT_EQ(Downloaded(), payload_);
    EXPECT_EQ(fs::status(work_.path() + "/JovTab.exe").permissions() & fs::perms::owner_exec,
              fs::perms::owner_exec);
    EXPECT_EQ(WorkFiles(),
              (std::vector<std::string>{".JovTab.exe.jov-tmp-CC", "JovTab.exe", "a.tmp"}))
        << "no temporary of its own left, however young";
    const auto size = static_cast<std::int64_t>(c.archive.size());
    ASSERT_EQ(progress_.events.size(), 2u);
    EXPECT_EQ(progress_.events[0], "Begin JovTab.exe " + std::to_string(c.sized ? size : -1));
    EXPECT_EQ(progress_.events[1], "End at " + std::to_string(size));
  }
}

// Fault: [Update] MaxKBps read but never handed to the transfer, so that opening hour takes the
// shop's whole link. Only a lower bound: a loaded machine may be slower, never faster.
TEST_F(ExeDownload, TheRateCapHoldsTheDownloadToIt) {
  const std::string stored = Zip("-0");  // 300 KiB that do not shrink
  http_.Route("/capped/JovTab.exe.zip", Whole(stored));
  settings_.max_kbps = 200;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_NO_THROW(Download(Base("capped")));
  EXPECT_EQ(Downloaded(), payload_);
  // 1.5 s at the cap, however much of it the socket's buffers took at once.
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1400ms);
}

TEST_F(ExeDownload, RedirectsAreFollowedFiveTimesAtMost) {
  // /rN/ leads to /r(N-1)/ by relative, absolute-path and absolute-URL locations in turn.
  http_.Route("/r0/JovTab.exe.zip", Whole(deflated_));
  for (int n = 1; n <= 6; ++n) {
    const std::string next = "r" + std::to_string(n - 1) + "/JovTab.exe.zip";
    const std::string location = n % 3 == 0   ? "../" + next
                                 : n % 3 == 1 ? "/" + next
                                              : Origin() + "/" + next;
    http_.Route("/r" + std::to_string(n) + "/JovTab.exe.zip", Redirect(location, 301 + n % 2));
  }
  ExpectDownloads(Base("r3"));
  ExpectDownloads(Base("r5"));
  ExpectCleanFailure([&] { Download(Base("r6")); }, {"more than 5 redirects"});
}

TEST_F(ExeDownload, FaultsFailNamingTheFileAndLeaveNothingBehind) {
  const std::string stored = Zip("-0");
  std::string flipped = stored;
  flipped[stored.find(payload_.substr(1000, 64)) + 10] ^= 0x01;
  const std::string big = PythonZip("JovTab.exe", Payload() + Payload() + Payload() + Payload(),
                                    false);  // about 0.6 MiB packed, 1.2 MiB unpacked
  const std::string zeros = PythonZip("JovTab.exe", std::string(3 << 20, '\0'), false);
  const std::string stored_big = stored + std::string(1 << 20, 'x');  // over 1 MiB sent
  const struct {
    const char* label;
    Handler serve;
    std::int64_t max_mb;
    std::vector<std::string> expected;
  } cases[] = {
      {"not found", [](auto&, auto& r) { r.status = 404; }, 0, {"HTTP 404"}},
      {"server error", [](auto&, auto& r) { r.status = 500; }, 0, {"HTTP 500"}},
      {"redirect elsewhere than http", Redirect("ftp://127.0.0.1/x"), 0, {"ftp://"}},
      {"closed mid-body", Cut(stored, 100 * 1024), 0, {"closed after"}},
      {"one byte flipped", Whole(flipped), 0, {"CRC error"}},
      {"no such entry", Whole(PythonZip("Other.exe", payload_, false)), 0, {"no entry JovTab.exe"}},
      {"entry name as a path",
       Whole(PythonZip("../JovTab.exe", payload_, false)),
       0,
       {"no entry JovTab.exe"}},
      {"not an archive", Whole(std::string(5000, 'z')), 0, {"not a usable zip archive"}},
      {"too large by length", Whole(stored_big), 1, {"more than the limit of 1 MiB"}},
      {"too large while streaming", Chunked(stored_big), 1, {"larger than the limit of 1 MiB"}},
      {"unpacks too large", Whole(big), 1, {"more than the limit of 1 MiB"}},
      {"unpacks too large, small archive", Chunked(zeros), 1, {"more than the limit of 1 MiB"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    http_.Route("/bad/JovTab.exe.zip", c.serve);
    if (c.max_mb > 0) settings_.max_bytes = c.max_mb << 20;
    ExpectCleanFailure([&] { Download(Base("bad")); }, c.expected);
  }
}

TEST_F(ExeDownload, NoSpaceIsToldBeforeTheDiskFills) {
  // A disk with 100 KiB free when the download begins.
  const auto free_space = [](const std::string& folder) {
    std::int64_t free = 100 * 1024;
    for (const auto& entry : fs::directory_iterator(folder)) {
      free -= static_cast<std::int64_t>(entry.file_size());
    }
    return free;
  };
  http_.Route("/c/JovTab.exe.zip", Chunked(Zip("-0")));
  for (const char* folder : {"ok", "c"}) {
    SCOPED_TRACE(folder);
    settings_.free_space = free_space;
    ExpectCleanFailure([&] { Download(Base(folder)); }, {"no space left in " + work_.path()});
  }
}

TEST_F(ExeDownload, AReadOnlyWorkingFolderFailsNamingIt) {
  ExpectCleanFailure(
      [&] {
        struct Writable {
          std::string folder;
          ~Writable() { fs::permissions(folder, fs::perms::owner_all); }
        } restore{work_.path()};
        fs::permissions(work_.path(), fs::perms::owner_read | fs::perms::owner_exec);
        const WithoutDacOverride honour_permissions;
        Download(Base("ok"));
      },
      {"cannot create a file in " + work_.path() + "/", "Permission denied"});
}

TEST_F(ExeDownload, AStalledServerEndsTheDownloadAndTheLaterOnesAtOnce) {
  http_.Route("/slow/JovTab.exe.zip", http_.Stall(Zip("-0"), 64 * 1024));
  settings_.stall_timeout = 1s;
  const auto start = std::chrono::steady_clock::now();
  const std::string message = MessageOf<Error>([&] { Download(Base("slow")); });
  EXPECT_NE(message.find("JovTab.exe.zip"), std::string::npos) << message;
  EXPECT_NE(message.find("less than 1 KiB/s for 1 s"), std::string::npos) << message;
  EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
  http_.Release();
  EXPECT_TRUE(stall_.Stalled());
  EXPECT_EQ(WorkFiles(), std::vector<std::string>{});
  // Even a healthy source is not tried again in this start.
  ExpectCleanFailure([&] { Download(Base("ok")); },
                     {"stopped answering earlier", "less than 1 KiB/s for 1 s"});
}

TEST_F(ExeDownload, ATrickleOrAHugeHeadEndsTheDownloadWithinItsBounds) {
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(deflated_.size()) + "\r\n\r\n";
  const struct {
    const char* what;
    ScriptedServer::Script script;
    std::string cause;
  } cases[] = {
      // Each byte well within the stall time, so that a bound per read never ends it.
      {"the head a byte at a time",
       [&](int fd, const std::string&) {
         Trickle(fd, head + deflated_, 700ms, 9s);
         return ScriptedServer::kClose;
       },
       "less than 1 KiB/s for 2 s"},
      {"the body a byte at a time",
       [&](int fd, const std::string&) {
         Send(fd, head);
         Trickle(fd, deflated_, 300ms, 9s);
         return ScriptedServer::kClose;
       },
       "less than 1 KiB/s for 2 s"},
      // Once a crash of the client: its parser recursed once per byte of the status line.
      {"a status line of 2 MiB",
       [&](int fd, const std::string&) {
         Send(fd, "HTTP/1.1 200 " + std::string(2 << 20, 'O') + "\r\n\r\n");
         return ScriptedServer::kClose;
       },
       "the answer's head exceeded"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedServer server(c.script);
    const auto start = std::chrono::steady_clock::now();
    ExpectCleanFailure(
        [&] {
          settings_.stall_timeout = 2s;
          Download("http://127.0.0.1:" + std::to_string(server.port()) + "/");
        },
        {c.cause});
    EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
  }
}

TEST_F(ExeDownload, ALineThatNamesNoArchiveIsPassedOver) {
  for (const std::string line :
       {"JovTab.exe.zip.sig=20240131235959", "JovTab.exe.zip.release=20240131235959",
        "JovTab.exe.zip.release.sig=20240131235959", "JovTab.exe=20240131235959"}) {
    SCOPED_TRACE(line);
    ASSERT_NO_THROW(DownloadExeFiles({line}, Base("ok"), settings_, nullptr));
    EXPECT_EQ(WorkFiles(), std::vector<std::string>{});
    // Beside its archive, such a line is no file of its own.
    ASSERT_NO_THROW(
        DownloadExeFiles({line, "JovTab.exe.zip=1", line}, Base("ok"), settings_, nullptr));
    EXPECT_EQ(Downloaded(), payload_);
    fs::remove(work_.path() + "/JovTab.exe");
  }
}

TEST_F(ExeDownload, TheFileLandsUnderTheProgramFoldersSpellingOfItsName) {
  http_.Route("/ok/jovtab.EXE.zip", Whole(deflated_));
  DownloadExeFiles({"jovtab.EXE.zip=1"}, Base("ok"), settings_, nullptr, {"/caixa/JovTab.exe"});
  EXPECT_EQ(WorkFiles(), std::vector<std::string>{"JovTab.exe"});
  EXPECT_EQ(Downloaded(), payload_);
}

TEST_F(ExeDownload, TheWorkingFolderIsPrivateToTheLauncher) {
  // A missing one is made for this user alone.
  settings_.working_directory = work_.path() + "/new/work/";
  ASSERT_NO_THROW(Download(Base("ok")));
  EXPECT_EQ(fs::status(work_.path() + "/new/work").permissions(), fs::perms::owner_all);
  const std::string shared = work_.path() + "/shared";
  fs::create_directories(shared);
  const struct {
    const char* what;
    fs::perms perms;
    uid_t owner;
    std::string cause;
  } cases[] = {
      {"others may write", fs::perms::all, ::geteuid(), "other users can write in"},
      {"its group may write", fs::perms::owner_all | fs::perms::group_all, ::geteuid(),
       "other users can write in"},
      {"another user's", fs::perms::owner_all, 65534, "belongs to another user"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::permissions(shared, c.perms);
    ASSERT_EQ(::chown(shared.c_str(), c.owner, static_cast<gid_t>(-1)), 0);
    settings_.working_directory = shared + "/";
    const Error failure = ErrorOf([&] { Download(Base("ok")); });
    EXPECT_NE(std::string(failure.what()).find(c.cause), std::string::npos) << failure.what();
    EXPECT_NE(failure.reason().find("pasta de trabalho " + shared), std::string::npos)
        << failure.reason();
    EXPECT_FALSE(fs::exists(shared + "/JovTab.exe"));
    ASSERT_EQ(::chown(shared.c_str(), ::geteuid(), static_cast<gid_t>(-1)), 0);
  }
}

TEST_F(ExeDownload, AMissingSignatureIsASignatureErrorNamingWhereItWasLookedFor) {
  const std::string key = "MCowBQYDK2VwAyEAGb9ECWmEzf6FQbrBZ9w7lshQhqowtrbLDFw4rXAxZuE=";
  settings_.public_key = key;
  http_.Route("/big/JovTab.exe.zip", Whole(deflated_));
  http_.Route("/big/JovTab.exe.zip.sig", Chunked(std::string(5000, 'A')));
  EXPECT_EQ(MessageOf<SignatureError>([&] { Download(Base("ok")); }),
            "Cannot install JovTab.exe.zip: no signature at " + Base("ok") + "JovTab.exe.zip.sig");
  EXPECT_EQ(WorkFiles(), std::vector<std::string>{});
  ExpectCleanFailure(
      [&] {
        settings_.public_key = key;
        Download(Base("big"));
      },
      {"larger than 4 KiB"});
}

TEST_F(ExeDownload, HttpsChecksTheServersCertificate) {
  TempDir tls;
  const std::string cert = tls.path() + "/cert.pem";
  const std::string key = tls.path() + "/key.pem";
  ASSERT_TRUE(
      RunCommand({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                  "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", cert, "-days",
                  "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"},
                 tls.path()));
  TestServer https(std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str()));
  https.Route("/s/JovTab.exe.zip", Chunked(deflated_));
  const std::string source = "HTTPS://127.0.0.1:" + std::to_string(https.port()) + "/s/";
  settings_.ca_file = cert;
  ExpectDownloads(source);
  // Nor does a checked connection hand over to an unchecked one.
  https.Route("/down/JovTab.exe.zip", Redirect(Base("ok") + "JovTab.exe.zip"));
  ExpectCleanFailure(
      [&] {
        settings_.ca_file = cert;
        Download("https://127.0.0.1:" + std::to_string(https.port()) + "/down/");
      },
      {"redirected from https"});
  // With no authority given, the system's store counts: here OpenSSL's default file, which
  // SSL_CERT_FILE moves to the test's certificate.
  settings_.ca_file.clear();
  ::setenv("SSL_CERT_FILE", cert.c_str(), 1);
  ExpectDownloads(source);
  ::unsetenv("SSL_CERT_FILE");
  // Without the test's authority the certificate is nobody's.
  ExpectCleanFailure([&] { Download(source); }, {"certificate is not trusted"});
}

TEST_F(ExeDownload, TheReferenceServersReplyLeadsToItsArchives) {
  TempDir updates;
  updates.Write("JovTab.exe.zip", deflated_);
  // Never listed by the reference server; a server that lists it must not fail the update.
  updates.Write("JovTab.exe.zip.sig", "c2lnbmF0dXJl\n");
  AppServer server({"--updates", updates.path()}, files_.path() + "/server.err");
  ASSERT_GT(server.port(), 0);
  HttpAppServerChannel channel({}, stall_);
  channel.Open("127.0.0.1", server.port(), "lum.rdmAtualizaEstrutura");
  const std::string reply = channel.Call("GetFileVersion", {"&JovTab.exe"});
  const std::size_t crlf = reply.find("\r\n");
  ASSERT_NE(crlf, std::string::npos) << reply;
  std::vector<std::string> lines;
  for (std::size_t at = crlf + 2, end; (end = reply.find("\r\n", at)) != std::string::npos;
       at = end + 2) {
    lines.push_back(reply.substr(at, end - at));
  }
  ASSERT_EQ(lines.size(), 1u) << reply;
  lines.push_back("JovTab.exe.zip.sig" + lines[0].substr(lines[0].find('=')));
  DownloadExeFiles(lines, reply.substr(0, crlf), settings_, nullptr);
  EXPECT_EQ(Downloaded(), payload_);
}

TEST_F(ExeDownload, TheLibraryCallTakesItsFolderAndLimitFromClientlibIni) {
  // The start reads the clientlib.ini of its program folder.
  TempDir program;
  program.Write("clientlib.ini",
                "[Paths]\nWorkingDirectory=" + work_.path() + "\n[Update]\nMaxDownloadMB=1\n");
  FakeSession start(program.path());
  DownloaderReal downloader(start.session);
  http_.Route("/big/JovTab.exe.zip", Whole(Zip("-0") + std::string(1 << 20, 'x')));
  bool flag = false;
  const std::vector<std::string> lines = {"JovTab.exe.zip=20240131235959"};
  downloader.GetExeFile({"/opt/caixa/JovTab.exe"}, lines, Base("ok"), flag);
  EXPECT_TRUE(flag);
  EXPECT_EQ(Downloaded(), payload_);
  EXPECT_NE(MessageOf<Error>([&] {
              downloader.GetExeFile({}, lines, Base("big"), flag);
            }).find("more than the limit of 1 MiB"),
            std::string::npos);
}

// The update of a start over the real transport and folders: the server's reply offers
// JovTab.exe from /rel/, where the archive, its signature and its release statement lie.
class ReleasedUpdate : public ExeDownload {
 protected:
  void SetUp() override {
    ExeDownload::SetUp();
    settings_.public_key = key_.PublicKeyBase64();
    settings_.program_directory = program_.path();
    settings_.clock = &clock_;
    library_.working_directory = work_.path() + "/";
    installed_ = program_.Write("JovTab.exe", "installed build");
    fs::last_write_time(installed_, fs::file_time_type::clock::now() - 24h * 3650);
  }
  // Serves the archive with its signature, the statement and the statement's signature.
  void Publish(const std::string& archive, const std::string& statement) {
    http_.Route("/rel/JovTab.exe.zip", Whole(archive));
    http_.Route("/rel/JovTab.exe.zip.sig", Whole(key_.SignatureBase64(archive)));
    http_.Route("/rel/JovTab.exe.zip.release", Whole(statement));
    http_.Route("/rel/JovTab.exe.zip.release.sig", Whole(key_.SignatureBase64(statement)));
  }
  protocol::Release ReleaseOf(const std::string& archive, std::int64_t version) {
    const int fd = ::open(files_.Write("hashed", archive).c_str(), O_RDONLY | O_CLOEXEC);
    const ArchiveFacts facts = ArchiveFactsOf(fd, "JovTab.exe.zip", "JovTab.exe");
    ::close(fd);
    return {"JovTab.exe",
            version,
            facts.size,
            facts.sha256,
            *protocol::ParseUtcTime("2027-01-09T00:00:00Z"),
            std::nullopt,
            {}};
  }
  // One start's update, offering JovTab.exe stamped stamp; the log it wrote.
  std::vector<std::string> Update(const std::string& stamp) {
    CallLog calls;
    FakeAppServerChannel channel(calls);
    TNetConnection connection(channel);
    FakeProcessTable processes(calls);
    FakeProgramLauncher programs(calls);
    FakeDialogs dialogs(calls);
    SettingsDownloader downloads(settings_);
    std::vector<std::string> log;
    const Cli_jov00000::ExeUpdateSeams seams{
        connection, files_system_,
        processes,  programs,
        dialogs,    downloads,
        library_,   [&](const std::string& line) { log.push_back(line); }};
    channel.replies["GetFileVersion"] = {"", "", Base("rel") + "\r\nJovTab.exe.zip=" + stamp + "&0",
                                         ""};
    Cli_jov00000::UpdateExecutables(seams, Cli_jov00000::ExecutaveisDoCliente(),
                                    program_.path() + "/", "?");
    return log;
  }
  std::string Versions() const { return TempDir::Read(VersionsPath(program_.path())); }

  sign::SigningKey key_ = sign::SigningKey::Generate();
  CallLog clock_calls_;
  FakeClock clock_{clock_calls_};  // 08/12/2026 10:30:15
  FakeLibrarySettings library_;
  FileSystemLinux files_system_;
  TempDir program_;
  std::string installed_;
};

TEST_F(ReleasedUpdate, EachRuleOfTheReleaseRefusesTheArchiveAndLeavesTheInstalledFile) {
  const std::string other = PythonZip("JovTab.exe", "another build", false);
  const protocol::Release good = ReleaseOf(deflated_, 43);
  InstalledVersions::Record(program_.path(), "JovTab.exe", {42, ReleaseOf(other, 42).sha256});
  const auto with = [&](const std::function<void(protocol::Release&)>& change) {
    protocol::Release release = good;
    change(release);
    return protocol::WriteRelease(release);
  };
  const std::string written = protocol::WriteRelease(good);
  const auto replaced = [&](const std::string& field, const std::string& value) {
    std::string text = written;
    const std::size_t at = text.find("\"" + field + "\":");
    const std::size_t end = text.find_first_of(",}", at);
    return text.replace(at, end - at, "\"" + field + "\":" + value);
  };
  const struct {
    const char* label;
    std::string statement;  // served under .release unless empty
    std::string signature;  // of the statement by the chain's key unless set; "-": none
    std::string reason;
  } cases[] = {
      {"signed by another key", written, sign::SigningKey::Generate().SignatureBase64(written),
       "a assinatura da publicação foi recusada: a assinatura não confere com o arquivo"},
      {"no signature of the release", written, "-",
       "o servidor não tem a assinatura da publicação JovTab.exe.zip.release.sig"},
      {"no release", "", "",
       "o servidor não tem a publicação JovTab.exe.zip.release, exigida desde que a versão 42 "
       "foi instalada"},
      {"another file named", with([](auto& r) { r.file = "JovExp.exe"; }), "",
       "a publicação é de JovExp.exe, não de JovTab.exe"},
      {"another size", with([](auto& r) { ++r.size; }), "",
       "o arquivo compactado tem " + std::to_string(good.size) + " bytes e a publicação diz " +
           std::to_string(good.size + 1)},
      {"another sha256", with([&](auto& r) { r.sha256 = ReleaseOf(other, 1).sha256; }), "",
       "o sha256 do arquivo compactado não é o da publicação"},
      {"expired",
       with([](auto& r) { r.expires = *protocol::ParseUtcTime("2026-01-09T00:00:00Z"); }), "",
       "a publicação expirou em 09/01/2026 00:00:00"},
      {"version below", with([](auto& r) { r.version = 41; }), "",
       "a versão 41 publicada é anterior à instalada (42)"},
      {"installed version, other bytes", with([](auto& r) { r.version = 42; }), "",
       "a versão 42 publicada já está instalada com outro conteúdo (sha256 diferente)"},
      {"not JSON", "{\"file\": \"JovTab.exe\",", "", "a publicação não é JSON"},
      {"over 64 KiB", written + std::string(64 * 1024, ' '), "", "a publicação tem mais de 64 KiB"},
      {"version zero", replaced("version", "0"), "",
       "a versão da publicação não é um inteiro positivo"},
      {"version as text", replaced("version", "\"43\""), "",
       "a versão da publicação não é um inteiro positivo"},
      {"expires not a date", replaced("expires", "\"2027-02-30T00:00:00Z\""), "",
       "a validade da publicação não é uma data AAAA-MM-DDTHH:MM:SSZ"},
  };
  const std::string versions = Versions();
  int start = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Publish(deflated_, c.statement);
    if (c.statement.empty()) http_.Route("/rel/JovTab.exe.zip.release", nullptr);
    if (!c.signature.empty()) {
      http_.Route("/rel/JovTab.exe.zip.release.sig",
                  c.signature == "-" ? nullptr : Whole(c.signature));
    }
    const auto before = fs::last_write_time(installed_);
    const std::vector<std::string> log = Update("2025010100000" + std::to_string(start++ % 10));
    EXPECT_NE(std::find(log.begin(), log.end(),
                        " ----         : Falha no download do arquivo " + installed_),
              log.end());
    EXPECT_NE(std::find(log.begin(), log.end(),
                        " ----         : "_w + cp1252::FromUtf8("JovTab.exe: " + c.reason)),
              log.end())
        << ::testing::PrintToString(log);
    EXPECT_EQ(TempDir::Read(installed_), "installed build");
    EXPECT_EQ(fs::last_write_time(installed_), before);
    EXPECT_EQ(Versions(), versions);
  }
}

TEST_F(ReleasedUpdate, VersionsOnlyGoUpAndTheInstalledBuildIsOnlyRestamped) {
  const std::string old_build = PythonZip("JovTab.exe", "old build", false);
  const protocol::Release old_release = ReleaseOf(old_build, 42);
  // Nothing recorded yet: a valid release installs the archive and records its version.
  Publish(deflated_, protocol::WriteRelease(ReleaseOf(deflated_, 43)));
  Update("20250101000000");
  EXPECT_EQ(TempDir::Read(installed_), payload_);
  EXPECT_EQ(Versions(), "{\"JovTab.exe\":43}\n");
  // The older build, as it was signed and published then, is refused.
  Publish(old_build, protocol::WriteRelease(old_release));
  std::vector<std::string> log = Update("20250201000000");
  EXPECT_NE(std::find(log.begin(), log.end(),
                      " ----         : "_w +
                          "JovTab.exe: a versão 42 publicada é anterior à instalada (43)"_w),
            log.end());
  EXPECT_EQ(TempDir::Read(installed_), payload_);
  // Going back to it is a new release with a higher version.
  protocol::Release back = old_release;
  back.version = 44;
  Publish(old_build, protocol::WriteRelease(back));
  Update("20250301000000");
  EXPECT_EQ(TempDir::Read(installed_), "old build");
  EXPECT_EQ(InstalledVersion(program_.path(), "jovtab.EXE"), std::optional<std::int64_t>(44));
  // The installed release offered again (a later stamp) only takes the stamp.
  fs::remove(installed_);
  program_.Write("JovTab.exe", "the installed file as it is");
  fs::last_write_time(installed_, fs::file_time_type::clock::now() - 24h * 3650);
  log = Update("20250401000000");
  EXPECT_EQ(TempDir::Read(installed_), "the installed file as it is");
  EXPECT_EQ(files_system_.LastWriteTime(installed_), (DateTime{2025, 4, 1, 0, 0, 0}));
  EXPECT_NE(std::find(log.begin(), log.end(),
                      " ----         : JovTab.exe: a versão 44 publicada já está instalada; o "
                      "arquivo só recebeu a data do servidor"_w),
            log.end())
      << ::testing::PrintToString(log);
  // The report tells the version installed; a program without one has none.
  const std::string report = ReportJson({}, program_.path(), {"JovTab.exe"});
  EXPECT_NE(report.find("\"version\":44"), std::string::npos) << report;
  // Records that cannot be read let no archive in, not even a newer version's, report no
  // version, and are left as they are; reading them never waits on a FIFO.
  back.version = 45;
  Publish(old_build, protocol::WriteRelease(back));
  const std::string versions = VersionsPath(program_.path());
  const std::string hashes = VersionHashesPath(program_.path());
  const std::string kept_versions = Versions(), kept_hashes = TempDir::Read(hashes);
  const struct {
    const char* label;
    std::string path;
    std::string text;  // a FIFO when empty
  } spoiled[] = {
      {"cut short", versions, "{\"JovTab.exe\": 44"},
      {"version zero", versions, "{\"JovTab.exe\": 0}"},
      {"over 64 KiB", versions, "{\"JovTab.exe\": 44" + std::string(64 * 1024, ' ') + "}"},
      {"a FIFO", versions, ""},
      {"hash not hex", hashes, "{\"JovTab.exe\": \"44\"}"},
  };
  int month = 5;
  for (const auto& c : spoiled) {
    SCOPED_TRACE(c.label);
    program_.Write(fs::relative(hashes, program_.path()), kept_hashes);
    fs::remove(versions);
    program_.Write(fs::relative(versions, program_.path()), kept_versions);
    fs::remove(c.path);
    if (c.text.empty()) {
      ASSERT_EQ(::mkfifo(c.path.c_str(), 0600), 0);
    } else {
      program_.Write(fs::relative(c.path, program_.path()), c.text);
    }
    EXPECT_EQ(InstalledVersion(program_.path(), "JovTab.exe"), std::nullopt);
    log = Update("2025" + std::to_string(100 + month++).substr(1) + "01000000");
    EXPECT_NE(std::find_if(log.begin(), log.end(),
                           [](const std::string& line) {
                             return line.find("os registros de versão não puderam ser lidos"_w) !=
                                    std::string::npos;
                           }),
              log.end())
        << ::testing::PrintToString(log);
    EXPECT_EQ(TempDir::Read(installed_), "the installed file as it is");
    if (!c.text.empty()) {
      EXPECT_EQ(TempDir::Read(c.path), c.text);
    }
  }
}

// A patch decodes only against the file it was made from, and only within its bounds.
TEST(DeltaPatch, APatchRebuildsTheNewFileOnlyFromItsOldOneAndWithinItsBounds) {
  const std::string old_file = Payload();
  std::string new_file = old_file;
  for (std::size_t at = 1000; at < new_file.size(); at += 60000)
    new_file.replace(at, 500, 500, 'n');
  const std::string delta = sign::MakeDeltaBytes(old_file, new_file);
  EXPECT_LT(delta.size(), new_file.size() / 20);
  std::string flipped = delta;
  flipped[flipped.size() / 2] ^= 0x55;
  std::string other_old = old_file;
  other_old.replace(20000, 4000, 4000, 'o');
  const auto size = static_cast<std::int64_t>(new_file.size());
  const struct {
    const char* label;
    std::string old_file;
    std::string delta;
    std::int64_t max_size;
    bool applies;
  } cases[] = {
      {"the patch of the old file", old_file, delta, size, true},
      {"a corrupt patch", old_file, flipped, size, false},
      {"cut short", old_file, delta.substr(0, delta.size() - 10), size, false},
      {"against other bytes", other_old, delta, size, false},
      {"making more than allowed", old_file, delta, size - 1, false},
      {"not zstd", old_file, "not a patch", size, false},
  };
  for (const auto& c : cases) {
    std::string why;
    const std::optional<std::string> made = ApplyDelta(c.old_file, c.delta, c.max_size, &why);
    EXPECT_EQ(made.has_value(), c.applies) << c.label << ": " << why;
    if (made && c.applies) {
      EXPECT_EQ(*made, new_file) << c.label;
    }
    if (!c.applies) {
      EXPECT_FALSE(why.empty()) << c.label;
    }
  }
}

// The release's patch from the installed file is fetched instead of the archive; whatever is
// wrong with it, the archive is fetched in the same start and installed without a word.
TEST_F(ReleasedUpdate, APatchFromTheInstalledFileReplacesTheArchiveAndAnyFaultFallsBack) {
  std::string old_build = payload_;
  for (std::size_t at = 5000; at < old_build.size(); at += 70000)
    old_build.replace(at, 300, 300, 'x');
  const std::string delta = sign::MakeDeltaBytes(old_build, payload_);
  // A patch that does not decode (DeltaPatch's cases) falls back as one growing past the
  // program's size does. Decodes, but to a file other than the release's program.
  std::string other_build = payload_;
  other_build.replace(100, 10, 10, 'o');
  const std::string other_delta = sign::MakeDeltaBytes(old_build, other_build);
  const auto sha = [&](const std::string& bytes) { return ReleaseOf(bytes, 1).sha256; };
  const std::string delta_name = protocol::DeltaNameOf("JovTab.exe", sha(old_build));
  std::atomic<int> archives{0};
  http_.Route("/rel/JovTab.exe.zip", [&](const httplib::Request&, httplib::Response& response) {
    ++archives;
    response.set_content(deflated_, "application/zip");
  });
  const struct {
    const char* label;
    std::optional<std::string> served;  // the patch on the server, nothing: 404
    std::int64_t program_size;          // what the release says of the program's size
    bool by_delta;
  } cases[] = {
      {"a patch that applies", delta, static_cast<std::int64_t>(payload_.size()), true},
      {"a patch giving other bytes", other_delta, static_cast<std::int64_t>(payload_.size()),
       false},
      {"a patch growing past the program's size", delta, 1000, false},
      {"no patch on the server", std::nullopt, static_cast<std::int64_t>(payload_.size()), false},
  };
  int version = 43;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove(installed_);
    program_.Write("JovTab.exe", old_build);
    fs::last_write_time(installed_, fs::file_time_type::clock::now() - 24h * 3650);
    protocol::Release release = ReleaseOf(deflated_, version);
    release.program = protocol::ReleasedProgram{c.program_size, sha(payload_)};
    const std::string& patch = c.served ? *c.served : delta;
    release.deltas = {{sha(old_build), delta_name, static_cast<std::int64_t>(patch.size())}};
    const std::string statement = protocol::WriteRelease(release);
    http_.Route("/rel/JovTab.exe.zip.sig", Whole(key_.SignatureBase64(deflated_)));
    http_.Route("/rel/JovTab.exe.zip.release", Whole(statement));
    http_.Route("/rel/JovTab.exe.zip.release.sig", Whole(key_.SignatureBase64(statement)));
    if (c.served) {
      http_.Route("/rel/" + delta_name, Whole(*c.served));
    } else {
      http_.Route("/rel/" + delta_name, [](const httplib::Request&, httplib::Response& response) {
        response.status = 404;
      });
    }
    archives = 0;
    const std::vector<std::string> log =
        Update("2025" + std::to_string(100 + version - 42).substr(1) + "01000000");
    EXPECT_EQ(TempDir::Read(installed_), payload_);
    EXPECT_EQ(InstalledVersion(program_.path(), "JovTab.exe"),
              std::optional<std::int64_t>(version));
    EXPECT_EQ(archives, c.by_delta ? 0 : 1);
    for (const std::string& line : log) {
      EXPECT_EQ(line.find("JovTab.exe: "), std::string::npos) << line;
    }
    ++version;
  }
}

// An archive cut short is kept under its release's sha256 and resumed from where it stopped at
// the next start; a server that ignores the range, or kept bytes that cannot be the release's,
// give a whole download. Nothing of it is left once the file is installed.
TEST_F(ReleasedUpdate, AnArchiveCutShortResumesAtTheNextStartAndIsCheckedWhole) {
  const std::size_t cut = deflated_.size() * 9 / 10;
  std::mutex mutex;
  std::vector<std::string> ranges;  // the Range header of each archive request
  const auto recorded = [&](Handler serve) {
    return [&, serve](const httplib::Request& request, httplib::Response& response) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        ranges.push_back(request.get_header_value("Range"));
      }
      serve(request, response);
    };
  };
  const struct {
    const char* label;
    std::string kept;  // bytes left by an earlier start; empty: a cut download leaves them
    Handler then;
    std::vector<std::string> asked;  // by the start that installs
  } cases[] = {
      {"resumed", "", Whole(deflated_), {"bytes=" + std::to_string(cut) + "-"}},
      {"a server ignoring Range",
       "",
       [&](const httplib::Request& request, httplib::Response& response) {
         // httplib answers a range by itself; this server does not.
         const_cast<httplib::Request&>(request).ranges.clear();
         response.set_content(deflated_, "application/zip");
       },
       {"bytes=" + std::to_string(cut) + "-"}},
      {"a range other than asked",
       "",
       [&](const httplib::Request& request, httplib::Response& response) {
         const bool ranged = request.has_header("Range");
         const_cast<httplib::Request&>(request).ranges.clear();
         response.status = ranged ? 206 : 200;
         response.set_header("Content-Range", "bytes 0-" + std::to_string(deflated_.size() - 1) +
                                                  "/" + std::to_string(deflated_.size()));
         response.set_content(deflated_, "application/zip");
       },
       {"bytes=" + std::to_string(cut) + "-", ""}},
      {"kept bytes larger than the release", deflated_ + "more", Whole(deflated_), {""}},
  };
  int version = 43;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove(installed_);
    program_.Write("JovTab.exe", "installed build");
    fs::last_write_time(installed_, fs::file_time_type::clock::now() - 24h * 3650);
    const protocol::Release release = ReleaseOf(deflated_, version);
    Publish(deflated_, protocol::WriteRelease(release));
    const std::string kept_path = work_.path() + "/.JovTab.exe." + release.sha256 + ".jov-part";
    int month = version - 42;
    if (c.kept.empty()) {
      http_.Route("/rel/JovTab.exe.zip", Cut(deflated_, cut));
      Update("2025" + std::to_string(100 + month).substr(1) + "01000000");
      EXPECT_EQ(TempDir::Read(installed_), "installed build");
      ASSERT_TRUE(fs::exists(kept_path));
      EXPECT_EQ(fs::file_size(kept_path), cut);
      EXPECT_EQ(fs::status(kept_path).permissions() & fs::perms::all,
                fs::perms::owner_read | fs::perms::owner_write);
    } else {
      std::ofstream(kept_path, std::ios::binary) << c.kept;
    }
    ranges.clear();
    http_.Route("/rel/JovTab.exe.zip", recorded(c.then));
    Update("2025" + std::to_string(100 + month).substr(1) + "02000000");
    EXPECT_TRUE(TempDir::Read(installed_) == payload_);
    EXPECT_EQ(ranges, c.asked);
    EXPECT_FALSE(fs::exists(kept_path));
    ++version;
  }
}

}  // namespace
}  // namespace jov::testing
