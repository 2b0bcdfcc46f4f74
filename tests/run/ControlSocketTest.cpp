// A follow's control socket as operators and others reach it: a round trip through the client,
// the socket's rights, what stands in its place at start, peers without rights, and peers that
// are slow, send too much or crowd the queue while an honest one waits for its answer.
#include "run/ControlSocket.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "base/PendingConnections.h"
#include "run/ControlClient.h"
#include "run/ControlWire.h"
#include "support/TempDir.h"

namespace {

using host::ControlClient;
using host::ControlReply;
using host::ControlSocket;
using host::ControlWire;
using testing_support::TempDir;
using namespace std::chrono_literals;

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

ControlReply Echo(const std::vector<std::string> &arguments) {
  ControlReply reply;
  for (const std::string &argument : arguments) reply.out += "[" + argument + "]\n";
  return reply;
}

// Asks from another thread while this one tends the socket, as the follow loop would.
std::optional<ControlReply> AskWhileTending(ControlSocket &socket,
                                            const ControlSocket::Handler &handler,
                                            const std::string &runDirectory,
                                            const std::vector<std::string> &arguments) {
  std::atomic<bool> done{false};
  std::optional<ControlReply> reply;
  std::exception_ptr error;
  std::thread asker([&] {
    try {
      reply = ControlClient::Ask(runDirectory, arguments, 5s);
    } catch (...) {
      error = std::current_exception();
    }
    done = true;
  });
  while (!done) {
    socket.Tend(handler);
    std::this_thread::sleep_for(1ms);
  }
  asker.join();
  if (error) std::rethrow_exception(error);
  return reply;
}

// What an Ask made as another user (in a child that gave up root) came to: "status N out" or
// "error: why"; the socket, if any, is tended meanwhile.
std::string AskAs(uid_t uid, gid_t gid, const std::string &runDirectory, ControlSocket *socket,
                  const ControlSocket::Handler &handler) {
  int result[2];
  if (pipe(result) != 0) return "pipe failed";
  const pid_t child = fork();
  if (child == 0) {
    close(result[0]);
    std::string said;
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) {
      said = "cannot become the user";
    } else {
      try {
        const std::optional<ControlReply> reply = ControlClient::Ask(runDirectory, {"who"}, 5s);
        said = reply ? "status " + std::to_string(reply->status) + " " + reply->out : "none";
      } catch (const std::exception &error) {
        said = std::string("error: ") + error.what();
      }
    }
    [[maybe_unused]] const ssize_t written = write(result[1], said.data(), said.size());
    _exit(0);
  }
  close(result[1]);
  std::string said;
  for (;;) {
    if (socket != nullptr) socket->Tend(handler);
    pollfd readable{result[0], POLLIN, 0};
    if (poll(&readable, 1, 1) <= 0) continue;
    char buffer[512];
    const ssize_t n = read(result[0], buffer, sizeof buffer);
    if (n <= 0) break;
    said.append(buffer, static_cast<size_t>(n));
  }
  close(result[0]);
  waitpid(child, nullptr, 0);
  return said;
}

