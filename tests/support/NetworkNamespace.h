#pragma once

#include <string>

namespace testing_support {

// Runs the current test a second time, in a network namespace of its own (`unshare -n`, or
// `unshare -rn` where only user namespaces are allowed), so that it can change firewall rules
// and addresses without touching the machine's. The test body checks Inside() first:
//
//   if (!NetworkNamespace::Inside()) {
//     NetworkNamespace::Outcome outcome = NetworkNamespace::RunCurrentTest();
//     if (!outcome.available) GTEST_SKIP() << outcome.output;
//     EXPECT_TRUE(outcome.passed) << outcome.output;
//     return;
//   }
//   ... the test, with the loopback interface up ...
class NetworkNamespace {
 public:
  struct Outcome {
    bool available = false;  // a namespace could be made
    bool passed = false;
    std::string output;  // what the inner run printed, or why no namespace could be made
  };

  // True in the inner run; it also brings the namespace's loopback interface up.
  static bool Inside();
  static Outcome RunCurrentTest();
};

}  // namespace testing_support
