#include "server/http/engine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <ctime>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/cp1252.h"

namespace appserver::http {
namespace {

namespace beast = boost::beast;
namespace net = boost::asio;
namespace wire = boost::beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

// Counts the lines of a request head as its bytes come, up to the blank line that ends it.
class HeadCounter {
 public:
  explicit HeadCounter(const Limits& limits) : limits_(limits) {}
  void Reset() { *this = HeadCounter(limits_); }
  bool done() const { return done_; }

  // Takes one byte of the head; false when it breaks a bound.
  bool Count(char byte) {
    if (++line_bytes_ > limits_.line_bytes) return false;
    if (byte != '\n') {
      if (byte != '\r') blank_ = false;
      return true;
    }
    if (blank_ && lines_ > 0) {
      done_ = true;
      return true;
    }
    line_bytes_ = 0;
    blank_ = true;
    return ++lines_ <= limits_.lines;
  }

 private:
  Limits limits_;
  std::size_t line_bytes_ = 0;  // of the current line, its line end included
  bool blank_ = true;           // the current line has had nothing but CR so far
  std::size_t lines_ = 0;
  bool done_ = false;
};

// The answer's Date: a cache reckons an answer's age, and how long it may keep it, from it.
std::string Now() { return HttpDate(static_cast<std::int64_t>(std::time(nullptr))); }

const char* Reason(int status) {
  return wire::obsolete_reason(static_cast<wire::status>(status)).data();
}

class Session;

// The open connections: how many each peer address holds, and which wait idle for a next
// request, so that a full server makes room by closing the one idle longest. Safe from any
// thread.
class Connections {
 public:
  explicit Connections(const Limits& limits) : limits_(limits) {}

  // Takes the new connection in, or refuses it (false): its address holds its share, or the
  // server is full and no connection is idle. When full, the oldest idle connection is closed.
  bool Admit(const std::shared_ptr<Session>& session, const std::string& address);
  void SetIdle(const Session* session, bool idle);
  void Remove(const Session* session);

 private:
  struct Entry {
    std::weak_ptr<Session> session;
    std::string address;
    bool idle = false;
    Clock::time_point idle_since;
  };
  void Erase(std::unordered_map<const Session*, Entry>::iterator entry);

  Limits limits_;
  std::mutex mutex_;
  std::unordered_map<const Session*, Entry> entries_;
  std::unordered_map<std::string, int> per_address_;
};

// One connection: its requests one after the other, every read and write asynchronous on the
// connection's strand, so that a connection waiting for bytes holds no thread.
class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket socket, const Limits& limits, const Handler& handler,
          net::thread_pool& handlers, LineLog& log, Connections& connections)
      : stream_(std::move(socket)),
        buffer_(limits.lines * limits.line_bytes + 65536),
        limits_(limits),
        handler_(handler),
        handlers_(handlers),
        log_(log),
        connections_(connections),
        counter_(limits),
        deadline_(stream_.get_executor()) {
    beast::error_code ec;
    const tcp::endpoint peer = stream_.socket().remote_endpoint(ec);
    if (!ec) {
      peer_ = peer.address().is_v6() && peer.address().to_v6().is_v4_mapped()
                  ? net::ip::make_address_v4(net::ip::v4_mapped, peer.address().to_v6()).to_string()
                  : peer.address().to_string();
      peer_port_ = peer.port();
    }
    stream_.socket().set_option(tcp::no_delay(true), ec);  // head and body go out at once
  }
  ~Session() { connections_.Remove(this); }

  const std::string& peer() const { return peer_; }

