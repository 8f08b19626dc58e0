// What the launcher's HTTP client shares between its one-at-a-time and its together paths.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <exception>
#include <string>

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
  std::exception_ptr thrown;
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
  // One request without following redirects, on the transport's own handle.
  HttpResult Once(const std::string& url, const std::string* body, const std::string& type,
                  const HttpLimits& limits, const HttpSink& sink);
  // Drops the handle and the kept connections.
  void Reset();
};

}  // namespace jov
