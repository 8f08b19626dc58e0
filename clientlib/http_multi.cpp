// Several exchanges in flight together through libcurl's multi interface, on the calling thread.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>

#include "clientlib/http_curl.h"
#include "clientlib/http_transport.h"

namespace jov {
namespace {

using Clock = std::chrono::steady_clock;

// How long one wait for the sockets lasts before the caller's turn runs again.
constexpr int kSliceMs = 20;

// The least a connection being set up is waited for once the first exchange has passed: on a
// near server that took a few milliseconds, a busy machine may lag the others by more, and a
// connection left half set up is one more to make later.
constexpr std::chrono::milliseconds kLeastGrace{250};

// One exchange of a batch: its handle, its exchange and what it brought.
struct Transfer {
  CURL* curl = nullptr;
  curl_slist* headers = nullptr;
  curl_detail::Exchange x;
  HttpSink sink;
  std::string body;
  char words[CURL_ERROR_SIZE] = {};
  CURLcode code = CURLE_OK;
  bool added = false;
  bool ended = false;
};

// Owns the multi handle and the batch's handles; ends them however the batch ends. A handle
// removed before its exchange has ended takes its connection with it.
struct Batch {
  CURLM* multi = nullptr;
  std::vector<std::unique_ptr<Transfer>> transfers;
  ~Batch() {
    for (auto& t : transfers) {
      if (t->added) curl_multi_remove_handle(multi, t->curl);
      if (t->curl != nullptr) curl_easy_cleanup(t->curl);
      curl_slist_free_all(t->headers);
    }
    if (multi != nullptr) curl_multi_cleanup(multi);
  }
};

}  // namespace

std::vector<HttpTransport::Answer> HttpTransport::Impl::RunTogether(const std::vector<Job>& jobs,
                                                                    int connections, Lead lead) {
  std::vector<Answer> answers(jobs.size());
  const auto unusable = [&] {
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      answers[i].result.url = jobs[i].url;
      answers[i].result.failure = HttpFailure::kOther;
      answers[i].result.detail = "libcurl cannot be set up";
    }
    return answers;
  };
  if (jobs.empty()) return answers;
  Open();
  Batch batch;
  batch.multi = curl_multi_init();
  if (curl == nullptr || batch.multi == nullptr) return unusable();
  const long most = connections > 0 ? connections : 1;
  curl_multi_setopt(batch.multi, CURLMOPT_MAX_HOST_CONNECTIONS, most);
  curl_multi_setopt(batch.multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, most);
  for (const Job& job : jobs) {
    auto t = std::make_unique<Transfer>();
    Transfer* raw = t.get();
    batch.transfers.push_back(std::move(t));
    raw->curl = curl_easy_init();
    if (raw->curl == nullptr) return unusable();
    Configure(raw->curl, raw->words);
    raw->sink.body = [raw](const char* data, std::size_t size) { raw->body.append(data, size); };
    raw->x.sink = &raw->sink;
    raw->headers = Prepare(raw->curl, raw->x, job.url, job.body, job.type, job.limits);
    curl_easy_setopt(raw->curl, CURLOPT_PRIVATE, raw);
  }
  // A job is handed to libcurl only when a connection is free for it, so that its time is
  // counted from its own start, as one after another would count it. The first is handed
  // first and takes a kept connection when there is one.
  std::size_t next = 0;
  std::size_t in_flight = 0;
  const auto add = [&] {
    while (next < batch.transfers.size() && in_flight < static_cast<std::size_t>(most)) {
      Transfer& t = *batch.transfers[next++];
      if (curl_multi_add_handle(batch.multi, t.curl) != CURLM_OK) return false;
      t.added = true;
      ++in_flight;
    }
    return true;
  };
  if (!add()) return unusable();
  const Clock::time_point started = Clock::now();
  bool settled = lead == Lead::kNone;
  std::optional<Clock::time_point> give_up;  // when the warm-ups still in flight are left
  // Every handle carries its own bounds, so the loop ends within the sum of the longest of
  // them over the jobs a connection carries.
  while (in_flight > 0) {
    int running = 0;
    if (curl_multi_perform(batch.multi, &running) != CURLM_OK) return unusable();
    int left = 0;
    bool ended = false;
    while (CURLMsg* message = curl_multi_info_read(batch.multi, &left)) {
      if (message->msg != CURLMSG_DONE) continue;
      Transfer* done = nullptr;
      curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &done);
      if (done == nullptr) continue;
      done->code = message->data.result;
      curl_multi_remove_handle(batch.multi, done->curl);
      done->added = false;
      done->ended = true;
      --in_flight;
      ended = true;
    }
    const Transfer& first = *batch.transfers.front();
    if (!settled && first.ended) {
      settled = true;
      const bool passed = first.code == CURLE_OK && first.x.head_done && first.x.status == 200;
      if (!passed) break;  // the rest is abandoned: what came of it is never read
      if (lead == Lead::kWarm) {
        next = batch.transfers.size();  // nothing more is sent
        give_up = Clock::now() + std::max<Clock::duration>(Clock::now() - started, kLeastGrace);
      }
    }
    if (give_up && Clock::now() >= *give_up) break;
    if (ended) {
      if (!add()) return unusable();
      continue;  // the new ones start at once
    }
    curl_multi_poll(batch.multi, nullptr, 0, kSliceMs, nullptr);
    if (options.turn) options.turn();
  }
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    Transfer& t = *batch.transfers[i];
    if (!t.ended) {
      answers[i].result.url = jobs[i].url;
      answers[i].result.failure = HttpFailure::kAborted;
      continue;
    }
    bool drop = false;
    answers[i].result = Finish(jobs[i].url, t.code, t.x, t.words, drop);
    if (answers[i].result.ok() && answers[i].result.status == 200)
      answers[i].body = std::move(t.body);
  }
  return answers;
}

std::vector<HttpTransport::Answer> HttpTransport::PostTogether(const std::vector<Together>& posts,
                                                               const HttpLimits& limits,
                                                               int connections) {
  std::vector<Impl::Job> jobs;
  for (const Together& post : posts) jobs.push_back({post.url, &post.body, post.type, limits});
  return impl_->RunTogether(jobs, connections, Impl::Lead::kNone);
}

HttpResult HttpTransport::GetSettingUp(const std::string& url, const HttpLimits& limits,
                                       int connections) {
  const std::vector<Impl::Job> jobs(static_cast<std::size_t>(std::max(connections, 1)),
                                    Impl::Job{url, nullptr, {}, limits});
  return impl_->RunTogether(jobs, connections, Impl::Lead::kWarm).front().result;
}

std::vector<HttpTransport::Answer> HttpTransport::GetThenPostTogether(
    const std::string& url, const HttpLimits& get_limits, const std::vector<Together>& posts,
    const HttpLimits& limits, int connections) {
  std::vector<Impl::Job> jobs{{url, nullptr, {}, get_limits}};
  for (const Together& post : posts) jobs.push_back({post.url, &post.body, post.type, limits});
  return impl_->RunTogether(jobs, connections, Impl::Lead::kGate);
}

}  // namespace jov