  void Start() {
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->NextRequest(); });
  }
  // Closes the connection from any thread.
  void CloseSoon() {
    net::post(stream_.get_executor(), [self = shared_from_this()] { self->Close(); });
  }

 private:
  void NextRequest() {
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(limits_.lines * limits_.line_bytes + 2));
    parser_->body_limit(limits_.body_bytes);
    parser_->eager(true);
    counter_.Reset();
    scanned_ = 0;
    started_ = false;
    timed_out_ = false;
    head_end_.reset();
    body_received_ = 0;
    if (buffer_.size() > 0) {
      Begin();
      return Consume();
    }
    connections_.SetIdle(this, true);
    stream_.expires_after(limits_.idle_time);
    ReadSome();
  }

  void Begin() {
    started_ = true;
    start_ = Clock::now();
    connections_.SetIdle(this, false);
  }

  void ReadSome() {
    if (closed_) return;
    const std::size_t room = buffer_.max_size() - buffer_.size();
    if (room == 0) return Refuse(431);
    stream_.async_read_some(
        buffer_.prepare(std::min<std::size_t>(room, 16384)),
        [self = shared_from_this()](beast::error_code ec, std::size_t n) { self->OnRead(ec, n); });
  }

  void OnRead(beast::error_code ec, std::size_t n) {
    if (ec) {
      // A connection that ends or idles out between requests just closes.
      if (started_ && timed_out_) return Refuse(408);
      return Close();
    }
    buffer_.commit(n);
    if (!started_) Begin();
    if (head_end_) body_received_ += n;
    Consume();
  }

  // Counts and parses what the buffer holds; answers a whole request, or reads on.
  void Consume() {
    if (!counter_.done()) {
      const auto* bytes = static_cast<const char*>(buffer_.data().data());
      for (; scanned_ < buffer_.size() && !counter_.done(); ++scanned_) {
        if (!counter_.Count(bytes[scanned_])) return Refuse(431);
      }
    }
    for (;;) {
      beast::error_code ec;
      const std::size_t used = parser_->put(buffer_.data(), ec);
      buffer_.consume(used);
      scanned_ -= std::min(scanned_, used);
      if (ec == wire::error::need_more) break;
      if (ec == wire::error::header_limit) return Refuse(431);
      if (ec == wire::error::body_limit) return Refuse(413);
      if (ec) return Refuse(400);
      if (parser_->is_done()) return Handle();
      if (used == 0 || buffer_.size() == 0) break;
    }
    if (parser_->is_header_done() && !head_end_) {
      head_end_ = Clock::now();
      if (jov::cp1252::EqualsIgnoringAsciiCase(std::string(parser_->get()[wire::field::expect]),
                                               "100-continue")) {
        // The client waits for this before it sends its body.
        static constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        stream_.expires_after(limits_.write_time);
        return net::async_write(stream_, net::buffer(kContinue, sizeof kContinue - 1),
                                [self = shared_from_this()](beast::error_code error, std::size_t) {
                                  if (error) return self->Close();
                                  self->ReadOn();
                                });
      }
    }
    ReadOn();
  }

  // Reads more of the request by its deadline: the head's, the whole request's, and the one
  // its body's average rate allows.
  void ReadOn() {
    Clock::time_point deadline = start_ + limits_.request_time;
    if (!head_end_) {
      deadline = std::min(deadline, start_ + limits_.head_time);
    } else {
      const auto allowed = std::chrono::milliseconds(
          body_received_ * 1000 / std::max<std::size_t>(limits_.body_bytes_per_second, 1));
      deadline = std::min(deadline, *head_end_ + limits_.body_grace + allowed);
    }
    // The stream's own time-out would close the socket before the 408 is sent: the
    // request's deadline cancels the read instead.
    stream_.expires_never();
    deadline_.expires_at(deadline);
    deadline_.async_wait([self = shared_from_this()](beast::error_code ec) {
      if (ec || self->closed_) return;
      self->timed_out_ = true;
      self->stream_.socket().cancel(ec);
    });
    ReadSome();
  }

  Request MakeRequest() {
    auto& message = parser_->get();
    Request request;
    request.method = std::string(message.method_string());
    const std::string target(message.target());
    const std::size_t question = target.find('?');
    request.path = PercentDecode(target.substr(0, question), false);
    if (question != std::string::npos) request.query = target.substr(question + 1);
    for (const auto& field : message) {
      request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }
    request.body = std::move(message.body());
    request.peer = peer_;
    return request;
  }

  // The handler runs on the engine's handler threads, so that a slow answer (an archive
  // signed, a fleet store that waits) holds none of the threads that read and write.
  void Handle() {
    deadline_.cancel();
    const bool keep = parser_->get().keep_alive();
    auto request = std::make_shared<Request>(MakeRequest());
    net::post(handlers_, [self = shared_from_this(), request, keep] {
      auto response = std::make_shared<Response>();
      try {
        *response = self->handler_(*request);
      } catch (const std::exception& error) {
        self->log_.Write("jov-appserver: " + std::string(error.what()));
        *response = Response::Text(500, "internal error\n");
      }
      self->log_.Write(self->peer_ + ":" + std::to_string(self->peer_port_) + " " +
                       request->method + " " + request->path + " " +
                       std::to_string(response->status));
      net::dispatch(self->stream_.get_executor(),
                    [self, response, keep] { self->Respond(std::move(*response), keep); });
    });
  }

  void Respond(Response response, bool keep) {
    if (closed_) return;
    if (response.file) return SendFile(std::move(response), keep);
    auto answer = std::make_shared<wire::response<wire::string_body>>(
        static_cast<wire::status>(response.status), 11);
    for (const auto& [name, value] : response.headers) answer->set(name, value);
    answer->set(wire::field::date, Now());
    answer->body() = std::move(response.body);
    answer->keep_alive(keep);
    answer->prepare_payload();
    stream_.expires_after(limits_.write_time);
    wire::async_write(stream_, *answer,
                      [self = shared_from_this(), answer](beast::error_code ec, std::size_t) {
                        self->Sent(ec, answer->keep_alive());
                      });
  }

  void Sent(beast::error_code ec, bool keep) {
    if (ec || !keep) return Close();
    NextRequest();
  }

  void SendFile(Response response, bool keep) {
    file_ = std::move(response.file);
    file_head_ = std::make_unique<wire::response<wire::empty_body>>(
        static_cast<wire::status>(response.status), 11);
    for (const auto& [name, value] : response.headers) file_head_->set(name, value);
    file_head_->set(wire::field::date, Now());
    file_head_->content_length(file_->length);
    file_head_->keep_alive(keep);
    file_serializer_ = std::make_unique<wire::response_serializer<wire::empty_body>>(*file_head_);
    stream_.expires_after(limits_.write_time);
    wire::async_write_header(stream_, *file_serializer_,
                             [self = shared_from_this()](beast::error_code ec, std::size_t) {
                               if (ec) return self->Close();
                               self->SendChunk();
                             });
  }

  // The next piece of the file, read from its descriptor; a file that changed since it was
  // opened is not sent on, so that no client takes a mix of two versions for one.
  void SendChunk() {
    if (file_->length == 0) {
      const bool keep = file_head_->keep_alive();
      file_.reset();
      file_serializer_.reset();
      file_head_.reset();
      return Sent({}, keep);
    }
    struct stat now {};
    const struct stat& opened = file_->opened;
    if (::fstat(file_->file.get(), &now) != 0 || now.st_size != opened.st_size ||
        now.st_mtim.tv_sec != opened.st_mtim.tv_sec ||
        now.st_mtim.tv_nsec != opened.st_mtim.tv_nsec) {
      log_.Write("jov-appserver: a file changed while it was sent to " + peer_ +
                 "; its answer is cut short");
      return Close();
    }
    chunk_.resize(std::min<std::uint64_t>(file_->length, 65536));
    ssize_t n;
    do {
      n = ::pread(file_->file.get(), chunk_.data(), chunk_.size(),
                  static_cast<off_t>(file_->offset));
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return Close();
    stream_.expires_after(limits_.write_time);
    net::async_write(stream_, net::buffer(chunk_.data(), static_cast<std::size_t>(n)),
                     [self = shared_from_this()](beast::error_code ec, std::size_t sent) {
                       if (ec) return self->Close();
                       self->file_->offset += sent;
                       self->file_->length -= sent;
                       self->SendChunk();
                     });
  }

  // Answers a request that broke a bound, and closes the connection.
  void Refuse(int status) {
    deadline_.cancel();
    std::string what = "-";
    if (parser_ && parser_->is_header_done()) {
      what = std::string(parser_->get().method_string()) + " " +
             PercentDecode(std::string(parser_->get().target()), false);
    }
    log_.Write(peer_ + ":" + std::to_string(peer_port_) + " " + what + " " +
               std::to_string(status));
    auto answer =
        std::make_shared<std::string>("HTTP/1.1 " + std::to_string(status) + " " + Reason(status) +
                                      "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
    stream_.expires_after(limits_.write_time);
    net::async_write(
        stream_, net::buffer(*answer),
        [self = shared_from_this(), answer](beast::error_code, std::size_t) { self->Close(); });
  }

  void Close() {
    if (closed_) return;
    closed_ = true;
    deadline_.cancel();
    connections_.Remove(this);
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
    stream_.close();
  }

  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  const Limits& limits_;
  const Handler& handler_;
  net::thread_pool& handlers_;
  LineLog& log_;
  Connections& connections_;
  std::string peer_ = "?";
  int peer_port_ = 0;

  std::optional<wire::request_parser<wire::string_body>> parser_;
  HeadCounter counter_;
  std::size_t scanned_ = 0;  // bytes of the buffer the head counter has seen
  bool started_ = false;     // a byte of the current request has come
  Clock::time_point start_;
  std::optional<Clock::time_point> head_end_;
  std::size_t body_received_ = 0;
  bool timed_out_ = false;  // the request's deadline passed
  bool closed_ = false;
  net::steady_timer deadline_;

  std::optional<FileBody> file_;
  std::unique_ptr<wire::response<wire::empty_body>> file_head_;
  std::unique_ptr<wire::response_serializer<wire::empty_body>> file_serializer_;
  std::vector<char> chunk_;
};

bool Connections::Admit(const std::shared_ptr<Session>& session, const std::string& address) {
  std::shared_ptr<Session> evicted;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    int& count = per_address_[address];
    if (count >= limits_.max_per_address) return false;
    if (static_cast<int>(entries_.size()) >= limits_.max_connections) {
      auto oldest = entries_.end();
      for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->second.idle &&
            (oldest == entries_.end() || it->second.idle_since < oldest->second.idle_since)) {
          oldest = it;
        }
      }
      if (oldest == entries_.end()) {
        if (count == 0) per_address_.erase(address);
        return false;
      }
      evicted = oldest->second.session.lock();
      Erase(oldest);
    }
    ++per_address_[address];
    entries_[session.get()] = Entry{session, address, false, {}};
  }
  if (evicted) evicted->CloseSoon();
  return true;
}

