#include "base/Error.h"

#include <utility>

namespace host {

namespace {

std::string Joined(const std::string &subject, const std::string &cause) {
  return subject.empty() ? cause : subject + ": " + cause;
}

}  // namespace

Error::Error(std::string subject, std::string cause)
    : std::runtime_error("flowdeck failed"),
      subject_(std::move(subject)),
      cause_(std::move(cause)),
      text_(Joined(subject_, cause_)) {}

void Error::Within(std::string_view context) {
  if (context.empty()) return;
  subject_ = subject_.empty() ? std::string(context) : std::string(context) + ": " + subject_;
  text_ = Joined(subject_, cause_);
}

Error Error::Setting(std::string_view key, std::string_view value, std::string cause) {
  return Error(std::string(key) + " = '" + std::string(value) + "'", std::move(cause));
}

}  // namespace host
