#include "support/NetworkNamespace.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "support/ChildProcess.h"

namespace testing_support {

namespace {

const char *kInsideVariable = "FLOWDECK_TEST_IN_NETNS";

bool BringLoopbackUp() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  close(fd);
  return up;
}

std::string OwnPath() {
  char path[4096];
  ssize_t size = readlink("/proc/self/exe", path, sizeof path - 1);
  return size > 0 ? std::string(path, static_cast<size_t>(size)) : "";
}

}  // namespace

bool NetworkNamespace::Inside() {
  const char *inside = std::getenv(kInsideVariable);
  if (inside == nullptr || std::string(inside) != "1") return false;
  if (!BringLoopbackUp()) ADD_FAILURE() << "cannot bring the namespace's loopback up";
  return true;
}

NetworkNamespace::Outcome NetworkNamespace::RunCurrentTest() {
  Outcome outcome;
  std::string output;
  std::vector<std::string> unshare;
  for (const char *flags : {"-n", "-rn"}) {
    if (RunProgram({"unshare", flags, "true"}, output, 30) == 0) {
      unshare = {"unshare", flags, "--"};
      break;
    }
  }
  if (unshare.empty()) {
    outcome.output = "no network namespace can be made here (unshare -n: " + output + ")";
    return outcome;
  }
  outcome.available = true;
  const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::vector<std::string> argv = unshare;
  argv.push_back(OwnPath());
  argv.push_back(std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name());
  const int status = RunProgram(argv, outcome.output, 240, {std::string(kInsideVariable) + "=1"});
  outcome.passed = status == 0 && outcome.output.find("[  PASSED  ] 1 test") != std::string::npos;
  return outcome;
}

}  // namespace testing_support
