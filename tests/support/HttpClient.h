#pragma once

#include <string>

namespace testing_support {

struct HttpResponse {
  int status = 0;  // 0 when there was no answer
  std::string body;
  std::string headers;  // the header lines as they came, "Name: value\r\n" each
  std::string problem;  // why there was no answer
};

// One HTTP/1.0 GET from a chosen loopback source address (127.0.0.66 is a visitor of its own),
// with the Host header given and the target sent exactly as written (percent-encoding kept).
HttpResponse HttpGet(const std::string &source, int port, const std::string &host,
                     const std::string &target, int timeoutMilliseconds = 5000);

// What a visitor sees of a page: the body of a 200 answer, else the status and the problem, so
// that a test's message says what came instead.
std::string PageSeen(const std::string &source, int port, const std::string &host,
                     const std::string &target);

// Whether a TCP connection from `source` to `address`:`port` is accepted within the time.
bool CanConnect(const std::string &source, const std::string &address, int port,
                int timeoutMilliseconds);

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeLoopbackPort();

}  // namespace testing_support
