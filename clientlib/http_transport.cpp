#include "clientlib/http_transport.h"

#include <curl/curl.h>
#include <dlfcn.h>
#include <openssl/ssl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <thread>

#include "clientlib/http_curl.h"
#include "clientlib/register_identity.h"
#include "platform/cp1252.h"

#ifndef JOV_VERSION
#define JOV_VERSION "0"
#endif

namespace jov {
namespace {

// A normal head is a few hundred bytes; libcurl bounds a single line itself (100 KiB).
constexpr std::size_t kMaxHead = 256 * 1024;
// What is read of an answer that is not 200 (a redirect, an error page) before it is dropped.
constexpr std::int64_t kMaxDropped = 64 * 1024;

// libcurl and what it brings (OpenSSL, libssh2, GnuTLS through librtmp) set up global and
// thread-local state when loaded and at the first call, which nothing can undo: unloading them
// with the package, when the host lets it go, would leave exit handlers and other threads'
// thread-local blocks pointing into freed code. So they stay for the life of the process.
const bool kCurlPinned = [] {
  return ::dlopen("libcurl.so.4", RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}();

void GlobalInit() {
  (void)kCurlPinned;
  static const bool done = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  (void)done;
}

bool IsRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The scheme of an absolute URL in lower case; empty when libcurl cannot read it as one.
std::string SchemeOf(const std::string& url) {
  CURLU* parsed = curl_url();
  if (parsed == nullptr) return {};
  std::string scheme;
  char* part = nullptr;
  if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
      curl_url_get(parsed, CURLUPART_SCHEME, &part, 0) == CURLUE_OK) {
    scheme = cp1252::LowerAscii(part);
  }
  curl_free(part);
  curl_url_cleanup(parsed);
  return scheme;
}

}  // namespace

namespace curl_detail {
namespace {

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& x = *static_cast<Exchange*>(user);
  const std::size_t n = size * count;
  const std::string_view line(data, n);
  if (line.starts_with("HTTP/")) {
    // An interim answer (100 Continue) or a new one: its head is counted anew.
    x.head_bytes = 0;
    x.head_done = false;
    x.content_range.clear();
  }
  x.head_bytes += n;
  if (x.head_bytes > kMaxHead) {
    x.head_too_large = true;
    return 0;
  }
  constexpr std::string_view kRange = "content-range:";
  if (x.partial && line.size() > kRange.size() &&
      cp1252::LowerAscii(line.substr(0, kRange.size())) == kRange) {
    const std::size_t first = line.find_first_not_of(" \t", kRange.size());
    const std::size_t last = line.find_last_not_of(" \t\r\n");
    // Compared, never shown unless replaced: a head line is the server's text.
    x.content_range = first == std::string_view::npos || last < first
                          ? std::string()
                          : cp1252::ForLog(line.substr(first, last - first + 1), 200);
  }
  if (line != "\r\n" && line != "\n") return n;
  long status = 0;
  curl_easy_getinfo(x.curl, CURLINFO_RESPONSE_CODE, &status);
  if (status < 200) return n;  // an interim answer; the final one follows
  x.head_done = true;
  x.status = static_cast<int>(status);
  curl_off_t length = -1;
  curl_easy_getinfo(x.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  x.length = length;
  if (!x.Delivered()) return n;
  if (x.length > x.limits->max_body) {
    x.too_large = true;
    return 0;
  }
  try {
    if (x.sink->head) x.sink->head(x.status, x.length);
  } catch (...) {
    x.thrown = std::current_exception();
    return 0;
  }
  return n;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& x = *static_cast<Exchange*>(user);
  const std::size_t n = size * count;
  if (!x.Delivered()) {
    x.dropped += static_cast<std::int64_t>(n);
    if (x.dropped > kMaxDropped) {
      x.dropped_enough = true;
      return 0;
    }
    return n;
  }
  if (static_cast<std::int64_t>(n) > x.limits->max_body - x.received) {
    x.too_large = true;
    return 0;
  }
  try {
    if (x.sink->body) x.sink->body(data, n);
  } catch (...) {
    x.thrown = std::current_exception();
    return 0;
  }
  x.received += static_cast<std::int64_t>(n);
  // The rate cap, held here rather than by libcurl's, which lets through at full speed whatever
  // the socket's buffers already hold (a whole archive on a fast link): counted from the
  // request, on what reaches the sink. The chunks are small enough under a cap (Prepare) that
  // one wait is short.
  const std::int64_t rate = x.limits->max_receive_rate;
  if (rate > 0) {
    const auto due = x.started + std::chrono::microseconds(x.received * 1000000 / rate);
    const auto now = std::chrono::steady_clock::now();
    if (due > now) std::this_thread::sleep_for(due - now);
  }
  return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* cancel = static_cast<const std::atomic<bool>*>(user);
  return cancel != nullptr && cancel->load() ? 1 : 0;
}

// With no authorities given, OpenSSL's own default store counts as well as libcurl's bundle
// (so that SSL_CERT_FILE and SSL_CERT_DIR are honoured as by other programs of the system).
CURLcode OnSslContext(CURL*, void* context, void*) {
  SSL_CTX_set_default_verify_paths(static_cast<SSL_CTX*>(context));
  return CURLE_OK;
}

HttpFailure FailureOf(CURLcode code, const Exchange& x, const char* words) {
  const std::string_view text(words);
  switch (code) {
    case CURLE_OK:
      return HttpFailure::kNone;
    case CURLE_UNSUPPORTED_PROTOCOL:
      // an answer without a status line, taken for HTTP/0.9
      if (text.find("HTTP/0.9") != std::string_view::npos) return HttpFailure::kBadAnswer;
      return HttpFailure::kAddress;
    case CURLE_URL_MALFORMAT:
      return HttpFailure::kAddress;
    case CURLE_COULDNT_RESOLVE_HOST:
      return HttpFailure::kResolve;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_PROXY:
      return HttpFailure::kProxy;
    case CURLE_COULDNT_CONNECT:
      return HttpFailure::kRefused;
    case CURLE_OPERATION_TIMEDOUT:
      if (text.starts_with("Operation too slow")) return HttpFailure::kStalled;
      if (text.find("onnection timed out") != std::string_view::npos ||
          text.find("esolving timed out") != std::string_view::npos) {
        return HttpFailure::kConnectTimeout;
      }
      return HttpFailure::kTimeout;
    case CURLE_WRITE_ERROR:
      if (x.head_too_large) return HttpFailure::kHeadTooLarge;
      if (x.too_large) return HttpFailure::kTooLarge;
      return HttpFailure::kOther;
    case CURLE_FILESIZE_EXCEEDED:
      return HttpFailure::kTooLarge;
    case CURLE_OUT_OF_MEMORY:
      // libcurl's answer to a header line over its own bound
      return HttpFailure::kHeadTooLarge;
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
      return HttpFailure::kClosed;
    case CURLE_SEND_ERROR:
      return HttpFailure::kSend;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_BAD_CONTENT_ENCODING:
      return HttpFailure::kBadAnswer;
    case CURLE_ABORTED_BY_CALLBACK:
      return HttpFailure::kAborted;
    case CURLE_PEER_FAILED_VERIFICATION:
      return HttpFailure::kCertificate;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_NOTFOUND:
      return HttpFailure::kTls;
    default:
      return HttpFailure::kOther;
  }
}

}  // namespace
}  // namespace curl_detail

std::string SpanText(std::chrono::milliseconds span) {
  const auto ms = span.count();
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

std::string SizeText(std::int64_t bytes) {
  if (bytes > 0 && bytes % (1 << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  if (bytes > 0 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
  return std::to_string(bytes) + " bytes";
}

std::string LocalHostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return cp1252::ForLog(name, 255);
}

std::string EncodePathSegment(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string EncodeUnsafeBytes(const std::string& url) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : url) {
    if (c <= 0x20 || c >= 0x7f) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

HttpCause DescribeFailure(const HttpResult& r, const HttpLimits& limits) {
  const auto stall = [&](std::string message, std::string reason) {
    return HttpCause{std::move(message), std::move(reason), true};
  };
  const auto plain = [&](std::string message, std::string reason) {
    return HttpCause{std::move(message), std::move(reason), false};
  };
  const std::string where = cp1252::ForLog(r.location, 300);
  switch (r.failure) {
    case HttpFailure::kNone:
      return plain("no failure", "sem falha");
    case HttpFailure::kAddress:
      return plain("not an http or https address", "o endereço não é http nem https"_w);
    case HttpFailure::kResolve:
      return plain("the host name cannot be resolved", "o nome do servidor não foi encontrado"_w);
    case HttpFailure::kRefused:
      return plain("the connection was refused or the host is unreachable",
                   "o servidor recusou a conexão ou não pode ser alcançado"_w);
    case HttpFailure::kConnectTimeout:
      return stall("no connection within " + SpanText(limits.connect),
                   "sem conexão em "_w + SpanText(limits.connect));
    case HttpFailure::kTimeout:
      return stall("no complete answer within " + SpanText(limits.total),
                   "o servidor não respondeu por completo em "_w + SpanText(limits.total));
    case HttpFailure::kStalled:
      return stall("less than " + SizeText(limits.stall_bytes_per_second) + "/s for " +
                       SpanText(limits.stall_time),
                   "o servidor parou de enviar por "_w + SpanText(limits.stall_time));
    case HttpFailure::kTooLarge:
      return plain("the answer exceeded " + SizeText(limits.max_body),
                   "a resposta passou do limite de "_w + SizeText(limits.max_body));
    case HttpFailure::kHeadTooLarge:
      return plain("the answer's head exceeded " + SizeText(kMaxHead),
                   "o cabeçalho da resposta passou de "_w + SizeText(kMaxHead));
    case HttpFailure::kClosed:
      if (r.status == 0) {
        return plain("the connection closed before the answer was complete",
                     "a conexão caiu antes da resposta completa"_w);
      }
      return plain(
          "the connection closed after " + std::to_string(r.received) +
              (r.length >= 0 ? " of " + std::to_string(r.length) : std::string()) + " bytes",
          "a conexão caiu depois de "_w + std::to_string(r.received) +
              (r.length >= 0 ? " de " + std::to_string(r.length) : std::string()) + " bytes");
    case HttpFailure::kSend:
      return plain("the connection failed while sending the request",
                   "a conexão falhou ao enviar o pedido"_w);
    case HttpFailure::kBadAnswer:
      return plain("the answer is not HTTP (" + r.detail + ")", "a resposta não é HTTP"_w);
    case HttpFailure::kTls:
      return plain("the secure connection could not be set up (" + r.detail + ")",
                   "a conexão segura não pôde ser estabelecida"_w);
    case HttpFailure::kCertificate:
      return plain("the server's certificate is not trusted",
                   "o certificado do servidor não é confiável"_w);
    case HttpFailure::kRedirects:
      return plain("more than " + std::to_string(limits.max_redirects) + " redirects",
                   "mais de "_w + std::to_string(limits.max_redirects) + " redirecionamentos");
    case HttpFailure::kRedirectScheme:
      return plain("redirected to \"" + where + "\", which is not an http or https address",
                   "redirecionado para um endereço que não é http nem https: "_w + where);
    case HttpFailure::kRedirectDowngrade:
      return plain("redirected from https to \"" + where + "\"",
                   "redirecionado de https para http: "_w + where);
    case HttpFailure::kProxy:
      return plain("the proxy cannot be used (" + r.detail + ")", "o proxy não pôde ser usado"_w);
    case HttpFailure::kAborted:
      return plain("the exchange was ended", "a comunicação foi interrompida"_w);
    case HttpFailure::kOther:
      break;
  }
  return plain(r.detail, "falha de comunicação: "_w + r.detail);
}

void HttpTransport::Impl::Open() {
  if (curl != nullptr) return;
  GlobalInit();
  if (share == nullptr) {
    share = curl_share_init();
    if (share == nullptr) return;
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
  }
  curl = curl_easy_init();
  if (curl != nullptr) Configure(curl, words);
}

void HttpTransport::Impl::Configure(CURL* handle, char* handle_words) const {
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(handle, CURLOPT_PROXY, options.proxy.c_str());
  if (!options.ca_file.empty()) {
    curl_easy_setopt(handle, CURLOPT_CAINFO, options.ca_file.c_str());
  } else {
    curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, &curl_detail::OnSslContext);
  }
  curl_easy_setopt(handle, CURLOPT_USERAGENT, "JovLauncher/" JOV_VERSION);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, handle_words);
  if (options.cancel != nullptr) {
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &curl_detail::OnProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, options.cancel);
  }
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &curl_detail::OnHeader);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &curl_detail::OnBody);
  curl_easy_setopt(handle, CURLOPT_SHARE, share);
}

