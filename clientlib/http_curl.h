// What the launcher's HTTP client shares between its one-at-a-time and its together paths.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "clientlib/http_transport.h"

namespace jov {
namespace curl_detail {

// One exchange's state, shared with libcurl's callbacks.
struct Exchange {
  CURL* curl = nullptr;
  const HttpLimits* limits = nullptr;
  const HttpSink* sink = nullptr;
  std::size_t head_bytes = 0;
  bool head_done = false;
  int status = 0;
  std::int64_t length = -1;
  std::int64_t received = 0;
  std::int64_t dropped = 0;
  bool head_too_large = false;
  bool too_large = false;
  bool dropped_enough = false;
  std::chrono::steady_clock::time_point started{};  // when the request went out
  bool partial = false;  // a range was asked: a 206 answer is delivered too
  std::string content_range;
  std::exception_ptr thrown;
  // Whether the final answer's body goes to the sink.
  bool Delivered() const { return status == 200 || (partial && status == 206); }
};

}  // namespace curl_detail

// The transport's libcurl state. The share holds the kept connections, so that every handle
// made for the transport (its own and those of PostTogether) finds them; used on one thread.
struct HttpTransport::Impl {
  Options options;
  CURLSH* share = nullptr;
  CURL* curl = nullptr;
  char words[CURL_ERROR_SIZE] = {};

  // Sets up the share and the transport's own handle when there are none; curl stays null
  // when libcurl cannot be set up.
  void Open();
  // Gives a handle the transport's settings: protocols, proxy, authorities, User-Agent, the
  // callbacks, words as its error buffer, the share.
  void Configure(CURL* handle, char* handle_words) const;
  // Sets handle up for one request without redirects; returns the headers, which the caller
  // frees once the exchange has ended (after Finish).
  curl_slist* Prepare(CURL* handle, curl_detail::Exchange& x, const std::string& url,
                      const std::string* body, const std::string& type,
                      const HttpLimits& limits) const;
  // The outcome of an ended exchange (code from libcurl); rethrows what the sink threw.
  // Sets drop when the handle's connection is of no further use.
  static HttpResult Finish(const std::string& url, CURLcode code, const curl_detail::Exchange& x,
                           const char* handle_words, bool& drop);
  // One request without following redirects, on the transport's own handle; from > 0 asks for
  // the bytes from there on.
  HttpResult Once(const std::string& url, const std::string* body, const std::string& type,
                  const HttpLimits& limits, const HttpSink& sink, std::int64_t from);
  // Drops the handle and the kept connections.
  void Reset();

  // One exchange of a batch: a GET when body is null, else a post of *body (which outlives
  // the batch).
  struct Job {
    std::string url;
    const std::string* body = nullptr;
    std::string type;
    HttpLimits limits;
  };
  // What the batch's first exchange decides for the others.
  enum class Lead {
    kNone,  // nothing: every job runs to its end
    kGate,  // unless it ends with a whole 200 answer, the others are abandoned at once
    kWarm,  // the others only set up connections: abandoned at once when it fails, and given at
            // most as long again as it took (at least 250 ms) once it has ended with 200
  };
  // Runs the jobs in order on the calling thread, at most connections of them at once, each
  // handed to libcurl only when a connection is free for it; runs options.turn between waits.
  // Returns an answer per job; an abandoned job's failure is kAborted.
  std::vector<Answer> RunTogether(const std::vector<Job>& jobs, int connections, Lead lead);
};

}  // namespace jov
