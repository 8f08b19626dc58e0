// The launcher's one HTTP client: bounded exchanges over libcurl, one kept connection each.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace jov {

// The bounds of one exchange. A stall is less than stall_bytes_per_second moved over
// stall_time, counted from the first byte of the request (the answer's head included).
struct HttpLimits {
  std::chrono::milliseconds connect{5000};  // connection set-up, name lookup included
  std::chrono::milliseconds total{30000};   // the whole exchange; 0: only the stall rule
  long stall_bytes_per_second = 1024;
  std::chrono::seconds stall_time{0};  // 0: no stall rule
  std::int64_t max_body = std::int64_t{64} << 20;
  int max_redirects = 0;  // http and https only, never from https to http
  // The fastest the body may come, in bytes per second; 0: as fast as it comes.
  std::int64_t max_receive_rate = 0;
};

// Why an exchange brought no whole answer.
enum class HttpFailure {
  kNone,
  kAddress,            // not an http or https URL, or one that cannot be used
  kResolve,            // the host name is not known
  kRefused,            // refused, or the host is unreachable
  kConnectTimeout,     // no connection within limits.connect
  kTimeout,            // not complete within limits.total
  kStalled,            // the stall rule
  kTooLarge,           // the body is larger than limits.max_body
  kHeadTooLarge,       // the head is larger than its bound
  kClosed,             // the connection closed before the answer was whole
  kSend,               // the request could not be sent
  kBadAnswer,          // what came is not an HTTP answer
  kTls,                // the secure connection could not be set up
  kCertificate,        // the server's certificate is not trusted
  kRedirects,          // more than limits.max_redirects
  kRedirectScheme,     // a redirect to something other than http or https
  kRedirectDowngrade,  // a redirect from https to http
  kProxy,              // the proxy cannot be reached or refused
  kAborted,            // ended by Options::cancel
  kOther,
};

struct HttpResult {
  HttpFailure failure = HttpFailure::kNone;
  int status = 0;             // the final answer's status, 0 when none came
  std::int64_t length = -1;   // its declared length, -1 when it declares none
  std::int64_t received = 0;  // body bytes handed to the sink
  std::string url;            // the URL last asked (after redirects)
  std::string location;       // a refused redirect's target, as the server gave it
  std::string detail;         // libcurl's own words, for kOther and kTls
  std::string content_range;  // a 206 answer's Content-Range, as the server gave it
  bool ok() const { return failure == HttpFailure::kNone; }
};

// What a final answer is given to; either may throw to end the exchange. head hears the
// status and declared length once the final answer's head is whole; body gets the bytes of a
// 200 answer only (other answers' bodies are read, bounded, and dropped).
struct HttpSink {
  std::function<void(int status, std::int64_t length)> head;
  std::function<void(const char* data, std::size_t size)> body;
};

// Words for a failed exchange: message is English for exceptions, reason Portuguese
// (Windows-1252) for the register's log. limits are those the exchange ran under.
struct HttpCause {
  std::string message;
  std::string reason;
  bool stall = false;  // a time bound ran out: the server counts as stalled for this start
};
HttpCause DescribeFailure(const HttpResult& result, const HttpLimits& limits);

class RegisterIdentity;

// One libcurl handle: calls made through one transport reuse its connection. Not thread-safe;
// use one per thread. Every request carries the launcher's User-Agent, X-Jov-Host (the options'
// host name) and, once the options' identity knows the register's codes, X-Jov-Register.
class HttpTransport {
 public:
  struct Options {
    std::string proxy;    // libcurl's proxy syntax; empty: no proxy, whatever the environment
    std::string ca_file;  // PEM authorities for https; empty: the system's store
    // Set from another thread, ends the exchange in flight within a second (kAborted).
    const std::atomic<bool>* cancel = nullptr;
    // Who asks, as the chain's server keeps it: this machine's name (LocalHostName, read once
    // per start) and the register's codes; the identity, when given, must outlive the transport.
    std::string host_name;
    const RegisterIdentity* identity = nullptr;
    // Run on the calling thread between short waits of the together paths (at most 20 ms apart),
    // for example to let the screen paint; may be empty. Must not use the transport.
    std::function<void()> turn;
  };
  HttpTransport();
  explicit HttpTransport(Options options);
  ~HttpTransport();
  HttpTransport(const HttpTransport&) = delete;
  HttpTransport& operator=(const HttpTransport&) = delete;

