#include "shield/CrawlerDns.h"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

// flowdeck builds against the c-ares of Debian 12 and later; the later ones mark the classic
// query and parse calls as deprecated, which -Werror would turn into errors.
#define CARES_NO_DEPRECATED
#include <ares.h>

#include "AsciiCase.h"
#include "base/Error.h"

namespace host {

// What one address's lookup has found so far.
struct CrawlerDns::Lookup {
  CrawlerDns *dns;
  IpAddress address;
  std::chrono::steady_clock::time_point start, deadline;
  std::string name;               // the reverse name that is a crawler's, once found
  std::optional<size_t> crawler;  // whose it is
  int queries = 0;                // c-ares queries not yet called back
  bool ended = false;             // its result was handed over, or it was cancelled
};

namespace {

using Clock = std::chrono::steady_clock;

ares_channel Channel(void *channel) {
  return static_cast<ares_channel>(channel);
}

void LibraryInit() {
  static const int status = ares_library_init(ARES_LIB_INIT_ALL);
  if (status != ARES_SUCCESS) {
    throw Error("", std::string("c-ares cannot start: ") + ares_strerror(status));
  }
}

// The name a reverse query asks for: "1.66.249.66.in-addr.arpa", or the nibbles of an IPv6
// address under ip6.arpa.
std::string ReverseName(const IpAddress &address) {
  char text[80];
  if (address.IsV4()) {
    const uint64_t v4 = address.Low() & 0xffffffffu;
    std::snprintf(text, sizeof text, "%u.%u.%u.%u.in-addr.arpa", static_cast<unsigned>(v4 & 255),
                  static_cast<unsigned>(v4 >> 8 & 255), static_cast<unsigned>(v4 >> 16 & 255),
                  static_cast<unsigned>(v4 >> 24));
    return text;
  }
  std::string name;
  for (int half = 1; half >= 0; --half) {
    const uint64_t bits = half == 1 ? address.Low() : address.High();
    for (int nibble = 0; nibble < 16; ++nibble) {
      name += "0123456789abcdef"[bits >> (4 * nibble) & 15];
      name += '.';
    }
  }
  return name + "ip6.arpa";
}

// The address's bytes as a reverse answer's parser wants them.
std::vector<unsigned char> AddressBytes(const IpAddress &address) {
  std::vector<unsigned char> bytes;
  const int first = address.IsV4() ? 12 : 0;
  for (int i = first; i < 16; ++i) {
    const uint64_t half = i < 8 ? address.High() : address.Low();
    bytes.push_back(static_cast<unsigned char>(half >> (8 * (7 - i % 8))));
  }
  return bytes;
}

CrawlerDns::Outcome Failure(int status) {
  if (status == ARES_ETIMEOUT) return CrawlerDns::Outcome::kTimeout;
  return CrawlerDns::Outcome::kError;
}

bool NoSuchName(int status) {
  return status == ARES_ENOTFOUND || status == ARES_ENODATA;
}

void ReverseAnswered(void *arg, int status, int, unsigned char *answer, int length) {
  auto *lookup = static_cast<CrawlerDns::Lookup *>(arg);
  lookup->dns->OnReverse(*lookup, status, answer, length);
}

void ForwardAnswered(void *arg, int status, int, unsigned char *answer, int length) {
  auto *lookup = static_cast<CrawlerDns::Lookup *>(arg);
  lookup->dns->OnForward(*lookup, status, answer, length);
}

void SocketState(void *data, ares_socket_t fd, int readable, int writable) {
  static_cast<CrawlerDns *>(data)->OnSocket(fd, readable != 0, writable != 0);
}

}  // namespace

CrawlerDns::CrawlerDns(const std::string &servers, std::chrono::milliseconds timeLimit, Owner owner,
                       Done done)
    : timeLimit_(timeLimit), owner_(std::move(owner)), done_(std::move(done)) {
  LibraryInit();
  ares_options options{};
  // One try per server within the time limit: a lookup past it is a failure anyway.
  options.timeout = static_cast<int>(std::max<int64_t>(1, timeLimit.count()));
  options.tries = 1;
  // DNS only: /etc/hosts does not speak for a crawler's operator.
  char lookups[] = "b";
  options.lookups = lookups;
  options.sock_state_cb = SocketState;
  options.sock_state_cb_data = this;
  ares_channel channel = nullptr;
  const int status = ares_init_options(
      &channel, &options,
      ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_LOOKUPS | ARES_OPT_SOCK_STATE_CB);
  if (status != ARES_SUCCESS) {
    throw Error("", std::string("c-ares cannot start: ") + ares_strerror(status));
  }
  if (!servers.empty()) {
    const int set = ares_set_servers_ports_csv(channel, servers.c_str());
    if (set != ARES_SUCCESS) {
      ares_destroy(channel);
      throw Error::Setting("Resolver", servers,
                           std::string("c-ares does not take it: ") + ares_strerror(set));
    }
  }
  wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_ < 0) {
    ares_destroy(channel);
    throw Error("", "cannot make an eventfd for the DNS thread");
  }
  channel_ = channel;
  thread_ = std::thread([this] { Loop(); });
}

