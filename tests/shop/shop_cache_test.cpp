// Ten registers of one shop update through a squid cache on loopback: the chain's server sends
// each archive, patch, signature and release once, and every register installs the new build.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "clientlib/exe_download.h"
#include "clientlib/http_channel.h"
#include "clientlib/server_stall.h"
#include "protocol/file_names.h"
#include "protocol/release.h"
#include "server/sign/signing.h"
#include "tests/fakes/fake_session.h"
#include "tests/server/server_support.h"
#include "tests/signature/signature_support.h"
#include "tests/support/postgres_server.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSquid = "/usr/sbin/squid";

// A program file of about 1 MiB that deflate does not shrink much; builds differ in a few
// places.
std::string Build(int build) {
  std::string bytes;
  std::uint32_t x = 777;
  while (bytes.size() < (1u << 20)) {
    x = x * 1103515245u + 12345u;
    bytes += static_cast<char>(x >> 16);
    if (bytes.size() % 100000 == 0) bytes += "build " + std::to_string(build);
  }
  return bytes;
}

// squid in the foreground with its memory cache, its logs and nothing else in folder, on
// 127.0.0.1:port; as root it runs as Debian's "proxy" user, which is given the folder.
class Squid {
 public:
  Squid(const std::string& folder, int port)
      : process_(
            [&] {
              std::ostringstream config;
              config << "http_port 127.0.0.1:" << port << "\n"
                     << "visible_hostname shop-cache-test\n"
                     << "pid_filename none\n"
                     << "cache_log " << folder << "/cache.log\n"
                     << "access_log stdio:" << folder << "/access.log\n"
                     << "cache_store_log none\n"
                     << "coredump_dir " << folder << "\n"
                     << "cache_mem 64 MB\n"
                     << "maximum_object_size_in_memory 16 MB\n"
                     << "maximum_object_size 16 MB\n"
                     << "collapsed_forwarding on\n"
                     << "icp_port 0\n"
                     << "shutdown_lifetime 0 seconds\n"
                     << "http_access allow localhost\n"
                     << "http_access deny all\n";
              if (::geteuid() == 0) {
                const passwd* proxy = ::getpwnam("proxy");
                if (proxy != nullptr &&
                    ::chown(folder.c_str(), proxy->pw_uid, proxy->pw_gid) == 0) {
                  config << "cache_effective_user proxy\n";
                }
              }
              std::ofstream(folder + "/squid.conf") << config.str();
              return std::vector<std::string>{kSquid, "-N", "-f", folder + "/squid.conf"};
            }(),
            {}, folder + "/squid.err") {}
  ~Squid() { process_.Stop(5s); }

 private:
  Process process_;
};

// How many times the server's log shows a whole file of /files/ sent, by name.
std::map<std::string, int> FilesSent(const std::string& log) {
  std::map<std::string, int> sent;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t at = line.find(" GET /files/");
    if (at == std::string::npos || !line.ends_with(" 200")) continue;
    std::size_t name = at + std::string(" GET /files/").size();
    // The updates folder's generation, when the address carries one, is not the file's name.
    if (line.compare(name, 1, "@") == 0) name = line.find('/', name) + 1;
    ++sent[line.substr(name, line.size() - 4 - name)];
  }
  return sent;
}

// The download source of the server's version reply, as a register's query brings it.
std::string SourceOf(int port) {
  FakeSession start;
  HttpAppServerChannel channel(start.session);
  channel.Open("127.0.0.1", port, "lum.rdmAtualizaEstrutura");
  const std::string reply = channel.Call("GetFileVersion", {"&JovTab.exe"});
  return reply.substr(0, reply.find("\r\n"));
}

// Ends with the register's download of the program file through the shop's cache; the error's
// message when it failed.
std::string Fetch(const std::string& root, const std::string& source, const std::string& public_key,
                  int proxy_port) {
  ServerStall stall;
  ExeDownloadSettings settings;
  settings.working_directory = root + "/work/";
  settings.program_directory = root + "/programa";
  settings.public_key = public_key;
  settings.proxy = "http://127.0.0.1:" + std::to_string(proxy_port);
  settings.stall = &stall;
  try {
    DownloadExeFiles({"JovTab.exe.zip=20261210060000"}, source, settings, nullptr);
  } catch (const Error& error) {
    return error.what();
  }
  return {};
}

