#include "server/rollout/db_thread.h"

#include "platform/database_qt.h"

namespace appserver::rollout {

DbThread::DbThread(const std::string& connection_string, const Job& setup,
                   std::chrono::milliseconds interval, Job tick)
    : connection_string_(connection_string), interval_(interval), tick_(std::move(tick)) {
  std::promise<void> ready;
  std::future<void> started = ready.get_future();
  thread_ = std::thread([this, &ready, &setup] {
    jov::DatabaseQt db;
    try {
      db.Connect(connection_string_);
      setup(db);
    } catch (...) {
      ready.set_exception(std::current_exception());
      return;
    }
    ready.set_value();
    Serve(db);
  });
  try {
    started.get();
  } catch (...) {
    thread_.join();
    throw;
  }
}

DbThread::~DbThread() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

bool DbThread::Post(Job job) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stop_ || queue_.size() >= kMaxQueue) return false;
    queue_.push_back(std::move(job));
  }
  wake_.notify_one();
  return true;
}

void DbThread::Serve(jov::Database& db) {
  auto next_tick = std::chrono::steady_clock::now() + interval_;
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait_until(lock, next_tick, [this] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      // The periodic job comes in its time even while others keep arriving.
      if (queue_.empty() || std::chrono::steady_clock::now() >= next_tick) {
        job = tick_;
        next_tick = std::chrono::steady_clock::now() + interval_;
      } else {
        job = std::move(queue_.front());
        queue_.pop_front();
      }
    }
    try {
      if (!db.IsConnected()) db.Connect(connection_string_);
      job(db);
    } catch (const std::exception&) {
      // Jobs answer their own failures; one that could not even connect waits for the next.
    }
  }
}

}  // namespace appserver::rollout
