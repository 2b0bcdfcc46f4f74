#include "clsUser.h"

#include <optional>

#include "Clock.h"
#include "Convert.h"

namespace corvane {

namespace {

using common::StreamField;

constexpr common::Site kSite{"  Class: User  ", "clsUser"};
constexpr double kSessionSeconds = 300;
constexpr double kEndedSessionSeconds = 15;

// What a request's lock value asks for. Any number counts, whatever its size: one that rounds
// to 2 locks the visitor, one whose whole value is not 0 marks the hit shielded; a text that
// is no number asks for nothing.
struct LockValue {
  bool locks = false;
  bool shields = false;
};

LockValue ReadLockValue(std::string_view text) {
  if (text.size() == 1 && text[0] >= '0' && text[0] <= '9') {
    const int digit = text[0] - '0';  // what nearly every request carries
    return {digit == 2, digit != 0};
  }
  const std::optional<double> number = common::ParseNumber(text);
  if (!number) return {};
  const double whole = common::RoundHalfEven(*number);
  return {whole == 2, whole != 0};
}

}  // namespace

clsUser::clsUser(const common::StreamFields &request, StringPool &pool)
    : key_(request[StreamField::kKey]),
      serverName_(request[StreamField::kServerName]),
      hits_(pool),
      country_(request[StreamField::kCountry]),
      authUser_(request[StreamField::kAuthUser]),
      userAgent_(request[StreamField::kUserAgent]),
      resolvedAddr_(request[StreamField::kResolvedAddr]),
      remoteAddr_(request[StreamField::kRemoteAddr]),
      remoteHost_(request[StreamField::kRemoteHost]),
      localHost_(request[StreamField::kLocalHost]),
      shieldLink_(request[StreamField::kShieldLink]),
      shieldUnLink_(request[StreamField::kShieldUnLink]) {}

void clsUser::AddTransaction(const common::StreamFields &request, double serial) {
  common::Guard(kSite, "Sub: AddTransaction", [&] {
    const bool endsSession = request[StreamField::kAction] == "SESSION_END";
    expires_ =
        common::AddSeconds(common::Now(), endsSession ? kEndedSessionSeconds : kSessionSeconds);
    serverName_.assign(request[StreamField::kServerName]);
    const LockValue lock = ReadLockValue(request[StreamField::kLocked]);
    if (lock.locks) locked_ = true;
    hits_.AddHit(request, serial, lock.shields, sessionEnded_);
    sessionEnded_ = endsSession;
  });
}

}  // namespace corvane