// A blocking connection made by hand, for peers that do not behave like the client.
int Connect(const std::string &path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  timeval limit{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  return fd;
}

void SendText(int fd, std::string_view text) {
  ASSERT_EQ(send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
}

// Everything the server sent before it closed.
std::string ReadToEnd(int fd) {
  std::string data;
  char buffer[4096];
  ssize_t n;
  while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) data.append(buffer, static_cast<size_t>(n));
  return data;
}

// Whether the server has closed its end without a word (a reset: it left bytes unread).
bool ClosedByServer(int fd) {
  char byte;
  const ssize_t n = recv(fd, &byte, 1, MSG_DONTWAIT);
  return n == 0 || (n < 0 && errno == ECONNRESET);
}

// A socket bound at `path` and closed without unlinking: what a follow that died leaves.
void LeaveStaleSocket(const std::string &path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
  close(fd);
}

TEST(ControlSocket, AnswersWhatTheClientAsksWithAnyArgumentsAndAnyReply) {
  TempDir dir;
  ControlSocket socket(dir.Path());
  const std::vector<std::string> arguments = {
      "lift", "203.0.113.5", "shop example.com", "\"/a b\" 'c'", "%41%", "", "Grüße 🙂", "\r"};
  std::optional<ControlReply> reply = AskWhileTending(socket, Echo, dir.Path(), arguments);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 0);
  EXPECT_EQ(reply->out, Echo(arguments).out);
  EXPECT_EQ(reply->err, "");

  // A reply of megabytes leaves a little at each look, never blocking the loop.
  const auto large = [](const std::vector<std::string> &) {
    return ControlReply{3, std::string(3 << 20, 's'), std::string("no such\0entry\n", 14)};
  };
  reply = AskWhileTending(socket, large, dir.Path(), {"shields"});
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 3);
  EXPECT_EQ(reply->out.size(), size_t{3} << 20);
  EXPECT_EQ(reply->err, std::string("no such\0entry\n", 14));

  const auto failing = [](const std::vector<std::string> &) -> ControlReply {
    throw std::runtime_error("the book is locked");
  };
  reply = AskWhileTending(socket, failing, dir.Path(), {"lift"});
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 1);
  EXPECT_NE(reply->err.find("the book is locked"), std::string::npos);
  EXPECT_EQ(socket.Stats().answered, 3u);
  EXPECT_EQ(socket.WaitingConnections(), 0u);

  // Refused before anything is sent, whether or not a follow runs.
  EXPECT_THROW(ControlClient::Ask(dir.Path(), {"a\nb"}, 1s), std::runtime_error);
  EXPECT_THROW(ControlClient::Ask(dir.Path(), {std::string("a\0b", 3)}, 1s), std::runtime_error);
}

TEST(ControlSocket, TheSocketHasMode0660AndTheRunDirectorysGroupAndLeavesWithItsOwner) {
  TempDir dir;
  ASSERT_EQ(chown(dir.Path().c_str(), static_cast<uid_t>(-1), kNogroup), 0);
  const std::string path = ControlSocket::PathIn(dir.Path());
  {
    ControlSocket socket(dir.Path());
    struct stat made {};
    ASSERT_EQ(lstat(path.c_str(), &made), 0);
    EXPECT_TRUE(S_ISSOCK(made.st_mode));
    EXPECT_EQ(made.st_mode & 07777, 0660u);
    EXPECT_EQ(made.st_gid, kNogroup);
    size_t entries = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(dir.Path()))
      ++entries;
    EXPECT_EQ(entries, 1u) << "nothing of the making is left beside it";
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path)));

  // What took its place while it ran is somebody else's and stays.
  {
    ControlSocket socket(dir.Path());
    ASSERT_EQ(unlink(path.c_str()), 0);
    testing_support::WriteFile(path, "not ours");
  }
  EXPECT_EQ(testing_support::ReadFile(path), "not ours");
}

TEST(ControlSocket, AStaleSocketIsReplacedALiveOneOrAnythingElseIsNot) {
  TempDir dir;
  const std::string path = ControlSocket::PathIn(dir.Path());
  EXPECT_EQ(ControlClient::Ask(dir.Path(), {"shields"}, 1s), std::nullopt) << "no socket";
  EXPECT_EQ(ControlClient::Ask(dir.File("missing"), {"shields"}, 1s), std::nullopt);
  LeaveStaleSocket(path);
  EXPECT_EQ(ControlClient::Ask(dir.Path(), {"shields"}, 1s), std::nullopt) << "nobody answers";

  {
    ControlSocket socket(dir.Path());
    EXPECT_EQ(AskWhileTending(socket, Echo, dir.Path(), {"x"})->out, "[x]\n");
    try {
      ControlSocket second(dir.Path());
      ADD_FAILURE() << "a second follow on the same run directory";
    } catch (const std::runtime_error &error) {
      EXPECT_NE(std::string(error.what()).find("another follow"), std::string::npos)
          << error.what();
    }
    EXPECT_EQ(AskWhileTending(socket, Echo, dir.Path(), {"y"})->out, "[y]\n") << "still ours";
  }

  testing_support::WriteFile(path, "a file of the operator's");
  EXPECT_THROW(
      try { ControlSocket socket(dir.Path()); } catch (const std::runtime_error &error) {
        EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
        throw;
      },
      std::runtime_error);
  EXPECT_EQ(testing_support::ReadFile(path), "a file of the operator's");

  ASSERT_EQ(unlink(path.c_str()), 0);
  LeaveStaleSocket(dir.File("elsewhere.sock"));
  ASSERT_EQ(symlink(dir.File("elsewhere.sock").c_str(), path.c_str()), 0);
  EXPECT_THROW(ControlSocket socket(dir.Path()), std::runtime_error);
  EXPECT_TRUE(std::filesystem::is_symlink(path)) << "a link is not followed or removed";
}

