// ping HOST [-n COUNT] [-w TIMEOUT_MS] [-l SIZE] [-4|-6]: ICMP echo requests, with the
// summary a Brazilian-Portuguese Windows prints. Uses a raw socket (root or cap_net_raw),
// else an unprivileged ICMP datagram socket (net.ipv4.ping_group_range).
#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <netdb.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/cp1252.h"
#include "platform/system_text.h"
#include "tools/wincmd/tools.h"

namespace wincmd {
namespace {

using SteadyClock = std::chrono::steady_clock;

struct Options {
  std::string host;
  long count = 4;
  long timeout_ms = 4000;
  long size = 32;
  int family = AF_UNSPEC;
};

struct Target {
  sockaddr_storage address{};
  socklen_t length = 0;
  int family = AF_INET;
  std::string text;  // numeric form
};

// What came back for one echo request.
struct Outcome {
  enum Kind { kReply, kTimeout, kUnreachable, kNetUnreachable, kTtlExpired, kFailure } kind;
  std::string from;
  double rtt_ms = 0;
  int ttl = -1;
};

void Out(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fwrite("\r\n", 1, 2, stdout);
}

std::string AddressText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  } else if (address->sa_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
              sizeof text);
  }
  return text;
}

bool ParseNumber(const char* text, long low, long high, long& value) {
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || parsed < low || parsed > high) return false;
  value = parsed;
  return true;
}

// Returns an error text, or nothing when the command line is good.
std::optional<std::string> ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.size() >= 2 && (arg[0] == '-' || arg[0] == '/')) {
      const std::string name = jov::cp1252::LowerAscii(arg.substr(1));
      if (name == "4" || name == "6") {
        options.family = name == "4" ? AF_INET : AF_INET6;
        continue;
      }
      long* target = name == "n"   ? &options.count
                     : name == "w" ? &options.timeout_ms
                     : name == "l" ? &options.size
                                   : nullptr;
      if (target == nullptr) return "Opção inválida "_w + arg + ".";
      const long high = name == "l" ? 65500 : 4294967295L;
      if (i + 1 >= argc || !ParseNumber(argv[i + 1], name == "l" ? 0 : 1, high, *target)) {
        return "Valor inválido para a opção "_w + arg + ".";
      }
      ++i;
    } else if (options.host.empty()) {
      options.host = arg;
    } else {
      return "Parâmetro inválido "_w + arg + ".";
    }
  }
  if (options.host.empty()) return "Deve ser especificado um endereço IP."_w;
  return std::nullopt;
}

std::optional<Target> Resolve(const Options& options) {
  std::string host = options.host;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  const int families[2] = {options.family == AF_UNSPEC ? AF_INET : options.family,
                           options.family == AF_UNSPEC ? AF_INET6 : AF_UNSPEC};
  for (int family : families) {
    if (family == AF_UNSPEC) continue;
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_RAW;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) continue;
    Target target;
    std::memcpy(&target.address, found->ai_addr, found->ai_addrlen);
    target.length = found->ai_addrlen;
    target.family = found->ai_family;
    target.text = AddressText(found->ai_addr);
    freeaddrinfo(found);
    return target;
  }
  return std::nullopt;
}

std::uint16_t Checksum(const unsigned char* data, std::size_t size) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < size; i += 2) sum += (data[i] << 8) | data[i + 1];
  if (size % 2 != 0) sum += data[size - 1] << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

class Pinger {
 public:
  explicit Pinger(const Target& target) : target_(target) {
    const int protocol = target.family == AF_INET ? static_cast<int>(IPPROTO_ICMP)
                                                  : static_cast<int>(IPPROTO_ICMPV6);
    fd_ = socket(target.family, SOCK_RAW | SOCK_CLOEXEC, protocol);
    raw_ = fd_ >= 0;
    if (fd_ < 0) {
      raw_error_ = errno;
      fd_ = socket(target.family, SOCK_DGRAM | SOCK_CLOEXEC, protocol);
    }
    if (fd_ < 0) return;
    const int on = 1;
    if (target.family == AF_INET) {
      setsockopt(fd_, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
      setsockopt(fd_, IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
    } else {
      setsockopt(fd_, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on);
      setsockopt(fd_, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on);
    }
    id_ = static_cast<std::uint16_t>(getpid() & 0xFFFF);
  }
  ~Pinger() {
    if (fd_ >= 0) close(fd_);
  }
  Pinger(const Pinger&) = delete;
  Pinger& operator=(const Pinger&) = delete;

  bool usable() const { return fd_ >= 0; }
  int open_error() const { return raw_error_; }

  Outcome Echo(std::uint16_t seq, std::size_t size, long timeout_ms) {
    std::vector<unsigned char> packet(8 + size);
    packet[0] = target_.family == AF_INET ? ICMP_ECHO : ICMP6_ECHO_REQUEST;
    packet[4] = static_cast<unsigned char>(id_ >> 8);
    packet[5] = static_cast<unsigned char>(id_ & 0xFF);
    packet[6] = static_cast<unsigned char>(seq >> 8);
    packet[7] = static_cast<unsigned char>(seq & 0xFF);
    for (std::size_t i = 0; i < size; ++i) packet[8 + i] = static_cast<unsigned char>('a' + i % 23);
    if (target_.family == AF_INET) {
      const std::uint16_t sum = Checksum(packet.data(), packet.size());
      packet[2] = static_cast<unsigned char>(sum >> 8);
      packet[3] = static_cast<unsigned char>(sum & 0xFF);
    }
    const auto start = SteadyClock::now();
    if (sendto(fd_, packet.data(), packet.size(), 0,
               reinterpret_cast<const sockaddr*>(&target_.address), target_.length) < 0) {
      const bool unreachable = errno == EHOSTUNREACH || errno == ENETUNREACH;
      return {unreachable ? Outcome::kUnreachable : Outcome::kFailure, {}, 0, -1};
    }
    const auto deadline = start + std::chrono::milliseconds(timeout_ms);
    while (true) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
      if (left.count() <= 0) return {Outcome::kTimeout, {}, 0, -1};
      pollfd waiting{fd_, POLLIN, 0};
      const int ready = poll(&waiting, 1, static_cast<int>(std::max<long long>(left.count(), 1)));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) continue;
      std::optional<Outcome> outcome =
          (waiting.revents & POLLERR) != 0 ? ReadError(seq) : ReadReply(seq, start);
      if (outcome) return *outcome;
    }
  }

