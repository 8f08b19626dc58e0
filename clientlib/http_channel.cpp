#include "clientlib/http_channel.h"

#include <nlohmann/json.hpp>
#include <utility>

#include "clientlib/http_transport.h"
#include "clientlib/server_stall.h"
#include "clientlib/session.h"
#include "platform/cp1252.h"
#include "platform/errors.h"

namespace jov {
namespace {

// The host as a URL's authority: a name or an IPv4 address as it is, an IPv6 address in
// brackets; empty when it holds anything no host name or address has.
std::string Authority(const std::string& host) {
  std::string bare = host;
  if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']') {
    bare = bare.substr(1, bare.size() - 2);
  }
  if (bare.empty()) return {};
  for (char c : bare) {
    const bool name_char = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == ':';
    if (!name_char) return {};
  }
  return bare.find(':') != std::string::npos ? "[" + bare + "]" : bare;
}

constexpr int kMaxDepth = 64;

// Takes the text "result" of a JSON object without building the document: memory stays
// within the answer's own size whatever its shape, and nesting is bounded.
class ResultReader : public nlohmann::json_sax<nlohmann::json> {
 public:
  bool null() override { return Value(false); }
  bool boolean(bool) override { return Value(false); }
  bool number_integer(number_integer_t) override { return Value(false); }
  bool number_unsigned(number_unsigned_t) override { return Value(false); }
  bool number_float(number_float_t, const string_t&) override { return Value(false); }
  bool binary(binary_t&) override { return Value(false); }
  bool string(string_t& text) override {
    if (depth_ == 1 && at_result_) result_ = std::move(text);
    return Value(depth_ == 1 && at_result_);
  }
  bool start_object(std::size_t) override { return Open(true); }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t) override { return Open(false); }
  bool end_array() override { return Close(); }
  bool key(string_t& name) override {
    at_result_ = depth_ == 1 && name == "result";
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

  bool too_deep = false;
  bool top_is_object = false;
  const std::optional<std::string>& result() const { return result_; }

 private:
  bool Value(bool text) {
    if (depth_ == 1 && at_result_ && !text) result_.reset();  // the last "result" counts
    at_result_ = false;
    return true;
  }
  bool Open(bool object) {
    if (depth_ == 0) top_is_object = object;
    if (depth_ == 1 && at_result_) result_.reset();
    at_result_ = false;
    if (++depth_ > kMaxDepth) {
      too_deep = true;
      return false;
    }
    return true;
  }
  bool Close() {
    --depth_;
    return true;
  }
  int depth_ = 0;
  bool at_result_ = false;
  std::optional<std::string> result_;
};

}  // namespace

struct HttpAppServerChannel::Impl {
  Impl(HttpTransport::Options options, ServerStall& stall, Timeouts timeouts)
      : options(std::move(options)), stall(stall), timeouts(timeouts) {}

  HttpTransport::Options options;
  ServerStall& stall;
  Timeouts timeouts;
  std::unique_ptr<HttpTransport> transport;
  std::string base;   // "http://host:port/<server name>/"
  std::string where;  // "lum.x at host:port", for messages

  // Fails at once when an earlier exchange sharing the stall state ran out of time.
  void RefuseAfterStall(const std::string& failure) const {
    if (stall.Stalled()) {
      throw Error(failure + "the server stopped answering earlier (" + stall.Cause() + ")",
                  Cause::kServerStalled, {.detail = stall.Reason()});
    }
  }

  // Raises the failure of an exchange; a time bound that ran out marks the server stalled.
  [[noreturn]] void Fail(const std::string& failure, const HttpResult& result,
                         const HttpLimits& limits, const std::string& what) const {
    HttpCause cause = DescribeFailure(result, limits);
    if (result.failure == HttpFailure::kTimeout && what == "the connect check") {
      cause.message = "no answer within " + SpanText(limits.total);
    }
    if (cause.stall) {
      stall.Note(what + " on " + where + ": " + cause.message, what + ": " + cause.reason);
    }
    throw Error(failure + cause.message, Cause::kExchangeFailed, {.detail = cause.reason});
  }
};