TEST(ControlSocket, TheClientSaysWhyItGotNoAnswer) {
  TempDir dir;
  // A socket that listens but is never tended: a follow stuck elsewhere.
  const int stuck = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, ControlSocket::PathIn(dir.Path()).c_str(),
               sizeof address.sun_path - 1);
  ASSERT_EQ(bind(stuck, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
  ASSERT_EQ(listen(stuck, 4), 0);
  try {
    ControlClient::Ask(dir.Path(), {"shields"}, 100ms);
    ADD_FAILURE() << "answered by nobody";
  } catch (const std::runtime_error &error) {
    EXPECT_NE(std::string(error.what()).find("in time"), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find(dir.Path()), std::string::npos) << error.what();
  }
  close(accept(stuck, nullptr, nullptr));  // the connection of the Ask that gave up
  // A server that hangs up without a reply is no answer either.
  std::thread hangUp([stuck] { close(accept(stuck, nullptr, nullptr)); });
  try {
    ControlClient::Ask(dir.Path(), {"shields"}, 5s);
    ADD_FAILURE() << "answered by a server that hung up";
  } catch (const std::runtime_error &error) {
    EXPECT_NE(std::string(error.what()).find("closed"), std::string::npos) << error.what();
  }
  hangUp.join();
  close(stuck);
}

TEST(ControlSocket, APeerOutsideTheRunsGroupIsRefusedAndCountedAMemberIsAnswered) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to ask as another user";
  size_t handled = 0;
  const auto counting = [&](const std::vector<std::string> &arguments) {
    ++handled;
    return Echo(arguments);
  };
  {
    TempDir dir;  // root's group, which nobody is not in
    ASSERT_EQ(chown(dir.Path().c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    ControlSocket socket(dir.Path());
    const std::string denied = AskAs(kNobody, kNogroup, dir.Path(), &socket, counting);
    EXPECT_NE(denied.find("Permission denied"), std::string::npos) << denied;
    EXPECT_NE(denied.find("sudo"), std::string::npos) << denied;

    // With the mode widened by somebody, the peer check still keeps it out.
    ASSERT_EQ(chmod(socket.Path().c_str(), 0666), 0);
    const std::string refused = AskAs(kNobody, kNogroup, dir.Path(), &socket, counting);
    EXPECT_NE(refused.find("refused"), std::string::npos) << refused;
    EXPECT_NE(refused.find("sudo"), std::string::npos) << refused;
    EXPECT_EQ(socket.Stats().refused, 1u);
    EXPECT_EQ(handled, 0u);
  }
  {
    TempDir dir;
    ASSERT_EQ(chown(dir.Path().c_str(), 0, kNogroup), 0);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0750), 0);
    ControlSocket socket(dir.Path());
    EXPECT_EQ(AskAs(kNobody, kNogroup, dir.Path(), &socket, counting), "status 0 [who]\n");
    EXPECT_EQ(socket.Stats().refused, 0u);
    EXPECT_EQ(handled, 1u);
  }
}

