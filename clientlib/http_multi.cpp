// Several posts in flight together through libcurl's multi interface, on the calling thread.
#include <curl/curl.h>

#include <memory>

#include "clientlib/http_curl.h"
#include "clientlib/http_transport.h"

namespace jov {
namespace {

// How long one wait for the sockets lasts before the caller's turn runs again.
constexpr int kSliceMs = 20;

// One post of a batch: its handle, its exchange and what it brought.
struct Transfer {
  CURL* curl = nullptr;
  curl_slist* headers = nullptr;
  curl_detail::Exchange x;
  HttpSink sink;
  std::string body;
  char words[CURL_ERROR_SIZE] = {};
  CURLcode code = CURLE_OK;
  bool added = false;
};

// Owns the multi handle and the batch's handles; ends them however the batch ends.
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

std::vector<HttpTransport::Answer> HttpTransport::PostTogether(const std::vector<Together>& posts,
                                                               const HttpLimits& limits,
                                                               int connections) {
  std::vector<Answer> answers(posts.size());
  const auto unusable = [&] {
    for (std::size_t i = 0; i < posts.size(); ++i) {
      answers[i].result.url = posts[i].url;
      answers[i].result.failure = HttpFailure::kOther;
      answers[i].result.detail = "libcurl cannot be set up";
    }
    return answers;
  };
  if (posts.empty()) return answers;
  impl_->Open();
  Batch batch;
  batch.multi = curl_multi_init();
  if (impl_->curl == nullptr || batch.multi == nullptr) return unusable();
  const long most = connections > 0 ? connections : 1;
  curl_multi_setopt(batch.multi, CURLMOPT_MAX_HOST_CONNECTIONS, most);
  curl_multi_setopt(batch.multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, most);
  for (std::size_t i = 0; i < posts.size(); ++i) {
    auto t = std::make_unique<Transfer>();
    Transfer* raw = t.get();
    batch.transfers.push_back(std::move(t));
    raw->curl = curl_easy_init();
    if (raw->curl == nullptr) return unusable();
    impl_->Configure(raw->curl, raw->words);
    raw->sink.body = [raw](const char* data, std::size_t size) { raw->body.append(data, size); };
    raw->x.sink = &raw->sink;
    raw->headers =
        impl_->Prepare(raw->curl, raw->x, posts[i].url, &posts[i].body, posts[i].type, limits);
    curl_easy_setopt(raw->curl, CURLOPT_PRIVATE, raw);
  }
  // A post is handed to libcurl only when a connection is free for it, so that its time is
  // counted from its own start, as one after another would count it.
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
  // Every handle carries its own bounds, so the loop ends within the sum of the longest of
  // them over the posts a connection carries.
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
      --in_flight;
      ended = true;
    }
    if (ended) {
      if (!add()) return unusable();
      continue;  // the new ones start at once
    }
    curl_multi_poll(batch.multi, nullptr, 0, kSliceMs, nullptr);
    if (impl_->options.turn) impl_->options.turn();
  }
  for (std::size_t i = 0; i < posts.size(); ++i) {
    Transfer& t = *batch.transfers[i];
    bool drop = false;
    answers[i].result = Impl::Finish(posts[i].url, t.code, t.x, t.words, drop);
    if (answers[i].result.ok() && answers[i].result.status == 200)
      answers[i].body = std::move(t.body);
  }
  return answers;
}

}  // namespace jov