HttpAppServerChannel::HttpAppServerChannel(HttpTransport::Options options, ServerStall& stall,
                                           Timeouts timeouts)
    : impl_(std::make_unique<Impl>(std::move(options), stall, timeouts)) {}

HttpAppServerChannel::HttpAppServerChannel(Session& session, Timeouts timeouts)
    : HttpAppServerChannel(session.TransportOptions(), session.Stall(), timeouts) {}

HttpAppServerChannel::~HttpAppServerChannel() = default;

void HttpAppServerChannel::Open(const std::string& host, int port, const std::string& server_name) {
  Close();
  const std::string where =
      server_name + " at " + cp1252::ForLog(host, 300) + ":" + std::to_string(port);
  const std::string failure = "Cannot connect to " + where + ": ";
  const std::string authority = Authority(host);
  if (authority.empty() || port <= 0 || port > 65535) {
    throw Error(failure + "no server address", Cause::kServerAddressInvalid);
  }
  impl_->RefuseAfterStall(failure);
  auto transport = std::make_unique<HttpTransport>(impl_->options);
  impl_->where = where;
  impl_->base = "http://" + authority + ":" + std::to_string(port) + "/" +
                EncodePathSegment(server_name) + "/";
  HttpLimits limits;
  limits.connect = impl_->timeouts.connect;
  limits.total = impl_->timeouts.connect;
  limits.max_body = static_cast<std::int64_t>(impl_->timeouts.max_answer_bytes);
  const HttpResult answer = transport->Get(impl_->base, limits, {});
  if (!answer.ok()) impl_->Fail(failure, answer, limits, "the connect check");
  if (answer.status != 200) {
    throw Error(failure + "the server answered HTTP " + std::to_string(answer.status),
                Cause::kServerStatus, {.number = answer.status});
  }
  impl_->transport = std::move(transport);
}

void HttpAppServerChannel::Close() { impl_->transport.reset(); }

std::string HttpAppServerChannel::Call(const std::string& method,
                                       const std::vector<std::string>& args) {
  if (!impl_->transport) {
    throw Error("Cannot call " + method + ": not connected", Cause::kNotConnected);
  }
  const std::string what = "Call " + method + " on " + impl_->where + " failed: ";
  impl_->RefuseAfterStall(what);
  nlohmann::json body = nlohmann::json::array();
  for (const std::string& arg : args) body.push_back(cp1252::ToUtf8(arg));
  HttpLimits limits;
  limits.connect = std::min(impl_->timeouts.connect, impl_->timeouts.answer);
  limits.total = impl_->timeouts.answer;
  limits.max_body = static_cast<std::int64_t>(impl_->timeouts.max_answer_bytes);
  std::string text;
  const HttpResult answer = impl_->transport->Post(
      impl_->base + EncodePathSegment(method), body.dump(), "application/json", limits,
      {nullptr, [&](const char* data, std::size_t size) { text.append(data, size); }});
  if (!answer.ok()) impl_->Fail(what, answer, limits, method);
  if (answer.status != 200) {
    throw Error(what + "the server answered HTTP " + std::to_string(answer.status),
                Cause::kServerStatus, {.number = answer.status, .file = method});
  }
  ResultReader reader;
  const bool parsed = nlohmann::json::sax_parse(text, &reader);
  if (reader.too_deep) {
    throw Error(what + "the answer is nested more than 64 levels deep", Cause::kReplyTooDeep,
                {.number = 64, .file = method});
  }
  if (!parsed) {
    throw Error(what + "the answer is not valid JSON", Cause::kReplyNotJson, {.file = method});
  }
  if (!reader.top_is_object || !reader.result()) {
    throw Error(what + "the answer has no text \"result\"", Cause::kReplyNoResult,
                {.file = method});
  }
  return cp1252::FromUtf8(*reader.result());
}

}  // namespace jov