void Connections::SetIdle(const Session* session, bool idle) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = entries_.find(session);
  if (found == entries_.end()) return;
  found->second.idle = idle;
  if (idle) found->second.idle_since = Clock::now();
}

void Connections::Remove(const Session* session) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = entries_.find(session);
  if (found != entries_.end()) Erase(found);
}

void Connections::Erase(std::unordered_map<const Session*, Entry>::iterator entry) {
  const auto count = per_address_.find(entry->second.address);
  if (count != per_address_.end() && --count->second <= 0) per_address_.erase(count);
  entries_.erase(entry);
}

}  // namespace

struct Engine::Impl {
  Impl(const Limits& limits, Handler handler, LineLog& log)
      : limits(limits),
        handler(std::move(handler)),
        log(log),
        connections(limits),
        handlers(static_cast<std::size_t>(std::max(limits.handler_threads, 1))) {}

  void Accept() {
    acceptor.async_accept(net::make_strand(context),
                          [this](beast::error_code ec, tcp::socket socket) {
                            if (ec == net::error::operation_aborted) return;
                            if (ec) {
                              // Out of descriptors, say: wait a little rather than spin on the same
                              // error.
                              retry.expires_after(std::chrono::milliseconds(100));
                              return retry.async_wait([this](beast::error_code error) {
                                if (!error) Accept();
                              });
                            }
                            Take(std::move(socket));
                            // The queue of a crowd connecting at once is taken whole here: one
                            // accept per turn of the context, behind every other connection's reads
                            // and writes, would leave it waiting for seconds.
                            for (int more = 0; more < 1024; ++more) {
                              tcp::socket next(net::make_strand(context));
                              acceptor.accept(next, ec);
                              if (ec) break;
                              Take(std::move(next));
                            }
                            Accept();
                          });
  }

