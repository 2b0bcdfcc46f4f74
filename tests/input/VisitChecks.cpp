#include "VisitChecks.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "support/ChildProcess.h"
#include "support/Port80.h"
#include "support/TempDir.h"

namespace input_testing {

namespace {

// "&" and '"' as the snapshot writes them.
std::string XmlText(const std::string &text) {
  std::string escaped;
  for (char c : text) {
    escaped += c == '&'   ? std::string("&amp;")
               : c == '"' ? std::string("&quot;")
                          : std::string(1, c);
  }
  return escaped;
}

// Seconds between a serial's local time and now.
double SecondsFromNow(const std::string &serial) {
  if (serial.size() != 15) return 1e9;
  auto field = [&](size_t at) { return std::atoi(serial.substr(at, 2).c_str()); };
  struct tm local {};
  local.tm_year = 100 + field(0);
  local.tm_mon = field(2) - 1;
  local.tm_mday = field(4);
  local.tm_hour = field(6);
  local.tm_min = field(8);
  local.tm_sec = field(10);
  local.tm_isdst = -1;
  return std::difftime(std::time(nullptr), std::mktime(&local));
}

}  // namespace

std::string HttpExchange(const std::string &source, int port, const std::string &request) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, source.c_str(), &address.sin_addr);
  std::string response;
  if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
      char buffer[4096];
      pollfd wait{fd, POLLIN, 0};
      for (ssize_t n; poll(&wait, 1, 5000) > 0 && (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        response.append(buffer, static_cast<size_t>(n));
      }
    }
  }
  close(fd);
  return response;
}

bool WaitForLines(const std::string &path, size_t lines, int timeoutMilliseconds) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  for (;;) {
    const std::string content = testing_support::ReadFile(path);
    if (static_cast<size_t>(std::count(content.begin(), content.end(), '\n')) >= lines) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::vector<Visit> SampleVisits() {
  return {
      {"127.0.0.11", "GET", "/shop/cart.php", "item=7&q=a%20b", "Mozilla/5.0 (FormatTest; one)",
       "http://ref.example/a?b=1", "6.6.6.6, 198.51.100.23, 10.0.0.7", "shop.example",
       "/shop/cart.php", "198.51.100.23"},
      {"127.0.0.12", "POST", "/login", "next=%2Fhome", "Agent \"quoted\" \\ back", "", "",
       "other.example", "/login", "127.0.0.12"},
      {"127.0.0.13", "HEAD", "/caf%C3%A9/x", "", "Bot/\xc3\x9c", "", "203.0.113.50", "shop.example",
       "/caf\xc3\xa9/x", "203.0.113.50"},
  };
}

std::string HttpRequest(const Visit &visit) {
  std::string request = visit.method + " " + visit.path +
                        (visit.query.empty() ? "" : "?" + visit.query) +
                        " HTTP/1.1\r\nHost: " + visit.host + "\r\nUser-Agent: " + visit.agent +
                        "\r\nConnection: close\r\n";
  if (!visit.referrer.empty()) request += "Referer: " + visit.referrer + "\r\n";
  if (!visit.forwarded.empty()) request += "X-Forwarded-For: " + visit.forwarded + "\r\n";
  if (visit.method == "POST") request += "Content-Length: 0\r\n";
  return request + "\r\n";
}

Replay RunReplay(const std::string &format, const std::string &log, const std::string &outDir) {
  Replay replay;
  {
    testing_support::Port80 port80;  // a replay listens on port 80: its turn
    replay.status = testing_support::RunProgram(
        {FLOWDECK_BIN, "replay", "--quiet", "--out", outDir, "--plugin", FLOWDECK_PLUGIN_DIR,
         "--tripwires", FLOWDECK_EXAMPLES "/tripwires.cfg", "--log-format", format, log},
        replay.output);
  }
  replay.hits = testing_support::ReadLines(outDir + "/KvCorvaneHits.Out");
  replay.snapshot = testing_support::ReadFile(outDir + "/KvCorvane.xml");
  return replay;
}

void ExpectShown(const Visit &visit, const Replay &replay, const std::string &server,
                 const std::string &port) {
  // Action, serial, key, country, resolved, remote, remote host, user, path, physical path,
  // query, server, port, agent, local host.
  const std::string &a = visit.source;
  const std::string tail = a + "^^" + a + "^" + a + "^" + a + "^^" + visit.shownPath +
                           "^/var/www/html" + visit.shownPath + "^" + visit.query + "^" + server +
                           "^" + port + "^" + visit.agent + "^" + server;
  const std::string *found = nullptr;
  for (const std::string &line : replay.hits) {
    if (line.starts_with("^" + visit.method + "^") && line.ends_with("^" + tail)) found = &line;
  }
  ASSERT_NE(found, nullptr) << "no hit ending ^" << tail << "\nin:\n"
                            << testing::PrintToString(replay.hits);
  const std::string serial = found->substr(visit.method.size() + 2, 15);
  EXPECT_LT(std::abs(SecondsFromNow(serial)), 120) << *found;

  const std::string user = "REMADR=\"" + a + "\"";
  const size_t remote = replay.snapshot.find(user);
  ASSERT_NE(remote, std::string::npos) << replay.snapshot;
  const size_t at = replay.snapshot.rfind("<USER ", remote);
  const size_t end = replay.snapshot.find("</USER>", at);
  const std::string visitor = replay.snapshot.substr(at, end - at);
  EXPECT_NE(visitor.find("AGNT=\"" + XmlText(visit.agent) + "\""), std::string::npos) << visitor;
  EXPECT_NE(visitor.find("SVR=\"" + server + "\""), std::string::npos) << visitor;
  const std::string hit = "ACT=\"" + visit.method + "\" PTHIN=\"" + visit.shownPath +
                          "\" PTHTR=\"/var/www/html" + visit.shownPath + "\" QSTR=\"" +
                          XmlText(visit.query) + "\" PORT=\"" + port + "\" ARRV=\"" +
                          std::to_string(std::atoll(serial.c_str())) + "\"";
  EXPECT_NE(visitor.find(hit), std::string::npos) << hit << "\nin\n" << visitor;
}

}  // namespace input_testing