  // Blocks within limits (redirects each get limits anew, at most max_redirects of them).
  // Returns the outcome; an exception thrown by the sink ends the exchange and comes out
  // unchanged.
  // from > 0 asks for the bytes from there on ("Range: bytes=<from>-"): a 206 answer's head and
  // body then go to the sink as a 200's do, its Content-Range in the result.
  HttpResult Get(const std::string& url, const HttpLimits& limits, const HttpSink& sink,
                 std::int64_t from = 0);
  HttpResult Post(const std::string& url, const std::string& body, const std::string& type,
                  const HttpLimits& limits, const HttpSink& sink);
  // One request of PostTogether and what came of it: the body of a 200 answer.
  struct Together {
    std::string url;
    std::string body;
    std::string type;
  };
  struct Answer {
    HttpResult result;
    std::string body;
  };
  // Sends the posts together on the calling thread over at most connections connections
  // (those kept from earlier exchanges used first, and kept after), each bounded by limits as
  // Post bounds it: a post waits, unsent, for a free connection, and its time counts from its
  // own start. Blocks until every one has ended (within the sum of the bounds of the posts one
  // connection carries) and returns the answers in the order of posts; a failure is in its
  // answer, never thrown. Runs options.turn between waits.
  std::vector<Answer> PostTogether(const std::vector<Together>& posts, const HttpLimits& limits,
                                   int connections);
  // A GET of url as Get makes it (without redirects), with the same GET beside it on new
  // connections up to connections in all, so that those connections are kept for later
  // exchanges; what they bring is dropped. Returns the first GET's outcome once it has ended:
  // when it failed, or brought another status than 200, the others are left at once; else
  // they are waited for at most as long again as it took, or 250 ms when that is longer, and
  // within limits (they all start together). Blocks within those bounds, running
  // options.turn as PostTogether does.
  HttpResult GetSettingUp(const std::string& url, const HttpLimits& limits, int connections);
  // A GET of url (bounded by get_limits) first, on a kept connection when there is one, and the
  // posts as PostTogether sends them on the other connections while it is in flight, on all of
  // them once it has ended. Unless the GET ends with a whole 200 answer, the posts in flight
  // are left at once and those not sent never are. Returns the GET's answer, then the posts'
  // in their order (a post left unanswered: kAborted). Blocks as PostTogether does.
  std::vector<Answer> GetThenPostTogether(const std::string& url, const HttpLimits& get_limits,
                                          const std::vector<Together>& posts,
                                          const HttpLimits& limits, int connections);
  // Drops the kept connections.
  void Reset();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A bound as messages write it: "5 s" or "800 ms"; "64 MiB", "4 KiB" or "100 bytes".
std::string SpanText(std::chrono::milliseconds span);
std::string SizeText(std::int64_t bytes);

// This machine's host name as X-Jov-Host and the update report give it (control characters
// replaced, at most 255 bytes); empty when it cannot be told. Asks the system at each call.
std::string LocalHostName();

// A text as one segment of a URL's path: everything but the unreserved characters (letters,
// digits, "-", ".", "_", "~") percent-encoded, so that a name cannot change the request line.
std::string EncodePathSegment(const std::string& text);

// A URL fit for libcurl: blanks, control bytes and bytes above 127 percent-encoded, every
// other byte as given.
std::string EncodeUnsafeBytes(const std::string& url);

}  // namespace jov