TEST(ShopCache, TenRegistersTakeTheReleaseThroughTheShopCacheAndTheServerSendsItOnce) {
  if (::access(kSquid, X_OK) != 0) GTEST_SKIP() << "squid is not installed";
  TempDir dir;
  // The folder squid owns when it runs as another user: a top-level temporary of its own.
  TempDir cache_folder;

  // The chain publishes build 2 with a patch from build 1, as jov-sign makes them.
  const std::string old_build = Build(1);
  const std::string new_build = Build(2);
  const std::string program = dir.Write("make/JovTab.exe", new_build);
  const std::string old_program = dir.Write("old/JovTab.exe", old_build);
  const std::string updates = dir.path() + "/updates";
  fs::create_directories(updates);
  ASSERT_EQ(RunProgram({"zip", "-qj", updates + "/JovTab.exe.zip", program}, dir.path()).code, 0);
  const std::string key_file = dir.path() + "/chain.pem";
  const RunResult keygen = RunProgram({JovSign(), "keygen", key_file}, dir.path());
  ASSERT_EQ(keygen.code, 0) << keygen.errors;
  const RunResult signing = RunProgram({JovSign(), "sign", key_file, "--version", "2", "--delta",
                                        old_program, updates + "/JovTab.exe.zip"},
                                       dir.path());
  ASSERT_EQ(signing.code, 0) << signing.errors;
  const auto release = protocol::ReadRelease(TempDir::Read(updates + "/JovTab.exe.zip.release"));
  ASSERT_TRUE(release.ok()) << release.why;
  ASSERT_EQ(release.value->deltas.size(), 1u);
  const std::string delta = release.value->deltas[0].file;

  AppServer server({"--updates", updates}, dir.path() + "/server.log");
  ASSERT_GT(server.port(), 0) << TempDir::Read(dir.path() + "/server.log");
  const int port = FreeLoopbackPort();
  Squid squid(cache_folder.path(), port);
  ASSERT_TRUE(WaitUntil(
      [&] {
        const int fd = ConnectedFrom(port);
        if (fd >= 0) ::close(fd);
        return fd >= 0;
      },
      20s))
      << TempDir::Read(cache_folder.path() + "/squid.err")
      << TempDir::Read(cache_folder.path() + "/cache.log");

  // Five registers run build 1 and take the patch, five have none and take the archive; all
  // at the opening hour, at once.
  const std::string public_key = keygen.output.substr(std::string("PublicKey=").size());
  const std::string source = SourceOf(server.port());
  ASSERT_NE(source, "");
  std::vector<std::string> roots;
  for (int i = 0; i < 10; ++i) {
    roots.push_back(dir.path() + "/caixa" + std::to_string(i));
    fs::create_directories(roots.back() + "/programa");
    if (i % 2 == 0) std::ofstream(roots.back() + "/programa/JovTab.exe") << old_build;
  }
  std::vector<std::string> failures(roots.size());
  std::vector<std::thread> registers;
  for (std::size_t i = 0; i < roots.size(); ++i) {
    registers.emplace_back([&, i] { failures[i] = Fetch(roots[i], source, public_key, port); });
  }
  for (std::thread& t : registers) t.join();
  for (std::size_t i = 0; i < roots.size(); ++i) {
    EXPECT_EQ(failures[i], "") << roots[i];
    EXPECT_TRUE(TempDir::Read(roots[i] + "/work/JovTab.exe") == new_build) << roots[i];
  }

  const std::map<std::string, int> sent = FilesSent(TempDir::Read(dir.path() + "/server.log"));
  const std::map<std::string, int> once = {{"JovTab.exe.zip", 1},
                                           {"JovTab.exe.zip.sig", 1},
                                           {"JovTab.exe.zip.release", 1},
                                           {"JovTab.exe.zip.release.sig", 1},
                                           {delta, 1}};
  EXPECT_EQ(sent, once) << TempDir::Read(dir.path() + "/server.log")
                        << TempDir::Read(cache_folder.path() + "/access.log")
                        << TempDir::Read(cache_folder.path() + "/cache.log");

  // Build 3 is published while the cache still keeps build 2 for its five minutes: the next
  // register gets build 3, never the kept one.
  const std::string newer_build = Build(3);
  dir.Write("make/JovTab.exe", newer_build);
  fs::remove(updates + "/JovTab.exe.zip");
  ASSERT_EQ(RunProgram({"zip", "-qj", updates + "/JovTab.exe.zip", program}, dir.path()).code, 0);
  ASSERT_EQ(RunProgram({JovSign(), "sign", key_file, "--version", "3", updates + "/JovTab.exe.zip"},
                       dir.path())
                .code,
            0);
  const std::string late = dir.path() + "/caixa10";
  fs::create_directories(late + "/programa");
  EXPECT_EQ(Fetch(late, SourceOf(server.port()), public_key, port), "");
  EXPECT_TRUE(TempDir::Read(late + "/work/JovTab.exe") == newer_build);
}

}  // namespace
}  // namespace jov::testing