TEST(ControlSocket, SlowAndOversizedPeersAreDroppedWhileAnHonestOneIsAnswered) {
  TempDir dir;
  ControlSocket socket(dir.Path());
  const auto start = std::chrono::steady_clock::now();
  const int slow = Connect(socket.Path());
  SendText(slow, "ask 5:shi");
  const int oversized = Connect(socket.Path());
  SendText(oversized, "ask " + std::string(ControlWire::kMaxRequest, '9'));
  const int garbled = Connect(socket.Path());
  SendText(garbled, "GET / HTTP/1.0\n");
  socket.Tend(Echo, start);
  EXPECT_EQ(socket.Stats().oversized, 1u);
  EXPECT_TRUE(ClosedByServer(oversized));
  EXPECT_EQ(socket.Stats().unreadable, 1u);
  ControlReply reply;
  ASSERT_EQ(ControlWire::DecodeReply(ReadToEnd(garbled), reply), ControlWire::Reading::kComplete);
  EXPECT_EQ(reply.status, 2);
  EXPECT_FALSE(ClosedByServer(slow));

  const int honest = Connect(socket.Path());
  std::string request;
  ASSERT_EQ(ControlWire::EncodeRequest({"shields", "all"}, request), "");
  SendText(honest, request);
  socket.Tend(Echo, start + ControlSocket::kRequestTime);
  EXPECT_EQ(socket.Stats().slow, 1u);
  EXPECT_TRUE(ClosedByServer(slow));
  ASSERT_EQ(ControlWire::DecodeReply(ReadToEnd(honest), reply), ControlWire::Reading::kComplete);
  EXPECT_EQ(reply.out, "[shields]\n[all]\n");
  EXPECT_EQ(socket.Stats().answered, 1u);
  EXPECT_EQ(socket.WaitingConnections(), 0u);
  for (const int fd : {slow, oversized, garbled, honest}) close(fd);
}

TEST(ControlSocket, TheOldestIdleConnectionGivesWayToTheSeventeenth) {
  TempDir dir;
  ControlSocket socket(dir.Path());
  std::vector<int> idle;
  for (size_t i = 0; i <= ControlSocket::kMaxWaiting; ++i) idle.push_back(Connect(socket.Path()));
  socket.Tend(Echo);
  EXPECT_EQ(socket.Stats().crowded, 1u);
  EXPECT_EQ(socket.WaitingConnections(), ControlSocket::kMaxWaiting);
  EXPECT_TRUE(ClosedByServer(idle.front()));
  for (size_t i = 1; i < idle.size(); ++i) EXPECT_FALSE(ClosedByServer(idle[i])) << i;
  // The newest is still served.
  std::string request;
  ASSERT_EQ(ControlWire::EncodeRequest({"last"}, request), "");
  SendText(idle.back(), request);
  socket.Tend(Echo);
  ControlReply reply;
  ASSERT_EQ(ControlWire::DecodeReply(ReadToEnd(idle.back()), reply),
            ControlWire::Reading::kComplete);
  EXPECT_EQ(reply.out, "[last]\n");
  for (const int fd : idle) close(fd);
}

// What the control socket and the shield port keep while a peer's line comes: at most a bound,
// each until its deadline, and every one dropped is closed, whichever way it goes, down to
// those still kept at the end.
TEST(PendingConnections, EveryConnectionDroppedIsClosedWhicheverWayItGoes) {
  struct Pending {
    int fd = -1;
    std::chrono::steady_clock::time_point deadline;
  };
  const auto now = std::chrono::steady_clock::now();
  std::vector<int> peers;
  const auto open = [&](std::chrono::steady_clock::time_point deadline) {
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    peers.push_back(fds[1]);
    return Pending{fds[0], deadline};
  };
  {
    host::PendingConnections<Pending> pending(3);
    EXPECT_FALSE(pending.Keep(open(now + 1s)));
    EXPECT_FALSE(pending.Keep(open(now)));
    const Pending done = open(now + 1s);
    EXPECT_FALSE(pending.Keep(done));
    EXPECT_TRUE(pending.Keep(open(now + 1s))) << "the oldest gives way";
    EXPECT_TRUE(ClosedByServer(peers[0]));
    EXPECT_EQ(
        pending.Tend([&](const Pending &connection) { return connection.fd == done.fd; }, now), 1u)
        << "one ran out of time";
    EXPECT_EQ(pending.size(), 1u);
    EXPECT_TRUE(ClosedByServer(peers[1]));
    EXPECT_TRUE(ClosedByServer(peers[2]));
    EXPECT_FALSE(ClosedByServer(peers[3]));
  }
  EXPECT_TRUE(ClosedByServer(peers[3]));
  for (const int fd : peers) close(fd);
}

}  // namespace