 private:
  // One datagram; a reply to another request (or another program's) gives nothing.
  std::optional<Outcome> ReadReply(std::uint16_t seq, SteadyClock::time_point start) {
    unsigned char buffer[4096];
    unsigned char control[512];
    sockaddr_storage from{};
    iovec io{buffer, sizeof buffer};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(fd_, &message, MSG_DONTWAIT);
    if (n <= 0) return std::nullopt;
    const double rtt =
        std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
    int ttl = -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      if ((c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) ||
          (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_HOPLIMIT)) {
        std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
      }
    }
    const unsigned char* icmp = buffer;
    std::size_t size = static_cast<std::size_t>(n);
    if (target_.family == AF_INET && raw_) {
      const std::size_t header = (buffer[0] & 0x0F) * 4u;
      if (size < header + 8) return std::nullopt;
      ttl = buffer[8];
      icmp += header;
      size -= header;
    }
    if (size < 8) return std::nullopt;
    const std::string sender = AddressText(reinterpret_cast<const sockaddr*>(&from));
    const bool v4 = target_.family == AF_INET;
    const int type = icmp[0];
    if (type == (v4 ? ICMP_ECHOREPLY : ICMP6_ECHO_REPLY)) {
      if (!Ours(icmp, seq)) return std::nullopt;
      return Outcome{Outcome::kReply, sender, rtt, ttl};
    }
    // An error report quotes the request it is about: the IP header, then the ICMP header.
    const bool unreachable = type == (v4 ? ICMP_DEST_UNREACH : ICMP6_DST_UNREACH);
    const bool expired = type == (v4 ? ICMP_TIME_EXCEEDED : ICMP6_TIME_EXCEEDED);
    if (!unreachable && !expired) return std::nullopt;
    const unsigned char* quoted = icmp + 8;
    std::size_t quoted_size = size - 8;
    const std::size_t inner = v4 ? (quoted_size > 0 ? (quoted[0] & 0x0F) * 4u : 0) : 40;
    if (quoted_size < inner + 8) return std::nullopt;
    if (!Ours(quoted + inner, seq) || quoted[inner] != (v4 ? ICMP_ECHO : ICMP6_ECHO_REQUEST)) {
      return std::nullopt;
    }
    if (expired) return Outcome{Outcome::kTtlExpired, sender, rtt, -1};
    const bool network = v4 && icmp[1] == ICMP_NET_UNREACH;
    return Outcome{network ? Outcome::kNetUnreachable : Outcome::kUnreachable, sender, rtt, -1};
  }

  // An error the kernel queued for a datagram socket's request.
  std::optional<Outcome> ReadError(std::uint16_t seq) {
    unsigned char buffer[1024];
    unsigned char control[512];
    iovec io{buffer, sizeof buffer};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(fd_, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (n < 0) return std::nullopt;
    if (n >= 8 && (buffer[6] << 8 | buffer[7]) != seq) return std::nullopt;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      if (!((c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR) ||
            (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR))) {
        continue;
      }
      sock_extended_err error{};
      std::memcpy(&error, CMSG_DATA(c), sizeof error);
      const auto* offender = SO_EE_OFFENDER(reinterpret_cast<sock_extended_err*>(CMSG_DATA(c)));
      const std::string sender =
          offender->sa_family == AF_UNSPEC ? target_.text : AddressText(offender);
      const bool v4 = error.ee_origin == SO_EE_ORIGIN_ICMP;
      if ((v4 && error.ee_type == ICMP_TIME_EXCEEDED) ||
          (!v4 && error.ee_type == ICMP6_TIME_EXCEEDED)) {
        return Outcome{Outcome::kTtlExpired, sender, 0, -1};
      }
      const bool network = v4 && error.ee_type == ICMP_DEST_UNREACH && error.ee_code == 0;
      return Outcome{network ? Outcome::kNetUnreachable : Outcome::kUnreachable, sender, 0, -1};
    }
    return std::nullopt;
  }

  // A datagram socket's requests carry the kernel's identifier, not ours.
  bool Ours(const unsigned char* icmp, std::uint16_t seq) const {
    const std::uint16_t id = static_cast<std::uint16_t>(icmp[4] << 8 | icmp[5]);
    const std::uint16_t number = static_cast<std::uint16_t>(icmp[6] << 8 | icmp[7]);
    return number == seq && (!raw_ || id == id_);
  }

  Target target_;
  int fd_ = -1;
  bool raw_ = false;
  int raw_error_ = 0;
  std::uint16_t id_ = 0;
};

}  // namespace

