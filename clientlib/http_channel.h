// AppServerChannel over HTTP/1.1: the application server's protocol.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "clientlib/app_server_channel.h"
#include "clientlib/http_transport.h"

namespace jov {

class ServerStall;
class Session;

// The bounds of a channel's exchanges.
struct ChannelTimeouts {
  std::chrono::milliseconds connect{5000};
  std::chrono::milliseconds answer{30000};
  std::size_t max_answer_bytes = std::size_t{64} << 20;
  // How many calls of CallAll are in flight together, each on a connection of its own;
  // 1: one after another.
  int together = 4;
  // Whether the channel's first Open also sets up the other connections CallAll will use
  // (by the same connect check, its answers dropped), so that the calls after it find them
  // ready. For the start's channel; a channel of one call leaves it off.
  bool set_up_ahead = false;
};

// Open checks GET /<server name>/ for 200; Call posts a JSON array of the arguments to
// /<server name>/<method> and takes "result" from the JSON object answered with 200. Texts
// travel as JSON strings of their Windows-1252 characters. Kept-alive connections serve every
// call, and are kept through Close for the next Open, until the channel ends.
//
// Every exchange is bounded however the server behaves: Open blocks for at most the connect
// limit (name lookup, connection and answer together), Call for at most the answer limit (from
// sending the request to the answer's last byte, a reconnect included), and an answer body
// larger than the size limit ends the call; the JSON answer is read without building it, at
// most 64 levels deep. Once an Open or a Call sharing the channel's stall state has run out of
// time, the later ones fail at once (see clientlib/server_stall.h); a refused connection is no
// stall. Failures raise Error with a Portuguese reason for the log. Goes through a proxy only
// when the options name one.
class HttpAppServerChannel : public AppServerChannel {
 public:
  using Timeouts = ChannelTimeouts;

  // options: the transport's (proxy, who asks, cancel: set from another thread, it ends the
  // exchange in flight within a second). stall is noted and heeded; it and what options point
  // to must outlive the channel.
  HttpAppServerChannel(HttpTransport::Options options, ServerStall& stall, Timeouts timeouts = {});
  // The start's channel: its proxy, host name, identity and stall.
  explicit HttpAppServerChannel(Session& session, Timeouts timeouts = {});
  ~HttpAppServerChannel() override;
  void Open(const std::string& host, int port, const std::string& server_name) override;
  void Close() override;
  std::string Call(const std::string& method, const std::vector<std::string>& args) override;
  // The calls in flight together over at most timeouts.together connections, the connect
  // check's first; blocks on the calling thread (running the options' turn) until all have
  // ended. The outcomes, and the stall state, are those of the calls made one after another:
  // once one in the order ran out of time, those after it fail as refused after the stall,
  // whatever their answers were.
  std::vector<CallOutcome> CallAll(const std::string& method,
                                   const std::vector<std::vector<std::string>>& arguments) override;
  // The connect check and the calls together: the calls go out on the other connections while
  // the check is in flight, so that a far server costs one round trip fewer. When the check
  // fails, it throws as Open would, the calls' answers dropped unread; else the outcomes and
  // the stall state are those of Open, then CallAll.
  std::vector<CallOutcome> OpenAndCallAll(
      const std::string& host, int port, const std::string& server_name, const std::string& method,
      const std::vector<std::vector<std::string>>& arguments) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace jov