CrawlerDns::~CrawlerDns() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  Wake();
  thread_.join();
  // Every query still out is called back with ARES_EDESTRUCTION, its lookup still alive.
  ares_destroy(Channel(channel_));
  lookups_.clear();
  close(wake_);
}

void CrawlerDns::Start(const IpAddress &address) {
  ++busy_;
  {
    std::lock_guard lock(mutex_);
    queued_.push_back(address);
  }
  Wake();
}

void CrawlerDns::Wake() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(wake_, &one, sizeof one);
}

std::string CrawlerDns::CleanName(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  if (name.empty() || name.size() > kLongestName) return {};
  std::string clean;
  clean.reserve(name.size());
  size_t label = 0;
  for (char c : name) {
    if (c == '.') {
      if (label == 0) return {};
      label = 0;
      clean += c;
      continue;
    }
    c = common::LowerAscii(c);
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return {};
    if (++label > 63) return {};
    clean += c;
  }
  return label == 0 ? std::string() : clean;
}

std::string CrawlerDns::Shown(std::string_view name) {
  std::string shown;
  for (char c : name.substr(0, 80)) shown += c >= 0x21 && c < 0x7f ? c : '?';
  return name.size() > 80 ? shown + "..." : shown;
}

void CrawlerDns::Loop() {
  for (;;) {
    std::vector<IpAddress> fresh;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      fresh.swap(queued_);
    }
    for (const IpAddress &address : fresh) Begin(address);
    GiveUpOverdue();
    Sweep();

    std::vector<pollfd> polled{{wake_, POLLIN, 0}};
    for (const auto &[fd, wants] : sockets_) {
      const short events =
          static_cast<short>((wants.first ? POLLIN : 0) | (wants.second ? POLLOUT : 0));
      polled.push_back({fd, events, 0});
    }
    poll(polled.data(), polled.size(), WaitMilliseconds());
    if (polled[0].revents != 0) {
      uint64_t count;
      [[maybe_unused]] const ssize_t got = read(wake_, &count, sizeof count);
    }
    bool ready = false;
    for (size_t i = 1; i < polled.size(); ++i) {
      const short got = polled[i].revents;
      if (got == 0) continue;
      ready = true;
      const bool readable = (got & (POLLIN | POLLERR | POLLHUP)) != 0;
      ares_process_fd(Channel(channel_), readable ? polled[i].fd : ARES_SOCKET_BAD,
                      (got & POLLOUT) != 0 ? polled[i].fd : ARES_SOCKET_BAD);
    }
    // Nothing to read: c-ares still ends the queries whose time is over.
    if (!ready) ares_process_fd(Channel(channel_), ARES_SOCKET_BAD, ARES_SOCKET_BAD);
  }
}

int CrawlerDns::WaitMilliseconds() {
  // At most a second: the wake-up covers new work, this covers everything else.
  Clock::duration wait = std::chrono::seconds(1);
  const Clock::time_point now = Clock::now();
  for (const auto &lookup : lookups_) {
    if (!lookup->ended) wait = std::min<Clock::duration>(wait, lookup->deadline - now);
  }
  timeval most{}, next{};
  most.tv_sec = std::chrono::duration_cast<std::chrono::seconds>(wait).count();
  most.tv_usec = std::chrono::duration_cast<std::chrono::microseconds>(wait).count() % 1000000;
  if (wait < Clock::duration::zero()) most = timeval{};
  const timeval *until = ares_timeout(Channel(channel_), &most, &next);
  // Rounded up, so that a wait never ends just before the deadline it waits for.
  return static_cast<int>(until->tv_sec * 1000 + (until->tv_usec + 999) / 1000);
}

void CrawlerDns::Begin(const IpAddress &address) {
  auto lookup = std::make_unique<Lookup>();
  lookup->dns = this;
  lookup->address = address;
  lookup->start = Clock::now();
  lookup->deadline = lookup->start + timeLimit_;
  Lookup &started = *lookup;
  lookups_.push_back(std::move(lookup));
  Query(started, ReverseName(address), ns_t_ptr, false);
}

void CrawlerDns::Query(Lookup &lookup, const std::string &name, int type, bool forward) {
  ++lookup.queries;
  // ares_query, not ares_search: the name is complete and no search domain is added to it.
  ares_query(Channel(channel_), name.c_str(), ns_c_in, type,
             forward ? ForwardAnswered : ReverseAnswered, &lookup);
}

