#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace shield_testing {

// Looks every 20 ms until `condition` holds, for at most `seconds`.
bool WaitUntil(const std::function<bool()> &condition, double seconds);

// A Combined log line stamped now, as a web server writes one for a request of `address`.
std::string LogLine(const std::string &address, const std::string &target);
void AppendTo(const std::string &path, const std::string &text);
// The lines of a file, each without its "\n".
std::vector<std::string> LinesOf(const std::string &path);

// The target of a shield request as the shield plug-in sends it, every value percent-encoded.
std::string ShieldRequestTarget(const std::string &address, const std::string &host,
                                const std::string &resource, const std::string &deflect);

// The flowdeck command the tests run.
std::string FlowdeckBinary();

// The Server of every flowdeck the tests run: it listens on port 80 of this loopback address,
// where no flowdeck run by anything else on the machine (which listens on 127.0.0.1) sends its
// plug-in's shield requests, nor takes ours.
constexpr const char *kShieldServer = "127.0.0.2";

// Sends a shield request to flowdeck's listener, port 80 of kShieldServer, as the shield
// plug-in does: the request, then the connection closed without waiting for an answer.
bool SendShieldRequest(const std::string &target);

// `flowdeck follow` run by a test as a service runs it, from a directory of the test's own: its
// settings in flowdeck.conf there, its run directory out/, everything it prints appended to
// output. Started again on the same directory, it carries on from the run before.
class FollowProcess {
 public:
  // `settings` are the lines of flowdeck.conf (after "Server = " kShieldServer), `logs` the
  // logs it follows.
  FollowProcess(std::string dir, std::string settings, std::vector<std::string> logs,
                std::vector<std::string> options = {"--cycle", "1"});
  ~FollowProcess();
  FollowProcess(const FollowProcess &) = delete;
  FollowProcess &operator=(const FollowProcess &) = delete;

  // Starts it and waits until it has opened its logs, so that lines appended from then on are
  // its to read; false when it did not come up (Output() says why).
  bool Start();
  // Ends it with SIGTERM, as a service manager does; true when it exited with status 0.
  bool Stop();
  // Writes flowdeck.conf anew with `settings` (as the constructor does) and sends SIGHUP, as
  // `systemctl reload` does; false when it does not run.
  bool Reload(const std::string &settings);

  // Its --out, the DIR an operator names to the steering commands.
  std::string RunDirectory() const { return dir_ + "/out"; }
  // Runs `flowdeck VERB RunDirectory() ARGS...` (`words` = VERB ARGS...) to its end; returns
  // its exit status (-1 when it did not exit), with what it wrote (both streams) in `output`
  // and, when given, the time from its start to its end in `seconds`.
  int Steer(const std::vector<std::string> &words, std::string &output,
            double *seconds = nullptr) const;

  std::string Output() const;
  std::string OutFile(const std::string &name) const { return dir_ + "/out/" + name; }
  // The shield events so far (flowdeck-shields.log).
  std::string Events() const;
  // The lock the monitor's latest snapshot shows for the address: "True", "False", or "" when
  // the snapshot does not hold it.
  std::string Locked(const std::string &address) const;
  // The figure of a metric in the metrics flowdeck wrote after its latest cycle; -1 when absent.
  double Metric(const std::string &name) const;
  // A shield request's target (ShieldRequestTarget) with the key of the running flowdeck's
  // shield route, as its shield plug-in sends it. The key is read where the operator can read
  // it, the plug-in's trace: the settings must hold "Trace = True". Empty when it is not there.
  std::string Keyed(const std::string &target) const;

 private:
  std::string dir_;
  std::vector<std::string> logs_, options_;
  std::unique_ptr<testing_support::ChildProcess> process_;
};

}  // namespace shield_testing
