#include "clientlib/update_report.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

#include "clientlib/health_report.h"
#include "clientlib/http_channel.h"
#include "clientlib/register_key.h"
#include "clientlib/server_stall.h"
#include "clientlib/session.h"
#include "clientlib/versions.h"
#include "platform/cp1252.h"
#include "platform/hex.h"

namespace jov {
namespace {

constexpr std::int64_t kMaxHashed = std::int64_t{1} << 30;

std::string Text(const std::string& cp1252) { return cp1252::ToUtf8(cp1252); }

struct FileFacts {
  std::string stamp;
  std::int64_t size = 0;
  std::string sha256;
};

struct MdFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// The facts of a regular file, or nothing when it is missing or cannot be read.
std::optional<FileFacts> FactsOf(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  const std::unique_ptr<int, void (*)(int*)> closer(new int(fd), [](int* f) {
    ::close(*f);
    delete f;
  });
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxHashed) {
    return std::nullopt;
  }
  FileFacts facts;
  facts.size = st.st_size;
  std::tm tm{};
  const std::time_t when = st.st_mtim.tv_sec;
  localtime_r(&when, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &tm);
  facts.stamp = stamp;
  const std::unique_ptr<EVP_MD_CTX, MdFree> context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    return std::nullopt;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    EVP_DigestUpdate(context.get(), buffer, static_cast<std::size_t>(n));
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return std::nullopt;
  facts.sha256 = LowerHex(digest, length);
  return facts;
}

}  // namespace

std::string IsoLocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
  const long minutes = tm.tm_gmtoff / 60;
  const int away = static_cast<int>((minutes < 0 ? -minutes : minutes) % (24 * 60));
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02d:%02d", minutes < 0 ? '-' : '+', away / 60, away % 60);
  return std::string(text) + zone;
}

std::string ReportJson(const UpdateReport& report, const std::string& program_dir,
                       const std::vector<std::string>& names) {
  return protocol::WriteReport(ReportOf(report, program_dir, names));
}

protocol::Report ReportOf(const UpdateReport& report, const std::string& program_dir,
                          const std::vector<std::string>& names) {
  protocol::Report out;
  out.filial = Text(report.filial);
  out.caixa = Text(report.caixa);
  out.host = Text(report.host);
  out.launcher = report.launcher;
  out.started = report.started;
  out.seconds = report.seconds;
  out.outcome = report.outcome;
  for (const std::string& name : report.installed) out.installed.push_back(Text(name));
  if (report.failure) {
    out.failure = protocol::ReportedFailure{
        Text(report.failure->first),
        Text(cp1252::ForLog(report.failure->second, protocol::kMaxReasonBytes))};
  }
  const std::string folder = program_dir.ends_with('/') ? program_dir : program_dir + "/";
  const InstalledVersions versions = InstalledVersions::Read(program_dir);
  for (const std::string& name : names) {
    if (std::optional<FileFacts> facts = FactsOf(folder + name)) {
      const std::optional<InstalledBuild> build = versions.Find(name);
      out.files.push_back({Text(name), std::move(facts->stamp), facts->size,
                           std::move(facts->sha256),
                           build ? std::optional<std::int64_t>(build->version) : std::nullopt});
    }
  }
  return out;
}

ThreadedUpdateReporter::~ThreadedUpdateReporter() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait_for(lock, std::chrono::seconds(2), [this] { return running_ == 0; });
  }
  cancel_ = true;
  Wait();
}

void ThreadedUpdateReporter::Wait() {
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
  threads_.clear();
}

void ThreadedUpdateReporter::Send(const UpdateReport& given, const ReportTarget& target,
                                  const std::string& program_dir,
                                  const std::vector<std::string>& given_names) {
  session_.Identity().Set(given.filial, given.caixa);
  UpdateReport report = given;
  if (report.host.empty()) report.host = session_.HostName();
  HttpTransport::Options options = session_.TransportOptions();
  options.proxy = target.proxy;
  options.cancel = &cancel_;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++running_;
  }
  threads_.emplace_back([this, report, target, program_dir, names = given_names, options] {
    struct Finished {
      ThreadedUpdateReporter& reporter;
      ~Finished() {
        const std::lock_guard<std::mutex> lock(reporter.mutex_);
        --reporter.running_;
        reporter.done_.notify_all();
      }
    } finished{*this};
    try {
      protocol::Report out = ReportOf(report, program_dir, names);
      if (signing_.pending != nullptr) out.health = signing_.pending->Events();
      if (cancel_) return;
      std::unique_lock<std::mutex> turn;
      if (signing_.key != nullptr) turn = signing_.key->Turn();
      const std::string json = signing_.key != nullptr
                                   ? signing_.key->SignedText(out, &protocol::WriteReport)
                                   : protocol::WriteReport(out);
      // Its own stall state: a report that times out holds back nothing else of the start.
      ServerStall stall;
      HttpAppServerChannel channel(options, stall, timeouts_);
      channel.Open(target.host, target.port, "lum.rdmAtualizaEstrutura");
      // Plain ASCII: the same bytes in Windows-1252.
      channel.Call("ReportUpdate", {json});
      turn = {};
      // Taken: the events it carried are the server's now.
      if (signing_.pending != nullptr && !out.health.empty()) signing_.pending->Drop(out.health);
    } catch (const std::exception&) {
      // A server without the call, or one that fails it, hears nothing more of this start.
    }
  });
}

}  // namespace jov
