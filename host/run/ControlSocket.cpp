#include "run/ControlSocket.h"

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "base/Error.h"
#include "run/ControlWire.h"

namespace host {

namespace {

// Accepted at most per Tend, so that a flood of connections cannot hold the run up either.
constexpr size_t kMaxAcceptsPerTend = 2 * ControlSocket::kMaxWaiting;

std::string Cause(int errnum) {
  return std::strerror(errnum);
}

bool FillAddress(const std::string &path, sockaddr_un &address) {
  address = sockaddr_un{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

std::string KindOf(mode_t mode) {
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISFIFO(mode)) return "a FIFO";
  return "a device";
}

// Whether the user `uid` belongs to `group`, as its primary group or one of its others.
bool UserInGroup(uid_t uid, gid_t group) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd *found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
    return false;
  if (entry.pw_gid == group) return true;
  // getgrouplist reads the group database's member lists, whichever service holds them.
  std::vector<gid_t> groups(64);
  for (int round = 0; round < 2; ++round) {
    int count = static_cast<int>(groups.size());
    if (getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count) >= 0) {
      groups.resize(static_cast<size_t>(count));
      return std::find(groups.begin(), groups.end(), group) != groups.end();
    }
    if (count <= static_cast<int>(groups.size()) || count > 65536) return false;
    groups.resize(static_cast<size_t>(count));
  }
  return false;
}

}  // namespace

std::string ControlSocket::PathIn(const std::string &runDirectory) {
  return runDirectory + "/" + std::string(kFileName);
}

ControlSocket::ControlSocket(const std::string &runDirectory) : path_(PathIn(runDirectory)) {
  struct stat directory {};
  if (stat(runDirectory.c_str(), &directory) != 0) throw Error(runDirectory, Cause(errno));
  if (!S_ISDIR(directory.st_mode)) throw Error(runDirectory, "not a directory");
  group_ = directory.st_gid;
  sockaddr_un address;
  if (!FillAddress(path_, address))
    throw Error(path_, std::string("the path is too long for a Unix socket (at most ") +
                           std::to_string(sizeof address.sun_path - 1) + " bytes)");
  Listen(StaleSocketInPlace(runDirectory));
}

ControlSocket::~ControlSocket() {
  close(fd_);
  // Only our own socket: a later follow may have put its own in place.
  struct stat found {};
  if (lstat(path_.c_str(), &found) == 0 && found.st_dev == device_ && found.st_ino == inode_)
    unlink(path_.c_str());
}