int Ping(int argc, char** argv) {
  Options options;
  if (const auto error = ParseOptions(argc, argv, options)) {
    Out(*error);
    Out("");
    Out("Uso: ping [-n contagem] [-w tempo limite] [-l tamanho] [-4] [-6] nome_do_destino");
    return 1;
  }
  const std::optional<Target> target = Resolve(options);
  if (!target) {
    Out("A solicitação ping não pôde encontrar o host "_w + options.host +
        ". Verifique o nome e tente novamente.");
    return 1;
  }
  Pinger pinger(*target);
  if (!pinger.usable()) {
    std::fprintf(stderr, "ping: no ICMP socket: %s\n",
                 jov::SystemErrorText(pinger.open_error()).c_str());
  }
  const bool named = options.host != target->text && options.host != "[" + target->text + "]";
  Out("");
  Out("Disparando " + options.host + (named ? " [" + target->text + "]" : "") + " com " +
      std::to_string(options.size) + " bytes de dados:");

  long received = 0;
  long replies = 0;
  double least = 0, most = 0, total = 0;
  for (long i = 0; i < options.count; ++i) {
    const auto started = SteadyClock::now();
    const Outcome outcome =
        pinger.usable() ? pinger.Echo(static_cast<std::uint16_t>(i + 1),
                                      static_cast<std::size_t>(options.size), options.timeout_ms)
                        : Outcome{Outcome::kFailure, {}, 0, -1};
    switch (outcome.kind) {
      case Outcome::kReply: {
        ++received;
        ++replies;
        const long ms = static_cast<long>(outcome.rtt_ms);
        least = replies == 1 ? ms : std::min<double>(least, ms);
        most = std::max<double>(most, ms);
        total += ms;
        std::string line = "Resposta de " + outcome.from + ":";
        if (target->family == AF_INET) line += " bytes=" + std::to_string(options.size);
        line += outcome.rtt_ms < 1 ? " tempo<1ms" : " tempo=" + std::to_string(ms) + "ms";
        if (target->family == AF_INET && outcome.ttl >= 0) {
          line += " TTL=" + std::to_string(outcome.ttl);
        }
        Out(line);
        break;
      }
      case Outcome::kUnreachable:
      case Outcome::kNetUnreachable: {
        // Windows counts a router's report as a reply received.
        const std::string what = outcome.kind == Outcome::kNetUnreachable
                                     ? "Rede de destino inacessível."_w
                                     : "Host de destino inacessível."_w;
        if (outcome.from.empty()) {
          Out(what);
        } else {
          ++received;
          Out("Resposta de " + outcome.from + ": " + what);
        }
        break;
      }
      case Outcome::kTtlExpired:
        ++received;
        Out("Resposta de " + outcome.from + ": TTL expirado em trânsito."_w);
        break;
      case Outcome::kTimeout:
        Out("Esgotado o tempo limite do pedido.");
        break;
      case Outcome::kFailure:
        Out("Falha geral.");
        break;
    }
    if (i + 1 < options.count) {
      std::this_thread::sleep_until(started + std::chrono::seconds(1));
    }
  }
  const long lost = options.count - received;
  Out("");
  Out("Estatísticas do Ping para "_w + target->text + ":");
  Out("    Pacotes: Enviados = " + std::to_string(options.count) +
      ", Recebidos = " + std::to_string(received) + ", Perdidos = " + std::to_string(lost) + " (" +
      std::to_string(lost * 100 / options.count) + "% de perda),");
  if (replies > 0) {
    Out("Aproximar um número redondo de vezes em milissegundos:"_w);
    Out("    Mínimo = "_w + std::to_string(static_cast<long>(least)) + "ms, Máximo = "_w +
        std::to_string(static_cast<long>(most)) + "ms, Média = "_w +
        std::to_string(static_cast<long>(total / replies + 0.5)) + "ms");
  }
  std::fflush(stdout);
  return replies > 0 ? 0 : 1;
}

}  // namespace wincmd