  void Take(tcp::socket socket) {
    auto session =
        std::make_shared<Session>(std::move(socket), limits, handler, handlers, log, connections);
    if (connections.Admit(session, session->peer())) session->Start();
  }

  Limits limits;
  Handler handler;
  LineLog& log;
  Connections connections;  // outlives the context, whose connections remove themselves
  net::io_context context;
  net::thread_pool handlers;
  tcp::acceptor acceptor{context};
  net::steady_timer retry{context};
};

Engine::Engine(const Limits& limits, Handler handler, LineLog& log)
    : impl_(std::make_unique<Impl>(limits, std::move(handler), log)) {}

Engine::~Engine() = default;

int Engine::Listen(const std::string& host, int port) {
  beast::error_code ec;
  tcp::resolver resolver(impl_->context);
  const auto found = resolver.resolve(host, std::to_string(port),
                                      tcp::resolver::passive | tcp::resolver::numeric_service, ec);
  if (ec || found.empty()) {
    throw std::runtime_error(ec ? ec.message() : "no such address");
  }
  const tcp::endpoint endpoint = *found.begin();
  tcp::acceptor& acceptor = impl_->acceptor;
  acceptor.open(endpoint.protocol(), ec);
  if (!ec) acceptor.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(impl_->limits.backlog, ec);
  if (!ec) acceptor.non_blocking(true, ec);  // the accepts after the first of a turn never wait
  if (ec) {
    acceptor.close();
    throw std::runtime_error(ec.message());
  }
  return acceptor.local_endpoint().port();
}

void Engine::Run(int threads) {
  impl_->Accept();
  std::vector<std::thread> more;
  for (int i = 1; i < threads; ++i) more.emplace_back([this] { impl_->context.run(); });
  impl_->context.run();
  for (std::thread& thread : more) thread.join();
}

void Engine::Stop() {
  // The connections still open are closed as the context goes with the engine.
  impl_->context.stop();
  impl_->handlers.stop();
}

}  // namespace appserver::http