curl_slist* HttpTransport::Impl::Prepare(CURL* handle, curl_detail::Exchange& x,
                                         const std::string& url, const std::string* body,
                                         const std::string& type, const HttpLimits& limits) const {
  x.curl = handle;
  x.limits = &limits;
  curl_easy_setopt(handle, CURLOPT_URL, EncodeUnsafeBytes(url).c_str());
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &x);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &x);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect.count()));
  curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total.count()));
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT,
                   limits.stall_time.count() > 0 ? limits.stall_bytes_per_second : 0L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, static_cast<long>(limits.stall_time.count()));
  // Under a cap, a tenth of a second's worth at a time (1 KiB at least), so that holding the
  // body to it never waits long at once.
  const std::int64_t rate = std::max<std::int64_t>(0, limits.max_receive_rate);
  curl_easy_setopt(handle, CURLOPT_BUFFERSIZE,
                   rate > 0 ? static_cast<long>(std::clamp<std::int64_t>(rate / 10, 1024, 16384))
                            : static_cast<long>(CURL_MAX_WRITE_SIZE));
  x.started = std::chrono::steady_clock::now();
  // Who asks, as the chain's server keeps it; a body goes out with its head, never after a
  // wait for "100 Continue".
  curl_slist* headers = curl_slist_append(nullptr, ("X-Jov-Host: " + options.host_name).c_str());
  const std::string identity =
      options.identity != nullptr ? options.identity->Value() : std::string();
  if (!identity.empty()) {
    headers = curl_slist_append(headers, ("X-Jov-Register: " + identity).c_str());
  }
  headers = curl_slist_append(headers, "Expect:");
  if (body != nullptr) headers = curl_slist_append(headers, ("Content-Type: " + type).c_str());
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
  if (body != nullptr) {
    curl_easy_setopt(handle, CURLOPT_POST, 1L);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body->data());
  } else {
    curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
  }
  return headers;
}

