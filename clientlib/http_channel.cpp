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
  // Kept from one Open to the next, with its connections, so that the next connect check
  // goes over a connection already made; open says whether calls may be made.
  std::unique_ptr<HttpTransport> transport;
  bool open = false;
  std::string base;   // "http://host:port/<server name>/"
  std::string where;  // "lum.x at host:port", for messages

  // Fails at once when an earlier exchange sharing the stall state ran out of time.
  void RefuseAfterStall(const std::string& failure) const {
    if (stall.Stalled()) {
      throw Error(failure + "the server stopped answering earlier (" + stall.Cause() + ")",
                  Cause::kServerStalled, {.detail = stall.Reason()});
    }
  }

  // The beginning of a failed call's message.
  std::string CallFailure(const std::string& method) const {
    return "Call " + method + " on " + where + " failed: ";
  }

  HttpLimits CallLimits() const {
    HttpLimits limits;
    limits.connect = std::min(timeouts.connect, timeouts.answer);
    limits.total = timeouts.answer;
    limits.max_body = static_cast<std::int64_t>(timeouts.max_answer_bytes);
    return limits;
  }

  // The arguments as the request's JSON array.
  static std::string Body(const std::vector<std::string>& args) {
    nlohmann::json body = nlohmann::json::array();
    for (const std::string& arg : args) body.push_back(cp1252::ToUtf8(arg));
    return body.dump();
  }

  // The result text of a call's answer; raises its failure.
  std::string Result(const std::string& method, const std::string& what, const HttpResult& answer,
                     const HttpLimits& limits, const std::string& text) const {
    if (!answer.ok()) Fail(what, answer, limits, method);
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

  // Closes, checks the address and the stall state, and aims the calls at the module;
  // returns the beginning of a failed connect's message. Raises when the address is unusable
  // or the server stalled earlier.
  std::string Aim(const std::string& host, int port, const std::string& server_name) {
    open = false;
    where = server_name + " at " + cp1252::ForLog(host, 300) + ":" + std::to_string(port);
    const std::string failure = "Cannot connect to " + where + ": ";
    const std::string authority = Authority(host);
    if (authority.empty() || port <= 0 || port > 65535) {
      throw Error(failure + "no server address", Cause::kServerAddressInvalid);
    }
    RefuseAfterStall(failure);
    base = "http://" + authority + ":" + std::to_string(port) + "/" +
           EncodePathSegment(server_name) + "/";
    return failure;
  }

  HttpLimits CheckLimits() const {
    HttpLimits limits;
    limits.connect = timeouts.connect;
    limits.total = timeouts.connect;
    limits.max_body = static_cast<std::int64_t>(timeouts.max_answer_bytes);
    return limits;
  }

  // Opens on the connect check's answer; raises its failure.
  void Checked(const std::string& failure, const HttpResult& answer, const HttpLimits& limits) {
    if (!answer.ok()) Fail(failure, answer, limits, "the connect check");
    if (answer.status != 200) {
      throw Error(failure + "the server answered HTTP " + std::to_string(answer.status),
                  Cause::kServerStatus, {.number = answer.status});
    }
    open = true;
  }

  std::vector<HttpTransport::Together> Posts(
      const std::string& method, const std::vector<std::vector<std::string>>& arguments) const {
    std::vector<HttpTransport::Together> posts;
    for (const std::vector<std::string>& args : arguments) {
      posts.push_back({base + EncodePathSegment(method), Body(args), "application/json"});
    }
    return posts;
  }

  // The calls' outcomes from answers[first...], read in order as one after another would have
  // read them: a stall noted by one refuses the rest.
  std::vector<CallOutcome> Outcomes(const std::string& method,
                                    const std::vector<HttpTransport::Answer>& answers,
                                    std::size_t first, const HttpLimits& limits) const {
    const std::string what = CallFailure(method);
    std::vector<CallOutcome> outcomes(answers.size() - first);
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
      try {
        RefuseAfterStall(what);
        outcomes[i].result =
            Result(method, what, answers[first + i].result, limits, answers[first + i].body);
      } catch (...) {
        outcomes[i].error = std::current_exception();
      }
    }
    return outcomes;
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
  const std::string failure = impl_->Aim(host, port, server_name);
  const bool fresh = !impl_->transport;
  if (fresh) impl_->transport = std::make_unique<HttpTransport>(impl_->options);
  const HttpLimits limits = impl_->CheckLimits();
  const HttpResult answer =
      fresh && impl_->timeouts.set_up_ahead && impl_->timeouts.together > 1
          ? impl_->transport->GetSettingUp(impl_->base, limits, impl_->timeouts.together)
          : impl_->transport->Get(impl_->base, limits, {});
  impl_->Checked(failure, answer, limits);
}

void HttpAppServerChannel::Close() { impl_->open = false; }

std::string HttpAppServerChannel::Call(const std::string& method,
                                       const std::vector<std::string>& args) {
  if (!impl_->open) {
    throw Error("Cannot call " + method + ": not connected", Cause::kNotConnected);
  }
  const std::string what = impl_->CallFailure(method);
  impl_->RefuseAfterStall(what);
  const HttpLimits limits = impl_->CallLimits();
  std::string text;
  const HttpResult answer = impl_->transport->Post(
      impl_->base + EncodePathSegment(method), impl_->Body(args), "application/json", limits,
      {nullptr, [&](const char* data, std::size_t size) { text.append(data, size); }});
  return impl_->Result(method, what, answer, limits, text);
}

std::vector<CallOutcome> HttpAppServerChannel::CallAll(
    const std::string& method, const std::vector<std::vector<std::string>>& arguments) {
  if (!impl_->open || impl_->timeouts.together <= 1 || arguments.size() <= 1 ||
      impl_->stall.Stalled()) {
    return AppServerChannel::CallAll(method, arguments);
  }
  const HttpLimits limits = impl_->CallLimits();
  const std::vector<HttpTransport::Together> posts = impl_->Posts(method, arguments);
  return impl_->Outcomes(
      method, impl_->transport->PostTogether(posts, limits, impl_->timeouts.together), 0, limits);
}

std::vector<CallOutcome> HttpAppServerChannel::OpenAndCallAll(
    const std::string& host, int port, const std::string& server_name, const std::string& method,
    const std::vector<std::vector<std::string>>& arguments) {
  if (impl_->timeouts.together <= 1 || arguments.size() <= 1) {
    return AppServerChannel::OpenAndCallAll(host, port, server_name, method, arguments);
  }
  const std::string failure = impl_->Aim(host, port, server_name);
  if (!impl_->transport) impl_->transport = std::make_unique<HttpTransport>(impl_->options);
  const HttpLimits check = impl_->CheckLimits();
  const HttpLimits limits = impl_->CallLimits();
  const std::vector<HttpTransport::Together> posts = impl_->Posts(method, arguments);
  const std::vector<HttpTransport::Answer> answers = impl_->transport->GetThenPostTogether(
      impl_->base, check, posts, limits, impl_->timeouts.together);
  impl_->Checked(failure, answers.front().result, check);
  return impl_->Outcomes(method, answers, 1, limits);
}

}  // namespace jov
