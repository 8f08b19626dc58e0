#include "clientlib/health_report.h"

#include <ctime>
#include <exception>

#include "clientlib/register_key.h"
#include "clientlib/server_stall.h"
#include "clientlib/session.h"
#include "platform/atomic_file.h"
#include "platform/cp1252.h"
#include "platform/file_bytes.h"

namespace jov {
namespace {

// The file holds one event a line between "[" and "]", so that each line is read on its own
// by the protocol's bounded reader.
constexpr std::size_t kMaxPendingBytes =
    protocol::kMaxReportHealth * (protocol::kMaxHealthBytes + 2) + 16;

std::vector<protocol::HealthEvent> ReadPending(const std::string& path) {
  std::string text;
  try {
    text = ReadFileBytes(path, kMaxPendingBytes);
  } catch (const std::exception&) {
    return {};
  }
  std::vector<protocol::HealthEvent> events;
  std::size_t start = 0;
  while (start < text.size() && events.size() < protocol::kMaxReportHealth) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    start = end + 1;
    if (line.ends_with(',')) line.remove_suffix(1);
    if (!line.starts_with('{')) continue;
    protocol::Parsed<protocol::HealthEvent> event = protocol::ReadHealthEvent(line);
    if (event.value) events.push_back(std::move(*event.value));
  }
  return events;
}

}  // namespace

PendingHealth::PendingHealth(const std::string& working_dir)
    : path_((working_dir.ends_with('/') ? working_dir : working_dir + "/") + "saude.json") {}

std::vector<protocol::HealthEvent> PendingHealth::Events() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return ReadPending(path_);
}

void PendingHealth::Keep(const protocol::HealthEvent& event) {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::vector<protocol::HealthEvent> events = ReadPending(path_);
  events.push_back(event);
  if (events.size() > protocol::kMaxReportHealth) {
    events.erase(events.begin(), events.begin() + static_cast<std::ptrdiff_t>(
                                                      events.size() - protocol::kMaxReportHealth));
  }
  Write(events);
}

void PendingHealth::Drop(const std::vector<protocol::HealthEvent>& taken) {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::vector<protocol::HealthEvent> events = ReadPending(path_);
  for (const protocol::HealthEvent& gone : taken) {
    for (auto it = events.begin(); it != events.end(); ++it) {
      if (*it == gone) {
        events.erase(it);
        break;
      }
    }
  }
  Write(events);
}

void PendingHealth::Write(const std::vector<protocol::HealthEvent>& events) {
  std::string text = "[\n";
  for (std::size_t i = 0; i < events.size(); ++i) {
    text += protocol::WriteHealthEvent(events[i]);
    text += i + 1 < events.size() ? ",\n" : "\n";
  }
  text += "]\n";
  try {
    WriteFileAtomically(path_, text, 0600);
  } catch (const std::exception&) {
    // the events stay as they were on the disk
  }
}

std::optional<protocol::HealthEvent> HealthEventOf(const ProgramEnd& end,
                                                   const std::vector<std::string>& names,
                                                   std::chrono::milliseconds window) {
  if (end.ran > window || end.asked) return std::nullopt;
  if (!end.signal && (!end.exit_code || *end.exit_code == 0)) return std::nullopt;
  const std::string name = end.program.substr(end.program.rfind('/') + 1);
  const std::string upper = cp1252::UpperAscii(name);
  bool known = false;
  for (const std::string& candidate : names)
    known = known || cp1252::UpperAscii(candidate) == upper;
  if (!known) return std::nullopt;
  protocol::HealthEvent event;
  event.name = cp1252::ToUtf8(name);
  if (end.modified) {
    std::tm tm{};
    localtime_r(&*end.modified, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &tm);
    event.stamp = stamp;
  }
  if (end.signal) {
    event.signal = *end.signal;
  } else {
    event.exit = *end.exit_code;
  }
  event.seconds = std::chrono::duration<double>(end.ran).count();
  return event;
}

HealthReporter::HealthReporter(Session& session, ReportTarget target,
                               std::vector<std::string> names, VersionOf version_of,
                               RegisterKey* key, PendingHealth& pending,
                               HttpAppServerChannel::Timeouts timeouts)
    : session_(session),
      target_(std::move(target)),
      names_(std::move(names)),
      version_of_(std::move(version_of)),
      key_(key),
      pending_(pending),
      timeouts_(timeouts) {}

HealthReporter::~HealthReporter() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait_for(lock, std::chrono::seconds(2), [this] { return running_ == 0; });
  }
  cancel_ = true;
  Wait();
}

void HealthReporter::Wait() {
  std::vector<std::thread> threads;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    threads.swap(threads_);
  }
  for (std::thread& thread : threads) thread.join();
}

void HealthReporter::ProgramEnded(const ProgramEnd& end) {
  std::optional<protocol::HealthEvent> event = HealthEventOf(end, names_);
  if (!event) return;
  event->at = IsoLocalNow();
  try {
    Send(std::move(*event));
  } catch (const std::exception&) {
    // no thread for it: the event is lost, as a report that cannot start is
  }
}

void HealthReporter::Send(protocol::HealthEvent event) {
  HttpTransport::Options options = session_.TransportOptions();
  options.proxy = target_.proxy;
  options.cancel = &cancel_;
  const std::lock_guard<std::mutex> lock(mutex_);
  const bool send = sent_ < static_cast<int>(protocol::kMaxReportHealth);
  if (send) ++sent_;
  ++running_;
  struct Undo {
    int& running;
    bool started = false;
    ~Undo() {
      if (!started) --running;
    }
  } undo{running_};
  threads_.emplace_back([this, event = std::move(event), options, send]() mutable {
    struct Finished {
      HealthReporter& reporter;
      ~Finished() {
        const std::lock_guard<std::mutex> lock(reporter.mutex_);
        --reporter.running_;
        reporter.done_.notify_all();
      }
    } finished{*this};
    try {
      const std::string value = session_.Identity().Value();
      const std::size_t slash = value.find('/');
      if (slash != std::string::npos) {
        event.filial = value.substr(0, slash);
        event.caixa = value.substr(slash + 1);
      }
      event.host = cp1252::ToUtf8(session_.HostName());
      try {
        if (version_of_) event.version = version_of_(event.name);
      } catch (const std::exception&) {
        // no version known
      }
      if (!send || cancel_) {
        pending_.Keep(event);
        return;
      }
      try {
        std::unique_lock<std::mutex> turn;
        if (key_ != nullptr) turn = key_->Turn();
        const std::string text = key_ != nullptr
                                     ? key_->SignedText(event, &protocol::WriteHealthEvent)
                                     : protocol::WriteHealthEvent(event);
        // Its own stall state: an event that times out holds back nothing else of the start.
        ServerStall stall;
        HttpAppServerChannel channel(options, stall, timeouts_);
        channel.Open(target_.host, target_.port, "lum.rdmAtualizaEstrutura");
        // Plain ASCII: the same bytes in Windows-1252.
        channel.Call("ReportHealth", {text});
      } catch (const std::exception&) {
        // Not taken: the next start's report carries it.
        pending_.Keep(event);
      }
    } catch (const std::exception&) {
      // memory: the event is lost
    }
  });
  undo.started = true;
}

}  // namespace jov