void CrawlerDns::OnReverse(Lookup &lookup, int status, const unsigned char *answer, int length) {
  --lookup.queries;
  if (status == ARES_EDESTRUCTION || status == ARES_ECANCELLED) lookup.ended = true;
  if (lookup.ended) return;
  if (NoSuchName(status)) return Finish(lookup, Outcome::kNoName);
  if (status != ARES_SUCCESS) return Finish(lookup, Failure(status), {}, ares_strerror(status));

  const std::vector<unsigned char> bytes = AddressBytes(lookup.address);
  hostent *host = nullptr;
  const int parsed =
      ares_parse_ptr_reply(answer, length, bytes.data(), static_cast<int>(bytes.size()),
                           lookup.address.IsV4() ? AF_INET : AF_INET6, &host);
  if (NoSuchName(parsed)) return Finish(lookup, Outcome::kNoName);
  if (parsed != ARES_SUCCESS) return Finish(lookup, Outcome::kBadName, {}, ares_strerror(parsed));
  std::vector<std::string> names;
  if (host->h_name != nullptr) names.emplace_back(host->h_name);
  for (char **alias = host->h_aliases; alias != nullptr && *alias != nullptr; ++alias) {
    if (names.size() == kNamesLooked) break;
    names.emplace_back(*alias);
  }
  ares_free_hostent(host);
  if (names.empty()) return Finish(lookup, Outcome::kNoName);

  std::string firstClean;
  for (const std::string &raw : names) {
    const std::string name = CleanName(raw);
    if (name.empty()) continue;
    if (firstClean.empty()) firstClean = name;
    if (const std::optional<size_t> crawler = owner_(name)) {
      lookup.name = name;
      lookup.crawler = crawler;
      return Query(lookup, name, lookup.address.IsV4() ? ns_t_a : ns_t_aaaa, true);
    }
  }
  if (firstClean.empty()) return Finish(lookup, Outcome::kBadName, Shown(names.front()));
  Finish(lookup, Outcome::kForeignName, firstClean);
}

void CrawlerDns::OnForward(Lookup &lookup, int status, const unsigned char *answer, int length) {
  --lookup.queries;
  if (status == ARES_EDESTRUCTION || status == ARES_ECANCELLED) lookup.ended = true;
  if (lookup.ended) return;
  const std::string &name = lookup.name;
  if (NoSuchName(status)) return Finish(lookup, Outcome::kMismatch, name);
  if (status != ARES_SUCCESS) return Finish(lookup, Failure(status), name, ares_strerror(status));

  constexpr int kMostAddresses = 32;
  std::vector<IpAddress> found;
  int count = kMostAddresses;
  if (lookup.address.IsV4()) {
    ares_addrttl addresses[kMostAddresses];
    if (ares_parse_a_reply(answer, length, nullptr, addresses, &count) == ARES_SUCCESS) {
      for (int i = 0; i < count; ++i) {
        sockaddr_storage socket{};
        auto &v4 = reinterpret_cast<sockaddr_in &>(socket);
        v4.sin_family = AF_INET;
        v4.sin_addr = addresses[i].ipaddr;
        IpAddress address;
        if (IpAddress::FromSocket(socket, address)) found.push_back(address);
      }
    }
  } else {
    ares_addr6ttl addresses[kMostAddresses];
    if (ares_parse_aaaa_reply(answer, length, nullptr, addresses, &count) == ARES_SUCCESS) {
      for (int i = 0; i < count; ++i) {
        sockaddr_storage socket{};
        auto &v6 = reinterpret_cast<sockaddr_in6 &>(socket);
        v6.sin6_family = AF_INET6;
        std::memcpy(&v6.sin6_addr, &addresses[i].ip6addr, sizeof v6.sin6_addr);
        IpAddress address;
        if (IpAddress::FromSocket(socket, address)) found.push_back(address);
      }
    }
  }
  const bool confirmed = std::find(found.begin(), found.end(), lookup.address) != found.end();
  Finish(lookup, confirmed ? Outcome::kConfirmed : Outcome::kMismatch, name);
}

void CrawlerDns::OnSocket(int fd, bool readable, bool writable) {
  if (!readable && !writable) {
    sockets_.erase(fd);
  } else {
    sockets_[fd] = {readable, writable};
  }
}

void CrawlerDns::Finish(Lookup &lookup, Outcome outcome, std::string name, std::string detail) {
  lookup.ended = true;
  Result result;
  result.address = lookup.address;
  result.outcome = outcome;
  result.crawler = lookup.crawler.value_or(0);
  result.name = std::move(name);
  result.detail = std::move(detail);
  result.seconds = std::chrono::duration<double>(Clock::now() - lookup.start).count();
  done_(std::move(result));
}

void CrawlerDns::GiveUpOverdue() {
  const Clock::time_point now = Clock::now();
  for (const auto &lookup : lookups_) {
    if (!lookup->ended && lookup->deadline <= now) {
      Finish(*lookup, Outcome::kTimeout, lookup->name);
    }
  }
}

void CrawlerDns::Sweep() {
  const auto done = [](const std::unique_ptr<Lookup> &lookup) {
    return lookup->ended && lookup->queries == 0;
  };
  for (const auto &lookup : lookups_) {
    if (done(lookup)) --busy_;
  }
  lookups_.erase(std::remove_if(lookups_.begin(), lookups_.end(), done), lookups_.end());
}

}  // namespace host