bool ControlSocket::StaleSocketInPlace(const std::string &runDirectory) const {
  struct stat found {};
  if (lstat(path_.c_str(), &found) != 0) {
    if (errno == ENOENT) return false;
    throw Error(path_, Cause(errno));
  }
  if (!S_ISSOCK(found.st_mode))
    throw Error(path_, std::string() + KindOf(found.st_mode) +
                           " stands where the control socket goes; it is left as it is");
  sockaddr_un address;
  FillAddress(path_, address);
  const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (probe < 0) throw Error("", "cannot open a Unix socket: " + Cause(errno));
  const int cause =
      connect(probe, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 ? 0 : errno;
  close(probe);
  if (cause == ECONNREFUSED) return true;
  // EAGAIN: its queue is full, so somebody listens.
  if (cause == 0 || cause == EAGAIN)
    throw Error("", "another follow runs on " + runDirectory + ": it answers on " + path_);
  throw Error(path_, std::string("cannot tell whether a follow answers on it: ") + Cause(cause));
}

void ControlSocket::Listen(bool replace) {
  // The socket is made in a directory only we can enter and moved into place with its mode
  // and group already set, so that it is never reachable with wider rights.
  const std::string runDirectory = path_.substr(0, path_.size() - kFileName.size() - 1);
  std::string hidden = runDirectory + "/.fd-XXXXXX";
  if (mkdtemp(hidden.data()) == nullptr)
    throw Error("", "cannot make a directory in " + runDirectory + ": " + Cause(errno));
  const std::string made = hidden + "/s";
  const auto fail = [&](const std::string &what) {
    const std::string cause = Cause(errno);
    unlink(made.c_str());
    rmdir(hidden.c_str());
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    throw Error(path_, std::string() + what + ": " + cause);
  };
  sockaddr_un address;
  FillAddress(made, address);
  fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) fail("cannot open a Unix socket");
  if (bind(fd_, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
    fail("cannot bind the socket");
  if (listen(fd_, static_cast<int>(kMaxAcceptsPerTend)) != 0) fail("cannot listen");
  struct stat made_stat {};
  if (lstat(made.c_str(), &made_stat) != 0) fail("cannot see the socket made");
  if (made_stat.st_gid != group_ && chown(made.c_str(), static_cast<uid_t>(-1), group_) != 0)
    fail("cannot give the socket the run directory's group");
  if (chmod(made.c_str(), 0660) != 0) fail("cannot set the socket's mode");
  // A stale socket is replaced in one step; otherwise link refuses to take over a name that
  // something took meanwhile.
  if (replace ? rename(made.c_str(), path_.c_str()) != 0 : link(made.c_str(), path_.c_str()) != 0)
    fail("cannot put the socket in place");
  unlink(made.c_str());
  rmdir(hidden.c_str());
  device_ = made_stat.st_dev;
  inode_ = made_stat.st_ino;
}

void ControlSocket::Tend(const Handler &handler, std::chrono::steady_clock::time_point now) {
  counts_.slow +=
      waiting_.Tend([&](Connection &connection) { return Serve(connection, handler, now); }, now);
  Accept(handler, now);
}

void ControlSocket::Accept(const Handler &handler, std::chrono::steady_clock::time_point now) {
  for (size_t accepted = 0; accepted < kMaxAcceptsPerTend; ++accepted) {
    const int fd = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    // Judged before a byte of the peer's is read.
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || !Allowed(peer)) {
      ++counts_.refused;
      send(fd, ControlWire::kRefused.data(), ControlWire::kRefused.size(),
           MSG_NOSIGNAL | MSG_DONTWAIT);
      close(fd);
      continue;
    }
    Connection connection;
    connection.fd = fd;
    connection.deadline = now + kRequestTime;
    if (Serve(connection, handler, now)) {
      close(fd);
      continue;
    }
    counts_.crowded += waiting_.Keep(std::move(connection));
  }
}

bool ControlSocket::Allowed(const ucred &peer) const {
  if (peer.uid == 0 || peer.uid == geteuid() || peer.gid == group_) return true;
  return UserInGroup(peer.uid, group_);
}

bool ControlSocket::Serve(Connection &connection, const Handler &handler,
                          std::chrono::steady_clock::time_point now) {
  if (!connection.answering && Receive(connection, handler, now)) return true;
  return connection.answering && Send(connection);
}

bool ControlSocket::Receive(Connection &connection, const Handler &handler,
                            std::chrono::steady_clock::time_point now) {
  char buffer[2048];
  for (;;) {
    const size_t room = ControlWire::kMaxRequest - connection.request.size();
    const ssize_t n = recv(connection.fd, buffer, std::min(room, sizeof buffer), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno != EAGAIN && errno != EWOULDBLOCK;
    const size_t before = connection.request.size();
    connection.request.append(buffer, static_cast<size_t>(n));
    const size_t end = connection.request.find('\n', before);
    if (end != std::string::npos || n == 0) {
      // A peer that stopped sending without a line end still hears why nothing was done.
      Answer(connection, std::string_view(connection.request).substr(0, end),
             end != std::string::npos, handler, now);
      return false;
    }
    if (connection.request.size() >= ControlWire::kMaxRequest) {
      ++counts_.oversized;
      return true;
    }
  }
}

void ControlSocket::Answer(Connection &connection, std::string_view line, bool whole,
                           const Handler &handler, std::chrono::steady_clock::time_point now) {
  std::vector<std::string> arguments;
  ControlReply reply;
  connection.understood = whole && ControlWire::DecodeRequest(line, arguments);
  if (connection.understood) {
    try {
      reply = handler(arguments);
    } catch (const std::exception &error) {
      reply = ControlReply{1, {}, std::string(error.what()) + "\n"};
    } catch (...) {
      reply = ControlReply{1, {}, "the command failed\n"};
    }
  } else {
    ++counts_.unreadable;
    reply = ControlReply{2, {}, "the request could not be read\n"};
  }
  connection.reply = ControlWire::EncodeReply(reply);
  connection.answering = true;
  connection.deadline = now + kReplyTime;
}

bool ControlSocket::Send(Connection &connection) {
  while (connection.sent < connection.reply.size()) {
    const ssize_t n = send(connection.fd, connection.reply.data() + connection.sent,
                           connection.reply.size() - connection.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno != EAGAIN && errno != EWOULDBLOCK;
    connection.sent += static_cast<size_t>(n);
  }
  // Unreadable requests were counted as such when they were read.
  if (connection.understood) ++counts_.answered;
  return true;
}

}  // namespace host