HttpResult HttpTransport::Impl::Finish(const std::string& url, CURLcode code,
                                       const curl_detail::Exchange& x, const char* handle_words,
                                       bool& drop) {
  drop = false;
  if (x.thrown) {
    drop = true;  // a connection left mid-answer is of no further use
    std::rethrow_exception(x.thrown);
  }
  HttpResult result;
  result.url = url;
  result.status = x.head_done ? x.status : 0;
  result.length = x.length;
  result.received = x.received;
  result.content_range = x.content_range;
  if (code == CURLE_WRITE_ERROR && x.dropped_enough) {
    drop = true;  // the status is all; the rest of the answer is not read
    return result;
  }
  result.failure = curl_detail::FailureOf(code, x, handle_words);
  if (!result.ok()) {
    result.detail =
        handle_words[0] != '\0' ? cp1252::ForLog(handle_words, 300) : curl_easy_strerror(code);
    drop = true;
  } else if (!x.head_done) {
    result.failure = HttpFailure::kClosed;  // the connection ended inside the head
    drop = true;
  }
  return result;
}

HttpResult HttpTransport::Impl::Once(const std::string& url, const std::string* body,
                                     const std::string& type, const HttpLimits& limits,
                                     const HttpSink& sink, std::int64_t from) {
  Open();
  if (curl == nullptr) {
    HttpResult result;
    result.url = url;
    result.failure = HttpFailure::kOther;
    result.detail = "libcurl cannot be set up";
    return result;
  }
  curl_detail::Exchange x;
  x.sink = &sink;
  x.partial = from > 0;
  words[0] = '\0';
  curl_slist* headers = Prepare(curl, x, url, body, type, limits);
  const std::string range = std::to_string(from) + "-";
  curl_easy_setopt(curl, CURLOPT_RANGE, from > 0 ? range.c_str() : nullptr);
  const CURLcode code = curl_easy_perform(curl);
  curl_easy_setopt(curl, CURLOPT_RANGE, nullptr);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, nullptr);
  curl_slist_free_all(headers);
  bool drop = false;
  try {
    HttpResult result = Finish(url, code, x, words, drop);
    if (drop) Reset();
    return result;
  } catch (...) {
    Reset();
    throw;
  }
}

