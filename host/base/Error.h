#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace host {

// The one way the host fails: what failed (a file, a setting, an address, a socket) and why.
// The person reads "subject: cause", the subject grown in front by each caller that knows more
// of where ("flowdeck.conf:12: LogFormat = 'x': ..."). Kinds of it (UsageError) exist only
// where a caller must tell them apart.
class Error : public std::runtime_error {
 public:
  // An empty subject leaves the cause alone: a failure that belongs to no one thing.
  Error(std::string subject, std::string cause);

  const std::string &Subject() const noexcept { return subject_; }
  const std::string &Cause() const noexcept { return cause_; }
  const char *what() const noexcept override { return text_.c_str(); }

  // Puts where the failure was found in front of the subject: "context: subject".
  void Within(std::string_view context);

  // A setting whose value cannot be used: "Key = 'value': problem".
  static Error Setting(std::string_view key, std::string_view value, std::string cause);

 private:
  std::string subject_, cause_, text_;
};

// Runs body; an Error leaving it is put within `context` and goes on as the kind it was.
template <class Body>
decltype(auto) Within(std::string_view context, Body &&body) {
  try {
    return body();
  } catch (Error &error) {
    error.Within(context);
    throw;
  }
}

}  // namespace host
