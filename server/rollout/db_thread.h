// One database connection owned by a thread of its own, running the jobs other threads hand
// it (Qt SQL connections belong to the thread that opened them), and a periodic job.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/database.h"

namespace appserver::rollout {

class DbThread {
 public:
  using Job = std::function<void(jov::Database&)>;

  // Connects with the connection string and runs setup on the new thread; throws what
  // Connect or setup threw. Afterwards runs tick every interval (from the end of the last),
  // and a failed job's connection is opened again for the next one. Blocks until connected.
  DbThread(const std::string& connection_string, const Job& setup,
           std::chrono::milliseconds interval, Job tick);
  // Ends the thread after the job it runs; jobs still queued are dropped (their callers see
  // them time out). Blocks for the running job.
  ~DbThread();
  DbThread(const DbThread&) = delete;
  DbThread& operator=(const DbThread&) = delete;

  // Runs job on the thread and returns its value, or rethrows what it threw; nothing when the
  // queue is full or the job did not end within 15 s. job must own what it uses: it may run
  // after the caller gave up on it. Blocks the caller.
  template <typename T>
  std::optional<T> Run(std::function<T(jov::Database&)> job) {
    auto promise = std::make_shared<std::promise<T>>();
    std::future<T> future = promise->get_future();
    if (!Post([promise, job = std::move(job)](jov::Database& db) {
          try {
            promise->set_value(job(db));
          } catch (...) {
            promise->set_exception(std::current_exception());
          }
        })) {
      return std::nullopt;
    }
    if (future.wait_for(kMaxWait) != std::future_status::ready) return std::nullopt;
    return future.get();
  }

 private:
  static constexpr auto kMaxWait = std::chrono::seconds(15);
  static constexpr std::size_t kMaxQueue = 4096;

  bool Post(Job job);
  void Serve(jov::Database& db);

  std::string connection_string_;
  std::chrono::milliseconds interval_;
  Job tick_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> queue_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace appserver::rollout