void HttpTransport::Impl::Reset() {
  if (curl != nullptr) curl_easy_cleanup(curl);
  curl = nullptr;
  // The kept connections go with the share; none of its handles is left.
  if (share != nullptr) curl_share_cleanup(share);
  share = nullptr;
}

HttpTransport::HttpTransport() : HttpTransport(Options{}) {}

HttpTransport::HttpTransport(Options options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
}

HttpTransport::~HttpTransport() { impl_->Reset(); }

void HttpTransport::Reset() { impl_->Reset(); }

HttpResult HttpTransport::Get(const std::string& url, const HttpLimits& limits,
                              const HttpSink& sink, std::int64_t from) {
  std::string current = url;
  for (int hop = 0;; ++hop) {
    HttpResult result = impl_->Once(current, nullptr, {}, limits, sink, from);
    if (!result.ok() || !IsRedirect(result.status) || limits.max_redirects <= 0) return result;
    char* next = nullptr;
    curl_easy_getinfo(impl_->curl, CURLINFO_REDIRECT_URL, &next);
    if (next == nullptr) return result;  // a redirect without a place to go: its status is all
    const std::string target = next;
    const std::string from = SchemeOf(current);
    const std::string to = SchemeOf(target);
    result.location = target;
    if (to != "http" && to != "https") {
      result.failure = HttpFailure::kRedirectScheme;
    } else if (from == "https" && to != "https") {
      // What came over a checked connection does not go on over an unchecked one.
      result.failure = HttpFailure::kRedirectDowngrade;
    } else if (hop >= limits.max_redirects) {
      result.failure = HttpFailure::kRedirects;
    }
    if (!result.ok()) return result;
    current = target;
  }
}

HttpResult HttpTransport::Post(const std::string& url, const std::string& body,
                               const std::string& type, const HttpLimits& limits,
                               const HttpSink& sink) {
  return impl_->Once(url, &body, type, limits, sink, 0);
}

}  // namespace jov
